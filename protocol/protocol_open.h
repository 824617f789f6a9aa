// Reading the font name of an OpenBitmapFont request: the server's short
// font names ("TTp16_Arial"), the size, resolution and character-set fields
// of an XLFD name, and the stem matcher that picks the font from the
// database. Pure functions over the name, so that every rule can be tested
// without a server.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "raster/raster_slot.h"

class Encoding;

// The Rasterizer's scanlinePad for the format hint of an open: the hint's
// scanline pad code (bits 8 and 9), complemented when its image-rectangle
// bits (2 and 3) are not both zero, which asks for every glyph's rows to be
// as wide as the font's widest glyph.
int32_t scanlinePadFromHint(uint32_t formatHint);

// The size request of an open before its name shapes it: no pixel sizes,
// the connection's default point size and resolutions, no render flags.
FontParams startingParams(int resolutionX, int resolutionY, int defaultPointSize);

// Reads a short font name: "TT" (either case), any number of modifiers,
// "_", then the font's name. A modifier is a letter (either case), an
// optional "-" and optional decimal digits: "p" the next pixel-matrix
// element, "m" the next point-matrix element (first four of each count),
// "r" the next resolution (x, then y), "f" the render flags. On success the
// matrices are completed from the modifiers given, `fontName` is the rest
// after "_" and true is returned; false when the name is no short name.
// `params` must hold the starting values.
bool parseShortName(std::string_view name, FontParams& params, std::string_view& fontName);

// What the XLFD path takes from a name.
struct XlfdRequest {
    // Bytes of the (lowered) name used for matching: up to and including the
    // 7th "-", so that the size, resolution, spacing, width and character
    // set fields never choose the font file.
    size_t matchLength;
    // The character set named after the 13th "-", null when none is known.
    const Encoding* encoding;
};

// Lowers `length` bytes of `name` in place and reads its fields: the pixel
// size (after the 7th "-") into both pixel-matrix diagonal elements, the
// point size in tenths (8th) into both point-matrix diagonal elements,
// resolution x and y (9th, 10th) and the character set (the rest after the
// 13th). Fields the name does not reach keep their values in `params`; a
// field without leading digits (such as "*") reads as 0.
XlfdRequest readXlfdName(char* name, size_t length, FontParams& params);

// Whether `pattern` (a lowered, cut XLFD name) matches a database stem. A
// "*" stands for the shortest run, possibly empty, that reaches the next
// character of the pattern; a "*" at the end matches the rest. There is no
// backtracking, so a match costs one pass over the stem.
bool stemMatches(std::string_view pattern, std::string_view stem);
