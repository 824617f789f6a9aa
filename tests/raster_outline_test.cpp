// Size set-up, outline loading and glyph rendering on the fixture fonts of
// gen_raster.py (unitsPerEm 2048: at 16 px, 26.6 coordinates are the font
// units halved).
#include "raster/raster.h"
#include "raster/raster_slot.h"
#include "server/messages.h"
#include "support/paths.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Glyph indices of raster.ttf, in the generator's order.
enum ShapeGlyph {
    NOTDEF, SPACE, SQUARE, BAR, OVERLAP, ONSTART, OFFSTART, ALLOFF, BOX, ACUTE, WIDE,
    PAIR, ACCENTED, ACCENTEDRAW, USEMETRICS, FIRSTMETRICS, MATCHED
};

struct Fixture {
    TrueTypeFont font;
    Rasterizer r;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(1 << 16);
    GlyphMetrics m{};
    int32_t size = 0;

    explicit Fixture(const char* name, int ppem = 16, int pad = 2) : font(fixturePath(name).c_str(), false)
    {
        EXPECT_FALSE(font.isBad()) << name;
        r.scanlinePad = pad;
        r.setFont(&font, 0);
        r.setPixelSize(ppem, 0, 0, ppem);
    }

    int load(int glyph)
    {
        font.glyfTable->endPts = font.contourBuffer;
        font.glyfTable->points = font.pointBuffer;
        return font.glyfTable->loadGlyph(glyph, *font.locaTable, r);
    }

    const OutlinePoint& point(int i) const { return r.zone[GLYPH_ZONE][i]; }

    std::string render(int glyph)
    {
        size = r.renderGlyph(glyph, buffer.data(), buffer.data() + buffer.size(), m);
        std::string out;
        for (int row = 0; size && row < m.height; row++) {
            for (int col = 0; col < m.width; col++)
                out += buffer[row * r.rowBytes + col / 8] >> (col % 8) & 1 ? '#' : '.';
            out += '\n';
        }
        return out;
    }
};

} // namespace

TEST(SizeSetup, IntegerScaleAndShift)
{
    struct Case {
        const char* font;
        int32_t xx, xy, yx, yy;
        int32_t scaleXX, scaleYY, shift, ppemX, ppemY;
    } cases[] = {
        {"raster.ttf", 16, 0, 0, 16, 16, 16, 0, 16, 16},
        {"raster.ttf", 0, 0, 0, 0, 16, 16, 0, 16, 16},        // 0 means 16
        {"raster.ttf", 400, 0, 0, 400, 100, 100, 2, 400, 400}, // halved twice
        {"raster.ttf", 12, 0, 0, 20, 12, 20, 0, 12, 20},
        {"raster_upem1000.ttf", 16, 0, 0, 16, 8, 8, 2, 16, 16}, // 16 x 2048 / 4000 truncated
    };
    for (const Case& c : cases) {
        Fixture f(c.font);
        f.r.setPixelSize(c.xx, c.xy, c.yx, c.yy);
        EXPECT_EQ(f.r.scaleXX, c.scaleXX) << c.font << " " << c.xx;
        EXPECT_EQ(f.r.scaleYY, c.scaleYY) << c.font << " " << c.xx;
        EXPECT_EQ(f.r.scaleShift, c.shift) << c.font << " " << c.xx;
        EXPECT_EQ(f.r.ppemX, c.ppemX);
        EXPECT_EQ(f.r.ppemY, c.ppemY);
        EXPECT_EQ(f.r.ppem, (c.ppemX + c.ppemY) >> 1);
        EXPECT_EQ(f.r.state, 2);
    }

    Rasterizer alone;
    alone.setPixelSize(400, 0, 0, 400);
    EXPECT_EQ(alone.scaleXX, 100);
    EXPECT_EQ(alone.scaleShift, 2);
    EXPECT_EQ(alone.state, 1); // no font yet: the set-up waits for one
}

