// The character map: which subtable a font uses, formats 0, 4 and 6, and
// malformed maps that must answer 0 instead of reading outside the table.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "font/truetype_font.h"
#include "support/paths.h"

namespace {

struct Lookup {
    uint16_t code;
    uint16_t glyph;
};

// Latin codes of the fixtures: 0x20 to 0x7E on glyphs 1 to 6 in turn.
uint16_t latinGlyph(uint16_t code)
{
    return 1 + (code - 0x20) % 6;
}

void expectLookups(const char* fixture, int32_t format, std::initializer_list<Lookup> lookups)
{
    SCOPED_TRACE(fixture);
    TrueTypeFont font(fixturePath(fixture).c_str(), false);
    ASSERT_FALSE(font.isBad());
    EXPECT_EQ(font.cmapTable->format, format);
    for (Lookup l : lookups) {
        SCOPED_TRACE(l.code);
        EXPECT_EQ(font.cmapTable->charToGlyph(l.code), l.glyph);
    }
}

TEST(CmapTableTest, LastRecordWithAReadableFormatWins)
{
    expectLookups("cmap_0_then_4.ttf", 4, {{0x41, latinGlyph(0x41)}, {0x100, 3}, {0x2122, 5}});
    expectLookups("cmap_4_then_0.ttf", 0, {{0x41, latinGlyph(0x41)}, {0x7E, latinGlyph(0x7E)}, {0x100, 0}, {0x2122, 0}});
    // Platform and encoding play no part: a Macintosh format 6 map last wins.
    expectLookups("cmap_mac_last.ttf", 6, {{0x41, 7}, {0x42, 0}, {0x2122, 0}});
    // A format 12 subtable after the format 4 one is passed over.
    expectLookups("cmap_12_last.ttf", 4, {{0x41, latinGlyph(0x41)}, {0x2122, 5}, {0xF600, 0}});
    expectLookups("cmap_only_12.ttf", -1, {{0x41, 0}, {0x2122, 0}});
}

TEST(CmapTableTest, Format0And6AreDirectIndexes)
{
    expectLookups("cmap_4_then_0.ttf", 0, {{0x1F, 0}, {0x20, 1}, {0xFF, 0}, {0xFFFF, 0}});
    // firstCode 32, entryCount 95, code c on glyph c - 31.
    expectLookups("cmap_6.ttf", 6, {{0, 0}, {31, 0}, {32, 1}, {0x41, 34}, {126, 95}, {127, 0}, {0xFFFF, 0}});
}

TEST(CmapTableTest, Format4SegmentsDeltasAndGlyphArrays)
{
    // One segment 0x20-0x7E with idDelta -29, then 0xFFFF.
    expectLookups("cmap_4_delta.ttf", 4, {{0x41, 36}, {0x20, 3}, {0x7E, 0x7E - 29}, {0x7F, 0}, {0x1F, 0}, {0, 0}});
    // 0xF020-0xF0FF on glyphs 3 on: idDelta 0x0FE3 wraps past 65536.
    expectLookups("cmap_4_symbol.ttf", 4, {{0xF020, 3}, {0xF0FF, 3 + 0xDF}, {0xF01F, 0}, {0x20, 0}, {0xF100, 0}});
    // Glyph index array segments with idDelta 5; the array's 0 stays 0.
    expectLookups("cmap_4_range_delta5.ttf", 4, {{0x30, 1 + 5}, {0x31, 8 + 5}, {0x38, 0}, {0x4D, 14 + 5}, {0x4E, 0}});

    // Scattered codes (glyph index array), runs (idDelta) and single codes
    // with gaps between them, against the mapping the font was built from.
    std::map<uint16_t, uint16_t> mapping;
    for (int i = 0; i < 30; i++)
        mapping[0x30 + i] = (7 * i) % 19 + 1;
    for (int i = 0; i < 40; i++)
        mapping[0x400 + i] = 20 + i;
    mapping[0x2000] = 60;
    mapping[0x2002] = 61;
    mapping[0x2010] = 62;
    TrueTypeFont font(fixturePath("cmap_4_mixed.ttf").c_str(), false);
    ASSERT_FALSE(font.isBad());
    for (uint32_t code = 0; code <= 0xFFFF; code++) {
        auto found = mapping.find(uint16_t(code));
        uint16_t expected = found == mapping.end() ? 0 : found->second;
        ASSERT_EQ(font.getGlyphNo(code), expected) << "code " << code;
    }
}

TEST(CmapTableTest, MalformedMapsAnswerZeroOutsideTheTable)
{
    // The one subtable cannot be used: every code maps to 0.
    for (const char* fixture : {"cmap_record_offset_zero.ttf", "cmap_record_offset_outside.ttf",
                                "cmap_num_tables_negative.ttf", "cmap_4_seg_count_huge.ttf",
                                "cmap_4_seg_count_negative.ttf", "cmap_4_range_outside.ttf"}) {
        SCOPED_TRACE(fixture);
        TrueTypeFont font(fixturePath(fixture).c_str(), false);
        ASSERT_FALSE(font.isBad());
        for (uint32_t code = 0; code <= 0xFFFF; code++)
            ASSERT_EQ(font.getGlyphNo(code), 0) << "code " << code;
    }
    // Entries past the table's end read as 0; those inside keep their glyph.
    expectLookups("cmap_6_entry_count_huge.ttf", 6, {{32, 1}, {126, 1}, {127, 0}, {0xFFFF, 0}});
}

TEST(CmapTableTest, DejaVuSansMapsThroughItsFormat4Subtable)
{
    TrueTypeFont font("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", false);
    ASSERT_FALSE(font.isBad());
    EXPECT_EQ(font.cmapTable->format, 4);
    EXPECT_NE(font.getGlyphNo('A'), 0);
    EXPECT_NE(font.getGlyphNo(0x20AC), 0);
    EXPECT_NE(font.getGlyphNo('A'), font.getGlyphNo('B'));
    EXPECT_EQ(font.getGlyphNo(0xFFFF), 0);
}

} // namespace
