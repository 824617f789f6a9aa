// The "hmtx" table: advance widths and left side bearings in font units.
#pragma once

#include "font/mapped_file.h"

class HmtxTable : public MappedFile {
public:
    HmtxTable(const MappedFile& font, uint32_t offset, uint32_t length);

    // Glyphs from numberOfHMetrics on share the last full entry's advance
    // and keep only their own left side bearing. Entries that lie outside
    // the table read as 0.
    void getHMetrics(int32_t glyph, uint16_t& advance, int16_t& lsb) const;

    // Count of full (advance, lsb) entries: the table length / 4 until the
    // font replaces it with hhea numberOfHMetrics.
    int32_t numberOfHMetrics = 0;
};
