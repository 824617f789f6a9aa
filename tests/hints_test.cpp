// The hinting interpreter instruction by instruction: each case is a small
// program in assembly, a start state, and the stack, graphics state or
// points it must leave, run through execHints on an in-memory glyph zone.
#include "font/mapped_file.h"
#include "raster/raster.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

// --- A small assembler ---------------------------------------------------
// Mnemonics with their opcode; a bracketed suffix adds its bits, written in
// binary as instruction listings write them (MIRP[11100] = 0xE0 | 0x1C).
// After NPUSHB and PUSHB numbers are bytes, after NPUSHW and PUSHW words;
// PUSH pushes its numbers as one NPUSHW; any other number is a raw byte.
const std::map<std::string, int> OPCODES = {
    {"SVTCA", 0x00}, {"SPVTCA", 0x02}, {"SFVTCA", 0x04}, {"SPVTL", 0x06}, {"SFVTL", 0x08}, {"SPVFS", 0x0A},
    {"SFVFS", 0x0B}, {"GPV", 0x0C}, {"GFV", 0x0D}, {"SFVTPV", 0x0E}, {"ISECT", 0x0F}, {"SRP0", 0x10},
    {"SRP1", 0x11}, {"SRP2", 0x12}, {"SZP0", 0x13}, {"SZP1", 0x14}, {"SZP2", 0x15}, {"SZPS", 0x16},
    {"SLOOP", 0x17}, {"RTG", 0x18}, {"RTHG", 0x19}, {"SMD", 0x1A}, {"ELSE", 0x1B}, {"JMPR", 0x1C},
    {"SCVTCI", 0x1D}, {"SSWCI", 0x1E}, {"SSW", 0x1F}, {"DUP", 0x20}, {"POP", 0x21}, {"CLEAR", 0x22},
    {"SWAP", 0x23}, {"DEPTH", 0x24}, {"CINDEX", 0x25}, {"MINDEX", 0x26}, {"ALIGNPTS", 0x27}, {"UTP", 0x29},
    {"LOOPCALL", 0x2A}, {"CALL", 0x2B}, {"FDEF", 0x2C}, {"ENDF", 0x2D}, {"MDAP", 0x2E}, {"IUP", 0x30},
    {"SHP", 0x32}, {"SHC", 0x34}, {"SHZ", 0x36}, {"SHPIX", 0x38}, {"IP", 0x39}, {"MSIRP", 0x3A},
    {"ALIGNRP", 0x3C}, {"RTDG", 0x3D}, {"MIAP", 0x3E}, {"NPUSHB", 0x40}, {"NPUSHW", 0x41}, {"WS", 0x42},
    {"RS", 0x43}, {"WCVTP", 0x44}, {"RCVT", 0x45}, {"GC", 0x46}, {"SCFS", 0x48}, {"MD", 0x49},
    {"MPPEM", 0x4B}, {"MPS", 0x4C}, {"FLIPON", 0x4D}, {"FLIPOFF", 0x4E}, {"DEBUG", 0x4F}, {"LT", 0x50},
    {"LTEQ", 0x51}, {"GT", 0x52}, {"GTEQ", 0x53}, {"EQ", 0x54}, {"NEQ", 0x55}, {"ODD", 0x56}, {"EVEN", 0x57},
    {"IF", 0x58}, {"EIF", 0x59}, {"AND", 0x5A}, {"OR", 0x5B}, {"NOT", 0x5C}, {"DELTAP1", 0x5D}, {"SDB", 0x5E},
    {"SDS", 0x5F}, {"ADD", 0x60}, {"SUB", 0x61}, {"DIV", 0x62}, {"MUL", 0x63}, {"ABS", 0x64}, {"NEG", 0x65},
    {"FLOOR", 0x66}, {"CEILING", 0x67}, {"ROUND", 0x68}, {"NROUND", 0x6C}, {"WCVTF", 0x70},
    {"DELTAP2", 0x71}, {"DELTAP3", 0x72}, {"DELTAC1", 0x73}, {"DELTAC2", 0x74}, {"DELTAC3", 0x75},
    {"SROUND", 0x76}, {"S45ROUND", 0x77}, {"JROT", 0x78}, {"JROF", 0x79}, {"ROFF", 0x7A}, {"RUTG", 0x7C},
    {"RDTG", 0x7D}, {"SANGW", 0x7E}, {"AA", 0x7F}, {"FLIPPT", 0x80}, {"FLIPRGON", 0x81}, {"FLIPRGOFF", 0x82},
    {"SCANCTRL", 0x85}, {"SDPVTL", 0x86}, {"GETINFO", 0x88}, {"IDEF", 0x89}, {"ROLL", 0x8A}, {"MAX", 0x8B},
    {"MIN", 0x8C}, {"SCANTYPE", 0x8D}, {"INSTCTRL", 0x8E}, {"PUSHB", 0xAF}, {"PUSHW", 0xB7}, {"MDRP", 0xC0},
    {"MIRP", 0xE0},
};

