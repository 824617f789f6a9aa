// ListFonts and ListFontsWithXInfo.
//
// The database stores only the first six XLFD fields of each font (its
// stem); the listing makes up the other eight: every font is scalable
// (sizes 0), the spacing comes from the PANOSE proportion byte, and a font
// whose character set the client left open is offered once per active
// encoding.
#include "protocol/protocol_listing.h"

#include <cstdio>
#include <cstring>

#include "database/database.h"
#include "encoding/encoding.h"
#include "protocol/connection.h"
#include "protocol/handlers.h"

namespace {

// One name being built. A length byte cannot describe 256 characters or
// more, so a longer name is marked and never sent.
class FontName {
public:
    void put(char c)
    {
        if (size < sizeof text)
            text[size] = c;
        size++;
    }
    void put(std::string_view part)
    {
        for (char c : part)
            put(c);
    }
    bool fits() const { return size <= 255; }
    bool endsWith(std::string_view tail) const
    {
        return fits() && size >= tail.size() && std::string_view(text + size - tail.size(), tail.size()) == tail;
    }
    void drop(size_t count) { size -= count; }
    std::string_view view() const { return std::string_view(text, size); }

private:
    char text[255];
    size_t size = 0;
};

class NameList {
public:
    NameList(uint8_t* names, uint32_t maxNames) : names(names), maxNames(maxNames) {}
    bool hasRoom() const { return result.count < maxNames && result.length < LISTING_BYTE_LIMIT; }
    void add(const FontName& name)
    {
        if (!name.fits())
            return;
        std::string_view text = name.view();
        names[result.length] = static_cast<uint8_t>(text.size());
        std::memcpy(names + result.length + 1, text.data(), text.size());
        result.length += 1 + static_cast<uint32_t>(text.size());
        result.count++;
    }
    ListingResult result{0, 0};

private:
    uint8_t* names;
    uint32_t maxNames;
};

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Matches the pattern's first six fields against the stem and builds the
// name: matched characters in the pattern's own case, a "*" standing for
// part of one stem field; from the seventh "-" on the pattern is copied
// through its fourteenth field with each "*" made "0" (or the spacing
// character in the spacing field). Sets perEncoding when both character-set
// fields were left open, so the caller appends each active encoding.
bool matchStem(std::string_view pattern, const DatabaseEntry& entry, FontName& name, bool& perEncoding)
{
    std::string_view stem = entry.names.stem;
    auto patternAt = [&](size_t i) { return i < pattern.size() ? pattern[i] : '\0'; };
    auto stemAt = [&](size_t i) { return i < stem.size() ? stem[i] : '\0'; };

    size_t p = 0, s = 0;
    int dashes = 0;
    for (;;) {
        char c = patternAt(p);
        if (c == '-' && dashes == 6)
            break;
        if (c == '\0')
            return false;
        if (lower(c) == stemAt(s)) {
            name.put(c);
            p++;
            s++;
            if (c == '-')
                dashes++;
        } else if (c == '*') {
            while (stemAt(s) != '-' && stemAt(s) != '\0')
                name.put(stem[s++]);
            p++;
        } else {
            return false;
        }
    }

    name.put('-');
    dashes++;
    for (p++; p < pattern.size(); p++) {
        char c = pattern[p];
        if (c == '-') {
            if (++dashes == 15)
                break;
            name.put('-');
        } else if (c == '*') {
            name.put(dashes == 11 && pattern[p - 1] == '-' ? spacingOf(entry.info) : '0');
        } else {
            name.put(c);
        }
    }
    perEncoding = dashes >= 14 && name.endsWith("-0-0");
    if (perEncoding)
        name.drop(3);
    return true;
}

// The listing's extra names: "TTUP", the PANOSE bytes in hexadecimal, "0_"
// and the font name, which the open request's short-name syntax accepts.
void addPanoseNames(NameList& list)
{
    DatabaseWalk walk;
    DatabaseEntry entry;
    while (list.hasRoom() && walk.next(entry)) {
        FontName name;
        name.put("TT");
        name.put(static_cast<char>(entry.info.marker & 0xFF));
        name.put('P');
        for (uint8_t byte : entry.info.panose) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02X", byte);
            name.put(std::string_view(hex, 2));
        }
        name.put("0_");
        name.put(entry.names.name);
        list.add(name);
    }
}

}  // namespace

ListingResult listFontNames(std::string_view pattern, uint32_t maxNames, uint8_t* names)
{
    // The pattern ends at its first zero byte, as any C string would.
    pattern = pattern.substr(0, pattern.find('\0'));
    const bool allFonts = (!pattern.empty() && pattern[0] == '*') || pattern == "-*";

    NameList list(names, maxNames);
    DatabaseWalk walk;
    DatabaseEntry entry;
    bool haveRecord = walk.next(entry);
    int index = 0;
    while (haveRecord && list.hasRoom()) {
        FontName name;
        bool perEncoding = true;
        if (allFonts) {
            name.put(entry.names.stem);
            name.put("0-0-0-0-");
            name.put(spacingOf(entry.info));
            name.put("-0-");
        } else if (!matchStem(pattern, entry, name, perEncoding)) {
            haveRecord = walk.next(entry);
            continue;
        }
        if (perEncoding) {
            const Encoding* encoding = activeEncoding(index);
            if (!encoding) {
                index = 0;
                haveRecord = walk.next(entry);
                continue;
            }
            name.put(encoding->name);
            if (!activeEncoding(++index)) {
                index = 0;
                haveRecord = walk.next(entry);
            }
        } else {
            haveRecord = walk.next(entry);
        }
        list.add(name);
    }

    if (pattern == "*")
        addPanoseNames(list);
    return list.result;
}

void handleListFonts(Connection& connection)
{
    const uint16_t patternLength = connection.get16(8);
    if (!checkRequestLength(connection, 12 + patternLength))
        return;
    const uint32_t maxNames = connection.get32(4);
    std::string_view pattern(reinterpret_cast<const char*>(connection.requestBuffer) + 12, patternLength);

    ListingResult listing{0, 0};
    if (connection.replyBuffer)
        listing = listFontNames(pattern, maxNames, connection.replyBuffer);
    // The fill after the names is not part of any name; zero it rather than
    // send whatever an earlier reply left there.
    const uint32_t padded = (listing.length + 3) & ~3u;
    if (connection.replyBuffer)
        std::memset(connection.replyBuffer + listing.length, 0, padded - listing.length);

    uint8_t header[16];
    ReplyWriter reply(header, sizeof header);
    reply.header(connection);
    reply.put32(0);
    reply.put32(listing.count);
    reply.finish(connection, padded / 4);
    writeBytes(connection, connection.replyBuffer, padded);
}

void handleListFontsWithXInfo(Connection& connection)
{
    sendError(connection, BAD_IMPLEMENTATION);
}

char spacingOf(const InfoRecord& info)
{
    return info.panose[3] == 9 ? 'm' : 'p';
}
