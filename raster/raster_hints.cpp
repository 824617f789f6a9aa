// The hinting interpreter: its tables and their growth, the three kinds of
// program (font program, control value program, glyph program), the fetch
// loop with its dispatch table, definitions and calls, skipped blocks, and
// the accessors in which every limit is checked.
//
// A font's programs come from outside, so the interpreter trusts none of
// them. Every value, point, control value and storage location goes through
// an accessor that checks it against its table; a failed check records the
// condition, hands back a harmless stand-in, and the fetch loop abandons the
// program after the instruction. A glyph whose program fails keeps the
// positions it reached; a failed font or control value program turns glyph
// programs off until the next font set-up, as the functions and control
// values they depend on cannot be trusted. Work is bounded as well: every
// program may run at most MAX_PROGRAM_INSTRUCTIONS instructions (loop
// iterations, points walked and bytes skipped count too), calls nest at most
// MAX_CALL_DEPTH deep, and glyph programs draw on the per-open outline work
// bound, so that a hostile font costs at most a small multiple of an honest
// one and no loop in a font makes the server hang.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "font/truetype_font.h"
#include "raster/raster_hints.h"
#include "server/messages.h"

namespace {

// Honest programs run a few thousand instructions at most: in DejaVu and
// Liberation the font programs under 1,500, the control value programs under
// 5,000 and the busiest glyph program (composites included) under 4,200.
constexpr int64_t MAX_PROGRAM_INSTRUCTIONS = 1000000;
// Honest fonts nest calls a handful deep.
constexpr int32_t MAX_CALL_DEPTH = 64;
// The glyph programs of one font together: a base and an allowance per
// glyph (see glyphInstructionsLeft).
constexpr int64_t GLYPH_INSTRUCTIONS_BASE = 1000000;
constexpr int64_t GLYPH_INSTRUCTIONS_PER_GLYPH = 4000;
// A program or definition body longer than this is refused.
constexpr int32_t MAX_PROGRAM_LENGTH = 10000;

constexpr Instruction INSTRUCTIONS[] = {
    // 0x00
    opSVTCA, opSVTCA, opSPVTCA, opSPVTCA, opSFVTCA, opSFVTCA, opSPVTL, opSPVTL,
    opSFVTL, opSFVTL, opSPVFS, opSFVFS, opGPV, opGFV, opSFVTPV, opISECT,
    // 0x10
    opSRP0, opSRP1, opSRP2, opSZP0, opSZP1, opSZP2, opSZPS, opSLOOP,
    opRTG, opRTHG, opSMD, opELSE, opJMPR, opSCVTCI, opSSWCI, opSSW,
    // 0x20
    opDUP, opPOP, opCLEAR, opSWAP, opDEPTH, opCINDEX, opMINDEX, opALIGNPTS,
    opUndefined, opUTP, opLOOPCALL, opCALL, opFDEF, opENDF, opMDAP, opMDAP,
    // 0x30
    opIUP, opIUP, opSHP, opSHP, opSHC, opSHC, opSHZ, opSHZ,
    opSHPIX, opIP, opMSIRP, opMSIRP, opALIGNRP, opRTDG, opMIAP, opMIAP,
    // 0x40
    opNPUSHB, opNPUSHW, opWS, opRS, opWCVTP, opRCVT, opGC, opGC,
    opSCFS, opMD, opMD, opMPPEM, opMPS, opFLIPON, opFLIPOFF, opDEBUG,
    // 0x50
    opLT, opLTEQ, opGT, opGTEQ, opEQ, opNEQ, opODD, opEVEN,
    opIF, opEIF, opAND, opOR, opNOT, opDELTAP, opSDB, opSDS,
    // 0x60
    opADD, opSUB, opDIV, opMUL, opABS, opNEG, opFLOOR, opCEILING,
    opROUND, opROUND, opROUND, opROUND, opNROUND, opNROUND, opNROUND, opNROUND,
    // 0x70
    opWCVTF, opDELTAP, opDELTAP, opDELTAC, opDELTAC, opDELTAC, opSROUND, opS45ROUND,
    opJROT, opJROF, opROFF, opUndefined, opRUTG, opRDTG, opSANGW, opAA,
    // 0x80
    opFLIPPT, opFLIPRGON, opFLIPRGOFF, opUndefined, opUndefined, opSCANCTRL, opSDPVTL, opSDPVTL,
    opGETINFO, opIDEF, opROLL, opMAX, opMIN, opSCANTYPE, opINSTCTRL, opUndefined,
    // 0x90
    opUndefined, opUndefined, opUndefined, opUndefined, opUndefined, opUndefined, opUndefined, opUndefined,
    opUndefined, opUndefined, opUndefined, opUndefined, opUndefined, opUndefined, opUndefined, opUndefined,
    // 0xA0
    opUndefined, opUndefined, opUndefined, opUndefined, opUndefined, opUndefined, opUndefined, opUndefined,
    opUndefined, opUndefined, opUndefined, opUndefined, opUndefined, opUndefined, opUndefined, opUndefined,
    // 0xB0
    opPUSHB, opPUSHB, opPUSHB, opPUSHB, opPUSHB, opPUSHB, opPUSHB, opPUSHB,
    opPUSHW, opPUSHW, opPUSHW, opPUSHW, opPUSHW, opPUSHW, opPUSHW, opPUSHW,
    // 0xC0
    opMDRP, opMDRP, opMDRP, opMDRP, opMDRP, opMDRP, opMDRP, opMDRP,
    opMDRP, opMDRP, opMDRP, opMDRP, opMDRP, opMDRP, opMDRP, opMDRP,
    // 0xD0
    opMDRP, opMDRP, opMDRP, opMDRP, opMDRP, opMDRP, opMDRP, opMDRP,
    opMDRP, opMDRP, opMDRP, opMDRP, opMDRP, opMDRP, opMDRP, opMDRP,
    // 0xE0
    opMIRP, opMIRP, opMIRP, opMIRP, opMIRP, opMIRP, opMIRP, opMIRP,
    opMIRP, opMIRP, opMIRP, opMIRP, opMIRP, opMIRP, opMIRP, opMIRP,
    // 0xF0
    opMIRP, opMIRP, opMIRP, opMIRP, opMIRP, opMIRP, opMIRP, opMIRP,
    opMIRP, opMIRP, opMIRP, opMIRP, opMIRP, opMIRP, opMIRP, opMIRP,
};

static_assert(sizeof INSTRUCTIONS / sizeof INSTRUCTIONS[0] == 256);

constexpr bool everyOpcodeHasARoutine()
{
    for (Instruction instruction : INSTRUCTIONS)
        if (!instruction)
            return false;
    return true;
}
static_assert(everyOpcodeHasARoutine());

// Replaces a table with a zeroed one of twice count entries when its
// capacity is below count; tables never shrink. A failed allocation leaves
// capacity 0, so every access then fails its limit and the programs that
// need the table are abandoned.
template <typename T>
void growTable(T*& table, int32_t& capacity, int32_t count)
{
    if (capacity >= count)
        return;
    memFree(table, capacity * static_cast<int>(sizeof(T)));
    table = static_cast<T*>(std::calloc(static_cast<size_t>(2 * count), sizeof(T)));
    capacity = table ? 2 * count : 0;
}

template <typename T>
void freeTable(T*& table, int32_t& capacity)
{
    memFree(table, capacity * static_cast<int>(sizeof(T)));
    table = nullptr;
    capacity = 0;
}

template <typename T>
void clearTable(T* table, int32_t capacity)
{
    if (table)
        std::memset(static_cast<void*>(table), 0, static_cast<size_t>(capacity) * sizeof(T));
}

// Stand-ins that a failed access hands back; whatever an instruction writes
// there is never read as font state.
OutlinePoint spareP;
int32_t spareValue;

} // namespace

