// Figures for the font-file code: opening fonts for the database and for
// serving, character map lookups (FreeType's as the peer when available),
// and the bounded cursor reads against an unchecked loop over the same bytes.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "database/font_naming.h"
#include "font/truetype_font.h"

#ifdef HAVE_FREETYPE
#include <ft2build.h>
#include FT_FREETYPE_H
#endif

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

volatile uint32_t sink;

std::vector<std::string> installedFonts()
{
    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::recursive_directory_iterator("/usr/share/fonts/truetype"))
        if (entry.path().extension() == ".ttf")
            paths.push_back(entry.path().string());
    return paths;
}

void benchOpens(const std::vector<std::string>& paths)
{
    const int rounds = 50;
    for (bool infoOnly : {true, false}) {
        Clock::time_point start = Clock::now();
        for (int round = 0; round < rounds; round++) {
            for (const std::string& path : paths) {
                TrueTypeFont font(path.c_str(), infoOnly);
                if (font.isBad())
                    continue;
                FontInfo info;
                font.getFontInfo(info);
                sink = sink + info.nameLen + makeXlfdName(font, "ttf").size();
            }
        }
        double perFont = secondsSince(start) / (rounds * paths.size());
        std::printf("open %s + info + stem: %.1f us per font (%zu fonts)\n", infoOnly ? "infoOnly" : "full",
                    perFont * 1e6, paths.size());
    }
}

void benchCmap(const char* path)
{
    TrueTypeFont font(path, false);
    if (font.isBad())
        return;
    const int rounds = 200;
    Clock::time_point start = Clock::now();
    for (int round = 0; round < rounds; round++)
        for (uint32_t code = 0; code <= 0xFFFF; code++)
            sink = sink + font.getGlyphNo(code);
    std::printf("charToGlyph (%s): %.2f ns per lookup\n", path, secondsSince(start) / (rounds * 65536.0) * 1e9);
#ifdef HAVE_FREETYPE
    FT_Library library;
    FT_Face face;
    if (FT_Init_FreeType(&library) == 0 && FT_New_Face(library, path, 0, &face) == 0) {
        start = Clock::now();
        for (int round = 0; round < rounds; round++)
            for (uint32_t code = 0; code <= 0xFFFF; code++)
                sink = sink + FT_Get_Char_Index(face, code);
        std::printf("FreeType FT_Get_Char_Index: %.2f ns per lookup\n",
                    secondsSince(start) / (rounds * 65536.0) * 1e9);
        FT_Done_Face(face);
        FT_Done_FreeType(library);
    }
#endif
}

void benchCursorReads(const char* path)
{
    TrueTypeFont font(path, false);
    if (font.isBad())
        return;
    GlyfTable& glyf = *font.glyfTable;
    const int rounds = 100;
    Clock::time_point start = Clock::now();
    for (int round = 0; round < rounds; round++) {
        glyf.seek(0);
        uint32_t sum = 0;
        for (int32_t n = 0; n < glyf.length(); n++)
            sum += glyf.readU8();
        sink = sink + sum;
    }
    double bounded = secondsSince(start) / (double(rounds) * glyf.length()) * 1e9;
    start = Clock::now();
    for (int round = 0; round < rounds; round++) {
        const volatile uint8_t* bytes = glyf.base();
        uint32_t sum = 0;
        for (int32_t n = 0; n < glyf.length(); n++)
            sum += bytes[n];
        sink = sink + sum;
    }
    double unchecked = secondsSince(start) / (double(rounds) * glyf.length()) * 1e9;
    std::printf("readU8 over glyf (%d bytes): %.3f ns per byte bounded, %.3f ns unchecked\n", glyf.length(),
                bounded, unchecked);
}

} // namespace

int main()
{
    std::vector<std::string> paths = installedFonts();
    benchOpens(paths);
    benchCmap("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
    benchCmap("/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf");
    benchCursorReads("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
    return 0;
}
