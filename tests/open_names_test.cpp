// Reading OpenBitmapFont names: the format hint's row padding, short names
// with their modifiers and matrix completion, the XLFD fields and the stem
// matcher.
#include "encoding/encoding.h"
#include "protocol/protocol_open.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>

namespace {

using Matrix = std::array<int32_t, 4>;

Matrix pixels(const FontParams& params)
{
    return {params.pixelMatrix[0], params.pixelMatrix[1], params.pixelMatrix[2], params.pixelMatrix[3]};
}

Matrix points(const FontParams& params)
{
    return {params.pointMatrix[0], params.pointMatrix[1], params.pointMatrix[2], params.pointMatrix[3]};
}

TEST(FormatHint, ChoosesScanlinePad)
{
    struct Case {
        uint32_t hint;
        int32_t pad;
    } cases[] = {
        {0x0000, 0}, {0x0100, 1}, {0x0200, 2}, {0x0300, 3}, {0x2203, 2},
        // Image-rectangle bits ask for rows as wide as the widest glyph.
        {0x0204, ~2}, {0x0008, ~0}, {0x030C, ~3},
    };
    for (const Case& c : cases)
        EXPECT_EQ(scanlinePadFromHint(c.hint), c.pad) << std::hex << c.hint;
}

struct ShortCase {
    const char* name;
    bool accepted;
    std::string fontName;
    Matrix pixel;
    Matrix point;
    int32_t resolutionX, resolutionY, flags;
};

// The connection state every case starts from: 75 by 80 dpi, 11 points.
constexpr int START_X = 75, START_Y = 80, START_POINTS = 11;

TEST(ShortName, ModifiersAndMatrixCompletion)
{
    const ShortCase cases[] = {
        {"TTp16_Arial", true, "Arial", {16, 16, 0, 0}, {11, 11, 0, 0}, 75, 80, 0},
        {"tTm12r100_Arial", true, "Arial", {0, 0, 0, 0}, {12, 12, 0, 0}, 100, 100, 0},
        {"TT_Arial", true, "Arial", {0, 0, 0, 0}, {11, 11, 0, 0}, 75, 80, 0},
        {"TTp10p12_X", true, "X", {10, 12, 0, 0}, {11, 11, 0, 0}, 75, 80, 0},
        {"TTp10p12p3_Arial", true, "Arial", {10, 12, 3, -3}, {11, 11, 0, 0}, 75, 80, 0},
        {"TTp10p12p3p4p99_A", true, "A", {10, 12, 3, 4}, {11, 11, 0, 0}, 75, 80, 0},
        {"TTm10m12m-3_A", true, "A", {0, 0, 0, 0}, {10, 12, -3, 3}, 75, 80, 0},
        {"TTM9P-8_A", true, "A", {-8, -8, 0, 0}, {9, 9, 0, 0}, 75, 80, 0},
        {"TTr100r120r5_A", true, "A", {0, 0, 0, 0}, {11, 11, 0, 0}, 100, 120, 0},
        {"TTf3f-7_A", true, "A", {0, 0, 0, 0}, {11, 11, 0, 0}, 75, 80, -7},
        // A letter without digits counts as a 0 element.
        {"TTpp20_A", true, "A", {0, 20, 0, 0}, {11, 11, 0, 0}, 75, 80, 0},
        // Digits past 32 bits saturate instead of wrapping.
        {"TTp99999999999_A", true, "A", {INT32_MAX, INT32_MAX, 0, 0}, {11, 11, 0, 0}, 75, 80, 0},
        // The rest after the first "_" is the name, whatever it holds.
        {"TTp8_Dejavu_Sans-x", true, "Dejavu_Sans-x", {8, 8, 0, 0}, {11, 11, 0, 0}, 75, 80, 0},
        {"TTp16_", true, "", {16, 16, 0, 0}, {11, 11, 0, 0}, 75, 80, 0},
        // Listing names ("TTUP...") and other letters are no short names.
        {"TTUP16_Arial", false, "", {}, {}, 0, 0, 0},
        {"TTp16", false, "", {}, {}, 0, 0, 0},
        {"TT", false, "", {}, {}, 0, 0, 0},
        {"T", false, "", {}, {}, 0, 0, 0},
        {"Tx_Arial", false, "", {}, {}, 0, 0, 0},
        {"-ttf-arial", false, "", {}, {}, 0, 0, 0},
    };
    for (const ShortCase& c : cases) {
        SCOPED_TRACE(c.name);
        FontParams params = startingParams(START_X, START_Y, START_POINTS);
        std::string_view fontName;
        ASSERT_EQ(parseShortName(c.name, params, fontName), c.accepted);
        if (!c.accepted)
            continue;
        EXPECT_EQ(fontName, c.fontName);
        EXPECT_EQ(pixels(params), c.pixel);
        EXPECT_EQ(points(params), c.point);
        EXPECT_EQ(params.resolutionX, c.resolutionX);
        EXPECT_EQ(params.resolutionY, c.resolutionY);
        EXPECT_EQ(params.renderFlags, c.flags);
    }
}

struct XlfdCase {
    const char* name;
    std::string matched; // the lowered name cut for matching
    Matrix pixel;
    Matrix point;
    int32_t resolutionX, resolutionY;
    const char* encoding; // null: none named that is known
};

TEST(XlfdName, FieldsCutAndCharacterSet)
{
    const XlfdCase cases[] = {
        {"-ttf-arial-medium-r-normal-regular-12-120-75-75-p-0-iso8859-1", "-ttf-arial-medium-r-normal-regular-",
         {12, 12, 0, 0}, {12, 12, 0, 0}, 75, 75, "iso8859-1"},
        {"-*-ARIAL-*-*-*-*-*-*-*-*-*-*-ISO10646-1", "-*-arial-*-*-*-*-", {0, 0, 0, 0}, {0, 0, 0, 0}, 0, 0,
         "iso10646-1"},
        {"-*-arial-*-*-*-*-0-0-0-0-p-0-koi8-u", "-*-arial-*-*-*-*-", {0, 0, 0, 0}, {0, 0, 0, 0}, 0, 0, "koi8-u"},
        {"-*-arial-*-*-*-*-0-0-0-0-p-0-nonsense-x", "-*-arial-*-*-*-*-", {0, 0, 0, 0}, {0, 0, 0, 0}, 0, 0, nullptr},
        // Point sizes are tenths, the remainder dropped.
        {"-a-b-c-d-e-f-17-125-100-120-m-0-koi8-r", "-a-b-c-d-e-f-", {17, 17, 0, 0}, {12, 12, 0, 0}, 100, 120,
         "koi8-r"},
        // Fields the name does not reach keep the connection's values.
        {"-*", "-*", {0, 0, 0, 0}, {11, 11, 0, 0}, 75, 80, nullptr},
        {"-a-b-c-d-e-f-20-", "-a-b-c-d-e-f-", {20, 20, 0, 0}, {0, 0, 0, 0}, 75, 80, nullptr},
        // Anything after the character set makes it unknown.
        {"-a-b-c-d-e-f-1-2-3-4-5-6-iso8859-1-x", "-a-b-c-d-e-f-", {1, 1, 0, 0}, {0, 0, 0, 0}, 3, 4, nullptr},
        {"-a-b-c-d-e-f-99999999999-0-0-0-p-0-iso8859-1", "-a-b-c-d-e-f-", {INT32_MAX, INT32_MAX, 0, 0},
         {0, 0, 0, 0}, 0, 0, "iso8859-1"},
    };
    for (const XlfdCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string name = c.name;
        FontParams params = startingParams(START_X, START_Y, START_POINTS);
        const XlfdRequest request = readXlfdName(name.data(), name.size(), params);
        EXPECT_EQ(name.substr(0, request.matchLength), c.matched);
        EXPECT_EQ(pixels(params), c.pixel);
        EXPECT_EQ(points(params), c.point);
        EXPECT_EQ(params.resolutionX, c.resolutionX);
        EXPECT_EQ(params.resolutionY, c.resolutionY);
        if (c.encoding) {
            ASSERT_NE(request.encoding, nullptr);
            EXPECT_EQ(request.encoding->name, c.encoding);
        } else {
            EXPECT_EQ(request.encoding, nullptr);
        }
    }
}

TEST(XlfdName, LowersOnlyAsciiLettersInPlace)
{
    std::string name = "-BitStream-DéJàVu SANS-\xC9-R";
    FontParams params = startingParams(START_X, START_Y, START_POINTS);
    readXlfdName(name.data(), name.size(), params);
    EXPECT_EQ(name, "-bitstream-déjàvu sans-\xC9-r");
}

TEST(StemMatch, WildcardsWithoutBacktracking)
{
    const std::string stem = "-ttf-arial-medium-r-normal-regular-";
    struct Case {
        const char* pattern;
        bool matches;
    } cases[] = {
        {"-ttf-arial-medium-r-normal-regular-", true},
        {"-*-arial-*-*-*-*-", true},
        {"-*", true},
        {"*", true},
        {"", false},
        {"-*-", false},           // "*" stops at the first "-": the stem goes on
        {"-*-arial-*-*-*-*", true}, // a final "*" takes the rest
        {"-**-arial-***-*-*-*-", true},
        {"-ttf-arial-medium-r-normal--", false}, // empty style field
        {"-*-helvetica-*-*-*-*-", false},
        {"-*-arial-*-*-*-*-x", false},
        {"-ttf-arial-medium-r-normal-regular", false},
        {"-ttf-arial-medium-r-normal-regular--", false},
        // Shortest run only: "*l" stops at the "l" of "arial", never tries
        // the one in "normal".
        {"-ttf-*l-medium-r-normal-regular-", true},
        {"-ttf-*al-medium-r-normal-regular-", false},
        {"-ttf-ari*-medium-*-normal-regular-", true},
        {"-TTF-arial-medium-r-normal-regular-", false}, // the caller lowers
    };
    for (const Case& c : cases)
        EXPECT_EQ(stemMatches(c.pattern, stem), c.matches) << c.pattern;
}

} // namespace
