// The scan converter on outlines placed by hand in the glyph zone, with the
// bitmaps drawn as pictures: '#' ink, '.' blank, top row first.
#include "raster/raster.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Pt {
    int32_t x, y;
    bool on = true;
};
using Contour = std::vector<Pt>;
// Contours of one simple glyph; several glyphs make a composite.
using Glyph = std::vector<Contour>;

Contour rect(int32_t x0, int32_t y0, int32_t x1, int32_t y1)
{
    return {{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}};
}

struct Scan {
    Rasterizer r;
    std::vector<OutlinePoint> points;
    std::vector<int32_t> ends;
    std::vector<uint8_t> buffer;

    // Places the glyphs in the zone and sets a width x height bitmap with
    // rows of rowBytes (from pad 2 unless given).
    void place(const std::vector<Glyph>& glyphs, int width, int height, int rowBytes = 0)
    {
        points.clear();
        ends.clear();
        for (const Glyph& glyph : glyphs) {
            for (const Contour& contour : glyph) {
                for (const Pt& p : contour)
                    points.push_back({p.x, p.y, p.x, p.y, p.on ? POINT_ON_CURVE : 0u});
                ends.push_back(static_cast<int32_t>(points.size()) - 1);
            }
            points.back().flags |= POINT_OUTLINE_END;
        }
        int32_t n = static_cast<int32_t>(points.size());
        points.resize(n + 2, OutlinePoint{});
        r.zone[GLYPH_ZONE] = points.data();
        r.zoneSize[GLYPH_ZONE] = n;
        r.contourEnds = ends.data();
        r.contourCount = static_cast<int32_t>(ends.size());
        r.imageWidth = width;
        r.imageHeight = height;
        r.rowBytes = rowBytes ? rowBytes : ((31 | (width - 1)) + 1) >> 3;
        r.imageSize = r.rowBytes * height;
    }

    // Converts into a buffer with `room` bytes after the bitmap, all 0xA5
    // beforehand, and returns the picture.
    std::string draw(int room = 16)
    {
        buffer.assign(r.imageSize + room, 0xA5);
        r.scanConvert(buffer.data(), buffer.data() + buffer.size());
        return picture();
    }

    std::string picture() const
    {
        std::string out;
        for (int row = 0; row < r.imageHeight; row++) {
            for (int col = 0; col < r.imageWidth; col++)
                out += buffer[row * r.rowBytes + col / 8] >> (col % 8) & 1 ? '#' : '.';
            out += '\n';
        }
        return out;
    }

    bool guardIntact() const
    {
        for (size_t i = r.imageSize; i < buffer.size(); i++)
            if (buffer[i] != 0xA5)
                return false;
        return true;
    }
};

} // namespace

TEST(ScanConvert, SquareFillsThePixelsWhoseCentresItCovers)
{
    Scan s;
    s.place({{rect(0, 0, 128, 128)}}, 3, 3);
    EXPECT_EQ(s.draw(), "...\n"
                        "##.\n"
                        "##.\n");
    EXPECT_TRUE(s.guardIntact());
}

TEST(ScanConvert, ShortSpansBecomeTheirMidpointPixel)
{
    struct Case {
        int32_t x0, x1;
        const char* row;
    } cases[] = {
        {32, 96, ".#.."},  // 64 wide: no centre for sure, midpoint pixel
        {0, 128, "##.."},  // 128 wide: the two covered centres
        {40, 135, ".#.."}, // 95 wide: still one pixel
        {40, 136, ".#.."}, // 96 wide: the centres inside, only 96
        {10, 20, "#..."},  // a sliver left of the first centre
    };
    for (const Case& c : cases) {
        Scan s;
        s.r.gs.dropoutControl = 0;
        s.place({{rect(c.x0, 0, c.x1, 64)}}, 4, 1);
        EXPECT_EQ(s.draw(), std::string(c.row) + "\n") << c.x0 << ".." << c.x1;
    }
}

TEST(ScanConvert, ThinBarNeedsDropoutControl)
{
    // y 40..80 holds no pixel-centre row.
    Scan off;
    off.r.gs.dropoutControl = 0;
    off.place({{rect(0, 40, 320, 80)}}, 6, 2);
    EXPECT_EQ(off.draw(), "......\n"
                          "......\n");

    Scan on;
    on.place({{rect(0, 40, 320, 80)}}, 6, 2);
    EXPECT_EQ(on.draw(), "......\n"
                         "#####.\n");

    // A pixel already set directly above keeps its column from a dropout
    // pixel.
    Scan neighbour;
    neighbour.place({{rect(128, 64, 192, 128)}, {rect(0, 40, 320, 80)}}, 6, 3);
    EXPECT_EQ(neighbour.draw(), "......\n"
                                "..#...\n"
                                "##.##.\n");
}

