// The command line of the real binary: texts, exit statuses and what the
// number options do to a running server.
#include "encoding/encoding.h"
#include "support/fs_client.h"
#include "support/paths.h"
#include "support/process.h"

#include <gtest/gtest.h>


namespace {

const std::string USAGE = "Usage: brassel [<options>]\n\n";

const std::string FULL_HELP = USAGE +
    "Options: \n"
    "  --sync               sync database with font directory content\n"
    "  --gslist             print ghostscript style ttf fontlist\n"
    "  --port <value>       change port number (default 7101)\n"
    "  --notcp              don't open TCP socket, use unix domain only\n"
    "  --dir <directory>    change font directory (default /usr/local/share/fonts/TrueType)\n"
    "  --cache <directory>  change font cache directory (default /usr/local/share/fonts/TrueType)\n"
    "  --pidfile <file>     change pid file location (default /var/run/brassel.pid)\n"
    "  --res <value>        force default resolution to this value\n"
    "  --encoding <list>    change encoding (default iso8859-1)\n"
    "  --unstrap            !DANGER! serve all unicodes !DANGER!\n"
    "  --user <username>    username that children should run as\n"
    "  --once               exit after the font client disconnects\n"
    "  --daemon             run in the background\n"
    "  --inetd              run as inetd service\n"
    "  --help               show this help message\n"
    "  --version            show the version\n"
    "\n"
    "Attach to X Server by \"xset fp+ unix/:7101\"\n"
    "  or \"xset fp+ inet/127.0.0.1:7101\"\n"
    "Detach from X Server by \"xset -fp unix/:7101\"\n"
    "  or \"xset -fp inet/127.0.0.1:7101\"\n";

const std::string UNSTRAP_WARNING =
    "brassel: warning: [unstrapped] you must start X11 with \"-deferglyphs 16\" option!\n";

struct CommandCase {
    const char* name;
    std::vector<std::string> arguments;
    int status;
    std::string out;
    std::string err;
};

TEST(CommandLine, TextsAndExitStatuses)
{
    const CommandCase cases[] = {
        {"help", {"--help"}, 0, FULL_HELP, ""},
        {"help ignores what follows", {"--help", "--bogus"}, 0, FULL_HELP, ""},
        {"help shows the built-in defaults", {"--port", "7000", "--help"}, 0, FULL_HELP, ""},
        {"version", {"--version"}, 0, "brassel 1.11\n", ""},
        {"unknown before help", {"--bogus", "--help"}, 255, USAGE, ""},
        {"short form", {"-h"}, 255, USAGE, ""},
        {"equals form", {"--port=7100"}, 255, USAGE, ""},
        {"bare value", {"7100"}, 255, USAGE, ""},
        {"options are case-sensitive", {"--Version"}, 255, USAGE, ""},
        {"value option without its value", {"--port"}, 255, USAGE, ""},
        {"directory option without its value", {"--version", "--dir"}, 0, "brassel 1.11\n", ""},
        {"value taken whatever it looks like", {"--port", "--help", "--bogus"}, 255, USAGE,
         "brassel: error: illegal port number!\n"},
        {"zero port", {"--port", "0", "--version"}, 0, "brassel 1.11\n", "brassel: error: illegal port number!\n"},
        {"port not a number", {"--port", "abc", "--version"}, 0, "brassel 1.11\n",
         "brassel: error: illegal port number!\n"},
        {"signed port", {"--port", "-5", "--version"}, 0, "brassel 1.11\n", "brassel: error: illegal port number!\n"},
        {"port with a tail", {"--port", "7100x", "--version"}, 0, "brassel 1.11\n", ""},
        {"huge port", {"--port", "99999999999999999999", "--version"}, 0, "brassel 1.11\n", ""},
        {"zero resolution", {"--res", "0", "--version"}, 0, "brassel 1.11\n",
         "brassel: error: illegal default resolution!\n"},
        {"resolution with a tail", {"--res", "120dpi", "--version"}, 0, "brassel 1.11\n", ""},
        {"unstrap warns at once", {"--unstrap", "--bogus"}, 255, USAGE, UNSTRAP_WARNING},
        {"unknown user changes nothing", {"--user", "no-such-user-here", "--version"}, 0, "brassel 1.11\n", ""},
        {"known encoding", {"--encoding", "iso8859-1", "--version"}, 0, "brassel 1.11\n", ""},
    };
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandResult result = runBrassel(c.arguments);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.err, c.err);
    }
}

