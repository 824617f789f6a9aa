// The server process from start to end: endpoints, serving children, the
// single-connection modes, signals, the pid file, the database regeneration
// at start and the user switch of serving children.
#include "support/fs_client.h"
#include "support/paths.h"
#include "support/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

bool waitUntil(const std::function<bool()>& condition, int timeoutMilliseconds = 5000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

bool processExists(pid_t process)
{
    // A zombie still has /proc/<pid>; its state letter tells.
    const std::string stat = readFile("/proc/" + std::to_string(process) + "/stat");
    const size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

std::vector<pid_t> childrenOf(pid_t parent)
{
    std::vector<pid_t> children;
    std::istringstream list(readFile("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) +
                                     "/children"));
    pid_t child;
    while (list >> child)
        if (processExists(child))
            children.push_back(child);
    return children;
}

// "Uid:", "Gid:" or "Groups:" of /proc/<pid>/status, without the label.
std::string statusLine(pid_t process, const std::string& label)
{
    std::istringstream status(readFile("/proc/" + std::to_string(process) + "/status"));
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(label, 0) == 0) {
            std::string value = line.substr(label.size());
            value.erase(0, value.find_first_not_of(" \t"));
            value.erase(value.find_last_not_of(" \t") + 1);
            return value;
        }
    return "";
}

void startServer(ServerProcess& server, const std::vector<std::string>& arguments = {})
{
    ASSERT_TRUE(server.start(arguments));
    ASSERT_TRUE(server.waitListening()) << server.err();
}

void openClient(FsClient& client, const ServerProcess& server)
{
    ASSERT_TRUE(client.connectUnix(server.socketPath()));
    ASSERT_TRUE(client.setup());
}

TEST(Lifecycle, StartWithoutDatabaseRegeneratesIt)
{
    SKIP_WITHOUT_DATABASE();
    ServerProcess server;
    startServer(server);
    EXPECT_EQ(server.err(), "brassel: error: cannot open font database!\n"
                            "brassel: warning: opening font database failed, while reading \"" +
                                fixturePath("one_font") + "\" to build it; trying to regenerate it\n");
    EXPECT_TRUE(fs::exists(server.cacheDirectory() + "/ttinfo.dir"));
    EXPECT_TRUE(fs::exists(server.cacheDirectory() + "/ttname.dir"));

    // A second start finds the database and says nothing.
    ServerProcess again;
    startServer(again, {"--cache", server.cacheDirectory()});
    EXPECT_EQ(again.err(), "");
}

TEST(Lifecycle, NoUsableFontsEndsStartUp)
{
    TempDir empty;
    fs::create_directories(empty.file("fonts"));
    writeFile(empty.file("fonts/broken.ttf"), "not a font at all");
    ServerProcess server;
    ASSERT_TRUE(server.start({"--dir", empty.file("fonts")}));
    EXPECT_EQ(server.wait(), 1);
    const std::string err = server.err();
    EXPECT_NE(err.find("brassel: warning: opening font database failed, while reading \"" + empty.file("fonts") +
                       "\" to build it; trying to regenerate it\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(err.substr(err.size() - 48), "brassel: error: cannot regenerate font database\n") << err;
    EXPECT_FALSE(fs::exists(server.socketPath()));
}

TEST(Lifecycle, TerminateRemovesTheSocketButNoForeignPidFile)
{
    SKIP_WITHOUT_DATABASE();
    TempDir scratch;
    // A pid file this process did not write belongs to someone else.
    const std::string pidFile = scratch.file("other.pid");
    writeFile(pidFile, "12345\n");
    ServerProcess server;
    startServer(server, {"--pidfile", pidFile});
    EXPECT_TRUE(fs::exists(server.socketPath()));
    EXPECT_EQ(server.stop(SIGTERM), 0);
    EXPECT_FALSE(fs::exists(server.socketPath()));
    EXPECT_EQ(readFile(pidFile), "12345\n");
}

TEST(Lifecycle, InterruptEndsWithStatusZero)
{
    SKIP_WITHOUT_DATABASE();
    ServerProcess server;
    startServer(server);
    EXPECT_EQ(server.stop(SIGINT), 0);
    EXPECT_FALSE(fs::exists(server.socketPath()));
}

// A daemon is nobody's child: whatever a test asserts, the daemon named by
// the pid file is ended when the test ends.
struct DaemonGuard {
    std::string pidFile;
    ~DaemonGuard()
    {
        const std::string contents = readFile(pidFile);
        if (!contents.empty() && processExists(std::stoi(contents)))
            kill(std::stoi(contents), SIGKILL);
    }
};

TEST(Lifecycle, DaemonWritesPidFileAndTerminateRemovesIt)
{
    SKIP_WITHOUT_DATABASE();
    TempDir scratch;
    const std::string pidFile = scratch.file("brassel.pid");
    DaemonGuard guard{pidFile};
    const int port = freePort();
    const std::string socket = "/tmp/.font-unix/fs" + std::to_string(port);
    const CommandResult launch =
        runBrassel({"--daemon", "--pidfile", pidFile, "--port", std::to_string(port), "--dir",
                    fixturePath("one_font"), "--cache", scratch.path()});
    EXPECT_EQ(launch.status, 0);
    ASSERT_TRUE(waitUntil([&] { return fs::exists(socket); })) << launch.err;
    const std::string contents = readFile(pidFile);
    ASSERT_FALSE(contents.empty());
    EXPECT_EQ(contents.back(), '\n');
    const pid_t daemon = std::stoi(contents);
    ASSERT_TRUE(processExists(daemon));
    // Detached: a session of its own, standard streams on /dev/null.
    EXPECT_EQ(getsid(daemon), getpgid(daemon));
    EXPECT_NE(getsid(daemon), daemon); // the session leader was the intermediate child
    for (int standard = 0; standard <= 2; standard++)
        EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(daemon) + "/fd/" + std::to_string(standard)),
                  "/dev/null");

    FsClient client;
    ASSERT_TRUE(client.connectTcp(port));
    ASSERT_TRUE(client.setup());
    client.close();

    kill(daemon, SIGTERM);
    EXPECT_TRUE(waitUntil([&] { return !processExists(daemon); }));
    EXPECT_FALSE(fs::exists(pidFile));
    EXPECT_FALSE(fs::exists(socket));
}

TEST(Lifecycle, DaemonThatCannotStartRemovesItsPidFile)
{
    TempDir scratch;
    fs::create_directories(scratch.file("fonts"));
    const std::string pidFile = scratch.file("brassel.pid");
    DaemonGuard guard{pidFile};
    const CommandResult launch = runBrassel({"--daemon", "--pidfile", pidFile, "--dir", scratch.file("fonts"),
                                             "--cache", scratch.path(), "--notcp"});
    EXPECT_EQ(launch.status, 0);
    EXPECT_EQ(launch.out + launch.err, "");
    // The daemon writes the pid file, fails to build a database and removes it.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_FALSE(fs::exists(pidFile));
}

TEST(Lifecycle, TerminatedServingChildLeavesTheServerReachable)
{
    SKIP_WITHOUT_DATABASE();
    ServerProcess server;
    startServer(server);
    FsClient first;
    openClient(first, server);
    ASSERT_TRUE(first.request(makeRequest(1)).isReply());
    const std::vector<pid_t> children = childrenOf(server.pid());
    ASSERT_EQ(children.size(), 1u);
    kill(children[0], SIGTERM);
    EXPECT_TRUE(first.closedByServer());
    EXPECT_TRUE(fs::exists(server.socketPath()));
    FsClient second;
    openClient(second, server);
    EXPECT_TRUE(second.request(makeRequest(1)).isReply());
    EXPECT_TRUE(server.running());
}

TEST(Lifecycle, TwoClientsAreServedByTwoChildren)
{
    SKIP_WITHOUT_DATABASE();
    ServerProcess server;
    startServer(server);
    FsClient one, two;
    ASSERT_TRUE(one.connectTcp(server.port()));
    ASSERT_TRUE(two.connectUnix(server.socketPath()));
    ASSERT_TRUE(one.setup());
    ASSERT_TRUE(two.setup());
    EXPECT_TRUE(waitUntil([&] { return childrenOf(server.pid()).size() == 2; }));
    EXPECT_TRUE(two.request(makeRequest(12)).isReply());
    EXPECT_TRUE(one.request(makeRequest(12)).isReply());
    // A child ends with its connection.
    one.close();
    EXPECT_TRUE(waitUntil([&] { return childrenOf(server.pid()).size() == 1; }));
}

TEST(Lifecycle, OnceServesOneClientAndKeepsTheSocket)
{
    SKIP_WITHOUT_DATABASE();
    ServerProcess server;
    startServer(server, {"--once"});
    FsClient client;
    openClient(client, server);
    EXPECT_TRUE(client.request(makeRequest(12)).isReply());
    EXPECT_TRUE(childrenOf(server.pid()).empty());
    client.close();
    EXPECT_EQ(server.wait(), 0);
    EXPECT_TRUE(fs::exists(server.socketPath()));
    fs::remove(server.socketPath());
}

TEST(Lifecycle, OnceWithShortPrefixCleansUpAndEnds)
{
    SKIP_WITHOUT_DATABASE();
    ServerProcess server;
    startServer(server, {"--once"});
    const size_t before = server.err().size();
    FsClient client;
    ASSERT_TRUE(client.connectTcp(server.port()));
    ASSERT_TRUE(client.send({0x6C, 0, 2, 0, 0, 0, 0}));
    client.close();
    EXPECT_EQ(server.wait(), 0);
    EXPECT_FALSE(fs::exists(server.socketPath()));
    EXPECT_EQ(server.err().size(), before) << server.err();
}

TEST(Lifecycle, InetdServesStandardInput)
{
    SKIP_WITHOUT_DATABASE();
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    ServerProcess server;
    ASSERT_TRUE(server.start({"--inetd", "--notcp"}, {}, pair[1]));
    close(pair[1]);
    FsClient client;
    client.adopt(pair[0]);
    ASSERT_TRUE(client.setup());
    const FsReply reply = client.request(makeRequest(12));
    ASSERT_TRUE(reply.received);
    EXPECT_EQ(reply.sequence(), 1);
    client.close();
    EXPECT_EQ(server.wait(), 0);
    fs::remove(server.socketPath());
}

// As inetd starts it: the client's socket is standard input, output and
// error at once. The start-up messages (the database is rebuilt) and the
// messages of a resynchronisation must not reach the client.
TEST(Lifecycle, InetdKeepsMessagesOutOfTheProtocolStream)
{
    SKIP_WITHOUT_DATABASE();
    TempDir cache;
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    const std::string binary = brasselBinary(), fonts = fixturePath("one_font");
    const std::string port = std::to_string(freePort());
    const pid_t server = fork();
    if (server == 0) {
        for (int standard = 0; standard <= 2; standard++)
            dup2(pair[1], standard);
        close(pair[0]);
        close(pair[1]);
        execl(binary.c_str(), binary.c_str(), "--inetd", "--notcp", "--port", port.c_str(), "--dir", fonts.c_str(),
              "--cache", cache.path().c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pair[1]);
    FsClient client;
    client.adopt(pair[0]);
    ASSERT_TRUE(client.setup());
    EXPECT_EQ(client.setupReply[0], 0);
    ASSERT_TRUE(client.send(makeRequest(4))); // SetCatalogues: a resynchronisation
    const FsReply reply = client.request(makeRequest(12));
    ASSERT_TRUE(reply.received);
    EXPECT_EQ(reply.bytes.size(), 16u);
    EXPECT_EQ(reply.sequence(), 2);
    EXPECT_TRUE(client.silentFor(100));
    client.close();
    int status = 0;
    EXPECT_EQ(waitpid(server, &status, 0), server);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    fs::remove("/tmp/.font-unix/fs" + port);
}

TEST(Lifecycle, NoTcpListensOnTheUnixSocketOnly)
{
    SKIP_WITHOUT_DATABASE();
    ServerProcess server;
    startServer(server, {"--notcp"});
    FsClient tcp;
    EXPECT_FALSE(tcp.connectTcp(server.port()));
    FsClient local;
    openClient(local, server);
    EXPECT_TRUE(local.request(makeRequest(1)).isReply());
}

// Another program holds the TCP port on both families: the server says so
// and serves on its Unix socket.
TEST(Lifecycle, BusyTcpPortLeavesTheUnixSocket)
{
    SKIP_WITHOUT_DATABASE();
    const int port = freePort();
    const int v4 = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address4{};
    address4.sin_family = AF_INET;
    address4.sin_port = htons(static_cast<uint16_t>(port));
    ASSERT_EQ(bind(v4, reinterpret_cast<sockaddr*>(&address4), sizeof address4), 0);
    listen(v4, 1);
    const int v6 = socket(AF_INET6, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(v6, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    sockaddr_in6 address6{};
    address6.sin6_family = AF_INET6;
    address6.sin6_port = htons(static_cast<uint16_t>(port));
    const bool haveV6 = bind(v6, reinterpret_cast<sockaddr*>(&address6), sizeof address6) == 0;
    listen(v6, 1);

    ServerProcess server;
    ASSERT_TRUE(server.start({"--port", std::to_string(port)}));
    FsClient client;
    ASSERT_TRUE(waitUntil([&] { return client.connectUnix(server.socketPath()); }));
    ASSERT_TRUE(client.setup());
    const std::string message =
        "brassel: error: cannot open TCP/IP port " + std::to_string(port) + ", try another port; Address already in use!\n";
    if (haveV6) {
        EXPECT_NE(server.err().find(message), std::string::npos) << server.err();
    }
    close(v4);
    close(v6);
}

// A server ended while an X server is still attached leaves that client's
// serving child behind; the server started again on the same port must get
// the TCP port and serve a new client at once, while the old child goes on
// serving its own.
TEST(Lifecycle, RestartWhileAClientIsAttachedServesTcpAtOnce)
{
    SKIP_WITHOUT_DATABASE();
    ServerProcess first;
    startServer(first);
    const int port = first.port();
    FsClient attached;
    ASSERT_TRUE(attached.connectTcp(port));
    ASSERT_TRUE(attached.setup());
    ASSERT_TRUE(attached.request(makeRequest(1)).isReply());
    ASSERT_EQ(first.stop(SIGTERM), 0);

    ServerProcess second;
    ASSERT_TRUE(second.start({"--port", std::to_string(port), "--cache", first.cacheDirectory()}));
    // The accept loop, and so the served Unix client, comes after the TCP
    // endpoints were made.
    FsClient local;
    ASSERT_TRUE(waitUntil([&] { return local.connectUnix(second.socketPath()); }));
    ASSERT_TRUE(local.setup());
    EXPECT_EQ(second.err().find("cannot open TCP/IP port"), std::string::npos) << second.err();

    FsClient fresh;
    ASSERT_TRUE(fresh.connectTcp(port));
    ASSERT_TRUE(fresh.setup(1000));
    EXPECT_TRUE(fresh.request(makeRequest(1), 1000).isReply());
    EXPECT_TRUE(attached.request(makeRequest(1)).isReply());
}

// X servers connect non-blocking and give up at once when the listen queue
// is full: fifty clients arriving while the server cannot accept all get
// into the queue and are served once it goes on.
TEST(Lifecycle, BurstOfNonBlockingUnixClientsIsQueued)
{
    SKIP_WITHOUT_DATABASE();
    ServerProcess server;
    startServer(server);
    ASSERT_EQ(kill(server.pid(), SIGSTOP), 0);
    std::vector<std::unique_ptr<FsClient>> clients;
    int refused = 0;
    for (int i = 0; i < 50; i++) {
        const int descriptor = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", server.socketPath().c_str());
        if (connect(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            refused++;
            close(descriptor);
            continue;
        }
        fcntl(descriptor, F_SETFL, 0);
        clients.push_back(std::make_unique<FsClient>());
        clients.back()->adopt(descriptor);
    }
    kill(server.pid(), SIGCONT);
    EXPECT_EQ(refused, 0);
    int served = 0;
    for (auto& client : clients)
        served += client->setup() && client->request(makeRequest(1)).isReply();
    EXPECT_EQ(served, 50);
}

TEST(Lifecycle, HangUpMakesTheNextChildResynchronise)
{
    SKIP_WITHOUT_DATABASE();
    ServerProcess server;
    startServer(server);
    const std::string info = server.cacheDirectory() + "/ttinfo.dir";
    ASSERT_TRUE(fs::exists(info));

    // A child serving already resynchronises before its next request.
    FsClient serving;
    openClient(serving, server);
    ASSERT_TRUE(serving.request(makeRequest(1)).isReply());
    fs::remove(info);
    const std::vector<pid_t> children = childrenOf(server.pid());
    ASSERT_EQ(children.size(), 1u);
    kill(children[0], SIGHUP);
    ASSERT_TRUE(serving.request(makeRequest(1)).isReply());
    EXPECT_TRUE(fs::exists(info));

    // The accepting process only passes the flag on to later children.
    fs::remove(info);
    kill(server.pid(), SIGHUP);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(fs::exists(info));
    FsClient later;
    openClient(later, server);
    ASSERT_TRUE(later.request(makeRequest(1)).isReply());
    EXPECT_TRUE(fs::exists(info));
    EXPECT_TRUE(server.running());
}

TEST(Lifecycle, SetCataloguesResynchronisesWithoutReply)
{
    SKIP_WITHOUT_DATABASE();
    ServerProcess server;
    startServer(server);
    const std::string info = server.cacheDirectory() + "/ttinfo.dir";
    FsClient client;
    openClient(client, server);
    fs::remove(info);
    ASSERT_TRUE(client.send(makeRequest(4, 0, {0, 0, 0, 0})));
    const FsReply reply = client.request(makeRequest(1));
    ASSERT_TRUE(reply.received);
    EXPECT_EQ(reply.sequence(), 2);
    EXPECT_TRUE(fs::exists(info));
}

// A relative --dir names the same directory however often the server
// enters it: at start to open the database, again to rebuild it, and again
// for every later rebuild.
TEST(Lifecycle, RelativeFontDirectoryServesAfterEveryRebuild)
{
    SKIP_WITHOUT_DATABASE();
    TempDir top;
    fs::copy(fixturePath("one_font"), top.file("fonts"));
    ServerProcess server;
    // The cache "." is formed inside the font directory.
    ASSERT_TRUE(server.start({"--dir", "fonts", "--cache", "."}, {"sh", "-c", "cd '" + top.path() + "' && exec \"$0\" \"$@\""}));
    ASSERT_TRUE(server.waitListening()) << server.err();
    const std::string info = top.file("fonts/ttinfo.dir");
    EXPECT_TRUE(fs::exists(info)) << server.err();
    FsClient client;
    openClient(client, server);
    fs::remove(info);
    ASSERT_TRUE(client.send(makeRequest(4, 0, {0, 0, 0, 0})));
    ASSERT_TRUE(client.request(makeRequest(1)).received);
    EXPECT_TRUE(fs::exists(info));
    EXPECT_EQ(server.err().find("does not exist"), std::string::npos) << server.err();
}

// The serving child takes the user's ids and only the user's group.
TEST(Lifecycle, UserSwitchDropsEverySupplementaryGroup)
{
    SKIP_WITHOUT_DATABASE();
    TestUser user;
    if (!testUser(user))
        GTEST_SKIP() << "switching users needs root";
    ServerProcess server;
    startServer(server, {"--user", "brasseltest"});
    FsClient client;
    openClient(client, server);
    ASSERT_TRUE(client.request(makeRequest(1)).isReply());
    const std::vector<pid_t> children = childrenOf(server.pid());
    ASSERT_EQ(children.size(), 1u);
    const std::string uid = std::to_string(user.uid), gid = std::to_string(user.gid);
    EXPECT_EQ(statusLine(children[0], "Uid:"), uid + "\t" + uid + "\t" + uid + "\t" + uid);
    EXPECT_EQ(statusLine(children[0], "Gid:"), gid + "\t" + gid + "\t" + gid + "\t" + gid);
    EXPECT_EQ(statusLine(children[0], "Groups:"), gid);
    // The accepting process keeps its own ids.
    EXPECT_EQ(statusLine(server.pid(), "Uid:").substr(0, 2), "0\t");
}

// An ordinary user's server asked to switch to root: each child fails and
// ends, and the server keeps its socket and goes on accepting.
TEST(Lifecycle, FailedUserSwitchEndsOnlyTheChild)
{
    SKIP_WITHOUT_DATABASE();
    TestUser user;
    if (!testUser(user))
        GTEST_SKIP() << "switching users needs root";
    // An ordinary user cannot make the socket directory itself.
    if (!fs::exists("/tmp/.font-unix")) {
        fs::create_directory("/tmp/.font-unix");
        fs::permissions("/tmp/.font-unix", static_cast<fs::perms>(01777));
    }
    ServerProcess server;
    ASSERT_TRUE(server.start({"--user", "root"}, asTestUser(user)));
    ASSERT_TRUE(server.waitListening()) << server.err();
    for (int attempt = 0; attempt < 2; attempt++) {
        FsClient client;
        openClient(client, server);
        EXPECT_TRUE(client.closedByServer());
    }
    EXPECT_TRUE(waitUntil([&] {
        const std::string err = server.err();
        return err.find("brassel: error: cannot set new group id\n") != err.rfind("brassel: error: cannot set new group id\n");
    })) << server.err();
    EXPECT_TRUE(fs::exists(server.socketPath()));
    EXPECT_TRUE(server.running());
}

} // namespace
