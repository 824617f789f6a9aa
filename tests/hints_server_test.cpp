// The hinting programs through the real server: the fixture fonts of
// gen_hints.py (unitsPerEm 2048, squares four pixels wide at 16 px whose
// programs move the right edge by known distances), hostile programs that
// must neither hang nor crash the serving process, and fstobdf dumps of
// real fonts that must come out hinted.
#include "raster/raster.h"
#include "raster/raster_slot.h"
#include "support/bdf.h"
#include "support/fs_fonts.h"
#include "support/glyph_ink.h"
#include "support/paths.h"
#include "support/process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#ifdef HAVE_FREETYPE
#include "support/freetype_ink.h"
#endif

namespace {

// Generous: a hang guard, not a speed target.
constexpr int HANG_GUARD_MS = 20000;

std::string xlfd(const std::string& family, int pixels, const std::string& style = "regular")
{
    return "-ttf-" + family + "-medium-r-normal-" + style + "-" + std::to_string(pixels) + "-0-0-0-p-0-iso10646-1";
}

// The characters of a fixture's glyphs: glyph i is mapped from 0x40 + i.
std::vector<uint16_t> fixtureCodes(int glyphs)
{
    std::vector<uint16_t> codes;
    for (int i = 1; i <= glyphs; i++)
        codes.push_back(uint16_t(0x40 + i));
    return codes;
}

// A glyph rendered in this process with no program run (Rasterizer::hinting 0).
struct UnhintedFont {
    Rasterizer rasterizer;
    FontSlot* slot = nullptr;

    UnhintedFont(const std::string& path, int pixels)
    {
        rasterizer.hinting = 0;
        FontParams params = {{pixels, pixels, 0, 0}, {0, 0, 0, 0}, 96, 96, 0};
        slot = openFontSlot(new TrueTypeFont(path.c_str(), false), params, rasterizer, 1, nullptr);
    }
    ~UnhintedFont()
    {
        if (slot)
            closeFontSlot(*slot);
    }
    Ink ink(uint32_t code) const { return slot ? slotInk(*slot, slot->font->getGlyphNo(code)) : Ink{}; }
};

class HintsServerTest : public testing::Test {
protected:
    void SetUp() override
    {
        SKIP_WITHOUT_DATABASE();
        ASSERT_TRUE(server.start({"--dir", fixturePath("hints_fonts")}));
        ASSERT_TRUE(server.waitListening()) << server.err();
    }

    bool connect(FsClient& client) { return client.connectTcp(server.port()) && client.setup(); }

    bool open(FsClient& client, uint32_t id, const std::string& family, int pixels)
    {
        return client.request(openFontRequest(id, xlfd(family, pixels)), HANG_GUARD_MS).isReply();
    }

    // Ink widths of the first `glyphs` fixture glyphs of an open font.
    std::vector<int> widths(FsClient& client, uint32_t id, int glyphs)
    {
        std::vector<int> result;
        for (const Ink& ink : servedInk(client, id, fixtureCodes(glyphs)))
            result.push_back(inkWidth(ink));
        return result;
    }

    std::vector<size_t> inkCounts(FsClient& client, uint32_t id, int glyphs)
    {
        std::vector<size_t> result;
        for (const Ink& ink : servedInk(client, id, fixtureCodes(glyphs)))
            result.push_back(ink.size());
        return result;
    }

    std::string address() const { return "tcp/localhost:" + std::to_string(server.port()); }

    ServerProcess server;
};

using Widths = std::vector<int>;

} // namespace

// Every hostile font opens within the hang guard at two sizes, the glyph
// without a program keeps its square, the same connection goes on being
// served with working hints, and so does a new one.
TEST_F(HintsServerTest, HostileProgramsEndAndTheServerGoesOn)
{
    const char* hostile[] = {
        "hostile loop glyph", "hostile loop fpgm", "hostile skip fpgm", "hostile loop prep",
        "hostile recursion", "hostile recursion prep", "hostile loopcall", "hostile points",
        "hostile indices", "hostile stack", "hostile deltashift", "hostile opcodes", "hostile past end",
    };
    for (const char* name : hostile) {
        SCOPED_TRACE(name);
        const std::string family = std::string("hints ") + name;
        FsClient client;
        ASSERT_TRUE(connect(client));
        uint32_t id = 1;
        for (int pixels : {16, 12}) {
            ASSERT_TRUE(open(client, id, family, pixels)) << "no answer to the open at " << pixels << " px\n"
                                                          << server.err();
            const std::vector<Ink> glyphs = servedInk(client, id, fixtureCodes(30));
            ASSERT_EQ(glyphs.size(), 30u) << "no glyphs at " << pixels << " px";
            // Glyph A has no program: the square stays as drawn.
            EXPECT_EQ(glyphs[0].size(), pixels == 16 ? 16u : 9u) << pixels << " px";
            id++;
        }
        // The same connection opens an honest font afterwards, hinted as on
        // a connection of its own (B moves its edge to 10 px).
        ASSERT_TRUE(open(client, id, "hints lifecycle", 16));
        EXPECT_EQ(widths(client, id, 2), (Widths{4, 10}));
    }
    FsClient fresh;
    ASSERT_TRUE(connect(fresh));
    ASSERT_TRUE(open(fresh, 1, "hints lifecycle", 16));
    EXPECT_EQ(widths(fresh, 1, 2), (Widths{4, 10}));
    EXPECT_TRUE(server.running());
}

