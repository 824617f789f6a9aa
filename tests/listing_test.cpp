// Font names for ListFonts: the all-fonts patterns, field-by-field matching,
// one name per active encoding, the extra "TTUP" names and the limits.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "database/database.h"
#include "encoding/encoding.h"
#include "protocol/protocol_listing.h"
#include "server/settings.h"
#include "support/paths.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> decode(const uint8_t* names, const ListingResult& result)
{
    std::vector<std::string> list;
    uint32_t at = 0;
    while (at < result.length) {
        uint8_t length = names[at];
        list.emplace_back(reinterpret_cast<const char*>(names + at + 1), length);
        at += 1 + length;
    }
    EXPECT_EQ(at, result.length);
    EXPECT_EQ(list.size(), result.count);
    return list;
}

class ListingTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char pattern[] = "/tmp/brassel-list-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        cache = new std::string(pattern);
        fonts = new std::string(fixturePath("db_one"));
        settings.fontDirectory = fonts->c_str();
        settings.cacheDirectory = cache->c_str();
        testing::internal::CaptureStdout();
        ASSERT_EQ(syncDatabase(false), 1);
        testing::internal::GetCapturedStdout();
    }
    static void TearDownTestSuite()
    {
        fs::remove_all(*cache);
        settings = ServerSettings{};
        delete cache;
        delete fonts;
    }
    void SetUp() override
    {
        releaseDatabase();
        ASSERT_EQ(openDatabase(), 1);
        savedActive = activeEncodings();
        buffer.assign(4194304, 0xEE);
    }
    void TearDown() override
    {
        activeEncodings() = savedActive;
        releaseDatabase();
    }
    std::vector<std::string> list(std::string_view pattern, uint32_t maxNames = 100)
    {
        return decode(buffer.data(), listFontNames(pattern, maxNames, buffer.data()));
    }

    static std::string* cache;
    static std::string* fonts;
    std::vector<const Encoding*> savedActive;
    std::vector<uint8_t> buffer;
};

std::string* ListingTest::cache;
std::string* ListingTest::fonts;

using Names = std::vector<std::string>;
const std::string ARIAL = "-ttf-arial-medium-r-normal-regular-0-0-0-0-p-0-iso8859-1";

TEST_F(ListingTest, PatternsAgainstOneFont)
{
    struct Case {
        std::string pattern;
        uint32_t maxNames;
        Names names;
    } cases[] = {
        {"*", 100, {ARIAL, "TTUP020B06040202020202040_Arial"}},
        {"*", 1, {ARIAL}},
        {"*", 0, {}},
        {std::string("*\0ignored", 9), 100, {ARIAL, "TTUP020B06040202020202040_Arial"}},
        {"*arial*", 100, {ARIAL}},
        {"*anything at all", 100, {ARIAL}},
        {"-*", 100, {ARIAL}},
        {"-*-arial-medium-r-normal-*-*-*-*-*-*-*-*-*", 100, {ARIAL}},
        {"-*-arial-medium-r-normal--*-*-*-*-*-*-*-*", 100, {"-ttf-arial-medium-r-normal--0-0-0-0-p-0-iso8859-1"}},
        {"-*-Arial-*-*-*-*-12-*-*-*-*-*-*-*", 100, {"-ttf-Arial-medium-r-normal-regular-12-0-0-0-p-0-iso8859-1"}},
        {"-*-*-*-*-*-*-*-*-*-*-*-*-iso8859-15", 100, {"-ttf-arial-medium-r-normal-regular-0-0-0-0-p-0-iso8859-15"}},
        {"-TTF-ARIAL-*-*-*-*-*-*-*-*-m-*-*-*", 100, {"-TTF-ARIAL-medium-r-normal-regular-0-0-0-0-m-0-iso8859-1"}},
        {"-*-ar*-*-*-*-*-*-*-*-*-**-*-*-*", 100, {"-ttf-arial-medium-r-normal-regular-0-0-0-0-p0-0-iso8859-1"}},
        {"-*-*-*-*-*-*-*-*-*-*-*-*-0-0", 100, {ARIAL}},
        {"-*-*-*-*-*-*-*-*-*-*-*-*-*-*-extra-fields", 100, {ARIAL}},
        {"-*-*-*-*-*-*-*-*-*-*-*-*-*", 100, {"-ttf-arial-medium-r-normal-regular-0-0-0-0-p-0-0"}},
        {"-*-*-*-*-*-*-", 100, {"-ttf-arial-medium-r-normal-regular-"}},
        {"-*-arial-*", 100, {}},
        {"-*-times-*-*-*-*-*-*-*-*-*-*-*-*", 100, {}},
        {"-*-arial-bold-*-*-*-*-*-*-*-*-*-*-*", 100, {}},
        {"", 100, {}},
        {"arial", 100, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(list(c.pattern, c.maxNames), c.names) << c.pattern;
}

TEST_F(ListingTest, OpenCharacterSetsGiveOneNamePerActiveEncoding)
{
    const Encoding* koi8r = findEncoding("koi8-r");
    ASSERT_NE(koi8r, nullptr);
    activeEncodings().push_back(koi8r);
    const std::string koi = "-ttf-arial-medium-r-normal-regular-0-0-0-0-p-0-koi8-r";
    EXPECT_EQ(list("-*-*-*-*-*-*-*-*-*-*-*-*-*-*"), (Names{ARIAL, koi}));
    EXPECT_EQ(list("*"), (Names{ARIAL, koi, "TTUP020B06040202020202040_Arial"}));
    EXPECT_EQ(list("*", 2), (Names{ARIAL, koi}));
    // A named character set is copied once, not multiplied.
    EXPECT_EQ(list("-*-*-*-*-*-*-*-*-*-*-*-*-iso8859-1"), (Names{ARIAL}));
}

TEST_F(ListingTest, NamesTooLongForTheirLengthByteAreLeftOut)
{
    // The stem (35 bytes), a pixel-size field of n digits and the 20 bytes of
    // the other fields: 255 bytes are listed, 256 are not.
    auto pattern = [](size_t digits) { return "-*-*-*-*-*-*-" + std::string(digits, '1') + "-*-*-*-*-*-*-*"; };
    EXPECT_EQ(list(pattern(201)), Names{});
    Names names = list(pattern(200));
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].size(), 255u);
    EXPECT_EQ(names[0], "-ttf-arial-medium-r-normal-regular-" + std::string(200, '1') + "-0-0-0-p-0-iso8859-1");
}

