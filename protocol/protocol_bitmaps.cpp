// QueryXBitmaps8/16 and CloseFont, and the conversion of a font's bitmap
// data between the layouts clients ask for.
#include "protocol/protocol_bitmaps.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "protocol/connection.h"
#include "protocol/handlers.h"
#include "protocol/protocol_info.h"
#include "server/messages.h"

namespace {

// How a layout orders the bytes of the rendered data.
enum class ByteShuffle {
    none,
    reverse2, // bytes of each 2-byte unit reversed
    reverse4, // ... of each 4-byte unit
    reverse8, // ... of each 8-byte unit
    halves8,  // the 4-byte halves of each 8-byte group exchanged
    shorts8,  // the four 2-byte units of each 8-byte group reversed
};

ByteShuffle byteShuffle(uint32_t format)
{
    if (format == 0)
        return ByteShuffle::none;
    if (format & FORMAT_BYTE_ORDER_MSB) {
        // Byte order only has meaning inside a scanline unit.
        constexpr ByteShuffle byUnit[] = {ByteShuffle::none, ByteShuffle::reverse2, ByteShuffle::reverse4,
                                          ByteShuffle::reverse8};
        return byUnit[(format >> FORMAT_UNIT_SHIFT) & 3];
    }
    switch ((format >> FORMAT_PAD_SHIFT) & 3) {
    case 2:
        return ByteShuffle::none;
    case 3:
        return ByteShuffle::halves8;
    default:
        return ByteShuffle::shorts8;
    }
}

uint32_t groupSize(ByteShuffle shuffle)
{
    switch (shuffle) {
    case ByteShuffle::none:
        return 1;
    case ByteShuffle::reverse2:
        return 2;
    case ByteShuffle::reverse4:
        return 4;
    default:
        return 8;
    }
}

// Every shuffle is its own inverse, so the same pass applies and undoes it.
void applyShuffle(uint8_t* data, uint32_t size, ByteShuffle shuffle)
{
    if (shuffle == ByteShuffle::none)
        return;
    const uint32_t group = groupSize(shuffle);
    const uint32_t whole = size - size % group;
    for (uint32_t i = 0; i < whole; i += group) {
        uint8_t* g = data + i;
        switch (shuffle) {
        case ByteShuffle::halves8:
            std::swap_ranges(g, g + 4, g + 4);
            break;
        case ByteShuffle::shorts8:
            std::swap(g[0], g[6]);
            std::swap(g[1], g[7]);
            std::swap(g[2], g[4]);
            std::swap(g[3], g[5]);
            break;
        default:
            std::reverse(g, g + group);
            break;
        }
    }
}

constexpr std::array<uint8_t, 256> makeBitReversal()
{
    std::array<uint8_t, 256> table{};
    for (int value = 0; value < 256; value++) {
        int reversed = 0;
        for (int bit = 0; bit < 8; bit++)
            if (value & (1 << bit))
                reversed |= 0x80 >> bit;
        table[value] = static_cast<uint8_t>(reversed);
    }
    return table;
}

constexpr std::array<uint8_t, 256> BIT_REVERSAL = makeBitReversal();

} // namespace

void convertBitmapLayout(uint8_t* data, uint32_t size, uint32_t from, uint32_t to)
{
    // Undo the byte order the data is in, then make the one asked for: the
    // layout of a format never depends on the formats asked before it.
    const ByteShuffle current = byteShuffle(from), wanted = byteShuffle(to);
    if (current != wanted) {
        applyShuffle(data, size, current);
        applyShuffle(data, size, wanted);
    }
    if ((from ^ to) & FORMAT_BIT_ORDER_MSB)
        for (uint32_t i = 0; i < size; i++)
            data[i] = BIT_REVERSAL[data[i]];
}

