// The rasterizer at a fuzzer's pace: arbitrary bytes opened as a font,
// their font and control value programs run at one size, and only the first
// few glyphs loaded, hinted and scan converted, under a small outline work
// budget. Thousands of inputs a second reach the outline loader, the
// interpreter and the scan converter this way; raster_fuzz covers the whole
// open (every glyph, several sizes and layouts) at a far lower rate.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "raster/raster.h"
#include "raster/raster_slot.h"
#include "support/memory_font.h"

namespace {

constexpr int32_t GLYPH_BUDGET = 6;
constexpr int32_t PIXEL_SIZE = 13;

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Rasterizer rasterizer;
    static std::vector<uint8_t> bitmap(64 << 10);
    if (!writeMemoryFont(data, size))
        return 0;
    TrueTypeFont font(memoryFontPath(), false);
    if (font.isBad())
        return 0;
    rasterizer.workPerFont = 1 << 16;
    rasterizer.setFont(&font, 0);
    rasterizer.setPixelSize(PIXEL_SIZE, 0, 0, PIXEL_SIZE);
    if (rasterizer.state == 2) {
        rasterizer.workLeft = rasterizer.workPerFont;
        const int32_t glyphs = std::min<int32_t>(font.maxpTable->numGlyphs, GLYPH_BUDGET);
        for (int32_t glyph = 0; glyph < glyphs; glyph++) {
            GlyphMetrics metrics{};
            const int32_t bytes = rasterizer.renderGlyph(glyph, bitmap.data(), bitmap.data() + bitmap.size(), metrics);
            check(bytes >= 0 && size_t(bytes) <= bitmap.size());
            check(metrics.width >= 0 && metrics.height >= 0);
        }
    }
    // The font goes with this call: nothing may keep pointing at it.
    rasterizer.setFont(nullptr, 0);
    return 0;
}
