// The font database: what a synchronisation writes, which files it takes,
// every refusal of openDatabase, the bounded walk over damaged files and
// readers that open the database while another process rebuilds it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "database/database.h"
#include "server/settings.h"
#include "support/paths.h"
#include "support/process.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes operator+(Bytes a, std::string_view b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes header(const char* magic)
{
    return Bytes{} + std::string_view(magic, 8) + Bytes{0x02, 0x01, 0, 0, 0, 0, 0, 0};
}

struct Output {
    int result;
    std::string out;
    std::string err;
};

// Runs body in-process with standard output and error captured.
Output captured(const std::function<int()>& body)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int result = body();
    std::fflush(stdout);
    Output output{result, testing::internal::GetCapturedStdout(), ""};
    output.err = testing::internal::GetCapturedStderr();
    return output;
}

// Runs body in a child process (for limits and user changes that must not
// touch the test process) and returns its result, -1 included.
int inChild(const std::function<int()>& body)
{
    std::fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        int result = body();
        std::fflush(nullptr);
        _exit(result & 0xFF);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status))
        return -1000;
    int code = WEXITSTATUS(status);
    return code == 255 ? -1 : code;
}

class DatabaseTest : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/brassel-db-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        temp = pattern;
        cache = temp + "/cache";
        fs::create_directory(cache);
        useDirectories(fixturePath("db_one"), cache);
    }
    void TearDown() override
    {
        releaseDatabase();
        settings = ServerSettings{};
        std::error_code ignored;
        fs::permissions(cache, fs::perms::all, ignored);
        fs::remove_all(temp, ignored);
    }
    void useDirectories(const std::string& fonts, const std::string& cacheDirectory)
    {
        fontDirectory = fonts;
        cacheDirectoryText = cacheDirectory;
        settings.fontDirectory = fontDirectory.c_str();
        settings.cacheDirectory = cacheDirectoryText.c_str();
    }
    Output sync(bool gslist = false)
    {
        return captured([&] { return syncDatabase(gslist); });
    }
    Output open()
    {
        releaseDatabase();
        return captured([] { return openDatabase(); });
    }
    std::vector<DatabaseEntry> entries()
    {
        std::vector<DatabaseEntry> all;
        DatabaseWalk walk;
        DatabaseEntry entry;
        while (walk.next(entry))
            all.push_back(entry);
        return all;
    }
    std::string infoPath() const { return cache + "/ttinfo.dir"; }
    std::string namePath() const { return cache + "/ttname.dir"; }

    std::string temp, cache, fontDirectory, cacheDirectoryText;
};

const Bytes ARIAL_PANOSE{0x02, 0x0B, 0x06, 0x04, 0x02, 0x02, 0x02, 0x02, 0x02, 0x04};

TEST_F(DatabaseTest, OneFontGivesTheDocumentedBytes)
{
    Output output = sync();
    EXPECT_EQ(output.result, 1);
    EXPECT_EQ(output.out, "brassel: info: Sync in directory \"" + fontDirectory + "/.\".\n"
                          "brassel: info: Found 1 fonts.\n");
    EXPECT_EQ(output.err, "");

    const std::string stem = "-ttf-arial-medium-r-normal-regular-";
    Bytes record{16, 0, 0, 0, 5, 11, static_cast<uint8_t>(stem.size()), 0, 85, 0};
    EXPECT_EQ(readBytes(infoPath()), header("TTFNINFO") + record + ARIAL_PANOSE);
    Bytes names = header("TTFNNAME") + std::string_view("Arial\0./arial.ttf\0", 18) + stem + Bytes{0};
    EXPECT_EQ(readBytes(namePath()), names);
    EXPECT_EQ(readBytes(infoPath()).size(), 36u);
}

