// Instructions that measure and move no point: pushing data, the stack,
// arithmetic and logic, conditional blocks and jumps, definitions and calls,
// storage and control values, the graphics state's setters, rounding, and
// the queries.
#include <algorithm>

#include "raster/raster_hints.h"

namespace {

void binary(Rasterizer& r, int32_t (*operation)(int32_t a, int32_t b))
{
    const int32_t b = r.pop();
    const int32_t a = r.pop();
    r.push(operation(a, b));
}

// Jump offsets count from the jump's own opcode byte. A jump back before
// the start of the running program is refused; one forward past its end
// ends it.
void jump(Rasterizer& r, MappedFile& stream, int32_t offset)
{
    const int64_t target = int64_t(stream.tell()) - 1 + offset;
    if (target < r.rangeStart) {
        r.fail("jump target >= start of program");
        return;
    }
    stream.seek(target);
}

} // namespace

int32_t roundDistance(const GraphicsState& gs, int32_t v)
{
    const int32_t b = wrapAbs(v);
    int32_t r;
    switch (gs.roundState) {
    case 0:
        return v;
    case 1:
        r = roundToPixel(b);
        break;
    case 2:
        r = floorToPixel(b);
        break;
    case 3:
        r = ceilToPixel(b);
        break;
    case 4:
        r = wrapSub(b | 63, 31);
        break;
    case 5:
        r = static_cast<int32_t>(static_cast<uint32_t>(wrapAdd(b, 16)) & 0x7FFFFFE0u);
        break;
    case 6:
        r = wrapAdd(gs.roundPhase, wrapAdd(wrapSub(b, gs.roundPhase), gs.roundThreshold) & wrapNeg(gs.roundPeriod));
        if (r < 0)
            r = 0;
        break;
    case 7: {
        const int32_t shifted = wrapAdd(b, gs.roundThreshold);
        const int32_t period = gs.roundPeriod > 0 ? gs.roundPeriod : 1;
        r = wrapSub(shifted, wrapSub(shifted, gs.roundPhase) % period);
        if (r < 0)
            r = 0;
        break;
    }
    default:
        return v;
    }
    return v >= 0 ? r : wrapNeg(r);
}

// --- Pushing data --------------------------------------------------------

void opNPUSHB(Rasterizer& r, MappedFile& stream, uint8_t)
{
    for (int32_t n = stream.readU8(); n > 0; n--)
        r.push(stream.readU8());
}

void opNPUSHW(Rasterizer& r, MappedFile& stream, uint8_t)
{
    for (int32_t n = stream.readU8(); n > 0; n--)
        r.push(stream.readS16());
}

void opPUSHB(Rasterizer& r, MappedFile& stream, uint8_t opcode)
{
    for (int32_t n = opcode - 0xAF; n > 0; n--)
        r.push(stream.readU8());
}

void opPUSHW(Rasterizer& r, MappedFile& stream, uint8_t opcode)
{
    for (int32_t n = opcode - 0xB7; n > 0; n--)
        r.push(stream.readS16());
}

// --- The stack -----------------------------------------------------------

void opDUP(Rasterizer& r, MappedFile&, uint8_t)
{
    r.push(r.top());
}

void opPOP(Rasterizer& r, MappedFile&, uint8_t)
{
    r.pop();
}

void opCLEAR(Rasterizer& r, MappedFile&, uint8_t)
{
    r.stackTop = 0;
}

void opSWAP(Rasterizer& r, MappedFile&, uint8_t)
{
    const int32_t b = r.pop();
    const int32_t a = r.pop();
    r.push(b);
    r.push(a);
}

void opDEPTH(Rasterizer& r, MappedFile&, uint8_t)
{
    r.push(r.stackTop);
}

void opCINDEX(Rasterizer& r, MappedFile&, uint8_t)
{
    int32_t& k = r.top();
    if (r.failed())
        return;
    const int64_t slot = int64_t(r.stackTop) - k;
    if (k < 0 || slot < 0) {
        r.fail("stack - m >= stackbase");
        return;
    }
    k = r.stackbase[slot];
}