TEST(ScanConvert, OverlapIsEvenOddWithinAGlyphAndOrBetweenComponents)
{
    Contour a = rect(0, 0, 256, 256), b = rect(128, 128, 384, 384);
    Scan simple;
    simple.place({{a, b}}, 7, 7);
    EXPECT_EQ(simple.draw(), ".......\n"
                             "..####.\n"
                             "..####.\n"
                             "##..##.\n"
                             "##..##.\n"
                             "####...\n"
                             "####...\n");
    Scan components;
    components.place({{a}, {b}}, 7, 7);
    EXPECT_EQ(components.draw(), ".......\n"
                                 "..####.\n"
                                 "..####.\n"
                                 "######.\n"
                                 "######.\n"
                                 "####...\n"
                                 "####...\n");
}

TEST(ScanConvert, ContourStartingOffCurveClosesThroughImpliedPoints)
{
    // A rounded square: on-curve points at the edge midpoints, off-curve
    // corners, written from an on-curve point, from an off-curve point, and
    // with the on-curve points left implied.
    Contour onStart = {{256, 0}, {512, 0, false}, {512, 256}, {512, 512, false},
                       {256, 512}, {0, 512, false}, {0, 256}, {0, 0, false}};
    Contour offStart(onStart.begin() + 7, onStart.end());
    offStart.insert(offStart.end(), onStart.begin(), onStart.begin() + 7);
    Contour allOff = {{0, 0, false}, {512, 0, false}, {512, 512, false}, {0, 512, false}};

    // On the bottom row the arc passes y = 32 at x = 405 and 107, so the
    // centres from 160 to 352 are inside.
    const std::string expected = ".........\n"
                                 "..####...\n"
                                 ".######..\n"
                                 "########.\n"
                                 "########.\n"
                                 "########.\n"
                                 "########.\n"
                                 ".######..\n"
                                 "..####...\n";
    for (const Contour& c : {onStart, offStart, allOff}) {
        Scan s;
        s.place({{c}}, 9, 9);
        EXPECT_EQ(s.draw(), expected);
    }
}

TEST(ScanConvert, BitmapEndingExactlyAtTheBufferEndIsRefused)
{
    Scan s;
    s.place({{rect(0, 0, 128, 128)}}, 3, 3);
    ASSERT_EQ(s.r.imageSize, 12);
    std::vector<uint8_t> buffer(12, 0xA5);
    s.r.scanConvert(buffer.data(), buffer.data() + 12);
    EXPECT_EQ(s.r.imageSize, 0);
    EXPECT_EQ(buffer, std::vector<uint8_t>(12, 0xA5));

    s.r.imageSize = 12;
    buffer.assign(13, 0xA5);
    s.r.scanConvert(buffer.data(), buffer.data() + 13);
    EXPECT_EQ(s.r.imageSize, 12);
    EXPECT_EQ(buffer[12], 0xA5);
}

TEST(ScanConvert, SpansNeverWriteOutsideTheirRow)
{
    // Rows of 3 bytes (pad 0) and an outline far wider than the row on both
    // sides: the middle row fills to the row's last bit and no further.
    Scan s;
    s.place({{rect(-6400, 64, 6400, 128)}}, 24, 3, 3);
    EXPECT_EQ(s.draw(), "........................\n"
                        "########################\n"
                        "........................\n");
    EXPECT_TRUE(s.guardIntact());

    // Long spans at every alignment set exactly their columns.
    for (int first = 0; first < 40; first += 3) {
        for (int last = first; last < 70; last += 5) {
            Scan t;
            t.r.gs.dropoutControl = 0;
            t.place({{rect(first * 64, 0, last * 64 + 64, 64)}}, 80, 1);
            std::string row = t.draw();
            std::string expected(80, '.');
            expected.replace(first, last - first + 1, last - first + 1, '#');
            EXPECT_EQ(row, expected + "\n") << first << ".." << last;
            EXPECT_TRUE(t.guardIntact());
        }
    }
}

TEST(ScanConvert, OutlinesBeyondTheInitialCrossingRoomStillPair)
{
    // A 1 x 40000 pixel stem crosses 40000 rows twice: 80000 crossings.
    Scan s;
    s.r.gs.dropoutControl = 0;
    const int height = 40000;
    s.place({{rect(0, 0, 128, height * 64)}}, 3, height + 1);
    s.draw();
    int inked = 0;
    for (int row = 1; row <= height; row++)
        inked += s.buffer[row * s.r.rowBytes] == 0x03;
    EXPECT_EQ(inked, height);
    EXPECT_EQ(s.buffer[0], 0);
}

TEST(ScanConvert, MalformedContoursStayInsideTheBitmap)
{
    // A lone off-curve point, contour ends past the outline, points far
    // outside the box, and an odd crossing count.
    Scan s;
    s.place({{{{32, 32, false}}}, {{{-100000, 5000000}, {9000000, -7000000}, {64, 64, false}}}}, 4, 4);
    s.ends[1] = 1000;
    s.draw();
    EXPECT_TRUE(s.guardIntact());
}