std::vector<uint8_t> assemble(const std::string& text)
{
    std::vector<uint8_t> code;
    std::istringstream in(text);
    std::string token;
    enum { RAW, BYTES, WORDS } data = RAW;
    bool countPending = false; // NPUSHW's count is a byte
    size_t countAt = 0;
    std::vector<int> pushed;
    bool pushing = false;
    auto flushPush = [&] {
        if (!pushing)
            return;
        code.push_back(0x41);
        code.push_back(uint8_t(pushed.size()));
        for (int v : pushed) {
            code.push_back(uint8_t(v >> 8));
            code.push_back(uint8_t(v));
        }
        pushed.clear();
        pushing = false;
    };
    while (in >> token) {
        if (std::isdigit(static_cast<unsigned char>(token[0])) || token[0] == '-') {
            int v = int(std::strtol(token.c_str(), nullptr, 0));
            if (pushing) {
                pushed.push_back(v);
                continue;
            }
            const bool word = data == WORDS && !countPending;
            countPending = false;
            if (word) {
                code.push_back(uint8_t(v >> 8));
                code.push_back(uint8_t(v));
            } else {
                code.push_back(uint8_t(v));
            }
            // PUSHB[]/PUSHW[] count their data in the opcode.
            if (countAt && (code[countAt - 1] == 0xAF || code[countAt - 1] == 0xB7 || code[countAt - 1] >= 0xB0))
                code[countAt - 1]++;
            continue;
        }
        flushPush();
        data = RAW;
        countAt = 0;
        if (token == "PUSH") {
            pushing = true;
            continue;
        }
        std::string name = token, bits;
        if (size_t open = token.find('['); open != std::string::npos) {
            name = token.substr(0, open);
            bits = token.substr(open + 1, token.size() - open - 2);
        }
        auto found = OPCODES.find(name);
        if (found == OPCODES.end()) {
            ADD_FAILURE() << "unknown mnemonic " << token;
            continue;
        }
        int opcode = found->second + (bits.empty() ? 0 : int(std::strtol(bits.c_str(), nullptr, 2)));
        code.push_back(uint8_t(opcode));
        if (name == "NPUSHB" || name == "PUSHB")
            data = BYTES;
        if (name == "NPUSHW" || name == "PUSHW")
            data = WORDS;
        countPending = name == "NPUSHW";
        if (name == "PUSHB" || name == "PUSHW")
            countAt = code.size();
    }
    flushPush();
    return code;
}

// An instruction stream mapped from memory, as the font's tables are.
struct Program {
    MappedFile file;
    int32_t length = 0;

    explicit Program(const std::vector<uint8_t>& code)
    {
        int fd = memfd_create("hints_test", 0);
        std::vector<uint8_t> bytes = code;
        bytes.push_back(0); // a mapping needs one byte
        EXPECT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        file.openFile(("/proc/self/fd/" + std::to_string(fd)).c_str());
        close(fd);
        length = int32_t(code.size());
    }
    ~Program() { file.release(); }
};

// A Rasterizer with interpreter tables of known sizes and a glyph zone of
// its own: points 0 .. n - 1 on contours ending at `ends`, then the two
// phantom points.
struct Machine {
    Rasterizer r;
    std::vector<OutlinePoint> points;
    std::vector<int32_t> ends;

    Machine()
    {
        r.stackSize = 64;
        r.stackbase = static_cast<int32_t*>(std::calloc(64, sizeof(int32_t)));
        r.sizeCvt = 8;
        r.cvt = static_cast<int32_t*>(std::calloc(8, sizeof(int32_t)));
        r.sizeStor = 8;
        r.storage = static_cast<int32_t*>(std::calloc(8, sizeof(int32_t)));
        r.sizeFDefs = 8;
        r.fdefs = static_cast<FunctionDef*>(std::calloc(8, sizeof(FunctionDef)));
        r.sizeIDefs = 256;
        r.idefs = static_cast<FunctionDef*>(std::calloc(256, sizeof(FunctionDef)));
        r.twilightSize = 4;
        r.twilight = static_cast<OutlinePoint*>(std::calloc(4, sizeof(OutlinePoint)));
        r.zone[TWILIGHT_ZONE] = r.twilight;
        r.zoneSize[TWILIGHT_ZONE] = 2;
        r.ppem = r.ppemX = r.ppemY = 12;
        r.scaleXX = r.scaleYY = 12;
        setPoints({{0, 0}, {640, 0}, {640, 640}, {0, 640}}, {3});
    }

    // The contour ends are the test's own, not the Rasterizer's to free.
    ~Machine()
    {
        r.contourArray = nullptr;
        r.sizeContours = 0;
    }

