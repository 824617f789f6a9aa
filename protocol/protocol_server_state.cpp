// The requests that touch no font: no-ops, extensions, catalogues, the event
// mask, access contexts, authorization and resolutions. No extensions,
// catalogues, access control or events exist, so most answers are fixed
// empty replies.
#include "protocol/connection.h"
#include "protocol/handlers.h"

#include "database/database.h"
#include "server/lifecycle.h"
#include "server/settings.h"

#include <cstdio>

namespace {

// Bytes of one SetResolution entry: x and y dots per inch, point size in
// tenths of a point.
constexpr int RESOLUTION_ENTRY_SIZE = 6;

// A fixed reply: the header with `detail`, then `zeroBytes` zero bytes.
void sendEmptyReply(Connection& connection, uint8_t detail, int zeroBytes)
{
    uint8_t bytes[32];
    ReplyWriter reply(bytes, sizeof bytes);
    reply.header(connection, detail);
    for (int i = 0; i < zeroBytes; i++)
        reply.put8(0);
    reply.finish(connection);
}

} // namespace

void resynchroniseDatabase()
{
    releaseDatabase();
    syncDatabase(false);
    openDatabase();
    reloadRequested = 0;
    // The synchronisation's messages must not wait in the buffer for a
    // terminating signal, which ends the process without flushing.
    std::fflush(stdout);
}

void handleNoOp(Connection&) {}

void handleListExtensions(Connection& connection)
{
    sendEmptyReply(connection, 0, 0);
}

void handleQueryExtension(Connection& connection)
{
    // Byte 1 = 0: not present; major/minor version, first event, first error.
    sendEmptyReply(connection, 0, 12);
}

void handleListCatalogues(Connection& connection)
{
    // Replies still to come and the number of names: both 0.
    sendEmptyReply(connection, 0, 8);
}

void handleSetCatalogues(Connection&)
{
    // Catalogues do not exist; a client setting them is asking the server
    // to look at its font directory again.
    resynchroniseDatabase();
}

void handleGetCatalogues(Connection& connection)
{
    sendEmptyReply(connection, 0, 0);
}

void handleSetEventMask(Connection& connection)
{
    connection.eventMask = connection.get32(4);
}

void handleGetEventMask(Connection& connection)
{
    uint8_t bytes[12];
    ReplyWriter reply(bytes, sizeof bytes);
    reply.header(connection);
    reply.put32(connection.eventMask);
    reply.finish(connection);
}

void handleCreateAC(Connection& connection)
{
    // Status success, no alternative authorization offered.
    sendEmptyReply(connection, 0, 4);
}

void handleFreeAC(Connection& connection)
{
    sendEmptyReply(connection, 0, 0);
}

void handleSetAuthorization(Connection&) {}

void handleSetResolution(Connection& connection)
{
    const int count = connection.detail();
    if (!checkRequestLength(connection, RESOLUTION_ENTRY_SIZE * count + 4) || count == 0)
        return;
    // Only the last entry has a lasting effect.
    const int last = 4 + RESOLUTION_ENTRY_SIZE * (count - 1);
    if (settings.forcedResolution == 0) {
        connection.resolutionX = connection.get16(last);
        connection.resolutionY = connection.get16(last + 2);
    }
    connection.defaultPointSize = connection.get16(last + 4) / 10;
}

void handleGetResolution(Connection& connection)
{
    uint8_t bytes[16];
    ReplyWriter reply(bytes, sizeof bytes);
    reply.header(connection, 1);
    reply.put16(static_cast<uint16_t>(connection.resolutionX));
    reply.put16(static_cast<uint16_t>(connection.resolutionY));
    reply.put16(static_cast<uint16_t>(connection.defaultPointSize * 10));
    reply.put16(0);
    reply.finish(connection);
}
