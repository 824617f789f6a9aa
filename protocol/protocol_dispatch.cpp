// The dispatch table: one handler per opcode of the protocol, 0 to 21.
#include "protocol/connection.h"
#include "protocol/handlers.h"

namespace {

using Handler = void (*)(Connection&);

constexpr Handler HANDLERS[] = {
    handleNoOp,               // 0
    handleListExtensions,     // 1
    handleQueryExtension,     // 2
    handleListCatalogues,     // 3
    handleSetCatalogues,      // 4
    handleGetCatalogues,      // 5
    handleSetEventMask,       // 6
    handleGetEventMask,       // 7
    handleCreateAC,           // 8
    handleFreeAC,             // 9
    handleSetAuthorization,   // 10
    handleSetResolution,      // 11
    handleGetResolution,      // 12
    handleListFonts,          // 13
    handleListFontsWithXInfo, // 14
    handleOpenBitmapFont,     // 15
    handleQueryXInfo,         // 16
    handleQueryXExtents8,     // 17
    handleQueryXExtents16,    // 18
    handleQueryXBitmaps8,     // 19
    handleQueryXBitmaps16,    // 20
    handleCloseFont,          // 21
};

constexpr int HANDLER_COUNT = sizeof HANDLERS / sizeof HANDLERS[0];
static_assert(HANDLER_COUNT == 22);

} // namespace

void dispatchRequest(Connection& connection)
{
    const uint8_t opcode = connection.opcode();
    if (opcode >= HANDLER_COUNT) {
        sendError(connection, BAD_REQUEST);
        return;
    }
    HANDLERS[opcode](connection);
}
