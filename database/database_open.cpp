// Mapping the database files into the process and checking their headers.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "database/database.h"
#include "database/database_files.h"
#include "font/mapped_file.h"
#include "server/messages.h"
#include "server/settings.h"

namespace {

// Maps one database file whole, read-only and shared. The two files report
// a failing fstat with different texts, kept as users know them.
bool mapFile(const std::string& path, const char* statFailure, const uint8_t*& map, uint32_t& size)
{
    int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        logError("cannot open font database!");
        return false;
    }
    struct stat status;
    if (fstat(descriptor, &status) != 0) {
        logError("%s", statFailure);
        close(descriptor);
        return false;
    }
    size = static_cast<uint32_t>(status.st_size);
    void* mapping = size ? mmap(nullptr, size, PROT_READ, MAP_SHARED, descriptor, 0) : MAP_FAILED;
    close(descriptor);
    if (mapping == MAP_FAILED) {
        // Nothing is mapped, so the release must not try to unmap it.
        size = 0;
        logError("cannot mmap font database!");
        return false;
    }
    map = static_cast<const uint8_t*>(mapping);
    guardMapping(map, size);
    return true;
}

bool checkHeader(const uint8_t* map, uint32_t size, const char* magic)
{
    if (size <= DATABASE_HEADER_SIZE || std::memcmp(map, magic, 8) != 0) {
        logError("corrupt font database!");
        return false;
    }
    uint16_t version;
    std::memcpy(&version, map + 8, sizeof version);
    if (version != DATABASE_VERSION) {
        logError("wrong font database version!");
        return false;
    }
    return true;
}

}  // namespace

int openDatabase()
{
    fontDatabase = FontDatabase{};
    if (enterFontDirectory() != 0) {
        logError("directory \"%s\" does not exist!", settings.fontDirectory);
        return 0;
    }
    // Held until both files are open, so that a concurrent rebuild cannot
    // hand this process an old ttinfo.dir with a new ttname.dir.
    DatabaseLock lock(false);

    std::string infoPath = cachePath(INFO_FILE_NAME);
    if (infoPath.empty())
        return 0;
    if (!mapFile(infoPath, "cannot stat fond database!", fontDatabase.infoMap, fontDatabase.infoSize)
        || !checkHeader(fontDatabase.infoMap, fontDatabase.infoSize, INFO_MAGIC))
        return 0;

    std::string namePath = cachePath(NAME_FILE_NAME);
    if (namePath.empty())
        return -1;
    if (!mapFile(namePath, "cannot stat font database!", fontDatabase.nameMap, fontDatabase.nameSize)
        || !checkHeader(fontDatabase.nameMap, fontDatabase.nameSize, NAME_MAGIC))
        return 0;
    if (!databaseFilesAgree(fontDatabase)) {
        logError("corrupt font database!");
        return 0;
    }
    return 1;
}

void releaseDatabase()
{
    if (fontDatabase.infoSize) {
        unguardMapping(fontDatabase.infoMap);
        munmap(const_cast<uint8_t*>(fontDatabase.infoMap), fontDatabase.infoSize);
    }
    if (fontDatabase.nameSize) {
        unguardMapping(fontDatabase.nameMap);
        munmap(const_cast<uint8_t*>(fontDatabase.nameMap), fontDatabase.nameSize);
    }
    fontDatabase = FontDatabase{};
}
