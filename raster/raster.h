// The per-connection glyph renderer: the current font and its FUnits-to-pixel
// transform, the glyph zone the outline loader fills, the scan converter and
// the bitmap layout. One Rasterizer lives as long as its connection; every
// font instance it opens is rendered completely at open time (raster_slot.h).
#pragma once

#include <cstdint>

#include "raster/raster_zone.h"

class TrueTypeFont;
class MappedFile;
struct FontSlot;
struct GlyphMetrics;

// A function or instruction definition: the bytes of its body in one of the
// font's instruction streams, from the byte after FDEF or IDEF up to and
// including the closing ENDF. A length of 0 is an empty entry.
struct FunctionDef {
    MappedFile* stream;
    int32_t offset;
    int32_t length;
};

// One crossing of the outline with a pixel-centre line, packed so that
// sorting the plain numbers sorts by (line, position): the biased line
// coordinate in the high half, the biased position in the low half.
using Crossing = uint64_t;

struct CrossingList {
    Crossing* entries = nullptr;
    int32_t count = 0;
    int32_t capacity = 0;
};

class Rasterizer {
public:
    Rasterizer();
    ~Rasterizer();
    Rasterizer(const Rasterizer&) = delete;
    Rasterizer& operator=(const Rasterizer&) = delete;

    // Font and size set-up (raster_setup.cpp).
    void setFont(TrueTypeFont* newFont, int32_t renderFlags);
    void setPixelSize(int32_t xx, int32_t xy, int32_t yx, int32_t yy);
    void applyScale();

    // The glyph zone (raster_outline.cpp): the loader stores a glyph's
    // contours and points, and this adds the two phantom points after them.
    void setGlyphZone(int32_t contours, int32_t points, int32_t* ends, OutlinePoint* pts, int32_t glyph,
                      int32_t xMin);
    // Scales the outline points of the glyph zone from FUnits to 26.6.
    void scalePoints();
    // The transform applied to one FUnit coordinate pair.
    int32_t transformX(int32_t x, int32_t y) const;
    int32_t transformY(int32_t x, int32_t y) const;
    // The glyph's hmtx advance scaled and rounded to whole pixels, as its
    // advance phantom point has it before any instruction moves it.
    int32_t roundedAdvance(int32_t glyph) const;

    // Scan conversion (raster_scan.cpp): fills the glyph zone's outline into
    // the bitmap at `bitmap`; imageSize is 0 afterwards when it did not fit
    // before `end`.
    void scanConvert(uint8_t* bitmap, const uint8_t* end);

    // Bitmaps and metrics (raster_bitmap.cpp). renderAllGlyphs fills the
    // slot's glyph buffer, growing it as the bitmaps need; false when the
    // GlyphMetrics array or the bitmap of a glyph with ink does not fit
    // within glyphBufferCeiling.
    bool renderAllGlyphs(FontSlot& slot);
    int32_t renderGlyph(int32_t glyph, uint8_t* bitmap, const uint8_t* end, GlyphMetrics& metrics);

    // The hinting interpreter (raster_hints*.cpp). The font program runs
    // when a font is set, the control value program at each size set-up,
    // and a glyph's program once the loader has stored and scaled it.
    void runFontProgram();
    void calcCVT();
    void runGlyphProgram(MappedFile& stream, int32_t offset, int32_t length);
    void execHints(MappedFile& stream, int32_t offset, int32_t length);
    void execOpcode(MappedFile& stream);
    void skipBlock(MappedFile& stream);
    void callDefinition(const FunctionDef& definition, MappedFile& caller);
    void freeHints();

    // Every limit of the interpreter is checked here, in the accessors the
    // instructions use: a value, point, control value or storage location
    // outside its table records the failure and yields a harmless stand-in,
    // and the fetch loop then abandons the program.
    void push(int32_t value);
    int32_t pop();
    int32_t& top();
    OutlinePoint& point(int32_t zoneNumber, int32_t number);
    int32_t& cvtEntry(int32_t index, const char* condition);
    int32_t& storageEntry(int32_t index, const char* condition);
    int32_t contourEnd(int32_t contour);
    // Charges work done inside one instruction (points walked, loop
    // iterations) to the running program's instruction budget.
    void charge(int64_t units);
    void fail(const char* condition, const char* routine = "execOpcode");
    bool failed() const { return hintFailure != nullptr; }