TEST_F(DatabaseTest, SyncTakesTtfFilesOneLevelDeepInListingOrder)
{
    useDirectories(fixturePath("db_scan"), cache);
    Output output = sync();
    EXPECT_EQ(output.result, 6);
    EXPECT_NE(output.out.find("Sync in directory \"" + fontDirectory + "/sub\"."), std::string::npos);
    EXPECT_NE(output.out.find("Found 6 fonts."), std::string::npos);
    EXPECT_EQ(output.err, "");

    ASSERT_EQ(open().result, 1);
    std::map<std::string, std::string> stemByPath;
    std::vector<std::string> order;
    for (const DatabaseEntry& entry : entries()) {
        stemByPath[std::string(entry.names.path)] = std::string(entry.names.stem);
        order.emplace_back(entry.names.path);
    }
    // Case-insensitive ending, a link under its own name; not ".ttf" alone,
    // other endings, a directory named d.ttf, broken files, deeper levels or
    // dot-directories.
    std::map<std::string, std::string> expected{
        {"./a.ttf", "-ttf-alpha-medium-r-normal-regular-"},
        {"./B.TTF", "-ttf-beta-medium-r-normal-regular-"},
        {"./c.TtF", "-ttf-gamma-medium-r-normal-regular-"},
        {"./link.ttf", "-ttf-linked-medium-r-normal-regular-"},
        {"sub/e.ttf", "-sub-epsilon-medium-r-normal-regular-"},
        {"Fonts-Extra/h.ttf", "-fonts-extra-eta-medium-r-normal-regular-"},
    };
    EXPECT_EQ(stemByPath, expected);
    // The font directory's own files come before any subdirectory's.
    auto firstSub = std::find_if(order.begin(), order.end(), [](const std::string& p) { return p[0] != '.'; });
    EXPECT_TRUE(std::all_of(firstSub, order.end(), [](const std::string& p) { return p[0] != '.'; }));
}

TEST_F(DatabaseTest, RecordsFollowTheNamingAndLengthRules)
{
    useDirectories(fixturePath("db_records"), cache);
    EXPECT_EQ(sync().result, 5);  // the long stem and the long path are left out
    ASSERT_EQ(open().result, 1);

    std::map<std::string, DatabaseEntry> byPath;
    for (const DatabaseEntry& entry : entries())
        byPath[std::string(entry.names.path)] = entry;
    ASSERT_EQ(byPath.size(), 5u);

    EXPECT_EQ(byPath["./unnamed.ttf"].names.name, "Unknown");
    EXPECT_EQ(byPath["./unnamed.ttf"].names.stem, "-ttf-unknown-medium-r-normal-tt-");
    EXPECT_EQ(byPath["./longname.ttf"].names.name, std::string(32, 'L'));
    EXPECT_EQ(byPath["./name32.ttf"].names.name, std::string(32, 'N'));
    const DatabaseEntry& noOs2 = byPath["./noos2.ttf"];
    EXPECT_EQ(Bytes(noOs2.info.panose, noOs2.info.panose + 10), Bytes(10, 0));
    EXPECT_EQ(noOs2.names.stem, "-ttf-noos2-bold-i-normal-tt-");
    EXPECT_EQ(byPath["./mono.ttf"].info.panose[3], 9);
    EXPECT_EQ(byPath["./mono.ttf"].names.stem, "-ttf-mono type-bold-i-normal-bold italic-");

    // Every record's lengths describe its block, and the blocks follow each
    // other without gaps from offset 16 to the end of ttname.dir.
    int32_t offset = 16;
    for (const DatabaseEntry& entry : entries()) {
        EXPECT_EQ(entry.info.nameOffset, offset);
        EXPECT_EQ(entry.info.marker, 85);
        EXPECT_EQ(entry.info.nameLen, entry.names.name.size());
        EXPECT_EQ(entry.info.pathLen, entry.names.path.size());
        EXPECT_EQ(entry.info.xlfdLen, entry.names.stem.size());
        offset += entry.info.nameLen + entry.info.pathLen + entry.info.xlfdLen + 3;
    }
    EXPECT_EQ(static_cast<uint32_t>(offset), fontDatabase.nameSize);
}

TEST_F(DatabaseTest, GslistPrintsOneMapLineForEachFont)
{
    useDirectories(fixturePath("db_records"), cache);
    Output output = sync(true);
    EXPECT_EQ(output.result, 5);
    EXPECT_EQ(output.err, "");
    std::set<std::string> lines;
    std::istringstream in(output.out);
    for (std::string line; std::getline(in, line);)
        lines.insert(line);
    const std::string dir = fontDirectory;
    std::set<std::string> expected{
        "(NoOS2)\t(" + dir + "/./noos2.ttf)\t;",
        "(Unknown)\t(" + dir + "/./unnamed.ttf)\t;",
        "(" + std::string(32, 'L') + ")\t(" + dir + "/./longname.ttf)\t;",
        "(" + std::string(32, 'N') + ")\t(" + dir + "/./name32.ttf)\t;",
        "(Mono)\t(" + dir + "/./mono.ttf)\t;",
    };
    EXPECT_EQ(lines, expected);
}

