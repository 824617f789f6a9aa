// Request fields, the reply writer and the error layout shared by every
// request handler.
#include "protocol/connection.h"

#include "font/mapped_file.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

int Connection::requestLength() const
{
    return get16(2) * 4;
}

uint8_t Connection::get8(int offset) const
{
    if (offset < 0 || offset >= REQUEST_BUFFER_SIZE)
        return 0;
    return requestBuffer[offset];
}

uint16_t Connection::get16(int offset) const
{
    uint16_t value = 0;
    if (offset >= 0 && offset <= REQUEST_BUFFER_SIZE - 2)
        std::memcpy(&value, requestBuffer + offset, sizeof value);
    return value;
}

uint32_t Connection::get32(int offset) const
{
    uint32_t value = 0;
    if (offset >= 0 && offset <= REQUEST_BUFFER_SIZE - 4)
        std::memcpy(&value, requestBuffer + offset, sizeof value);
    return value;
}

bool checkRequestLength(Connection& connection, int needed)
{
    if (connection.requestLength() >= needed)
        return true;
    sendError(connection, BAD_LENGTH);
    return false;
}

void sendError(Connection& connection, uint8_t code)
{
    uint8_t bytes[16];
    ReplyWriter error(bytes, sizeof bytes);
    error.put8(1);
    error.put8(code);
    error.put16(static_cast<uint16_t>(connection.sequence));
    error.put32(4);
    error.put32(0);
    error.put8(connection.opcode());
    error.pad();
    writeBytes(connection, error.data(), error.size());
}

void writeBytes(Connection& connection, const void* bytes, size_t count)
{
    // An answer built after a mapped file lost pages holds zeros where the
    // file's bytes were: it is withheld and the request loop sends an error
    // instead, unless part of the answer already went out and the stream
    // needs the rest.
    if (!connection.answerStarted && mappingFaultPending()) {
        connection.answerWithheld = true;
        return;
    }
    connection.answerStarted = true;
    // A large reply can be taken in pieces by the socket; a failed write
    // means the client is going or gone, which the next read notices.
    const auto* next = static_cast<const uint8_t*>(bytes);
    while (count > 0) {
        const ssize_t written = write(connection.descriptor, next, count);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        next += written;
        count -= static_cast<size_t>(written);
    }
}

void ReplyWriter::header(const Connection& connection, uint8_t detail)
{
    put8(0);
    put8(detail);
    put16(static_cast<uint16_t>(connection.sequence));
    put32(0);
}

void ReplyWriter::putBytes(const void* bytes, size_t count)
{
    if (!fits(count)) {
        overflowed = true;
        return;
    }
    if (count > 0)
        std::memcpy(buffer + used, bytes, count);
    used += count;
}

void ReplyWriter::put8(uint8_t value)
{
    putBytes(&value, sizeof value);
}

void ReplyWriter::put16(uint16_t value)
{
    putBytes(&value, sizeof value);
}

void ReplyWriter::put32(uint32_t value)
{
    putBytes(&value, sizeof value);
}

void ReplyWriter::pad()
{
    static const uint8_t zeros[4] = {};
    putBytes(zeros, (4 - used % 4) % 4);
}

void ReplyWriter::set16(size_t offset, uint16_t value)
{
    if (offset + sizeof value <= used)
        std::memcpy(buffer + offset, &value, sizeof value);
}

void ReplyWriter::set32(size_t offset, uint32_t value)
{
    if (offset + sizeof value <= used)
        std::memcpy(buffer + offset, &value, sizeof value);
}

void ReplyWriter::finish(Connection& connection, uint32_t extraUnits)
{
    pad();
    if (overflowed)
        return;
    set32(4, static_cast<uint32_t>(used / 4) + extraUnits);
    writeBytes(connection, buffer, used);
}
