// Connection setup, the user switch of the serving process and the request
// loop that frames requests and hands them to their handlers.
#include "protocol/connection.h"

#include "database/database.h"
#include "font/mapped_file.h"
#include "protocol/handlers.h"
#include "raster/raster_slot.h"
#include "server/endpoints.h"
#include "server/lifecycle.h"
#include "server/messages.h"
#include "server/settings.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr uint8_t ORDER_MSB_FIRST = 0x42; // "B"
constexpr uint8_t ORDER_LSB_FIRST = 0x6C; // "l"

bool hostIsLittleEndian()
{
    const uint16_t probe = 1;
    uint8_t first;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

// Reads exactly `count` bytes unless the client closes or the read fails.
bool readFully(int descriptor, uint8_t* into, size_t count)
{
    size_t got = 0;
    while (got < count) {
        const ssize_t n = read(descriptor, into + got, count - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

// Supplementary groups go first, while the process may still change them:
// otherwise a child switched to an ordinary user would keep root's groups.
void switchUser()
{
    const gid_t group = settings.runGid;
    const uid_t user = settings.runUid;
    const bool switching = group != getgid() || user != getuid();
    if (switching && setgroups(1, &group) != 0) {
        logError("cannot set new group id");
        cleanUp();
        std::exit(0);
    }
    if (setgid(group) != 0) {
        logError("cannot set new group id");
        cleanUp();
        std::exit(0);
    }
    if (setuid(user) != 0) {
        logError("cannot set new user id");
        cleanUp();
        std::exit(0);
    }
}

// Reads one request into the buffer; false when the connection is over.
bool readRequest(Connection& connection)
{
    if (!readFully(connection.descriptor, connection.requestBuffer, 4))
        return false;
    if (connection.get16(2) > MAX_REQUEST_UNITS) {
        sendError(connection, BAD_LENGTH);
        return false;
    }
    // Length fields of 0 and 1 leave just the header.
    const int length = connection.requestLength();
    if (length <= 4)
        return true;
    return readFully(connection.descriptor, connection.requestBuffer + 4, static_cast<size_t>(length - 4));
}

// A file mapped by this process shrank under the request just handled:
// the fonts whose files lost pages are closed (the client's later requests
// for them get BadFont), a database that lost pages is rebuilt, and then a
// withheld answer becomes an error, so that the client's next request
// already finds the rebuilt database.
void recoverFromMappingFault(Connection& connection)
{
    bool fontDropped = false;
    for (FontSlot& slot : fontSlots)
        if (slot.fontId != 0 && mappingFaulted(slot.font->base())) {
            closeFontSlot(slot);
            fontDropped = true;
        }
    if (mappingFaulted(fontDatabase.infoMap) || mappingFaulted(fontDatabase.nameMap))
        resynchroniseDatabase();
    if (connection.answerWithheld)
        sendError(connection, fontDropped ? BAD_FONT : BAD_IMPLEMENTATION);
}

} // namespace

bool setupConnection(int descriptor, const uint8_t* prefix, size_t count)
{
    if (count < 1 || (prefix[0] != ORDER_MSB_FIRST && prefix[0] != ORDER_LSB_FIRST)) {
        logError("invalid byteorder, giving up");
        return false;
    }
    if (prefix[0] != (hostIsLittleEndian() ? ORDER_LSB_FIRST : ORDER_MSB_FIRST)) {
        logError("byteorder mismatch, giving up");
        return false;
    }
    Connection scratch;
    scratch.descriptor = descriptor;

    uint8_t status[12];
    ReplyWriter first(status, sizeof status);
    first.put16(0); // success
    first.put16(2); // protocol 2.0
    first.put16(0);
    first.put8(0);  // no alternate servers
    first.put8(0);  // no authorization accepted
    first.put16(0);
    first.put16(0);
    writeBytes(scratch, first.data(), first.size());

    uint8_t server[16];
    ReplyWriter second(server, sizeof server);
    second.put32(4);
    second.put16(MAX_REQUEST_UNITS);
    second.put16(2);
    second.put32(1); // release
    second.putBytes("QX", 2);
    second.pad();
    writeBytes(scratch, second.data(), second.size());
    return true;
}

void serveConnection(int descriptor, const uint8_t* prefix, size_t count)
{
    switchUser();

    Connection connection;
    connection.descriptor = descriptor;
    connection.rasterizer = std::make_unique<Rasterizer>();
    std::memcpy(connection.requestBuffer, prefix, count < sizeof connection.requestBuffer ? count : sizeof connection.requestBuffer);
    if (settings.forcedResolution != 0)
        connection.resolutionX = connection.resolutionY = settings.forcedResolution;
    connection.replyBuffer = static_cast<uint8_t*>(memAlloc(REPLY_BUFFER_SIZE));
    if (connection.replyBuffer == nullptr) {
        logError("cannot allocate reply buffer");
    } else {
        for (;;) {
            connection.sequence++;
            if (reloadRequested)
                resynchroniseDatabase();
            if (!readRequest(connection))
                break;
            // A hang-up that came while the read was waiting is answered
            // before this request, not only after it.
            if (reloadRequested)
                resynchroniseDatabase();
            connection.answerStarted = connection.answerWithheld = false;
            // Faults while waiting (a synchronisation reading a font that
            // shrank) concern no request.
            takeMappingFault();
            dispatchRequest(connection);
            if (takeMappingFault())
                recoverFromMappingFault(connection);
        }
        memFree(connection.replyBuffer, REPLY_BUFFER_SIZE);
        connection.replyBuffer = nullptr;
    }
    if (!settings.inetdMode)
        shutdown(descriptor, SHUT_RDWR);
    close(descriptor);
    connection.rasterizer.reset();
}

bool runClient(int descriptor)
{
    // Replies go out in two or three writes (the setup reply always in two):
    // with Nagle's algorithm a TCP client's delayed acknowledgement would
    // hold each later write back for tens of milliseconds. Fails harmlessly
    // on a Unix socket or a non-socket under inetd.
    const int noDelay = 1;
    setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);

    // A fault the accepting process met before the fork (a font that
    // shrank while the database was rebuilt at start) must not hold back
    // this client's answers.
    takeMappingFault();

    uint8_t prefix[REQUEST_BUFFER_SIZE];
    ssize_t count;
    do
        count = read(descriptor, prefix, sizeof prefix);
    while (count < 0 && errno == EINTR);
    // Anything after the first 8 bytes (authorization data, an early
    // request) is not looked at.
    if (count < 8 || !setupConnection(descriptor, prefix, static_cast<size_t>(count))) {
        close(descriptor);
        return false;
    }
    serveConnection(descriptor, prefix, static_cast<size_t>(count));
    return true;
}
