// The table of open font instances and the open that fills one: character
// range, resolution and pixel size defaults, the glyph buffer, and the
// rendering of every glyph.
#include "raster/raster_slot.h"

#include <algorithm>
#include <cstdint>

#include "raster/raster.h"
#include "server/messages.h"
#include "server/settings.h"

FontSlot fontSlots[FONT_SLOT_COUNT];

namespace {

// The glyph buffer starts this large and is halved while memory is short.
constexpr int32_t START_BUFFER = 16 << 20;
constexpr int32_t SMALLEST_BUFFER = 256 << 10;

void clampCharacterRange(FontInfo& info)
{
    const uint16_t limit = settings.unstrapped ? 10500 : 255;
    uint16_t last = std::min(info.lastChar, limit);
    // Ranges past 255 end on a full row of 256 codes.
    info.lastChar = last < 256 ? last : uint16_t(last | 0xFF);
    if (settings.unstrapped)
        info.firstChar = 0;
    else if (info.firstChar > 32)
        info.firstChar = std::min<uint16_t>(31, info.lastChar);
    else if (info.firstChar > info.lastChar)
        info.firstChar = info.lastChar;
}

void resolvePixelSize(FontParams& params)
{
    if (params.resolutionX == 0 || params.resolutionY == 0)
        params.resolutionX = params.resolutionY = settings.forcedResolution ? settings.forcedResolution : 96;
    int32_t* pixel = params.pixelMatrix;
    if (!pixel[0] && !pixel[1] && !pixel[2] && !pixel[3]) {
        for (int i = 0; i < 4; i++) {
            int64_t resolution = i == 0 || i == 2 ? params.resolutionX : params.resolutionY;
            pixel[i] = static_cast<int32_t>(params.pointMatrix[i] * resolution / 72);
        }
    }
    if (!pixel[0] && !pixel[1] && !pixel[2] && !pixel[3])
        pixel[0] = pixel[1] = 12;
}

// Every metric goes to clients in a 16-bit field: a size beyond it would
// report wrapped extents.
bool representable(const FontParams& params)
{
    return std::all_of(params.pixelMatrix, params.pixelMatrix + 4,
                       [](int32_t pixels) { return pixels >= INT16_MIN && pixels <= INT16_MAX; });
}

// Releases what the slot holds and marks it free.
void releaseSlot(FontSlot& slot)
{
    memFree(slot.glyphMetrics, static_cast<int>(slot.bufferSize));
    delete slot.font;
    slot = FontSlot{};
}

} // namespace

FontSlot* openFontSlot(TrueTypeFont* font, FontParams& params, Rasterizer& rasterizer, uint32_t fontId,
                       const Encoding* encoding)
{
    if (!font)
        return nullptr;
    // Id 0 marks a free slot: an instance stored under it would be taken
    // over by the next open.
    if (font->isBad() || fontId == 0) {
        delete font;
        return nullptr;
    }
    FontSlot* slot = std::find_if(fontSlots, fontSlots + FONT_SLOT_COUNT, [](const FontSlot& s) { return s.fontId == 0; });
    if (slot == fontSlots + FONT_SLOT_COUNT) {
        delete font;
        return nullptr;
    }
    *slot = FontSlot{};
    slot->fontId = static_cast<int32_t>(fontId);
    slot->font = font;
    font->getFontInfo(slot->info);
    slot->encoding = encoding;
    clampCharacterRange(slot->info);
    resolvePixelSize(params);
    if (!representable(params)) {
        releaseSlot(*slot);
        return nullptr;
    }

    rasterizer.setFont(font, params.renderFlags);
    const int32_t* pixel = params.pixelMatrix;
    rasterizer.setPixelSize(pixel[0], pixel[2], pixel[3], pixel[1]);

    // The first buffer counts against the process's ceiling like any
    // growth: without that, every one of the 256 slots could hold one of
    // 16 MB.
    const uint64_t others = glyphBuffersBesides(*slot);
    const uint64_t room = rasterizer.glyphBufferCeiling > others ? rasterizer.glyphBufferCeiling - others : 0;
    int32_t size = static_cast<int32_t>(std::min<uint64_t>(START_BUFFER, room));
    const int32_t smallest = std::min(SMALLEST_BUFFER, size);
    for (; size > 0 && size >= smallest && !slot->glyphMetrics; size /= 2) {
        slot->glyphMetrics = static_cast<GlyphMetrics*>(memAlloc(size));
        slot->bufferSize = slot->glyphMetrics ? static_cast<uint32_t>(size) : 0;
    }
    if (!slot->glyphMetrics) {
        logError("entering memory starved mode");
        releaseSlot(*slot);
        return nullptr;
    }

    // An instance whose glyphs do not fit, or that has no glyphs at all,
    // could not answer its requests truthfully; it is refused. Rendering
    // stops short of state 3 only when the memory ran out.
    if (!rasterizer.renderAllGlyphs(*slot)) {
        if (rasterizer.state == 2)
            logError("entering memory starved mode");
        releaseSlot(*slot);
        return nullptr;
    }
    if (slot->glyphCount == 0) {
        releaseSlot(*slot);
        return nullptr;
    }
    const uint32_t used = slot->glyphCount * static_cast<uint32_t>(sizeof(GlyphMetrics)) + slot->bitmapsSize;
    void* block = memRealloc(slot->glyphMetrics, static_cast<int>(used));
    if (!block) {
        releaseSlot(*slot);
        return nullptr;
    }
    slot->glyphMetrics = static_cast<GlyphMetrics*>(block);
    slot->bufferSize = used;
    slot->bitmaps = static_cast<uint8_t*>(block) + slot->glyphCount * sizeof(GlyphMetrics);
    return slot;
}

uint64_t glyphBuffersBesides(const FontSlot& slot)
{
    uint64_t sum = 0;
    for (const FontSlot& other : fontSlots)
        if (other.fontId != 0 && &other != &slot)
            sum += other.bufferSize;
    return sum;
}

FontSlot* findFontSlot(uint32_t fontId)
{
    if (fontId == 0)
        return nullptr;
    // Ids are compared as the 32-bit values they are on the wire: the
    // stored id is sign-extended, so an id with bit 31 set would otherwise
    // never be found again and its slot would leak.
    for (FontSlot& slot : fontSlots)
        if (static_cast<uint32_t>(slot.fontId) == fontId)
            return &slot;
    return nullptr;
}

void closeFontSlot(FontSlot& slot)
{
    releaseSlot(slot);
}