TEST(CommandLine, BadEncodingListsEveryKnownEncoding)
{
    std::string listing = "brassel: info: valid encodings are:\n";
    for (const Encoding* encoding : encodingRegistry())
        listing += "brassel: info: \t" + encoding->name + "\n";
    for (const char* list : {"latin1", "", ",", "iso8859-1x"}) {
        SCOPED_TRACE(list);
        const CommandResult result = runBrassel({"--encoding", list, "--bogus"});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "brassel: error: illegal encoding!\n");
        EXPECT_EQ(result.out, listing);
    }
}

TEST(CommandLine, SyncEndsWithStatusZeroEvenWhenItFails)
{
    TempDir cache;
    const CommandResult result =
        runBrassel({"--sync", "--dir", cache.file("no-such-directory"), "--cache", cache.path()});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.err.find("brassel: error: sync failed\n"), std::string::npos) << result.err;
    EXPECT_EQ(result.out.find("Usage"), std::string::npos);
}

// What the number options do shows on the running server.
TEST(CommandLine, PortOptionNamesTheSocket)
{
    SKIP_WITHOUT_DATABASE();
    const int port = freePort();
    ServerProcess server;
    ASSERT_TRUE(server.start({"--port", std::to_string(port) + "x", "--notcp"}));
    ASSERT_TRUE(server.waitListening()) << server.err();
    EXPECT_EQ(server.port(), port);
    FsClient client;
    ASSERT_TRUE(client.connectUnix("/tmp/.font-unix/fs" + std::to_string(port)));
    EXPECT_TRUE(client.setup());
}

TEST(CommandLine, BadPortFallsBackToTheDefault)
{
    SKIP_WITHOUT_DATABASE();
    // In a /tmp of its own: the default socket name may belong to a real
    // server on this machine.
    TempDir scratch;
    const std::string script =
        "'" + brasselBinary() + "' --port abc --notcp --dir '" + fixturePath("one_font") + "' --cache '" +
        scratch.path() + "' >/dev/null 2>'" + scratch.file("err") + "' & pid=$!; "
        "for i in $(seq 200); do [ -S /tmp/.font-unix/fs7101 ] && break; sleep 0.05; done; "
        "[ -S /tmp/.font-unix/fs7101 ] && echo socket; kill -TERM $pid; wait $pid; echo status=$?";
    const CommandResult result = runInPrivateTmp(script);
    EXPECT_EQ(result.out, "socket\nstatus=0\n") << result.err;
    EXPECT_EQ(readFile(scratch.file("err")).rfind("brassel: error: illegal port number!\n", 0), 0u);
}

