// The "cvt " table: the control values (signed 16-bit, font units) that the
// interpreter scales to the current size.
#pragma once

#include "font/mapped_file.h"

class CvtTable : public MappedFile {
public:
    CvtTable(const MappedFile& font, uint32_t offset, uint32_t length)
    {
        makeView(font, offset, length);
        numValues = int32_t(length / 2);
    }

    int32_t numValues = 0;
};
