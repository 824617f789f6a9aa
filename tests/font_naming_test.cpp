// Name table strings and the XLFD name stems built from them.
#include <gtest/gtest.h>

#include <string>

#include "database/font_naming.h"
#include "font/truetype_font.h"
#include "support/paths.h"

namespace {

TEST(FontNamingTest, StemsFromNamesAndStyleBits)
{
    struct Case {
        const char* fixture;
        const char* foundry;
        std::string stem;
    };
    const Case cases[] = {
        {"style_os2_bold_italic.ttf", "ttf", "-ttf-times new roman-bold-i-normal-bold italic-"},
        // OS/2 fsSelection 0 wins over head macStyle 3.
        {"style_os2_wins.ttf", "ttf", "-ttf-brassel test-medium-r-normal-regular-"},
        {"style_mac_bold_italic.ttf", "ttf", "-ttf-brassel test-bold-i-normal-regular-"},
        {"style_mac_italic.ttf", "ttf", "-ttf-brassel test-medium-i-normal-regular-"},
        // A short OS/2 table counts as none: macStyle 0 decides.
        {"short_os2.ttf", "ttf", "-ttf-brassel test-medium-r-normal-regular-"},
        // Microsoft names only: the low byte of each UTF-16 unit.
        {"name_ms_only.ttf", "ttf", "-ttf-arial-medium-r-normal-regular-"},
        // A 9-byte Microsoft family gives 4 characters; no style gives "tt".
        {"name_ms_odd.ttf", "ttf", "-ttf-odds-medium-r-normal-tt-"},
        {"name_none.ttf", "ttf", "-ttf-unknown-medium-r-normal-tt-"},
        {"name_dashes.ttf", "ttf", "-ttf-foo bar-medium-r-normal-semi bold-"},
        // The foundry keeps its dashes but not its capitals.
        {"name_dashes.ttf", "Fonts-Extra", "-fonts-extra-foo bar-medium-r-normal-semi bold-"},
        // Only ASCII capitals are lowered; the Macintosh bytes stay as stored
        // (MacRoman 0x83 is E acute).
        {"name_case.ttf", "ttf", "-ttf-mixed \x83-medium-r-normal-bold-"},
        // The Macintosh family exists; the style falls back to Microsoft.
        {"name_mac_bytes.ttf", "ttf", "-ttf-mac\x8e-medium-r-normal-windows style-"},
        // The first platform 1 record wins whatever its encoding and language.
        {"name_any_language.ttf", "ttf", "-ttf-first-medium-r-normal-style-"},
        // A Macintosh record whose string starts outside the table is empty,
        // with no Microsoft fallback.
        {"name_string_outside.ttf", "ttf", "-ttf-unknown-medium-r-normal-style-"},
        {"name_count_huge.ttf", "ttf", "-ttf-family-medium-r-normal-style-"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixture);
        TrueTypeFont font(fixturePath(c.fixture).c_str(), true);
        ASSERT_FALSE(font.isBad());
        EXPECT_EQ(makeXlfdName(font, c.foundry), c.stem);
    }
}

TEST(FontNamingTest, GetStringLooksUpOnePlatform)
{
    TrueTypeFont font(fixturePath("name_ms_only.ttf").c_str(), true);
    ASSERT_FALSE(font.isBad());
    const NameTable& name = *font.nameTable;
    EXPECT_EQ(name.getString(3, 1), std::string("\0A\0r\0i\0a\0l", 10));
    EXPECT_EQ(name.getString(1, 1), "Arial");
    EXPECT_EQ(name.getString(1, 4), "Arial Regular");
    EXPECT_EQ(name.getString(3, 99), "");
    EXPECT_EQ(name.getString(1, 99), "");
    EXPECT_EQ(name.getString(2, 1), "");
}

TEST(FontNamingTest, StringRunningPastTheTableIsCutAtItsEnd)
{
    TrueTypeFont font(fixturePath("name_string_long.ttf").c_str(), true);
    ASSERT_FALSE(font.isBad());
    std::string family = font.nameTable->getString(1, 1);
    EXPECT_EQ(family.compare(0, 6, "Family"), 0);
    EXPECT_GT(family.size(), 6u);
    EXPECT_LT(family.size(), size_t(font.nameTable->length()));
}

} // namespace
