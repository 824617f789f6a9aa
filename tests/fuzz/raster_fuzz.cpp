// Opens arbitrary bytes as a font instance through openFontSlot and renders
// every glyph at a few sizes, row paddings and transforms, on one Rasterizer
// as a serving process would; then checks that the glyph buffer is laid out
// as promised. The bytes go through a memory file so that the real open path
// is used.
#include <cstdint>
#include <cstdlib>

#include "raster/raster.h"
#include "raster/raster_slot.h"
#include "support/memory_font.h"

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void checkLayout(const FontSlot& slot)
{
    check(slot.bufferSize == slot.glyphCount * sizeof(GlyphMetrics) + slot.bitmapsSize);
    uint32_t next = 0;
    for (uint32_t g = 0; g < slot.glyphCount; g++) {
        const GlyphMetrics& m = slot.glyphMetrics[g];
        check(m.bitmapSize >= 0 && uint32_t(m.bitmapOffset) == next);
        next += uint32_t(m.bitmapSize);
    }
    check(next == slot.bitmapsSize);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Rasterizer rasterizer;
    if (!writeMemoryFont(data, size))
        return 0;
    struct Size {
        int32_t matrix[4];
        int32_t pad;
    } sizes[] = {{{9, 9, 0, 0}, 2}, {{24, 20, 0, 0}, ~1}, {{12, 12, 5, -3}, 0}};
    for (const Size& s : sizes) {
        FontParams params = {{s.matrix[0], s.matrix[1], s.matrix[2], s.matrix[3]}, {0, 0, 0, 0}, 96, 96, 0};
        rasterizer.scanlinePad = s.pad;
        FontSlot* slot = openFontSlot(new TrueTypeFont(memoryFontPath(), false), params, rasterizer, 7, nullptr);
        if (!slot)
            return 0;
        checkLayout(*slot);
        closeFontSlot(*slot);
    }
    return 0;
}
