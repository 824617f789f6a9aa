// The "kern" table (pair kerning); kept with the font, nothing consults it.
#pragma once

#include "font/mapped_file.h"

class KernTable : public MappedFile {
public:
    KernTable(const MappedFile& font, uint32_t offset, uint32_t length) { makeView(font, offset, length); }
};