void opMINDEX(Rasterizer& r, MappedFile&, uint8_t)
{
    const int32_t kSlot = r.stackTop;
    const int32_t k = r.pop();
    const int64_t slot = int64_t(kSlot) - k;
    if (r.failed() || k < 0 || slot < 0) {
        r.fail("stack >= stackbase");
        return;
    }
    // k = 0 names k's own slot, just above the new top: it is pushed back.
    const int32_t value = r.stackbase[slot];
    if (slot <= r.stackTop) {
        std::copy(r.stackbase + slot + 1, r.stackbase + r.stackTop + 1, r.stackbase + slot);
        r.stackTop--;
    }
    r.push(value);
}

void opROLL(Rasterizer& r, MappedFile&, uint8_t)
{
    const int32_t c = r.pop();
    const int32_t b = r.pop();
    const int32_t a = r.pop();
    r.push(b);
    r.push(c);
    r.push(a);
}

// --- Arithmetic ----------------------------------------------------------

void opADD(Rasterizer& r, MappedFile&, uint8_t)
{
    binary(r, wrapAdd);
}

void opSUB(Rasterizer& r, MappedFile&, uint8_t)
{
    binary(r, wrapSub);
}

void opDIV(Rasterizer& r, MappedFile&, uint8_t)
{
    binary(r, [](int32_t a, int32_t b) {
        if (b == 0)
            return a >= 0 ? 0x7FFFFFF : -0x7FFFFFF;
        return divTrunc(wrapShiftLeft(a, 6), b);
    });
}

void opMUL(Rasterizer& r, MappedFile&, uint8_t)
{
    binary(r, [](int32_t a, int32_t b) { return wrapAdd(wrapMul(a, b), 32) >> 6; });
}

void opABS(Rasterizer& r, MappedFile&, uint8_t)
{
    int32_t& v = r.top();
    v = wrapAbs(v);
}

void opNEG(Rasterizer& r, MappedFile&, uint8_t)
{
    int32_t& v = r.top();
    v = wrapNeg(v);
}

void opFLOOR(Rasterizer& r, MappedFile&, uint8_t)
{
    int32_t& v = r.top();
    v = floorToPixel(v);
}

void opCEILING(Rasterizer& r, MappedFile&, uint8_t)
{
    int32_t& v = r.top();
    v = ceilToPixel(v);
}

void opMAX(Rasterizer& r, MappedFile&, uint8_t)
{
    binary(r, [](int32_t a, int32_t b) { return std::max(a, b); });
}

void opMIN(Rasterizer& r, MappedFile&, uint8_t)
{
    binary(r, [](int32_t a, int32_t b) { return std::min(a, b); });
}

void opROUND(Rasterizer& r, MappedFile&, uint8_t)
{
    int32_t& v = r.top();
    v = roundDistance(r.gs, v);
}

void opNROUND(Rasterizer& r, MappedFile&, uint8_t)
{
    r.top();
}

// --- Comparison and logic ------------------------------------------------

void opLT(Rasterizer& r, MappedFile&, uint8_t)
{
    binary(r, [](int32_t a, int32_t b) { return int32_t(a < b); });
}

void opLTEQ(Rasterizer& r, MappedFile&, uint8_t)
{
    binary(r, [](int32_t a, int32_t b) { return int32_t(a <= b); });
}

void opGT(Rasterizer& r, MappedFile&, uint8_t)
{
    binary(r, [](int32_t a, int32_t b) { return int32_t(a > b); });
}

void opGTEQ(Rasterizer& r, MappedFile&, uint8_t)
{
    binary(r, [](int32_t a, int32_t b) { return int32_t(a >= b); });
}

void opEQ(Rasterizer& r, MappedFile&, uint8_t)
{
    binary(r, [](int32_t a, int32_t b) { return int32_t(a == b); });
}

void opNEQ(Rasterizer& r, MappedFile&, uint8_t)
{
    binary(r, [](int32_t a, int32_t b) { return int32_t(a != b); });
}

