// The "name" table: the font's family, style and full names, and the XLFD
// name stem built from them.
#pragma once

#include <string>
#include <string_view>

#include "font/mapped_file.h"

class TrueTypeFont;

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

// The first six XLFD fields of a good font with a trailing dash, for example
// "-ttf-times new roman-bold-i-normal-bold italic-", all in lower case.
std::string makeXlfdName(const TrueTypeFont& font, std::string_view foundry);
