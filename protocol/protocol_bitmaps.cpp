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
constexpr uint64_t BITMAPS_HEADER_SIZE = 20;
constexpr uint64_t OFFSET_ENTRY_SIZE = 8;

// Bytes of a bitmap reply with `entries` offset entries and `data` bytes of
// bitmaps, its final fill included.
uint64_t bitmapReplySize(uint64_t entries, uint64_t data)
{
    return (BITMAPS_HEADER_SIZE + entries * OFFSET_ENTRY_SIZE + data + 3) & ~uint64_t(3);
}

const GlyphMetrics& metricsForCode(const FontSlot& slot, uint16_t code)
{
    uint16_t unicode = 0;
    return slot.glyphMetrics[glyphForCode(slot, code, unicode)];
}

// Collects a reply in the connection's reply buffer and writes it out
// whenever the buffer is full, so that a reply may be far larger than the
// buffer while one that fits still goes out in a single write.
class ReplyStream {
public:
    ReplyStream(Connection& connection, size_t used) : connection(connection), used(used) {}

    void put(const uint8_t* bytes, size_t count)
    {
        while (count > 0) {
            const size_t part = std::min(count, size_t(REPLY_BUFFER_SIZE) - used);
            std::memcpy(connection.replyBuffer + used, bytes, part);
            used += part;
            bytes += part;
            count -= part;
            if (used == size_t(REPLY_BUFFER_SIZE))
                flush();
        }
    }

    void flush()
    {
        writeBytes(connection, connection.replyBuffer, used);
        used = 0;
    }

private:
    Connection& connection;
    size_t used;
};

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

    // Every entry gets its own copy of its bitmap, a glyph named by several
    // codes included: the X servers' font-service client copies the bitmap
    // of each character one after another into a block as large as the
    // reply's bitmap data, so data shared between entries would overrun it.
    // A reply is never cut short and never carries a character without its
    // bitmap: a list whose offset entries do not fit the reply buffer, or
    // whose reply would be longer than a client accepts, is refused whole.
    const CharacterCodes codes(connection, BITMAPS_ITEMS_OFFSET, count, width, slot->info);
    const uint64_t entryCount = codes.size();
    const uint64_t dataStart = BITMAPS_HEADER_SIZE + entryCount * OFFSET_ENTRY_SIZE;
    if (dataStart > REPLY_BUFFER_SIZE) {
        sendError(connection, BAD_ALLOC);
        return;
    }
    uint8_t* const reply = connection.replyBuffer;
    ReplyWriter entries(reply + BITMAPS_HEADER_SIZE, entryCount * OFFSET_ENTRY_SIZE);
    uint64_t dataSize = 0;
    codes.forEach([&](uint16_t code) {
        const uint32_t size = static_cast<uint32_t>(metricsForCode(*slot, code).bitmapSize);
        entries.put32(static_cast<uint32_t>(dataSize));
        entries.put32(size);
        dataSize += size;
    });
    const uint64_t total = bitmapReplySize(entryCount, dataSize);
    if (total > BITMAP_REPLY_LIMIT) {
        sendError(connection, BAD_ALLOC);
        return;
    }

    ReplyWriter header(reply, BITMAPS_HEADER_SIZE);
    header.header(connection);
    header.put32(0);
    header.put32(static_cast<uint32_t>(entryCount));
    header.put32(static_cast<uint32_t>(dataSize));
    header.set32(4, static_cast<uint32_t>(total / 4));

    // Header, offset entries, then the bitmap data and its fill; small
    // replies leave in one write, so that no part waits on the client's
    // delayed acknowledgement of another over TCP.
    ReplyStream stream(connection, dataStart);
    codes.forEach([&](uint16_t code) {
        const GlyphMetrics& m = metricsForCode(*slot, code);
        stream.put(slot->bitmaps + m.bitmapOffset, static_cast<uint32_t>(m.bitmapSize));
    });
    constexpr uint8_t fill[3] = {};
    stream.put(fill, total - dataStart - dataSize);
    stream.flush();
}

} // namespace

bool rangeFitsOneBitmapReply(const FontSlot& slot)
{
    uint64_t dataSize = 0;
    for (uint32_t code = slot.info.firstChar; code <= slot.info.lastChar; code++)
        dataSize += static_cast<uint32_t>(metricsForCode(slot, static_cast<uint16_t>(code)).bitmapSize);
    const uint64_t entries = slot.info.lastChar >= slot.info.firstChar ? slot.info.lastChar - slot.info.firstChar + 1u : 0;
    return bitmapReplySize(entries, dataSize) <= BITMAP_REPLY_LIMIT;
}

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
