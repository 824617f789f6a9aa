// The "maxp" table: the glyph count and the maxima that size the
// rasterizer's and the interpreter's working areas.
#pragma once

#include "font/mapped_file.h"

class MaxpTable : public MappedFile {
public:
    // A version 0.5 table ends after numGlyphs; its other maxima read as 0.
    static constexpr int32_t MIN_LENGTH = 6;

    MaxpTable(const MappedFile& font, uint32_t offset, uint32_t length);

    uint16_t numGlyphs = 0;
    uint16_t maxPoints = 0;
    uint16_t maxContours = 0;
    uint16_t maxCompositePoints = 0;
    uint16_t maxCompositeContours = 0;
    uint16_t maxZones = 0;
    uint16_t maxTwilightPoints = 0;
    uint16_t maxStorage = 0;
    uint16_t maxFunctionDefs = 0;
    uint16_t maxInstructionDefs = 0;
    uint16_t maxStackElements = 0;
    uint16_t maxSizeOfInstructions = 0;
    uint16_t maxComponentElements = 0;
    uint16_t maxComponentDepth = 0;
};
