#include "font/table_cmap.h"

namespace {

bool isReadableFormat(uint16_t format)
{
    return format == 0 || format == 4 || format == 6;
}

} // namespace

CmapTable::CmapTable(const MappedFile& font, uint32_t offset, uint32_t length)
{
    makeView(font, offset, length);
    int16_t numTables = s16At(2);
    // The last encoding record whose subtable has a format read here wins.
    // Many fonts end with a (3, 10) format 12 subtable after their (3, 1)
    // format 4 one; taking the last record whatever its format would map
    // every character of them to the missing glyph. Records without a
    // subtable (offset 0, or one outside the table) are passed over.
    for (int n = 0; n < numTables; n++) {
        int64_t record = 4 + 8 * int64_t(n);
        if (!contains(record, 8))
            break;
        uint32_t offset = u32At(record + 4);
        if (offset == 0 || !contains(offset, 2) || !isReadableFormat(u16At(offset)))
            continue;
        subtableOffset = int32_t(offset);
        format = u16At(offset);
    }
    if (format == 4) {
        segCount = s16At(subtableOffset + 6) >> 1;
        // endCode, the reserved word, startCode, idDelta and idRangeOffset
        // are all read by every lookup's search; if they do not all lie in
        // the table, the subtable maps nothing.
        segmentsInside = segCount > 0 && contains(subtableOffset + 14, 2 + 8 * int64_t(segCount));
    } else if (format == 6) {
        firstCode = u16At(subtableOffset + 6);
        entryCount = u16At(subtableOffset + 8);
    }
}

uint16_t CmapTable::charToGlyph(uint16_t code) const
{
    switch (format) {
    case 0:
        return code > 255 ? 0 : u8At(int64_t(subtableOffset) + 6 + code);
    case 4:
        return format4Glyph(code);
    case 6:
        if (code < firstCode || code >= firstCode + entryCount)
            return 0;
        return u16At(int64_t(subtableOffset) + 10 + 2 * (code - firstCode));
    default:
        return 0;
    }
}

uint16_t CmapTable::format4Glyph(uint16_t code) const
{
    if (!segmentsInside)
        return 0;
    // The segment arrays were found inside the table when it was opened, so
    // the search reads them directly.
    const uint8_t* endCodes = bytesAt(int64_t(subtableOffset) + 14, 2 + 8 * int64_t(segCount));
    const uint8_t* startCodes = endCodes + 2 + 2 * segCount;
    const uint8_t* idDeltas = startCodes + 2 * segCount;
    const uint8_t* idRangeOffsets = idDeltas + 2 * segCount;

    // The first segment whose end reaches the code; the last segment when
    // none does (the end is not checked again, as fonts expect).
    int32_t lo = 0;
    int32_t hi = segCount - 1;
    while (lo < hi) {
        int32_t mid = (lo + hi) / 2;
        if (bigEndian16(endCodes + 2 * mid) >= code)
            hi = mid;
        else
            lo = mid + 1;
    }

    uint16_t startCode = bigEndian16(startCodes + 2 * lo);
    if (startCode > code)
        return 0;
    uint16_t idDelta = bigEndian16(idDeltas + 2 * lo);
    uint16_t idRangeOffset = bigEndian16(idRangeOffsets + 2 * lo);
    if (idRangeOffset == 0)
        return uint16_t(code + idDelta);
    // The glyph array is addressed from the idRangeOffset entry itself; it
    // may lie anywhere, so this read is checked.
    int64_t rangeOffsetAt = (idRangeOffsets - base()) + 2 * int64_t(lo);
    uint16_t glyph = u16At(rangeOffsetAt + idRangeOffset + 2 * (int64_t(code) - startCode));
    return glyph == 0 ? 0 : uint16_t(glyph + idDelta);
}
