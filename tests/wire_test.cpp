// Fonts on the wire, against the real server: opening by XLFD and short
// name, font information, extents and bitmaps for several character sets,
// bitmap layouts, closing and reusing slots, and the requests a hostile or
// careless client can send.
#include "support/fs_fonts.h"
#include "support/paths.h"
#include "support/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace {

// The foundry field of a stem is the font's folder ("ttf" at the top).
const std::string DEJAVU = "-ttf-dejavu sans-medium-r-normal-book-";

std::string dejavuAt(int pixels, const std::string& charset = "iso8859-1")
{
    return DEJAVU + std::to_string(pixels) + "-0-0-0-p-0-" + charset;
}

class WireTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!databaseAvailable())
            return;
        server = new ServerProcess;
        ASSERT_TRUE(server->start({"--dir", fixturePath("wire_fonts")}));
        ASSERT_TRUE(server->waitListening()) << server->err();
    }

    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }

    void SetUp() override
    {
        SKIP_WITHOUT_DATABASE();
        ASSERT_NE(server, nullptr);
        ASSERT_TRUE(server->running()) << server->err();
        ASSERT_TRUE(client.connectTcp(server->port()));
        ASSERT_TRUE(client.setup());
    }

    // Opens `name` under `id` and says whether the server accepted it; any
    // answer but the reply or BadName fails the test.
    bool open(uint32_t id, const std::string& name, uint32_t hint = FORMAT_LSB_PAD32)
    {
        const FsReply reply = client.request(openFontRequest(id, name, hint));
        EXPECT_TRUE(reply.received) << name;
        if (reply.isError()) {
            EXPECT_EQ(reply.errorCode(), 7) << name;
            EXPECT_EQ(reply.errorOpcode(), OPEN_BITMAP_FONT);
            return false;
        }
        EXPECT_EQ(reply.bytes.size(), 16u);
        EXPECT_EQ(reply.length(), 4u);
        EXPECT_EQ(reply.get8(12), 1);
        return reply.isReply();
    }

    std::vector<Extent> extents(uint32_t id, const std::vector<uint16_t>& codes, bool ranges = false,
                                uint8_t opcode = QUERY_X_EXTENTS16)
    {
        return extentsOf(client.request(extentsRequest(opcode, id, ranges, codes)));
    }

    Bitmaps bitmaps(uint32_t id, const std::vector<uint16_t>& codes, uint32_t format = FORMAT_LSB_PAD32,
                    bool ranges = false, uint8_t opcode = QUERY_X_BITMAPS16)
    {
        return bitmapsOf(client.request(bitmapsRequest(opcode, id, format, ranges, codes), 20000));
    }

    void expectError(const std::vector<uint8_t>& request, uint8_t code, uint8_t opcode)
    {
        const FsReply reply = client.request(request);
        ASSERT_TRUE(reply.isError()) << "opcode " << int(opcode);
        EXPECT_EQ(reply.errorCode(), code);
        EXPECT_EQ(reply.errorOpcode(), opcode);
        EXPECT_EQ(reply.bytes.size(), 16u);
    }

    FsClient client;
    static ServerProcess* server;
};

ServerProcess* WireTest::server = nullptr;

const Extent NO_EXTENT{};

// The entries of a bitmap reply each have their own bytes: no two overlap,
// and the data holds exactly their bitmaps, one after another in some order.
void expectOwnCopies(const Bitmaps& bitmaps)
{
    std::vector<BitmapEntry> byOffset = bitmaps.entries;
    std::sort(byOffset.begin(), byOffset.end(),
              [](const BitmapEntry& a, const BitmapEntry& b) { return a.offset < b.offset; });
    uint64_t sum = 0, end = 0;
    for (const BitmapEntry& entry : byOffset) {
        if (entry.length == 0)
            continue;
        EXPECT_GE(entry.offset, end) << "entry data overlaps";
        end = uint64_t(entry.offset) + entry.length;
        sum += entry.length;
    }
    EXPECT_EQ(bitmaps.data.size(), sum);
}

int width(const Extent& e)
{
    return e[1] - e[0];
}

int height(const Extent& e)
{
    return e[3] + e[4];
}

