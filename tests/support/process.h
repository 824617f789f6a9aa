// Running the real brassel binary and other commands from a test.
//
// Everything here is bounded in time: a command or server that does not end
// is killed, so a broken server fails a test instead of hanging it.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// A directory of its own under the build tree, removed with its contents
// when the object goes.
class TempDir {
public:
    TempDir();
    // The same below another folder, made when missing.
    explicit TempDir(const std::string& base);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return directory; }
    std::string file(const std::string& name) const { return directory + "/" + name; }

private:
    std::string directory;
};

struct CommandResult {
    // The exit status, 128 + the signal number when a signal ended it, or
    // -1 when it had to be killed after the time limit.
    int status = -1;
    std::string out;
    std::string err;
};

// Runs argv[0] (looked up in PATH) with the given standard input and
// collects both output streams.
CommandResult runCommand(const std::vector<std::string>& argv, const std::string& input = "",
                         int timeoutSeconds = 30);

// The server binary under test: $BRASSEL_TEST_BINARY when set, otherwise the
// one this build made.
std::string brasselBinary();

// Runs the brassel binary to its end (for options that end it at once).
CommandResult runBrassel(const std::vector<std::string>& arguments, int timeoutSeconds = 30);

// Runs a shell script as root in a mount namespace of its own whose /tmp is
// a fresh empty file system, so it may make, break or remove
// /tmp/.font-unix without touching the one every other server uses. With
// carryCheckout, a build or source tree that lies below /tmp stays visible
// at its own path in the fresh /tmp.
CommandResult runInPrivateTmp(const std::string& script, int timeoutSeconds = 60, bool carryCheckout = true);

// True when the build tree lies below /tmp, where a fresh /tmp hides it.
bool buildBelowTmp();

// The ordinary user "brasseltest" (created when missing); false when the
// tests do not run as root and cannot switch users.
struct TestUser {
    unsigned uid = 0;
    unsigned gid = 0;
};
bool testUser(TestUser& user);
// The command prefix that runs a program as that user with only its group.
std::vector<std::string> asTestUser(const TestUser& user);

// A TCP port nobody listens on right now.
int freePort();

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& contents);

// True when `brassel --sync` writes a database for the fixture directory
// with one real font; servers cannot start before the database exists.
bool databaseAvailable();
// Skips the current test while the database cannot be built.
#define SKIP_WITHOUT_DATABASE()                                                              \
    do {                                                                                     \
        if (!databaseAvailable())                                                            \
            GTEST_SKIP() << "brassel --sync writes no ttinfo.dir yet: no server can start"; \
    } while (0)

// The brassel binary running in the background with its output going to
// files. The destructor kills it if it still runs.
class ServerProcess {
public:
    ServerProcess() = default;
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Starts brassel with `arguments`. Unless they contain them already,
    // adds "--port <free port>", "--dir <fixture one_font>" and "--cache
    // <a fresh directory>". `prefix` is put in front of the binary (for
    // example {"setpriv", "--reuid=...", ...}). Returns false if it could
    // not be started.
    // `standardInput`, when not -1, becomes the server's descriptor 0.
    bool start(const std::vector<std::string>& arguments = {}, const std::vector<std::string>& prefix = {},
               int standardInput = -1);

    // Waits until the port (or, with --notcp, the Unix socket) is listened
    // on, without connecting to it; false if the process ended or time ran
    // out first.
    bool waitListening(int timeoutMilliseconds = 10000);

    // Sends `signal` and returns the exit status as runCommand reports it.
    int stop(int signal = 15, int timeoutMilliseconds = 10000);
    // Waits for the process to end by itself.
    int wait(int timeoutMilliseconds = 10000);
    bool running();

    std::string out() const;
    std::string err() const;
    int port() const { return serverPort; }
    pid_t pid() const { return process; }
    std::string socketPath() const;
    const std::string& cacheDirectory() const { return cache; }

private:
    bool launch();

    TempDir scratch;
    std::vector<std::string> commandLine;
    int input = -1;
    bool relaunched = false;
    pid_t process = -1;
    int serverPort = 0;
    bool tcp = true;
    std::string cache;
    int status = -1;
};
