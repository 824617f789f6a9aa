// The "hdmx" table: device advance widths in pixels for a few pixel sizes.
#pragma once

#include "font/mapped_file.h"

class HdmxTable : public MappedFile {
public:
    // sizeDeviceRecord ends here.
    static constexpr int32_t MIN_LENGTH = 8;

    HdmxTable(const MappedFile& font, uint32_t offset, uint32_t length);

    // maxWidth of the first record (in table order) whose pixel size is at
    // least size; 0 when none is.
    int32_t getMaxWidth(int32_t size) const;
    // The glyph's width in the first record of exactly this size; 0 when no
    // record has that size or the record has no byte for the glyph.
    int32_t getGlyphWidth(int32_t size, int32_t glyph) const;

    // The header limits hold: nRecords >= 0, recordLen > 0 and
    // length + 8 >= nRecords * recordLen. A table that breaks them answers
    // 0 to every lookup, so the font computes its widths itself.
    bool isValid() const { return valid; }

    int32_t nRecords = 0;
    // Bytes of one record after its pixel-size byte.
    int32_t recordLen = 0;

private:
    // Position of record n, or -1 when it does not start inside the table.
    int64_t recordStart(int32_t n) const;

    bool valid = false;
};
