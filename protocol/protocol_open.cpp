// OpenBitmapFont: the format hint's row padding, the short-name and XLFD
// readings of the font name, the choice of the font file from the database
// and the open of the font instance under the client's id.
#include "protocol/protocol_open.h"

#include <climits>
#include <cstdint>
#include <string>
#include <unistd.h>

#include "database/database.h"
#include "encoding/encoding.h"
#include "protocol/connection.h"
#include "protocol/handlers.h"
#include "protocol/protocol_bitmaps.h"
#include "protocol/protocol_listing.h"
#include "raster/raster.h"
#include "server/settings.h"

namespace {

// Font names are protocol bytes, not text in the process's locale: only
// ASCII letters change case.
char lowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The decimal digits at `position`, advancing past them; 0 when there are
// none. A hostile run of digits saturates instead of overflowing.
int32_t readNumber(std::string_view text, size_t& position)
{
    int64_t value = 0;
    for (; position < text.size() && isDigit(text[position]); position++) {
        value = value * 10 + (text[position] - '0');
        if (value > INT32_MAX)
            value = INT32_MAX;
    }
    return static_cast<int32_t>(value);
}

// Fills the elements of a size matrix that its modifiers left out: one
// value means a square size without shear, three mean a rotation-like
// matrix whose last element mirrors the third.
void completeMatrix(int32_t matrix[4], int given)
{
    switch (given) {
    case 0:
    case 1:
        matrix[1] = matrix[0];
        matrix[2] = matrix[3] = 0;
        break;
    case 2:
        matrix[2] = matrix[3] = 0;
        break;
    case 3:
        matrix[3] = -matrix[2];
        break;
    default:
        break;
    }
}

} // namespace

int32_t scanlinePadFromHint(uint32_t formatHint)
{
    const int32_t pad = static_cast<int32_t>((formatHint >> 8) & 3);
    return (formatHint & 0xC) != 0 ? ~pad : pad;
}

FontParams startingParams(int resolutionX, int resolutionY, int defaultPointSize)
{
    FontParams params{};
    params.pointMatrix[0] = params.pointMatrix[1] = defaultPointSize;
    params.resolutionX = resolutionX;
    params.resolutionY = resolutionY;
    return params;
}

bool parseShortName(std::string_view name, FontParams& params, std::string_view& fontName)
{
    if (name.size() < 2 || lowerAscii(name[0]) != 't' || lowerAscii(name[1]) != 't')
        return false;
    int pixels = 0, points = 0, resolutions = 0;
    size_t position = 2;
    for (;;) {
        if (position >= name.size())
            return false;
        const char letter = lowerAscii(name[position++]);
        if (letter == '_')
            break;
        const bool negative = position < name.size() && name[position] == '-';
        if (negative)
            position++;
        const int32_t magnitude = readNumber(name, position);
        const int32_t value = negative ? -magnitude : magnitude;
        switch (letter) {
        case 'p':
            if (pixels < 4)
                params.pixelMatrix[pixels++] = value;
            break;
        case 'm':
            if (points < 4)
                params.pointMatrix[points++] = value;
            break;
        case 'r':
            if (resolutions == 0)
                params.resolutionX = value;
            else if (resolutions == 1)
                params.resolutionY = value;
            if (resolutions < 2)
                resolutions++;
            break;
        case 'f':
            params.renderFlags = value;
            break;
        default:
            return false;
        }
    }
    completeMatrix(params.pointMatrix, points);
    completeMatrix(params.pixelMatrix, pixels);
    if (resolutions == 1)
        params.resolutionY = params.resolutionX;
    fontName = name.substr(position);
    return true;
}

XlfdRequest readXlfdName(char* name, size_t length, FontParams& params)
{
    for (size_t i = 0; i < length; i++)
        name[i] = lowerAscii(name[i]);
    const std::string_view text(name, length);
    XlfdRequest request{length, nullptr};
    int dashes = 0;
    for (size_t i = 0; i < length; i++) {
        if (text[i] != '-')
            continue;
        dashes++;
        size_t field = i + 1;
        switch (dashes) {
        case 7:
            params.pixelMatrix[0] = params.pixelMatrix[1] = readNumber(text, field);
            request.matchLength = i + 1;
            break;
        case 8:
            params.pointMatrix[0] = params.pointMatrix[1] = readNumber(text, field) / 10;
            break;
        case 9:
            params.resolutionX = readNumber(text, field);
            break;
        case 10:
            params.resolutionY = readNumber(text, field);
            break;
        case 13:
            request.encoding = findEncoding(text.substr(field));
            break;
        default:
            break;
        }
    }
    return request;
}

bool stemMatches(std::string_view pattern, std::string_view stem)
{
    size_t position = 0;
    for (size_t p = 0; p < pattern.size(); p++) {
        if (pattern[p] == '*') {
            // A run of stars is one star: each would otherwise demand a
            // literal "*" from a stem, which no stem holds.
            while (p + 1 < pattern.size() && pattern[p + 1] == '*')
                p++;
            if (p + 1 == pattern.size())
                return true;
            position = stem.find(pattern[p + 1], position);
            if (position == std::string_view::npos)
                return false;
            continue;
        }
        if (position >= stem.size() || stem[position] != pattern[p])
            return false;
        position++;
    }
    return position == stem.size();
}

