#include "support/process.h"

#include "support/paths.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int decodeStatus(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

std::vector<char*> toArgv(const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    return argv;
}

// Waits for `process` to end for at most `timeoutMilliseconds`; the decoded
// status, or -2 when it is still running.
int waitFor(pid_t process, int timeoutMilliseconds)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    for (;;) {
        int status = 0;
        const pid_t ended = waitpid(process, &status, WNOHANG);
        if (ended == process)
            return decodeStatus(status);
        if (ended < 0 && errno != EINTR)
            return -1;
        if (Clock::now() >= deadline)
            return -2;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool isListedAsListening(const std::string& table, const std::string& needle, bool unixTable)
{
    std::ifstream in(table);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        if (unixTable) {
            // Num RefCount Protocol Flags Type St Inode Path
            std::string num, refs, protocol, flags, type, state, inode, path;
            fields >> num >> refs >> protocol >> flags >> type >> state >> inode >> path;
            if (path == needle && flags == "00010000")
                return true;
        } else {
            // sl local_address rem_address st ...
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            if (state == "0A" && local.size() > needle.size() &&
                local.compare(local.size() - needle.size(), needle.size(), needle) == 0)
                return true;
        }
    }
    return false;
}

bool contains(const std::vector<std::string>& arguments, const char* option)
{
    for (const std::string& argument : arguments)
        if (argument == option)
            return true;
    return false;
}

} // namespace

TempDir::TempDir() : TempDir(std::string(BUILD_DIR) + "/test-tmp") {}

TempDir::TempDir(const std::string& base)
{
    std::filesystem::create_directories(base);
    // Anyone may enter: servers run as an ordinary user use these too.
    chmod(base.c_str(), 0755);
    std::string pattern = base + "/XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr)
        chmod(pattern.c_str(), 0777);
    directory = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
}

