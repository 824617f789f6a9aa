// The "gasp" table (grid-fitting behaviour per size); kept with the font, nothing consults it.
#pragma once

#include "font/mapped_file.h"

class GaspTable : public MappedFile {
public:
    GaspTable(const MappedFile& font, uint32_t offset, uint32_t length) { makeView(font, offset, length); }
};
