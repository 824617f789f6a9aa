// Draws one line of text in a font that the X server gets from a font server,
// reads the window back and reports what was drawn:
//
//   xtext_probe FONTNAME TEXT [OUT.png]
//
// Uses $DISPLAY. Prints key=value lines: the font's FONT property, its
// ascent and descent, the
// advance of every character of TEXT, XTextWidth of the whole line, and the
// box of the ink found in the window (ink_left/ink_right relative to the
// pen's start). With OUT.png also saves the window as a picture. Exits 2 when
// the font cannot be loaded.
#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

void putBig32(std::vector<unsigned char>& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>(value >> shift));
}

void writeChunk(FILE* file, const char* type, const std::vector<unsigned char>& data)
{
    std::vector<unsigned char> chunk;
    putBig32(chunk, static_cast<uint32_t>(data.size()));
    chunk.insert(chunk.end(), type, type + 4);
    chunk.insert(chunk.end(), data.begin(), data.end());
    const uLong crc = crc32(0, chunk.data() + 4, static_cast<uInt>(chunk.size() - 4));
    putBig32(chunk, static_cast<uint32_t>(crc));
    std::fwrite(chunk.data(), 1, chunk.size(), file);
}

// An 8-bit grey PNG of the window contents.
bool savePng(const char* path, const std::vector<unsigned char>& grey, int width, int height)
{
    FILE* file = std::fopen(path, "wb");
    if (!file)
        return false;
    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::fwrite(signature, 1, sizeof signature, file);
    std::vector<unsigned char> header;
    putBig32(header, width);
    putBig32(header, height);
    header.insert(header.end(), {8, 0, 0, 0, 0});
    writeChunk(file, "IHDR", header);
    std::vector<unsigned char> raw;
    for (int y = 0; y < height; y++) {
        raw.push_back(0);
        raw.insert(raw.end(), grey.begin() + y * width, grey.begin() + (y + 1) * width);
    }
    uLongf packedSize = compressBound(raw.size());
    std::vector<unsigned char> packed(packedSize);
    compress2(packed.data(), &packedSize, raw.data(), raw.size(), 9);
    packed.resize(packedSize);
    writeChunk(file, "IDAT", packed);
    writeChunk(file, "IEND", {});
    return std::fclose(file) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: xtext_probe FONTNAME TEXT [OUT.png]\n");
        return 1;
    }
    const char* fontName = argv[1];
    const std::string text = argv[2];
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "cannot open display\n");
        return 1;
    }
    XFontStruct* font = XLoadQueryFont(display, fontName);
    if (!font) {
        std::fprintf(stderr, "cannot load font %s\n", fontName);
        return 2;
    }
    // Room for the line in fonts of any size: at least 640 by 120 pixels,
    // the baseline at 80 or lower when the font is taller.
    const int textWidth = XTextWidth(font, text.data(), static_cast<int>(text.size()));
    const int penX = 20, baseline = std::max(80, font->ascent + 20);
    const int width = std::max(640, textWidth + 2 * penX);
    const int height = std::max(120, baseline + font->descent + 20);
    const int screen = DefaultScreen(display);
    Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, width, height, 0,
                                        BlackPixel(display, screen), WhitePixel(display, screen));
    Pixmap canvas = XCreatePixmap(display, window, width, height, DefaultDepth(display, screen));
    GC gc = XCreateGC(display, canvas, 0, nullptr);
    XSetForeground(display, gc, WhitePixel(display, screen));
    XFillRectangle(display, canvas, gc, 0, 0, width, height);
    XSetForeground(display, gc, BlackPixel(display, screen));
    XSetFont(display, gc, font->fid);
    XDrawString(display, canvas, gc, penX, baseline, text.data(), static_cast<int>(text.size()));
    XSync(display, False);

    XImage* image = XGetImage(display, canvas, 0, 0, width, height, AllPlanes, ZPixmap);
    const unsigned long white = WhitePixel(display, screen);
    std::vector<unsigned char> grey(static_cast<size_t>(width) * height, 255);
    int inkLeft = width, inkRight = -1, inkTop = height, inkBottom = -1;
    long inkPixels = 0;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            if (XGetPixel(image, x, y) != white) {
                grey[static_cast<size_t>(y) * width + x] = 0;
                inkPixels++;
                inkLeft = std::min(inkLeft, x);
                inkRight = std::max(inkRight, x);
                inkTop = std::min(inkTop, y);
                inkBottom = std::max(inkBottom, y);
            }

    unsigned long nameAtom = 0;
    if (XGetFontProperty(font, XA_FONT, &nameAtom)) {
        char* name = XGetAtomName(display, nameAtom);
        std::printf("font_property=%s\n", name ? name : "");
        XFree(name);
    }
    std::printf("ascent=%d\ndescent=%d\n", font->ascent, font->descent);
    std::printf("text_width=%d\n", textWidth);
    std::printf("advances=");
    for (size_t i = 0; i < text.size(); i++) {
        XCharStruct extent;
        int direction, ascent, descent;
        XTextExtents(font, &text[i], 1, &direction, &ascent, &descent, &extent);
        std::printf("%s%d", i ? "," : "", extent.width);
    }
    std::printf("\nink_pixels=%ld\n", inkPixels);
    if (inkPixels)
        std::printf("ink_left=%d\nink_right=%d\nink_top=%d\nink_bottom=%d\n", inkLeft - penX,
                    inkRight - penX, baseline - inkTop, inkBottom - baseline);
    if (argc > 3 && !savePng(argv[3], grey, width, height)) {
        std::fprintf(stderr, "cannot write %s\n", argv[3]);
        return 1;
    }
    XDestroyImage(image);
    XFreeFont(display, font);
    XCloseDisplay(display);
    return 0;
}
