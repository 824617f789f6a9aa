// The "fpgm" table: the font program, run once when a font is set up; its bytes are the program.
#pragma once

#include "font/mapped_file.h"

class FpgmTable : public MappedFile {
public:
    FpgmTable(const MappedFile& font, uint32_t offset, uint32_t length) { makeView(font, offset, length); }
};
