// One opened TrueType font file: its mapping, table directory and one table
// object (a view into the mapping) for each table the server understands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "font/mapped_file.h"
#include "font/table_cmap.h"
#include "font/table_cvt.h"
#include "font/table_fpgm.h"
#include "font/table_gasp.h"
#include "font/table_glyf.h"
#include "font/table_hdmx.h"
#include "font/table_head.h"
#include "font/table_hhea.h"
#include "font/table_hmtx.h"
#include "font/table_kern.h"
#include "font/table_loca.h"
#include "font/table_ltsh.h"
#include "font/table_maxp.h"
#include "font/table_name.h"
#include "font/table_os2.h"
#include "font/table_prep.h"
#include "font/table_vdmx.h"

struct OutlinePoint;

// What the font database stores about a font, and the character range an
// open font answers for.
struct FontInfo {
    uint16_t firstChar = 0;
    uint16_t lastChar = 0;
    uint8_t panose[10] = {};
    // Meaningful bytes of fullName, 1 to 32; no terminator is stored.
    size_t nameLen = 0;
    char fullName[32] = {};
};

class TrueTypeFont : public MappedFile {
public:
    // Opens path (relative to the current directory). With infoOnly only the
    // OS/2, head and name tables are made (enough for getFontInfo and
    // makeXlfdName); otherwise every known table. Never throws: a font that
    // cannot be used reports isBad().
    TrueTypeFont(const char* path, bool infoOnly);
    ~TrueTypeFont();
    TrueTypeFont(const TrueTypeFont&) = delete;
    TrueTypeFont& operator=(const TrueTypeFont&) = delete;

    // True when the font cannot be used: not mapped, a malformed table
    // directory, no name table, no usable head table (magic, length, em
    // size), or, when opened for serving, a table the renderer needs missing.
    bool isBad() const { return !isMapped() || !headTable; }

    uint16_t getEmUnits() const { return headTable->unitsPerEm; }
    void getFontInfo(FontInfo& info) const;
    // Glyph index of a Unicode code point (cut to 16 bits); 0 for none.
    uint16_t getGlyphNo(uint32_t code) const { return cmapTable ? cmapTable->charToGlyph(uint16_t(code)) : 0; }
    // Widest advance, and one glyph's advance, in pixels at size pixels per em.
    int32_t getMaxWidth(int32_t size) const;
    int32_t getGlyphWidth(int32_t size, int32_t glyph) const;

    std::unique_ptr<NameTable> nameTable;
    std::unique_ptr<HeadTable> headTable;
    std::unique_ptr<MaxpTable> maxpTable;
    std::unique_ptr<CmapTable> cmapTable;
    std::unique_ptr<LocaTable> locaTable;
    std::unique_ptr<GlyfTable> glyfTable;
    std::unique_ptr<FpgmTable> fpgmTable;
    std::unique_ptr<PrepTable> prepTable;
    std::unique_ptr<CvtTable> cvtTable;
    std::unique_ptr<HheaTable> hheaTable;
    std::unique_ptr<HmtxTable> hmtxTable;
    std::unique_ptr<Os2Table> os2Table;
    std::unique_ptr<LtshTable> ltshTable;
    std::unique_ptr<HdmxTable> hdmxTable;
    std::unique_ptr<VdmxTable> vdmxTable;
    std::unique_ptr<GaspTable> gaspTable;
    std::unique_ptr<KernTable> kernTable;

    // The rasterizer's glyph scratch arrays, lent to the font while the
    // rasterizer works on it; the font neither allocates nor frees them.
    int32_t* contourBuffer = nullptr;
    OutlinePoint* pointBuffer = nullptr;

private:
    // Reads the table directory and makes the table objects; false when the
    // font is bad.
    bool parseDirectory(bool infoOnly);
    void makeTable(uint32_t tag, uint32_t offset, uint32_t length, bool infoOnly);
    bool linkTables();
};
