// Scan conversion: every line and flattened arc of the glyph zone records
// where it crosses the pixel-centre rows and columns; the row crossings pair
// into even-odd spans, the column crossings find dropouts. Coordinates are
// 26.6 relative to the bitmap's bottom-left corner; rows are stored top first.
#include <algorithm>
#include <climits>
#include <cstring>

#include "raster/raster.h"
#include "raster/raster_fixed.h"
#include "server/messages.h"

namespace {

// Biasing by 2^31 maps signed order onto unsigned order, so one 64-bit
// comparison orders by line first and by position second.
Crossing packCrossing(int64_t key, int64_t value)
{
    return (static_cast<uint64_t>(static_cast<uint32_t>(key) ^ 0x80000000u) << 32)
        | (static_cast<uint32_t>(value) ^ 0x80000000u);
}

int32_t crossingKey(Crossing c)
{
    return static_cast<int32_t>(static_cast<uint32_t>(c >> 32) ^ 0x80000000u);
}

int32_t crossingValue(Crossing c)
{
    return static_cast<int32_t>(static_cast<uint32_t>(c) ^ 0x80000000u);
}

int32_t midpoint(int32_t a, int32_t b)
{
    return static_cast<int32_t>((static_cast<int64_t>(a) + b) >> 1);
}

uint32_t magnitude(int32_t v)
{
    return v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
}

// Initial room per list: 32767 crossings besides one spare entry; lists
// grow (doubling) up to this many entries, so that big outlines still
// pair correctly while a hostile one cannot take unbounded memory.
constexpr int32_t CROSSINGS_START = 32768;
constexpr int32_t CROSSINGS_MAX = 1 << 23;

// Grow-only scratch arrays; on failure the old array stays as it was.
template <typename T>
bool growTo(T*& array, int32_t& capacity, int32_t needed)
{
    if (capacity >= needed)
        return true;
    void* block = memRealloc(array, needed * static_cast<int>(sizeof(T)));
    if (!block)
        return false;
    array = static_cast<T*>(block);
    capacity = needed;
    return true;
}

void setPixels(uint8_t* row, int64_t first, int64_t last)
{
    int64_t b0 = first >> 3;
    int64_t b1 = last >> 3;
    uint8_t m0 = static_cast<uint8_t>(0xFF << (first & 7));
    uint8_t m1 = static_cast<uint8_t>(0xFF >> (7 - (last & 7)));
    if (b0 == b1) {
        row[b0] |= m0 & m1;
        return;
    }
    row[b0] |= m0;
    if (b1 - b0 > 1)
        std::memset(row + b0 + 1, 0xFF, static_cast<size_t>(b1 - b0 - 1));
    row[b1] |= m1;
}

} // namespace

// Orders a list by line, then by position. Every key is a pixel centre, so
// a counting pass over the lines the outline reaches, then an insertion sort
// of each line's few crossings, does it in linear time. Outlines spread over
// many more lines than they have crossings (or a scratch array that cannot
// grow) take the general sort instead.
void Rasterizer::sortCrossings(CrossingList& list)
{
    const int32_t n = list.count;
    Crossing* entries = list.entries;
    if (n < 2)
        return;
    int64_t first = INT64_MAX, last = INT64_MIN;
    for (int32_t i = 0; i < n; i++) {
        int64_t line = crossingKey(entries[i]) >> 6;
        first = std::min(first, line);
        last = std::max(last, line);
    }
    const int64_t lines = last - first + 1;
    if (lines > 2 * int64_t(n) + 64 || !reserveSortScratch(n, static_cast<int32_t>(lines) + 1)) {
        std::sort(entries, entries + n);
        return;
    }
    int32_t* start = lineStart;
    std::fill(start, start + lines + 1, 0);
    for (int32_t i = 0; i < n; i++)
        start[(crossingKey(entries[i]) >> 6) - first + 1]++;
    for (int64_t k = 1; k <= lines; k++)
        start[k] += start[k - 1];
    for (int32_t i = 0; i < n; i++)
        sorted[start[(crossingKey(entries[i]) >> 6) - first]++] = entries[i];
    // start[k] is now the end of line k; within a line the keys are equal,
    // so the packed entries compare by position.
    int32_t begin = 0;
    for (int64_t k = 0; k < lines; k++) {
        const int32_t end = start[k];
        for (int32_t i = begin + 1; i < end; i++) {
            Crossing c = sorted[i];
            int32_t j = i;
            for (; j > begin && sorted[j - 1] > c; j--)
                sorted[j] = sorted[j - 1];
            sorted[j] = c;
        }
        begin = end;
    }
    std::copy(sorted, sorted + n, entries);
}

