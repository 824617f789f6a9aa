// The font object: which files make a good font for the database (infoOnly)
// and for serving, the font-info record, and the width lookups.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "database/font_naming.h"
#include "font/truetype_font.h"
#include "support/paths.h"

namespace {

bool isBadFixture(const std::string& name, bool infoOnly)
{
    TrueTypeFont font(fixturePath(name).c_str(), infoOnly);
    return font.isBad();
}

TEST(TrueTypeFontTest, DirectoryDecidesWhetherTheFontIsGood)
{
    struct Case {
        const char* fixture;
        bool badForDatabase;
        bool badForServing;
    };
    const Case cases[] = {
        {"good.ttf", false, false},
        {"missing.ttf", true, true},
        {"empty.ttf", true, true},
        {"tiny.ttf", true, true},
        {"num_tables_zero.ttf", true, true},
        {"num_tables_32768.ttf", true, true},
        {"num_tables_65535.ttf", true, true},
        {"directory_past_end.ttf", true, true},
        // A zero-length entry is skipped wherever it points.
        {"zero_length_wild_offset.ttf", false, false},
        // Entries running out of the file spoil the font, known tag or not.
        {"unknown_tag_past_end.ttf", true, true},
        {"offset_at_end.ttf", true, true},
        {"offset_wraps.ttf", true, true},
        {"no_name.ttf", true, true},
        {"no_head.ttf", true, true},
        {"bad_magic.ttf", true, true},
        {"zero_upem.ttf", true, true},
        {"short_head.ttf", true, true},
        {"head_twice_last_bad.ttf", true, true},
        {"head_twice_last_good.ttf", false, false},
        // The database needs only head and name; serving needs the outline,
        // character map and metrics tables too.
        {"no_glyf.ttf", false, true},
        {"no_loca.ttf", false, true},
        {"no_maxp.ttf", false, true},
        {"no_cmap.ttf", false, true},
        {"no_hhea.ttf", false, true},
        {"no_hmtx.ttf", false, true},
        {"short_hhea.ttf", false, true},
        {"info_no_os2.ttf", false, false},
        {"short_os2.ttf", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixture);
        EXPECT_EQ(isBadFixture(c.fixture, true), c.badForDatabase);
        EXPECT_EQ(isBadFixture(c.fixture, false), c.badForServing);
    }
}

TEST(TrueTypeFontTest, InfoOnlyMakesOnlyTheDescriptionTables)
{
    TrueTypeFont info(fixturePath("hdmx_8_10_12.ttf").c_str(), true);
    ASSERT_FALSE(info.isBad());
    EXPECT_TRUE(info.headTable && info.nameTable && info.os2Table);
    EXPECT_FALSE(info.maxpTable || info.cmapTable || info.locaTable || info.glyfTable || info.hheaTable
                 || info.hmtxTable || info.hdmxTable);
    EXPECT_EQ(info.getGlyphNo('A'), 0);

    TrueTypeFont full(fixturePath("hdmx_8_10_12.ttf").c_str(), false);
    ASSERT_FALSE(full.isBad());
    EXPECT_TRUE(full.maxpTable && full.cmapTable && full.locaTable && full.glyfTable && full.hheaTable
                && full.hmtxTable && full.hdmxTable);
    EXPECT_EQ(full.getEmUnits(), 1000);
    EXPECT_EQ(full.maxpTable->numGlyphs, 4);
    EXPECT_EQ(full.locaTable->numGlyphs, 4);
    EXPECT_EQ(full.getGlyphNo('B'), 2);
    EXPECT_EQ(full.getGlyphNo(0x10000 + 'B'), 2);
}

std::string fullName(const FontInfo& info)
{
    return std::string(info.fullName, info.nameLen);
}

TEST(TrueTypeFontTest, FontInfoComesFromOs2AndTheFullName)
{
    FontInfo info;
    {
        TrueTypeFont font(fixturePath("info_os2.ttf").c_str(), true);
        ASSERT_FALSE(font.isBad());
        font.getFontInfo(info);
        EXPECT_EQ(info.firstChar, 0x21);
        EXPECT_EQ(info.lastChar, 0x2122);
        const uint8_t panose[10] = {2, 11, 6, 4, 2, 2, 2, 2, 2, 4};
        EXPECT_EQ(std::memcmp(info.panose, panose, 10), 0);
        EXPECT_EQ(fullName(info), "Info Sans Bold");
    }
    struct Case {
        const char* fixture;
        std::string fullName;
    };
    // Without a usable OS/2 table: characters 32 to 127, zero PANOSE.
    for (const Case& c : {Case{"info_no_os2.ttf", "Brassel Test Regular"}, Case{"short_os2.ttf", "Brassel Test Regular"},
                          Case{"name_none.ttf", "Unknown"}, Case{"full_name_33.ttf", std::string(30, 'A') + "xy"},
                          Case{"full_name_32.ttf", std::string(32, 'B')}}) {
        SCOPED_TRACE(c.fixture);
        TrueTypeFont font(fixturePath(c.fixture).c_str(), true);
        ASSERT_FALSE(font.isBad());
        std::memset(static_cast<void*>(&info), 0x55, sizeof info);
        font.getFontInfo(info);
        EXPECT_EQ(fullName(info), c.fullName);
        if (std::string(c.fixture).find("full_name") == 0)
            continue;
        EXPECT_EQ(info.firstChar, 32);
        EXPECT_EQ(info.lastChar, 127);
        EXPECT_EQ(std::memcmp(info.panose, std::vector<uint8_t>(10, 0).data(), 10), 0);
    }
}

TEST(TrueTypeFontTest, WidthsWithoutHdmxAddOneThirtySecondEm)
{
    TrueTypeFont font(fixturePath("widths_2048.ttf").c_str(), false);
    ASSERT_FALSE(font.isBad());
    // (1900 - -100 + 2048 / 32) * 12 / 2048
    EXPECT_EQ(font.getMaxWidth(12), 12);
    EXPECT_EQ(font.getMaxWidth(100), 100);
    // (2048 / 32 + 1000) * 16 / 2048
    EXPECT_EQ(font.getGlyphWidth(16, 1), 8);
    EXPECT_EQ(font.getGlyphWidth(2048, 1), 1064);
}

TEST(TrueTypeFontTest, HmtxTailSharesTheLastAdvance)
{
    TrueTypeFont font(fixturePath("hmtx_mono_tail.ttf").c_str(), false);
    ASSERT_FALSE(font.isBad());
    const HmtxTable& hmtx = *font.hmtxTable;
    EXPECT_EQ(hmtx.numberOfHMetrics, 1);
    struct Case {
        int32_t glyph;
        uint16_t advance;
        int16_t lsb;
    };
    // The tail glyphs carry lsb 1000 + their place in the tail; glyph 3's
    // lsb sits at 4 + 2 * 2 = 8. Past the table both read as 0.
    for (Case c : {Case{0, 600, 50}, Case{1, 600, 1000}, Case{3, 600, 1002}, Case{5, 600, 1004}, Case{6, 600, 0},
                   Case{100000, 600, 0}, Case{-1, 0, 0}}) {
        SCOPED_TRACE(c.glyph);
        uint16_t advance = 1;
        int16_t lsb = 1;
        hmtx.getHMetrics(c.glyph, advance, lsb);
        EXPECT_EQ(advance, c.advance);
        EXPECT_EQ(lsb, c.lsb);
    }

    TrueTypeFont full(fixturePath("hmtx_full.ttf").c_str(), false);
    ASSERT_FALSE(full.isBad());
    for (int32_t glyph = 0; glyph < 3; glyph++) {
        uint16_t advance;
        int16_t lsb;
        full.hmtxTable->getHMetrics(glyph, advance, lsb);
        EXPECT_EQ(advance, 300 + 100 * glyph);
        EXPECT_EQ(lsb, 50);
    }
    // (1000 / 32 + 400) * 20 / 1000
    EXPECT_EQ(full.getGlyphWidth(20, 1), 8);
}

TEST(TrueTypeFontTest, HdmxAnswersFirstRecordAtLeastOrExactlyTheSize)
{
    TrueTypeFont font(fixturePath("hdmx_8_10_12.ttf").c_str(), false);
    ASSERT_FALSE(font.isBad());
    const HdmxTable& hdmx = *font.hdmxTable;
    ASSERT_TRUE(hdmx.isValid());
    EXPECT_EQ(hdmx.nRecords, 3);
    // Records 8: 4 5 0 6, 10: 5 6 7 8, 12: 6 7 8 9; maxWidth is each one's largest.
    struct Case {
        int32_t size;
        int32_t maxWidth;
    };
    for (Case c : {Case{1, 6}, Case{8, 6}, Case{9, 8}, Case{10, 8}, Case{12, 9}, Case{13, 0}, Case{255, 0}}) {
        SCOPED_TRACE(c.size);
        EXPECT_EQ(hdmx.getMaxWidth(c.size), c.maxWidth);
    }
    EXPECT_EQ(hdmx.getGlyphWidth(10, 2), 7);
    EXPECT_EQ(hdmx.getGlyphWidth(12, 3), 9);
    EXPECT_EQ(hdmx.getGlyphWidth(9, 1), 0);
    EXPECT_EQ(hdmx.getGlyphWidth(8, 2), 0);
    EXPECT_EQ(hdmx.getGlyphWidth(10, 4), 0);
    EXPECT_EQ(hdmx.getGlyphWidth(10, -1), 0);

    // The font falls back to the computed width where hdmx says 0 or nothing:
    // a 400-unit box plus 31, and advances of 500 plus 31.
    EXPECT_EQ(font.getMaxWidth(10), 8);
    EXPECT_EQ(font.getMaxWidth(13), 431 * 13 / 1000);
    EXPECT_EQ(font.getGlyphWidth(10, 2), 7);
    EXPECT_EQ(font.getGlyphWidth(8, 2), 531 * 8 / 1000);
    EXPECT_EQ(font.getGlyphWidth(9, 2), 531 * 9 / 1000);
}

TEST(TrueTypeFontTest, MalformedHdmxIsIgnored)
{
    struct Case {
        const char* fixture;
        bool valid;
    };
    // The one record is for size 12, widths 6 7 8 9.
    for (Case c : {Case{"hdmx_negative_records.ttf", false}, Case{"hdmx_zero_record_len.ttf", false},
                   Case{"hdmx_huge_record_len.ttf", false}, Case{"hdmx_min_record_len.ttf", false},
                   Case{"hdmx_too_many_records.ttf", true}}) {
        SCOPED_TRACE(c.fixture);
        TrueTypeFont font(fixturePath(c.fixture).c_str(), false);
        ASSERT_FALSE(font.isBad());
        ASSERT_TRUE(font.hdmxTable);
        EXPECT_EQ(font.hdmxTable->isValid(), c.valid);
        EXPECT_EQ(font.hdmxTable->getMaxWidth(12), c.valid ? 9 : 0);
        EXPECT_EQ(font.hdmxTable->getMaxWidth(13), 0);
        EXPECT_EQ(font.getGlyphWidth(12, 1), c.valid ? 7 : 531 * 12 / 1000);
        EXPECT_EQ(font.getGlyphWidth(13, 1), 531 * 13 / 1000);
    }
}

struct RealFont {
    std::string path, fullName;
    int firstChar, lastChar;
    std::string stem;
    int glyphA, glyphEuro;
};

std::vector<RealFont> realFonts()
{
    std::vector<RealFont> fonts;
    std::ifstream in(fixturePath("real_fonts.tsv"));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        RealFont f;
        std::string first, last, a, euro;
        std::getline(fields, f.path, '\t');
        std::getline(fields, f.fullName, '\t');
        std::getline(fields, first, '\t');
        std::getline(fields, last, '\t');
        std::getline(fields, f.stem, '\t');
        std::getline(fields, a, '\t');
        std::getline(fields, euro, '\t');
        f.firstChar = std::stoi(first);
        f.lastChar = std::stoi(last);
        f.glyphA = std::stoi(a);
        f.glyphEuro = std::stoi(euro);
        fonts.push_back(f);
    }
    return fonts;
}

TEST(TrueTypeFontTest, EveryInstalledFontOpensWithItsInfoStemAndGlyphs)
{
    std::vector<RealFont> fonts = realFonts();
    ASSERT_GE(fonts.size(), 30u);
    for (const RealFont& expected : fonts) {
        SCOPED_TRACE(expected.path);
        TrueTypeFont info(expected.path.c_str(), true);
        ASSERT_FALSE(info.isBad());
        FontInfo fontInfo;
        info.getFontInfo(fontInfo);
        EXPECT_EQ(fullName(fontInfo), expected.fullName);
        EXPECT_EQ(fontInfo.firstChar, expected.firstChar);
        EXPECT_EQ(fontInfo.lastChar, expected.lastChar);
        EXPECT_EQ(makeXlfdName(info, "ttf"), expected.stem);

        TrueTypeFont full(expected.path.c_str(), false);
        ASSERT_FALSE(full.isBad());
        EXPECT_EQ(full.getGlyphNo('A'), expected.glyphA);
        EXPECT_EQ(full.getGlyphNo(0x20AC), expected.glyphEuro);
        EXPECT_GT(full.getMaxWidth(12), 0);
        EXPECT_GT(full.getGlyphWidth(12, expected.glyphA), 0);
    }
}

} // namespace