    // Points given as (x, y) in 26.6; current and original alike.
    void setPoints(const std::vector<std::pair<int32_t, int32_t>>& xy, std::vector<int32_t> contourEnds)
    {
        points.clear();
        for (auto [x, y] : xy)
            points.push_back({x, y, x, y, POINT_ON_CURVE});
        points.push_back({});
        points.push_back({});
        ends = std::move(contourEnds);
        r.zone[GLYPH_ZONE] = points.data();
        r.zoneSize[GLYPH_ZONE] = int32_t(xy.size());
        r.contourEnds = ends.data();
        r.contourCount = int32_t(ends.size());
        r.contourArray = ends.data();
        r.sizeContours = int32_t(ends.size());
    }

    // Runs the program as a glyph program runs: fresh graphics state
    // unless the case set one, empty stack, fresh budget.
    void run(const std::string& text, const std::vector<int32_t>& stack = {})
    {
        program = std::make_unique<Program>(assemble(text));
        r.stackTop = 0;
        for (int32_t v : stack)
            r.push(v);
        r.hintFailure = nullptr;
        r.callDepth = 0;
        r.instructionsLeft = 100000;
        r.execHints(program->file, 0, program->length);
    }

    std::vector<int32_t> stack() const
    {
        return std::vector<int32_t>(r.stackbase + 1, r.stackbase + 1 + std::max(r.stackTop, 0));
    }

    std::unique_ptr<Program> program;
};

struct StackCase {
    const char* program;
    std::vector<int32_t> start;
    std::vector<int32_t> expected;
};

// --- Stack, arithmetic, logic, flow, definitions, storage ----------------

TEST(HintsStack, InstructionsLeaveTheExpectedStack)
{
    const StackCase cases[] = {
        {"NPUSHW 2 -1 255", {}, {-1, 255}},
        {"NPUSHB 2 255 1", {}, {255, 1}},
        {"PUSHB 7 8 9", {}, {7, 8, 9}},
        {"PUSHW 300 -2", {}, {300, -2}},
        {"DUP", {5}, {5, 5}},
        {"POP", {5, 6}, {5}},
        {"CLEAR", {1, 2, 3}, {}},
        {"SWAP", {1, 2}, {2, 1}},
        {"DEPTH", {4, 4, 4}, {4, 4, 4, 3}},
        {"CINDEX", {7, 8, 1}, {7, 8, 8}},
        {"CINDEX", {7, 8, 2}, {7, 8, 7}},
        {"CINDEX", {7, 0}, {7, 0}},
        {"MINDEX", {1, 2, 3, 3}, {2, 3, 1}},
        {"MINDEX", {1, 2, 3, 1}, {1, 2, 3}},
        {"MINDEX", {1, 2, 0}, {1, 2, 0}},
        {"ROLL", {1, 2, 3}, {2, 3, 1}},
        {"ADD", {3, 4}, {7}},
        {"ADD", {0x7FFFFFFF, 1}, {INT32_MIN}},
        {"SUB", {3, 4}, {-1}},
        {"MUL", {96, 96}, {144}},
        {"DIV", {1, 2}, {32}},
        {"DIV", {5, 0}, {0x7FFFFFF}},
        {"DIV", {-5, 0}, {-0x7FFFFFF}},
        {"DIV", {-64, 3}, {-1365}},
        {"ABS", {-7}, {7}},
        {"NEG", {7}, {-7}},
        {"FLOOR", {-1}, {-64}},
        {"CEILING", {65}, {128}},
        {"MAX", {-3, 2}, {2}},
        {"MIN", {-3, 2}, {-3}},
        {"LT", {1, 2}, {1}},
        {"LTEQ", {2, 2}, {1}},
        {"GT", {1, 2}, {0}},
        {"GTEQ", {1, 2}, {0}},
        {"EQ", {2, 2}, {1}},
        {"NEQ", {2, 2}, {0}},
        {"AND", {2, 0}, {0}},
        {"OR", {2, 0}, {1}},
        {"NOT", {0}, {1}},
        {"ODD", {64}, {1}},
        {"EVEN", {96}, {1}},
        {"RUTG ROUND", {1}, {64}},
        {"RUTG ROUND", {0}, {0}},
        {"RUTG ROUND", {64}, {64}},
        {"RTHG ROUND", {0}, {32}},
        {"RTHG ROUND", {64}, {96}},
        {"ROFF ROUND", {-7}, {-7}},
        {"RTG ROUND", {-32}, {-64}},
        {"RDTG ROUND", {127}, {64}},
        {"RTDG ROUND", {47}, {32}},
        {"NROUND", {33}, {33}},
        {"SROUND ROUND", {31, 0x48}, {0}},
        {"SROUND ROUND", {32, 0x48}, {64}},
        {"IF PUSH 1 ELSE PUSH 2 EIF", {1}, {1}},
        {"IF PUSH 1 ELSE PUSH 2 EIF", {0}, {2}},
        // A false IF skips nested blocks, definitions and push data that
        // holds the byte of EIF.
        {"IF IF PUSH 1 ELSE PUSH 2 EIF FDEF ENDF PUSHB 0x59 EIF PUSH 3", {0}, {3}},
        {"IF PUSHB 0x59 ELSE PUSH 4 EIF", {0}, {4}},
        {"JROT PUSH 1", {5, 0}, {1}},
        {"PUSH 1 JMPR PUSH 9", {}, {9}},
        {"PUSH 5 0 JROF PUSH 8 PUSH 9", {}, {9}},
        {"WS PUSH 3 RS", {3, 42}, {42}},
        {"PUSH 5 RS", {}, {0}},
        {"WCVTP PUSH 2 RCVT", {2, -100}, {-100}},
        {"WCVTF PUSH 1 RCVT", {1, 64}, {24}},
        {"DEBUG", {1}, {1}},
        {"SANGW", {1, 2}, {1}},
        {"AA", {1, 2}, {1}},
        {"MPPEM", {}, {12}},
        {"MPS", {}, {12}},
        {"GETINFO", {1}, {3}},
        {"GETINFO", {6}, {0}},
        // A function defined and called in one stream returns after CALL.
        {"PUSH 3 FDEF PUSH 7 ENDF PUSH 3 CALL PUSH 8", {}, {7, 8}},
        {"PUSH 1 FDEF PUSH 6 ENDF PUSH 3 1 LOOPCALL", {}, {6, 6, 6}},
        {"PUSH 1 FDEF PUSH 6 ENDF PUSH 0 1 LOOPCALL PUSH -2 1 LOOPCALL", {}, {}},
        // IDEF gives an undefined opcode a body; without one it does nothing.
        {"PUSH 0x91 IDEF PUSH 5 ENDF 0x91 0x92", {}, {5}},
    };
    for (const StackCase& c : cases) {
        Machine m;
        m.r.cvt[1] = 0;
        m.run(c.program, c.start);
        EXPECT_FALSE(m.r.failed()) << c.program << ": " << m.r.hintFailure;
        EXPECT_EQ(m.stack(), c.expected) << c.program;
    }
}

