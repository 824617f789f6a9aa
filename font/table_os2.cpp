#include "font/table_os2.h"

Os2Table::Os2Table(const MappedFile& font, uint32_t offset, uint32_t length)
{
    makeView(font, offset, length);
    for (int i = 0; i < 10; i++)
        panose[i] = u8At(32 + i);
    fsSelection = u16At(62);
    usFirstCharIndex = u16At(64);
    usLastCharIndex = u16At(66);
    usWinAscent = u16At(74);
    usWinDescent = u16At(76);
}
