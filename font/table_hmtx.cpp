#include "font/table_hmtx.h"

HmtxTable::HmtxTable(const MappedFile& font, uint32_t offset, uint32_t length)
{
    makeView(font, offset, length);
    numberOfHMetrics = int32_t(length / 4);
}

void HmtxTable::getHMetrics(int32_t glyph, uint16_t& advance, int16_t& lsb) const
{
    int64_t count = numberOfHMetrics;
    if (glyph < count) {
        advance = u16At(4 * int64_t(glyph));
        lsb = s16At(4 * int64_t(glyph) + 2);
    } else {
        advance = u16At(4 * count - 4);
        lsb = s16At(4 * count + 2 * (int64_t(glyph) - count));
    }
}
