// The in-place conversion of a font's bitmap data between the layouts a
// QueryXBitmaps request can ask for: fixed examples for the layouts, and
// every sequence of two formats against the layout each one must have.
#include "protocol/protocol_bitmaps.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes RENDERED = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};

Bytes converted(Bytes data, uint32_t from, uint32_t to)
{
    convertBitmapLayout(data.data(), static_cast<uint32_t>(data.size()), from, to);
    return data;
}

TEST(BitmapLayout, EachFormatFromTheRenderedData)
{
    struct Case {
        uint32_t format;
        Bytes layout;
    } cases[] = {
        // Least significant bit and byte first, pad and unit 32: as rendered.
        {0x2200, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}},
        // Both orders most significant first, unit 32.
        {0x2203, {0x20, 0xC0, 0x40, 0x80, 0x10, 0xE0, 0x60, 0xA0}},
        // Most significant byte and bit first with 8-bit units and pad 8, as
        // fstobdf asks: only the bits move, rows stay apart.
        {0x0003, {0x80, 0x40, 0xC0, 0x20, 0xA0, 0x60, 0xE0, 0x10}},
        {0x0001, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}},
        {0x1301, {0x02, 0x01, 0x04, 0x03, 0x06, 0x05, 0x08, 0x07}},
        {0x3001, {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}},
        {0x2202, {0x80, 0x40, 0xC0, 0x20, 0xA0, 0x60, 0xE0, 0x10}},
        // Least significant byte first with pad 64: 4-byte halves exchanged.
        {0x2300, {0x05, 0x06, 0x07, 0x08, 0x01, 0x02, 0x03, 0x04}},
        // ... with pad 16 or 8: the four 2-byte units reversed.
        {0x2100, {0x07, 0x08, 0x05, 0x06, 0x03, 0x04, 0x01, 0x02}},
        {0x0002, {0xE0, 0x10, 0xA0, 0x60, 0xC0, 0x20, 0x80, 0x40}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(converted(RENDERED, 0, c.format), c.layout) << std::hex << c.format;
}

TEST(BitmapLayout, SameFormatChangesNothing)
{
    const Bytes layout = converted(RENDERED, 0, 0x2203);
    EXPECT_EQ(converted(layout, 0x2203, 0x2203), layout);
}

// The layout a format must have, written as where each byte comes from, so
// that it does not share the conversion's own steps.
Bytes expectedLayout(const Bytes& rendered, uint32_t format)
{
    const size_t size = rendered.size();
    Bytes layout(size);
    for (size_t i = 0; i < size; i++) {
        size_t source = i;
        if (format != 0) {
            if (format & 1) {
                const size_t unit = size_t(1) << ((format >> 12) & 3);
                if ((i / unit + 1) * unit <= size)
                    source = i / unit * unit + (unit - 1 - i % unit);
            } else if ((i / 8 + 1) * 8 <= size) {
                const uint32_t pad = (format >> 8) & 3;
                if (pad == 3)
                    source = i ^ 4;
                else if (pad != 2)
                    source = i / 8 * 8 + (3 - i % 8 / 2) * 2 + i % 2;
            }
        }
        uint8_t value = rendered[source];
        if (format & 2) {
            uint8_t reversed = 0;
            for (int bit = 0; bit < 8; bit++)
                reversed |= ((value >> bit) & 1) << (7 - bit);
            value = reversed;
        }
        layout[i] = value;
    }
    return layout;
}

std::vector<uint32_t> everyFormat()
{
    std::vector<uint32_t> formats;
    for (uint32_t unit = 0; unit < 4; unit++)
        for (uint32_t pad = 0; pad < 4; pad++)
            for (uint32_t orders = 0; orders < 4; orders++)
                formats.push_back(unit << 12 | pad << 8 | orders);
    return formats;
}

TEST(BitmapLayout, AnySequenceOfFormatsGivesTheLayoutAsked)
{
    // 24 bytes are whole groups of every size; 13 leave a partial group of
    // 8, 4 and 2 bytes at the end, which must stay untouched (the buffers
    // are exactly as large as the data, so a write past it is caught).
    for (size_t size : {size_t(24), size_t(13)}) {
        Bytes rendered(size);
        for (size_t i = 0; i < size; i++)
            rendered[i] = static_cast<uint8_t>(0x11 * (i + 1) + (i >> 2));
        for (uint32_t first : everyFormat()) {
            const Bytes inFirst = converted(rendered, 0, first);
            ASSERT_EQ(inFirst, expectedLayout(rendered, first)) << std::hex << first;
            for (uint32_t second : everyFormat()) {
                char trace[64];
                std::snprintf(trace, sizeof trace, "size %zu: %#x then %#x", size, first, second);
                SCOPED_TRACE(trace);
                const Bytes inSecond = converted(inFirst, first, second);
                ASSERT_EQ(inSecond, expectedLayout(rendered, second));
                ASSERT_EQ(converted(inSecond, second, 0), rendered);
            }
        }
    }
}

} // namespace