// --- Accessors -----------------------------------------------------------

void Rasterizer::fail(const char* condition, const char* routine)
{
    if (!hintFailure) {
        hintFailure = condition;
        hintFailureRoutine = routine;
    }
}

void Rasterizer::push(int32_t value)
{
    // After a pop from an empty stack the next push lands in slot 0 again,
    // as an instruction that pops two values and pushes one leaves it.
    if (stackTop < -1 || stackTop + 1 >= stackSize) {
        fail("stack - stackbase < stackSize");
        return;
    }
    stackbase[++stackTop] = value;
}

int32_t Rasterizer::pop()
{
    // A pop from an empty stack reads the unused slot 0 and leaves the stack
    // below its base, which the check before the next instruction catches;
    // a pop further down reads nothing.
    if (stackTop < 0 || stackTop >= stackSize) {
        fail("stack >= stackbase");
        return 0;
    }
    return stackbase[stackTop--];
}

int32_t& Rasterizer::top()
{
    if (stackTop < 0 || stackTop >= stackSize) {
        fail("stack >= stackbase");
        spareValue = 0;
        return spareValue;
    }
    return stackbase[stackTop];
}

OutlinePoint& Rasterizer::point(int32_t zoneNumber, int32_t number)
{
    // The glyph zone holds its outline points and the two phantom points;
    // while the font and control value programs run it holds nothing.
    const int32_t count = zoneNumber == TWILIGHT_ZONE ? twilightSize
        : zone[GLYPH_ZONE]                          ? zoneSize[GLYPH_ZONE] + 2
                                                    : 0;
    if (number < 0 || number >= count) {
        fail(zoneNumber == TWILIGHT_ZONE ? "p >= 0 && p < twilightSize" : "p >= 0 && p <= zoneSize[1] + 1");
        spareP = OutlinePoint{};
        return spareP;
    }
    return zone[zoneNumber][number];
}