CommandResult runCommand(const std::vector<std::string>& argv, const std::string& input, int timeoutSeconds)
{
    CommandResult result;
    int outPipe[2], errPipe[2], inPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0 || pipe(inPipe) != 0)
        return result;
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        for (int descriptor : {outPipe[0], outPipe[1], errPipe[0], errPipe[1], inPipe[0], inPipe[1]})
            ::close(descriptor);
        std::vector<char*> arguments = toArgv(argv);
        execvp(arguments[0], arguments.data());
        _exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    ::close(inPipe[0]);
    // Feed the input without blocking on a child that does not read it.
    signal(SIGPIPE, SIG_IGN);
    fcntl(inPipe[1], F_SETFL, O_NONBLOCK);
    size_t fed = 0;
    if (input.empty()) {
        ::close(inPipe[1]);
        inPipe[1] = -1;
    }

    const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    bool outOpen = true, errOpen = true;
    while ((outOpen || errOpen) && Clock::now() < deadline) {
        pollfd watched[3] = {{outOpen ? outPipe[0] : -1, POLLIN, 0},
                             {errOpen ? errPipe[0] : -1, POLLIN, 0},
                             {inPipe[1], POLLOUT, 0}};
        if (poll(watched, 3, 50) < 0 && errno != EINTR)
            break;
        char buffer[65536];
        for (int i = 0; i < 2; i++) {
            if ((watched[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0)
                continue;
            const ssize_t n = read(watched[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
            } else {
                (i == 0 ? outOpen : errOpen) = false;
            }
        }
        if (inPipe[1] >= 0 && (watched[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t n = write(inPipe[1], input.data() + fed, input.size() - fed);
            if (n > 0)
                fed += static_cast<size_t>(n);
            if (n < 0 || fed == input.size()) {
                ::close(inPipe[1]);
                inPipe[1] = -1;
            }
        }
    }
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    if (inPipe[1] >= 0)
        ::close(inPipe[1]);
    const int remaining = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    result.status = waitFor(child, remaining > 0 ? remaining : 0);
    if (result.status == -2) {
        kill(child, SIGKILL);
        waitFor(child, 5000);
        result.status = -1;
    }
    return result;
}

std::string brasselBinary()
{
    const char* chosen = std::getenv("BRASSEL_TEST_BINARY");
    return chosen != nullptr && *chosen != '\0' ? chosen : BRASSEL_BINARY;
}

CommandResult runBrassel(const std::vector<std::string>& arguments, int timeoutSeconds)
{
    std::vector<std::string> argv{brasselBinary()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runCommand(argv, "", timeoutSeconds);
}

// The folder right below /tmp that holds path ("/tmp/x" for "/tmp/x/y/z"),
// or "" when path is not below /tmp.
static std::string topFolderInTmp(const std::string& path)
{
    if (path.rfind("/tmp/", 0) != 0)
        return "";
    return path.substr(0, path.find('/', 5));
}

bool buildBelowTmp()
{
    return !topFolderInTmp(BUILD_DIR).empty();
}

CommandResult runInPrivateTmp(const std::string& script, int timeoutSeconds, bool carryCheckout)
{
    // A checkout that itself lies below /tmp would vanish under the fresh
    // /tmp together with the server binary and the fixtures: carry its
    // folders across through a tmpfs on /mnt, which only this namespace sees.
    std::vector<std::string> tops;
    if (carryCheckout)
        for (const std::string& top : {topFolderInTmp(BUILD_DIR), topFolderInTmp(SOURCE_DIR)})
            if (!top.empty() && std::find(tops.begin(), tops.end(), top) == tops.end())
                tops.push_back(top);
    std::string park = "mount -t tmpfs tmpfs /mnt && ", restore;
    for (size_t i = 0; i < tops.size(); i++) {
        const std::string slot = "/mnt/" + std::to_string(i);
        park += "mkdir " + slot + " && mount --bind '" + tops[i] + "' " + slot + " && ";
        restore += "mkdir -p '" + tops[i] + "' && mount --bind " + slot + " '" + tops[i] + "' && ";
    }
    const std::string prepare = tops.empty() ? "mount -t tmpfs tmpfs /tmp && "
                                             : park + "mount -t tmpfs tmpfs /tmp && " + restore;
    return runCommand({"unshare", "--mount", "--propagation", "private", "sh", "-c",
                       prepare + "cd / && {\n" + script + "\n}"},
                      "", timeoutSeconds);
}

bool testUser(TestUser& user)
{
    if (geteuid() != 0)
        return false;
    static const char* name = "brasseltest";
    if (getpwnam(name) == nullptr)
        runCommand({"useradd", "--no-create-home", "--shell", "/usr/sbin/nologin", name});
    const passwd* entry = getpwnam(name);
    if (entry == nullptr)
        return false;
    user.uid = entry->pw_uid;
    user.gid = entry->pw_gid;
    return true;
}

std::vector<std::string> asTestUser(const TestUser& user)
{
    return {"setpriv", "--reuid=" + std::to_string(user.uid), "--regid=" + std::to_string(user.gid),
            "--clear-groups", "--"};
}

static int freeTcpPort()
{
    const int descriptor = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = 0;
    socklen_t size = sizeof address;
    int port = 0;
    if (bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    ::close(descriptor);
    return port;
}

int freePort()
{
    // Free on TCP and without a Unix socket of that number: a server
    // started with --notcp holds only the latter.
    for (int attempt = 0; attempt < 100; attempt++) {
        const int port = freeTcpPort();
        if (port != 0 && access(("/tmp/.font-unix/fs" + std::to_string(port)).c_str(), F_OK) != 0)
            return port;
    }
    return 0;
}


std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

void writeFile(const std::string& path, const std::string& contents)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
}

bool databaseAvailable()
{
    static const bool available = [] {
        TempDir cache;
        runBrassel({"--sync", "--dir", fixturePath("one_font"), "--cache", cache.path()});
        return std::filesystem::exists(cache.file("ttinfo.dir"));
    }();
    return available;
}

ServerProcess::~ServerProcess()
{
    if (process <= 0 || status != -1)
        return;
    // Terminated, the server removes its socket file itself; only one that
    // does not end in time is killed, and its socket file removed here.
    kill(-process, SIGTERM);
    if (waitFor(process, 3000) == -2) {
        kill(-process, SIGKILL);
        waitFor(process, 5000);
        unlink(socketPath().c_str());
    }
}

bool ServerProcess::start(const std::vector<std::string>& arguments, const std::vector<std::string>& prefix,
                          int standardInput)
{
    std::vector<std::string> argv(prefix);
    argv.push_back(brasselBinary());
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    serverPort = 0;
    for (size_t i = 0; i + 1 < arguments.size(); i++)
        if (arguments[i] == "--port")
            serverPort = std::atoi(arguments[i + 1].c_str());
    if (serverPort == 0) {
        serverPort = freePort();
        argv.insert(argv.end(), {"--port", std::to_string(serverPort)});
    }
    if (!contains(arguments, "--dir"))
        argv.insert(argv.end(), {"--dir", fixturePath("one_font")});
    cache = scratch.file("cache");
    for (size_t i = 0; i + 1 < arguments.size(); i++)
        if (arguments[i] == "--cache")
            cache = arguments[i + 1];
    if (!contains(arguments, "--cache")) {
        std::filesystem::create_directories(cache);
        chmod(cache.c_str(), 0777);
        argv.insert(argv.end(), {"--cache", cache});
    }
    tcp = !contains(arguments, "--notcp");

    commandLine = argv;
    input = standardInput;
    return launch();
}

bool ServerProcess::launch()
{
    const std::vector<std::string>& argv = commandLine;
    const int standardInput = input;
    const std::string outPath = scratch.file("stdout");
    const std::string errPath = scratch.file("stderr");
    std::fflush(nullptr);
    process = fork();
    if (process < 0)
        return false;
    if (process == 0) {
        // A group of its own, so the destructor can end the serving
        // children together with the server.
        setpgid(0, 0);
        const int in = standardInput >= 0 ? standardInput : open("/dev/null", O_RDONLY);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        // The server must not inherit the test's own sockets: a copy of a
        // client's end would keep its connections from ever closing.
        for (int descriptor = 3; descriptor < 1024; descriptor++)
            ::close(descriptor);
        std::vector<char*> arguments = toArgv(argv);
        execvp(arguments[0], arguments.data());
        _exit(127);
    }
    setpgid(process, process);
    status = -1;
    return true;
}

bool ServerProcess::waitListening(int timeoutMilliseconds)
{
    char portHex[8];
    std::snprintf(portHex, sizeof portHex, ":%04X", serverPort);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    while (Clock::now() < deadline) {
        const bool listening =
            tcp ? isListedAsListening("/proc/net/tcp", portHex, false) ||
                      isListedAsListening("/proc/net/tcp6", portHex, false)
                : isListedAsListening("/proc/net/unix", socketPath(), true);
        if (listening)
            return true;
        if (!running()) {
            // Servers of tests running in parallel share /tmp/.font-unix:
            // one removing it as it ends can race another making its socket
            // there. Such a start is tried once more.
            const std::string messages = err();
            const bool lostDirectory = messages.find("could not write to ") != std::string::npos ||
                                       messages.find("cannot create socket directory") != std::string::npos;
            if (status != 1 || !lostDirectory || relaunched)
                return false;
            relaunched = true;
            if (!launch())
                return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

bool ServerProcess::running()
{
    if (process <= 0 || status != -1)
        return false;
    const int ended = waitFor(process, 0);
    if (ended == -2)
        return true;
    status = ended;
    return false;
}

int ServerProcess::wait(int timeoutMilliseconds)
{
    if (process <= 0)
        return -1;
    if (status != -1)
        return status;
    const int ended = waitFor(process, timeoutMilliseconds);
    if (ended == -2)
        return -1;
    status = ended;
    return status;
}

int ServerProcess::stop(int signal, int timeoutMilliseconds)
{
    if (running())
        kill(process, signal);
    return wait(timeoutMilliseconds);
}

std::string ServerProcess::out() const
{
    return readFile(scratch.file("stdout"));
}

std::string ServerProcess::err() const
{
    return readFile(scratch.file("stderr"));
}

std::string ServerProcess::socketPath() const
{
    return "/tmp/.font-unix/fs" + std::to_string(serverPort);
}
