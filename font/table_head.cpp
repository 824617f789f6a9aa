#include "font/table_head.h"

HeadTable::HeadTable(const MappedFile& font, uint32_t offset, uint32_t length)
{
    makeView(font, offset, length);
    magicNumber = u32At(12);
    // A wrong magic marks a file that is no TrueType font: nothing else in
    // it is worth reading.
    if (magicNumber != MAGIC)
        return;
    unitsPerEm = u16At(18);
    xMin = s16At(36);
    xMax = s16At(40);
    macStyle = u16At(44);
    indexToLocFormat = s16At(50);
}