TEST(HintsStack, GraphicsStateSetters)
{
    struct Case {
        const char* program;
        std::function<int32_t(const GraphicsState&)> field;
        int32_t expected;
    };
    const Case cases[] = {
        {"PUSH 0 SZP0", [](auto& gs) { return gs.zp0; }, 0},
        {"PUSH 0 SZPS", [](auto& gs) { return gs.zp2; }, 0},
        {"PUSH 5 SLOOP", [](auto& gs) { return gs.loop; }, 5},
        {"PUSH 96 SMD", [](auto& gs) { return gs.minDistance; }, 96},
        {"PUSH 40 SCVTCI", [](auto& gs) { return gs.cvtCutIn; }, 40},
        {"PUSH 3 SDB", [](auto& gs) { return gs.deltaBase; }, 3},
        {"FLIPOFF", [](auto& gs) { return gs.autoFlip; }, 0},
        {"PUSH 0x1FF SCANCTRL", [](auto& gs) { return gs.dropoutControl; }, 1},
        {"PUSH 0x909 SCANCTRL", [](auto& gs) { return gs.dropoutControl; }, 0},
        {"PUSH 0x100 SCANCTRL", [](auto& gs) { return gs.dropoutControl; }, 0},
        {"PUSH 0xB8 SROUND", [](auto& gs) { return gs.roundPhase; }, 96},
        {"PUSH 0x78 SROUND", [](auto& gs) { return gs.roundPhase; }, 48},
        {"PUSH 0x48 SROUND", [](auto& gs) { return gs.roundThreshold; }, 32},
        {"PUSH 0x40 SROUND", [](auto& gs) { return gs.roundThreshold; }, 63},
        {"PUSH 0x4A S45ROUND", [](auto& gs) { return gs.roundPeriod; }, 22},
        {"PUSH 0xC0 S45ROUND", [](auto& gs) { return gs.roundPeriod; }, 90},
    };
    for (const Case& c : cases) {
        Machine m;
        m.run(c.program);
        EXPECT_FALSE(m.r.failed()) << c.program;
        EXPECT_EQ(c.field(m.r.gs), c.expected) << c.program;
    }
}

TEST(HintsStack, InstctrlTurnsGlyphProgramsOffOnlyForSelectorOne)
{
    struct Case {
        const char* program;
        int32_t hinting;
    };
    for (const Case& c : {Case{"PUSH 1 1 INSTCTRL", -1}, Case{"PUSH 1 2 INSTCTRL", 1}, Case{"PUSH 0 1 INSTCTRL", 1}}) {
        Machine m;
        m.run(c.program);
        EXPECT_EQ(m.r.hinting, c.hinting) << c.program;
    }
}

