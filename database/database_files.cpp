// The byte layout of ttinfo.dir and ttname.dir: the bounded walk over a
// mapped pair and the writer that produces a new pair.
#include "database/database_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "database/database.h"
#include "server/settings.h"

FontDatabase fontDatabase;

namespace {

// Version 258 in bytes 8 and 9 and zero in the reserved bytes 10 to 15,
// written as one 64-bit integer in host order.
void makeHeader(uint8_t header[DATABASE_HEADER_SIZE], const char* magic)
{
    uint64_t version = DATABASE_VERSION;
    std::memcpy(header, magic, 8);
    std::memcpy(header + 8, &version, 8);
}

// Whether a string of length bytes starting at offset, and the zero byte
// that ends it, lie inside ttname.dir.
bool terminatedAt(const FontDatabase& database, uint64_t offset, uint32_t length)
{
    return offset + length < database.nameSize && database.nameMap[offset + length] == 0;
}

}  // namespace

bool DatabaseWalk::next(DatabaseEntry& entry)
{
    while (database.infoMap && position < database.infoSize
           && database.infoSize - position >= sizeof(InfoRecord)) {
        std::memcpy(&entry.info, database.infoMap + position, sizeof(InfoRecord));
        position += sizeof(InfoRecord);

        const InfoRecord& info = entry.info;
        if (info.nameOffset < 0 || !database.nameMap)
            continue;
        uint64_t name = static_cast<uint64_t>(info.nameOffset);
        uint64_t path = name + info.nameLen + 1;
        uint64_t stem = path + info.pathLen + 1;
        if (!terminatedAt(database, name, info.nameLen) || !terminatedAt(database, path, info.pathLen)
            || !terminatedAt(database, stem, info.xlfdLen))
            continue;
        const char* block = reinterpret_cast<const char*>(database.nameMap);
        entry.names.name = std::string_view(block + name, info.nameLen);
        // Path and stem are used as C strings, so a zero byte inside one
        // ends it there.
        entry.names.path = std::string_view(block + path, strnlen(block + path, info.pathLen));
        entry.names.stem = std::string_view(block + stem, strnlen(block + stem, info.xlfdLen));
        return true;
    }
    return false;
}

bool databaseFilesAgree(const FontDatabase& database)
{
    if (database.infoSize < DATABASE_HEADER_SIZE || (database.infoSize - DATABASE_HEADER_SIZE) % sizeof(InfoRecord) != 0)
        return false;
    uint64_t blockStart = DATABASE_HEADER_SIZE;
    for (uint32_t position = DATABASE_HEADER_SIZE; position < database.infoSize; position += sizeof(InfoRecord)) {
        InfoRecord record;
        std::memcpy(&record, database.infoMap + position, sizeof record);
        if (record.nameOffset < 0 || static_cast<uint64_t>(record.nameOffset) != blockStart)
            return false;
        blockStart += uint64_t(record.nameLen) + record.pathLen + record.xlfdLen + 3;
    }
    return blockStart == database.nameSize;
}

bool databaseHasRecords()
{
    return fontDatabase.infoMap && fontDatabase.infoSize > DATABASE_HEADER_SIZE;
}

DatabaseWriter::~DatabaseWriter()
{
    discard();
}

namespace {

constexpr const char* TEMPORARY_INFIX = ".new.";

// The process id of a writer's temporary file name ("ttinfo.dir.new.<pid>"
// or "ttname.dir.new.<pid>"), or 0 for any other name.
pid_t temporaryOwner(std::string_view name)
{
    for (std::string_view target : {INFO_FILE_NAME, NAME_FILE_NAME}) {
        const std::string prefix = std::string(target) + TEMPORARY_INFIX;
        if (name.substr(0, prefix.size()) != prefix)
            continue;
        const std::string digits(name.substr(prefix.size()));
        if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
            return 0;
        return static_cast<pid_t>(std::atoi(digits.c_str()));
    }
    return 0;
}

// A synchronisation killed before its renames leaves its temporary files
// behind, and nothing else would ever remove them: those of processes that
// no longer exist go. A process that exists but belongs to another user
// (kill answers EPERM) keeps its files.
void removeAbandonedTemporaries()
{
    const int directory = open(settings.cacheDirectory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0)
        return;
    DIR* listing = fdopendir(directory);
    if (!listing) {
        close(directory);
        return;
    }
    while (const dirent* entry = readdir(listing)) {
        const pid_t owner = temporaryOwner(entry->d_name);
        if (owner > 0 && owner != getpid() && kill(owner, 0) != 0 && errno == ESRCH)
            unlinkat(directory, entry->d_name, 0);
    }
    closedir(listing);
}

// Temporary files carry the writer's process id, so that several processes
// re-synchronising at once never write into each other's files.
FILE* createTemporary(const std::string& target, std::string& temporary)
{
    temporary = target + TEMPORARY_INFIX + std::to_string(getpid());
    int descriptor = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        temporary.clear();
        return nullptr;
    }
    FILE* file = fdopen(descriptor, "w");
    if (!file) {
        close(descriptor);
        unlink(temporary.c_str());
        temporary.clear();
    }
    return file;
}

