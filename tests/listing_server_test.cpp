// ListFonts through the real server: exact replies for a one-font database,
// active encodings from --encoding, the request errors, the font-service
// lister, and re-synchronisation on SetCatalogues and after SIGHUP, also
// while other processes rebuild the database all the time.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/fs_client.h"
#include "support/fs_fonts.h"
#include "support/paths.h"
#include "support/process.h"

namespace fs = std::filesystem;

namespace {

using Names = std::vector<std::string>;

const std::string ARIAL = "-ttf-arial-medium-r-normal-regular-0-0-0-0-p-0-iso8859-1";
const std::string ARIAL_PANOSE_NAME = "TTUP020B06040202020202040_Arial";

// The reply the server must send for these names, up to its fill bytes
// (whose values are not defined).
std::vector<uint8_t> expectedReply(uint16_t sequence, const Names& names)
{
    std::vector<uint8_t> nameBytes;
    for (const std::string& name : names) {
        nameBytes.push_back(static_cast<uint8_t>(name.size()));
        nameBytes.insert(nameBytes.end(), name.begin(), name.end());
    }
    std::vector<uint8_t> reply{0, 0};
    append16(reply, sequence);
    append32(reply, static_cast<uint32_t>((16 + nameBytes.size() + 3) / 4));
    append32(reply, 0);
    append32(reply, static_cast<uint32_t>(names.size()));
    reply.insert(reply.end(), nameBytes.begin(), nameBytes.end());
    return reply;
}

Names namesOf(const FsReply& reply)
{
    Names names;
    size_t at = 16;
    for (uint32_t i = 0; i < reply.get32(12) && at < reply.bytes.size(); i++) {
        size_t length = reply.bytes[at];
        names.emplace_back(reinterpret_cast<const char*>(reply.bytes.data()) + at + 1, length);
        at += 1 + length;
    }
    return names;
}

class ListingServerTest : public testing::Test {
protected:
    void startServer(std::vector<std::string> arguments = {})
    {
        if (std::find(arguments.begin(), arguments.end(), "--dir") == arguments.end())
            arguments.insert(arguments.end(), {"--dir", fixturePath("db_one")});
        ASSERT_TRUE(server.start(arguments));
        ASSERT_TRUE(server.waitListening()) << server.err();
    }
    void connect(FsClient& client)
    {
        ASSERT_TRUE(client.connectTcp(server.port()));
        ASSERT_TRUE(client.setup());
    }
    // Terminated rather than killed, so that it removes its socket file.
    void TearDown() override
    {
        if (server.running()) {
            EXPECT_EQ(server.stop(), 0);
        }
    }
    ServerProcess server;
};

TEST_F(ListingServerTest, RepliesByteForByte)
{
    startServer();
    FsClient client;
    connect(client);
    struct Case {
        std::string pattern;
        uint32_t maxNames;
        Names names;
    } cases[] = {
        {"*", 100, {ARIAL, ARIAL_PANOSE_NAME}},
        {"*", 1, {ARIAL}},
        {"*arial*", 100, {ARIAL}},
        {"-*", 100, {ARIAL}},
        {"-*-arial-medium-r-normal-*-*-*-*-*-*-*-*-*", 100, {ARIAL}},
        {"-*-arial-medium-r-normal--*-*-*-*-*-*-*-*", 100, {"-ttf-arial-medium-r-normal--0-0-0-0-p-0-iso8859-1"}},
        {"-*-Arial-*-*-*-*-12-*-*-*-*-*-*-*", 100, {"-ttf-Arial-medium-r-normal-regular-12-0-0-0-p-0-iso8859-1"}},
        {"-*-*-*-*-*-*-*-*-*-*-*-*-iso8859-15", 100, {"-ttf-arial-medium-r-normal-regular-0-0-0-0-p-0-iso8859-15"}},
        {"-*-arial-*", 100, {}},
        {"-*-times-*-*-*-*-*-*-*-*-*-*-*-*", 100, {}},
    };
    uint16_t sequence = 0;
    for (const Case& c : cases) {
        FsReply reply = client.request(listFontsRequest(c.pattern, c.maxNames));
        ASSERT_TRUE(reply.isReply()) << c.pattern;
        std::vector<uint8_t> expected = expectedReply(++sequence, c.names);
        EXPECT_EQ(reply.bytes.size(), (expected.size() + 3) & ~size_t(3)) << c.pattern;
        reply.bytes.resize(std::min(reply.bytes.size(), expected.size()));
        EXPECT_EQ(reply.bytes, expected) << c.pattern;
    }
}

TEST_F(ListingServerTest, EncodingOptionAddsNamesInActiveOrder)
{
    startServer({"--encoding", "koi8-r"});
    FsClient client;
    connect(client);
    const Names expected{ARIAL, "-ttf-arial-medium-r-normal-regular-0-0-0-0-p-0-koi8-r"};
    EXPECT_EQ(namesOf(client.request(listFontsRequest("-*-*-*-*-*-*-*-*-*-*-*-*-*-*", 100))), expected);
}

TEST_F(ListingServerTest, SpacingComesFromThePanoseProportion)
{
    startServer({"--dir", fixturePath("db_records")});
    FsClient client;
    connect(client);
    struct Case {
        std::string pattern;
        Names names;
    } cases[] = {
        {"-*-mono type-*-*-*-*-*-*-*-*-*-*-*-*", {"-ttf-mono type-bold-i-normal-bold italic-0-0-0-0-m-0-iso8859-1"}},
        {"-*-noos2-*-*-*-*-*-*-*-*-*-*-*-*", {"-ttf-noos2-bold-i-normal-tt-0-0-0-0-p-0-iso8859-1"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(namesOf(client.request(listFontsRequest(c.pattern, 100))), c.names) << c.pattern;
    // A spacing the pattern names is copied, not tested.
    Names all = namesOf(client.request(listFontsRequest("-*-*-*-*-*-*-*-*-*-*-p-*-*-*", 100)));
    EXPECT_EQ(all.size(), 5u);
    EXPECT_NE(std::find(all.begin(), all.end(), "-ttf-mono type-bold-i-normal-bold italic-0-0-0-0-p-0-iso8859-1"),
              all.end());
}

TEST_F(ListingServerTest, RequestErrors)
{
    startServer();
    FsClient client;
    connect(client);
    // A pattern of 9 bytes in a request of 4 units (16 bytes): 12 + 9 > 16.
    std::vector<uint8_t> body;
    append32(body, 100);
    append16(body, 9);
    append16(body, 0);
    body.insert(body.end(), {'*', 0, 0, 0});
    FsReply tooShort = client.request(makeRequest(13, 0, body));
    ASSERT_TRUE(tooShort.isError());
    EXPECT_EQ(tooShort.errorCode(), 10);
    EXPECT_EQ(tooShort.errorOpcode(), 13);

    FsReply withInfo = client.request(listFontsRequest("*", 100));
    withInfo = client.request(makeRequest(14, 0, {0, 0, 0, 0, 1, 0, 0, 0, '*', 0, 0, 0}));
    ASSERT_TRUE(withInfo.isError());
    EXPECT_EQ(withInfo.errorCode(), 11);
    EXPECT_EQ(withInfo.errorOpcode(), 14);
    EXPECT_EQ(withInfo.sequence(), 3);
    // The connection goes on.
    EXPECT_EQ(namesOf(client.request(listFontsRequest("-*", 10))), Names{ARIAL});
}

TEST_F(ListingServerTest, FontServiceListerShowsTheNames)
{
    startServer();
    CommandResult listed = runCommand({"fslsfonts", "-server", "tcp/localhost:" + std::to_string(server.port()), "*"});
    EXPECT_EQ(listed.out, ARIAL + "\n" + ARIAL_PANOSE_NAME + "\n") << listed.err;
}

// A font directory of its own that a test can add fonts to.
class ChangingDirectoryTest : public ListingServerTest {
protected:
    void SetUp() override
    {
        fonts = scratch.file("fonts");
        fs::create_directory(fonts);
        fs::copy_file(fixturePath("db_one/arial.ttf"), fonts + "/arial.ttf");
        startServer({"--dir", fonts});
    }
    void addFont() { fs::copy_file(fixturePath("db_scan/a.ttf"), fonts + "/a.ttf"); }
    std::set<std::string> listed(FsClient& client)
    {
        Names names = namesOf(client.request(listFontsRequest("-*", 100)));
        return std::set<std::string>(names.begin(), names.end());
    }

    TempDir scratch;
    std::string fonts;
    const std::string alpha = "-ttf-alpha-medium-r-normal-regular-0-0-0-0-p-0-iso8859-1";
};

TEST_F(ChangingDirectoryTest, SetCataloguesRereadsTheFontDirectory)
{
    FsClient client;
    connect(client);
    EXPECT_EQ(listed(client), std::set<std::string>{ARIAL});
    addFont();
    EXPECT_EQ(listed(client), std::set<std::string>{ARIAL});
    ASSERT_TRUE(client.send(makeRequest(4)));
    EXPECT_EQ(listed(client), (std::set<std::string>{ARIAL, alpha}));
}

TEST_F(ChangingDirectoryTest, HangUpMakesTheNextClientRereadIt)
{
    addFont();
    kill(server.pid(), SIGHUP);
    // The flag is set asynchronously; give the signal a moment to land.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    FsClient client;
    connect(client);
    EXPECT_EQ(listed(client), (std::set<std::string>{ARIAL, alpha}));
    EXPECT_TRUE(server.running());
}

TEST_F(ListingServerTest, ListingsStayCompleteWhileOthersRebuild)
{
    startServer({"--dir", fixturePath("db_scan")});
    // Another process rebuilds the same cache again and again, alternating
    // between a one-font directory and the server's own, while the server's
    // clients list what they have mapped and some of them rebuild and remap.
    const std::string cache = server.cacheDirectory();
    pid_t rebuilder = fork();
    if (rebuilder == 0) {
        for (int i = 0; i < 40; i++)
            runBrassel({"--sync", "--dir", fixturePath(i % 2 ? "db_scan" : "db_one"), "--cache", cache});
        _exit(0);
    }
    const std::set<std::string> one{ARIAL};
    std::vector<std::unique_ptr<FsClient>> clients;
    for (int round = 0; round < 40; round++) {
        clients.push_back(std::make_unique<FsClient>());
        FsClient& client = *clients.back();
        connect(client);
        if (round % 2) {
            ASSERT_TRUE(client.send(makeRequest(4)));
        }
        for (auto& each : clients) {
            FsReply reply = each->request(listFontsRequest("-*", 100));
            ASSERT_TRUE(reply.isReply()) << "round " << round;
            Names names = namesOf(reply);
            std::set<std::string> got(names.begin(), names.end());
            ASSERT_TRUE(got == one || got.size() == 6) << "round " << round << ": " << names.size() << " names";
        }
    }
    int status = 0;
    waitpid(rebuilder, &status, 0);
    EXPECT_TRUE(server.running());
}

}  // namespace
