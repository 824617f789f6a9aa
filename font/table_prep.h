// The "prep" table: the control value program, run at every size set-up; its bytes are the program.
#pragma once

#include "font/mapped_file.h"

class PrepTable : public MappedFile {
public:
    PrepTable(const MappedFile& font, uint32_t offset, uint32_t length) { makeView(font, offset, length); }
};