// Every failed limit abandons the program at once: nothing after the
// failing instruction runs, and the condition is recorded.
TEST(HintsLimits, FailedLimitsAbandonTheProgram)
{
    struct Case {
        const char* program;
        const char* condition;
    };
    const Case cases[] = {
        {"POP POP PUSH 1", "stack >= stackbase"},
        {"PUSH 8 5 WS PUSH 1", "n >= 0 && n < sizeStor"},
        {"PUSH -1 RS PUSH 1", "m >= 0 && m < sizeStor"},
        {"PUSH 8 RCVT PUSH 1", "m >= 0 && m < sizeCvt"},
        {"PUSH 9 FDEF ENDF PUSH 1", "m >= 0 && m < sizeFDefs"},
        {"PUSH 9 CALL PUSH 1", "m >= 0 && m < sizeFDefs"},
        {"PUSH 256 IDEF ENDF PUSH 1", "m >= 0 && m < sizeIDefs"},
        {"PUSH 2 SZP0 PUSH 1", "m >= 0 && m <= 1"},
        {"PUSH 1 SHC PUSH 1", "m >= 0 && m < sizeContours"},
        {"PUSH 2 SHZ PUSH 1", "m >= 0 && m <= 1"},
        {"PUSH 3 CINDEX PUSH 1", "stack - m >= stackbase"},
        {"PUSH 7 MDAP[0] PUSH 1", "p >= 0 && p <= zoneSize[1] + 1"},
        {"PUSH 0 SZP0 PUSH 4 MDAP[0] PUSH 1", "p >= 0 && p < twilightSize"},
        {"PUSH 0 9 MIAP[0] PUSH 1", "n >= 0 && n < sizeCvt"},
        {"PUSH 7 SDS PUSH 1 0x33 1 DELTAP1 PUSH 1", "deltaShift >= 0 && deltaShift <= 6"},
        {"PUSH -10 JMPR", "jump target >= start of program"},
    };
    for (const Case& c : cases) {
        Machine m;
        m.run(c.program);
        ASSERT_TRUE(m.r.failed()) << c.program;
        EXPECT_STREQ(m.r.hintFailure, c.condition) << c.program;
        EXPECT_TRUE(m.stack().empty() || m.stack().back() != 1) << c.program << ": ran on after the failure";
    }
}

TEST(HintsLimits, PopsFromAnEmptyStackFailBeforeTheNextInstruction)
{
    // One value too few: the instruction completes with the unused slot and
    // the check before the next instruction ends the program.
    Machine m;
    m.run("SRP0 PUSH 1");
    EXPECT_STREQ(m.r.hintFailure, "stack >= stackbase");
    EXPECT_EQ(m.r.gs.rp0, 0);
    // An instruction that pops two and pushes one leaves the stack empty,
    // not below its base, and the program goes on.
    Machine n;
    n.run("ADD PUSH 1", {5});
    EXPECT_FALSE(n.r.failed());
    EXPECT_EQ(n.stack(), std::vector<int32_t>({1}));
}

TEST(HintsLimits, EndlessProgramsEndWithinTheirBudget)
{
    struct Case {
        const char* program;
        const char* condition;
    };
    const Case cases[] = {
        {"PUSH -4 JMPR", "instructions within the program's budget"}, // a loop back to its push
        {"PUSH 1 FDEF PUSH 1 CALL ENDF PUSH 1 CALL", "call depth <= 64"},
        {"PUSH 1 FDEF PUSH 1 POP ENDF PUSH 32767 1 LOOPCALL", "instructions within the program's budget"},
        // Loops of a function that was never defined still count.
        {"PUSH 2 FDEF PUSH 32767 3 LOOPCALL ENDF PUSH 32767 2 LOOPCALL", "instructions within the program's budget"},
        {"PUSH 32767 SLOOP PUSH 0 FLIPPT", "stack >= stackbase"},
    };
    for (const Case& c : cases) {
        Machine m;
        m.run(c.program);
        EXPECT_STREQ(m.r.hintFailure, c.condition) << c.program;
        EXPECT_GT(m.r.instructionsLeft, -1000) << c.program;
    }
}

TEST(HintsLimits, ProgramsOutsideTheirStreamDoNotRun)
{
    Machine m;
    Program program(assemble("PUSH 1"));
    m.r.instructionsLeft = 100;
    m.r.execHints(program.file, 2, program.length);
    EXPECT_STREQ(m.r.hintFailure, "offset + length <= stream length");
    EXPECT_EQ(m.r.stackTop, 0);
    m.r.hintFailure = nullptr;
    m.r.execHints(program.file, 0, 10001);
    EXPECT_STREQ(m.r.hintFailure, "0 <= length && length <= 10000");
}

// --- Vectors, measurement and single-point moves -------------------------

struct PointCase {
    const char* program;
    int point;
    int32_t x, y;
    uint32_t touched;
};

