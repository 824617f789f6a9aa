// Rendering every glyph of an instance: the bitmap box one pixel larger than
// the outline's pixels, origin and advance from the phantom points, row
// padding, and the font-wide extremes.
#include <algorithm>
#include <climits>

#include "raster/raster.h"
#include "raster/raster_fixed.h"
#include "raster/raster_slot.h"
#include "server/messages.h"

namespace {

int64_t rowBytesFor(int32_t pad, int64_t width)
{
    // Pad codes come from two bits of the request; anything else is clamped.
    int64_t unit = (int64_t(8) << std::clamp(pad, 0, 3)) - 1;
    return ((unit | (width - 1)) + 1) >> 3;
}

// ((v * factor) << shift) >> 11 in 32 bits, wrapping like the design's
// arithmetic instead of being undefined.
int32_t scaleMetric(int32_t v, int32_t factor, int32_t shift)
{
    return wrapShiftLeft(wrapMul(v, factor), shift) >> 11;
}

void fold(int32_t value, int32_t& least, int32_t& most)
{
    least = std::min(least, value);
    most = std::max(most, value);
}

// Grows the slot's glyph buffer to hold at least `needed` bytes, doubling,
// while the process's glyph buffers stay within ceiling. False when it
// cannot.
bool growBuffer(FontSlot& slot, uint64_t needed, uint32_t ceiling)
{
    const uint64_t others = glyphBuffersBesides(slot);
    const uint64_t budget = ceiling > others ? ceiling - others : 0;
    if (needed > budget || needed > INT_MAX)
        return false;
    uint64_t size = std::min<uint64_t>(std::max<uint64_t>(uint64_t(slot.bufferSize) * 2, needed), budget);
    void* block = memRealloc(slot.glyphMetrics, static_cast<int>(size));
    if (!block && size > needed) {
        size = needed;
        block = memRealloc(slot.glyphMetrics, static_cast<int>(size));
    }
    if (!block)
        return false;
    slot.glyphMetrics = static_cast<GlyphMetrics*>(block);
    slot.bufferSize = static_cast<uint32_t>(size);
    return true;
}

} // namespace

int32_t Rasterizer::renderGlyph(int32_t glyph, uint8_t* bitmap, const uint8_t* end, GlyphMetrics& m)
{
    GlyfTable& glyf = *font->glyfTable;
    glyf.endPts = font->contourBuffer;
    glyf.points = font->pointBuffer;
    measuredImageSize = 0;
    const int32_t n = bitmap < end && glyf.loadGlyph(glyph, *font->locaTable, *this) ? zoneSize[GLYPH_ZONE] : 0;
    if (n == 0) {
        // No outline, or one without points: an empty box. Its advance is
        // the hdmx width for this size when there is one, else the rounded
        // scaled advance that outlined glyphs get from their phantom points.
        // The width tables' own formula truncates instead, which made the
        // space of a monospaced font a pixel narrower than its letters.
        m.width = m.height = m.originX = m.originY = m.verticalAdvance = 0;
        const int32_t device = font->hdmxTable ? font->hdmxTable->getGlyphWidth(ppemX, glyph) : 0;
        m.advance = device != 0 ? device : roundedAdvance(glyph);
        imageSize = 0;
        return 0;
    }

    OutlinePoint* pts = zone[GLYPH_ZONE];
    int32_t xMinP = INT_MAX, xMaxP = INT_MIN, yMinP = INT_MAX, yMaxP = INT_MIN;
    for (int32_t i = 0; i < n; i++) {
        xMinP = std::min(xMinP, pts[i].x);
        xMaxP = std::max(xMaxP, pts[i].x);
        yMinP = std::min(yMinP, pts[i].y);
        yMaxP = std::max(yMaxP, pts[i].y);
    }
    // The bitmap's bottom-left corner is the pixel corner at or below the
    // minimum; from here on coordinates are relative to it.
    const int32_t x0 = xMinP & ~63, y0 = yMinP & ~63;
    for (int32_t i = 0; i < n + 2; i++) {
        pts[i].x = wrapSub(pts[i].x, x0);
        pts[i].y = wrapSub(pts[i].y, y0);
    }
    // One column and one row more than the pixels an outline with extremes
    // on pixel boundaries covers.
    const int64_t width = ((int64_t(xMaxP) + 63) >> 6) - (x0 >> 6) + 1;
    const int64_t height = (yMaxP >> 6) - (y0 >> 6) + 1;
    imageWidth = static_cast<int32_t>(width);
    imageHeight = static_cast<int32_t>(height);

    const OutlinePoint& origin = pts[n];
    const OutlinePoint& advance = pts[n + 1];
    m.width = imageWidth;
    m.height = imageHeight;
    m.originX = origin.x >> 6;
    m.originY = origin.y >> 6;
    m.advance = wrapSub(advance.x, origin.x) >> 6;
    m.verticalAdvance = wrapSub(advance.y, origin.y) >> 6;

    int64_t bytes = scanlinePad >= 0 ? rowBytesFor(scanlinePad, width) : fixedRowBytes;
    rowBytes = static_cast<int32_t>(std::clamp<int64_t>(bytes, 0, INT_MAX));
    const int64_t size = bytes * height;
    // A box beyond any buffer gets no bitmap here; its measured size tells
    // the caller that the glyph has ink all the same.
    imageSize = size > 0 && size < INT_MAX ? static_cast<int32_t>(size) : 0;

    if (font->hdmxTable) {
        int32_t device = font->hdmxTable->getGlyphWidth(ppemX, glyph);
        if (device != 0)
            m.advance = device;
    }
    measuredImageSize = std::max<int64_t>(size, 0);
    scanConvert(bitmap, end);
    return imageSize;
}

