// Requests whose handlers are not written yet answer BadImplementation. Each
// definition goes away when its request group's source takes it over.
#include "protocol/connection.h"
#include "protocol/handlers.h"

void handleOpenBitmapFont(Connection& connection) { sendError(connection, BAD_IMPLEMENTATION); }
void handleQueryXInfo(Connection& connection) { sendError(connection, BAD_IMPLEMENTATION); }
void handleQueryXExtents8(Connection& connection) { sendError(connection, BAD_IMPLEMENTATION); }
void handleQueryXExtents16(Connection& connection) { sendError(connection, BAD_IMPLEMENTATION); }
void handleQueryXBitmaps8(Connection& connection) { sendError(connection, BAD_IMPLEMENTATION); }
void handleQueryXBitmaps16(Connection& connection) { sendError(connection, BAD_IMPLEMENTATION); }
void handleCloseFont(Connection& connection) { sendError(connection, BAD_IMPLEMENTATION); }
