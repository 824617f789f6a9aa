// The "loca" table: where each glyph's outline starts in the glyf table.
#pragma once

#include "font/mapped_file.h"

class LocaTable : public MappedFile {
public:
    LocaTable(const MappedFile& font, uint32_t offset, uint32_t length) { makeView(font, offset, length); }

    // Byte offset of glyph's description from the start of the glyf table,
    // or -1 for a glyph index outside the font and for a glyph without
    // outline (two equal entries, such as a space).
    int64_t glyphOffset(int32_t glyph) const;

    // Both set by the font once its table directory is read: maxp numGlyphs,
    // and nonzero when head indexToLocFormat is 0 (16-bit offsets / 2).
    int32_t numGlyphs = 0;
    int32_t shortOffsets = 0;
};