bool Rasterizer::renderAllGlyphs(FontSlot& slot)
{
    if (state == 1)
        applyScale();
    if (state != 2 || !font)
        return false;

    FontMetrics& fm = slot.fontMetrics;
    if (font->os2Table) {
        fm.fontAscent = scaleMetric(font->os2Table->usWinAscent, scaleYY, scaleShift);
        fm.fontDescent = scaleMetric(font->os2Table->usWinDescent, scaleYY, scaleShift);
    } else {
        fm.fontAscent = scaleMetric(font->hheaTable->ascender, scaleYY, scaleShift);
        fm.fontDescent = scaleMetric(-int32_t(font->hheaTable->descender), scaleYY, scaleShift);
    }
    fm.minLeftBearing = fm.minRightBearing = fm.minAscent = fm.minDescent = fm.minAdvance = INT_MAX;
    fm.maxLeftBearing = fm.maxRightBearing = fm.maxAscent = fm.maxDescent = fm.maxAdvance = INT_MIN;
    if (scanlinePad < 0)
        fixedRowBytes = rowBytesFor(~scanlinePad, font->getMaxWidth(ppemX));

    workLeft = workPerFont;
    slot.bitmapFormat = 0;
    slot.glyphCount = font->maxpTable->numGlyphs;
    const uint64_t records = uint64_t(slot.glyphCount) * sizeof(GlyphMetrics);
    if (records >= slot.bufferSize && !growBuffer(slot, records + 1, glyphBufferCeiling)) {
        slot.bitmaps = reinterpret_cast<uint8_t*>(slot.glyphMetrics) + records;
        return false;
    }

    // Every glyph with ink gets its bitmap, or the instance is not made:
    // extents that promise ink the bitmaps do not hold would be drawn from
    // whatever memory a client has there.
    uint64_t position = records;
    for (uint32_t g = 0; g < slot.glyphCount; g++) {
        if (position >= slot.bufferSize && !growBuffer(slot, position + 1, glyphBufferCeiling))
            return false;
        uint8_t* block = reinterpret_cast<uint8_t*>(slot.glyphMetrics);
        GlyphMetrics& m = slot.glyphMetrics[g];
        int32_t size = renderGlyph(static_cast<int32_t>(g), block + position, block + slot.bufferSize, m);
        if (size == 0 && measuredImageSize > 0 && workLeft >= 0) {
            if (!growBuffer(slot, position + uint64_t(measuredImageSize) + 1, glyphBufferCeiling))
                return false;
            // The outline is still in the glyph zone: only the conversion is
            // repeated, into the larger block.
            block = reinterpret_cast<uint8_t*>(slot.glyphMetrics);
            imageSize = static_cast<int32_t>(measuredImageSize);
            scanConvert(block + position, block + slot.bufferSize);
            size = imageSize;
        }
        GlyphMetrics& stored = slot.glyphMetrics[g];
        if (size == 0 && measuredImageSize > 0) {
            // The outline work ran out before this glyph was drawn: it is
            // left without ink, as are the glyphs after it.
            stored.width = stored.height = stored.originX = stored.originY = 0;
        }
        stored.bitmapSize = size;
        stored.bitmapOffset = static_cast<int32_t>(position - records);
        fold(wrapSub(0, stored.originX), fm.minLeftBearing, fm.maxLeftBearing);
        fold(wrapSub(stored.width, stored.originX), fm.minRightBearing, fm.maxRightBearing);
        fold(wrapSub(stored.height, stored.originY), fm.minAscent, fm.maxAscent);
        fold(stored.originY, fm.minDescent, fm.maxDescent);
        fold(stored.advance, fm.minAdvance, fm.maxAdvance);
        position += size;
    }
    slot.bitmaps = reinterpret_cast<uint8_t*>(slot.glyphMetrics) + records;
    slot.bitmapsSize = static_cast<uint32_t>(position - records);
    state = 3;
    return true;
}