int32_t& Rasterizer::cvtEntry(int32_t index, const char* condition)
{
    if (index < 0 || index >= sizeCvt) {
        fail(condition);
        spareValue = 0;
        return spareValue;
    }
    return cvt[index];
}

int32_t& Rasterizer::storageEntry(int32_t index, const char* condition)
{
    if (index < 0 || index >= sizeStor) {
        fail(condition);
        spareValue = 0;
        return spareValue;
    }
    return storage[index];
}

int32_t Rasterizer::contourEnd(int32_t contour)
{
    if (!contourEnds || contour < 0 || contour >= sizeContours) {
        fail("m >= 0 && m < sizeContours");
        return -1;
    }
    // A component of a composite has its contour ends further into the
    // array, with that much less room after them.
    if (contour >= sizeContours - (contourEnds - contourArray)) {
        fail("contour < contours left in the array");
        return -1;
    }
    return contourEnds[contour];
}

void Rasterizer::charge(int64_t units)
{
    instructionsLeft -= units;
    if (instructionsLeft < 0)
        fail("instructions within the program's budget", "execHints");
}

// --- Tables and programs -------------------------------------------------

void Rasterizer::freeHints()
{
    freeTable(stackbase, stackSize);
    freeTable(cvt, sizeCvt);
    freeTable(storage, sizeStor);
    freeTable(fdefs, sizeFDefs);
    freeTable(idefs, sizeIDefs);
    freeTable(twilight, twilightSize);
    zone[TWILIGHT_ZONE] = nullptr;
}

