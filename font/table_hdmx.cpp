#include "font/table_hdmx.h"

HdmxTable::HdmxTable(const MappedFile& font, uint32_t offset, uint32_t length)
{
    makeView(font, offset, length);
    nRecords = s16At(2);
    // sizeDeviceRecord is signed 32-bit; minus 1 it could leave int32 range.
    int64_t sizeDeviceRecord = s32At(4);
    valid = sizeDeviceRecord > 1 && nRecords >= 0 && int64_t(length) + 8 >= int64_t(nRecords) * (sizeDeviceRecord - 1);
    recordLen = valid ? int32_t(sizeDeviceRecord - 1) : 0;
}

int64_t HdmxTable::recordStart(int32_t n) const
{
    int64_t start = 8 + int64_t(n) * (int64_t(recordLen) + 1);
    return contains(start, 1) ? start : -1;
}

int32_t HdmxTable::getMaxWidth(int32_t size) const
{
    for (int32_t n = 0; valid && n < nRecords; n++) {
        int64_t start = recordStart(n);
        if (start < 0)
            break;
        if (u8At(start) >= size)
            return u8At(start + 1);
    }
    return 0;
}

int32_t HdmxTable::getGlyphWidth(int32_t size, int32_t glyph) const
{
    // A record holds recordLen - 1 glyph widths; an index past them would
    // read the next record.
    if (glyph < 0 || glyph >= recordLen - 1)
        return 0;
    for (int32_t n = 0; valid && n < nRecords; n++) {
        int64_t start = recordStart(n);
        if (start < 0)
            break;
        if (u8At(start) == size)
            return u8At(start + 2 + glyph);
    }
    return 0;
}
