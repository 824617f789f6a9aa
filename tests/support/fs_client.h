// A font service protocol client for tests, over TCP or the Unix socket.
// Every read has a time limit, so a server that does not answer fails the
// test instead of hanging it. Fields are in host byte order, as the server
// speaks it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A reply or error as received: `bytes` holds all of it, header included.
struct FsReply {
    bool received = false; // false: nothing complete arrived in time
    std::vector<uint8_t> bytes;

    bool isError() const { return received && !bytes.empty() && bytes[0] == 1; }
    bool isReply() const { return received && !bytes.empty() && bytes[0] == 0; }
    uint8_t detail() const { return bytes.size() > 1 ? bytes[1] : 0; }
    uint16_t sequence() const { return get16(2); }
    uint32_t length() const { return get32(4); }
    // For errors: the error code and the failed request's opcode.
    uint8_t errorCode() const { return detail(); }
    uint8_t errorOpcode() const { return bytes.size() > 12 ? bytes[12] : 0; }

    uint8_t get8(size_t offset) const { return offset < bytes.size() ? bytes[offset] : 0; }
    uint16_t get16(size_t offset) const;
    uint32_t get32(size_t offset) const;
};

// Builds a request: opcode, the request-specific byte and the body; the
// length field is computed from the padded size unless `lengthUnits` is
// given.
std::vector<uint8_t> makeRequest(uint8_t opcode, uint8_t detail = 0, const std::vector<uint8_t>& body = {},
                                 int lengthUnits = -1);
void append16(std::vector<uint8_t>& bytes, uint16_t value);
void append32(std::vector<uint8_t>& bytes, uint32_t value);

class FsClient {
public:
    FsClient() = default;
    ~FsClient();
    FsClient(const FsClient&) = delete;
    FsClient& operator=(const FsClient&) = delete;

    bool connectTcp(int port);
    bool connectUnix(const std::string& path);
    // Takes over an already connected descriptor (for example one end of a
    // socket pair whose other end is a server's standard input).
    void adopt(int connectedDescriptor);
    bool connected() const { return descriptor >= 0; }

    // Sends the host-order connection prefix and reads the 28-byte setup
    // reply into setupReply; false when it does not come.
    bool setup(int timeoutMilliseconds = 5000);
    std::vector<uint8_t> setupReply;

    bool send(const std::vector<uint8_t>& bytes);
    // Sends a request and reads what comes back.
    FsReply request(const std::vector<uint8_t>& bytes, int timeoutMilliseconds = 5000);
    FsReply readReply(int timeoutMilliseconds = 5000);
    // Up to `count` bytes; fewer when time runs out or the server closes.
    std::vector<uint8_t> readBytes(size_t count, int timeoutMilliseconds = 5000);
    // True when the server closes the connection within the time limit
    // (any bytes that arrive first are discarded).
    bool closedByServer(int timeoutMilliseconds = 5000);
    // True when nothing at all arrives within the time.
    bool silentFor(int milliseconds);
    void close();

private:
    int descriptor = -1;
};
