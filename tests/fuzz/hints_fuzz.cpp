// The hinting interpreter on its own: the input is a set of table sizes and
// three programs, run as a font program, a control value program and a
// glyph program on one small glyph, without the font around them, so that
// every mutation lands on instructions.
//   byte 0..4   stack depth, storage, functions, twilight points, control
//               values (each 0..255)
//   byte 5..8   the lengths of the first two programs (16-bit, big-endian);
//               the third takes the rest
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <string>
#include <unistd.h>

#include "font/mapped_file.h"
#include "raster/raster.h"

namespace {

int memoryFile()
{
    static const int fd = memfd_create("hints_fuzz", 0);
    return fd;
}

template <typename T>
T* table(int32_t count)
{
    return static_cast<T*>(std::calloc(size_t(count) + 1, sizeof(T)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 10 || size > 30000)
        return 0;
    const int fd = memoryFile();
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size))
        return 0;
    MappedFile stream;
    stream.openFile(("/proc/self/fd/" + std::to_string(fd)).c_str());
    if (!stream.isMapped())
        return 0;

    Rasterizer r;
    r.stackSize = 2 * data[0] + 1;
    r.stackbase = table<int32_t>(r.stackSize);
    r.sizeStor = 2 * data[1];
    r.storage = table<int32_t>(r.sizeStor);
    r.sizeFDefs = 2 * data[2];
    r.fdefs = table<FunctionDef>(r.sizeFDefs);
    r.sizeIDefs = 256;
    r.idefs = table<FunctionDef>(256);
    r.twilightSize = 2 * data[3];
    r.twilight = table<OutlinePoint>(r.twilightSize);
    r.zone[TWILIGHT_ZONE] = r.twilight;
    r.zoneSize[TWILIGHT_ZONE] = data[3];
    r.sizeCvt = 2 * data[4];
    r.cvt = table<int32_t>(r.sizeCvt);
    r.scaleXX = r.scaleYY = 12;
    r.ppem = r.ppemX = r.ppemY = 12;

    const int32_t fontLength = data[5] << 8 | data[6];
    const int32_t cvtLength = data[7] << 8 | data[8];
    const int32_t start = 9;
    const int32_t total = int32_t(size);
    auto run = [&](int32_t offset, int32_t length) {
        r.hintFailure = nullptr;
        r.callDepth = 0;
        r.instructionsLeft = 100000;
        r.stackTop = 0;
        r.gs = GraphicsState{};
        r.execHints(stream, offset, length);
    };
    const int32_t cvtStart = std::min(total, start + fontLength);
    const int32_t glyphStart = std::min(total, cvtStart + cvtLength);
    run(start, cvtStart - start);
    run(cvtStart, glyphStart - cvtStart);

    // A glyph of two contours, 6 points and the two phantom points.
    OutlinePoint points[8] = {{0, 0, 0, 0, 1}, {640, 0, 640, 0, 1}, {640, 640, 640, 640, 0},
                              {100, 100, 100, 100, 1}, {200, 100, 200, 100, 1}, {150, 300, 150, 300, 0},
                              {0, 0, 0, 0, 0}, {704, 0, 704, 0, 0}};
    int32_t ends[2] = {2, 5};
    r.zone[GLYPH_ZONE] = points;
    r.zoneSize[GLYPH_ZONE] = 6;
    r.contourEnds = r.contourArray = ends;
    r.contourCount = 2;
    r.sizeContours = 2;
    run(glyphStart, total - glyphStart);
    r.contourArray = nullptr;
    r.sizeContours = 0;
    stream.release();
    return 0;
}
