// The real font-service clients against the real server: fstobdf dumps
// every font of the machine's TrueType folder (what the README's run
// command serves) as well-formed BDF at several sizes, and showfont shows
// glyphs. Both clients exit 0 even when they fail, so their output is what
// is checked.
#include "support/bdf.h"
#include "support/fs_fonts.h"
#include "support/paths.h"
#include "support/process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <sstream>

namespace {

const char* MACHINE_FONTS = "/usr/share/fonts/truetype";

class ClientsTest : public testing::Test {
protected:
    void SetUp() override
    {
        SKIP_WITHOUT_DATABASE();
        ASSERT_TRUE(server.start({"--dir", MACHINE_FONTS}));
        ASSERT_TRUE(server.waitListening()) << server.err();
    }

    std::string address() const { return "tcp/localhost:" + std::to_string(server.port()); }

    // The served fonts' names with the pixel size field left to fill in:
    // everything up to the 7th "-", then "-0-0-p-0-iso8859-1" after it.
    std::set<std::string> servedStems()
    {
        const CommandResult listed = runCommand({"fslsfonts", "-server", address(), "-fn", "*"});
        std::set<std::string> stems;
        std::istringstream in(listed.out);
        std::string name;
        while (std::getline(in, name)) {
            size_t cut = 0;
            for (int dash = 0; dash < 7 && cut != std::string::npos; dash++)
                cut = name.find('-', cut + (dash ? 1 : 0));
            if (name.rfind("-", 0) == 0 && cut != std::string::npos)
                stems.insert(name.substr(0, cut + 1));
        }
        return stems;
    }

    ServerProcess server;
};

TEST_F(ClientsTest, FstobdfDumpsEveryServedFontAtSeveralSizes)
{
    const std::set<std::string> stems = servedStems();
    ASSERT_GE(stems.size(), 10u) << "the machine's DejaVu and Liberation fonts";
    for (const std::string& stem : stems)
        for (int pixels : {11, 16, 24}) {
            const std::string name = stem + std::to_string(pixels) + "-0-0-0-p-0-iso8859-1";
            const CommandResult dump = runCommand({"fstobdf", "-server", address(), "-fn", name}, "", 60);
            const BdfFont font = readBdf(dump.out);
            ASSERT_EQ(font.problem, "") << name << "\n" << dump.err;
            EXPECT_GE(font.chars, 95) << name;
            EXPECT_GT(font.inkBits, 100) << name;
        }
}

TEST_F(ClientsTest, FstobdfRowsAreTheServedBitmaps)
{
    // fstobdf asks for most significant bit and byte first, pad and unit 8;
    // the rows must be the rendered bitmap with each byte's bits reversed,
    // rows kept apart.
    const std::string name = "-dejavu-dejavu sans-medium-r-normal-book-17-0-0-0-p-0-iso8859-1";
    const BdfFont font = readBdf(runCommand({"fstobdf", "-server", address(), "-fn", name}).out);
    ASSERT_EQ(font.problem, "");

    FsClient client;
    ASSERT_TRUE(client.connectTcp(server.port()));
    ASSERT_TRUE(client.setup());
    ASSERT_TRUE(client.request(openFontRequest(1, name, 0)).isReply());
    const std::vector<uint16_t> codes = {'A', 'g', 'W', 0xE9};
    const std::vector<Extent> boxes = extentsOf(client.request(extentsRequest(QUERY_X_EXTENTS16, 1, false, codes)));
    // Format 0: the layout the glyphs were rendered in (least significant
    // bit first, pad 8).
    const Bitmaps rendered = bitmapsOf(client.request(bitmapsRequest(QUERY_X_BITMAPS16, 1, 0, false, codes)));
    ASSERT_EQ(rendered.entries.size(), codes.size());
    ASSERT_EQ(boxes.size(), codes.size());
    for (size_t i = 0; i < codes.size(); i++) {
        const int width = boxes[i][1] - boxes[i][0], height = boxes[i][3] + boxes[i][4];
        const int rowBytes = (width + 7) / 8;
        const std::vector<uint8_t> glyph = rendered.glyph(i);
        ASSERT_EQ(glyph.size(), size_t(rowBytes * height));
        std::vector<std::string> expected;
        for (int r = 0; r < height; r++) {
            std::string row;
            for (int b = 0; b < rowBytes; b++) {
                uint8_t reversed = 0;
                for (int bit = 0; bit < 8; bit++)
                    reversed |= ((glyph[r * rowBytes + b] >> bit) & 1) << (7 - bit);
                char hex[3];
                std::snprintf(hex, sizeof hex, "%02x", reversed);
                row += hex;
            }
            expected.push_back(row);
        }
        EXPECT_EQ(font.rows.at(codes[i]), expected) << "code " << codes[i];
        EXPECT_EQ(font.advances.at(codes[i]), boxes[i][2]);
    }
}

TEST_F(ClientsTest, ShowfontShowsGlyphs)
{
    const std::string name = "-dejavu-dejavu sans-bold-r-normal-bold-20-0-0-0-p-0-iso8859-1";
    const CommandResult shown =
        runCommand({"showfont", "-server", address(), "-fn", name, "-start", "72", "-end", "73"});
    ASSERT_NE(shown.out.find("opened font " + name), std::string::npos) << shown.out << shown.err;
    EXPECT_NE(shown.out.find("Range:\t32 to 255"), std::string::npos) << shown.out;
    // "H": two stems joined by a bar, drawn as rows of "#" and "-".
    const size_t h = shown.out.find("char #72 'H'");
    const size_t i = shown.out.find("char #73 'I'");
    ASSERT_NE(h, std::string::npos) << shown.out;
    ASSERT_NE(i, std::string::npos) << shown.out;
    std::istringstream rows(shown.out.substr(h, i - h));
    std::string row;
    int inkRows = 0, barRows = 0;
    while (std::getline(rows, row)) {
        if (row.find_first_not_of("#-") != std::string::npos || row.empty())
            continue;
        inkRows++;
        if (row.find("######") != std::string::npos)
            barRows++;
    }
    EXPECT_GE(inkRows, 12);
    EXPECT_GE(barRows, 1);
    EXPECT_LT(barRows, inkRows / 2);
}

} // namespace
