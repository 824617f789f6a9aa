// Glyph loading: decodes a simple glyph's contours, flags and coordinates,
// or assembles a composite from its components, into the Rasterizer's
// scratch arrays; scales the points and runs the glyph's instructions.
#include "font/table_glyf.h"

#include <algorithm>

#include "font/table_loca.h"
#include "raster/raster.h"

namespace {

constexpr uint8_t FLAG_X_SHORT = 0x02;
constexpr uint8_t FLAG_Y_SHORT = 0x04;
constexpr uint8_t FLAG_REPEAT = 0x08;
constexpr uint8_t FLAG_X_SAME_OR_POSITIVE = 0x10;
constexpr uint8_t FLAG_Y_SAME_OR_POSITIVE = 0x20;

constexpr uint16_t ARG_1_AND_2_ARE_WORDS = 0x0001;
constexpr uint16_t ARGS_ARE_XY_VALUES = 0x0002;
constexpr uint16_t ROUND_XY_TO_GRID = 0x0004;
constexpr uint16_t WE_HAVE_A_SCALE = 0x0008;
constexpr uint16_t MORE_COMPONENTS = 0x0020;
constexpr uint16_t WE_HAVE_AN_X_AND_Y_SCALE = 0x0040;
constexpr uint16_t WE_HAVE_A_TWO_BY_TWO = 0x0080;
constexpr uint16_t WE_HAVE_INSTRUCTIONS = 0x0100;
constexpr uint16_t USE_MY_METRICS = 0x0200;

// Room left in the Rasterizer's arrays from the current write positions.
int64_t pointsLeft(const Rasterizer& r, const OutlinePoint* at)
{
    if (!r.pointArray || at < r.pointArray)
        return 0;
    return r.sizePoints - (at - r.pointArray);
}

int64_t contoursLeft(const Rasterizer& r, const int32_t* at)
{
    if (!r.contourArray || at < r.contourArray)
        return 0;
    return r.sizeContours - (at - r.contourArray);
}

// One coordinate of a 2.14 transform; 64-bit products keep large sizes exact.
int32_t transformComponent(int32_t a, int32_t u, int32_t b, int32_t v)
{
    return static_cast<int32_t>((static_cast<int64_t>(a) * u + static_cast<int64_t>(b) * v) >> 14);
}

int32_t roundToPixel(int32_t v)
{
    return static_cast<int32_t>((static_cast<uint32_t>(v) + 32) & ~63u);
}

} // namespace

int GlyfTable::loadGlyph(int32_t glyph, const LocaTable& loca, Rasterizer& rasterizer)
{
    componentLoads = 0;
    return load(glyph, loca, rasterizer, 0);
}

int GlyfTable::load(int32_t glyph, const LocaTable& loca, Rasterizer& rasterizer, int depth)
{
    int64_t offset = loca.glyphOffset(glyph);
    // -1 (no outline) fails this as well.
    if (offset < 0 || offset >= length())
        return 0;
    seek(offset);
    numContours = readS16();
    xMin = readS16();
    skip(6);
    if (numContours < 0)
        return loadComposite(glyph, loca, rasterizer, depth);
    return loadSimple(glyph, rasterizer);
}

int GlyfTable::loadSimple(int32_t glyph, Rasterizer& rasterizer)
{
    if (numContours > contoursLeft(rasterizer, endPts))
        return 0;
    // Contour ends must not run backwards: the last one then counts every
    // point, and no contour reaches past it.
    int32_t previous = -1;
    for (int32_t i = 0; i < numContours; i++) {
        int32_t end = readU16();
        if (end < previous)
            return 0;
        endPts[i] = previous = end;
    }
    // No contours: an outline without points, only phantom points remain.
    numPoints = previous + 1;
    rasterizer.workLeft -= numPoints;
    if (numPoints + 2 > pointsLeft(rasterizer, points) || rasterizer.workLeft < 0)
        return 0;

    uint16_t instructionLength = readU16();
    instrOffset = tell();
    instrLength = instructionLength;
    skip(instructionLength);

    OutlinePoint* pts = points;
    const int32_t n = numPoints;
    for (int32_t i = 0; i < n;) {
        uint8_t flag = readU8();
        pts[i++].flags = flag;
        if (flag & FLAG_REPEAT) {
            // A repeat count past the last point stops at the last point.
            int32_t count = std::min<int32_t>(readU8(), n - i);
            for (int32_t k = 0; k < count; k++)
                pts[i++].flags = flag;
        }
    }
    readCoordinates(pts, n, FLAG_X_SHORT, FLAG_X_SAME_OR_POSITIVE, &OutlinePoint::x);
    readCoordinates(pts, n, FLAG_Y_SHORT, FLAG_Y_SAME_OR_POSITIVE, &OutlinePoint::y);
    if (n > 0)
        pts[n - 1].flags |= POINT_OUTLINE_END;

    rasterizer.setGlyphZone(numContours, n, endPts, pts, glyph, xMin);
    rasterizer.scalePoints();
    rasterizer.runGlyphProgram(*this, instrOffset, instrLength);
    return 1;
}