void expectPoints(const PointCase* begin, const PointCase* end,
                  const std::function<void(Machine&)>& setUp = [](Machine&) {})
{
    for (const PointCase* c = begin; c != end; c++) {
        Machine m;
        setUp(m);
        m.run(c->program);
        EXPECT_FALSE(m.r.failed()) << c->program << ": " << m.r.hintFailure;
        const OutlinePoint& p = m.points[c->point];
        EXPECT_EQ(p.x, c->x) << c->program;
        EXPECT_EQ(p.y, c->y) << c->program;
        EXPECT_EQ(p.flags & (POINT_TOUCHED_X | POINT_TOUCHED_Y), c->touched) << c->program;
    }
}

TEST(HintsMoves, VectorSetters)
{
    struct Case {
        const char* program;
        std::vector<int32_t> expected; // after GPV GFV
    };
    const Case cases[] = {
        {"SVTCA[0]", {0, 0x4000, 0, 0x4000}},
        {"SPVTCA[1] SFVTCA[0]", {0x4000, 0, 0, 0x4000}},
        // From (0, 0) to (640, 640): 45 degrees.
        {"PUSH 2 0 SPVTL[0]", {11585, 11585, 0x4000, 0}},
        {"PUSH 2 0 SPVTL[1]", {11585, -11585, 0x4000, 0}},
        {"PUSH 3 0 SFVTL[0]", {0x4000, 0, 0, 0x4000}},
        {"PUSH 0 0 SPVTL[0]", {0, 0, 0x4000, 0}},
        {"PUSH 100 200 SPVFS", {100, 200, 0x4000, 0}},
        {"PUSH 0 0x4000 SPVFS SFVTPV", {0, 0x4000, 0, 0x4000}},
        {"PUSH 2 0 SDPVTL[1]", {-11585, 11585, 0x4000, 0}},
    };
    for (const Case& c : cases) {
        Machine m;
        m.run(std::string(c.program) + " GPV GFV");
        EXPECT_FALSE(m.r.failed()) << c.program;
        EXPECT_EQ(m.stack(), c.expected) << c.program;
    }
}

TEST(HintsMoves, AxisSettersAndMoveFactors)
{
    Machine m;
    m.run("SVTCA[0] SFVTCA[1]");
    // Freedom along x while projecting on y: nothing can move or be touched.
    EXPECT_EQ(m.r.gs.moveX, 0);
    EXPECT_EQ(m.r.gs.moveY, 0);
    EXPECT_EQ(m.r.gs.touchMask, 0u);
    Machine coinciding;
    coinciding.run("PUSH 0 0 SPVTL[0] MPPEM");
    EXPECT_EQ(coinciding.stack(), std::vector<int32_t>({0}));
}

TEST(HintsMoves, MeasuringInstructions)
{
    const StackCase cases[] = {
        {"PUSH 2 GC[0]", {}, {640}},
        {"SVTCA[0] PUSH 2 GC[1]", {}, {640}},
        {"PUSH 0 1 MD[1]", {}, {-600}},
        {"PUSH 1 0 MD[0]", {}, {640}},
    };
    for (const StackCase& c : cases) {
        Machine m;
        m.points[1].orgX = 600;
        m.run(c.program, c.start);
        EXPECT_EQ(m.stack(), c.expected) << c.program;
    }
}

TEST(HintsMoves, SinglePointMoves)
{
    const PointCase cases[] = {
        // MDAP[1] rounds along x and touches; MDAP[0] only touches.
        {"PUSH 4 MDAP[1]", 4, 128, 30, POINT_TOUCHED_X},
        {"PUSH 4 MDAP[0]", 4, 100, 30, POINT_TOUCHED_X},
        // MIAP[1]: |100 - 100| within the cut-in, control value rounded.
        {"PUSH 4 0 MIAP[1]", 4, 128, 30, POINT_TOUCHED_X},
        // cvt 1 = 60 lies within the cut-in of the point at 100: 64.
        {"PUSH 4 1 MIAP[1]", 4, 64, 30, POINT_TOUCHED_X},
        {"PUSH 0 1 MIAP[1]", 0, 64, 0, POINT_TOUCHED_X},
        // cvt 2 = 200: more than 68 from 0, so the current 0 is kept.
        {"PUSH 0 2 MIAP[1]", 0, 0, 0, POINT_TOUCHED_X},
        {"PUSH 0 2 MIAP[0]", 0, 200, 0, POINT_TOUCHED_X},
        {"PUSH 0 SRP0 PUSH 4 70 MSIRP[0]", 4, 70, 30, POINT_TOUCHED_X},
        // MDRP: minimum distance first, rounding second (96 -> 128).
        {"PUSH 96 SMD PUSH 0 SRP0 PUSH 5 MDRP[01100]", 5, 128, 0, POINT_TOUCHED_X},
        // MIRP: rounding first (10 -> 0), minimum distance second (96).
        {"PUSH 96 SMD PUSH 0 SRP0 PUSH 5 3 MIRP[01100]", 5, 96, 0, POINT_TOUCHED_X},
        // Auto flip: a control value of 64 against a distance of -70.
        {"PUSH 4 SRP0 PUSH 6 4 MIRP[00000]", 6, 36, 0, POINT_TOUCHED_X},
        // The cut-in: |c - o| equal to it uses the original distance for
        // MIRP; MIAP uses the control value at the same difference.
        {"PUSH 0 SRP0 PUSH 5 5 MIRP[00100]", 5, 0, 0, POINT_TOUCHED_X},
        {"PUSH 5 5 MIAP[1]", 5, 64, 0, POINT_TOUCHED_X},
        // SCFS in the glyph zone moves along the freedom vector.
        {"PUSH 4 300 SCFS", 4, 300, 30, POINT_TOUCHED_X},
    };
    expectPoints(std::begin(cases), std::end(cases), [](Machine& m) {
        m.setPoints({{0, 0}, {640, 0}, {640, 640}, {0, 640}, {100, 30}, {10, 0}, {-70, 0}}, {3, 4, 6});
        m.r.cvt[0] = 100;
        m.r.cvt[1] = 60;
        m.r.cvt[2] = 200;
        m.r.cvt[3] = 10;
        m.r.cvt[4] = 64;
        m.r.cvt[5] = 78; // 68 away from the point at 10
        m.r.gs.cvtCutIn = 68;
        m.r.gs.singleWidthCutIn = 0;
    });
}