bool Rasterizer::reserveSortScratch(int32_t entries, int32_t lines)
{
    return growTo(sorted, sortedCapacity, entries) && growTo(lineStart, lineStartCapacity, lines);
}

bool Rasterizer::growCrossings(CrossingList& list)
{
    if (list.capacity >= CROSSINGS_MAX)
        return false;
    return growTo(list.entries, list.capacity, list.capacity ? list.capacity * 2 : CROSSINGS_START);
}

inline void Rasterizer::addCrossing(CrossingList& list, int64_t key, int64_t value)
{
    if (list.count == list.capacity && !growCrossings(list)) {
        crossingsLost = true;
        return;
    }
    list.entries[list.count++] = packCrossing(key, value);
}

// The crossings of the segment from A to B with the pixel-centre lines of
// one axis: `along` is the coordinate that crosses the lines (y for rows),
// `at` the one recorded (x for rows). Centres c with low < c <= high are
// taken from the top: the half-open range makes a closed contour cross every
// centre line an even number of times.
void Rasterizer::addAxisCrossings(CrossingList& list, int32_t atA, int32_t alongA, int32_t atB, int32_t alongB)
{
    int64_t atL = atA, alongL = alongA, atU = atB, alongU = alongB;
    if (alongB < alongA) {
        atL = atB, alongL = alongB, atU = atA, alongU = alongA;
    }
    const int64_t d = alongU - alongL, span = atU - atL, half = d >> 1;
    int64_t c = ((alongU - 32) | 63) - 31;
    if (d < (int64_t(1) << 15) && span < (int64_t(1) << 15) && span > -(int64_t(1) << 15)) {
        // The common case, in 32-bit division: the same quotient, faster.
        for (int32_t k = int32_t(c - alongL); k > 0; k -= 64, c -= 64)
            addCrossing(list, c, atL + (k * int32_t(span) + int32_t(half)) / int32_t(d));
    } else {
        for (; c > alongL; c -= 64)
            addCrossing(list, c, atL + ((c - alongL) * span + half) / d);
    }
}

void Rasterizer::addLine(int32_t xA, int32_t yA, int32_t xB, int32_t yB)
{
    if (crossingsLost)
        return; // the outline is not filled anyway
    if (yA != yB)
        addAxisCrossings(rowCrossings, xA, yA, xB, yB);
    // Column crossings serve only the dropout pass.
    if (xA != xB && gs.dropoutControl)
        addAxisCrossings(columnCrossings, yA, xA, yB, xB);
}

void Rasterizer::addArc(int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t x2, int32_t y2)
{
    for (;;) {
        int32_t dx = wrapSub(x2, x0);
        int32_t dy = wrapSub(y2, y0);
        int32_t ax = wrapSub(x1, x0);
        int32_t ay = wrapSub(y1, y0);
        // The flatness measure is the sum of the two products, not the
        // cross product: it agrees as closely with exact rendering on real
        // fonts (it subdivides more often), and it is what this renderer
        // has always drawn.
        int32_t l = wrapMulAdd(ax, dy, ay, dx);
        if ((magnitude(l) >> 4) <= static_cast<uint64_t>(magnitude(dx)) + magnitude(dy) + 4)
            break;
        int32_t mx = static_cast<int32_t>((static_cast<int64_t>(x0) + 2 * static_cast<int64_t>(x1) + x2) >> 2);
        int32_t my = static_cast<int32_t>((static_cast<int64_t>(y0) + 2 * static_cast<int64_t>(y1) + y2) >> 2);
        addArc(x0, y0, midpoint(x0, x1), midpoint(y0, y1), mx, my);
        x0 = mx, y0 = my;
        x1 = midpoint(x1, x2), y1 = midpoint(y1, y2);
    }
    addLine(x0, y0, x2, y2);
}

// Draws the piece of the contour that starts at point p (next point q, the
// one after r) and returns the point at which the walk goes on.
int32_t Rasterizer::addSegment(int32_t p, int32_t q, int32_t r)
{
    const OutlinePoint* pts = zone[GLYPH_ZONE];
    const OutlinePoint& P = pts[p];
    const OutlinePoint& Q = pts[q];
    const OutlinePoint& R = pts[r];
    bool pOn = P.flags & POINT_ON_CURVE;
    bool qOn = Q.flags & POINT_ON_CURVE;
    bool rOn = R.flags & POINT_ON_CURVE;
    if (qOn) {
        // An off-curve P was the control point of the arc ending at Q,
        // drawn from the point before it.
        if (pOn)
            addLine(P.x, P.y, Q.x, Q.y);
        return p + 1;
    }
    int32_t sx = pOn ? P.x : midpoint(P.x, Q.x);
    int32_t sy = pOn ? P.y : midpoint(P.y, Q.y);
    int32_t ex = rOn ? R.x : midpoint(Q.x, R.x);
    int32_t ey = rOn ? R.y : midpoint(Q.y, R.y);
    addArc(sx, sy, Q.x, Q.y, ex, ey);
    return rOn ? p + 2 : p + 1;
}

