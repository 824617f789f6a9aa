// The "glyf" table: the glyph outlines and their instructions.
#pragma once

#include "font/mapped_file.h"

class GlyfTable : public MappedFile {
public:
    GlyfTable(const MappedFile& font, uint32_t offset, uint32_t length) { makeView(font, offset, length); }
};