void opODD(Rasterizer& r, MappedFile&, uint8_t)
{
    int32_t& v = r.top();
    v = (roundDistance(r.gs, v) & 64) != 0;
}

void opEVEN(Rasterizer& r, MappedFile&, uint8_t)
{
    int32_t& v = r.top();
    v = (roundDistance(r.gs, v) & 64) == 0;
}

void opAND(Rasterizer& r, MappedFile&, uint8_t)
{
    binary(r, [](int32_t a, int32_t b) { return int32_t(a != 0 && b != 0); });
}

void opOR(Rasterizer& r, MappedFile&, uint8_t)
{
    binary(r, [](int32_t a, int32_t b) { return int32_t(a != 0 || b != 0); });
}

void opNOT(Rasterizer& r, MappedFile&, uint8_t)
{
    int32_t& v = r.top();
    v = v == 0;
}

// --- Flow ----------------------------------------------------------------

void opIF(Rasterizer& r, MappedFile& stream, uint8_t)
{
    if (r.pop() == 0)
        r.skipBlock(stream);
}

void opELSE(Rasterizer& r, MappedFile& stream, uint8_t)
{
    r.skipBlock(stream);
}

void opEIF(Rasterizer&, MappedFile&, uint8_t)
{
}

void opJMPR(Rasterizer& r, MappedFile& stream, uint8_t)
{
    jump(r, stream, r.pop());
}

void opJROT(Rasterizer& r, MappedFile& stream, uint8_t)
{
    const int32_t condition = r.pop();
    const int32_t offset = r.pop();
    if (condition != 0)
        jump(r, stream, offset);
}

void opJROF(Rasterizer& r, MappedFile& stream, uint8_t)
{
    const int32_t condition = r.pop();
    const int32_t offset = r.pop();
    if (condition == 0)
        jump(r, stream, offset);
}

// --- Definitions and calls -----------------------------------------------

namespace {

// Records the body that starts at the cursor and steps over it.
void define(Rasterizer& r, MappedFile& stream, FunctionDef& entry)
{
    const int32_t offset = stream.tell();
    r.skipBlock(stream);
    entry = FunctionDef{&stream, offset, stream.tell() - offset};
}

} // namespace

void opFDEF(Rasterizer& r, MappedFile& stream, uint8_t)
{
    const int32_t m = r.pop();
    if (m < 0 || m >= r.sizeFDefs) {
        r.fail("m >= 0 && m < sizeFDefs");
        return;
    }
    define(r, stream, r.fdefs[m]);
}

void opENDF(Rasterizer&, MappedFile&, uint8_t)
{
}

void opIDEF(Rasterizer& r, MappedFile& stream, uint8_t)
{
    const int32_t m = r.pop();
    if (m < 0 || m >= r.sizeIDefs) {
        r.fail("m >= 0 && m < sizeIDefs");
        return;
    }
    define(r, stream, r.idefs[m]);
}

void opCALL(Rasterizer& r, MappedFile& stream, uint8_t)
{
    const int32_t m = r.pop();
    if (m < 0 || m >= r.sizeFDefs) {
        r.fail("m >= 0 && m < sizeFDefs");
        return;
    }
    r.callDefinition(r.fdefs[m], stream);
}

void opLOOPCALL(Rasterizer& r, MappedFile& stream, uint8_t)
{
    const int32_t m = r.pop();
    const int32_t count = r.pop();
    if (count <= 0 || r.failed())
        return;
    if (m < 0 || m >= r.sizeFDefs) {
        r.fail("m >= 0 && m < sizeFDefs");
        return;
    }
    // Every run is charged, so that a count of millions on an empty
    // definition cannot spin either.
    for (int32_t k = 0; k < count && !r.failed(); k++) {
        r.charge(1);
        r.callDefinition(r.fdefs[m], stream);
    }
}

void opUndefined(Rasterizer& r, MappedFile& stream, uint8_t opcode)
{
    if (opcode < r.sizeIDefs && r.idefs[opcode].length > 0)
        r.callDefinition(r.idefs[opcode], stream);
}

