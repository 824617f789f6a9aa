// Rendering speed: every glyph of a font opened through openFontSlot, in
// microseconds per glyph, hinted beside FreeType's classic TrueType
// interpreter (version 35) rendering the same glyphs hinted in monochrome,
// and unhinted (Rasterizer::hinting 0) beside FreeType without hinting; and
// the peak memory one open instance adds to a process.
// Last, the cost of opening each hostile-program fixture of gen_hints.py,
// beside an honest fixture of the same size, shows the interpreter's work
// bound.
//   raster_speed_bench [font.ttf ...]   (DejaVu Sans and Liberation Sans)
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "raster/raster.h"
#include "raster/raster_slot.h"

#ifdef HAVE_FREETYPE
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_DRIVER_H
#include FT_MODULE_H
#endif

namespace {

using Clock = std::chrono::steady_clock;

double microseconds(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

// Best of a few runs, so that a busy machine disturbs the figure least.
constexpr int RUNS = 5;

double ourMicrosecondsPerGlyph(const char* path, int size, bool hinted, uint32_t& glyphs)
{
    double best = 1e30;
    Rasterizer rasterizer;
    rasterizer.hinting = hinted ? 1 : 0;
    for (int run = 0; run < RUNS; run++) {
        FontParams params = {{size, size, 0, 0}, {0, 0, 0, 0}, 96, 96, 0};
        TrueTypeFont* font = new TrueTypeFont(path, false);
        auto start = Clock::now();
        FontSlot* slot = openFontSlot(font, params, rasterizer, 1, nullptr);
        auto elapsed = Clock::now() - start;
        if (!slot)
            return -1;
        glyphs = slot->glyphCount;
        best = std::min(best, microseconds(elapsed) / glyphs);
        closeFontSlot(*slot);
    }
    return best;
}

#ifdef HAVE_FREETYPE
double freetypeMicrosecondsPerGlyph(const char* path, int size, bool hinted)
{
    FT_Library library;
    FT_Face face;
    if (FT_Init_FreeType(&library))
        return -1;
    FT_UInt v35 = TT_INTERPRETER_VERSION_35;
    FT_Property_Set(library, "truetype", "interpreter-version", &v35);
    if (FT_New_Face(library, path, 0, &face))
        return -1;
    FT_Int32 flags = FT_LOAD_TARGET_MONO | FT_LOAD_NO_BITMAP | (hinted ? FT_LOAD_NO_AUTOHINT : FT_LOAD_NO_HINTING);
    FT_Set_Pixel_Sizes(face, size, size);
    double best = 1e30;
    for (int run = 0; run < RUNS; run++) {
        auto start = Clock::now();
        for (FT_Long g = 0; g < face->num_glyphs; g++)
            if (!FT_Load_Glyph(face, FT_UInt(g), flags))
                FT_Render_Glyph(face->glyph, FT_RENDER_MODE_MONO);
        best = std::min(best, microseconds(Clock::now() - start) / double(face->num_glyphs));
    }
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    return best;
}
#endif

long statusKilobytes(const char* field)
{
    FILE* status = std::fopen("/proc/self/status", "r");
    char line[256];
    long value = -1;
    while (status && std::fgets(line, sizeof line, status))
        if (std::strncmp(line, field, std::strlen(field)) == 0)
            std::sscanf(line + std::strlen(field), "%ld", &value);
    if (status)
        std::fclose(status);
    return value;
}

// In a child of its own: the Rasterizer and one open instance, the peak
// resident memory they add and the kept glyph buffer.
void reportPeakMemory(const char* path, int size)
{
    std::fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
        long before = statusKilobytes("VmRSS:");
        Rasterizer rasterizer;
        FontParams params = {{size, size, 0, 0}, {0, 0, 0, 0}, 96, 96, 0};
        FontSlot* slot = openFontSlot(new TrueTypeFont(path, false), params, rasterizer, 1, nullptr);
        long peak = statusKilobytes("VmHWM:");
        std::printf("  %3d px: peak memory of one instance %6.1f MB, glyph buffer kept %6.2f MB\n", size,
                    (peak - before) / 1024.0, slot ? slot->bufferSize / 1048576.0 : 0.0);
        std::fflush(stdout);
        _exit(0);
    }
    int status;
    waitpid(child, &status, 0);
}

// Milliseconds to open a fixture font at 16 and at 12 px on one Rasterizer.
void reportFixtureOpen(const std::string& name)
{
    const std::string path = std::string(FIXTURE_DIR) + "/" + name + ".ttf";
    Rasterizer rasterizer;
    auto start = Clock::now();
    bool opened = true;
    for (int size : {16, 12}) {
        FontParams params = {{size, size, 0, 0}, {0, 0, 0, 0}, 96, 96, 0};
        FontSlot* slot = openFontSlot(new TrueTypeFont(path.c_str(), false), params, rasterizer, 1, nullptr);
        opened = opened && slot;
        if (slot)
            closeFontSlot(*slot);
    }
    std::printf("  %-24s %9.3f ms%s\n", name.c_str(), microseconds(Clock::now() - start) / 1000,
                opened ? "" : "  (refused)");
}

void reportSpeed(const char* path, int size, bool hinted)
{
    uint32_t glyphs = 0;
    double ours = ourMicrosecondsPerGlyph(path, size, hinted, glyphs);
    const char* mode = hinted ? "hinted  " : "unhinted";
#ifdef HAVE_FREETYPE
    double theirs = freetypeMicrosecondsPerGlyph(path, size, hinted);
    std::printf("  %3d px %s: %u glyphs  brassel %7.2f us/glyph  FreeType (%s, mono) %7.2f us/glyph  ratio %.2f\n",
                size, mode, glyphs, ours, hinted ? "v35 hinted" : "unhinted", theirs, ours / theirs);
#else
    std::printf("  %3d px %s: %u glyphs  brassel %7.2f us/glyph\n", size, mode, glyphs, ours);
#endif
}

} // namespace

int main(int argc, char** argv)
{
    static const char* defaults[] = {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
                                     "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf"};
    int count = argc > 1 ? argc - 1 : 2;
    for (int i = 0; i < count; i++) {
        const char* path = argc > 1 ? argv[i + 1] : defaults[i];
        std::printf("%s\n", path);
        for (int size : {12, 16, 24})
            reportSpeed(path, size, true);
        for (int size : {12, 16, 24, 48})
            reportSpeed(path, size, false);
        for (int size : {12, 16, 24, 48})
            reportPeakMemory(path, size);
    }
    if (argc > 1)
        return 0;
    std::printf("opening fixtures at 16 and 12 px (%s)\n", FIXTURE_DIR);
    for (const char* name : {"hints_lifecycle", "hostile_loop_glyph", "hostile_loop_fpgm", "hostile_skip_fpgm",
                             "hostile_loop_prep", "hostile_recursion", "hostile_recursion_prep", "hostile_loopcall",
                             "hostile_points", "hostile_indices", "hostile_stack", "hostile_deltashift",
                             "hostile_opcodes", "hostile_past_end"})
        reportFixtureOpen(name);
    return 0;
}