    TrueTypeFont* font = nullptr;
    // 0 no font; 1 font set, size set-up pending; 2 sized; 3 all glyphs rendered.
    int32_t state = 0;
    int32_t sizePoints = 0;
    int32_t sizeContours = 0;
    int32_t scaleXX = 0;
    int32_t scaleXY = 0;
    int32_t scaleYX = 0;
    int32_t scaleYY = 0;
    int32_t scaleShift = 0;
    int32_t ppem = 0;
    int32_t ppemX = 0;
    int32_t ppemY = 0;
    // 0..3: rows padded to 8 << pad bits, each glyph as wide as itself;
    // negative v: rows padded to 8 << ~v bits, all as wide as the widest glyph.
    int32_t scanlinePad = 2;
    int32_t imageWidth = 0;
    int32_t imageHeight = 0;
    int32_t imageSize = 0;
    int32_t rowBytes = 0;
    int32_t hinting = 1;

    // The glyph scratch arrays, lent to the attached font.
    OutlinePoint* pointArray = nullptr;
    int32_t* contourArray = nullptr;

    // Zone 0 is the twilight zone, zone 1 the glyph zone: its point count n
    // excludes the phantom points n (origin) and n + 1 (advance).
    OutlinePoint* zone[2] = {nullptr, nullptr};
    int32_t zoneSize[2] = {0, 0};
    int32_t* contourEnds = nullptr;
    int32_t contourCount = 0;

    GraphicsState gs;
    GraphicsState prepState;

    // The interpreter's tables, sized at font set-up to twice the font's
    // declared needs and never shrunk. Slot 0 of the stack never holds a
    // pushed value; stackTop is the slot of the top value, 0 when empty,
    // and drops below 0 only when an instruction pops an empty stack.
    int32_t* stackbase = nullptr;
    int32_t stackSize = 0;
    int32_t stackTop = 0;
    int32_t* cvt = nullptr;
    int32_t sizeCvt = 0;
    int32_t* storage = nullptr;
    int32_t sizeStor = 0;
    FunctionDef* fdefs = nullptr;
    int32_t sizeFDefs = 0;
    FunctionDef* idefs = nullptr;
    int32_t sizeIDefs = 0;
    OutlinePoint* twilight = nullptr;
    int32_t twilightSize = 0;

    // The first failed limit of the running program, as its condition text
    // and the routine that checked it; null while the program runs well.
    const char* hintFailure = nullptr;
    const char* hintFailureRoutine = nullptr;
    // Set when the font program or the control value program failed: the
    // font's functions or control values cannot be trusted, so glyph
    // programs stay off until the next font set-up.
    bool hintsBroken = false;
    // The byte range of the program or definition running now: jumps may
    // not leave it backwards, and a skipped block ends at its end.
    int32_t rangeStart = 0;
    int32_t rangeEnd = 0;
    int32_t callDepth = 0;
    int64_t instructionsLeft = 0;
    // What the glyph programs of the font set last may run together: a
    // million, and 4,000 more per glyph. Honest fonts average 60 to 530
    // instructions a glyph, so a font whose every glyph loops costs at
    // most some twenty times what an honest one does.
    int64_t glyphInstructionsLeft = 0;

    // The bytes that the glyph buffers of all open instances of this process
    // may hold together, each from its first allocation on: what one
    // client can make its serving process keep. An open that does not fit
    // fails.
    uint32_t glyphBufferCeiling = 256u << 20;

    // The bitmap size of the last glyph renderGlyph measured, kept when the
    // bitmap did not fit so that the caller can make room and convert again.
    int64_t measuredImageSize = 0;
    // Outline work left for the font being rendered, counted in points
    // loaded and crossings made, so that neither a hostile font nor an
    // absurd size (100000 pixels wide) makes one open run for long: past it,
    // glyphs keep only the advance of the width tables. DejaVu Sans needs at
    // most some 20 million at any size. renderAllGlyphs restores it.
    int64_t workPerFont = int64_t(1) << 27;
    int64_t workLeft = workPerFont;

    // rowBytes of every glyph while scanlinePad is negative.
    int64_t fixedRowBytes = 0;

private:
    void addLine(int32_t xA, int32_t yA, int32_t xB, int32_t yB);
    void addAxisCrossings(CrossingList& list, int32_t atA, int32_t alongA, int32_t atB, int32_t alongB);
    void addArc(int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
    int32_t addSegment(int32_t p, int32_t q, int32_t r);
    void fillCrossings(uint8_t* bitmap);
    void addCrossing(CrossingList& list, int64_t key, int64_t value);
    bool growCrossings(CrossingList& list);
    void sortCrossings(CrossingList& list);
    bool reserveSortScratch(int32_t entries, int32_t lines);

    CrossingList rowCrossings;
    CrossingList columnCrossings;
    // Set when a list could not grow: the outline's crossings no longer pair
    // up, so it is left unfilled rather than drawn wrongly.
    bool crossingsLost = false;
    // Grow-only scratch of sortCrossings.
    Crossing* sorted = nullptr;
    int32_t sortedCapacity = 0;
    int32_t* lineStart = nullptr;
    int32_t lineStartCapacity = 0;
};
