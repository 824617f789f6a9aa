// The Rasterizer's life and its size set-up: attaching a font, turning a
// pixel size into the integer FUnits-to-26.6 transform.
#include <algorithm>

#include "raster/raster.h"
#include "font/truetype_font.h"
#include "server/messages.h"

namespace {

// The transform keeps its factors within this range so that a factor times
// 2048, and a 16-bit coordinate times a factor plus another product, fit
// 32 bits; the lost bits come back through scaleShift.
constexpr int32_t MAX_FACTOR = 177;

bool outsideFactorRange(int32_t v)
{
    return v < -MAX_FACTOR || v > MAX_FACTOR;
}

} // namespace

Rasterizer::Rasterizer()
{
    // Both crossing lists start with their usual room, 256 KB each; a failed
    // allocation only leaves them to be grown by the first outline.
    growCrossings(rowCrossings);
    growCrossings(columnCrossings);
}

Rasterizer::~Rasterizer()
{
    freeHints();
    memFree(rowCrossings.entries, rowCrossings.capacity * static_cast<int>(sizeof(Crossing)));
    memFree(columnCrossings.entries, columnCrossings.capacity * static_cast<int>(sizeof(Crossing)));
    memFree(sorted, sortedCapacity * static_cast<int>(sizeof(Crossing)));
    memFree(lineStart, lineStartCapacity * static_cast<int>(sizeof(int32_t)));
    memFree(contourArray, sizeContours * static_cast<int>(sizeof(int32_t)));
    memFree(pointArray, sizePoints * static_cast<int>(sizeof(OutlinePoint)));
}

void Rasterizer::setFont(TrueTypeFont* newFont, int32_t)
{
    // The font program runs with this transform.
    scaleXX = scaleYY = 21;
    scaleXY = scaleYX = 0;
    // A font opened for the database only lacks the outline tables.
    if (!newFont || newFont->isBad() || !newFont->maxpTable || !newFont->glyfTable || !newFont->locaTable
        || !newFont->hheaTable || !newFont->hmtxTable) {
        // No font stays attached: the one set before may be closed already.
        font = nullptr;
        state = 0;
        return;
    }
    font = newFont;
    state = 1;
    runFontProgram();

    // Scratch arrays are twice the declared need and only grow, so moving
    // between fonts rarely reallocates. A failed allocation leaves capacity
    // 0, and the loader then finds no room for any outline.
    const MaxpTable* maxp = font->maxpTable.get();
    int32_t points = maxp->maxPoints + maxp->maxCompositePoints + 2;
    if (sizePoints < points) {
        memFree(pointArray, sizePoints * static_cast<int>(sizeof(OutlinePoint)));
        pointArray = static_cast<OutlinePoint*>(memAlloc(2 * points * static_cast<int>(sizeof(OutlinePoint))));
        sizePoints = pointArray ? 2 * points : 0;
    }
    int32_t contours = maxp->maxContours + maxp->maxCompositeContours;
    if (sizeContours < contours) {
        memFree(contourArray, sizeContours * static_cast<int>(sizeof(int32_t)));
        contourArray = static_cast<int32_t*>(memAlloc(2 * contours * static_cast<int>(sizeof(int32_t))));
        sizeContours = contourArray ? 2 * contours : 0;
    }
    font->pointBuffer = pointArray;
    font->contourBuffer = contourArray;
}

void Rasterizer::setPixelSize(int32_t xx, int32_t xy, int32_t yx, int32_t yy)
{
    if (xx == 0)
        xx = 16;
    if (yy == 0)
        yy = 16;
    ppemX = xx;
    ppemY = yy;
    // Halve until every factor is small. Large off-diagonal terms (a matrix
    // far from upright) are halved like large sizes, which keeps the
    // arithmetic in range at the cost of their low bits.
    int32_t n = 0;
    while (outsideFactorRange(xx) || outsideFactorRange(yy) || outsideFactorRange(xy) || outsideFactorRange(yx)) {
        xx >>= 1, xy >>= 1, yx >>= 1, yy >>= 1;
        n++;
    }
    scaleXX = xx, scaleXY = xy, scaleYX = yx, scaleYY = yy;
    scaleShift = n;
    if (state != 0 && font)
        applyScale();
    else
        state = 1;
}

void Rasterizer::applyScale()
{
    if (!font)
        return;
    int32_t e = font->getEmUnits();
    int32_t s = scaleShift;
    if (e == 0)
        e = 2048; // unusable header; such a font never gets this far
    if (e > 2048) {
        while (s > 0) {
            bool large = e > 4097;
            e >>= 1;
            s--;
            if (!large)
                break;
        }
    }
    while (e < 2048) {
        e <<= 1;
        s++;
    }
    // Sizes of millions of pixels would shift past the word; coordinates
    // are meaningless there anyway, so the shift just stays defined.
    scaleShift = std::min(s, 31);
    if (e != 2048) {
        // The truncation is the transform's precision: 1000 units at 16 px
        // with unitsPerEm 1000 become 15.6 pixels, not 16.
        scaleXX = scaleXX * 2048 / e;
        scaleXY = scaleXY * 2048 / e;
        scaleYX = scaleYX * 2048 / e;
        scaleYY = scaleYY * 2048 / e;
    }
    ppem = static_cast<int32_t>((static_cast<int64_t>(ppemX) + ppemY) >> 1);
    if (hinting)
        calcCVT();
    state = 2;
}