TEST_F(DatabaseTest, GslistOptionPrintsOnlyTheMapAndExitsZero)
{
    CommandResult result = runBrassel({"--gslist", "--dir", fontDirectory, "--cache", cache});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "(Arial)\t(" + fontDirectory + "/./arial.ttf)\t;\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(readBytes(infoPath()).size(), 36u);
}

TEST_F(DatabaseTest, BrokenFontsOnlyGiveHeaderFilesThatDoNotOpen)
{
    useDirectories(fixturePath("db_broken"), cache);
    for (bool gslist : {false, true}) {
        Output output = sync(gslist);
        EXPECT_EQ(output.result, 0);
        EXPECT_EQ(output.err, "brassel: error: no valid truetype fonts found!\n");
        std::string please = "brassel: info: Please put some *.ttf fonts into \"" + fontDirectory + "\".\n";
        EXPECT_EQ(output.out, gslist ? please : "brassel: info: Sync in directory \"" + fontDirectory + "/.\".\n" + please);
        EXPECT_EQ(readBytes(infoPath()), header("TTFNINFO"));
        EXPECT_EQ(readBytes(namePath()), header("TTFNNAME"));
    }
    Output opened = open();
    EXPECT_EQ(opened.result, 0);
    EXPECT_EQ(opened.err, "brassel: error: corrupt font database!\n");
}

TEST_F(DatabaseTest, SyncRefusalsLeaveTheDatabaseAlone)
{
    ASSERT_EQ(sync().result, 1);
    const Bytes info = readBytes(infoPath());
    const Bytes names = readBytes(namePath());
    const std::string file = temp + "/plain";
    writeBytes(file, {1});

    struct Case {
        std::string fonts, cacheDirectory, message;
    } cases[] = {
        {temp + "/none", cache, "directory \"" + temp + "/none\" does not exist!"},
        {fontDirectory, temp + "/none", "directory \"" + temp + "/none\" does not exist!"},
        {fontDirectory, file, "\"" + file + "\" is not a directory!"},
    };
    for (const Case& c : cases) {
        useDirectories(c.fonts, c.cacheDirectory);
        Output output = sync();
        EXPECT_EQ(output.result, -1) << c.message;
        EXPECT_EQ(output.err, "brassel: error: " + c.message + "\n");
    }
    EXPECT_EQ(readBytes(infoPath()), info);
    EXPECT_EQ(readBytes(namePath()), names);
}

TEST_F(DatabaseTest, UnwritableCacheKeepsThePreviousDatabase)
{
    ASSERT_EQ(sync().result, 1);
    const Bytes info = readBytes(infoPath());
    // A user that may not write the cache directory.
    fs::permissions(temp, fs::perms::all);
    fs::permissions(cache, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read
                               | fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    useDirectories(fixturePath("db_scan"), cache);
    int result = inChild([] {
        if (geteuid() == 0 && setuid(65534) != 0)
            return 100;
        testing::internal::CaptureStderr();
        int synced = syncDatabase(false);
        std::string err = testing::internal::GetCapturedStderr();
        if (err != "brassel: error: cannot write to font database!\n")
            return 101;
        return synced;
    });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(readBytes(infoPath()), info);
    EXPECT_EQ(std::distance(fs::directory_iterator(cache), fs::directory_iterator()), 2);
    EXPECT_EQ(open().result, 1);
}

TEST_F(DatabaseTest, WriteFailureKeepsThePreviousDatabase)
{
    ASSERT_EQ(sync().result, 1);
    const Bytes info = readBytes(infoPath());
    const Bytes names = readBytes(namePath());
    useDirectories(fixturePath("db_scan"), cache);
    // The files of db_scan do not fit in 100 bytes: a write fails as on a
    // full disk.
    int result = inChild([] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit{100, 100};
        setrlimit(RLIMIT_FSIZE, &limit);
        testing::internal::CaptureStderr();
        int synced = syncDatabase(false);
        std::string err = testing::internal::GetCapturedStderr();
        if (err != "brassel: error: cannot write to font database!\n")
            return 101;
        return synced;
    });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(readBytes(infoPath()), info);
    EXPECT_EQ(readBytes(namePath()), names);
    EXPECT_EQ(std::distance(fs::directory_iterator(cache), fs::directory_iterator()), 2);
}

