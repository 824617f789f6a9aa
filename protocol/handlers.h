// The request handlers, one per opcode, grouped by source file. Each gets
// the connection with the request in requestBuffer and writes its own reply
// or error.
#pragma once

struct Connection;

// protocol_server_state.cpp: opcodes 0 to 12.
void handleNoOp(Connection& connection);
void handleListExtensions(Connection& connection);
void handleQueryExtension(Connection& connection);
void handleListCatalogues(Connection& connection);
void handleSetCatalogues(Connection& connection);
void handleGetCatalogues(Connection& connection);
void handleSetEventMask(Connection& connection);
void handleGetEventMask(Connection& connection);
void handleCreateAC(Connection& connection);
void handleFreeAC(Connection& connection);
void handleSetAuthorization(Connection& connection);
void handleSetResolution(Connection& connection);
void handleGetResolution(Connection& connection);

// protocol_listing.cpp: opcodes 13 and 14.
void handleListFonts(Connection& connection);
void handleListFontsWithXInfo(Connection& connection);

// protocol_open.cpp: opcode 15.
void handleOpenBitmapFont(Connection& connection);

// protocol_info.cpp: opcodes 16 to 18.
void handleQueryXInfo(Connection& connection);
void handleQueryXExtents8(Connection& connection);
void handleQueryXExtents16(Connection& connection);

// protocol_bitmaps.cpp: opcodes 19 to 21.
void handleQueryXBitmaps8(Connection& connection);
void handleQueryXBitmaps16(Connection& connection);
void handleCloseFont(Connection& connection);

// Releases the database mapping, re-synchronises the font directory and
// maps the new files, then clears this process's reload request. Used by
// SetCatalogues and by the request loop after a hang-up signal.
void resynchroniseDatabase();
