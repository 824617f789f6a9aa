// The "hhea" table: horizontal ascent, descent and the hmtx entry count.
#pragma once

#include "font/mapped_file.h"

class HheaTable : public MappedFile {
public:
    // numberOfHMetrics, the last field read, ends here.
    static constexpr int32_t MIN_LENGTH = 36;

    HheaTable(const MappedFile& font, uint32_t offset, uint32_t length);

    int16_t ascender = 0;
    int16_t descender = 0;
    uint16_t numberOfHMetrics = 0;
};