// Each --encoding appends: the one font is listed once per active encoding,
// in the order the options named them after the built-in iso8859-1.
TEST(CommandLine, EncodingOptionsAppendInOrder)
{
    SKIP_WITHOUT_DATABASE();
    ServerProcess server;
    ASSERT_TRUE(server.start({"--encoding", "koi8-r", "--encoding", "cp-866"}));
    ASSERT_TRUE(server.waitListening()) << server.err();
    FsClient client;
    ASSERT_TRUE(client.connectTcp(server.port()));
    ASSERT_TRUE(client.setup());
    std::vector<uint8_t> body;
    append32(body, 100);
    append16(body, 1);
    append16(body, 0);
    body.push_back('*');
    const FsReply reply = client.request(makeRequest(13, 0, body));
    ASSERT_TRUE(reply.received);
    std::vector<std::string> charsets;
    size_t at = 16;
    for (uint32_t i = 0; i < reply.get32(12) && at < reply.bytes.size(); i++) {
        const size_t length = reply.bytes[at];
        ASSERT_LE(at + 1 + length, reply.bytes.size());
        const std::string name(reply.bytes.begin() + at + 1, reply.bytes.begin() + at + 1 + length);
        // The last two fields of an XLFD name: registry and encoding. The
        // listing's other, short names are not per encoding.
        const size_t last = name.rfind('-');
        if (name[0] == '-')
            charsets.push_back(name.substr(name.rfind('-', last - 1) + 1));
        at += 1 + length;
    }
    EXPECT_EQ(charsets, (std::vector<std::string>{"iso8859-1", "koi8-r", "cp-866"}));
}

// With a user name present twice in the user database the later entry's ids
// are taken. The database is changed only inside a mount namespace of the
// test's own; --once makes the server process itself switch, so its ids show.
TEST(CommandLine, UserNamedTwiceTakesTheLaterEntry)
{
    SKIP_WITHOUT_DATABASE();
    TestUser user;
    if (!testUser(user))
        GTEST_SKIP() << "changing the user database in a namespace needs root";
    TempDir scratch;
    const std::string port = std::to_string(freePort());
    const std::string socket = "/tmp/.font-unix/fs" + port;
    const std::string script =
        "cp /etc/passwd /tmp/passwd && "
        "echo 'brasseltwice:x:4101:4102::/:/usr/sbin/nologin' >> /tmp/passwd && "
        "echo 'brasseltwice:x:4201:4202::/:/usr/sbin/nologin' >> /tmp/passwd && "
        "mount --bind /tmp/passwd /etc/passwd\n"
        "'" + brasselBinary() + "' --once --notcp --user brasseltwice --port " + port + " --dir '" +
        fixturePath("one_font") + "' --cache '" + scratch.path() + "' >/dev/null 2>&1 & pid=$!\n"
        "for i in $(seq 200); do [ -S " + socket + " ] && break; sleep 0.05; done\n"
        "/usr/bin/python3 -c \"import socket, time; s = socket.socket(socket.AF_UNIX); s.connect('" + socket +
        "'); s.send(b'l' + bytes(11)); s.recv(28); time.sleep(2)\" &\n"
        "for i in $(seq 60); do grep -q '^Uid:[[:space:]]*0[[:space:]]' /proc/$pid/status || break; sleep 0.05; done\n"
        "grep -E '^(Uid|Gid):' /proc/$pid/status | tr -s '\\t' ' '; wait";
    const CommandResult result = runInPrivateTmp(script);
    EXPECT_EQ(result.out, "Uid: 4201 4201 4201 4201\nGid: 4202 4202 4202 4202\n") << result.err;
}

TEST(CommandLine, ResolutionOptionSetsTheStartingResolution)
{
    SKIP_WITHOUT_DATABASE();
    struct Case {
        std::vector<std::string> arguments;
        uint16_t resolution;
    } cases[] = {{{"--res", "120dpi"}, 120}, {{"--res", "0"}, 96}, {{"--res", "150", "--res", "x"}, 150}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments[1]);
        ServerProcess server;
        ASSERT_TRUE(server.start(c.arguments));
        ASSERT_TRUE(server.waitListening()) << server.err();
        FsClient client;
        ASSERT_TRUE(client.connectTcp(server.port()));
        ASSERT_TRUE(client.setup());
        const FsReply reply = client.request(makeRequest(12));
        ASSERT_TRUE(reply.received);
        EXPECT_EQ(reply.get16(8), c.resolution);
        EXPECT_EQ(reply.get16(10), c.resolution);
    }
}

} // namespace
