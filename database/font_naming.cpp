#include "database/font_naming.h"

#include "font/truetype_font.h"

namespace {

// Turns "-" into a blank so that a name keeps the XLFD field structure.
std::string withoutDashes(std::string text)
{
    for (char& c : text)
        if (c == '-')
            c = ' ';
    return text;
}

} // namespace

std::string makeXlfdName(const TrueTypeFont& font, std::string_view foundry)
{
    std::string family = font.nameTable->getString(NameTable::PLATFORM_MACINTOSH, NameTable::NAME_FAMILY);
    std::string style = font.nameTable->getString(NameTable::PLATFORM_MACINTOSH, NameTable::NAME_STYLE);
    if (family.empty())
        family = "unknown";
    if (style.empty())
        style = "tt";

    bool bold, italic;
    if (font.os2Table) {
        bold = font.os2Table->fsSelection & 0x20;
        italic = font.os2Table->fsSelection & 0x01;
    } else {
        bold = font.headTable->macStyle & 0x01;
        italic = font.headTable->macStyle & 0x02;
    }

    std::string name = "-";
    name += foundry;
    name += "-" + withoutDashes(family);
    name += bold ? "-bold" : "-medium";
    name += italic ? "-i" : "-r";
    name += "-normal-" + withoutDashes(style) + "-";
    // ASCII only: bytes of 0x80 and above are left as they are.
    for (char& c : name)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return name;
}
