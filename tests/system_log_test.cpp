// Messages of a server whose standard streams lead nowhere (--daemon, or
// --inetd with the client's socket as its streams) also reach the system
// log; in the foreground they stay on the streams only.
//
// Each case runs in a mount namespace of its own whose /dev is a fresh
// tmpfs holding /dev/null and, at /dev/log, a datagram socket that a small
// listener reads: the machine's own log is never touched.
#include "support/paths.h"
#include "support/process.h"

#include <gtest/gtest.h>

#include <sstream>
#include <unistd.h>

namespace {

// Binds /dev/log, runs the command given after the marker text (its
// standard streams a socket pair when the mode is "socket", else pipes read
// here), and prints each datagram as "log <datagram>" until the marker has
// been logged or the log stayed silent for a second after the command
// ended; then "status <exit status>" and the command's standard error as
// "err <line>" lines.
const char* LISTENER = R"(
import os, socket, subprocess, sys, time
mode, marker, command = sys.argv[1], sys.argv[2], sys.argv[3:]
log = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
log.bind("/dev/log")
if mode == "socket":
    ours, theirs = socket.socketpair()
    child = subprocess.Popen(command, stdin=theirs, stdout=theirs, stderr=theirs)
    theirs.close()
    status = child.wait()
    err = ""
else:
    child = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    status, err = child.returncode, child.stderr
deadline = time.monotonic() + 15
log.settimeout(1)
while time.monotonic() < deadline:
    try:
        line = log.recv(4096).decode("utf-8", "replace")
    except socket.timeout:
        break
    print("log", line.rstrip("\n"))
    if marker in line:
        break
print("status", status)
for line in err.splitlines():
    print("err", line)
)";

struct LogResult {
    std::vector<std::string> log;
    std::vector<std::string> err;
    int status = -1;
};

LogResult runWithSystemLog(const std::string& mode, const std::string& marker, const std::vector<std::string>& command)
{
    std::string script = "mount -t tmpfs -o mode=755 tmpfs /dev && mknod -m 666 /dev/null c 1 3 && "
                         "exec /usr/bin/python3 -c \"$0\" \"$@\"";
    std::vector<std::string> argv = {"unshare", "--mount", "--propagation", "private", "sh", "-c", script,
                                     LISTENER, mode, marker};
    argv.insert(argv.end(), command.begin(), command.end());
    const CommandResult run = runCommand(argv, "", 60);
    EXPECT_EQ(run.status, 0) << run.err;
    LogResult result;
    std::istringstream lines(run.out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("log ", 0) == 0)
            result.log.push_back(line.substr(4));
        else if (line.rfind("err ", 0) == 0)
            result.err.push_back(line.substr(4));
        else if (line.rfind("status ", 0) == 0)
            result.status = std::stoi(line.substr(7));
    }
    return result;
}

// A datagram as the C library sends it: "<priority>timestamp ident[pid]: message".
struct LogLine {
    int priority = -1;
    std::string ident;
    std::string message;
};

LogLine parse(const std::string& datagram)
{
    LogLine line;
    const size_t close = datagram.find('>');
    if (datagram.empty() || datagram[0] != '<' || close == std::string::npos)
        return line;
    line.priority = std::stoi(datagram.substr(1, close - 1));
    const size_t colon = datagram.find("]: ", close);
    if (colon == std::string::npos)
        return line;
    const size_t space = datagram.rfind(' ', colon);
    line.ident = datagram.substr(space + 1, datagram.find('[', space) - space - 1);
    line.message = datagram.substr(colon + 3);
    return line;
}

constexpr int DAEMON_FACILITY = 3 << 3;
constexpr int ERROR_PRIORITY = DAEMON_FACILITY | 3;
constexpr int WARNING_PRIORITY = DAEMON_FACILITY | 4;

} // namespace

TEST(SystemLog, ServerWithoutStreamsLogsItsFailedStart)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "a private /dev needs root";
    TempDir scratch;
    const std::string fonts = scratch.file("no-such-fonts");
    const std::string warning = "opening font database failed, while reading \"" + fonts +
                                "\" to build it; trying to regenerate it";
    const std::vector<LogLine> expected = {
        {WARNING_PRIORITY, "brassel", warning},
        {ERROR_PRIORITY, "brassel", "directory \"" + fonts + "\" does not exist!"},
        {ERROR_PRIORITY, "brassel", "cannot regenerate font database"},
    };
    const std::vector<std::string> server = {brasselBinary(), "--dir", fonts, "--cache", scratch.path(),
                                             "--notcp", "--pidfile", scratch.file("brassel.pid")};
    struct Case {
        const char* name;
        std::string mode;
        std::vector<std::string> arguments;
        int status;
    };
    // The launcher of --daemon returns 0 before the daemon fails; the
    // server under inetd ends with the failure's own status.
    const Case cases[] = {
        {"daemon", "pipes", {"--daemon"}, 0},
        {"inetd with the client's socket as its streams", "socket", {"--inetd"}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> command = server;
        command.insert(command.end(), c.arguments.begin(), c.arguments.end());
        const LogResult result = runWithSystemLog(c.mode, "cannot regenerate", command);
        EXPECT_EQ(result.status, c.status);
        EXPECT_TRUE(result.err.empty());
        std::vector<LogLine> logged;
        for (const std::string& datagram : result.log) {
            const LogLine line = parse(datagram);
            // Other lines may come between (the database that would not
            // open says why); the expected ones come in this order.
            if (logged.size() < expected.size() && line.message == expected[logged.size()].message) {
                EXPECT_EQ(line.priority, expected[logged.size()].priority) << datagram;
                EXPECT_EQ(line.ident, "brassel") << datagram;
                logged.push_back(line);
            }
            EXPECT_EQ(line.message.find("brassel:"), std::string::npos) << "prefix repeated: " << datagram;
        }
        EXPECT_EQ(logged.size(), expected.size());
    }
}

TEST(SystemLog, ForegroundServerKeepsItsMessagesOnTheStreams)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "a private /dev needs root";
    TempDir scratch;
    const std::string fonts = scratch.file("no-such-fonts");
    const LogResult result = runWithSystemLog(
        "pipes", "cannot regenerate",
        {brasselBinary(), "--dir", fonts, "--cache", scratch.path(), "--notcp"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.log.empty()) << result.log.front();
    ASSERT_FALSE(result.err.empty());
    EXPECT_EQ(result.err.back(), "brassel: error: cannot regenerate font database");
}