// A database of many records with long stems, in memory.
struct LargeDatabase {
    std::vector<uint8_t> info, names;
    explicit LargeDatabase(int fonts)
    {
        const std::string version("\x02\x01\0\0\0\0\0\0", 8);
        const std::string infoHeader = "TTFNINFO" + version;
        const std::string nameHeader = "TTFNNAME" + version;
        info.assign(infoHeader.begin(), infoHeader.end());
        names.assign(nameHeader.begin(), nameHeader.end());
        const std::string stem = "-ttf-" + std::string(190, 'f') + "-medium-r-normal-regular-";
        for (int i = 0; i < fonts; i++) {
            InfoRecord record{};
            record.nameOffset = static_cast<int32_t>(names.size());
            record.nameLen = 1;
            record.pathLen = 7;
            record.xlfdLen = static_cast<uint8_t>(stem.size());
            record.marker = 85;
            const std::string block = std::string("F\0./f.ttf\0", 10) + stem + std::string(1, '\0');
            names.insert(names.end(), block.begin(), block.end());
            const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&record);
            info.insert(info.end(), bytes, bytes + sizeof record);
        }
    }
};

TEST_F(ListingTest, ListingStopsAtTheByteLimit)
{
    LargeDatabase large(12000);
    releaseDatabase();
    fontDatabase = FontDatabase{large.info.data(), static_cast<uint32_t>(large.info.size()), large.names.data(),
                                static_cast<uint32_t>(large.names.size())};
    activeEncodings().push_back(findEncoding("iso8859-15"));

    ListingResult result = listFontNames("*", 1000000, buffer.data());
    Names names = decode(buffer.data(), result);
    const size_t each = 1 + names.front().size();
    // Names are added while fewer than 4194048 bytes are used: the last one
    // started below the limit and the buffer still holds its fill.
    EXPECT_LT(names.size(), 24000u);
    EXPECT_GE(result.length, LISTING_BYTE_LIMIT);
    EXPECT_LT(result.length - each, LISTING_BYTE_LIMIT);
    EXPECT_LE((result.length + 3) & ~3u, 4194304u);
    EXPECT_EQ(buffer[result.length], 0xEE);
    fontDatabase = FontDatabase{};
}

TEST_F(ListingTest, NoDatabaseListsNothing)
{
    releaseDatabase();
    EXPECT_EQ(list("*"), Names{});
    EXPECT_EQ(list("-*-*-*-*-*-*-*-*-*-*-*-*-*-*"), Names{});
}

}  // namespace