namespace {

// Starts one program with a fresh budget and an empty stack; true when it
// ran to its end without a failed limit.
bool runProgram(Rasterizer& r, MappedFile& stream, int32_t offset, int32_t length, int64_t budget)
{
    r.hintFailure = nullptr;
    r.hintFailureRoutine = nullptr;
    r.callDepth = 0;
    r.instructionsLeft = budget;
    r.stackTop = 0;
    r.execHints(stream, offset, length);
    return !r.failed();
}

// No glyph is loaded while the font and control value programs run; the
// glyph zone of an earlier glyph may lie in freed scratch arrays.
void emptyGlyphZone(Rasterizer& r)
{
    r.zone[GLYPH_ZONE] = nullptr;
    r.zoneSize[GLYPH_ZONE] = 0;
    r.contourEnds = nullptr;
    r.contourCount = 0;
}

} // namespace

void Rasterizer::runFontProgram()
{
    if (!font)
        return;
    const MaxpTable& maxp = *font->maxpTable;
    const int32_t cvtCount = font->cvtTable ? font->cvtTable->numValues : 0;
    // One slot more than twice the declared depth: slot 0 holds no value.
    if (stackSize < 2 * maxp.maxStackElements + 1) {
        freeTable(stackbase, stackSize);
        stackbase = static_cast<int32_t*>(std::calloc(2 * size_t(maxp.maxStackElements) + 1, sizeof(int32_t)));
        stackSize = stackbase ? 2 * maxp.maxStackElements + 1 : 0;
    }
    growTable(cvt, sizeCvt, cvtCount);
    growTable(storage, sizeStor, maxp.maxStorage);
    growTable(fdefs, sizeFDefs, maxp.maxFunctionDefs);
    growTable(twilight, twilightSize, maxp.maxTwilightPoints);
    if (!idefs) {
        idefs = static_cast<FunctionDef*>(std::calloc(256, sizeof(FunctionDef)));
        sizeIDefs = idefs ? 256 : 0;
    }

    // Nothing of an earlier font survives: its definitions point into its
    // streams, and its storage, control values and twilight points would
    // make this font render differently depending on what was opened first.
    clearTable(stackbase, stackSize);
    clearTable(cvt, sizeCvt);
    clearTable(storage, sizeStor);
    clearTable(fdefs, sizeFDefs);
    clearTable(idefs, sizeIDefs);
    clearTable(twilight, twilightSize);
    zone[TWILIGHT_ZONE] = twilight;
    zoneSize[TWILIGHT_ZONE] = twilightSize ? maxp.maxTwilightPoints : 0;
    emptyGlyphZone(*this);
    hintsBroken = false;
    // A control value program of an earlier font that turned glyph programs
    // off with INSTCTRL says nothing about this font; 0, hinting switched
    // off altogether, stays.
    if (hinting < 0)
        hinting = 1;
    glyphInstructionsLeft = GLYPH_INSTRUCTIONS_BASE + GLYPH_INSTRUCTIONS_PER_GLYPH * maxp.numGlyphs;

    if (font->fpgmTable) {
        gs = GraphicsState{};
        if (!runProgram(*this, *font->fpgmTable, 0, font->fpgmTable->length(), MAX_PROGRAM_INSTRUCTIONS))
            hintsBroken = true;
    }
}

void Rasterizer::calcCVT()
{
    if (!font || !font->cvtTable)
        return;
    CvtTable& table = *font->cvtTable;
    const int32_t n = table.numValues;
    if (n < 0 || n > sizeCvt) {
        hintFailure = "n >= 0 && n <= sizeCvt";
        hintFailureRoutine = "calcCVT";
        hintsBroken = true;
        return;
    }
    table.seek(0);
    const int32_t factor = wrapAdd(scaleXX, scaleYY);
    for (int32_t i = 0; i < n; i++)
        cvt[i] = scaleControlValue(table.readS16(), factor, scaleShift);

    if (font->prepTable && !hintsBroken) {
        hinting = 1;
        gs = GraphicsState{};
        emptyGlyphZone(*this);
        if (!runProgram(*this, *font->prepTable, 0, font->prepTable->length(), MAX_PROGRAM_INSTRUCTIONS))
            hintsBroken = true;
        prepState = gs;
    }
}

