#include "server/endpoints.h"

#include "protocol/connection.h"
#include "server/lifecycle.h"
#include "server/messages.h"
#include "server/settings.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

const char* socketPath = nullptr;
std::vector<int> listeners;

namespace {

// As long a queue as the system allows: an X server connects non-blocking
// and gives up at once when the queue is full, and a short TCP queue makes
// refused clients wait for their SYN retries, seconds each, while the
// accepting process forks for the clients ahead of them.
constexpr int LISTEN_BACKLOG = SOMAXCONN;

char socketPathBuffer[sizeof(sockaddr_un::sun_path)];

[[noreturn]] void fail()
{
    std::exit(1);
}

// The socket directory must be a real root-owned sticky directory: anyone
// can create files in /tmp, and a directory planted by another user would
// let that user replace the server's socket.
void checkSocketDirectory()
{
    struct stat status;
    if (lstat(SOCKET_DIRECTORY, &status) != 0) {
        if (errno != ENOENT) {
            logError("cannot get metadata for socket directory %s", SOCKET_DIRECTORY);
            fail();
        }
        if (geteuid() != 0) {
            logError("cannot create socket directory %s owned by root", SOCKET_DIRECTORY);
            fail();
        }
        if (mkdir(SOCKET_DIRECTORY, 01777) != 0) {
            logError("cannot create socket directory %s", SOCKET_DIRECTORY);
            fail();
        }
        return;
    }
    if (!S_ISDIR(status.st_mode)) {
        logError("pre-existing socket directory %s is not a directory", SOCKET_DIRECTORY);
        fail();
    }
    if (status.st_uid != 0) {
        logError("pre-existing socket directory %s not owned by root", SOCKET_DIRECTORY);
        fail();
    }
    if ((status.st_mode & 020) == 0 || (status.st_mode & 002) == 0)
        logWarning("pre-existing socket directory %s is not world-writable %#o", SOCKET_DIRECTORY,
                   static_cast<unsigned>(status.st_mode & 07777));
    if ((status.st_mode & 01000) == 0) {
        logError("pre-existing socket directory %s is missing the sticky bit %#o", SOCKET_DIRECTORY,
                 static_cast<unsigned>(status.st_mode & 06777));
        fail();
    }
}

// The first readable listener, after waiting as long as it takes.
int waitForListener(int highest)
{
    for (;;) {
        fd_set readable;
        FD_ZERO(&readable);
        for (int listener : listeners)
            FD_SET(listener, &readable);
        if (select(highest + 1, &readable, nullptr, nullptr, nullptr) <= 0)
            continue;
        for (int listener : listeners)
            if (FD_ISSET(listener, &readable))
                return listener;
    }
}

int acceptClient(int highest)
{
    for (;;) {
        const int connection = accept(waitForListener(highest), nullptr, nullptr);
        if (connection >= 0)
            return connection;
        // Out of descriptors: pause instead of spinning on a listener that
        // stays readable.
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
            usleep(100000);
    }
}

} // namespace

void createUnixEndpoint()
{
    std::snprintf(socketPathBuffer, sizeof socketPathBuffer, "%s/fs%d", SOCKET_DIRECTORY, settings.port);
    socketPath = socketPathBuffer;

    const mode_t oldMask = umask(0);
    checkSocketDirectory();
    unlink(socketPath);

    const int descriptor = socket(AF_UNIX, SOCK_STREAM, 0);
    if (descriptor < 0) {
        logError("cannot create Unix socket; %s!", std::strerror(errno));
        fail();
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath, sizeof address.sun_path - 1);
    if (bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        logError("could not write to %s, please check permissions", socketPath);
        close(descriptor);
        fail();
    }
    listen(descriptor, LISTEN_BACKLOG);
    listeners.push_back(descriptor);
    umask(oldMask);
}

void createTcpEndpoints()
{
    if (!settings.tcpEnabled)
        return;
    addrinfo hints{};
    hints.ai_flags = AI_PASSIVE;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    char service[16];
    std::snprintf(service, sizeof service, "%d", settings.port);
    addrinfo* addresses = nullptr;
    const int result = getaddrinfo(nullptr, service, &hints, &addresses);
    if (result != 0) {
        std::perror(gai_strerror(result));
        return;
    }
    bool listening = false;
    for (const addrinfo* address = addresses; address != nullptr; address = address->ai_next) {
        const int descriptor = socket(address->ai_family, address->ai_socktype, address->ai_protocol);
        if (descriptor < 0)
            continue;
        const int on = 1;
        // Separate IPv4 and IPv6 sockets: a dual-stack IPv6 socket would
        // take the port from the IPv4 one.
        if (address->ai_family == AF_INET6 &&
            setsockopt(descriptor, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0) {
            logError("setting socket option (IPv6 only)");
            close(descriptor);
            continue;
        }
        if (setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
            logError("setting socket option (reuseaddr)");
            close(descriptor);
            continue;
        }
        if (bind(descriptor, address->ai_addr, address->ai_addrlen) != 0) {
            close(descriptor);
            continue;
        }
        listen(descriptor, LISTEN_BACKLOG);
        listeners.push_back(descriptor);
        listening = true;
    }
    if (!listening)
        logError("cannot open TCP/IP port %d, try another port; %s!", settings.port, std::strerror(errno));
    freeaddrinfo(addresses);
}

void acceptLoop()
{
    int highest = 0;
    for (int listener : listeners)
        highest = std::max(highest, listener);

    if (!settings.forkPerClient) {
        const int connection = settings.inetdMode ? 0 : acceptClient(highest);
        if (!runClient(connection))
            cleanUp();
        std::exit(0);
    }
    for (;;) {
        const int connection = acceptClient(highest);
        // The setup read happens in the child: a client that connects and
        // sends nothing must not hold up the acceptance of everyone else.
        // Buffered messages are flushed first so the child cannot repeat them.
        std::fflush(nullptr);
        const pid_t child = fork();
        if (child == 0) {
            // The child serves only its own connection. Kept listeners
            // would outlive a restarted server and hold its port, queueing
            // new clients on sockets nobody accepts, and would let a serving
            // process take other clients' connections.
            for (int listener : listeners)
                close(listener);
            listeners.clear();
            runClient(connection);
            std::exit(0);
        }
        waitpid(-1, nullptr, WNOHANG);
        close(connection);
    }
}

void cleanUp()
{
    if (getpid() != serverProcess)
        return;
    if (pidFileWritten)
        unlink(settings.pidFile);
    if (socketPath == nullptr)
        return;
    if (unlink(socketPath) != 0)
        logError("cannot remove sockfile %s: %s", socketPath, std::strerror(errno));
    rmdir(SOCKET_DIRECTORY);
}
