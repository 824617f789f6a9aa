#include "font/truetype_font.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

constexpr int DIRECTORY_START = 12;
constexpr int ENTRY_SIZE = 16;

constexpr uint32_t tag(const char (&name)[5])
{
    return uint32_t(uint8_t(name[0])) << 24 | uint32_t(uint8_t(name[1])) << 16 | uint32_t(uint8_t(name[2])) << 8
        | uint8_t(name[3]);
}

// A table too short for the fixed fields its class reads counts as absent,
// so nothing later has to ask how long a table is before reading a field.
template <class Table>
void makeIfLongEnough(std::unique_ptr<Table>& slot, const MappedFile& font, uint32_t offset, uint32_t length,
                      int32_t minLength)
{
    if (int64_t(length) >= minLength)
        slot = std::make_unique<Table>(font, offset, length);
    else
        slot.reset();
}

// Widths are computed in 32-bit arithmetic that wraps, like every other
// font computation; the em size is never 0 in a good font.
int32_t scaleWidth(int32_t fontUnits, int32_t size, int32_t unitsPerEm)
{
    return int32_t(uint32_t(fontUnits) * uint32_t(size)) / unitsPerEm;
}

} // namespace

TrueTypeFont::TrueTypeFont(const char* path, bool infoOnly)
{
    openFile(path);
    if (isMapped() && !parseDirectory(infoOnly))
        headTable.reset();
}

TrueTypeFont::~TrueTypeFont()
{
    release();
}

bool TrueTypeFont::parseDirectory(bool infoOnly)
{
    // numTables of 32768 or more reads as negative: no entries at all.
    int32_t numTables = std::max<int16_t>(s16At(4), 0);
    if (!contains(DIRECTORY_START, int64_t(numTables) * ENTRY_SIZE))
        return false;
    for (int32_t n = 0; n < numTables; n++) {
        int64_t entry = DIRECTORY_START + int64_t(n) * ENTRY_SIZE;
        uint32_t offset = u32At(entry + 8);
        uint32_t length = u32At(entry + 12);
        if (length == 0)
            continue;
        // Checked for every entry, known tag or not: a directory that points
        // outside the file belongs to a damaged font.
        if (!contains(offset, length))
            return false;
        makeTable(u32At(entry), offset, length, infoOnly);
    }
    if (!nameTable || !headTable || !headTable->isUsable())
        return false;
    return infoOnly || linkTables();
}

void TrueTypeFont::makeTable(uint32_t tableTag, uint32_t offset, uint32_t length, bool infoOnly)
{
    switch (tableTag) {
    case tag("OS/2"):
        return makeIfLongEnough(os2Table, *this, offset, length, Os2Table::MIN_LENGTH);
    case tag("head"):
        return makeIfLongEnough(headTable, *this, offset, length, HeadTable::MIN_LENGTH);
    case tag("name"):
        return makeIfLongEnough(nameTable, *this, offset, length, NameTable::MIN_LENGTH);
    }
    if (infoOnly)
        return;
    switch (tableTag) {
    case tag("maxp"):
        return makeIfLongEnough(maxpTable, *this, offset, length, MaxpTable::MIN_LENGTH);
    case tag("cmap"):
        return makeIfLongEnough(cmapTable, *this, offset, length, CmapTable::MIN_LENGTH);
    case tag("loca"):
        return makeIfLongEnough(locaTable, *this, offset, length, 0);
    case tag("glyf"):
        return makeIfLongEnough(glyfTable, *this, offset, length, 0);
    case tag("fpgm"):
        return makeIfLongEnough(fpgmTable, *this, offset, length, 0);
    case tag("prep"):
        return makeIfLongEnough(prepTable, *this, offset, length, 0);
    case tag("cvt "):
        return makeIfLongEnough(cvtTable, *this, offset, length, 0);
    case tag("hhea"):
        return makeIfLongEnough(hheaTable, *this, offset, length, HheaTable::MIN_LENGTH);
    case tag("hmtx"):
        return makeIfLongEnough(hmtxTable, *this, offset, length, 0);
    case tag("LTSH"):
        return makeIfLongEnough(ltshTable, *this, offset, length, 0);
    case tag("hdmx"):
        return makeIfLongEnough(hdmxTable, *this, offset, length, HdmxTable::MIN_LENGTH);
    case tag("VDMX"):
        return makeIfLongEnough(vdmxTable, *this, offset, length, 0);
    case tag("gasp"):
        return makeIfLongEnough(gaspTable, *this, offset, length, 0);
    case tag("kern"):
        return makeIfLongEnough(kernTable, *this, offset, length, 0);
    }
}

bool TrueTypeFont::linkTables()
{
    // hhea and hmtx are read for every glyph's metrics, so a font without
    // them is as unusable for serving as one without outlines.
    if (!maxpTable || !cmapTable || !locaTable || !glyfTable || !hheaTable || !hmtxTable)
        return false;
    locaTable->shortOffsets = headTable->indexToLocFormat == 0;
    locaTable->numGlyphs = maxpTable->numGlyphs;
    hmtxTable->numberOfHMetrics = hheaTable->numberOfHMetrics;
    return true;
}

void TrueTypeFont::getFontInfo(FontInfo& info) const
{
    if (os2Table) {
        info.firstChar = os2Table->usFirstCharIndex;
        info.lastChar = os2Table->usLastCharIndex;
        std::memcpy(info.panose, os2Table->panose, sizeof info.panose);
    } else {
        info.firstChar = 32;
        info.lastChar = 127;
        std::memset(info.panose, 0, sizeof info.panose);
    }
    std::string name = nameTable->getString(NameTable::PLATFORM_MACINTOSH, NameTable::NAME_FULL);
    if (name.empty())
        name = "Unknown";
    info.nameLen = std::min(name.size(), sizeof info.fullName);
    std::memcpy(info.fullName, name.data(), info.nameLen);
}

int32_t TrueTypeFont::getMaxWidth(int32_t size) const
{
    if (hdmxTable) {
        if (int32_t width = hdmxTable->getMaxWidth(size))
            return width;
    }
    int32_t unitsPerEm = headTable->unitsPerEm;
    int32_t extent = int32_t(headTable->xMax) - headTable->xMin;
    return scaleWidth(extent + unitsPerEm / 32, size, unitsPerEm);
}

int32_t TrueTypeFont::getGlyphWidth(int32_t size, int32_t glyph) const
{
    if (hdmxTable) {
        if (int32_t width = hdmxTable->getGlyphWidth(size, glyph))
            return width;
    }
    uint16_t advance = 0;
    int16_t lsb = 0;
    if (hmtxTable)
        hmtxTable->getHMetrics(glyph, advance, lsb);
    int32_t unitsPerEm = headTable->unitsPerEm;
    return scaleWidth(unitsPerEm / 32 + advance, size, unitsPerEm);
}