// Functions defined by fpgm and called from glyphs and prep, a function
// that prep defines, a CVT entry that prep writes, and a twilight point that
// outlives the glyph that placed it, each moving the square's right edge.
TEST_F(HintsServerTest, DefinitionsCvtAndTwilightPointsReachGlyphPrograms)
{
    FsClient client;
    ASSERT_TRUE(connect(client));
    ASSERT_TRUE(open(client, 1, "hints lifecycle", 16));
    // A no program; B MIAP to cvt 0 (10 px) through an fpgm function; C to
    // cvt 1, written by prep through an fpgm function (12 px); D shifted 4 px
    // by prep's own function; E aligned to a twilight point placed at cvt 2
    // (14 px); F aligned to that twilight point as E left it; G writes 20 px
    // into cvt 0 and moves to it.
    EXPECT_EQ(widths(client, 1, 7), (Widths{4, 10, 12, 8, 14, 14, 20}));
    // At the next size cvt 0 is scaled from the font again (1280 units are
    // 7.5 px at 12 px: 8 columns), whatever G wrote; prep writes cvt 1 anew.
    ASSERT_TRUE(open(client, 2, "hints lifecycle", 12));
    EXPECT_EQ(widths(client, 2, 7), (Widths{3, 8, 12, 7, 11, 11, 20}));
}

// INSTCTRL in prep keeps every glyph program from running at that size: the
// glyphs are exactly the unhinted ones. A font without cvt runs no prep, so
// the INSTCTRL of its prep never happens and glyph programs do run.
TEST_F(HintsServerTest, InstctrlInPrepLeavesGlyphsUnhintedUnlessPrepCannotRun)
{
    FsClient client;
    ASSERT_TRUE(connect(client));
    ASSERT_TRUE(open(client, 1, "hints instctrl", 16));
    const std::vector<Ink> served = servedInk(client, 1, fixtureCodes(3));
    ASSERT_EQ(served.size(), 3u);
    UnhintedFont unhinted(fixturePath("hints_instctrl.ttf"), 16);
    ASSERT_NE(unhinted.slot, nullptr);
    for (uint16_t code : fixtureCodes(3))
        EXPECT_EQ(served[code - 'A'], unhinted.ink(code)) << char(code);
    EXPECT_EQ(inkWidth(served[1]), 4);

    FsClient fresh;
    ASSERT_TRUE(connect(fresh));
    ASSERT_TRUE(open(fresh, 1, "hints nocvt", 16));
    EXPECT_EQ(widths(fresh, 1, 2), (Widths{4, 10}));
}

// INSTCTRL belongs to the font whose prep ran it: a font opened afterwards
// on the same connection, whose own prep does not run (no cvt), still runs
// its glyph programs.
TEST_F(HintsServerTest, InstctrlOfOneFontDoesNotReachTheNextFont)
{
    FsClient client;
    ASSERT_TRUE(connect(client));
    ASSERT_TRUE(open(client, 1, "hints instctrl", 16));
    EXPECT_EQ(widths(client, 1, 2), (Widths{4, 4}));
    ASSERT_TRUE(open(client, 2, "hints nocvt", 16));
    EXPECT_EQ(widths(client, 2, 2), (Widths{4, 10}));
}

