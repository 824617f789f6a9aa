#include "support/fs_fonts.h"

namespace {

void appendItems(std::vector<uint8_t>& body, uint8_t opcode, const std::vector<uint16_t>& items)
{
    const bool wide = opcode == QUERY_X_EXTENTS16 || opcode == QUERY_X_BITMAPS16;
    for (uint16_t item : items) {
        if (wide)
            body.push_back(static_cast<uint8_t>(item >> 8));
        body.push_back(static_cast<uint8_t>(item));
    }
}

} // namespace

std::vector<uint8_t> listFontsRequest(const std::string& pattern, uint32_t maxNames)
{
    std::vector<uint8_t> body;
    append32(body, maxNames);
    append16(body, static_cast<uint16_t>(pattern.size()));
    append16(body, 0);
    body.insert(body.end(), pattern.begin(), pattern.end());
    return makeRequest(LIST_FONTS, 0, body);
}

std::vector<uint8_t> openFontRequest(uint32_t id, const std::string& name, uint32_t formatHint)
{
    std::vector<uint8_t> body;
    append32(body, id);
    append32(body, 0);
    append32(body, formatHint);
    body.push_back(static_cast<uint8_t>(name.size()));
    body.insert(body.end(), name.begin(), name.end());
    return makeRequest(OPEN_BITMAP_FONT, 0, body);
}

std::vector<uint8_t> fontIdRequest(uint8_t opcode, uint32_t id)
{
    std::vector<uint8_t> body;
    append32(body, id);
    return makeRequest(opcode, 0, body);
}

std::vector<uint8_t> extentsRequest(uint8_t opcode, uint32_t id, bool ranges, const std::vector<uint16_t>& items)
{
    std::vector<uint8_t> body;
    append32(body, id);
    append32(body, static_cast<uint32_t>(items.size()));
    appendItems(body, opcode, items);
    return makeRequest(opcode, ranges ? 1 : 0, body);
}

std::vector<uint8_t> bitmapsRequest(uint8_t opcode, uint32_t id, uint32_t format, bool ranges,
                                    const std::vector<uint16_t>& items)
{
    std::vector<uint8_t> body;
    append32(body, id);
    append32(body, format);
    append32(body, static_cast<uint32_t>(items.size()));
    appendItems(body, opcode, items);
    return makeRequest(opcode, ranges ? 1 : 0, body);
}

std::vector<Extent> extentsOf(const FsReply& reply)
{
    std::vector<Extent> extents;
    if (!reply.isReply())
        return extents;
    const uint32_t count = reply.get32(8);
    if (reply.bytes.size() < 12 + size_t(count) * 12)
        return extents;
    for (uint32_t i = 0; i < count; i++) {
        Extent extent;
        for (int field = 0; field < 6; field++)
            extent[field] = static_cast<int16_t>(reply.get16(12 + i * 12 + field * 2));
        extents.push_back(extent);
    }
    return extents;
}

std::vector<uint8_t> Bitmaps::glyph(size_t i) const
{
    const BitmapEntry& entry = entries.at(i);
    return std::vector<uint8_t>(data.begin() + entry.offset, data.begin() + entry.offset + entry.length);
}

Bitmaps bitmapsOf(const FsReply& reply)
{
    Bitmaps bitmaps;
    if (!reply.isReply())
        return bitmaps;
    const uint32_t count = reply.get32(12), dataSize = reply.get32(16);
    const size_t dataStart = 20 + size_t(count) * 8;
    if (reply.bytes.size() < dataStart + dataSize)
        return bitmaps;
    for (uint32_t i = 0; i < count; i++) {
        const BitmapEntry entry{reply.get32(20 + i * 8), reply.get32(24 + i * 8)};
        if (size_t(entry.offset) + entry.length > dataSize)
            return Bitmaps{};
        bitmaps.entries.push_back(entry);
    }
    bitmaps.data.assign(reply.bytes.begin() + dataStart, reply.bytes.begin() + dataStart + dataSize);
    return bitmaps;
}