TEST_F(WireTest, NamesThatOpenAFontAndNamesThatDoNot)
{
    struct Case {
        const char* name;
        bool opens;
    } cases[] = {
        {"-ttf-dejavu sans-medium-r-normal-book-16-160-75-75-p-0-iso8859-1", true},
        {"-TTF-DejaVu Sans-MEDIUM-R-Normal-Book-16-160-75-75-P-0-ISO8859-1", true},
        {"-*-dejavu sans-*-*-*-*-*-*-*-*-*-*-iso10646-1", true},
        {"-*-dejavu sans-*-*-*-*-0-0-0-0-p-0-koi8-u", true},
        {"-*-dejavu sans-*-*-*-*-0-0-0-0-p-0-nonsense-x", true},
        {"-*", true},
        {"TTp16_DejaVu Sans", true},
        {"tTm12r100_DejaVu Sans", true},
        // The empty style field a listing can produce is no match for the
        // stored stem.
        {"-ttf-dejavu sans-medium-r-normal--16-160-75-75-p-0-iso8859-1", false},
        {"-*-helvetica-*-*-*-*-*-*-*-*-*-*-*-*", false},
        {"-ttf-dejavu sans-medium-r-normal-book", false},
        {"TTp16_dejavu sans", false}, // font names are case-sensitive
        {"TTUP16_DejaVu Sans", false}, // a listing's second-phase name
        {"TTp16", false},
        {"DejaVu Sans", false},
        {"", false},
    };
    uint32_t id = 100;
    for (const Case& c : cases) {
        const bool opened = open(id, c.name);
        EXPECT_EQ(opened, c.opens) << c.name;
        if (opened)
            client.send(fontIdRequest(CLOSE_FONT, id));
        id++;
    }
}

TEST_F(WireTest, SizeFieldsAndShortNamesOpenTheSameInstance)
{
    // 16 pixels said four ways: pixel size, 12 points at 96 dpi (the
    // default resolution), and the short-name forms of both.
    const std::string names[] = {dejavuAt(16), "-*-dejavu sans-*-*-*-*-*-120-96-96-*-*-iso8859-1",
                                 "TTp16_DejaVu Sans", "TTm12r96_DejaVu Sans"};
    std::vector<Extent> first;
    for (const std::string& name : names) {
        ASSERT_TRUE(open(1, name)) << name;
        const std::vector<Extent> all = extents(1, {}, true);
        ASSERT_EQ(all.size(), 224u) << name;
        if (first.empty())
            first = all;
        EXPECT_EQ(all, first) << name;
        client.send(fontIdRequest(CLOSE_FONT, 1));
    }
    ASSERT_TRUE(open(1, dejavuAt(32)));
    const std::vector<Extent> twice = extents(1, {'M'});
    ASSERT_EQ(twice.size(), 1u);
    // Hinted advances are rounded at each size on their own.
    const int advance16 = first['M' - 0x20][2];
    EXPECT_NEAR(twice[0][2], advance16 * 2, 2);
}

TEST_F(WireTest, FontInformation)
{
    ASSERT_TRUE(open(7, dejavuAt(16)));
    const FsReply info = client.request(fontIdRequest(QUERY_X_INFO, 7));
    ASSERT_TRUE(info.isReply());
    EXPECT_EQ(info.get32(8), 6u);
    // First and last character and the default character, high byte first:
    // DejaVu Sans starts at the space and is cut to Latin-1.
    const std::vector<uint8_t> characters(info.bytes.begin() + 12, info.bytes.begin() + 20);
    EXPECT_EQ(characters, (std::vector<uint8_t>{0x00, 0x20, 0x00, 0xFF, 0, 0, 0x00, 0x20}));
    auto field = [&](int offset) { return static_cast<int16_t>(info.get16(offset)); };
    for (int offset = 20; offset < 30; offset += 2)
        EXPECT_LE(field(offset), field(offset + 12)) << "minimum at " << offset;
    EXPECT_EQ(field(30), 0);
    EXPECT_EQ(field(42), 0);
    EXPECT_GT(field(44), 10); // ascent of a 16-pixel font
    EXPECT_GT(field(46), 1);
    EXPECT_EQ(info.get32(48), 1u) << "one property, FONT";

    // Every character's extents lie within the font-wide extremes.
    for (const Extent& e : extents(7, {}, true)) {
        if (e == NO_EXTENT)
            continue;
        for (int i = 0; i < 5; i++) {
            EXPECT_GE(e[i], field(20 + 2 * i));
            EXPECT_LE(e[i], field(32 + 2 * i));
        }
    }
}

