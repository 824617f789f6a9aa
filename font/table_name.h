// The "name" table: the font's family, style and full names.
#pragma once

#include <string>

#include "font/mapped_file.h"

class NameTable : public MappedFile {
public:
    static constexpr int PLATFORM_MACINTOSH = 1;
    static constexpr int PLATFORM_MICROSOFT = 3;
    static constexpr int NAME_FAMILY = 1;
    static constexpr int NAME_STYLE = 2;
    static constexpr int NAME_FULL = 4;

    // count and stringOffset end here.
    static constexpr int32_t MIN_LENGTH = 6;

    NameTable(const MappedFile& font, uint32_t offset, uint32_t length);

    // The string of the first record with this platform and name id
    // (encoding and language are not compared), as bytes. Without such a
    // record, a Macintosh request falls back to the Microsoft record, whose
    // UTF-16 units are cut to their low bytes. A string that does not start
    // inside the table is empty; one that runs past the table's end is cut
    // there.
    std::string getString(int platformId, int nameId) const;

    uint16_t count = 0;
    uint16_t stringOffset = 0;
};