TEST_F(DatabaseTest, OpenChecksHeadersWithTheirMessages)
{
    ASSERT_EQ(sync().result, 1);
    const Bytes info = readBytes(infoPath());
    const Bytes names = readBytes(namePath());
    auto patched = [](Bytes bytes, size_t at, Bytes with) {
        std::copy(with.begin(), with.end(), bytes.begin() + at);
        return bytes;
    };
    const Bytes empty;

    struct Case {
        const char* what;
        Bytes info;
        Bytes names;
        int result;
        const char* message;
        bool infoMapped, nameMapped;
    } cases[] = {
        {"good", info, names, 1, "", true, true},
        {"reserved bytes set", patched(info, 10, {1, 2, 3, 4, 5, 6}), names, 1, "", true, true},
        {"info header only", header("TTFNINFO"), names, 0, "corrupt font database!", true, false},
        {"info empty", empty, names, 0, "cannot mmap font database!", false, false},
        {"files swapped", names, info, 0, "corrupt font database!", true, false},
        {"info version 0x0103", patched(info, 8, {0x03, 0x01}), names, 0, "wrong font database version!", true, false},
        {"name header only", info, header("TTFNNAME"), 0, "corrupt font database!", true, true},
        {"name magic", info, patched(names, 4, {'I'}), 0, "corrupt font database!", true, true},
        {"name version", info, patched(names, 9, {0x02}), 0, "wrong font database version!", true, true},
        // Pairs from different synchronisations: the name blocks no longer
        // follow each other up to the end of ttname.dir.
        {"names of a longer database", info, names + std::string_view("Other\0./other.ttf\0-ttf-other-\0", 31), 0,
         "corrupt font database!", true, true},
        {"names of a shorter database", info, Bytes(names.begin(), names.end() - 1), 0, "corrupt font database!",
         true, true},
        {"record off the chain", patched(info, 16, {17}), names, 0, "corrupt font database!", true, true},
        {"partial record", info + Bytes(7, 0), names, 0, "corrupt font database!", true, true},
    };
    for (const Case& c : cases) {
        writeBytes(infoPath(), c.info);
        writeBytes(namePath(), c.names);
        Output output = open();
        EXPECT_EQ(output.result, c.result) << c.what;
        EXPECT_EQ(output.err, *c.message ? std::string("brassel: error: ") + c.message + "\n" : "") << c.what;
        EXPECT_EQ(fontDatabase.infoSize != 0, c.infoMapped) << c.what;
        EXPECT_EQ(fontDatabase.nameSize != 0, c.nameMapped) << c.what;
    }

    struct Missing {
        const char* what;
        std::function<void()> arrange;
        const char* message;
        bool infoMapped;
    } missing[] = {
        {"no ttname.dir", [&] { fs::remove(namePath()); }, "cannot open font database!", true},
        {"no ttinfo.dir", [&] { fs::remove(infoPath()); }, "cannot open font database!", false},
        {"ttinfo.dir a directory", [&] { fs::create_directory(infoPath()); }, "cannot mmap font database!", false},
    };
    writeBytes(infoPath(), info);
    for (const Missing& m : missing) {
        m.arrange();
        Output output = open();
        EXPECT_EQ(output.result, 0) << m.what;
        EXPECT_EQ(output.err, std::string("brassel: error: ") + m.message + "\n") << m.what;
        EXPECT_EQ(fontDatabase.infoSize != 0, m.infoMapped) << m.what;
    }

    for (auto [fonts, cacheDirectory] : {std::pair{temp + "/none", cache}, std::pair{fontDirectory, temp + "/none"}}) {
        useDirectories(fonts, cacheDirectory);
        Output output = open();
        EXPECT_EQ(output.result, 0);
        EXPECT_EQ(output.err, "brassel: error: directory \"" + temp + "/none\" does not exist!\n");
    }
}

// A database in exactly sized heap blocks, so that the sanitizer build
// reports any read past either end.
struct HeapDatabase {
    Bytes info, names;
    FontDatabase database() const
    {
        return FontDatabase{info.data(), static_cast<uint32_t>(info.size()), names.data(),
                            static_cast<uint32_t>(names.size())};
    }
};