// --- Storage and control values ------------------------------------------

void opWS(Rasterizer& r, MappedFile&, uint8_t)
{
    const int32_t v = r.pop();
    const int32_t n = r.pop();
    r.storageEntry(n, "n >= 0 && n < sizeStor") = v;
}

void opRS(Rasterizer& r, MappedFile&, uint8_t)
{
    int32_t& n = r.top();
    n = r.storageEntry(n, "m >= 0 && m < sizeStor");
}

void opWCVTP(Rasterizer& r, MappedFile&, uint8_t)
{
    const int32_t v = r.pop();
    const int32_t n = r.pop();
    r.cvtEntry(n, "n >= 0 && n < sizeCvt") = v;
}

void opRCVT(Rasterizer& r, MappedFile&, uint8_t)
{
    int32_t& n = r.top();
    n = r.cvtEntry(n, "m >= 0 && m < sizeCvt");
}

void opWCVTF(Rasterizer& r, MappedFile&, uint8_t)
{
    const int32_t v = r.pop();
    const int32_t n = r.pop();
    r.cvtEntry(n, "n >= 0 && n < sizeCvt") = scaleControlValue(v, wrapAdd(r.scaleXX, r.scaleYY), r.scaleShift);
}

// --- Graphics state ------------------------------------------------------

namespace {

int32_t popZone(Rasterizer& r)
{
    const int32_t m = r.pop();
    if (m < 0 || m > 1) {
        r.fail("m >= 0 && m <= 1");
        return GLYPH_ZONE;
    }
    return m;
}

} // namespace

void opSRP0(Rasterizer& r, MappedFile&, uint8_t)
{
    r.gs.rp0 = r.pop();
}

void opSRP1(Rasterizer& r, MappedFile&, uint8_t)
{
    r.gs.rp1 = r.pop();
}

void opSRP2(Rasterizer& r, MappedFile&, uint8_t)
{
    r.gs.rp2 = r.pop();
}

void opSZP0(Rasterizer& r, MappedFile&, uint8_t)
{
    r.gs.zp0 = popZone(r);
}

void opSZP1(Rasterizer& r, MappedFile&, uint8_t)
{
    r.gs.zp1 = popZone(r);
}

void opSZP2(Rasterizer& r, MappedFile&, uint8_t)
{
    r.gs.zp2 = popZone(r);
}

void opSZPS(Rasterizer& r, MappedFile&, uint8_t)
{
    r.gs.zp0 = r.gs.zp1 = r.gs.zp2 = popZone(r);
}

void opSLOOP(Rasterizer& r, MappedFile&, uint8_t)
{
    r.gs.loop = r.pop();
}

void opSMD(Rasterizer& r, MappedFile&, uint8_t)
{
    r.gs.minDistance = r.pop();
}

void opSCVTCI(Rasterizer& r, MappedFile&, uint8_t)
{
    r.gs.cvtCutIn = r.pop();
}

void opSSWCI(Rasterizer& r, MappedFile&, uint8_t)
{
    r.gs.singleWidthCutIn = r.pop();
}

void opSSW(Rasterizer& r, MappedFile&, uint8_t)
{
    r.gs.singleWidth = r.pop();
}

void opSDB(Rasterizer& r, MappedFile&, uint8_t)
{
    r.gs.deltaBase = r.pop();
}

void opSDS(Rasterizer& r, MappedFile&, uint8_t)
{
    r.gs.deltaShift = r.pop();
}

void opFLIPON(Rasterizer& r, MappedFile&, uint8_t)
{
    r.gs.autoFlip = 1;
}

void opFLIPOFF(Rasterizer& r, MappedFile&, uint8_t)
{
    r.gs.autoFlip = 0;
}

void opINSTCTRL(Rasterizer& r, MappedFile&, uint8_t)
{
    const int32_t selector = r.pop();
    const int32_t value = r.pop();
    if (selector == 1 && value != 0 && r.hinting > 0)
        r.hinting = -1;
}