TEST(SizeSetup, TransformKeepsItsPrecisionAndRange)
{
    Fixture f("raster.ttf");
    EXPECT_EQ(f.r.transformX(1000, 500), 500); // 7.8 pixels
    EXPECT_EQ(f.r.transformY(1000, 500), 250);

    Fixture thousand("raster_upem1000.ttf");
    EXPECT_EQ(thousand.r.transformX(1000, 0), 1000); // 15.6 pixels, not 16

    // An off-diagonal term far larger than the diagonal: x from y at 1000
    // pixels per em. The factors stay small; the result stays close.
    f.r.setPixelSize(16, 1000, 0, 16);
    EXPECT_LE(f.r.scaleXY, 177);
    int32_t x = f.r.transformX(0, 2048);
    EXPECT_NEAR(x, 1000 * 64, 1000 * 64 / 50);
    EXPECT_NEAR(f.r.transformY(0, 2048), 16 * 64, 16 * 64 / 5);
}

TEST(GlyphLoading, SimpleGlyphScaledWithPhantomPoints)
{
    Fixture f("raster.ttf");
    ASSERT_EQ(f.load(SQUARE), 1);
    ASSERT_EQ(f.r.zoneSize[GLYPH_ZONE], 4);
    ASSERT_EQ(f.r.contourCount, 1);
    EXPECT_EQ(f.r.contourEnds[0], 3);
    const int32_t expected[4][2] = {{0, 0}, {0, 128}, {128, 128}, {128, 0}};
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(f.point(i).x, expected[i][0]);
        EXPECT_EQ(f.point(i).y, expected[i][1]);
        EXPECT_EQ(f.point(i).orgX, expected[i][0]);
        EXPECT_TRUE(f.point(i).flags & POINT_ON_CURVE);
        EXPECT_EQ(bool(f.point(i).flags & POINT_OUTLINE_END), i == 3);
    }
    // xMin equals lsb: the origin is at 0; the advance of 384 units is 192
    // in 26.6, rounded to 3 whole pixels.
    EXPECT_EQ(f.point(4).x, 0);
    EXPECT_EQ(f.point(5).orgX, 192);
    EXPECT_EQ(f.point(5).x, 192);
    EXPECT_EQ(f.point(5).y, 0);

    EXPECT_EQ(f.load(SPACE), 0);     // equal loca entries
    EXPECT_EQ(f.load(NOTDEF), 0);
    EXPECT_EQ(f.load(-1), 0);        // outside the font
    EXPECT_EQ(f.load(10000), 0);
    EXPECT_EQ(f.font.locaTable->glyphOffset(SPACE), -1);
    EXPECT_TRUE(f.font.locaTable->shortOffsets);
}

TEST(GlyphLoading, CompositeOffsetsScaledAndRounded)
{
    struct Case {
        int glyph;
        int32_t dx, dy;
    } cases[] = {
        {ACCENTED, 64, 320},    // (50, 350) on the grid
        {ACCENTEDRAW, 50, 350}, // (100, 700) units halved
        {MATCHED, 256, 256},    // acute's point 0 onto box's point 2
        {PAIR, 128, 128},
    };
    for (const Case& c : cases) {
        Fixture f("raster.ttf");
        ASSERT_EQ(f.load(c.glyph), 2) << c.glyph;
        ASSERT_EQ(f.r.zoneSize[GLYPH_ZONE], 8);
        ASSERT_EQ(f.r.contourCount, 2);
        EXPECT_EQ(f.r.contourEnds[1], 7);
        // The second component's first point, (0, 0) of its own glyph.
        EXPECT_EQ(f.point(4).x, c.dx) << c.glyph;
        EXPECT_EQ(f.point(4).y, c.dy) << c.glyph;
        EXPECT_EQ(f.point(4).orgX, c.dx);
        // Each component's last point ends a simple outline.
        EXPECT_TRUE(f.point(3).flags & POINT_OUTLINE_END);
        EXPECT_TRUE(f.point(7).flags & POINT_OUTLINE_END);
    }
}

TEST(GlyphLoading, CompositeMetricsFromTheMarkedComponentOrItsOwn)
{
    // "usemetrics": square (3 px) then wide (8 px) marked USE_MY_METRICS;
    // "firstmetrics": the same unmarked, so its own hmtx advance (16 px).
    Fixture f("raster.ttf");
    f.render(USEMETRICS);
    EXPECT_EQ(f.m.advance, 8);
    f.render(FIRSTMETRICS);
    EXPECT_EQ(f.m.advance, 16);
    f.render(ACCENTED); // box with its own advance of 1024 units
    EXPECT_EQ(f.m.advance, 8);
}

