// Feeds arbitrary bytes to a served connection: the connection setup, then
// the request loop and every handler behind the dispatch table. The requests
// come from a pipe whose other end is closed, so the loop ends at their end;
// replies go to the pipe's read end, which refuses writes.
#include "database/database.h"
#include "protocol/connection.h"
#include "raster/raster_slot.h"
#include "server/settings.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

// A font directory of one real font with its database, so that listing and
// opening have something to work on; SetCatalogues rebuilds it here too.
void prepareOnce()
{
    static bool prepared = false;
    if (prepared)
        return;
    prepared = true;
    static std::string directory = (std::filesystem::temp_directory_path() / "brassel-request-fuzz").string();
    std::error_code ignored;
    std::filesystem::create_directories(directory, ignored);
    std::filesystem::copy_file("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", directory + "/DejaVuSans.ttf",
                               std::filesystem::copy_options::skip_existing, ignored);
    settings.fontDirectory = directory.c_str();
    settings.cacheDirectory = directory.c_str();
    // The serving process keeps its own ids.
    settings.runUid = getuid();
    settings.runGid = getgid();
    syncDatabase(false);
    openDatabase();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    prepareOnce();
    // A client sends its prefix and waits for the setup reply, so the setup
    // read sees only the prefix: the first 12 bytes here, the rest is the
    // request stream.
    const size_t prefix = size < 12 ? size : 12;
    if (prefix < 8 || !setupConnection(-1, data, prefix))
        return 0;
    data += prefix;
    size -= prefix;
    // A pipe holds 64 KiB without a reader; longer inputs add nothing new.
    if (size > 65536)
        size = 65536;
    int ends[2];
    if (pipe(ends) != 0)
        return 0;
    if (size > 0 && write(ends[1], data, size) != static_cast<ssize_t>(size)) {
        close(ends[0]);
        close(ends[1]);
        return 0;
    }
    close(ends[1]);
    serveConnection(ends[0], data - prefix, prefix);
    // A serving process ends with its connection; here the next input
    // starts with the fonts of this one closed, as a new process would.
    for (FontSlot& slot : fontSlots)
        if (slot.fontId != 0)
            closeFontSlot(slot);
    return 0;
}
