// Sizes and memory at the edges, against the real server: a size whose
// bitmaps need more than the glyph buffer's 16 MB start, an absurd one, and
// many large fonts on one connection, which must all cost bounded memory
// and leave the server serving.
#include "support/fs_fonts.h"
#include "support/paths.h"
#include "support/process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define BRASSEL_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BRASSEL_TEST_SANITIZED 1
#endif
#endif

namespace {

#ifdef BRASSEL_TEST_SANITIZED
constexpr bool SANITIZED = true;
#else
constexpr bool SANITIZED = false;
#endif

std::string dejavu(int pixels)
{
    return "-ttf-dejavu sans-medium-r-normal-book-" + std::to_string(pixels) + "-0-0-0-p-0-iso10646-1";
}

// Peak resident memory of a process, in kilobytes.
long peakKilobytes(pid_t pid)
{
    FILE* status = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    char line[256];
    long value = -1;
    while (status && std::fgets(line, sizeof line, status))
        if (std::strncmp(line, "VmHWM:", 6) == 0)
            std::sscanf(line + 6, "%ld", &value);
    if (status)
        std::fclose(status);
    return value;
}

int inkedBits(const std::vector<uint8_t>& bitmap)
{
    int bits = 0;
    for (uint8_t byte : bitmap)
        bits += __builtin_popcount(byte);
    return bits;
}

class RasterServerTest : public testing::Test {
protected:
    void SetUp() override
    {
        SKIP_WITHOUT_DATABASE();
        // --once: the listening process serves the client itself, so its
        // memory is the serving process's. --unstrap opens the range up to
        // U+29FF, where DejaVu's late glyphs lie.
        ASSERT_TRUE(server.start({"--dir", fixturePath("raster_fonts"), "--once", "--unstrap"}));
        ASSERT_TRUE(server.waitListening()) << server.err();
        ASSERT_TRUE(client.connectTcp(server.port()));
        ASSERT_TRUE(client.setup());
    }

    bool open(uint32_t id, int pixels)
    {
        return client.request(openFontRequest(id, dejavu(pixels)), 120000).isReply();
    }

    ServerProcess server;
    FsClient client;
};

} // namespace

TEST_F(RasterServerTest, LateGlyphsKeepTheirBitmapsBeyondSixteenMegabytes)
{
    // At 300 pixels DejaVu Sans needs about 34 MB of bitmaps; U+29FB is
    // glyph 4462 of 6253, far past the first 16 MB.
    ASSERT_TRUE(open(1, 300)) << server.err();
    const Bitmaps late = bitmapsOf(client.request(bitmapsRequest(QUERY_X_BITMAPS16, 1, FORMAT_LSB_PAD32, false, {0x29FB}), 20000));
    ASSERT_EQ(late.entries.size(), 1u);
    EXPECT_GT(inkedBits(late.glyph(0)), 1000);
}

TEST_F(RasterServerTest, AbsurdSizeIsRefusedAtBoundedCostAndTheServerGoesOn)
{
    // Every bitmap at this size would take tens of gigabytes, and a glyph
    // with a box but without its bitmap would be drawn from garbage: the
    // open fails as one without memory does.
    EXPECT_FALSE(open(1, 10000));
    EXPECT_NE(server.err().find("entering memory starved mode"), std::string::npos) << server.err();
    EXPECT_LT(peakKilobytes(server.pid()), 1024L * 1024) << "a sanitizer build's quarantine included";

    // The same connection goes on opening and serving fonts.
    ASSERT_TRUE(open(2, 16));
    const Bitmaps a = bitmapsOf(client.request(bitmapsRequest(QUERY_X_BITMAPS16, 2, FORMAT_LSB_PAD32, false, {'A'})));
    ASSERT_EQ(a.entries.size(), 1u);
    EXPECT_GT(inkedBits(a.glyph(0)), 20);
}

TEST_F(RasterServerTest, OneConnectionHoldsBoundedGlyphMemory)
{
    // DejaVu Sans at 200 pixels keeps some 15 MB of bitmaps. The glyph
    // buffers of all of a connection's fonts share one 256 MB ceiling, so
    // the opens fail once it is reached, and succeed again when fonts are
    // closed.
    constexpr uint32_t attempts = 30;
    std::vector<uint32_t> opened;
    for (uint32_t id = 1; id <= attempts; id++)
        if (open(id, 200))
            opened.push_back(id);
    EXPECT_GT(opened.size(), 8u);
    EXPECT_LT(opened.size(), 20u);
    EXPECT_NE(server.err().find("entering memory starved mode"), std::string::npos);
    // 256 MB of glyph buffers, the 4 MB reply buffer and the fonts' mappings
    // and tables; a sanitizer build keeps freed blocks for a while.
    EXPECT_LT(peakKilobytes(server.pid()), (SANITIZED ? 1024L : 320L) * 1024);
    for (uint32_t id : opened)
        client.send(fontIdRequest(CLOSE_FONT, id));
    EXPECT_TRUE(open(100, 200));
    EXPECT_TRUE(client.request(fontIdRequest(QUERY_X_INFO, 100)).isReply());
}
