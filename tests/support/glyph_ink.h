// Glyph bitmaps as sets of inked pixels relative to the glyph origin, so
// that renderings from different places (an open font slot, the server's
// replies) compare directly.
#pragma once

#include "support/fs_client.h"

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

struct FontSlot;

// (x, y) of each inked pixel's bottom-left corner, the origin at (0, 0).
using Ink = std::set<std::pair<int, int>>;

// Glyph `glyph` of an open font slot.
Ink slotInk(const FontSlot& slot, unsigned glyph);

// The glyphs of `codes` in font `fontId` as the server sends them
// (QueryXExtents16 and QueryXBitmaps16, least significant bit first, pad
// 32); empty when the replies do not come within the time.
std::vector<Ink> servedInk(FsClient& client, uint32_t fontId, const std::vector<uint16_t>& codes,
                           int timeoutMilliseconds = 20000);

// Ink columns from the leftmost to the rightmost inked pixel; 0 for none.
int inkWidth(const Ink& ink);
