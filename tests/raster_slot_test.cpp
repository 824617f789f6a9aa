// Opening font instances: the slot table, the size and range defaults, and
// whole real fonts rendered at several sizes.
#include "raster/raster.h"
#include "raster/raster_slot.h"
#include "server/settings.h"
#include "support/paths.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string DEJAVU = "/usr/share/fonts/truetype/dejavu/";
const std::string LIBERATION = "/usr/share/fonts/truetype/liberation/";

FontParams pixels(int32_t xx, int32_t yy)
{
    return {{xx, yy, 0, 0}, {0, 0, 0, 0}, 96, 96, 0};
}

FontSlot* open(const std::string& path, FontParams params, Rasterizer& r, uint32_t id = 1)
{
    return openFontSlot(new TrueTypeFont(path.c_str(), false), params, r, id, nullptr);
}

void closeAll()
{
    for (FontSlot& slot : fontSlots)
        if (slot.fontId)
            closeFontSlot(slot);
}

struct SlotTest : testing::Test {
    Rasterizer r;
    ServerSettings saved = settings;
    void TearDown() override
    {
        closeAll();
        settings = saved;
    }
};

// Ink rows of glyph g's bitmap.
int inkRows(const FontSlot& slot, int g)
{
    const GlyphMetrics& m = slot.glyphMetrics[g];
    int rows = 0, rowBytes = m.height ? m.bitmapSize / m.height : 0;
    for (int row = 0; row < m.height; row++) {
        bool ink = false;
        for (int b = 0; b < rowBytes; b++)
            ink |= slot.bitmaps[m.bitmapOffset + row * rowBytes + b] != 0;
        rows += ink;
    }
    return rows;
}

} // namespace

TEST_F(SlotTest, CharacterRangeIsClamped)
{
    struct Case {
        std::string font;
        bool unstrapped;
        uint16_t first, last;
    } cases[] = {
        {DEJAVU + "DejaVuSans.ttf", false, 32, 255},      // OS/2 32 .. 0xFFFF
        {DEJAVU + "DejaVuSans.ttf", true, 0, 10751},      // 10500 | 0xFF
        {LIBERATION + "LiberationSans-Regular.ttf", false, 31, 255}, // first 33 > 32
        {fixturePath("raster.ttf"), false, 31, 48},       // OS/2 33 .. 48
    };
    for (const Case& c : cases) {
        settings.unstrapped = c.unstrapped;
        FontSlot* slot = open(c.font, pixels(8, 8), r);
        ASSERT_NE(slot, nullptr) << c.font;
        EXPECT_EQ(slot->info.firstChar, c.first) << c.font << " " << c.unstrapped;
        EXPECT_EQ(slot->info.lastChar, c.last) << c.font << " " << c.unstrapped;
        closeFontSlot(*slot);
    }
}

TEST_F(SlotTest, ResolutionAndPixelSizeDefaults)
{
    struct Case {
        FontParams params;
        int forced;
        int32_t ppemX, ppemY, resolutionX, resolutionY;
    } cases[] = {
        {{{0, 0, 0, 0}, {12, 12, 0, 0}, 75, 75, 0}, 0, 12, 12, 75, 75}, // 12.5 truncated
        {{{0, 0, 0, 0}, {0, 0, 0, 0}, 75, 75, 0}, 0, 12, 12, 75, 75},   // nothing: 12 px
        {{{0, 0, 0, 0}, {12, 12, 0, 0}, 100, 0, 0}, 0, 16, 16, 96, 96},  // one 0: both 96
        {{{0, 0, 0, 0}, {12, 12, 0, 0}, 0, 100, 0}, 144, 24, 24, 144, 144},
        {{{20, 30, 0, 0}, {12, 12, 0, 0}, 96, 96, 0}, 0, 20, 30, 96, 96},
    };
    for (Case& c : cases) {
        settings.forcedResolution = c.forced;
        FontSlot* slot = open(fixturePath("raster.ttf"), c.params, r);
        ASSERT_NE(slot, nullptr);
        EXPECT_EQ(r.ppemX, c.ppemX);
        EXPECT_EQ(r.ppemY, c.ppemY);
        closeFontSlot(*slot);
        // The completed values go back to the caller.
        FontParams written = c.params;
        slot = openFontSlot(new TrueTypeFont(fixturePath("raster.ttf").c_str(), false), written, r, 1, nullptr);
        ASSERT_NE(slot, nullptr);
        EXPECT_EQ(written.resolutionX, c.resolutionX);
        EXPECT_EQ(written.resolutionY, c.resolutionY);
        EXPECT_EQ(written.pixelMatrix[0], c.ppemX);
        EXPECT_EQ(written.pixelMatrix[1], c.ppemY);
        closeFontSlot(*slot);
    }
}