// One coordinate of every point, as deltas selected by the point's flag
// bits: a short delta with its sign in `sameBit`, or the same value, or a
// 16-bit delta. The running value wraps at 16 bits like the file's values.
void GlyfTable::readCoordinates(OutlinePoint* pts, int32_t n, uint8_t shortBit, uint8_t sameBit,
                                int32_t OutlinePoint::*field)
{
    int16_t value = 0;
    for (int32_t i = 0; i < n; i++) {
        uint32_t flag = pts[i].flags;
        if (flag & shortBit)
            value = static_cast<int16_t>(flag & sameBit ? value + readU8() : value - readU8());
        else if (!(flag & sameBit))
            value = static_cast<int16_t>(value + readS16());
        pts[i].*field = value;
    }
}

int GlyfTable::loadComposite(int32_t glyph, const LocaTable& loca, Rasterizer& rasterizer, int depth)
{
    const int16_t ownXMin = xMin;
    int32_t* const firstEnd = endPts;
    OutlinePoint* const firstPoint = points;
    int32_t base = 0, total = 0;
    // The phantom points of the component marked USE_MY_METRICS, if any;
    // otherwise the composite keeps its own from its hmtx entry.
    bool ownMetrics = true;
    int32_t originX = 0, advanceX = 0;
    uint16_t flags;

    auto fail = [&] {
        endPts = firstEnd;
        points = firstPoint;
        return 0;
    };
    if (depth >= MAX_COMPONENT_DEPTH)
        return fail();

    do {
        flags = readU16();
        uint16_t component = readU16();
        int32_t resume = tell();
        if (++componentLoads > MAX_COMPONENT_LOADS)
            return fail();
        if (load(component, loca, rasterizer, depth + 1) == 0)
            return fail();
        seek(resume);
        const int32_t n = numPoints;
        const int32_t c = numContours;
        OutlinePoint* pts = points;

        int32_t a1, a2;
        if (flags & ARGS_ARE_XY_VALUES) {
            a1 = flags & ARG_1_AND_2_ARE_WORDS ? readS16() : readS8();
            a2 = flags & ARG_1_AND_2_ARE_WORDS ? readS16() : readS8();
        } else {
            // Point numbers are unsigned in the file.
            a1 = flags & ARG_1_AND_2_ARE_WORDS ? readU16() : readU8();
            a2 = flags & ARG_1_AND_2_ARE_WORDS ? readU16() : readU8();
        }
        int32_t dx = 0, dy = 0;
        if (flags & ARGS_ARE_XY_VALUES) {
            dx = rasterizer.transformX(a1, a2);
            dy = rasterizer.transformY(a1, a2);
            if (flags & ROUND_XY_TO_GRID) {
                dx = roundToPixel(dx);
                dy = roundToPixel(dy);
            }
        } else if (a1 < base && a2 < n) {
            // Matching points, both already scaled and hinted. Numbers
            // outside their glyphs match nothing and leave the component
            // where it is.
            dx = firstPoint[a1].x - pts[a2].x;
            dy = firstPoint[a1].y - pts[a2].y;
        }

        int32_t xscale = 0x4000, scale01 = 0, scale10 = 0, yscale = 0x4000;
        bool transformed = true;
        if (flags & WE_HAVE_A_SCALE) {
            xscale = yscale = readS16();
        } else if (flags & WE_HAVE_AN_X_AND_Y_SCALE) {
            xscale = readS16();
            yscale = readS16();
        } else if (flags & WE_HAVE_A_TWO_BY_TWO) {
            xscale = readS16();
            scale01 = readS16();
            scale10 = readS16();
            yscale = readS16();
        } else {
            transformed = false;
        }
        for (int32_t i = 0; i < n; i++) {
            int32_t x = pts[i].x, y = pts[i].y;
            if (transformed) {
                x = transformComponent(xscale, pts[i].x, scale10, pts[i].y);
                y = transformComponent(scale01, pts[i].x, yscale, pts[i].y);
            }
            pts[i].x = pts[i].orgX = static_cast<int32_t>(static_cast<uint32_t>(x) + static_cast<uint32_t>(dx));
            pts[i].y = pts[i].orgY = static_cast<int32_t>(static_cast<uint32_t>(y) + static_cast<uint32_t>(dy));
        }
        for (int32_t i = 0; i < c; i++)
            endPts[i] += base;
        if (flags & USE_MY_METRICS) {
            ownMetrics = false;
            originX = pts[n].x;
            advanceX = pts[n + 1].x;
        }
        total += c;
        endPts += c;
        points += n;
        base += n;
    } while (flags & MORE_COMPONENTS);

    if (flags & WE_HAVE_INSTRUCTIONS) {
        uint16_t count = readU16();
        instrOffset = tell();
        instrLength = count;
    } else {
        instrLength = 0;
    }
    numContours = total;
    numPoints = base;
    endPts = firstEnd;
    points = firstPoint;
    rasterizer.setGlyphZone(total, base, endPts, points, glyph, ownXMin);
    if (!ownMetrics) {
        points[base].x = points[base].orgX = originX;
        points[base + 1].x = points[base + 1].orgX = advanceX;
    }
    rasterizer.runGlyphProgram(*this, instrOffset, instrLength);
    return 2;
}
