// Opens arbitrary bytes as a font, for the database and for serving, and
// calls every lookup the server makes on a font. The bytes go through a
// memory file so that the real open path (open, fstat, mmap) is exercised.
#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "database/font_naming.h"
#include "font/truetype_font.h"

namespace {

const std::string& fontPath()
{
    static const std::string path = [] {
        int fd = memfd_create("font_fuzz", 0);
        return "/proc/self/fd/" + std::to_string(fd);
    }();
    return path;
}

bool writeFont(const uint8_t* data, size_t size)
{
    int fd = std::stoi(fontPath().substr(std::string("/proc/self/fd/").size()));
    if (fd < 0 || ftruncate(fd, 0) != 0)
        return false;
    return pwrite(fd, data, size, 0) == ssize_t(size);
}

// Keeps the compiler from dropping lookups whose results are unused.
volatile uint32_t sink;

void useInfo(const TrueTypeFont& font)
{
    FontInfo info;
    font.getFontInfo(info);
    std::string stem = makeXlfdName(font, "Fonts-Extra");
    sink = info.nameLen + stem.size() + font.getEmUnits();
    for (int platform : {0, 1, 3})
        for (int nameId = 0; nameId < 8; nameId++)
            sink = sink + font.nameTable->getString(platform, nameId).size();
}

void useServing(TrueTypeFont& font)
{
    for (uint32_t code = 0; code <= 0xFFFF; code += 7)
        sink = sink + font.getGlyphNo(code);
    for (uint32_t code : {0u, 0x20u, 0x41u, 0xFFu, 0x100u, 0x20ACu, 0xF020u, 0xFFFEu, 0xFFFFu})
        sink = sink + font.getGlyphNo(code);
    int32_t glyphs = font.maxpTable->numGlyphs;
    for (int32_t size : {0, 1, 8, 12, 13, 100, 255, 256, 5000}) {
        sink = sink + font.getMaxWidth(size);
        for (int32_t glyph : {-1, 0, 1, glyphs - 1, glyphs, glyphs + 1, 65535, 70000})
            sink = sink + font.getGlyphWidth(size, glyph);
    }
    for (int32_t glyph : {-1, 0, 1, glyphs - 1, glyphs, 65535}) {
        uint16_t advance;
        int16_t lsb;
        font.hmtxTable->getHMetrics(glyph, advance, lsb);
        sink = sink + advance + uint16_t(lsb);
    }
    // The interpreter walks these programs with the cursor reads.
    for (MappedFile* program : {static_cast<MappedFile*>(font.fpgmTable.get()),
                                static_cast<MappedFile*>(font.prepTable.get()),
                                static_cast<MappedFile*>(font.cvtTable.get())}) {
        if (!program)
            continue;
        program->seek(0);
        for (int32_t n = 0; n <= program->length(); n++)
            sink = sink + program->readU8() + program->readU16();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (!writeFont(data, size))
        return 0;
    for (bool infoOnly : {true, false}) {
        TrueTypeFont font(fontPath().c_str(), infoOnly);
        if (font.isBad())
            continue;
        useInfo(font);
        if (!infoOnly)
            useServing(font);
    }
    return 0;
}
