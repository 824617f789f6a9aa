// QueryXInfo and QueryXExtents8/16: font-wide information and per-character
// extents, all read from what the open stored in the font's slot.
#include "protocol/protocol_info.h"

#include "encoding/encoding.h"
#include "protocol/connection.h"
#include "protocol/handlers.h"

namespace {

constexpr int EXTENTS_ITEMS_OFFSET = 12;
constexpr uint32_t EXTENTS_HEADER_SIZE = 12;
constexpr uint32_t EXTENT_ENTRY_SIZE = 12;
// Font flags of every font: ink inside the glyph boxes and horizontal
// overlap possible; not every character of the range exists.
constexpr uint32_t FONT_FLAGS = 6;

// Character fields of the info reply go high byte first whatever the byte
// order of the rest.
void putCharacter(ReplyWriter& reply, uint16_t code)
{
    reply.put8(static_cast<uint8_t>(code >> 8));
    reply.put8(static_cast<uint8_t>(code));
}

// Each slot value is sent as its low 16 bits.
void put16Of(ReplyWriter& reply, int32_t value)
{
    reply.put16(static_cast<uint16_t>(value));
}

void queryExtents(Connection& connection, int width)
{
    const uint32_t count = connection.get32(8);
    if (!checkListLength(connection, EXTENTS_ITEMS_OFFSET, count, width))
        return;
    const FontSlot* slot = findFontSlot(connection.get32(4));
    if (!slot) {
        sendError(connection, BAD_FONT);
        return;
    }
    const CharacterCodes codes(connection, EXTENTS_ITEMS_OFFSET, count, width, slot->info);
    // Ranges can name millions of codes; a reply is never cut short, so a
    // request whose entries do not fit the reply buffer is refused whole.
    const uint64_t entryCount = codes.size();
    if (EXTENTS_HEADER_SIZE + entryCount * EXTENT_ENTRY_SIZE > REPLY_BUFFER_SIZE) {
        sendError(connection, BAD_ALLOC);
        return;
    }

    // Header and entries go out in one write: in separate small writes the
    // entries would wait on the client's delayed acknowledgement over TCP.
    ReplyWriter reply(connection.replyBuffer, REPLY_BUFFER_SIZE);
    reply.header(connection);
    reply.put32(static_cast<uint32_t>(entryCount));
    codes.forEach([&](uint16_t code) {
        uint16_t unicode = 0;
        const uint32_t glyph = glyphForCode(*slot, code, unicode);
        // Codes without a glyph get empty extents; glyph 0 keeps its own
        // only when the code stands for the font's first character.
        if (glyph == 0 && unicode != slot->info.firstChar) {
            for (uint32_t i = 0; i < EXTENT_ENTRY_SIZE / 2; i++)
                reply.put16(0);
            return;
        }
        const GlyphMetrics& m = slot->glyphMetrics[glyph];
        put16Of(reply, -m.originX);
        put16Of(reply, m.width - m.originX);
        put16Of(reply, m.advance);
        put16Of(reply, m.height - m.originY);
        put16Of(reply, m.originY);
        put16Of(reply, m.verticalAdvance);
    });
    reply.finish(connection);
}

} // namespace

bool checkListLength(Connection& connection, int itemsOffset, uint32_t count, int width)
{
    // A count near 2^32 must not wrap into a small length.
    const uint64_t needed = itemsOffset + uint64_t(count) * uint64_t(width);
    return checkRequestLength(connection, needed > INT32_MAX ? INT32_MAX : static_cast<int>(needed));
}

CharacterCodes::CharacterCodes(const Connection& connection, int itemsOffset, uint32_t count, int width,
                               const FontInfo& info)
    : items(connection.requestBuffer + itemsOffset), count(count), width(width), ranges(connection.detail() != 0),
      firstChar(info.firstChar), lastChar(info.lastChar)
{
}

uint16_t CharacterCodes::item(uint32_t index) const
{
    if (width == 1)
        return items[index];
    return static_cast<uint16_t>(items[2 * index] << 8 | items[2 * index + 1]);
}

uint32_t CharacterCodes::pairCount() const
{
    return count == 0 ? 1 : (count + 1) / 2;
}

uint16_t CharacterCodes::pairLow(uint32_t pair) const
{
    return count == 0 ? firstChar : item(2 * pair);
}

uint16_t CharacterCodes::pairHigh(uint32_t pair) const
{
    return count == 0 || 2 * pair + 1 >= count ? lastChar : item(2 * pair + 1);
}

uint64_t CharacterCodes::size() const
{
    if (!ranges)
        return count;
    uint64_t total = 0;
    for (uint32_t pair = 0; pair < pairCount(); pair++)
        if (pairLow(pair) <= pairHigh(pair))
            total += pairHigh(pair) - pairLow(pair) + 1u;
    return total;
}

uint32_t glyphForCode(const FontSlot& slot, uint16_t code, uint16_t& unicode)
{
    unicode = slot.encoding->toUnicode(code);
    const uint32_t glyph = slot.font->getGlyphNo(unicode);
    return glyph < slot.glyphCount ? glyph : 0;
}

void handleQueryXInfo(Connection& connection)
{
    const FontSlot* slot = findFontSlot(connection.get32(4));
    if (!slot) {
        sendError(connection, BAD_FONT);
        return;
    }
    const FontMetrics& f = slot->fontMetrics;
    // 76 fixed bytes, "FONT", a name of at most 255 bytes and the fill.
    uint8_t bytes[340];
    ReplyWriter reply(bytes, sizeof bytes);
    reply.header(connection);
    reply.put32(FONT_FLAGS);
    putCharacter(reply, slot->info.firstChar);
    putCharacter(reply, slot->info.lastChar);
    reply.put8(0); // drawn left to right
    reply.put8(0);
    putCharacter(reply, slot->info.firstChar); // the default character
    for (int32_t value : {f.minLeftBearing, f.minRightBearing, f.minAdvance, f.minAscent, f.minDescent, 0,
                          f.maxLeftBearing, f.maxRightBearing, f.maxAdvance, f.maxAscent, f.maxDescent, 0,
                          f.fontAscent, f.fontDescent})
        put16Of(reply, value);
    // One property, FONT, whose value is the font's full name: clients show
    // it as the font's name, and an X server that lost its connection opens
    // the font again under it.
    const std::string_view name = slot->fontName;
    const uint32_t stringBytes = 4 + static_cast<uint32_t>(name.size());
    reply.put32(1);
    reply.put32(stringBytes);
    reply.put32(0);
    reply.put32(4);
    reply.put32(4);
    reply.put32(stringBytes - 4);
    reply.put8(0); // a string property
    reply.pad();
    reply.putBytes("FONT", 4);
    reply.putBytes(name.data(), name.size());
    reply.finish(connection);
}

void handleQueryXExtents8(Connection& connection)
{
    queryExtents(connection, 1);
}

void handleQueryXExtents16(Connection& connection)
{
    queryExtents(connection, 2);
}