// Flushes the stream and its data to disk, then closes it; false when any
// of that failed (a full disk shows up here at the latest).
bool finish(FILE*& file)
{
    bool good = std::fflush(file) == 0 && !std::ferror(file) && fsync(fileno(file)) == 0;
    good = std::fclose(file) == 0 && good;
    file = nullptr;
    return good;
}

}  // namespace

bool DatabaseWriter::create(const std::string& infoTarget, const std::string& nameTarget)
{
    discard();
    removeAbandonedTemporaries();
    infoPath = infoTarget;
    namePath = nameTarget;
    infoFile = createTemporary(infoPath, infoTemp);
    nameFile = createTemporary(namePath, nameTemp);
    if (!infoFile || !nameFile) {
        discard();
        return false;
    }
    uint8_t header[DATABASE_HEADER_SIZE];
    makeHeader(header, INFO_MAGIC);
    put(infoFile, header, sizeof header);
    makeHeader(header, NAME_MAGIC);
    put(nameFile, header, sizeof header);
    nameLength = DATABASE_HEADER_SIZE;
    failed = false;
    return true;
}

void DatabaseWriter::put(FILE* file, const void* bytes, size_t size)
{
    if (std::fwrite(bytes, 1, size, file) != size)
        failed = true;
}

bool DatabaseWriter::addFont(std::string_view name, std::string_view path, std::string_view stem,
                             const uint8_t panose[10])
{
    if (!infoFile || name.size() > 255 || path.size() > 255 || stem.size() > 255)
        return false;
    uint64_t blockLength = name.size() + path.size() + stem.size() + 3;
    if (nameLength + blockLength > INT32_MAX)
        return false;

    InfoRecord record{};
    record.nameOffset = static_cast<int32_t>(nameLength);
    record.nameLen = static_cast<uint8_t>(name.size());
    record.pathLen = static_cast<uint8_t>(path.size());
    record.xlfdLen = static_cast<uint8_t>(stem.size());
    record.marker = RECORD_MARKER;
    std::memcpy(record.panose, panose, sizeof record.panose);

    const char zero = 0;
    for (std::string_view text : {name, path, stem}) {
        put(nameFile, text.data(), text.size());
        put(nameFile, &zero, 1);
    }
    put(infoFile, &record, sizeof record);
    nameLength += blockLength;
    return true;
}

bool DatabaseWriter::commit()
{
    if (!infoFile || !nameFile)
        return false;
    bool good = !failed;
    good = finish(infoFile) && good;
    good = finish(nameFile) && good;
    if (good) {
        // Both renames under the exclusive lock: a reader holding the shared
        // lock opens either the old pair or the new one.
        DatabaseLock lock(true);
        good = rename(nameTemp.c_str(), namePath.c_str()) == 0;
        if (good)
            nameTemp.clear();
        good = good && rename(infoTemp.c_str(), infoPath.c_str()) == 0;
        if (good)
            infoTemp.clear();
    }
    discard();
    return good;
}

void DatabaseWriter::discard()
{
    if (infoFile)
        std::fclose(infoFile);
    if (nameFile)
        std::fclose(nameFile);
    infoFile = nameFile = nullptr;
    if (!infoTemp.empty())
        unlink(infoTemp.c_str());
    if (!nameTemp.empty())
        unlink(nameTemp.c_str());
    infoTemp.clear();
    nameTemp.clear();
}

DatabaseLock::DatabaseLock(bool exclusive)
{
    descriptor = open(settings.cacheDirectory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor >= 0 && flock(descriptor, exclusive ? LOCK_EX : LOCK_SH) != 0) {
        close(descriptor);
        descriptor = -1;
    }
}

DatabaseLock::~DatabaseLock()
{
    if (descriptor >= 0)
        close(descriptor);
}
