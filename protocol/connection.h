// One served client of the font service protocol: its state, the framing of
// its requests and the writer every request handler assembles replies with.
//
// Every multi-byte field on the wire is in the host's own byte order: clients
// of the other order are refused at setup, so nothing is ever swapped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "raster/raster.h"

constexpr int REQUEST_BUFFER_SIZE = 4096;
constexpr int REPLY_BUFFER_SIZE = 4194304;
// Largest request length field accepted, in 4-byte units (4096 bytes).
constexpr int MAX_REQUEST_UNITS = 1024;
constexpr int DEFAULT_RESOLUTION = 96;

// Error codes the server sends.
constexpr uint8_t BAD_REQUEST = 0;
constexpr uint8_t BAD_FONT = 2;
constexpr uint8_t BAD_NAME = 7;
constexpr uint8_t BAD_ALLOC = 9;
constexpr uint8_t BAD_LENGTH = 10;
constexpr uint8_t BAD_IMPLEMENTATION = 11;

struct Connection {
    int descriptor = -1;
    // Incremented before each request; its low 16 bits go into every reply.
    int sequence = 0;
    uint32_t eventMask = 0;
    // The current request, from offset 0. Bytes a short request did not
    // send still hold what earlier requests left there.
    uint8_t requestBuffer[REQUEST_BUFFER_SIZE] = {};
    // REPLY_BUFFER_SIZE bytes from memAlloc, for the larger replies.
    uint8_t* replyBuffer = nullptr;
    int resolutionX = DEFAULT_RESOLUTION;
    int resolutionY = DEFAULT_RESOLUTION;
    // Whole points; 0 until a SetResolution names one.
    int defaultPointSize = 0;
    // Set by the request loop before each request: whether any byte of its
    // answer went out, and whether writeBytes held the answer back because
    // a mapped file lost pages under the request.
    bool answerStarted = false;
    bool answerWithheld = false;
    // Constructed when the serving process starts on the connection; renders
    // every font this connection opens.
    std::unique_ptr<Rasterizer> rasterizer;

    uint8_t opcode() const { return requestBuffer[0]; }
    // The request-specific byte of the header (a count or a flag).
    uint8_t detail() const { return requestBuffer[1]; }
    // The declared length of the current request in bytes (length field x 4).
    int requestLength() const;

    // Host-order fields of the current request. An offset whose field would
    // reach past the request buffer reads as 0, so no handler can read
    // outside it.
    uint8_t get8(int offset) const;
    uint16_t get16(int offset) const;
    uint32_t get32(int offset) const;
};

// True when the declared length of the current request covers `needed`
// bytes; otherwise writes the error BadLength and returns false. Handlers
// call it once, at the top, with everything they are going to read.
bool checkRequestLength(Connection& connection, int needed);

// Writes the 16-byte error `code` for the current request.
void sendError(Connection& connection, uint8_t code);

// Writes raw bytes to the client, all of them unless the connection fails;
// failures are not reported (the next read notices a departed client).
void writeBytes(Connection& connection, const void* bytes, size_t count);

// Assembles a reply in a caller's buffer (the connection's replyBuffer for
// large replies, a small local array otherwise). Puts past the capacity are
// dropped and mark the writer overflowed, so it never writes out of bounds;
// handlers ask fits() before adding variable-sized parts.
class ReplyWriter {
public:
    ReplyWriter(uint8_t* buffer, size_t capacity) : buffer(buffer), capacity(capacity) {}

    // The 8-byte reply header: 0, `detail`, low 16 bits of the sequence, and
    // a length that finish() fills in.
    void header(const Connection& connection, uint8_t detail = 0);

    void put8(uint8_t value);
    void put16(uint16_t value);
    void put32(uint32_t value);
    void putBytes(const void* bytes, size_t count);
    // Zero bytes up to the next multiple of 4.
    void pad();
    // Overwrites an already written field.
    void set16(size_t offset, uint16_t value);
    void set32(size_t offset, uint32_t value);

    bool fits(size_t count) const { return !overflowed && count <= capacity - used; }
    size_t size() const { return used; }
    bool isOverflowed() const { return overflowed; }
    const uint8_t* data() const { return buffer; }

    // Pads, stores the length in 4-byte units into the header and writes the
    // reply in one write. `extraUnits` counts parts the caller writes itself
    // right afterwards with writeBytes (a reply may take up to three writes).
    // An overflowed reply is not sent.
    void finish(Connection& connection, uint32_t extraUnits = 0);

private:
    uint8_t* buffer;
    size_t capacity;
    size_t used = 0;
    bool overflowed = false;
};

// The client's first bytes (the setup read, at least 8 of them): writes the
// setup reply and returns true, or logs why and returns false.
bool setupConnection(int descriptor, const uint8_t* prefix, size_t count);

// Serves an accepted client until it closes: switches to the configured
// group and user, allocates the reply buffer and runs the request loop; at
// the end shuts the socket down (not under inetd) and closes it. The setup
// read's bytes become the request buffer's first contents.
void serveConnection(int descriptor, const uint8_t* prefix, size_t count);

// Reads the client's prefix (one read of at most 4096 bytes) and runs the
// setup; when the client is accepted serves it. Either way the descriptor
// is closed on return. Returns true if the client was served, false if it
// was rejected (fewer than 8 bytes, or a refused byte order).
bool runClient(int descriptor);

// Handles the request in connection.requestBuffer by its opcode.
void dispatchRequest(Connection& connection);
