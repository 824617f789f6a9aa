// The "head" table: the font header.
#pragma once

#include "font/mapped_file.h"

class HeadTable : public MappedFile {
public:
    static constexpr uint32_t MAGIC = 0x5F0F3CF5;
    // indexToLocFormat, the last field read, ends here.
    static constexpr int32_t MIN_LENGTH = 52;

    HeadTable(const MappedFile& font, uint32_t offset, uint32_t length);

    // The font can use this header: it carries the magic number and a
    // nonzero em size (every width and scale divides by it).
    bool isUsable() const { return magicNumber == MAGIC && unitsPerEm != 0; }

    uint32_t magicNumber = 0;
    uint16_t unitsPerEm = 0;
    int16_t xMin = 0;
    int16_t xMax = 0;
    uint16_t macStyle = 0;
    int16_t indexToLocFormat = 0;
};