TEST(HintsMoves, TwilightPointsAreCreatedNotMoved)
{
    Machine m;
    m.r.cvt[0] = 100;
    m.run("PUSH 0 SZPS PUSH 1 0 MIAP[1]");
    // MIAP: created at the control value, current position rounded.
    EXPECT_EQ(m.r.twilight[1].orgX, 100);
    EXPECT_EQ(m.r.twilight[1].x, 128);
    EXPECT_EQ(m.r.twilight[1].flags, 0u);
    Machine n;
    n.run("PUSH 0 SZP2 PUSH 1 40 SCFS");
    EXPECT_EQ(n.r.twilight[1].x, 40);
    EXPECT_EQ(n.r.twilight[1].orgX, 40);
    EXPECT_EQ(n.r.twilight[1].y, 0);
}

// --- Shifts, interpolation, alignment and deltas -------------------------

TEST(HintsShifts, GroupMoves)
{
    const PointCase cases[] = {
        // rp2 = point 1, moved by 20 first; SHP[0] moves point 2 by as much.
        {"PUSH 1 MDAP[0] PUSH 1 20 SHPIX PUSH 1 SRP2 PUSH 2 SHP[0]", 2, 660, 640, POINT_TOUCHED_X},
        // SHPIX with loop 0 pops its distance and moves nothing.
        {"PUSH 2 0 SLOOP PUSH 64 SHPIX", 2, 640, 640, 0},
        {"PUSH 3 2 2 SLOOP PUSH 64 SHPIX", 3, 64, 640, POINT_TOUCHED_X},
        // SHC skips the reference point itself.
        {"PUSH 0 10 SHPIX PUSH 0 SRP1 PUSH 0 SHC[1]", 0, 10, 0, POINT_TOUCHED_X},
        {"PUSH 0 10 SHPIX PUSH 0 SRP1 PUSH 0 SHC[1]", 3, 10, 640, POINT_TOUCHED_X},
        // SHZ moves the outline but neither the phantom points nor touch bits.
        {"PUSH 0 10 SHPIX PUSH 0 SRP1 PUSH 1 SHZ[1]", 2, 650, 640, 0},
        {"PUSH 0 10 SHPIX PUSH 0 SRP1 PUSH 1 SHZ[1]", 4, 0, 0, 0},
        // ALIGNRP takes rp0's position along the projection.
        {"PUSH 0 SRP0 PUSH 2 ALIGNRP", 2, 0, 640, POINT_TOUCHED_X},
        // ALIGNPTS: both meet halfway.
        {"PUSH 1 0 ALIGNPTS", 0, 320, 0, POINT_TOUCHED_X},
        {"PUSH 1 0 ALIGNPTS", 1, 320, 0, POINT_TOUCHED_X},
        // UTP clears both bits whatever the freedom vector.
        {"PUSH 3 MDAP[0] SVTCA[0] PUSH 3 MDAP[0] SVTCA[1] PUSH 3 UTP", 3, 0, 640, 0},
    };
    expectPoints(std::begin(cases), std::end(cases));
}

