// Font names for ListFonts, made from the mapped database alone.
#pragma once

#include <cstdint>
#include <string_view>

struct InfoRecord;

// Names stop being added once this many bytes are used; the last name (at
// most 256 bytes with its length byte) and its fill then still end inside
// the 4 MB reply buffer.
constexpr uint32_t LISTING_BYTE_LIMIT = 0x3FFF00;

struct ListingResult {
    uint32_t count;   // number of names
    uint32_t length;  // bytes used by the names, length bytes included
};

// Writes the names matching pattern, each a length byte and its characters,
// to names, which must hold 4194304 bytes. At most maxNames names.
ListingResult listFontNames(std::string_view pattern, uint32_t maxNames, uint8_t* names);

// The spacing field of a font's names: "m" when its PANOSE proportion says
// monospaced, "p" otherwise.
char spacingOf(const InfoRecord& info);
