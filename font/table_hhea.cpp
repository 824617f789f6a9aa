#include "font/table_hhea.h"

HheaTable::HheaTable(const MappedFile& font, uint32_t offset, uint32_t length)
{
    makeView(font, offset, length);
    ascender = s16At(4);
    descender = s16At(6);
    numberOfHMetrics = u16At(34);
}
