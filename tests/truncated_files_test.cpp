// Files that shrink while the serving process has them mapped: a served
// font truncated or copied over in place, a database file truncated in
// place. The request that meets the lost pages gets an answer (an error),
// and the connection goes on being served.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/fs_fonts.h"
#include "support/paths.h"
#include "support/process.h"

namespace fs = std::filesystem;

namespace {

const std::string DEJAVU = "/usr/share/fonts/truetype/dejavu/";
const std::string SANS_16 = "-ttf-dejavu sans-medium-r-normal-book-16-0-0-0-p-0-iso8859-1";

// A server of its own on a font directory holding a copy of DejaVu Sans,
// with a client attached.
class TruncatedFiles : public testing::Test {
protected:
    void SetUp() override
    {
        SKIP_WITHOUT_DATABASE();
        fs::create_directories(fonts.path());
        fs::copy_file(DEJAVU + "DejaVuSans.ttf", served());
        ASSERT_TRUE(server.start({"--dir", fonts.path()}));
        ASSERT_TRUE(server.waitListening()) << server.err();
        ASSERT_TRUE(client.connectTcp(server.port()));
        ASSERT_TRUE(client.setup());
    }

    std::string served() const { return fonts.file("served.ttf"); }
    std::string cacheFile(const std::string& name) const { return server.cacheDirectory() + "/" + name; }

    // The connection still answers: the listing names the served font, and
    // a font opens (or is refused) with an answer.
    void expectStillServing(uint32_t freshId)
    {
        const FsReply listed = client.request(listFontsRequest("*", 100));
        ASSERT_TRUE(listed.isReply()) << "no listing after the fault";
        const std::string names(listed.bytes.begin(), listed.bytes.end());
        EXPECT_NE(names.find("dejavu sans"), std::string::npos);
        EXPECT_TRUE(client.request(openFontRequest(freshId, SANS_16)).received);
        EXPECT_TRUE(server.running());
    }

    TempDir fonts;
    ServerProcess server;
    FsClient client;
};

TEST_F(TruncatedFiles, OpenFontWhoseFileShrinks)
{
    struct Case {
        const char* what;
        std::function<void(const std::string&)> shrink;
    } cases[] = {
        {"truncated to nothing", [](const std::string& path) { fs::resize_file(path, 0); }},
        {"a small font copied over it",
         [](const std::string& path) {
             fs::copy_file(fixturePath("good.ttf"), path, fs::copy_options::overwrite_existing);
         }},
    };
    uint32_t id = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::copy_file(DEJAVU + "DejaVuSans.ttf", served(), fs::copy_options::overwrite_existing);
        const uint32_t font = id++;
        ASSERT_TRUE(client.request(openFontRequest(font, SANS_16)).isReply());
        c.shrink(served());
        const FsReply extents =
            client.request(extentsRequest(QUERY_X_EXTENTS16, font, true, {0x0020, 0x00FF}));
        ASSERT_TRUE(extents.received) << "no answer to QueryXExtents16";
        const FsReply bitmaps =
            client.request(bitmapsRequest(QUERY_X_BITMAPS16, font, FORMAT_LSB_PAD32, true, {0x0020, 0x00FF}));
        ASSERT_TRUE(bitmaps.received) << "no answer to QueryXBitmaps16";
        // The character map lies far past the new end: the font is dropped
        // at the first request that reads it.
        EXPECT_TRUE(extents.isError());
        EXPECT_EQ(extents.errorCode(), 2);
        EXPECT_TRUE(bitmaps.isError());
        fs::copy_file(DEJAVU + "DejaVuSans.ttf", served(), fs::copy_options::overwrite_existing);
        expectStillServing(id++);
    }
}

TEST_F(TruncatedFiles, DatabaseFileTruncatedInPlace)
{
    for (const char* file : {"ttinfo.dir", "ttname.dir"}) {
        SCOPED_TRACE(file);
        ASSERT_TRUE(client.request(listFontsRequest("*", 100)).isReply());
        fs::resize_file(cacheFile(file), 0);
        const FsReply listed = client.request(listFontsRequest("*", 100));
        ASSERT_TRUE(listed.received) << "no answer to ListFonts";
        EXPECT_TRUE(listed.isError());
        // The damaged database was rebuilt.
        EXPECT_GT(fs::file_size(cacheFile(file)), 16u);
        expectStillServing(1);
        client.send(fontIdRequest(CLOSE_FONT, 1));
    }
}

}  // namespace