TEST_F(SlotTest, TwoHundredFiftySixInstancesAtATime)
{
    const std::string font = fixturePath("raster.ttf");
    for (uint32_t id = 1; id <= FONT_SLOT_COUNT; id++)
        ASSERT_NE(open(font, pixels(8, 8), r, id), nullptr) << id;
    EXPECT_EQ(open(font, pixels(8, 8), r, 1000), nullptr);

    FontSlot* tenth = findFontSlot(10);
    ASSERT_NE(tenth, nullptr);
    EXPECT_EQ(tenth, &fontSlots[9]);
    closeFontSlot(*tenth);
    EXPECT_EQ(findFontSlot(10), nullptr);
    EXPECT_EQ(open(font, pixels(8, 8), r, 1000), &fontSlots[9]);
    EXPECT_EQ(findFontSlot(1000), &fontSlots[9]);
}

TEST_F(SlotTest, UnusableOpensAreRefused)
{
    FontParams params = pixels(8, 8);
    EXPECT_EQ(openFontSlot(nullptr, params, r, 1, nullptr), nullptr);
    EXPECT_EQ(open(fixturePath("no-such-font.ttf"), pixels(8, 8), r), nullptr);
    // A font opened for the database only has no outlines, also on a
    // Rasterizer whose previous font is closed by now.
    closeFontSlot(*open(fixturePath("raster.ttf"), pixels(8, 8), r));
    EXPECT_EQ(openFontSlot(new TrueTypeFont(fixturePath("raster.ttf").c_str(), true), params, r, 1, nullptr), nullptr);
    // Id 0 marks a free slot and cannot name an instance.
    EXPECT_EQ(open(fixturePath("raster.ttf"), pixels(8, 8), r, 0), nullptr);
    EXPECT_EQ(findFontSlot(0), nullptr);
    // An id with bit 31 set is stored sign-extended and found like any other.
    FontSlot* high = open(fixturePath("raster.ttf"), pixels(8, 8), r, 0x80000001u);
    ASSERT_NE(high, nullptr);
    EXPECT_EQ(findFontSlot(0x80000001u), high);
    for (const FontSlot& slot : fontSlots)
        EXPECT_TRUE(slot.fontId == 0 || slot.fontId == -0x7FFFFFFF);
}

TEST_F(SlotTest, RealFontsRenderEveryGlyph)
{
    struct Case {
        std::string font;
        int capHeight; // font units of 2048
    } fonts[] = {
        {DEJAVU + "DejaVuSans.ttf", 1493},
        {DEJAVU + "DejaVuSerif-Bold.ttf", 1493},
        {DEJAVU + "DejaVuSansMono.ttf", 1493},
        {LIBERATION + "LiberationSans-Regular.ttf", 1409},
        {LIBERATION + "LiberationSerif-Italic.ttf", 1341},
        {LIBERATION + "LiberationMono-Bold.ttf", 1349},
    };
    for (const Case& c : fonts) {
        for (int ppem : {8, 12, 16, 24, 48}) {
            FontSlot* slot = open(c.font, pixels(ppem, ppem), r);
            ASSERT_NE(slot, nullptr) << c.font;
            const std::string where = c.font + " at " + std::to_string(ppem);
            // One block: the records, then the bitmaps back to back.
            EXPECT_EQ(slot->bufferSize, slot->glyphCount * sizeof(GlyphMetrics) + slot->bitmapsSize) << where;
            EXPECT_EQ(slot->bitmaps, reinterpret_cast<uint8_t*>(slot->glyphMetrics + slot->glyphCount));
            int32_t next = 0, missing = 0;
            for (uint32_t g = 0; g < slot->glyphCount; g++) {
                const GlyphMetrics& m = slot->glyphMetrics[g];
                EXPECT_EQ(m.bitmapOffset, next) << where << " glyph " << g;
                next += m.bitmapSize;
                missing += m.width > 0 && m.bitmapSize == 0;
                EXPECT_GE(m.advance, 0) << where << " glyph " << g;
                EXPECT_LE(m.advance, slot->fontMetrics.maxAdvance);
            }
            EXPECT_EQ(missing, 0) << where;
            // 'H' stands on the baseline and is as tall as the cap height,
            // which hinting may round up or down to a whole pixel.
            uint16_t h = slot->font->getGlyphNo('H');
            const GlyphMetrics& m = slot->glyphMetrics[h];
            EXPECT_EQ(m.originY, 0) << where;
            EXPECT_NEAR(inkRows(*slot, h), c.capHeight * ppem / 2048.0, 1.5) << where;
            EXPECT_NEAR(slot->fontMetrics.fontAscent + slot->fontMetrics.fontDescent, ppem * 1.15, ppem * 0.2);
            closeFontSlot(*slot);
        }
    }
}

