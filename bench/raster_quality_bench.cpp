// Bitmap agreement with FreeType's monochrome rendering, ink compared pixel
// by pixel relative to the glyph origin:
// - hinted: our hinted output against FreeType's classic TrueType
//   interpreter (version 35, mono target) over Latin-1 (the glyphs the cmap
//   gives U+0020-U+007E and U+00A0-U+00FF) at 10, 12, 16 and 24 px, with
//   every glyph that differs by more than two pixels listed;
// - unhinted: every glyph of the font rendered with Rasterizer::hinting 0
//   against FreeType without hinting, at 12, 16 and 24 px.
//   raster_quality_bench                       both comparisons, default fonts
//   raster_quality_bench --hinted [font.ttf ...]
//   raster_quality_bench --unhinted [font.ttf ...]
//   raster_quality_bench --show font.ttf size char [--unhinted]
//     prints one glyph's two bitmaps side by side; char is a single
//     character or U+XXXX
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "raster/raster.h"
#include "raster/raster_slot.h"
#include "support/glyph_ink.h"

#ifdef HAVE_FREETYPE
#include "support/freetype_ink.h"

namespace {

const char* const DEJAVU = "/usr/share/fonts/truetype/dejavu/";
const char* const LIBERATION = "/usr/share/fonts/truetype/liberation/";

std::string baseName(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

// One font at one size, opened by both renderers.
struct Pair {
    FT_Face face = nullptr;
    Rasterizer rasterizer;
    FontSlot* slot = nullptr;

    Pair(FT_Library library, const std::string& path, int size, bool hinted)
    {
        if (FT_New_Face(library, path.c_str(), 0, &face) || FT_Set_Pixel_Sizes(face, size, size)) {
            std::printf("%s: FreeType cannot open it\n", path.c_str());
            face = nullptr;
            return;
        }
        rasterizer.hinting = hinted ? 1 : 0;
        FontParams params = {{size, size, 0, 0}, {0, 0, 0, 0}, 96, 96, 0};
        slot = openFontSlot(new TrueTypeFont(path.c_str(), false), params, rasterizer, 1, nullptr);
        if (!slot)
            std::printf("%s: openFontSlot refused it\n", path.c_str());
    }
    ~Pair()
    {
        if (slot)
            closeFontSlot(*slot);
        if (face)
            FT_Done_Face(face);
    }
    bool ok() const { return face && slot; }
};

struct Tally {
    long same = 0, differ = 0, identical = 0, inked = 0, advanceSame = 0, glyphs = 0;

    // Returns the number of pixels inked by only one side.
    long add(const Ink& a, const Ink& b, bool advanceEqual)
    {
        long both = 0;
        for (const auto& p : a)
            both += b.count(p);
        long either = long(a.size() + b.size()) - both;
        same += both;
        differ += either - both;
        if (!a.empty() || !b.empty()) {
            inked++;
            identical += either == both;
        }
        advanceSame += advanceEqual;
        glyphs++;
        return either - both;
    }
    double ink() const { return 100.0 * same / double(std::max(1L, same + differ)); }
    double identicalShare() const { return 100.0 * identical / double(std::max(1L, inked)); }
    double advances() const { return 100.0 * advanceSame / double(std::max(1L, glyphs)); }
};

// The Latin-1 characters whose glyph the font's cmap gives.
std::vector<std::pair<unsigned, unsigned>> latin1(FT_Face face)
{
    std::vector<std::pair<unsigned, unsigned>> chars;
    for (unsigned c = 0x20; c <= 0xFF; c++) {
        if (c >= 0x7F && c < 0xA0)
            continue;
        if (unsigned g = FT_Get_Char_Index(face, c))
            chars.push_back({c, g});
    }
    return chars;
}

std::string charName(unsigned c)
{
    char text[32];
    if (c < 0x7F)
        std::snprintf(text, sizeof text, "U+%04X '%c'", c, char(c));
    else
        std::snprintf(text, sizeof text, "U+%04X", c);
    return text;
}

void compareHinted(FT_Library library, const std::string& path, int size)
{
    Pair pair(library, path, size, true);
    if (!pair.ok())
        return;
    Tally tally;
    std::vector<std::string> outliers;
    for (auto [c, g] : latin1(pair.face)) {
        if (g >= pair.slot->glyphCount)
            continue;
        int advance;
        Ink theirs = freetypeInk(pair.face, g, true, &advance);
        Ink ours = slotInk(*pair.slot, g);
        int ourAdvance = pair.slot->glyphMetrics[g].advance;
        long differ = tally.add(ours, theirs, ourAdvance == advance);
        if (differ > 2) {
            long oursOnly = 0;
            for (const auto& p : ours)
                oursOnly += !theirs.count(p);
            char line[160];
            std::snprintf(line, sizeof line, "    %-12s glyph %4u: %3ld pixels differ (%ld ours only, %ld FreeType only)%s",
                          charName(c).c_str(), g, differ, oursOnly, differ - oursOnly,
                          ourAdvance == advance ? "" : "  advance differs");
            outliers.push_back(std::string(line) + (ourAdvance == advance ? ""
                                                     : " (" + std::to_string(ourAdvance) + " vs " +
                                                           std::to_string(advance) + ")"));
        }
    }
    std::printf("%-28s %3d px  hinted: ink agreement %6.2f%%  identical glyphs %6.2f%%  advances equal %6.2f%%  "
                "%zu of %ld glyphs differ by more than 2 pixels\n",
                baseName(path).c_str(), size, tally.ink(), tally.identicalShare(), tally.advances(), outliers.size(),
                tally.glyphs);
    for (const std::string& line : outliers)
        std::printf("%s\n", line.c_str());
}

void compareUnhinted(FT_Library library, const std::string& path, int size)
{
    Pair pair(library, path, size, false);
    if (!pair.ok())
        return;
    // Composites place their components on whole pixels when the font asks
    // for it, which unhinted FreeType does not do: simple glyphs apart.
    Tally all, simple;
    const TrueTypeFont& font = *pair.slot->font;
    for (unsigned g = 0; g < pair.slot->glyphCount; g++) {
        int advance;
        Ink theirs = freetypeInk(pair.face, g, false, &advance);
        Ink ours = slotInk(*pair.slot, g);
        bool advanceEqual = pair.slot->glyphMetrics[g].advance == advance;
        all.add(ours, theirs, advanceEqual);
        int64_t offset = font.locaTable->glyphOffset(int32_t(g));
        if (offset >= 0 && font.glyfTable->s16At(offset) >= 0)
            simple.add(ours, theirs, advanceEqual);
    }
    std::printf("%-28s %3d px  unhinted: ink agreement %6.2f%% (simple glyphs %6.2f%%)  identical glyphs %6.2f%%  "
                "advances equal %6.2f%%\n",
                baseName(path).c_str(), size, all.ink(), simple.ink(), all.identicalShare(), all.advances());
}

// Both bitmaps of one glyph in one frame around the origin, side by side,
// and a third picture of where they differ: '+' ours only, '-' FreeType's only.
int show(FT_Library library, const std::string& path, int size, const std::string& character, bool hinted)
{
    unsigned c = character.size() > 2 && (character[0] == 'U' || character[0] == 'u') && character[1] == '+'
                     ? unsigned(std::strtoul(character.c_str() + 2, nullptr, 16))
                     : (unsigned char)character[0];
    Pair pair(library, path, size, hinted);
    if (!pair.ok())
        return 1;
    unsigned g = FT_Get_Char_Index(pair.face, c);
    if (g == 0 || g >= pair.slot->glyphCount) {
        std::printf("%s has no glyph for %s\n", path.c_str(), charName(c).c_str());
        return 1;
    }
    int advance;
    Ink theirs = freetypeInk(pair.face, g, hinted, &advance);
    Ink ours = slotInk(*pair.slot, g);
    int ourAdvance = pair.slot->glyphMetrics[g].advance;
    int x0 = 0, x1 = std::max({ourAdvance, advance, 1}) - 1, y0 = 0, y1 = 0;
    for (const Ink* ink : {&ours, &theirs})
        for (auto [x, y] : *ink) {
            x0 = std::min(x0, x);
            x1 = std::max(x1, x);
            y0 = std::min(y0, y);
            y1 = std::max(y1, y);
        }
    std::printf("%s %d px %s glyph %u, %s: ours (advance %d) | FreeType%s (advance %d) | difference\n",
                baseName(path).c_str(), size, charName(c).c_str(), g, hinted ? "hinted" : "unhinted", ourAdvance,
                hinted ? " v35" : "", advance);
    for (int y = y1; y >= y0; y--) {
        std::string line;
        for (int side = 0; side < 3; side++) {
            for (int x = x0; x <= x1; x++) {
                bool a = ours.count({x, y}), b = theirs.count({x, y});
                char blank = x == 0 || y == 0 ? ':' : '.';
                if (side == 0)
                    line += a ? '#' : blank;
                else if (side == 1)
                    line += b ? '#' : blank;
                else
                    line += a == b ? (a ? '#' : blank) : a ? '+' : '-';
            }
            line += side < 2 ? "   " : "";
        }
        std::printf("%4d %s\n", y, line.c_str());
    }
    std::printf("     (':' marks the column and row through the origin)\n");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    FT_Library library;
    FT_Init_FreeType(&library);
    setClassicInterpreter(library);

    std::vector<std::string> args(argv + 1, argv + argc);
    bool onlyHinted = false, onlyUnhinted = false;
    if (!args.empty() && args[0] == "--show") {
        if (args.size() < 4) {
            std::fprintf(stderr, "usage: raster_quality_bench --show font.ttf size char [--unhinted]\n");
            return 2;
        }
        int status = show(library, args[1], std::atoi(args[2].c_str()), args[3],
                          !(args.size() > 4 && args[4] == "--unhinted"));
        FT_Done_FreeType(library);
        return status;
    }
    if (!args.empty() && (args[0] == "--hinted" || args[0] == "--unhinted")) {
        onlyHinted = args[0] == "--hinted";
        onlyUnhinted = !onlyHinted;
        args.erase(args.begin());
    }
    std::vector<std::string> hintedFonts = args, unhintedFonts = args;
    if (args.empty()) {
        hintedFonts = {std::string(DEJAVU) + "DejaVuSans.ttf", std::string(DEJAVU) + "DejaVuSerif.ttf",
                       std::string(DEJAVU) + "DejaVuSansMono.ttf", std::string(LIBERATION) + "LiberationSans-Regular.ttf",
                       std::string(LIBERATION) + "LiberationSerif-Regular.ttf"};
        unhintedFonts = {std::string(DEJAVU) + "DejaVuSans.ttf", std::string(LIBERATION) + "LiberationSans-Regular.ttf"};
    }
    if (!onlyUnhinted)
        for (const std::string& path : hintedFonts)
            for (int size : {10, 12, 16, 24})
                compareHinted(library, path, size);
    if (!onlyHinted)
        for (const std::string& path : unhintedFonts)
            for (int size : {12, 16, 24})
                compareUnhinted(library, path, size);
    FT_Done_FreeType(library);
    return 0;
}
#else
int main()
{
    std::printf("built without FreeType: nothing to compare against\n");
    return 0;
}
#endif
