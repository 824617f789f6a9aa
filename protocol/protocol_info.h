// What the extents and bitmap requests share: the length check of their
// character lists, the list of character codes they name, and the glyph a
// code stands for in an open font.
#pragma once

#include <cstdint>

#include "raster/raster_slot.h"

struct Connection;

// True when the request's length covers `count` list items of `width` bytes
// from `itemsOffset`; otherwise writes BadLength and returns false.
bool checkListLength(Connection& connection, int itemsOffset, uint32_t count, int width);

// The character codes of a QueryXExtents or QueryXBitmaps request: its
// items in order, or with the range flag the inclusive ranges of the item
// pairs (an odd count completed by the font's lastChar, no items meaning
// firstChar to lastChar; a pair whose low end is above its high end names
// nothing). Items of two bytes are sent high byte first.
class CharacterCodes {
public:
    CharacterCodes(const Connection& connection, int itemsOffset, uint32_t count, int width, const FontInfo& info);

    // How many codes the list names; ranges can name far more than any
    // reply holds, so callers check this before building one.
    uint64_t size() const;

    template <typename Visit>
    void forEach(Visit visit) const
    {
        if (!ranges) {
            for (uint32_t i = 0; i < count; i++)
                visit(item(i));
            return;
        }
        for (uint32_t pair = 0; pair < pairCount(); pair++) {
            const uint32_t low = pairLow(pair), high = pairHigh(pair);
            for (uint32_t code = low; code <= high; code++)
                visit(static_cast<uint16_t>(code));
        }
    }

private:
    uint16_t item(uint32_t index) const;
    uint32_t pairCount() const;
    uint16_t pairLow(uint32_t pair) const;
    uint16_t pairHigh(uint32_t pair) const;

    const uint8_t* items;
    uint32_t count;
    int width;
    bool ranges;
    uint16_t firstChar;
    uint16_t lastChar;
};

// The glyph index a character code maps to through the slot's encoding and
// its font's character map, with its Unicode value in `unicode`. An index a
// broken character map gives beyond the font's glyphs counts as glyph 0, the
// missing glyph.
uint32_t glyphForCode(const FontSlot& slot, uint16_t code, uint16_t& unicode);
