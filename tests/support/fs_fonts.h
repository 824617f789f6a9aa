// Requests and reply readers for opening fonts and asking for their
// information, extents and bitmaps, built on FsClient.
#pragma once

#include "support/fs_client.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

constexpr uint8_t OPEN_BITMAP_FONT = 15;
constexpr uint8_t QUERY_X_INFO = 16;
constexpr uint8_t QUERY_X_EXTENTS8 = 17;
constexpr uint8_t QUERY_X_EXTENTS16 = 18;
constexpr uint8_t QUERY_X_BITMAPS8 = 19;
constexpr uint8_t QUERY_X_BITMAPS16 = 20;
constexpr uint8_t CLOSE_FONT = 21;

// Least significant byte and bit first, pad and unit 32: what an X server
// on a little-endian machine asks for.
constexpr uint32_t FORMAT_LSB_PAD32 = 0x2200;

constexpr uint8_t LIST_FONTS = 13;

std::vector<uint8_t> listFontsRequest(const std::string& pattern, uint32_t maxNames);
std::vector<uint8_t> openFontRequest(uint32_t id, const std::string& name, uint32_t formatHint = FORMAT_LSB_PAD32);
std::vector<uint8_t> fontIdRequest(uint8_t opcode, uint32_t id);
// Items are character codes: one byte each for the 8-bit opcodes, two
// (high byte first) for the 16-bit ones.
std::vector<uint8_t> extentsRequest(uint8_t opcode, uint32_t id, bool ranges, const std::vector<uint16_t>& items);
std::vector<uint8_t> bitmapsRequest(uint8_t opcode, uint32_t id, uint32_t format, bool ranges,
                                    const std::vector<uint16_t>& items);

// One character's extents: left and right bearing, advance, ascent,
// descent, attributes.
using Extent = std::array<int16_t, 6>;
// The entries of a QueryXExtents reply (empty for anything else).
std::vector<Extent> extentsOf(const FsReply& reply);

struct BitmapEntry {
    uint32_t offset;
    uint32_t length;
};

struct Bitmaps {
    std::vector<BitmapEntry> entries;
    std::vector<uint8_t> data;
    // The bitmap of entry i.
    std::vector<uint8_t> glyph(size_t i) const;
};
// The parts of a QueryXBitmaps reply, empty if it is none or inconsistent.
Bitmaps bitmapsOf(const FsReply& reply);
