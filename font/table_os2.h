// The "OS/2" table: PANOSE, style bits, character range and Windows metrics.
#pragma once

#include "font/mapped_file.h"

class Os2Table : public MappedFile {
public:
    // usWinDescent, the last field read, ends here; a shorter table (the
    // 68-byte form of early fonts) lacks the ascent and descent and is
    // treated by the font as absent.
    static constexpr int32_t MIN_LENGTH = 78;

    Os2Table(const MappedFile& font, uint32_t offset, uint32_t length);

    uint8_t panose[10] = {};
    uint16_t fsSelection = 0;
    uint16_t usFirstCharIndex = 0;
    uint16_t usLastCharIndex = 0;
    uint16_t usWinAscent = 0;
    uint16_t usWinDescent = 0;
};
