// The glyph zone: the outline the loader stored, scaled from FUnits to 26.6
// pixels, and the two phantom points that carry the glyph's origin and
// advance through hinting.
#include "raster/raster.h"
#include "raster/raster_fixed.h"
#include "font/truetype_font.h"

int32_t Rasterizer::transformX(int32_t x, int32_t y) const
{
    return roundAndShift(wrapMulAdd(x, scaleXX, y, scaleXY), scaleShift);
}

int32_t Rasterizer::transformY(int32_t x, int32_t y) const
{
    return roundAndShift(wrapMulAdd(x, scaleYX, y, scaleYY), scaleShift);
}

int32_t Rasterizer::roundedAdvance(int32_t glyph) const
{
    uint16_t advance = 0;
    int16_t lsb = 0;
    if (font && font->hmtxTable)
        font->hmtxTable->getHMetrics(glyph, advance, lsb);
    return roundToPixel(transformX(advance, 0)) >> 6;
}

void Rasterizer::setGlyphZone(int32_t contours, int32_t points, int32_t* ends, OutlinePoint* pts, int32_t glyph,
                              int32_t xMin)
{
    contourCount = contours;
    zoneSize[GLYPH_ZONE] = points;
    contourEnds = ends;
    zone[GLYPH_ZONE] = pts;

    uint16_t advance = 0;
    int16_t lsb = 0;
    if (font && font->hmtxTable)
        font->hmtxTable->getHMetrics(glyph, advance, lsb);
    // The points lie on the baseline, so only the x column of the transform
    // places them.
    int32_t origin = xMin - lsb;
    OutlinePoint* phantom = pts + points;
    phantom[0].orgX = transformX(origin, 0);
    phantom[0].orgY = transformY(origin, 0);
    phantom[1].orgX = transformX(origin + advance, 0);
    phantom[1].orgY = transformY(origin + advance, 0);
    for (int i = 0; i < 2; i++) {
        phantom[i].x = roundToPixel(phantom[i].orgX);
        phantom[i].y = roundToPixel(phantom[i].orgY);
        phantom[i].flags = 0;
    }
}

void Rasterizer::scalePoints()
{
    OutlinePoint* pts = zone[GLYPH_ZONE];
    const int32_t n = zoneSize[GLYPH_ZONE];
    for (int32_t i = 0; i < n; i++) {
        int32_t x = pts[i].x, y = pts[i].y;
        pts[i].x = pts[i].orgX = transformX(x, y);
        pts[i].y = pts[i].orgY = transformY(x, y);
    }
    if (state == 1)
        applyScale();
}
