// Open font instances: one font file at one size under a client's font id,
// rendered completely when it is opened. The extents and bitmap requests
// only read what openFontSlot stored here.
#pragma once

#include <cstdint>
#include <string>

#include "font/truetype_font.h"

class Encoding;
class Rasterizer;

// One glyph's box and placement, in whole pixels. Derived by the protocol:
// right side bearing = width - originX, ascent = height - originY,
// descent = originY, left side bearing = -originX.
struct GlyphMetrics {
    int32_t width;           // bitmap columns
    int32_t height;          // bitmap rows
    int32_t originX;         // from the bitmap's left edge to the glyph origin
    int32_t originY;         // from the bitmap's bottom edge to the baseline
    int32_t advance;         // horizontal advance
    int32_t verticalAdvance; // vertical distance of the phantom points (0 unrotated)
    int32_t bitmapOffset;    // from FontSlot::bitmaps to this glyph's bitmap
    int32_t bitmapSize;      // bytes; 0 for a glyph without bitmap
};

// Font-wide extremes over every glyph, then the font's own ascent and
// descent, in whole pixels.
struct FontMetrics {
    int32_t minLeftBearing;
    int32_t maxLeftBearing;
    int32_t minRightBearing;
    int32_t maxRightBearing;
    int32_t minAscent;
    int32_t maxAscent;
    int32_t minDescent;
    int32_t maxDescent;
    int32_t minAdvance;
    int32_t maxAdvance;
    int32_t fontAscent;
    int32_t fontDescent;
};

// The size request of an open; a 0 leaves the value to openFontSlot's
// defaults, which it writes back.
struct FontParams {
    // 0 horizontal pixel size (x from x), 1 vertical (y from y),
    // 2 the x-from-y term, 3 the y-from-x term.
    int32_t pixelMatrix[4];
    // The same in whole points.
    int32_t pointMatrix[4];
    int32_t resolutionX;
    int32_t resolutionY;
    int32_t renderFlags;
};

// The glyph buffer of a slot is one block:
//   glyphMetrics[0 .. glyphCount)      one record per glyph index
//   bitmaps = the byte after the array the bitmaps of glyph 0, 1, 2, ...
//                                      back to back, bitmapsSize bytes
// Glyph g's bitmap is bitmaps + bitmapOffset: height rows of rowBytes bytes,
// top row first; column j is bit (j mod 8) of byte (j div 8), least
// significant bit first, 1 = ink. rowBytes = bitmapSize / height; rows are
// padded to 8 << pad bits (the Rasterizer's scanlinePad when the font was
// opened), and with a negative pad every glyph's rows have the width of the
// font's widest advance.
struct FontSlot {
    int64_t fontId;       // the client's id sign-extended; 0 = free slot
    TrueTypeFont* font;   // owned
    FontInfo info;        // character range clamped by openFontSlot
    FontMetrics fontMetrics;
    GlyphMetrics* glyphMetrics; // start of the glyph buffer, owned
    uint8_t* bitmaps;
    uint32_t bufferSize;
    uint32_t bitmapsSize;
    uint32_t glyphCount;
    uint32_t bitmapFormat; // 0 after opening; the bitmap request records its layout
    const Encoding* encoding;
    // The font's full name, which opens this same instance again: the value
    // of its FONT property. Set by the open request.
    std::string fontName;
};

constexpr int FONT_SLOT_COUNT = 256;
extern FontSlot fontSlots[FONT_SLOT_COUNT];

// Takes the first free slot, fills it from font at the size of params with
// every glyph rendered by rasterizer, and returns it. On null the font has
// already been destroyed; on success the slot owns it until closeFontSlot.
FontSlot* openFontSlot(TrueTypeFont* font, FontParams& params, Rasterizer& rasterizer, uint32_t fontId,
                       const Encoding* encoding);

// The first slot, in table order, whose id equals fontId as a 32-bit value
// (ids with bit 31 set included), or null.
FontSlot* findFontSlot(uint32_t fontId);

// Bytes the glyph buffers of every open instance but `slot` hold.
uint64_t glyphBuffersBesides(const FontSlot& slot);

// Frees the glyph buffer, destroys the font and frees the slot.
void closeFontSlot(FontSlot& slot);
