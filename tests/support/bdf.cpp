#include "support/bdf.h"

#include <cstdio>
#include <sstream>

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

BdfFont readBdf(const std::string& text)
{
    BdfFont font;
    std::istringstream in(text);
    std::string line;
    auto fail = [&](const std::string& why) {
        font.problem = why + " at: " + line;
        return font;
    };
    auto next = [&]() { return static_cast<bool>(std::getline(in, line)); };
    auto keyword = [&](const std::string& word) { return line.rfind(word, 0) == 0; };
    if (!next() || line != "STARTFONT 2.1")
        return fail("no STARTFONT");
    while (next() && keyword("COMMENT")) {
    }
    for (const char* word : {"FONT ", "SIZE ", "FONTBOUNDINGBOX "}) {
        if (!keyword(word))
            return fail(std::string("expected ") + word);
        next();
    }
    int properties = 0;
    if (std::sscanf(line.c_str(), "STARTPROPERTIES %d", &properties) != 1)
        return fail("no STARTPROPERTIES");
    for (int i = 0; i < properties; i++)
        if (!next() || keyword("ENDPROPERTIES"))
            return fail("too few properties");
    if (!next() || line != "ENDPROPERTIES")
        return fail("no ENDPROPERTIES");
    int declared = 0;
    if (!next() || std::sscanf(line.c_str(), "CHARS %d", &declared) != 1)
        return fail("no CHARS");
    while (next() && keyword("STARTCHAR ")) {
        int encoding = 0, swidth = 0, dwidth = 0, dwidthY = 0, w = 0, h = 0, x = 0, y = 0;
        if (!next() || std::sscanf(line.c_str(), "ENCODING %d", &encoding) != 1)
            return fail("no ENCODING");
        if (!next() || std::sscanf(line.c_str(), "SWIDTH %d 0", &swidth) != 1)
            return fail("no SWIDTH");
        if (!next() || std::sscanf(line.c_str(), "DWIDTH %d %d", &dwidth, &dwidthY) != 2)
            return fail("no DWIDTH");
        if (!next() || std::sscanf(line.c_str(), "BBX %d %d %d %d", &w, &h, &x, &y) != 4 || w < 0 || h < 0)
            return fail("no BBX");
        if (!next() || line != "BITMAP")
            return fail("no BITMAP");
        std::vector<std::string>& rows = font.rows[encoding];
        for (int r = 0; r < h; r++) {
            if (!next() || line.size() != size_t((w + 7) / 8 * 2))
                return fail("bitmap row of the wrong length");
            for (char c : line) {
                const int value = hexValue(c);
                if (value < 0)
                    return fail("not hexadecimal");
                font.inkBits += __builtin_popcount(value);
            }
            rows.push_back(line);
        }
        if (!next() || line != "ENDCHAR")
            return fail("no ENDCHAR");
        font.advances[encoding] = dwidth;
        font.boxes[encoding] = {w, h, x, y};
        font.chars++;
    }
    if (line != "ENDFONT")
        return fail("no ENDFONT");
    if (font.chars != declared)
        return fail("CHARS " + std::to_string(declared) + " but " + std::to_string(font.chars) + " characters");
    return font;
}

std::set<std::pair<int, int>> BdfFont::ink(int encoding) const
{
    std::set<std::pair<int, int>> pixels;
    auto found = rows.find(encoding);
    if (found == rows.end())
        return pixels;
    const std::array<int, 4>& box = boxes.at(encoding);
    const std::vector<std::string>& lines = found->second;
    for (int row = 0; row < int(lines.size()); row++)
        for (int col = 0; col < box[0]; col++)
            if (hexValue(lines[row][col / 4]) >> (3 - col % 4) & 1)
                pixels.insert({box[2] + col, box[3] + box[1] - 1 - row});
    return pixels;
}