TEST(GlyphRendering, BoxOneLargerThanTheOutline)
{
    Fixture f("raster.ttf");
    EXPECT_EQ(f.render(SQUARE), "...\n"
                                "##.\n"
                                "##.\n");
    EXPECT_EQ(f.m.width, 3);
    EXPECT_EQ(f.m.height, 3);
    EXPECT_EQ(f.r.rowBytes, 4);
    EXPECT_EQ(f.size, 12);
    EXPECT_EQ(f.m.originX, 0);
    EXPECT_EQ(f.m.originY, 0);
    EXPECT_EQ(f.m.advance, 3);
    EXPECT_EQ(f.m.verticalAdvance, 0);

    // No outline: an empty box and the width tables' advance,
    // (64 + 512) x 16 / 2048.
    EXPECT_EQ(f.render(SPACE), "");
    EXPECT_EQ(f.size, 0);
    EXPECT_EQ(f.m.width, 0);
    EXPECT_EQ(f.m.height, 0);
    EXPECT_EQ(f.m.advance, 4);
}

TEST(GlyphRendering, OverlapsAndOffCurveStartsThroughTheLoader)
{
    Fixture f("raster.ttf");
    const std::string evenOdd = f.render(OVERLAP);
    EXPECT_EQ(evenOdd, ".......\n"
                       "..####.\n"
                       "..####.\n"
                       "##..##.\n"
                       "##..##.\n"
                       "####...\n"
                       "####...\n");
    EXPECT_EQ(f.render(PAIR), ".......\n"
                              "..####.\n"
                              "..####.\n"
                              "######.\n"
                              "######.\n"
                              "####...\n"
                              "####...\n");
    const std::string rounded = f.render(ONSTART);
    EXPECT_EQ(f.m.width, 9);
    EXPECT_EQ(f.render(OFFSTART), rounded);
    EXPECT_EQ(f.render(ALLOFF), rounded);
}

TEST(GlyphRendering, RowPadding)
{
    // "onstart" is 9 pixels wide and 9 high; the negative pads give every
    // glyph the rows of the font's widest width, from the head box:
    // (1024 + 64) x 16 / 2048 = 8 pixels.
    struct Case {
        int pad;
        int rowBytes;
    } cases[] = {{0, 2}, {1, 2}, {2, 4}, {3, 8}, {~0, 1}, {~1, 2}, {~2, 4}, {~3, 8}};
    for (const Case& c : cases) {
        Fixture f("raster.ttf", 16, c.pad);
        FontSlot slot{};
        slot.bufferSize = 1 << 16;
        slot.glyphMetrics = static_cast<GlyphMetrics*>(memAlloc(static_cast<int>(slot.bufferSize)));
        ASSERT_TRUE(f.r.renderAllGlyphs(slot));
        const GlyphMetrics& m = slot.glyphMetrics[ONSTART];
        EXPECT_EQ(m.bitmapSize, c.rowBytes * 9) << "pad " << c.pad;
        // Every offset is a multiple of the pad unit.
        for (uint32_t g = 0; g < slot.glyphCount; g++)
            EXPECT_EQ(slot.glyphMetrics[g].bitmapOffset % (1 << (c.pad < 0 ? ~c.pad : c.pad)), 0);
        memFree(slot.glyphMetrics, static_cast<int>(slot.bufferSize));
    }
}

TEST(GlyphRendering, AscentAdvancesAndHdmx)
{
    struct Case {
        const char* font;
        int ppem;
        int glyph;
        int32_t ascent, descent, advance;
    } cases[] = {
        // OS/2 usWinAscent 2000, usWinDescent 700.
        {"raster.ttf", 16, SQUARE, 15, 5, 3},
        // No OS/2: hhea 1900 / -500; hdmx says 7 at 16 px for glyph 1.
        {"raster_metrics.ttf", 16, 1, 14, 3, 7},
        {"raster_metrics.ttf", 16, 2, 14, 3, 3},
        {"raster_metrics.ttf", 12, 2, 11, 2, 9},
    };
    for (const Case& c : cases) {
        Fixture f(c.font, c.ppem);
        FontSlot slot{};
        slot.bufferSize = 1 << 16;
        slot.glyphMetrics = static_cast<GlyphMetrics*>(memAlloc(static_cast<int>(slot.bufferSize)));
        ASSERT_TRUE(f.r.renderAllGlyphs(slot));
        EXPECT_EQ(slot.fontMetrics.fontAscent, c.ascent) << c.font << " " << c.ppem;
        EXPECT_EQ(slot.fontMetrics.fontDescent, c.descent) << c.font << " " << c.ppem;
        EXPECT_EQ(slot.glyphMetrics[c.glyph].advance, c.advance) << c.font << " " << c.glyph;
        memFree(slot.glyphMetrics, static_cast<int>(slot.bufferSize));
    }
}

