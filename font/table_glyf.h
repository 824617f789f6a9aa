// The "glyf" table: the glyph outlines and their instructions, and the
// loader that puts one glyph's outline into the Rasterizer's glyph zone.
#pragma once

#include <cstdint>

#include "font/mapped_file.h"

class LocaTable;
class Rasterizer;
struct OutlinePoint;

class GlyfTable : public MappedFile {
public:
    GlyfTable(const MappedFile& font, uint32_t offset, uint32_t length) { makeView(font, offset, length); }

    // Loads, scales and hints glyph into the arrays at endPts and points
    // (the Rasterizer's scratch arrays, pointed at by the caller first):
    // 0 when the glyph has no outline (or is malformed), 1 for a simple
    // glyph, 2 for a composite.
    int loadGlyph(int32_t glyph, const LocaTable& loca, Rasterizer& rasterizer);

    // The glyph being loaded; meaningful from a load to the scan conversion
    // that follows it.
    int16_t xMin = 0;
    int32_t instrOffset = 0;
    int32_t instrLength = 0;
    int32_t numContours = 0;
    int32_t* endPts = nullptr;
    int32_t numPoints = 0;
    OutlinePoint* points = nullptr;

    // Composites nest at most this deep; a deeper glyph (one that contains
    // itself, say) has no outline.
    static constexpr int MAX_COMPONENT_DEPTH = 8;
    // A glyph may take at most this many component loads in all, so that
    // nesting cannot multiply the work without bound.
    static constexpr int MAX_COMPONENT_LOADS = 256;

private:
    int load(int32_t glyph, const LocaTable& loca, Rasterizer& rasterizer, int depth);
    int loadSimple(int32_t glyph, Rasterizer& rasterizer);
    int loadComposite(int32_t glyph, const LocaTable& loca, Rasterizer& rasterizer, int depth);
    void readCoordinates(OutlinePoint* pts, int32_t n, uint8_t shortBit, uint8_t sameBit, int32_t OutlinePoint::*field);

    int componentLoads = 0;
};
