// The bit and byte layouts a QueryXBitmaps request can ask the glyph
// bitmaps of an open font in, and the in-place conversion between them.
#pragma once

#include <cstdint>

struct FontSlot;

// Bits of the protocol's bitmap format word.
constexpr uint32_t FORMAT_BYTE_ORDER_MSB = 0x1;
constexpr uint32_t FORMAT_BIT_ORDER_MSB = 0x2;
constexpr int FORMAT_PAD_SHIFT = 8;
constexpr int FORMAT_UNIT_SHIFT = 12;

// Rewrites `size` bytes of bitmap data, laid out as format `from` asks, into
// the layout of format `to`. Format 0 is the layout the glyphs were rendered
// in: least significant bit and byte first, bytes in row order. Every other
// format word means:
//   - bit order most significant first: the bits of every byte reversed;
//   - byte order most significant first: the bytes of every scanline unit
//     (bits 12-13: 8, 16, 32 or 64 bits) reversed;
//   - byte order least significant first with pad code 3 (64 bits): the two
//     4-byte halves of every 8-byte group exchanged; with pad code 0 or 1:
//     the four 2-byte units of every 8-byte group in reverse order.
// Groups are counted from the start of the data; a partial group at the end
// is left as it is, so nothing past `size` is touched and converting A to B
// and back restores the data for any two formats.
void convertBitmapLayout(uint8_t* data, uint32_t size, uint32_t from, uint32_t to);

// The longest bitmap reply sent, in bytes: the X servers' font-service
// client drops its connection to a font server that sends a longer reply.
constexpr uint64_t BITMAP_REPLY_LIMIT = 64u << 20;

// True when the bitmaps of every code of the slot's character range, each
// with its own copy, fit one reply. An X server asks for all of them in one
// request when it opens a font of one row, so a font instance whose range
// does not fit is never served.
bool rangeFitsOneBitmapReply(const FontSlot& slot);