namespace {

bool rotated(const Rasterizer& r)
{
    return r.scaleXY != 0 || r.scaleYX != 0;
}

bool stretched(const Rasterizer& r)
{
    return r.scaleXX != r.scaleYY;
}

} // namespace

void opSCANCTRL(Rasterizer& r, MappedFile&, uint8_t)
{
    const int32_t n = r.pop();
    const int32_t threshold = n & 0xFF;
    int32_t dropout = 0;
    if ((n & 0x100) && r.ppem <= threshold)
        dropout = 1;
    if ((n & 0x200) && rotated(r))
        dropout = 1;
    if ((n & 0x400) && stretched(r))
        dropout = 1;
    if ((n & 0x800) && r.ppem > threshold)
        dropout = 0;
    if ((n & 0x1000) && !rotated(r))
        dropout = 0;
    if ((n & 0x2000) && !stretched(r))
        dropout = 0;
    r.gs.dropoutControl = dropout;
}

void opSCANTYPE(Rasterizer& r, MappedFile&, uint8_t)
{
    r.pop();
}

// --- Rounding modes ------------------------------------------------------

void opROFF(Rasterizer& r, MappedFile&, uint8_t)
{
    r.gs.roundState = 0;
}

void opRTG(Rasterizer& r, MappedFile&, uint8_t)
{
    r.gs.roundState = 1;
}

void opRDTG(Rasterizer& r, MappedFile&, uint8_t)
{
    r.gs.roundState = 2;
}

void opRUTG(Rasterizer& r, MappedFile&, uint8_t)
{
    r.gs.roundState = 3;
}

void opRTHG(Rasterizer& r, MappedFile&, uint8_t)
{
    r.gs.roundState = 4;
}

void opRTDG(Rasterizer& r, MappedFile&, uint8_t)
{
    r.gs.roundState = 5;
}

void opSROUND(Rasterizer& r, MappedFile&, uint8_t)
{
    const int32_t n = r.pop() & 0xFF;
    GraphicsState& gs = r.gs;
    gs.roundState = 6;
    gs.roundPeriod = 32 << ((n >> 6) & 3);
    gs.roundPhase = (gs.roundPeriod >> 2) * ((n >> 4) & 3);
    const int32_t t = n & 15;
    gs.roundThreshold = t == 0 ? gs.roundPeriod - 1 : (gs.roundPeriod >> 3) * (t - 4);
}

void opS45ROUND(Rasterizer& r, MappedFile&, uint8_t)
{
    const int32_t n = r.pop();
    GraphicsState& gs = r.gs;
    gs.roundState = 7;
    gs.roundPeriod = 1444 >> (7 - ((n >> 6) & 3));
    gs.roundPhase = ((n & 0x30) * gs.roundPeriod) >> 6;
    const int32_t t = n & 15;
    gs.roundThreshold = t == 0 ? gs.roundPeriod - 1 : ((t - 4) * gs.roundPeriod) >> 3;
}

// --- Queries and ignored instructions ------------------------------------

void opMPPEM(Rasterizer& r, MappedFile&, uint8_t)
{
    r.push(wrapAbs(project14(r.ppemX, r.ppemY, r.gs.projX, r.gs.projY)));
}

// The size set-up works from pixel sizes and keeps no point size; the size
// in pixels per em is the point size at 72 dots per inch, and the one size
// that a program can compare with its own thresholds.
void opMPS(Rasterizer& r, MappedFile&, uint8_t)
{
    r.push(r.ppem);
}

void opGETINFO(Rasterizer& r, MappedFile&, uint8_t)
{
    const int32_t selector = r.pop();
    int32_t result = 0;
    if (selector & 1)
        result = 3;
    if ((selector & 2) && rotated(r))
        result += 0x100;
    if ((selector & 4) && stretched(r))
        result += 0x200;
    r.push(result);
}

void opDEBUG(Rasterizer&, MappedFile&, uint8_t)
{
}

void opSANGW(Rasterizer& r, MappedFile&, uint8_t)
{
    r.pop();
}

void opAA(Rasterizer& r, MappedFile&, uint8_t)
{
    r.pop();
}
