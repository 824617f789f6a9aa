// What `cmake --install` puts on a machine and how it is meant to run: the
// installed tree, the man page against the server's own --help, the systemd
// units as systemd reads them, and the socket-activated command line
// serving real clients.
#include "support/paths.h"
#include "support/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Every file below root, as paths relative to it.
std::set<std::string> filesBelow(const std::string& root)
{
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (!entry.is_directory())
            files.insert(fs::relative(entry.path(), root).string());
    return files;
}

// Installs this build with `prefix`, below `destdir` when it is not empty.
CommandResult install(const std::string& prefix, const std::string& destdir = "")
{
    std::vector<std::string> command = {"env"};
    if (!destdir.empty())
        command.push_back("DESTDIR=" + destdir);
    for (const char* word : {"cmake", "--install", BUILD_DIR, "--prefix"})
        command.push_back(word);
    command.push_back(prefix);
    return runCommand(command, "", 120);
}

// The value of the first "key=" line of a unit file.
std::string unitSetting(const std::string& unit, const std::string& key)
{
    std::istringstream lines(unit);
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind(key + "=", 0) == 0)
            return line.substr(key.size() + 1);
    return "";
}

std::vector<std::string> words(const std::string& text)
{
    std::istringstream in(text);
    std::vector<std::string> result;
    std::string word;
    while (in >> word)
        result.push_back(word);
    return result;
}

const std::set<std::string> INSTALLED = {
    "bin/brassel",
    "share/man/man8/brassel.8",
    "lib/systemd/system/brassel.service",
    "lib/systemd/system/brassel.socket",
    "lib/systemd/system/brassel@.service",
    "share/doc/brassel/inetd.conf",
};

} // namespace

