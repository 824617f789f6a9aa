// Bitmap agreement with FreeType's unhinted monochrome rendering: every glyph
// of a font opened through openFontSlot against FreeType at the same pixel
// size, ink compared pixel by pixel relative to the glyph origin.
//   raster_quality_bench [font.ttf ...]
#include <cstdio>
#include <set>
#include <string>
#include <utility>

#include "raster/raster.h"
#include "raster/raster_slot.h"

#ifdef HAVE_FREETYPE
#include <ft2build.h>
#include FT_FREETYPE_H

namespace {

using Ink = std::set<std::pair<int, int>>;

// Pixels of glyph g as (x, y) of their bottom-left corner, origin at (0, 0).
Ink ourInk(const FontSlot& slot, unsigned g)
{
    Ink ink;
    const GlyphMetrics& m = slot.glyphMetrics[g];
    if (m.bitmapSize == 0 || m.height == 0)
        return ink;
    int rowBytes = m.bitmapSize / m.height;
    const uint8_t* bits = slot.bitmaps + m.bitmapOffset;
    for (int row = 0; row < m.height; row++)
        for (int col = 0; col < m.width; col++)
            if (bits[row * rowBytes + col / 8] >> (col % 8) & 1)
                ink.insert({col - m.originX, m.height - 1 - row - m.originY});
    return ink;
}

Ink freetypeInk(FT_Face face, unsigned g)
{
    Ink ink;
    if (FT_Load_Glyph(face, g, FT_LOAD_NO_HINTING | FT_LOAD_TARGET_MONO | FT_LOAD_NO_BITMAP)
        || FT_Render_Glyph(face->glyph, FT_RENDER_MODE_MONO))
        return ink;
    const FT_Bitmap& b = face->glyph->bitmap;
    for (unsigned row = 0; row < b.rows; row++)
        for (unsigned col = 0; col < b.width; col++)
            if (b.buffer[row * b.pitch + col / 8] & (0x80 >> (col % 8)))
                ink.insert({face->glyph->bitmap_left + int(col), face->glyph->bitmap_top - 1 - int(row)});
    return ink;
}

void compare(FT_Library library, const char* path, int size)
{
    FT_Face face;
    if (FT_New_Face(library, path, 0, &face) || FT_Set_Pixel_Sizes(face, size, size)) {
        std::printf("%s: FreeType cannot open it\n", path);
        return;
    }
    Rasterizer rasterizer;
    FontParams params = {{size, size, 0, 0}, {0, 0, 0, 0}, 96, 96, 0};
    FontSlot* slot = openFontSlot(new TrueTypeFont(path, false), params, rasterizer, 1, nullptr);
    if (!slot) {
        std::printf("%s: openFontSlot refused it\n", path);
        FT_Done_Face(face);
        return;
    }
    long same = 0, differ = 0, identical = 0, inked = 0;
    // Composites place their components on whole pixels when the font asks
    // for it, which unhinted FreeType does not do: simple glyphs apart.
    long simpleSame = 0, simpleDiffer = 0;
    long advanceSame = 0;
    const TrueTypeFont& font = *slot->font;
    for (unsigned g = 0; g < slot->glyphCount; g++) {
        Ink a = ourInk(*slot, g), b = freetypeInk(face, g);
        long both = 0;
        for (const auto& p : a)
            both += b.count(p);
        long either = long(a.size() + b.size()) - both;
        same += both;
        differ += either - both;
        int64_t offset = font.locaTable->glyphOffset(int32_t(g));
        if (offset >= 0 && font.glyfTable->s16At(offset) >= 0) {
            simpleSame += both;
            simpleDiffer += either - both;
        }
        if (!a.empty() || !b.empty()) {
            inked++;
            identical += either == both;
        }
        advanceSame += slot->glyphMetrics[g].advance == (face->glyph->advance.x + 32) >> 6;
    }
    std::printf("%-28s %3d px  ink agreement %6.2f%% (simple glyphs %6.2f%%)  identical glyphs %6.2f%%  "
                "advances equal %6.2f%%\n",
                path + std::string(path).rfind('/') + 1, size, 100.0 * same / double(same + differ),
                100.0 * simpleSame / double(simpleSame + simpleDiffer), 100.0 * identical / double(inked),
                100.0 * advanceSame / double(slot->glyphCount));
    closeFontSlot(*slot);
    FT_Done_Face(face);
}

} // namespace

int main(int argc, char** argv)
{
    const char* defaults[] = {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
                              "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf"};
    FT_Library library;
    FT_Init_FreeType(&library);
    int count = argc > 1 ? argc - 1 : 2;
    for (int i = 0; i < count; i++)
        for (int size : {12, 16, 24})
            compare(library, argc > 1 ? argv[i + 1] : defaults[i], size);
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