Bytes record(int32_t offset, uint8_t nameLen, uint8_t pathLen, uint8_t xlfdLen)
{
    Bytes bytes(20, 0);
    std::memcpy(bytes.data(), &offset, 4);
    bytes[4] = nameLen;
    bytes[5] = pathLen;
    bytes[6] = xlfdLen;
    bytes[8] = 85;
    return bytes;
}

TEST(DatabaseWalk, NeverReadsPastDamagedFiles)
{
    // Two intact blocks: "A", "./a.ttf", "-s-" at 16 and "B", "./b.ttf",
    // "-t-" at 30.
    const Bytes names = header("TTFNNAME") + std::string_view("A\0./a.ttf\0-s-\0B\0./b.ttf\0-t-\0", 28);
    const Bytes good = record(16, 1, 7, 3);
    const Bytes second = record(30, 1, 7, 3);

    struct Case {
        const char* what;
        Bytes info;
        Bytes names;
        std::vector<std::string> paths;
    } cases[] = {
        {"intact", header("TTFNINFO") + good + second, names, {"./a.ttf", "./b.ttf"}},
        {"trailing partial record", header("TTFNINFO") + good + Bytes(second.begin(), second.begin() + 7), names, {"./a.ttf"}},
        {"info shorter than header", Bytes{'T', 'T'}, names, {}},
        {"negative offset", header("TTFNINFO") + record(-4, 1, 7, 3) + second, names, {"./b.ttf"}},
        {"offset past the end", header("TTFNINFO") + record(4000, 1, 7, 3) + second, names, {"./b.ttf"}},
        {"lengths past the end", header("TTFNINFO") + good + record(30, 255, 255, 255), names, {"./a.ttf"}},
        {"offset near INT32_MAX", header("TTFNINFO") + record(INT32_MAX, 255, 255, 255) + good, names, {"./a.ttf"}},
        {"lengths disagree with the zeros", header("TTFNINFO") + record(16, 2, 7, 3) + second, names, {"./b.ttf"}},
        {"block ends on the last byte", header("TTFNINFO") + second, Bytes(names.begin(), names.end() - 1), {}},
        {"no names file", header("TTFNINFO") + good, {}, {}},
    };
    for (const Case& c : cases) {
        HeapDatabase heap{c.info, c.names};
        FontDatabase database = heap.database();
        if (c.names.empty())
            database.nameMap = nullptr;
        DatabaseWalk walk(database);
        DatabaseEntry entry;
        std::vector<std::string> paths;
        while (walk.next(entry))
            paths.emplace_back(entry.names.path);
        EXPECT_EQ(paths, c.paths) << c.what;
    }
}

TEST_F(DatabaseTest, ReadersAlwaysSeeACompleteDatabaseDuringRebuilds)
{
    useDirectories(fixturePath("db_scan"), cache);
    ASSERT_EQ(sync().result, 6);
    // Another process alternates between two font directories, so readers
    // that paired files of different rebuilds would notice.
    const std::string one = fixturePath("db_one");
    const std::string scan = fontDirectory;
    pid_t writer = fork();
    if (writer == 0) {
        freopen("/dev/null", "w", stdout);
        for (int i = 0; i < 150; i++) {
            settings.fontDirectory = (i % 2 ? scan : one).c_str();
            syncDatabase(false);
        }
        _exit(0);
    }
    std::set<size_t> seen;
    int checks = 0;
    for (; checks < 100000; checks++) {
        releaseDatabase();
        testing::internal::CaptureStderr();
        int opened = openDatabase();
        std::string err = testing::internal::GetCapturedStderr();
        ASSERT_EQ(opened, 1) << err;
        std::vector<DatabaseEntry> all = entries();
        ASSERT_TRUE(all.size() == 1 || all.size() == 6) << all.size();
        int32_t offset = 16;
        for (const DatabaseEntry& entry : all) {
            ASSERT_EQ(entry.info.nameOffset, offset);
            offset += entry.info.nameLen + entry.info.pathLen + entry.info.xlfdLen + 3;
        }
        ASSERT_EQ(static_cast<uint32_t>(offset), fontDatabase.nameSize);
        seen.insert(all.size());
        if (waitpid(writer, nullptr, WNOHANG) == writer) {
            writer = 0;
            break;
        }
    }
    if (writer)
        waitpid(writer, nullptr, 0);
    EXPECT_EQ(seen.size(), 2u) << "the readers never ran during a rebuild (" << checks << " checks)";
}