namespace {

constexpr int BITMAPS_ITEMS_OFFSET = 16;
constexpr uint32_t BITMAPS_HEADER_SIZE = 20;
constexpr uint32_t OFFSET_ENTRY_SIZE = 8;
// replyOffset of a glyph whose bitmap did not fit this reply: it and every
// later request for it get empty entries.
constexpr int32_t NOT_SENT = -2;

void queryBitmaps(Connection& connection, int width)
{
    const uint32_t count = connection.get32(12);
    if (!checkListLength(connection, BITMAPS_ITEMS_OFFSET, count, width))
        return;
    FontSlot* slot = findFontSlot(connection.get32(4));
    if (!slot) {
        sendError(connection, BAD_FONT);
        return;
    }
    const uint32_t format = connection.get32(8);
    const uint32_t pad = (format >> FORMAT_PAD_SHIFT) & 3;
    // Rows keep the padding the font was opened with, whatever pad is asked.
    if (pad < 2)
        logError("scanline length error! recompile brassel with LOGSLP defined as %d!", static_cast<int>(pad) + 3);
    if (format != slot->bitmapFormat) {
        convertBitmapLayout(slot->bitmaps, slot->bitmapsSize, slot->bitmapFormat, format);
        slot->bitmapFormat = format;
    }

    const CharacterCodes codes(connection, BITMAPS_ITEMS_OFFSET, count, width, slot->info);
    // A reply is never cut short: a list whose offset entries alone do not
    // fit the reply buffer is refused whole.
    const uint64_t entryCount = codes.size();
    const uint64_t dataStart = BITMAPS_HEADER_SIZE + entryCount * OFFSET_ENTRY_SIZE;
    if (dataStart > REPLY_BUFFER_SIZE) {
        sendError(connection, BAD_ALLOC);
        return;
    }
    for (uint32_t g = 0; g < slot->glyphCount; g++)
        slot->glyphMetrics[g].replyOffset = -1;

    // The whole reply goes out in one write: a header and its body in
    // separate small writes would wait on the client's delayed
    // acknowledgement over TCP. Header, offset entries, then the bitmap
    // data; each distinct glyph's bitmap is copied once and shared.
    uint8_t* const reply = connection.replyBuffer;
    uint8_t* const data = reply + dataStart;
    const uint32_t dataRoom = REPLY_BUFFER_SIZE - static_cast<uint32_t>(dataStart);
    ReplyWriter entries(reply + BITMAPS_HEADER_SIZE, entryCount * OFFSET_ENTRY_SIZE);
    uint32_t dataSize = 0;
    codes.forEach([&](uint16_t code) {
        uint16_t unicode = 0;
        GlyphMetrics& m = slot->glyphMetrics[glyphForCode(*slot, code, unicode)];
        const uint32_t size = static_cast<uint32_t>(m.bitmapSize);
        if (m.replyOffset == -1) {
            // A bitmap ending at or past the buffer's end does not fit; the
            // strict bound also leaves room for the final fill.
            if (size >= dataRoom - dataSize) {
                m.replyOffset = NOT_SENT;
            } else {
                std::memcpy(data + dataSize, slot->bitmaps + m.bitmapOffset, size);
                m.replyOffset = static_cast<int32_t>(dataSize);
                dataSize += size;
            }
        }
        const bool sent = m.replyOffset != NOT_SENT;
        entries.put32(sent ? static_cast<uint32_t>(m.replyOffset) : 0);
        entries.put32(sent ? size : 0);
    });
    const uint32_t total = static_cast<uint32_t>(dataStart) + dataSize;
    const uint32_t filled = (total + 3) & ~3u;
    std::memset(reply + total, 0, filled - total);

    ReplyWriter header(reply, BITMAPS_HEADER_SIZE);
    header.header(connection);
    header.put32(0);
    header.put32(static_cast<uint32_t>(entryCount));
    header.put32(dataSize);
    header.set32(4, filled / 4);
    writeBytes(connection, reply, filled);
}

} // namespace

void handleQueryXBitmaps8(Connection& connection)
{
    queryBitmaps(connection, 1);
}

void handleQueryXBitmaps16(Connection& connection)
{
    queryBitmaps(connection, 2);
}

void handleCloseFont(Connection& connection)
{
    FontSlot* slot = findFontSlot(connection.get32(4));
    if (!slot) {
        sendError(connection, BAD_FONT);
        return;
    }
    closeFontSlot(*slot);
}