void Rasterizer::runGlyphProgram(MappedFile& stream, int32_t offset, int32_t length)
{
    if (length == 0 || hinting <= 0 || hintsBroken)
        return;
    // Glyph programs draw on the font's instruction allowance and on the
    // open's outline work, so that a font whose every glyph loops costs no
    // more than they allow.
    const int64_t budget =
        std::max<int64_t>(std::min({MAX_PROGRAM_INSTRUCTIONS, glyphInstructionsLeft, workLeft}), 0);
    gs = GraphicsState{};
    gs.cvtCutIn = prepState.cvtCutIn;
    runProgram(*this, stream, offset, length, budget);
    const int64_t used = budget - std::max<int64_t>(instructionsLeft, 0);
    workLeft -= used;
    glyphInstructionsLeft -= used;
}

// --- The fetch loop ------------------------------------------------------

void Rasterizer::execHints(MappedFile& stream, int32_t offset, int32_t length)
{
    if (length < 0 || length > MAX_PROGRAM_LENGTH) {
        fail("0 <= length && length <= 10000", "execHints");
        return;
    }
    // A program whose bytes do not all lie in its table (a glyph whose
    // instruction length runs past the end of glyf) is not run at all.
    if (!stream.contains(offset, length)) {
        fail("offset + length <= stream length", "execHints");
        return;
    }
    const int32_t outerStart = rangeStart, outerEnd = rangeEnd;
    rangeStart = offset;
    rangeEnd = offset + length;
    stream.seek(offset);
    while (stream.tell() < rangeEnd && !hintFailure) {
        if (--instructionsLeft < 0) {
            fail("instructions within the program's budget", "execHints");
            break;
        }
        execOpcode(stream);
    }
    rangeStart = outerStart;
    rangeEnd = outerEnd;
}

void Rasterizer::execOpcode(MappedFile& stream)
{
    if (stackTop < 0) {
        fail("stack >= stackbase");
        return;
    }
    const uint8_t opcode = stream.readU8();
    INSTRUCTIONS[opcode](*this, stream, opcode);
}

// --- Definitions, calls and skipped blocks -------------------------------

void Rasterizer::callDefinition(const FunctionDef& definition, MappedFile& caller)
{
    if (!definition.stream)
        return;
    if (callDepth >= MAX_CALL_DEPTH) {
        fail("call depth <= 64", "execHints");
        return;
    }
    // The body may lie in the caller's own stream, so the caller's place is
    // kept as an offset and restored afterwards.
    const int32_t back = caller.tell();
    callDepth++;
    execHints(*definition.stream, definition.offset, definition.length);
    callDepth--;
    caller.seek(back);
}

void Rasterizer::skipBlock(MappedFile& stream)
{
    // IF blocks and definitions nest within each other with one depth; push
    // data is stepped over so that it is never read as an opcode. A block
    // without its end stops at the end of the running program.
    int32_t depth = 0;
    while (stream.tell() < rangeEnd && !failed()) {
        charge(1);
        const uint8_t opcode = stream.readU8();
        switch (opcode) {
        case 0x58: // IF
        case 0x2C: // FDEF
        case 0x89: // IDEF
            depth++;
            break;
        case 0x59: // EIF
        case 0x2D: // ENDF
            if (depth == 0)
                return;
            depth--;
            break;
        case 0x1B: // ELSE
            if (depth == 0)
                return;
            break;
        case 0x40: // NPUSHB
            stream.skip(stream.readU8());
            break;
        case 0x41: // NPUSHW
            stream.skip(2 * stream.readU8());
            break;
        default:
            if (opcode >= 0xB0 && opcode <= 0xB7)
                stream.skip(opcode - 0xAF);
            else if (opcode >= 0xB8 && opcode <= 0xBF)
                stream.skip(2 * (opcode - 0xB7));
            break;
        }
    }
}
