// The "loca" table: where each glyph's outline starts in the glyf table.
#pragma once

#include "font/mapped_file.h"

class LocaTable : public MappedFile {
public:
    LocaTable(const MappedFile& font, uint32_t offset, uint32_t length) { makeView(font, offset, length); }

    // Both set by the font once its table directory is read: maxp numGlyphs,
    // and nonzero when head indexToLocFormat is 0 (16-bit offsets / 2).
    int32_t numGlyphs = 0;
    int32_t shortOffsets = 0;
};
