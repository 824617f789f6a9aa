// Many X servers connecting at once, against the real server: 200 clients,
// 50 at a time, each connecting, doing the connection setup and one request
// (ListExtensions), then closing. Run over TCP with blocking connects and
// over the Unix socket with non-blocking connects, as the X font library
// makes them (it gives up at once when the listen queue is full). Prints
// p50, p99 and the worst time from connect to reply, the clients that were
// refused or not served, and the kernel's TCP listen-queue overflows during
// the run.
//
//   connect_load_bench [CLIENTS [AT_ONCE]]
//
// $BRASSEL_TEST_BINARY selects another server binary to compare against.
#include "support/fs_client.h"
#include "support/paths.h"
#include "support/process.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// TcpExt ListenOverflows of /proc/net/netstat (system-wide), or -1.
long listenOverflows()
{
    std::ifstream netstat("/proc/net/netstat");
    std::string names, values;
    while (std::getline(netstat, names) && std::getline(netstat, values)) {
        if (names.rfind("TcpExt:", 0) != 0)
            continue;
        std::istringstream n(names), v(values);
        std::string name, value;
        while (n >> name && v >> value)
            if (name == "ListenOverflows")
                return std::atol(value.c_str());
    }
    return -1;
}

// A non-blocking connect to the Unix socket; -1 (errno set) when refused.
int connectUnixNonBlocking(const std::string& path)
{
    const int descriptor = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    if (connect(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        close(descriptor);
        errno = error;
        return -1;
    }
    fcntl(descriptor, F_SETFL, 0);
    return descriptor;
}

struct Outcome {
    std::vector<double> milliseconds;
    int refused = 0;
    int unserved = 0;
};

Outcome run(const ServerProcess& server, bool unix, int clients, int atOnce)
{
    Outcome outcome;
    std::mutex lock;
    std::atomic<int> next{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < atOnce; w++)
        workers.emplace_back([&] {
            while (next.fetch_add(1) < clients) {
                const auto start = Clock::now();
                FsClient client;
                bool connected;
                if (unix) {
                    const int descriptor = connectUnixNonBlocking(server.socketPath());
                    connected = descriptor >= 0;
                    if (connected)
                        client.adopt(descriptor);
                } else {
                    connected = client.connectTcp(server.port());
                }
                const bool served =
                    connected && client.setup(60000) && client.request(makeRequest(1), 60000).isReply();
                const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
                std::lock_guard<std::mutex> hold(lock);
                if (!connected)
                    outcome.refused++;
                else if (!served)
                    outcome.unserved++;
                else
                    outcome.milliseconds.push_back(elapsed);
            }
        });
    for (std::thread& worker : workers)
        worker.join();
    std::sort(outcome.milliseconds.begin(), outcome.milliseconds.end());
    return outcome;
}

double percentile(const std::vector<double>& sorted, double fraction)
{
    if (sorted.empty())
        return 0;
    const size_t index = std::min(sorted.size() - 1, static_cast<size_t>(fraction * sorted.size()));
    return sorted[index];
}

} // namespace

int main(int argc, char** argv)
{
    const int clients = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    const int atOnce = argc > 2 ? std::max(1, std::atoi(argv[2])) : 50;
    ServerProcess server;
    if (!server.start() || !server.waitListening()) {
        std::fprintf(stderr, "the server did not start: %s\n", server.err().c_str());
        return 1;
    }
    std::printf("%s: %d clients, %d at a time\n", brasselBinary().c_str(), clients, atOnce);
    for (bool unix : {false, true}) {
        const long overflowsBefore = listenOverflows();
        const Outcome outcome = run(server, unix, clients, atOnce);
        const long overflows = listenOverflows() - overflowsBefore;
        std::printf("%-32s p50 %9.1f ms  p99 %9.1f ms  worst %9.1f ms  served %3zu  refused %3d  unserved %3d",
                    unix ? "Unix socket, non-blocking connect" : "TCP", percentile(outcome.milliseconds, 0.50),
                    percentile(outcome.milliseconds, 0.99),
                    outcome.milliseconds.empty() ? 0.0 : outcome.milliseconds.back(), outcome.milliseconds.size(),
                    outcome.refused, outcome.unserved);
        if (!unix)
            std::printf("  listen overflows %ld", overflows);
        std::printf("\n");
    }
    return 0;
}
