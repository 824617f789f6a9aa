#include "font/table_loca.h"

int64_t LocaTable::glyphOffset(int32_t glyph) const
{
    if (glyph < 0 || glyph >= numGlyphs)
        return -1;
    int64_t start, end;
    if (shortOffsets) {
        start = 2 * int64_t(u16At(2 * int64_t(glyph)));
        end = 2 * int64_t(u16At(2 * int64_t(glyph) + 2));
    } else {
        start = u32At(4 * int64_t(glyph));
        end = u32At(4 * int64_t(glyph) + 4);
    }
    return start == end ? -1 : start;
}
