// The "VDMX" table (vertical device metrics); kept with the font, nothing consults it.
#pragma once

#include "font/mapped_file.h"

class VdmxTable : public MappedFile {
public:
    VdmxTable(const MappedFile& font, uint32_t offset, uint32_t length) { makeView(font, offset, length); }
};
