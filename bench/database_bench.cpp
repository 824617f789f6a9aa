// Database figures: synchronising a directory of 1,000 font files (links to
// the machine's DejaVu and Liberation fonts) and listing "*" over the
// resulting database with three active encodings.
//
//   database_bench [font directory to draw from]
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "database/database.h"
#include "encoding/encoding.h"
#include "protocol/protocol_listing.h"
#include "server/settings.h"

#ifdef HAVE_FREETYPE
#include <ft2build.h>
#include FT_FREETYPE_H
#endif

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int FONT_FILES = 1000;

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string source = argc > 1 ? argv[1] : "/usr/share/fonts/truetype";
    std::vector<std::string> realFonts;
    for (const auto& entry : fs::recursive_directory_iterator(source))
        if (entry.is_regular_file() && entry.path().extension() == ".ttf")
            realFonts.push_back(entry.path());
    if (realFonts.empty()) {
        std::fprintf(stderr, "no .ttf files below %s\n", source.c_str());
        return 1;
    }

    char pattern[] = "/tmp/brassel-bench-XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    const std::string root = pattern;
    const std::string fonts = root + "/fonts";
    const std::string cache = root + "/cache";
    fs::create_directories(fonts + "/extra");
    fs::create_directories(cache);
    // Nine in ten directly in the font directory, the rest one level down.
    for (int i = 0; i < FONT_FILES; i++) {
        char name[64];
        std::snprintf(name, sizeof name, "%s/f%04d.ttf", i % 10 ? "" : "extra", i);
        fs::create_symlink(realFonts[i % realFonts.size()], fonts + "/" + name);
    }
    settings.fontDirectory = fonts.c_str();
    settings.cacheDirectory = cache.c_str();

    // Messages of each run go to /dev/null; the figures to standard error.
    std::fflush(stdout);
    if (!std::freopen("/dev/null", "w", stdout))
        return 1;
    std::vector<double> syncTimes;
    int written = 0;
    for (int run = 0; run < 7; run++) {
        Clock::time_point start = Clock::now();
        written = syncDatabase(false);
        syncTimes.push_back(millisecondsSince(start));
    }
    std::fprintf(stderr, "sync of %d font files (%zu distinct real fonts): %d written, median %.1f ms, best %.1f ms\n",
                 FONT_FILES, realFonts.size(), written, median(syncTimes),
                 *std::min_element(syncTimes.begin(), syncTimes.end()));

    if (openDatabase() != 1)
        return 1;
    activeEncodings().push_back(findEncoding("iso8859-15"));
    activeEncodings().push_back(findEncoding("koi8-r"));
    std::vector<uint8_t> buffer(4194304);
    ListingResult result{0, 0};
    std::vector<double> listTimes;
    for (int run = 0; run < 200; run++) {
        Clock::time_point start = Clock::now();
        result = listFontNames("*", 0xFFFFFFFF, buffer.data());
        listTimes.push_back(millisecondsSince(start));
    }
    std::fprintf(stderr, "ListFonts \"*\" over %d fonts, %zu active encodings: %u names, %u bytes, median %.3f ms, best %.3f ms\n",
                 written, activeEncodings().size(), result.count, result.length, median(listTimes),
                 *std::min_element(listTimes.begin(), listTimes.end()));

#ifdef HAVE_FREETYPE
    // For comparison: a general font library opening every file and reading
    // its names, without writing anything.
    FT_Library library;
    FT_Init_FreeType(&library);
    std::vector<double> peerTimes;
    for (int run = 0; run < 7; run++) {
        Clock::time_point start = Clock::now();
        for (const auto& entry : fs::recursive_directory_iterator(fonts)) {
            FT_Face face;
            if (entry.path().extension() == ".ttf" && FT_New_Face(library, entry.path().c_str(), 0, &face) == 0)
                FT_Done_Face(face);
        }
        peerTimes.push_back(millisecondsSince(start));
    }
    FT_Done_FreeType(library);
    std::fprintf(stderr, "peer: FreeType opening the same %d files: median %.1f ms\n", FONT_FILES, median(peerTimes));
#endif

    releaseDatabase();
    fs::remove_all(root);
    return 0;
}