// A bar between two pixel-centre rows appears only through the dropout
// pass. Every program starts with dropout control on; SCANCTRL turns it off
// or makes it depend on the size; a glyph without a program keeps what the
// last program left (prep's SCANCTRL 0 for A, C's for D).
TEST_F(HintsServerTest, ScanctrlDecidesTheDropoutPassPerGlyph)
{
    FsClient client;
    ASSERT_TRUE(connect(client));
    ASSERT_TRUE(open(client, 1, "hints dropout", 16));
    ASSERT_TRUE(open(client, 2, "hints dropout", 12));
    // The bar is 10 pixels long at 16 px and 8 at 12 px; F asks for dropout
    // control only up to 12 pixels per em.
    EXPECT_EQ(inkCounts(client, 1, 6), (std::vector<size_t>{0, 10, 0, 0, 10, 0}));
    EXPECT_EQ(inkCounts(client, 2, 6), (std::vector<size_t>{0, 8, 0, 0, 8, 8}));
}

// One connection's interpreter tables grow for a font with large maxp
// counts and are kept for a later, smaller font: its bound checks use the
// larger capacities. Definitions of the earlier font are gone.
TEST_F(HintsServerTest, SmallerFontAfterLargerOneKeepsCapacitiesButNotDefinitions)
{
    FsClient client;
    ASSERT_TRUE(connect(client));
    // On its own, the small font's storage 50 and cvt 30 lie outside the
    // tables: those programs stop before they move anything.
    ASSERT_TRUE(open(client, 1, "hints small", 16));
    EXPECT_EQ(widths(client, 1, 5), (Widths{4, 10, 4, 4, 4}));
    ASSERT_TRUE(open(client, 2, "hints big", 16));
    EXPECT_EQ(widths(client, 2, 2), (Widths{4, 12}));
    // C calls function 5, which only the big font defined: nothing runs.
    ASSERT_TRUE(open(client, 3, "hints small", 16));
    EXPECT_EQ(widths(client, 3, 5), (Widths{4, 10, 4, 10, 10}));
}

#ifdef HAVE_FREETYPE
// fstobdf of DejaVu Sans and Liberation Sans at 12 px from the running
// server: wherever the font's instructions change a glyph (FreeType's
// classic interpreter renders it differently hinted and unhinted), the
// served glyph differs from our own unhinted rendering, and over Latin-1
// the served ink is close to FreeType's hinted ink.
TEST_F(HintsServerTest, FstobdfGivesHintedGlyphs)
{
    struct Font {
        const char* file;
        const char* family;
        const char* style;
    } fonts[] = {{"DejaVuSans.ttf", "dejavu sans", "book"}, {"LiberationSans-Regular.ttf", "liberation sans", "regular"}};
    FT_Library library;
    ASSERT_EQ(FT_Init_FreeType(&library), 0);
    setClassicInterpreter(library);
    for (const Font& font : fonts) {
        SCOPED_TRACE(font.file);
        const std::string path = fixturePath(std::string("hints_fonts/") + font.file);
        const std::string name = xlfd(font.family, 12, font.style);
        const CommandResult dump = runCommand({"fstobdf", "-server", address(), "-fn", name}, "", 60);
        const BdfFont bdf = readBdf(dump.out);
        ASSERT_EQ(bdf.problem, "") << dump.err;
        UnhintedFont unhinted(path, 12);
        ASSERT_NE(unhinted.slot, nullptr);
        FT_Face face;
        ASSERT_EQ(FT_New_Face(library, path.c_str(), 0, &face), 0);
        FT_Set_Pixel_Sizes(face, 12, 12);
        int instructed = 0, changed = 0;
        long agree = 0, disagree = 0;
        std::string unchanged;
        for (uint32_t code = 0x21; code <= 0xFF; code++) {
            const unsigned glyph = unhinted.slot->font->getGlyphNo(code);
            if ((code >= 0x7F && code < 0xA0) || glyph == 0)
                continue;
            const Ink served = bdf.ink(int(code)), ours = unhinted.ink(code);
            const Ink theirs = freetypeInk(face, glyph, true);
            if (theirs != freetypeInk(face, glyph, false)) {
                instructed++;
                if (served != ours)
                    changed++;
                else {
                    char text[16];
                    std::snprintf(text, sizeof text, " U+%04X", unsigned(code));
                    unchanged += text;
                }
            }
            for (const auto& pixel : served)
                theirs.count(pixel) ? agree++ : disagree++;
            for (const auto& pixel : theirs)
                disagree += !served.count(pixel);
        }
        FT_Done_Face(face);
        ASSERT_GT(instructed, 100);
        EXPECT_GE(changed * 10, instructed * 9) << changed << " of " << instructed
                                               << " instructed glyphs differ from unhinted; the same:" << unchanged;
        EXPECT_GE(100.0 * agree / double(agree + disagree), 90.0) << "ink agreement with FreeType hinted";
    }
    FT_Done_FreeType(library);
}
#endif
