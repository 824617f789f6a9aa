// Writing a new pair of database files without disturbing their readers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

// Builds ttinfo.dir and ttname.dir under temporary names in the cache
// directory and renames them over the old files only once both are complete
// and on disk. Processes that still map the old files keep reading them
// unchanged, a reader never sees a partly written file, and a rebuild that
// fails halfway leaves the previous database as it was.
class DatabaseWriter {
public:
    DatabaseWriter() = default;
    ~DatabaseWriter();
    DatabaseWriter(const DatabaseWriter&) = delete;
    DatabaseWriter& operator=(const DatabaseWriter&) = delete;

    // Creates both temporary files (both are attempted) and writes their
    // headers; false when either could not be created.
    bool create(const std::string& infoPath, const std::string& namePath);

    // Appends one font's name block and record. Returns false, writing
    // nothing, when a string does not fit its 8-bit length field (a record's
    // lengths must always describe its block) or the block would lie beyond
    // what a record's offset can address.
    bool addFont(std::string_view name, std::string_view path, std::string_view stem,
                 const uint8_t panose[10]);

    // Flushes, syncs and closes both files, then renames them over the old
    // ones; false (and the old files untouched) after any write error.
    bool commit();

    // Removes the temporary files; the old database stays as it was.
    void discard();

private:
    void put(FILE* file, const void* bytes, size_t size);

    FILE* infoFile = nullptr;
    FILE* nameFile = nullptr;
    std::string infoPath, namePath, infoTemp, nameTemp;
    uint64_t nameLength = 0;
    bool failed = false;
};

// Holds an advisory lock on the cache directory for its lifetime: exclusive
// while a writer renames the new pair into place, shared while a reader
// opens the pair, so that a reader never pairs an old ttinfo.dir with a new
// ttname.dir. Without a usable cache directory it holds nothing.
class DatabaseLock {
public:
    explicit DatabaseLock(bool exclusive);
    ~DatabaseLock();
    DatabaseLock(const DatabaseLock&) = delete;
    DatabaseLock& operator=(const DatabaseLock&) = delete;

private:
    int descriptor = -1;
};
