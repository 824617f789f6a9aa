// Sizes at the edges, against the real server: a size whose bitmaps need
// more than the glyph buffer's 16 MB start, and an absurd one, which must
// cost bounded memory and leave the server serving.
#include "support/fs_fonts.h"
#include "support/paths.h"
#include "support/process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace {

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

TEST_F(RasterServerTest, AbsurdSizeCostsBoundedMemoryAndTheServerGoesOn)
{
    ASSERT_TRUE(open(1, 10000)) << server.err();
    // Past the glyph buffers' 256 MB ceiling glyphs keep their extents.
    const std::vector<Extent> h = extentsOf(client.request(extentsRequest(QUERY_X_EXTENTS16, 1, false, {'H'}), 20000));
    ASSERT_EQ(h.size(), 1u);
    EXPECT_NEAR(h[0][3] + h[0][4], 7279, 2);
    // Every bitmap at this size would take tens of gigabytes; the serving process
    // stays within a gigabyte (a sanitizer build's quarantine included).
    EXPECT_LT(peakKilobytes(server.pid()), 1024L * 1024);

    // The same connection goes on opening and serving fonts.
    ASSERT_TRUE(open(2, 16));
    const Bitmaps a = bitmapsOf(client.request(bitmapsRequest(QUERY_X_BITMAPS16, 2, FORMAT_LSB_PAD32, false, {'A'})));
    ASSERT_EQ(a.entries.size(), 1u);
    EXPECT_GT(inkedBits(a.glyph(0)), 20);
}
