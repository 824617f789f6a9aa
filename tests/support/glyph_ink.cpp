#include "support/glyph_ink.h"

#include "raster/raster_slot.h"
#include "support/fs_fonts.h"

#include <algorithm>

Ink slotInk(const FontSlot& slot, unsigned glyph)
{
    Ink ink;
    if (glyph >= slot.glyphCount)
        return ink;
    const GlyphMetrics& m = slot.glyphMetrics[glyph];
    if (m.bitmapSize == 0 || m.height == 0)
        return ink;
    const int rowBytes = m.bitmapSize / m.height;
    const uint8_t* bits = slot.bitmaps + m.bitmapOffset;
    for (int row = 0; row < m.height; row++)
        for (int col = 0; col < m.width; col++)
            if (bits[row * rowBytes + col / 8] >> (col % 8) & 1)
                ink.insert({col - m.originX, m.height - 1 - row - m.originY});
    return ink;
}

std::vector<Ink> servedInk(FsClient& client, uint32_t fontId, const std::vector<uint16_t>& codes,
                           int timeoutMilliseconds)
{
    const std::vector<Extent> extents =
        extentsOf(client.request(extentsRequest(QUERY_X_EXTENTS16, fontId, false, codes), timeoutMilliseconds));
    const Bitmaps bitmaps = bitmapsOf(
        client.request(bitmapsRequest(QUERY_X_BITMAPS16, fontId, FORMAT_LSB_PAD32, false, codes), timeoutMilliseconds));
    if (extents.size() != codes.size() || bitmaps.entries.size() != codes.size())
        return {};
    std::vector<Ink> glyphs;
    for (size_t i = 0; i < codes.size(); i++) {
        const Extent& e = extents[i];
        const int width = e[1] - e[0], height = e[3] + e[4], rowBytes = (width + 31) / 32 * 4;
        const std::vector<uint8_t> bits = bitmaps.glyph(i);
        Ink ink;
        for (int row = 0; row < height; row++)
            for (int col = 0; col < width; col++) {
                const size_t at = size_t(row) * rowBytes + col / 8;
                if (at < bits.size() && bits[at] >> (col % 8) & 1)
                    ink.insert({e[0] + col, e[3] - 1 - row});
            }
        glyphs.push_back(ink);
    }
    return glyphs;
}

int inkWidth(const Ink& ink)
{
    if (ink.empty())
        return 0;
    int left = ink.begin()->first, right = left;
    for (const auto& pixel : ink) {
        left = std::min(left, pixel.first);
        right = std::max(right, pixel.first);
    }
    return right - left + 1;
}
