// FreeType as an oracle: one glyph rendered in monochrome, hinted by its
// classic TrueType interpreter (the library set to interpreter version 35
// with setClassicInterpreter) or unhinted, as a set of inked pixels
// relative to the origin. Header only: just the programs that link
// FreeType include it.
#pragma once

#include "support/glyph_ink.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_DRIVER_H
#include FT_MODULE_H

inline void setClassicInterpreter(FT_Library library)
{
    FT_UInt v35 = TT_INTERPRETER_VERSION_35;
    FT_Property_Set(library, "truetype", "interpreter-version", &v35);
}

// The ink of glyph `glyph` of `face` at its current size; `advance`, when
// given, receives the rounded advance in pixels (0 when the glyph fails).
inline Ink freetypeInk(FT_Face face, unsigned glyph, bool hinted, int* advance = nullptr)
{
    Ink ink;
    if (advance)
        *advance = 0;
    const FT_Int32 flags =
        FT_LOAD_TARGET_MONO | FT_LOAD_NO_BITMAP | (hinted ? FT_LOAD_NO_AUTOHINT : FT_LOAD_NO_HINTING);
    if (FT_Load_Glyph(face, glyph, flags) || FT_Render_Glyph(face->glyph, FT_RENDER_MODE_MONO))
        return ink;
    if (advance)
        *advance = int((face->glyph->advance.x + 32) >> 6);
    const FT_Bitmap& b = face->glyph->bitmap;
    for (unsigned row = 0; row < b.rows; row++)
        for (unsigned col = 0; col < b.width; col++)
            if (b.buffer[row * b.pitch + col / 8] & (0x80 >> (col % 8)))
                ink.insert({face->glyph->bitmap_left + int(col), face->glyph->bitmap_top - 1 - int(row)});
    return ink;
}