// Leftover temporary files of a writer that was killed: those of processes
// that no longer exist are removed by the next synchronisation, those of a
// living process and other names stay.
TEST(DatabaseFiles, SyncRemovesTemporariesOfEndedProcesses)
{
    SKIP_WITHOUT_DATABASE();
    TempDir cache;
    const pid_t ended = fork();
    if (ended == 0)
        _exit(0);
    waitpid(ended, nullptr, 0);
    const std::string dead = std::to_string(ended), alive = std::to_string(getpid());
    const std::vector<std::string> removed = {"ttinfo.dir.new." + dead, "ttname.dir.new." + dead};
    const std::vector<std::string> kept = {"ttinfo.dir.new." + alive, "ttname.dir.new.1x", "ttinfo.dir.new.",
                                           "fonts.dir.new." + dead, "ttname.dir.old." + dead};
    for (const auto& names : {removed, kept})
        for (const std::string& name : names)
            writeFile(cache.file(name), "left over");
    const CommandResult sync = runBrassel({"--sync", "--dir", fixturePath("one_font"), "--cache", cache.path()});
    ASSERT_EQ(sync.status, 0) << sync.err;
    for (const std::string& name : removed)
        EXPECT_FALSE(fs::exists(cache.file(name))) << name;
    for (const std::string& name : kept)
        EXPECT_TRUE(fs::exists(cache.file(name))) << name;
}

// A synchronisation killed between its two renames leaves the new
// ttname.dir beside the old ttinfo.dir (and the new one under its temporary
// name). The server must not serve that pair: it finds it corrupt, rebuilds
// the database and lists every font, as a server started on a whole
// database does.
TEST(DatabaseFiles, SyncKilledBetweenItsRenamesIsRebuiltAtStart)
{
    SKIP_WITHOUT_DATABASE();
    if (runCommand({"strace", "-V"}).status != 0)
        GTEST_SKIP() << "strace is not installed (tools/install_deps.sh)";
    TempDir scratch;
    const std::string fonts = scratch.file("fonts"), cache = scratch.file("cache"), whole = scratch.file("whole");
    for (const std::string& directory : {fonts, cache, whole})
        fs::create_directories(directory);
    auto linkFonts = [&](const std::string& from) {
        for (const auto& entry : fs::directory_iterator(from))
            if (entry.path().extension() == ".ttf")
                fs::create_symlink(entry.path(), fonts + "/" + entry.path().filename().string());
    };
    linkFonts("/usr/share/fonts/truetype/dejavu");
    ASSERT_EQ(runBrassel({"--sync", "--dir", fonts, "--cache", cache}).status, 0);
    linkFonts("/usr/share/fonts/truetype/liberation");
    const CommandResult killed = runCommand({"strace", "-f", "-o", "/dev/null", "-e",
                                             "inject=rename:signal=SIGKILL:when=2", brasselBinary(), "--sync",
                                             "--dir", fonts, "--cache", cache});
    ASSERT_NE(killed.status, 0) << killed.out << killed.err;
    size_t leftovers = 0;
    for (const auto& entry : fs::directory_iterator(cache))
        leftovers += entry.path().filename().string().rfind("ttinfo.dir.new.", 0) == 0;
    ASSERT_EQ(leftovers, 1u);

    auto listed = [&](const std::string& cacheDirectory, std::string& messages) {
        ServerProcess server;
        if (!server.start({"--dir", fonts, "--cache", cacheDirectory}) || !server.waitListening())
            return std::string("server did not start: ") + server.err();
        const CommandResult list =
            runCommand({"fslsfonts", "-server", "tcp/localhost:" + std::to_string(server.port()), "*"});
        messages = server.err();
        return list.out;
    };
    std::string messages, wholeMessages;
    const std::string afterKill = listed(cache, messages);
    const std::string expected = listed(whole, wholeMessages);
    EXPECT_NE(messages.find("brassel: error: corrupt font database!\n"), std::string::npos) << messages;
    EXPECT_NE(messages.find("trying to regenerate it"), std::string::npos) << messages;
    EXPECT_EQ(afterKill, expected);
    EXPECT_NE(expected.find("-liberation sans-"), std::string::npos) << expected;
    for (const auto& entry : fs::directory_iterator(cache))
        EXPECT_EQ(entry.path().filename().string().find(".new."), std::string::npos) << entry.path();
}

}  // namespace
