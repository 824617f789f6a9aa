#include "support/fs_client.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

uint16_t FsReply::get16(size_t offset) const
{
    uint16_t value = 0;
    if (offset + 2 <= bytes.size())
        std::memcpy(&value, bytes.data() + offset, 2);
    return value;
}

uint32_t FsReply::get32(size_t offset) const
{
    uint32_t value = 0;
    if (offset + 4 <= bytes.size())
        std::memcpy(&value, bytes.data() + offset, 4);
    return value;
}

void append16(std::vector<uint8_t>& bytes, uint16_t value)
{
    const auto* raw = reinterpret_cast<const uint8_t*>(&value);
    bytes.insert(bytes.end(), raw, raw + 2);
}

void append32(std::vector<uint8_t>& bytes, uint32_t value)
{
    const auto* raw = reinterpret_cast<const uint8_t*>(&value);
    bytes.insert(bytes.end(), raw, raw + 4);
}

std::vector<uint8_t> makeRequest(uint8_t opcode, uint8_t detail, const std::vector<uint8_t>& body, int lengthUnits)
{
    std::vector<uint8_t> request{opcode, detail};
    const size_t padded = (4 + body.size() + 3) / 4 * 4;
    append16(request, static_cast<uint16_t>(lengthUnits >= 0 ? lengthUnits : static_cast<int>(padded / 4)));
    request.insert(request.end(), body.begin(), body.end());
    request.resize(padded, 0);
    return request;
}

FsClient::~FsClient()
{
    close();
}

void FsClient::close()
{
    if (descriptor >= 0)
        ::close(descriptor);
    descriptor = -1;
}

void FsClient::adopt(int connectedDescriptor)
{
    close();
    signal(SIGPIPE, SIG_IGN);
    descriptor = connectedDescriptor;
}

bool FsClient::connectTcp(int port)
{
    close();
    // A server that closes mid-reply must not end the test program.
    signal(SIGPIPE, SIG_IGN);
    descriptor = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close();
        return false;
    }
    // Requests go out as written: tests split them on purpose.
    const int on = 1;
    setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return true;
}

bool FsClient::connectUnix(const std::string& path)
{
    close();
    signal(SIGPIPE, SIG_IGN);
    descriptor = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (connect(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close();
        return false;
    }
    return true;
}

bool FsClient::send(const std::vector<uint8_t>& bytes)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = write(descriptor, bytes.data() + sent, bytes.size() - sent);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

std::vector<uint8_t> FsClient::readBytes(size_t count, int timeoutMilliseconds)
{
    std::vector<uint8_t> bytes;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    while (bytes.size() < count && descriptor >= 0) {
        pollfd watched{descriptor, POLLIN, 0};
        const int ready = poll(&watched, 1, millisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        uint8_t buffer[65536];
        const size_t wanted = count - bytes.size() < sizeof buffer ? count - bytes.size() : sizeof buffer;
        const ssize_t n = read(descriptor, buffer, wanted);
        if (n <= 0)
            break;
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
}

bool FsClient::setup(int timeoutMilliseconds)
{
    const uint16_t probe = 1;
    const uint8_t order = *reinterpret_cast<const uint8_t*>(&probe) == 1 ? 0x6C : 0x42;
    // Byte order, unused, protocol 2.0, no authorization.
    std::vector<uint8_t> prefix{order, 0};
    append16(prefix, 2);
    append16(prefix, 0);
    append16(prefix, 0);
    append16(prefix, 0);
    append16(prefix, 0);
    if (!send(prefix))
        return false;
    setupReply = readBytes(28, timeoutMilliseconds);
    return setupReply.size() == 28;
}

FsReply FsClient::readReply(int timeoutMilliseconds)
{
    FsReply reply;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    reply.bytes = readBytes(8, timeoutMilliseconds);
    if (reply.bytes.size() < 8)
        return reply;
    const size_t total = reply.isError() ? 16 : static_cast<size_t>(reply.length()) * 4;
    if (total > 8) {
        const std::vector<uint8_t> rest = readBytes(total - 8, millisecondsLeft(deadline));
        reply.bytes.insert(reply.bytes.end(), rest.begin(), rest.end());
    }
    reply.received = reply.bytes.size() >= total;
    return reply;
}

FsReply FsClient::request(const std::vector<uint8_t>& bytes, int timeoutMilliseconds)
{
    if (!send(bytes))
        return {};
    return readReply(timeoutMilliseconds);
}

bool FsClient::closedByServer(int timeoutMilliseconds)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    while (descriptor >= 0) {
        pollfd watched{descriptor, POLLIN, 0};
        const int ready = poll(&watched, 1, millisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        uint8_t buffer[4096];
        const ssize_t n = read(descriptor, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno == ECONNRESET))
            return true;
        if (n < 0)
            return false;
    }
    return false;
}

bool FsClient::silentFor(int milliseconds)
{
    pollfd watched{descriptor, POLLIN, 0};
    return poll(&watched, 1, milliseconds) == 0;
}
