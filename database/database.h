// The font database: ttinfo.dir and ttname.dir in the cache directory,
// mapped into the process for listing and opening fonts.
//
// Both files start with a 16-byte header (8-byte magic, version 258, six
// reserved bytes). ttinfo.dir then holds one 20-byte InfoRecord per font;
// ttname.dir holds, in the same order, one name block per font: the font
// name, the font file's path relative to the font directory and the XLFD
// name stem, each followed by a zero byte. Integers are in host byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

constexpr const char* INFO_FILE_NAME = "ttinfo.dir";
constexpr const char* NAME_FILE_NAME = "ttname.dir";
constexpr const char* INFO_MAGIC = "TTFNINFO";
constexpr const char* NAME_MAGIC = "TTFNNAME";
constexpr uint16_t DATABASE_VERSION = 258;
constexpr uint32_t DATABASE_HEADER_SIZE = 16;
constexpr uint16_t RECORD_MARKER = 85;

// One font's entry in ttinfo.dir, exactly as stored.
struct InfoRecord {
    int32_t nameOffset;  // start of the font's name block in ttname.dir
    uint8_t nameLen;
    uint8_t pathLen;
    uint8_t xlfdLen;
    uint8_t reserved;
    uint16_t marker;     // always RECORD_MARKER
    uint8_t panose[10];  // OS/2 PANOSE bytes; panose[3] is the proportion
};
static_assert(sizeof(InfoRecord) == 20, "InfoRecord is stored byte for byte");
static_assert(offsetof(InfoRecord, marker) == 8 && offsetof(InfoRecord, panose) == 10);

// The three strings of a font's name block in ttname.dir. Each view lies
// inside the mapping and is followed there by its zero byte, so data() can
// be used as a C string.
struct NameBlock {
    std::string_view name;
    std::string_view path;
    std::string_view stem;
};

struct DatabaseEntry {
    InfoRecord info;
    NameBlock names;
};

// The process's mapping of the two files; sizes are 0 where nothing is mapped.
struct FontDatabase {
    const uint8_t* infoMap = nullptr;
    uint32_t infoSize = 0;
    const uint8_t* nameMap = nullptr;
    uint32_t nameSize = 0;
};

extern FontDatabase fontDatabase;

// Walks the records of a database in file order. The files may be damaged
// or hand-edited, so a record is yielded only when the whole record and its
// whole name block, terminators included, lie inside the mappings; others
// (a trailing partial record, an offset or length pointing elsewhere) are
// passed over. Nothing outside the mappings is ever read.
class DatabaseWalk {
public:
    explicit DatabaseWalk(const FontDatabase& database = fontDatabase) : database(database) {}
    bool next(DatabaseEntry& entry);
    void restart() { position = DATABASE_HEADER_SIZE; }

private:
    const FontDatabase& database;
    uint32_t position = DATABASE_HEADER_SIZE;
};

// True when the records' name blocks follow each other from the end of
// ttname.dir's header to the very end of that file and ttinfo.dir holds only
// whole records, as every synchronisation writes them. A pair put together
// from two synchronisations (one killed between its two renames) fails.
bool databaseFilesAgree(const FontDatabase& database);

// True when ttinfo.dir is mapped and longer than its header.
bool databaseHasRecords();

// Rebuilds both files from the font directory; with gslist also prints the
// Ghostscript font map. Returns -1 when the files could not be written,
// otherwise the number of fonts written.
int syncDatabase(bool gslist);

// Maps both files and checks their headers: 1 on success, 0 on failure, -1
// when the path of ttname.dir cannot be formed.
int openDatabase();

// Unmaps whatever part of the database is mapped.
void releaseDatabase();

// Changes into the font directory; 0 on success, as chdir. A relative
// --dir is taken from the directory the process started in, so that
// entering it again later (re-synchronising, opening a font) still works.
int enterFontDirectory();

// The cache directory, "/" and fileName; empty (after an error message)
// when the cache directory is missing or no directory.
std::string cachePath(const char* fileName);