TEST_F(WireTest, CharacterListsAndRanges)
{
    ASSERT_TRUE(open(3, dejavuAt(16)));
    const std::vector<Extent> all = extents(3, {}, true);
    ASSERT_EQ(all.size(), 224u);
    auto of = [&](std::initializer_list<std::pair<uint16_t, uint16_t>> spans) {
        std::vector<Extent> expected;
        for (auto [low, high] : spans)
            for (int code = low; code <= high; code++)
                expected.push_back(all[code - 0x20]);
        return expected;
    };
    struct Case {
        const char* what;
        bool ranges;
        std::vector<uint16_t> items;
        std::vector<Extent> expected;
    } cases[] = {
        {"one pair", true, {0x41, 0x43}, of({{0x41, 0x43}})},
        {"odd count ends at lastChar", true, {0xF0}, of({{0xF0, 0xFF}})},
        {"two pairs", true, {0x30, 0x31, 0x61, 0x63}, of({{0x30, 0x31}, {0x61, 0x63}})},
        {"reversed pair names nothing", true, {0x50, 0x40}, {}},
        {"list in request order", false, {0x7A, 0x41, 0x41}, of({{0x7A, 0x7A}, {0x41, 0x41}, {0x41, 0x41}})},
        {"empty list", false, {}, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(extents(3, c.items, c.ranges), c.expected) << c.what;
        EXPECT_EQ(extents(3, c.items, c.ranges, QUERY_X_EXTENTS8), c.expected) << c.what << ", 8-bit";
        EXPECT_EQ(bitmaps(3, c.items, FORMAT_LSB_PAD32, c.ranges).entries.size(), c.expected.size()) << c.what;
    }
    const FsReply none = client.request(extentsRequest(QUERY_X_EXTENTS16, 3, true, {0x50, 0x40}));
    EXPECT_EQ(none.bytes.size(), 12u);
    EXPECT_EQ(none.length(), 3u);

    // Latin-1 codes 0x80 to 0x9F are controls: DejaVu Sans draws none.
    EXPECT_EQ(all[0x85 - 0x20], NO_EXTENT);
    EXPECT_NE(all['A' - 0x20], NO_EXTENT);
    EXPECT_GT(all[0][2], 0) << "the space has an advance";
    // Codes beyond the font's range are looked up like any other.
    EXPECT_EQ(extents(3, {0x20AC}).size(), 1u);
}

TEST_F(WireTest, CharacterSetsMapCodesToTheSameGlyphs)
{
    ASSERT_TRUE(open(1, dejavuAt(16, "iso8859-1")));
    ASSERT_TRUE(open(2, dejavuAt(16, "koi8-r")));
    ASSERT_TRUE(open(3, dejavuAt(16, "iso10646-1")));
    // (Latin-1 code, koi8-r code, Unicode) of the same characters.
    const uint16_t same[][3] = {{'A', 'A', 'A'}, {0xF7, 0x9F, 0x00F7}, {0xA0, 0x9A, 0x00A0}, {0xB0, 0x9C, 0x00B0}};
    for (const auto& codes : same) {
        EXPECT_EQ(extents(1, {codes[0]}), extents(2, {codes[1]})) << std::hex << codes[2];
        EXPECT_EQ(extents(1, {codes[0]}), extents(3, {codes[2]})) << std::hex << codes[2];
        EXPECT_EQ(bitmaps(1, {codes[0]}).data, bitmaps(3, {codes[2]}).data) << std::hex << codes[2];
    }
    // Cyrillic: koi8-r 0xF6 is U+0416 (ZHE), which Latin-1 does not have.
    const Bitmaps zhe = bitmaps(2, {0xF6});
    EXPECT_EQ(zhe.data, bitmaps(3, {0x0416}).data);
    EXPECT_FALSE(zhe.data.empty());
    EXPECT_NE(extents(2, {0xF6}), extents(1, {0xF6}));
}

TEST_F(WireTest, EveryEntryCarriesItsOwnBitmap)
{
    // A code named twice, codes without a glyph (U+0080, U+0081: both the
    // missing glyph), and in Liberation Sans the hyphen and the soft hyphen,
    // which share one glyph.
    ASSERT_TRUE(open(1, dejavuAt(16, "iso10646-1")));
    const Bitmaps abb = bitmaps(1, {'A', 'A', 'B', ' ', 0x80, 0x81});
    ASSERT_EQ(abb.entries.size(), 6u);
    expectOwnCopies(abb);
    EXPECT_GT(abb.entries[0].length, 0u);
    EXPECT_EQ(abb.entries[3].length, 0u) << "the space has no bitmap";
    EXPECT_GT(abb.entries[4].length, 0u) << "the missing glyph is sent like any other";
    EXPECT_EQ(abb.glyph(1), abb.glyph(0));
    EXPECT_EQ(abb.glyph(5), abb.glyph(4));
    EXPECT_EQ(abb.glyph(0), bitmaps(1, {'A'}).data);

    for (const char* charset : {"iso8859-1", "iso10646-1"}) {
        SCOPED_TRACE(charset);
        ASSERT_TRUE(open(2, "-*-liberation sans-*-*-*-*-16-*-*-*-*-*-" + std::string(charset)));
        const Bitmaps hyphens = bitmaps(2, {0x2D, 0xAD});
        ASSERT_EQ(hyphens.entries.size(), 2u);
        expectOwnCopies(hyphens);
        EXPECT_GT(hyphens.entries[0].length, 0u);
        EXPECT_EQ(hyphens.glyph(1), hyphens.glyph(0));
        // What an X server asks for when it opens a font of one row: the
        // whole range in one request.
        const Bitmaps range = bitmaps(2, {}, FORMAT_LSB_PAD32, true);
        ASSERT_EQ(range.entries.size(), 225u) << "31 to 255";
        expectOwnCopies(range);
        client.send(fontIdRequest(CLOSE_FONT, 2));
    }

    // Rows padded as the open's format hint asked: 8, 16, 32 or 64 bits,
    // each glyph as wide as itself; with the image-rectangle bits set, every
    // glyph as wide as the widest.
    const std::vector<uint16_t> codes = {'A', 'i', 'W', 'g', '.'};
    for (uint32_t pad = 0; pad < 4; pad++) {
        SCOPED_TRACE("pad code " + std::to_string(pad));
        const uint32_t id = 10 + pad;
        ASSERT_TRUE(open(id, dejavuAt(16), pad << 8));
        const std::vector<Extent> boxes = extents(id, codes);
        const Bitmaps glyphs = bitmaps(id, codes, pad << 8 | 0x2000);
        ASSERT_EQ(glyphs.entries.size(), codes.size());
        const int unitBytes = 1 << pad;
        for (size_t i = 0; i < codes.size(); i++) {
            const int rowBytes = (width(boxes[i]) + 8 * unitBytes - 1) / (8 * unitBytes) * unitBytes;
            EXPECT_EQ(glyphs.entries[i].length, uint32_t(rowBytes * height(boxes[i]))) << char(codes[i]);
        }
    }
    ASSERT_TRUE(open(20, dejavuAt(16), 0x0204));
    const std::vector<Extent> boxes = extents(20, codes);
    const Bitmaps fixed = bitmaps(20, codes);
    ASSERT_EQ(fixed.entries.size(), codes.size());
    const uint32_t rowBytes = fixed.entries[0].length / height(boxes[0]);
    EXPECT_GE(rowBytes * 8, uint32_t(width(boxes[2])));
    for (size_t i = 0; i < codes.size(); i++)
        EXPECT_EQ(fixed.entries[i].length, rowBytes * height(boxes[i])) << char(codes[i]);
}

TEST_F(WireTest, BitmapLayoutsConvertBackAndForth)
{
    // Rows padded to 64 bits keep every glyph's bitmap in whole 8-byte
    // groups, so each conversion acts on the glyphs one by one.
    ASSERT_TRUE(open(1, dejavuAt(20), 0x0300));
    // The whole range, so that the data runs through every glyph.
    const Bitmaps rendered = bitmaps(1, {}, 0x2200, true);
    ASSERT_EQ(rendered.entries.size(), 224u);
    ASSERT_EQ(rendered.data.size() % 8, 0u);
    auto bitReversed = [](uint8_t b) {
        uint8_t r = 0;
        for (int i = 0; i < 8; i++)
            r |= ((b >> i) & 1) << (7 - i);
        return r;
    };
    auto layout = [&](auto source) {
        std::vector<uint8_t> out(rendered.data.size());
        for (size_t i = 0; i < out.size(); i++)
            out[i] = source(i);
        return out;
    };
    const auto& d = rendered.data;
    struct Case {
        uint32_t format;
        std::vector<uint8_t> expected;
    } cases[] = {
        {0x2203, layout([&](size_t i) { return bitReversed(d[i ^ 3]); })},
        {0x0003, layout([&](size_t i) { return bitReversed(d[i]); })}, // what fstobdf asks
        {0x1201, layout([&](size_t i) { return d[i ^ 1]; })},
        {0x3303, layout([&](size_t i) { return bitReversed(d[i ^ 7]); })},
        {0x2300, layout([&](size_t i) { return d[i ^ 4]; })},
        {0x2202, layout([&](size_t i) { return bitReversed(d[i]); })},
        {0x2200, d},
    };
    // Every format after every other, each answer in the layout it asks for.
    for (const Case& before : cases)
        for (const Case& after : cases) {
            bitmaps(1, {}, before.format, true);
            EXPECT_EQ(bitmaps(1, {}, after.format, true).data, after.expected)
                << std::hex << before.format << " then " << after.format;
        }
}

TEST_F(WireTest, NarrowPadsAreLoggedAndServed)
{
    ASSERT_TRUE(open(1, dejavuAt(16)));
    for (uint32_t pad : {0u, 1u}) {
        const Bitmaps glyphs = bitmaps(1, {'A'}, pad << 8);
        EXPECT_EQ(glyphs.entries.size(), 1u);
        EXPECT_FALSE(glyphs.data.empty());
    }
    // The length field covers the five items (21 bytes) when rounded up.
    std::vector<uint8_t> body;
    append32(body, 1);
    append32(body, FORMAT_LSB_PAD32);
    append32(body, 5);
    body.insert(body.end(), {'a', 'b', 'c', 'd', 'e'});
    EXPECT_EQ(bitmapsOf(client.request(makeRequest(QUERY_X_BITMAPS8, 0, body, 6))).entries.size(), 5u);
    const std::string err = server->err();
    EXPECT_NE(err.find("brassel: error: scanline length error! recompile brassel with LOGSLP defined as 3!\n"),
              std::string::npos);
    EXPECT_NE(err.find("brassel: error: scanline length error! recompile brassel with LOGSLP defined as 4!\n"),
              std::string::npos);
}

TEST_F(WireTest, LargeRepliesCarryEveryBitmap)
{
    // 16 box glyphs of about 290 KB each at 3000 pixels: far more than the
    // 4 MB reply buffer, all sent, each with the length its extents need.
    ASSERT_TRUE(open(1, "TTp3000_Wire Blocks Regular"));
    std::vector<uint16_t> codes;
    for (uint16_t code = 'A'; code <= 'P'; code++)
        codes.push_back(code);
    codes.push_back('A');
    const Bitmaps glyphs = bitmaps(1, codes);
    ASSERT_EQ(glyphs.entries.size(), codes.size());
    expectOwnCopies(glyphs);
    EXPECT_GT(glyphs.data.size(), 4194304u);
    const std::vector<Extent> boxes = extents(1, codes);
    ASSERT_EQ(boxes.size(), codes.size());
    for (size_t i = 0; i < codes.size(); i++)
        EXPECT_EQ(glyphs.entries[i].length, uint32_t((width(boxes[i]) + 31) / 32 * 4 * height(boxes[i]))) << i;
    EXPECT_EQ(glyphs.glyph(16), glyphs.glyph(0));
    EXPECT_EQ(extents(1, {'A'}).size(), 1u) << "the connection goes on";
}

// Bytes of the longest reply an X server's font-service client accepts.
constexpr uint64_t CLIENT_REPLY_LIMIT = 64u << 20;

TEST_F(WireTest, SizesWhoseRangeExceedsOneReplyAreRefused)
{
    // An X server asks for all bitmaps of a one-row font in one request and
    // drops replies over 64 MiB. The largest Wire Blocks size served is the
    // one whose whole range (31 to 80: 16 boxes and 34 copies of the
    // missing glyph's box) just fits that.
    int served = 3000, refused = 10000;
    auto name = [](int pixels) { return "TTp" + std::to_string(pixels) + "_Wire Blocks Regular"; };
    ASSERT_TRUE(open(1, name(served)));
    client.send(fontIdRequest(CLOSE_FONT, 1));
    ASSERT_FALSE(open(1, name(refused)));
    while (refused - served > 1) {
        const int middle = (served + refused) / 2;
        if (open(1, name(middle))) {
            served = middle;
            client.send(fontIdRequest(CLOSE_FONT, 1));
        } else {
            refused = middle;
        }
    }
    ASSERT_TRUE(open(1, name(served)));
    const FsReply reply = client.request(bitmapsRequest(QUERY_X_BITMAPS16, 1, FORMAT_LSB_PAD32, true, {}), 60000);
    ASSERT_TRUE(reply.isReply());
    EXPECT_LE(uint64_t(reply.length()) * 4, CLIENT_REPLY_LIMIT);
    EXPECT_GT(uint64_t(reply.length()) * 4, CLIENT_REPLY_LIMIT - (4u << 20)) << "the reply is what bounds the size";
    const Bitmaps range = bitmapsOf(reply);
    const std::vector<Extent> boxes = extents(1, {}, true);
    ASSERT_EQ(range.entries.size(), 50u);
    ASSERT_EQ(boxes.size(), 50u);
    expectOwnCopies(range);
    for (size_t i = 0; i < boxes.size(); i++) {
        if (boxes[i] != NO_EXTENT) {
            EXPECT_GT(range.entries[i].length, 0u) << "code " << 31 + i;
        }
    }

    // A list that names more than one reply holds is refused whole.
    expectError(bitmapsRequest(QUERY_X_BITMAPS16, 1, FORMAT_LSB_PAD32, true, {31, 80, 31, 80}), 9,
                QUERY_X_BITMAPS16);
    EXPECT_EQ(extents(1, {'A'}).size(), 1u) << "the connection goes on";
}

TEST_F(WireTest, SizesWhoseExtentsExceedSixteenBitsAreRefused)
{
    // Wire Wide's specks advance by two ems: 32000 pixels at 16000, still a
    // 16-bit value; at 17000 the advance would wrap, and beyond 32767
    // pixels no size is served.
    ASSERT_TRUE(open(1, "TTp16000_Wire Wide Regular"));
    const FsReply info = client.request(fontIdRequest(QUERY_X_INFO, 1));
    EXPECT_EQ(static_cast<int16_t>(info.get16(36)), 32000) << "maximum advance";
    for (const char* name : {"TTp17000_Wire Wide Regular", "TTp40000_Wire Wide Regular", "TTp16p-70000_Wire Wide Regular"})
        EXPECT_FALSE(open(2, name)) << name;
    EXPECT_TRUE(client.request(fontIdRequest(QUERY_X_INFO, 1)).isReply());
}

TEST_F(WireTest, BrokenCharacterMapGivesTheMissingGlyph)
{
    // C maps to glyph 3 of a font with glyphs 0 to 2.
    ASSERT_TRUE(open(1, "TTp20_Wire Broken Regular"));
    const std::vector<Extent> e = extents(1, {'A', 'C', 'Z'});
    ASSERT_EQ(e.size(), 3u);
    EXPECT_NE(e[0], NO_EXTENT);
    EXPECT_EQ(e[1], NO_EXTENT);
    EXPECT_EQ(e[2], NO_EXTENT);
    const Bitmaps b = bitmaps(1, {'C', 'Z'});
    ASSERT_EQ(b.entries.size(), 2u);
    EXPECT_GT(b.entries[0].length, 0u) << "glyph 0 is sent like any other";
    expectOwnCopies(b);
    EXPECT_EQ(b.glyph(1), b.glyph(0));
}

TEST_F(WireTest, MissingGlyphKeepsItsExtentsOnlyAtTheFirstCharacter)
{
    // Wire Blocks maps only A..P: its range starts at 31 (cut from 0x41),
    // so with Unicode codes, 31 is the first character and shows the missing
    // glyph.
    ASSERT_TRUE(open(1, "-*-wire blocks-*-*-*-*-20-*-*-*-*-*-iso10646-1"));
    const FsReply info = client.request(fontIdRequest(QUERY_X_INFO, 1));
    ASSERT_EQ(info.get8(13), 31);
    const std::vector<Extent> e = extents(1, {31, 30, 'Q'});
    ASSERT_EQ(e.size(), 3u);
    EXPECT_NE(e[0], NO_EXTENT);
    EXPECT_EQ(e[1], NO_EXTENT);
    EXPECT_EQ(e[2], NO_EXTENT);
}

TEST_F(WireTest, ClosingAndReusingSlots)
{
    ASSERT_TRUE(open(5, dejavuAt(12)));
    ASSERT_TRUE(open(6, dejavuAt(12)));
    ASSERT_TRUE(client.send(fontIdRequest(CLOSE_FONT, 5)));
    EXPECT_TRUE(client.silentFor(200)) << "CloseFont has no reply";
    expectError(fontIdRequest(CLOSE_FONT, 5), 2, CLOSE_FONT);
    expectError(fontIdRequest(QUERY_X_INFO, 5), 2, QUERY_X_INFO);
    expectError(extentsRequest(QUERY_X_EXTENTS8, 5, false, {'A'}), 2, QUERY_X_EXTENTS8);
    expectError(bitmapsRequest(QUERY_X_BITMAPS16, 5, FORMAT_LSB_PAD32, false, {'A'}), 2, QUERY_X_BITMAPS16);
    EXPECT_TRUE(client.request(fontIdRequest(QUERY_X_INFO, 6)).isReply()) << "id 6 is a slot of its own";

    // An id with bit 31 set works like any other.
    ASSERT_TRUE(open(0x80000001u, dejavuAt(12)));
    EXPECT_EQ(extents(0x80000001u, {'A'}), extents(6, {'A'}));
    ASSERT_TRUE(client.send(fontIdRequest(CLOSE_FONT, 0x80000001u)));
    expectError(fontIdRequest(QUERY_X_INFO, 0x80000001u), 2, QUERY_X_INFO);

    // 256 slots: the 257th open fails until one is closed.
    for (uint32_t id = 1000; id < 1255; id++)
        ASSERT_TRUE(open(id, "TTp8_Wire Broken Regular")) << id;
    EXPECT_FALSE(open(2000, "TTp8_Wire Broken Regular"));
    ASSERT_TRUE(client.send(fontIdRequest(CLOSE_FONT, 1100)));
    EXPECT_TRUE(open(2000, "TTp8_Wire Broken Regular"));
    EXPECT_TRUE(client.request(fontIdRequest(QUERY_X_INFO, 2000)).isReply());
}

TEST_F(WireTest, HostileListsAreRefused)
{
    ASSERT_TRUE(open(1, dejavuAt(12)));
    // Three 16-bit items need 18 bytes; a length of 4 units covers 16.
    std::vector<uint8_t> body;
    append32(body, 1);
    append32(body, 3);
    body.insert(body.end(), {0, 'A', 0, 'B'});
    expectError(makeRequest(QUERY_X_EXTENTS16, 0, body), 10, QUERY_X_EXTENTS16);
    // A count near 2^32 must not wrap into a small length.
    std::vector<uint8_t> huge;
    append32(huge, 1);
    append32(huge, 0x80000001u);
    expectError(makeRequest(QUERY_X_EXTENTS16, 0, huge), 10, QUERY_X_EXTENTS16);
    std::vector<uint8_t> hugeBitmaps;
    append32(hugeBitmaps, 1);
    append32(hugeBitmaps, FORMAT_LSB_PAD32);
    append32(hugeBitmaps, 0xFFFFFFFFu);
    expectError(makeRequest(QUERY_X_BITMAPS8, 0, hugeBitmaps), 10, QUERY_X_BITMAPS8);

    // Ranges naming more characters than a reply holds are refused whole:
    // 6 full 16-bit ranges are 393216 extents (4.7 MB), 9 are 589824
    // bitmap offsets (4.7 MB).
    std::vector<uint16_t> everything;
    for (int i = 0; i < 9; i++)
        everything.insert(everything.end(), {0x0000, 0xFFFF});
    expectError(extentsRequest(QUERY_X_EXTENTS16, 1, true, std::vector<uint16_t>(everything.begin(),
                                                                                 everything.begin() + 12)),
                9, QUERY_X_EXTENTS16);
    expectError(bitmapsRequest(QUERY_X_BITMAPS16, 1, FORMAT_LSB_PAD32, true, everything), 9, QUERY_X_BITMAPS16);
    // Five ranges still fit: 327680 extents in one 3.9 MB reply.
    const FsReply five = client.request(
        extentsRequest(QUERY_X_EXTENTS16, 1, true, std::vector<uint16_t>(everything.begin(), everything.begin() + 10)),
        20000);
    EXPECT_EQ(extentsOf(five).size(), 327680u);
    EXPECT_EQ(extents(1, {'A'}).size(), 1u);
}

// The value of the FONT property in a QueryXInfo reply.
std::string fontProperty(const FsReply& info)
{
    if (info.get32(48) != 1 || info.bytes.size() < 76 + size_t(info.get32(52)))
        return "";
    const size_t value = 76 + info.get32(64);
    return std::string(info.bytes.begin() + value, info.bytes.begin() + value + info.get32(68));
}

TEST_F(WireTest, FontPropertyNamesTheInstanceAndOpensItAgain)
{
    // The name as opened with its wildcards filled in from the font, the
    // size and the resolution; a size no XLFD name can say keeps the short
    // name it was asked by.
    const std::string stem = DEJAVU;
    struct Case {
        std::string name;
        std::string font;
    } cases[] = {
        {dejavuAt(16), stem + "16-120-96-96-p-0-iso8859-1"},
        {"-*-DejaVu Sans-*-*-*-*-*-*-*-*-*-*-ISO10646-1", stem + "12-90-96-96-p-0-iso10646-1"},
        {"-*-dejavu sans-*-*-*-*-*-120-100-75-*-*-koi8-r", stem + "0-120-100-75-p-0-koi8-r"},
        {"TTp20_DejaVu Sans", stem + "20-150-96-96-p-0-iso8859-1"},
        {"TTp20p24_DejaVu Sans", "TTp20p24_DejaVu Sans"},
        {"-*-wire blocks-*-*-*-*-30-*-72-72-*-*-iso8859-1", "-ttf-wire blocks-medium-r-normal-regular-30-300-72-72-p-0-iso8859-1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(open(1, c.name));
        const FsReply info = client.request(fontIdRequest(QUERY_X_INFO, 1));
        ASSERT_TRUE(info.isReply());
        EXPECT_EQ(fontProperty(info), c.font);
        // One string property: "FONT" at offset 0, the name after it.
        EXPECT_EQ(info.get32(52), 4 + c.font.size());
        EXPECT_EQ((std::vector<uint32_t>{info.get32(56), info.get32(60), info.get32(64)}),
                  (std::vector<uint32_t>{0, 4, 4}));
        EXPECT_EQ(info.get8(72), 0);
        EXPECT_EQ(std::string(info.bytes.begin() + 76, info.bytes.begin() + 80), "FONT");
        EXPECT_EQ(info.bytes.size(), (76 + 4 + c.font.size() + 3) / 4 * 4);
        EXPECT_EQ(info.length() * 4, info.bytes.size());

        // Opened under that name, the same instance: every byte of the
        // information but the sequence number, and every extent.
        ASSERT_TRUE(open(2, fontProperty(info)));
        FsReply again = client.request(fontIdRequest(QUERY_X_INFO, 2));
        ASSERT_TRUE(again.isReply());
        again.bytes[2] = info.bytes[2];
        again.bytes[3] = info.bytes[3];
        EXPECT_EQ(again.bytes, info.bytes);
        EXPECT_EQ(extents(2, {}, true), extents(1, {}, true));
        client.send(fontIdRequest(CLOSE_FONT, 1));
        client.send(fontIdRequest(CLOSE_FONT, 2));
    }
}

TEST(WireUnstrapped, ControlCodesSharingALineDrawingGlyphGetTheirOwnCopies)
{
    // With --unstrap the control codes 0x0C and 0x1C both show U+2510.
    SKIP_WITHOUT_DATABASE();
    ServerProcess server;
    ASSERT_TRUE(server.start({"--dir", fixturePath("wire_fonts"), "--unstrap"}));
    ASSERT_TRUE(server.waitListening()) << server.err();
    FsClient client;
    ASSERT_TRUE(client.connectTcp(server.port()));
    ASSERT_TRUE(client.setup());
    ASSERT_TRUE(client.request(openFontRequest(1, dejavuAt(16))).isReply());
    const Bitmaps corners =
        bitmapsOf(client.request(bitmapsRequest(QUERY_X_BITMAPS16, 1, FORMAT_LSB_PAD32, false, {0x0C, 0x1C, 0x0C})));
    ASSERT_EQ(corners.entries.size(), 3u);
    expectOwnCopies(corners);
    EXPECT_GT(corners.entries[0].length, 0u);
    EXPECT_EQ(corners.glyph(1), corners.glyph(0));
    EXPECT_EQ(corners.glyph(2), corners.glyph(0));
    // The first row as an X server asks for it.
    const Bitmaps row =
        bitmapsOf(client.request(bitmapsRequest(QUERY_X_BITMAPS16, 1, FORMAT_LSB_PAD32, true, {0x0000, 0x00FF})));
    ASSERT_EQ(row.entries.size(), 256u);
    expectOwnCopies(row);
}

} // namespace