TEST(HintsShifts, Interpolation)
{
    const PointCase cases[] = {
        // IP between points 0 (moved to 64) and 1 (640 to 1280): point 2 at
        // original 320 goes to the middle of the new span.
        {"PUSH 0 64 SHPIX PUSH 2 640 SHPIX PUSH 0 SRP1 PUSH 2 SRP2 PUSH 1 IP", 1, 672, 0, POINT_TOUCHED_X},
        // A point beyond rp2 keeps its original distance to rp2.
        {"PUSH 2 640 SHPIX PUSH 0 SRP1 PUSH 2 SRP2 PUSH 3 IP", 3, 1400, 0, POINT_TOUCHED_X},
        // IUP: touched originals 0 and 640, current 0 and 1280: the point at
        // original 320 lands at 642, one unit past the middle.
        {"PUSH 0 MDAP[0] PUSH 2 640 SHPIX IUP[1]", 1, 642, 0, 0},
        // Beyond the touched span it keeps its offset from the nearer end.
        {"PUSH 0 MDAP[0] PUSH 2 640 SHPIX IUP[1]", 3, 1400, 0, 0},
        // One touched point shifts its whole contour.
        {"PUSH 1 30 SHPIX IUP[1]", 0, 30, 0, 0},
        {"PUSH 1 30 SHPIX IUP[1]", 3, 790, 0, 0},
        // A contour with no touched point stays.
        {"PUSH 1 30 SHPIX IUP[1]", 4, 5, 0, 0},
    };
    expectPoints(std::begin(cases), std::end(cases), [](Machine& m) {
        m.setPoints({{0, 0}, {320, 0}, {640, 0}, {760, 0}, {5, 0}}, {3, 4});
    });
}

TEST(HintsShifts, IntersectionOfTwoLines)
{
    Machine m;
    m.setPoints({{0, 0}, {640, 640}, {0, 640}, {640, 0}, {7, 7}}, {4});
    m.run("PUSH 4 0 1 2 3 ISECT");
    // (640 * 409600 - 409600) / 819200 = 319.5 truncated, from B1.
    EXPECT_EQ(m.points[4].x, 321);
    EXPECT_EQ(m.points[4].y, 320);
    EXPECT_EQ(m.points[4].flags & 0xC0, 0xC0u);
    // Parallel lines: the middle of the second line.
    Machine p;
    p.setPoints({{0, 0}, {640, 0}, {0, 64}, {641, 64}, {7, 7}}, {4});
    p.run("PUSH 4 0 1 2 3 ISECT");
    EXPECT_EQ(p.points[4].x, 321);
    EXPECT_EQ(p.points[4].y, 64);
}

TEST(HintsShifts, DeltaExceptions)
{
    const PointCase cases[] = {
        // ppem 12, base 9: nibble 3; argument 0x3F is step +8 = +64.
        {"PUSH 0x3F 0 1 DELTAP1", 0, 64, 0, POINT_TOUCHED_X},
        {"PUSH 0x30 0 1 DELTAP1", 0, -64, 0, POINT_TOUCHED_X},
        {"PUSH 0x47 0 1 DELTAP1", 0, 0, 0, 0},
        // Pushed for nibbles 3 then 5: the 5 is popped first and passed
        // over, and the 3 applies.
        {"PUSH 0x3F 0 0x5F 0 2 DELTAP1", 0, 64, 0, POINT_TOUCHED_X},
        // Pushed 5 then 3, at nibble 5: the 3 popped first ends the list.
        {"PUSH 7 SDB PUSH 0x5F 0 0x3F 0 2 DELTAP1", 0, 0, 0, 0},
        {"PUSH 7 SDB PUSH 0x3F 0 0x5F 0 2 DELTAP1", 0, 64, 0, POINT_TOUCHED_X},
        // deltaShift 0: each step is a whole pixel; 0x39 is step +2.
        {"PUSH 0 SDS PUSH 0x39 0 1 DELTAP1", 0, 128, 0, POINT_TOUCHED_X},
        // DELTAP2 covers 16 sizes above DELTAP1's.
        {"PUSH 0x3F 0 1 DELTAP2", 0, 0, 0, 0},
        {"PUSH -4 SDB PUSH 0x0F 0 1 DELTAP2", 0, 64, 0, POINT_TOUCHED_X},
    };
    expectPoints(std::begin(cases), std::end(cases));
    Machine m;
    m.r.cvt[2] = 100;
    m.run("PUSH 0x37 2 1 DELTAC1");
    EXPECT_EQ(m.r.cvt[2], 92);
}

TEST(HintsShifts, OnCurveFlags)
{
    Machine m;
    m.run("PUSH 0 SZP0 PUSH 1 FLIPPT PUSH 2 3 FLIPRGOFF");
    // FLIPPT works in zp1 (still the glyph zone), not zp0.
    EXPECT_EQ(m.points[1].flags & POINT_ON_CURVE, 0u);
    EXPECT_EQ(m.points[2].flags & POINT_ON_CURVE, 0u);
    EXPECT_EQ(m.points[3].flags & POINT_ON_CURVE, 0u);
    EXPECT_EQ(m.points[0].flags & POINT_ON_CURVE, POINT_ON_CURVE);
    m.run("PUSH 0 1 FLIPRGON");
    EXPECT_EQ(m.points[1].flags & POINT_ON_CURVE, POINT_ON_CURVE);
    // A range whose high end lies below its low end changes nothing.
    m.run("PUSH 3 2 FLIPRGON");
    EXPECT_EQ(m.points[2].flags & POINT_ON_CURVE, 0u);
}

} // namespace
