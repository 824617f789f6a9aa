#include "font/table_maxp.h"

MaxpTable::MaxpTable(const MappedFile& font, uint32_t offset, uint32_t length)
{
    makeView(font, offset, length);
    seek(4);
    numGlyphs = readU16();
    maxPoints = readU16();
    maxContours = readU16();
    maxCompositePoints = readU16();
    maxCompositeContours = readU16();
    maxZones = readU16();
    maxTwilightPoints = readU16();
    maxStorage = readU16();
    maxFunctionDefs = readU16();
    maxInstructionDefs = readU16();
    maxStackElements = readU16();
    maxSizeOfInstructions = readU16();
    maxComponentElements = readU16();
    maxComponentDepth = readU16();
}