// In a monospaced font the space, which has no outline, is as wide as the
// letters and digits, which get their advance from their phantom points.
TEST_F(SlotTest, MonospacedSpaceIsAsWideAsTheLetters)
{
    for (const std::string& font : {DEJAVU + "DejaVuSansMono.ttf", LIBERATION + "LiberationMono-Regular.ttf"}) {
        for (int ppem = 6; ppem <= 40; ppem++) {
            FontSlot* slot = open(font, pixels(ppem, ppem), r);
            ASSERT_NE(slot, nullptr) << font;
            const int32_t letter = slot->glyphMetrics[slot->font->getGlyphNo('M')].advance;
            for (uint16_t c : {uint16_t(' '), uint16_t('i'), uint16_t('0'), uint16_t(0xA0)})
                EXPECT_EQ(slot->glyphMetrics[slot->font->getGlyphNo(c)].advance, letter)
                    << font << " at " << ppem << " code " << c;
            closeFontSlot(*slot);
        }
    }
}

TEST_F(SlotTest, LargeSizesGetEveryBitmapBeyondSixteenMegabytes)
{
    // About 34 MB of bitmaps in rows padded to 32 bits.
    FontSlot* slot = open(DEJAVU + "DejaVuSans.ttf", pixels(300, 300), r);
    ASSERT_NE(slot, nullptr);
    EXPECT_GT(slot->bufferSize, 16u << 20);
    int32_t missing = 0;
    for (uint32_t g = 0; g < slot->glyphCount; g++)
        missing += slot->glyphMetrics[g].width > 0 && slot->glyphMetrics[g].bitmapSize == 0;
    EXPECT_EQ(missing, 0);
    // The last glyphs rendered are as inked as the first.
    uint16_t z = slot->font->getGlyphNo(0x2122); // trade mark sign, late in the font
    EXPECT_GT(inkRows(*slot, z), 50);
}

TEST_F(SlotTest, SizesWhoseGlyphsCannotAllBeKeptAreRefused)
{
    // At 10000 pixels one glyph's bitmap alone is past the ceiling; beyond
    // 32767 pixels no metric fits the protocol's 16-bit fields, however
    // small the glyphs.
    EXPECT_EQ(open(DEJAVU + "DejaVuSans.ttf", pixels(10000, 10000), r), nullptr);
    EXPECT_EQ(open(fixturePath("raster.ttf"), pixels(40000, 40000), r), nullptr);
    EXPECT_EQ(open(fixturePath("raster.ttf"), pixels(16, -40000), r), nullptr);
    for (const FontSlot& slot : fontSlots)
        EXPECT_EQ(slot.fontId, 0);

    // The same Rasterizer then serves an ordinary size as before.
    FontSlot* small = open(DEJAVU + "DejaVuSans.ttf", pixels(16, 16), r, 2);
    ASSERT_NE(small, nullptr);
    EXPECT_GT(small->glyphMetrics[small->font->getGlyphNo('H')].bitmapSize, 0);
}

TEST_F(SlotTest, TheCeilingCoversEveryGlyphBufferOfTheProcess)
{
    // Room for three and a half 16-pixel instances of DejaVu Sans: the
    // fourth open fails whole, first buffer included, and closing one
    // makes room again.
    FontSlot* probe = open(DEJAVU + "DejaVuSans.ttf", pixels(16, 16), r);
    ASSERT_NE(probe, nullptr);
    const uint32_t one = probe->bufferSize;
    closeFontSlot(*probe);
    r.glyphBufferCeiling = one * 3 + one / 2;
    for (uint32_t id = 1; id <= 3; id++)
        ASSERT_NE(open(DEJAVU + "DejaVuSans.ttf", pixels(16, 16), r, id), nullptr) << id;
    EXPECT_EQ(open(DEJAVU + "DejaVuSans.ttf", pixels(16, 16), r, 4), nullptr);
    EXPECT_EQ(findFontSlot(4), nullptr);
    uint64_t held = 0;
    for (const FontSlot& slot : fontSlots)
        held += slot.fontId ? slot.bufferSize : 0;
    EXPECT_EQ(held, uint64_t(one) * 3);
    closeFontSlot(*findFontSlot(2));
    EXPECT_NE(open(DEJAVU + "DejaVuSans.ttf", pixels(16, 16), r, 6), nullptr);
}

TEST_F(SlotTest, OutlineWorkPerFontIsBounded)
{
    // With room for a few dozen glyphs' work only, the rest of the font
    // keeps the advances of its width tables and no bitmaps.
    r.workPerFont = 20000;
    FontSlot* slot = open(DEJAVU + "DejaVuSans.ttf", pixels(16, 16), r);
    ASSERT_NE(slot, nullptr);
    uint32_t rendered = 0, last = 0;
    for (uint32_t g = 0; g < slot->glyphCount; g++)
        if (slot->glyphMetrics[g].bitmapSize > 0)
            rendered++, last = g;
    EXPECT_GT(rendered, 10u);
    EXPECT_LT(last, slot->glyphCount / 4);
    const GlyphMetrics& late = slot->glyphMetrics[slot->glyphCount - 1];
    EXPECT_EQ(late.width, 0);
    EXPECT_EQ(late.advance, slot->font->getGlyphWidth(16, slot->glyphCount - 1));
}