TEST(Install, InstallsTheServerItsPageItsUnitsAndTheInetdLineOnly)
{
    struct Case {
        const char* name;
        bool destdir;
    };
    for (const Case c : {Case{"into a prefix", false}, Case{"below DESTDIR with prefix /usr", true}}) {
        SCOPED_TRACE(c.name);
        TempDir scratch;
        const std::string prefix = c.destdir ? "/usr" : scratch.file("prefix");
        const std::string root = c.destdir ? scratch.file("stage") + "/usr" : prefix;
        const CommandResult result = install(prefix, c.destdir ? scratch.file("stage") : "");
        ASSERT_EQ(result.status, 0) << result.out << result.err;
        EXPECT_EQ(filesBelow(root), INSTALLED);
        if (c.destdir) {
            // Nothing outside the prefix either.
            EXPECT_EQ(filesBelow(scratch.file("stage")).size(), INSTALLED.size());
        }

        EXPECT_EQ(runCommand({root + "/bin/brassel", "--version"}).out, "brassel 1.11\n");
        EXPECT_EQ(fs::status(root + "/share/man/man8/brassel.8").permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
        // Units and the inetd line name the server where it runs after the
        // installation, which is not where DESTDIR stages it.
        const std::string server = prefix + "/bin/brassel";
        const std::string service = readFile(root + "/lib/systemd/system/brassel.service");
        const std::string perConnection = readFile(root + "/lib/systemd/system/brassel@.service");
        EXPECT_EQ(words(unitSetting(service, "ExecStart")).at(0), server);
        EXPECT_EQ(words(unitSetting(service, "ExecStartPre")).at(0), server);
        EXPECT_EQ(words(unitSetting(perConnection, "ExecStart")).at(0), server);
        // The one line that is not a comment.
        const std::string inetdFile = readFile(root + "/share/doc/brassel/inetd.conf");
        const std::vector<std::string> inetd = words(inetdFile.substr(inetdFile.find("\nbrassel ") + 1));
        ASSERT_GE(inetd.size(), 8u);
        EXPECT_EQ(std::vector<std::string>(inetd.begin(), inetd.begin() + 4),
                  (std::vector<std::string>{"brassel", "stream", "tcp", "nowait"}));
        EXPECT_EQ(inetd[5], server);
        EXPECT_EQ(inetd[7], "--inetd");
        for (const std::string& text : {service, perConnection})
            EXPECT_EQ(text.find('@' + std::string("BINDIR@")), std::string::npos);
    }
}

TEST(ManPage, FormatsWithoutWarnings)
{
    const std::string page = sourcePath("dist/brassel.8");
    const CommandResult lint = runCommand({"groff", "-man", "-ww", "-z", page});
    EXPECT_EQ(lint.status, 0);
    EXPECT_EQ(lint.err, "");
    const CommandResult shown = runCommand({"env", "MANWIDTH=80", "man", "-l", page});
    EXPECT_EQ(shown.status, 0) << shown.err;
    EXPECT_EQ(shown.out.rfind("BRASSEL(8)", 0), 0u) << shown.out.substr(0, 200);
    EXPECT_NE(shown.out.find("xset +fp tcp/fonthost:7101"), std::string::npos);
}

// The page documents exactly the options that --help prints: an option
// added to one of them and not to the other fails here.
TEST(ManPage, DocumentsEveryOptionOfHelp)
{
    const CommandResult help = runBrassel({"--help"});
    std::set<std::string> helped;
    const std::regex helpOption("^  (--[a-z]+)");
    std::istringstream helpLines(help.out);
    for (std::string line; std::getline(helpLines, line);) {
        std::smatch match;
        if (std::regex_search(line, match, helpOption))
            helped.insert(match[1]);
    }
    EXPECT_EQ(helped.size(), 16u);

    // The tagged paragraphs of the OPTIONS section: ".TP" and then the
    // option in bold (".B \-\-sync" or ".BI \-\-port " value").
    std::set<std::string> documented;
    const std::string page = readFile(sourcePath("dist/brassel.8"));
    const size_t start = page.find("\n.SH OPTIONS\n"), end = page.find("\n.SH ", start + 1);
    ASSERT_NE(start, std::string::npos);
    std::istringstream section(page.substr(start, end - start));
    const std::regex tag("^\\.BI? \\\\-\\\\-([a-z]+)");
    bool tagged = false;
    for (std::string line; std::getline(section, line);) {
        std::smatch match;
        if (tagged && std::regex_search(line, match, tag))
            documented.insert("--" + match[1].str());
        tagged = line == ".TP";
    }
    EXPECT_EQ(documented, helped);
}

TEST(SystemdUnits, VerifyCleanly)
{
    if (runCommand({"sh", "-c", "command -v systemd-analyze"}).status != 0)
        GTEST_SKIP() << "no systemd-analyze";
    TempDir scratch;
    const std::string prefix = scratch.file("prefix");
    ASSERT_EQ(install(prefix).status, 0);
    const std::string units = prefix + "/lib/systemd/system/";
    // The units' Documentation= names the installed page: it must be found.
    const CommandResult verify = runCommand({"env", "MANPATH=" + prefix + "/share/man", "systemd-analyze", "verify",
                                             units + "brassel.service", units + "brassel.socket",
                                             units + "brassel@.service"});
    // Other units of the machine may draw remarks; ours must draw none.
    std::istringstream lines(verify.out + verify.err);
    for (std::string line; std::getline(lines, line);)
        EXPECT_EQ(line.find("brassel"), std::string::npos) << line;
    EXPECT_EQ(verify.status, 0) << verify.err;
}

// systemd runs brassel@.service with the accepted connection as standard
// input, output and error, as an unprivileged user, in a private /tmp
// whose socket directory is an empty root-owned folder of mode 1777. The
// same here, with the command line read from the installed unit: each
// client connection gets a server of its own.
TEST(SystemdUnits, SocketActivatedCommandLineServesRealClients)
{
    TestUser user;
    if (!testUser(user))
        GTEST_SKIP() << "needs root to switch to an ordinary user";
    // Installed for /tmp/brassel and moved there in the private /tmp, where
    // the unprivileged user can reach it whatever the build tree's folders
    // allow.
    TempDir scratch;
    const std::string prefix = "/tmp/brassel";
    ASSERT_EQ(install(prefix, scratch.file("stage")).status, 0);
    std::string execStart =
        unitSetting(readFile(scratch.file("stage") + prefix + "/lib/systemd/system/brassel@.service"), "ExecStart");
    ASSERT_FALSE(execStart.empty());
    // %C is systemd's cache root; CacheDirectory= makes <root>/brassel for the user.
    const std::string cacheRoot = "/tmp/cache";
    for (size_t at; (at = execStart.find("%C")) != std::string::npos;)
        execStart.replace(at, 2, cacheRoot);
    const std::string owner = std::to_string(user.uid) + ":" + std::to_string(user.gid);
    const std::string prepare = "cp -a '" + scratch.file("stage") + prefix + "' " + prefix + " && mkdir -p " +
                                cacheRoot + "/brassel && chown " + owner + " " + cacheRoot + "/brassel && ";

    const int port = freePort();
    const std::string address = "tcp/localhost:" + std::to_string(port);
    // Accepts `count` connections one after another and runs the command
    // for each with the connection as its three standard streams.
    const std::string acceptor = R"(
import socket, subprocess, sys
port, count, command = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3:]
listener = socket.create_server(("127.0.0.1", port))
listener.settimeout(60)
print("listening", flush=True)
statuses = []
for _ in range(count):
    connection, _ = listener.accept()
    server = subprocess.Popen(command, stdin=connection, stdout=connection, stderr=connection)
    connection.close()
    statuses.append(server.wait())
print("statuses", *statuses)
)";
    std::vector<std::string> asUser = asTestUser(user);
    std::string command;
    for (const std::string& word : asUser)
        command += "'" + word + "' ";
    command += execStart;
    const std::string script = prepare +
        "mkdir -m 1777 /tmp/.font-unix && "
        "/usr/bin/python3 -c \"$ACCEPTOR\" " + std::to_string(port) + " 2 " + command + " > /tmp/acceptor.out & "
        "for i in $(seq 100); do grep -q listening /tmp/acceptor.out 2>/dev/null && break; sleep 0.1; done; "
        "echo '--- xfsinfo'; xfsinfo -server " + address + "; "
        "echo '--- fslsfonts'; fslsfonts -server " + address + " -fn '-*-dejavu sans-medium-r-normal-book-0-0-0-0-p-0-iso8859-1'; "
        "wait; cat /tmp/acceptor.out; test -s " + cacheRoot + "/brassel/ttinfo.dir && echo database built";
    const CommandResult result = runInPrivateTmp("ACCEPTOR='" + acceptor + "'\n" + script, 120);
    SCOPED_TRACE(result.out + result.err);
    const std::string& out = result.out;
    const std::string info = out.substr(0, out.find("--- fslsfonts"));
    EXPECT_NE(info.find("version number:\t2\n"), std::string::npos);
    EXPECT_NE(info.find("vendor string:\tQX\n"), std::string::npos);
    const std::string listed = out.substr(out.find("--- fslsfonts"));
    EXPECT_NE(listed.find("-dejavu-dejavu sans-medium-r-normal-book-0-0-0-0-p-0-iso8859-1"), std::string::npos);
    // Both servers ended with their connection, in good order.
    EXPECT_NE(out.find("statuses 0 0"), std::string::npos);
    // The database was built in the unit's cache directory.
    EXPECT_NE(out.find("database built"), std::string::npos);
}
