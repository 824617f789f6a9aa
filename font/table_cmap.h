// The "cmap" table: Unicode code point to glyph index.
#pragma once

#include "font/mapped_file.h"

class CmapTable : public MappedFile {
public:
    // numTables ends here.
    static constexpr int32_t MIN_LENGTH = 4;

    CmapTable(const MappedFile& font, uint32_t offset, uint32_t length);

    // The glyph for a code point, 0 when the font maps none. Reads the
    // table in place; any value it would need from outside the table makes
    // the answer 0.
    uint16_t charToGlyph(uint16_t code) const;

    // Format of the chosen subtable (0, 4 or 6), -1 when there is none.
    int32_t format = -1;
    int32_t subtableOffset = 0;
    int32_t segCount = 0;
    int32_t firstCode = 0;
    int32_t entryCount = 0;

private:
    uint16_t format4Glyph(uint16_t code) const;

    // Format 4: the segment arrays lie wholly inside the table.
    bool segmentsInside = false;
};