void Rasterizer::fillCrossings(uint8_t* bitmap)
{
    const int64_t top = imageHeight - 1;
    const int64_t rowBits = static_cast<int64_t>(rowBytes) * 8;
    workLeft -= rowCrossings.count + columnCrossings.count;
    if (crossingsLost || rowBits <= 0) {
        rowCrossings.count = columnCrossings.count = 0;
        crossingsLost = false;
        return;
    }
    auto inside = [&](int64_t row, int64_t column) {
        return row >= 0 && row <= top && column >= 0 && column < rowBits;
    };
    auto isSet = [&](int64_t row, int64_t column) {
        return inside(row, column) && (bitmap[row * rowBytes + (column >> 3)] >> (column & 7) & 1);
    };

    Crossing* rows = rowCrossings.entries;
    sortCrossings(rowCrossings);
    // A malformed outline may leave an odd count; its last crossing is unpaired.
    for (int32_t i = 0; i + 1 < rowCrossings.count; i += 2) {
        int64_t row = top - (crossingKey(rows[i]) >> 6);
        int64_t x1 = crossingValue(rows[i]), x2 = crossingValue(rows[i + 1]);
        int64_t first, last;
        if (x2 - x1 >= 96) {
            first = (x1 + 31) >> 6;
            last = (x2 - 32) >> 6;
        } else {
            // A span too short to hold a pixel centre for sure still shows as
            // the pixel of its midpoint, so thin stems never vanish.
            first = last = (x1 + x2) >> 7;
        }
        if (row < 0 || row > top)
            continue;
        first = std::max<int64_t>(first, 0);
        last = std::min<int64_t>(last, rowBits - 1);
        if (first <= last)
            setPixels(bitmap + row * rowBytes, first, last);
    }

    if (gs.dropoutControl) {
        Crossing* columns = columnCrossings.entries;
        sortCrossings(columnCrossings);
        for (int32_t i = 0; i + 1 < columnCrossings.count; i += 2) {
            int64_t y1 = crossingValue(columns[i]), y2 = crossingValue(columns[i + 1]);
            if (y2 - y1 > 62)
                continue;
            int64_t column = crossingKey(columns[i]) >> 6;
            int64_t row = top - ((y1 + y2) >> 7);
            if (!inside(row, column) || isSet(row - 1, column) || isSet(row + 1, column))
                continue;
            bitmap[row * rowBytes + (column >> 3)] |= static_cast<uint8_t>(1u << (column & 7));
        }
    }
    rowCrossings.count = columnCrossings.count = 0;
}

void Rasterizer::scanConvert(uint8_t* bitmap, const uint8_t* end)
{
    if (imageSize <= 0 || imageSize >= end - bitmap || workLeft < 0) {
        imageSize = 0;
        return;
    }
    std::memset(bitmap, 0, static_cast<size_t>(imageSize));
    rowCrossings.count = columnCrossings.count = 0;
    crossingsLost = false;

    OutlinePoint* pts = zone[GLYPH_ZONE];
    const int32_t n = zoneSize[GLYPH_ZONE];
    for (int32_t i = 0; i < n + 2; i++)
        pts[i].flags &= POINT_ON_CURVE | POINT_OUTLINE_END;

    int32_t first = 0;
    for (int32_t i = 0; i < contourCount; i++) {
        // Contour ends come from the font: a contour that runs backwards or
        // past the outline is cut to the points that exist.
        int32_t last = std::min(contourEnds[i], n - 1);
        if (last < first)
            continue;
        uint32_t endFlags = pts[last].flags;
        pts[last].flags &= POINT_ON_CURVE;
        for (int32_t p = first; p <= last;) {
            int32_t next = p + 1 <= last ? p + 1 : first;
            int32_t after = p + 2 <= last ? p + 2 : (p + 1 == last ? first : first + 1);
            if (after > last)
                after = first; // a contour of a single point
            p = addSegment(p, next, after);
        }
        if (endFlags & POINT_OUTLINE_END)
            fillCrossings(bitmap);
        first = last + 1;
    }
    // An outline whose last simple glyph lost its end mark is filled too.
    if (rowCrossings.count || columnCrossings.count)
        fillCrossings(bitmap);
}