TEST(GlyphRendering, AGlyphWithInkNeverGoesWithoutItsBitmap)
{
    // Room for 40 bytes of bitmaps and no growth: the square (12) and the
    // bar (8) fit, the overlap (28) does not, so the rendering fails rather
    // than leave a glyph with a box and no bitmap.
    Fixture f("raster.ttf");
    f.r.glyphBufferCeiling = 0;
    FontSlot slot{};
    const uint32_t records = 17 * sizeof(GlyphMetrics);
    slot.bufferSize = records + 40;
    slot.glyphMetrics = static_cast<GlyphMetrics*>(memAlloc(static_cast<int>(slot.bufferSize)));
    EXPECT_FALSE(f.r.renderAllGlyphs(slot));
    memFree(slot.glyphMetrics, static_cast<int>(slot.bufferSize));

    // Room to grow: every glyph with a box gets its bitmap.
    Fixture g("raster.ttf");
    FontSlot grown{};
    grown.bufferSize = records + 40;
    grown.glyphMetrics = static_cast<GlyphMetrics*>(memAlloc(static_cast<int>(grown.bufferSize)));
    ASSERT_TRUE(g.r.renderAllGlyphs(grown));
    for (uint32_t glyph = 0; glyph < grown.glyphCount; glyph++) {
        const GlyphMetrics& m = grown.glyphMetrics[glyph];
        EXPECT_EQ(m.width > 0 && m.height > 0, m.bitmapSize > 0) << glyph;
    }
    EXPECT_EQ(grown.glyphMetrics[OVERLAP].bitmapSize, 28);
    memFree(grown.glyphMetrics, static_cast<int>(grown.bufferSize));

    // Not even the records fit: nothing is rendered.
    FontSlot tiny{};
    tiny.bufferSize = records;
    tiny.glyphMetrics = static_cast<GlyphMetrics*>(memAlloc(static_cast<int>(tiny.bufferSize)));
    Fixture h("raster.ttf");
    h.r.glyphBufferCeiling = 0;
    EXPECT_FALSE(h.r.renderAllGlyphs(tiny));
    memFree(tiny.glyphMetrics, static_cast<int>(tiny.bufferSize));
}

TEST(GlyphLoading, MalformedGlyphsHaveNoOutline)
{
    // raster_bad.ttf: 0 .notdef, 1 square, 2 self, 3 loopa, 4 loopb,
    // 5 badmatch, 6 many, 7.. deep0 .. deep11 (composites), 19 deep12.
    struct Case {
        int glyph;
        int result;
    } cases[] = {
        {1, 1},
        {2, 0}, // contains itself
        {3, 0}, // contains itself through another composite
        {4, 0},
        {5, 2}, // point numbers outside their glyphs: left in place
        {6, 0}, // more points and contours than maxp declares
        {7, 0}, // a chain 12 composites deep
        {12, 2}, // the same chain from 7 levels down
    };
    Fixture f("raster_bad.ttf");
    for (const Case& c : cases)
        EXPECT_EQ(f.load(c.glyph), c.result) << c.glyph;
    ASSERT_EQ(f.load(5), 2);
    EXPECT_EQ(f.point(4).x, 0);

    // The whole font still renders; the refused glyphs keep an advance.
    FontSlot slot{};
    slot.bufferSize = 1 << 16;
    slot.glyphMetrics = static_cast<GlyphMetrics*>(memAlloc(static_cast<int>(slot.bufferSize)));
    ASSERT_TRUE(f.r.renderAllGlyphs(slot));
    EXPECT_EQ(slot.glyphMetrics[6].bitmapSize, 0);
    EXPECT_EQ(slot.glyphMetrics[6].advance, 8);
    EXPECT_GT(slot.glyphMetrics[12].bitmapSize, 0);
    memFree(slot.glyphMetrics, static_cast<int>(slot.bufferSize));
}
