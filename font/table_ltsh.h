// The "LTSH" table (linear threshold); kept with the font, nothing consults it.
#pragma once

#include "font/mapped_file.h"

class LtshTable : public MappedFile {
public:
    LtshTable(const MappedFile& font, uint32_t offset, uint32_t length) { makeView(font, offset, length); }
};