namespace {

constexpr int NAME_LENGTH_OFFSET = 16;
constexpr int NAME_OFFSET = 17;

bool fitsSixteenBits(int32_t value)
{
    return value >= INT16_MIN && value <= INT16_MAX;
}

// An instance is served only when what a client reads of it is true: every
// extent fits its 16-bit field, and the bitmaps of its whole character
// range fit the one reply in which an X server asks for them.
bool servable(const FontSlot& slot)
{
    const FontMetrics& f = slot.fontMetrics;
    for (int32_t value : {f.minLeftBearing, f.maxLeftBearing, f.minRightBearing, f.maxRightBearing, f.minAscent,
                          f.maxAscent, f.minDescent, f.maxDescent, f.minAdvance, f.maxAdvance, f.fontAscent,
                          f.fontDescent})
        if (!fitsSixteenBits(value))
            return false;
    return rangeFitsOneBitmapReply(slot);
}

// The stem completed with a size, the resolution, the spacing and the
// character set.
std::string fullName(std::string_view stem, int32_t pixels, int64_t decipoints, const FontParams& params,
                     char spacing, const Encoding& encoding)
{
    return std::string(stem) + std::to_string(pixels) + "-" + std::to_string(decipoints) + "-" +
           std::to_string(params.resolutionX) + "-" + std::to_string(params.resolutionY) + "-" + spacing + "-0-" +
           encoding.name;
}

// The FONT property of an instance: an X server that lost its connection
// reopens the font under this name, and must get the same instance back.
// An XLFD name carries one pixel size, or a point size that the resolution
// turns into pixels, so it serves every square unsheared size; the other
// sizes only a short name can ask for, and that name is kept.
std::string fontPropertyName(const DatabaseEntry& entry, const FontParams& params, bool sizedByPoints,
                             const Encoding& encoding, std::string_view requestedName)
{
    const int32_t* pixels = params.pixelMatrix;
    const int32_t* points = params.pointMatrix;
    const char spacing = spacingOf(entry.info);
    std::string name;
    if (params.resolutionX > 0 && params.resolutionY > 0) {
        if (pixels[0] > 0 && pixels[0] == pixels[1] && pixels[2] == 0 && pixels[3] == 0) {
            const int64_t decipoints = (int64_t(pixels[0]) * 720 + params.resolutionY / 2) / params.resolutionY;
            name = fullName(entry.names.stem, pixels[0], decipoints, params, spacing, encoding);
        } else if (sizedByPoints && points[0] > 0 && points[0] == points[1] && points[2] == 0 && points[3] == 0) {
            name = fullName(entry.names.stem, 0, int64_t(points[0]) * 10, params, spacing, encoding);
        }
    }
    // An open request carries at most 255 bytes of name.
    if (name.empty() || name.size() > 255)
        name = requestedName;
    return name;
}

// Opens the font file of a database entry under the request's font id.
bool openEntry(Connection& connection, const DatabaseEntry& entry, FontParams& params, const Encoding* encoding,
               std::string_view requestedName)
{
    // Stored paths are relative to the font directory. Should it have gone,
    // the open below fails by itself, so the result needs no check.
    [[maybe_unused]] const int changed = enterFontDirectory();
    const int32_t* pixels = params.pixelMatrix;
    const bool sizedByPoints = !pixels[0] && !pixels[1] && !pixels[2] && !pixels[3];
    auto* font = new TrueTypeFont(entry.names.path.data(), false);
    FontSlot* slot = openFontSlot(font, params, *connection.rasterizer, connection.get32(4), encoding);
    if (!slot)
        return false;
    if (!servable(*slot)) {
        closeFontSlot(*slot);
        return false;
    }
    slot->fontName = fontPropertyName(entry, params, sizedByPoints, *encoding, requestedName);
    return true;
}

bool openShortName(Connection& connection, std::string_view name, FontParams params)
{
    std::string_view fontName;
    if (!parseShortName(name, params, fontName) || !databaseHasRecords())
        return false;
    DatabaseWalk walk;
    DatabaseEntry entry;
    while (walk.next(entry))
        if (entry.names.name == fontName)
            return openEntry(connection, entry, params, activeEncoding(0), name);
    return false;
}

bool openXlfdName(Connection& connection, char* name, size_t length, FontParams params)
{
    if (length == 0 || name[0] != '-')
        return false;
    const XlfdRequest request = readXlfdName(name, length, params);
    const Encoding* encoding = request.encoding ? request.encoding : activeEncoding(0);
    if (!databaseHasRecords())
        return false;
    const std::string_view pattern(name, request.matchLength);
    DatabaseWalk walk;
    DatabaseEntry entry;
    // Only the first matching font is tried: a name that leads to a broken
    // file fails rather than opening some other font.
    while (walk.next(entry))
        if (stemMatches(pattern, entry.names.stem))
            return openEntry(connection, entry, params, encoding, std::string_view(name, length));
    return false;
}

} // namespace

void handleOpenBitmapFont(Connection& connection)
{
    // The padding applies to the glyphs this request renders, whether or
    // not the open succeeds.
    connection.rasterizer->scanlinePad = scanlinePadFromHint(connection.get32(12));

    // The name lies well inside the request buffer whatever its length
    // byte says; it is terminated there so that it reads as one string.
    const size_t length = connection.get8(NAME_LENGTH_OFFSET);
    char* name = reinterpret_cast<char*>(connection.requestBuffer + NAME_OFFSET);
    name[length] = 0;
    const FontParams params =
        startingParams(connection.resolutionX, connection.resolutionY, connection.defaultPointSize);
    if (!openShortName(connection, std::string_view(name, length), params) &&
        !openXlfdName(connection, name, length, params)) {
        sendError(connection, BAD_NAME);
        return;
    }

    uint8_t bytes[16];
    ReplyWriter reply(bytes, sizeof bytes);
    reply.header(connection);
    reply.put32(0); // no other id already holds this font
    reply.put8(1);
    reply.finish(connection);
}
