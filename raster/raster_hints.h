// The hinting interpreter's inside: the instruction routines that the
// dispatch table of raster_hints.cpp calls, and the measures and moves they
// share. Each routine gets the opcode it was dispatched for, so that one
// routine serves an instruction's variants (MDRP's bits, PUSHB's count).
#pragma once

#include <cstdint>

#include "font/mapped_file.h"
#include "raster/raster.h"
#include "raster/raster_fixed.h"

using Instruction = void (*)(Rasterizer&, MappedFile&, uint8_t);

// The measures and moves of points along the graphics state's vectors,
// every product in 32 bits.

// Current position along the projection vector.
inline int32_t pos(const GraphicsState& gs, const OutlinePoint& p)
{
    return project14(p.x, p.y, gs.projX, gs.projY);
}

// Original position along the dual projection vector.
inline int32_t opos(const GraphicsState& gs, const OutlinePoint& p)
{
    return project14(p.orgX, p.orgY, gs.dualX, gs.dualY);
}

// Current distance from q to p: the differences first, projected once.
inline int32_t dist(const GraphicsState& gs, const OutlinePoint& p, const OutlinePoint& q)
{
    return project14(wrapSub(p.x, q.x), wrapSub(p.y, q.y), gs.projX, gs.projY);
}

// Original distance from q to p along the dual projection vector.
inline int32_t odist(const GraphicsState& gs, const OutlinePoint& p, const OutlinePoint& q)
{
    return project14(wrapSub(p.orgX, q.orgX), wrapSub(p.orgY, q.orgY), gs.dualX, gs.dualY);
}

// How far p has moved from its original position, projected.
inline int32_t shiftOf(const GraphicsState& gs, const OutlinePoint& p)
{
    return project14(wrapSub(p.x, p.orgX), wrapSub(p.y, p.orgY), gs.projX, gs.projY);
}

// Moves p along the freedom vector so that its projection changes by d.
inline void move(const GraphicsState& gs, OutlinePoint& p, int32_t d)
{
    p.x = wrapAdd(p.x, mul14(gs.moveX, d));
    p.y = wrapAdd(p.y, mul14(gs.moveY, d));
    p.flags |= gs.touchMask;
}

// Moves p by d along the freedom vector itself.
inline void pushPoint(const GraphicsState& gs, OutlinePoint& p, int32_t d)
{
    p.x = wrapAdd(p.x, mul14(gs.freedomX, d));
    p.y = wrapAdd(p.y, mul14(gs.freedomY, d));
    p.flags |= gs.touchMask;
}

// Rounds a distance by the graphics state's rounding mode, keeping its sign.
int32_t roundDistance(const GraphicsState& gs, int32_t v);

// Stack, arithmetic, flow, definitions, storage and state
// (raster_hints_stack.cpp).
void opNPUSHB(Rasterizer&, MappedFile&, uint8_t);
void opNPUSHW(Rasterizer&, MappedFile&, uint8_t);
void opPUSHB(Rasterizer&, MappedFile&, uint8_t);
void opPUSHW(Rasterizer&, MappedFile&, uint8_t);
void opDUP(Rasterizer&, MappedFile&, uint8_t);
void opPOP(Rasterizer&, MappedFile&, uint8_t);
void opCLEAR(Rasterizer&, MappedFile&, uint8_t);
void opSWAP(Rasterizer&, MappedFile&, uint8_t);
void opDEPTH(Rasterizer&, MappedFile&, uint8_t);
void opCINDEX(Rasterizer&, MappedFile&, uint8_t);
void opMINDEX(Rasterizer&, MappedFile&, uint8_t);
void opROLL(Rasterizer&, MappedFile&, uint8_t);
void opADD(Rasterizer&, MappedFile&, uint8_t);
void opSUB(Rasterizer&, MappedFile&, uint8_t);
void opDIV(Rasterizer&, MappedFile&, uint8_t);
void opMUL(Rasterizer&, MappedFile&, uint8_t);
void opABS(Rasterizer&, MappedFile&, uint8_t);
void opNEG(Rasterizer&, MappedFile&, uint8_t);
void opFLOOR(Rasterizer&, MappedFile&, uint8_t);
void opCEILING(Rasterizer&, MappedFile&, uint8_t);
void opMAX(Rasterizer&, MappedFile&, uint8_t);
void opMIN(Rasterizer&, MappedFile&, uint8_t);
void opROUND(Rasterizer&, MappedFile&, uint8_t);
void opNROUND(Rasterizer&, MappedFile&, uint8_t);
void opLT(Rasterizer&, MappedFile&, uint8_t);
void opLTEQ(Rasterizer&, MappedFile&, uint8_t);
void opGT(Rasterizer&, MappedFile&, uint8_t);
void opGTEQ(Rasterizer&, MappedFile&, uint8_t);
void opEQ(Rasterizer&, MappedFile&, uint8_t);
void opNEQ(Rasterizer&, MappedFile&, uint8_t);
void opODD(Rasterizer&, MappedFile&, uint8_t);
void opEVEN(Rasterizer&, MappedFile&, uint8_t);
void opAND(Rasterizer&, MappedFile&, uint8_t);
void opOR(Rasterizer&, MappedFile&, uint8_t);
void opNOT(Rasterizer&, MappedFile&, uint8_t);
void opIF(Rasterizer&, MappedFile&, uint8_t);
void opELSE(Rasterizer&, MappedFile&, uint8_t);
void opEIF(Rasterizer&, MappedFile&, uint8_t);
void opJMPR(Rasterizer&, MappedFile&, uint8_t);
void opJROT(Rasterizer&, MappedFile&, uint8_t);
void opJROF(Rasterizer&, MappedFile&, uint8_t);
void opFDEF(Rasterizer&, MappedFile&, uint8_t);
void opENDF(Rasterizer&, MappedFile&, uint8_t);
void opIDEF(Rasterizer&, MappedFile&, uint8_t);
void opCALL(Rasterizer&, MappedFile&, uint8_t);
void opLOOPCALL(Rasterizer&, MappedFile&, uint8_t);
void opUndefined(Rasterizer&, MappedFile&, uint8_t);
void opWS(Rasterizer&, MappedFile&, uint8_t);
void opRS(Rasterizer&, MappedFile&, uint8_t);
void opWCVTP(Rasterizer&, MappedFile&, uint8_t);
void opRCVT(Rasterizer&, MappedFile&, uint8_t);
void opWCVTF(Rasterizer&, MappedFile&, uint8_t);
void opSRP0(Rasterizer&, MappedFile&, uint8_t);
void opSRP1(Rasterizer&, MappedFile&, uint8_t);
void opSRP2(Rasterizer&, MappedFile&, uint8_t);
void opSZP0(Rasterizer&, MappedFile&, uint8_t);
void opSZP1(Rasterizer&, MappedFile&, uint8_t);
void opSZP2(Rasterizer&, MappedFile&, uint8_t);
void opSZPS(Rasterizer&, MappedFile&, uint8_t);
void opSLOOP(Rasterizer&, MappedFile&, uint8_t);
void opSMD(Rasterizer&, MappedFile&, uint8_t);
void opSCVTCI(Rasterizer&, MappedFile&, uint8_t);
void opSSWCI(Rasterizer&, MappedFile&, uint8_t);
void opSSW(Rasterizer&, MappedFile&, uint8_t);
void opSDB(Rasterizer&, MappedFile&, uint8_t);
void opSDS(Rasterizer&, MappedFile&, uint8_t);
void opFLIPON(Rasterizer&, MappedFile&, uint8_t);
void opFLIPOFF(Rasterizer&, MappedFile&, uint8_t);
void opINSTCTRL(Rasterizer&, MappedFile&, uint8_t);
void opSCANCTRL(Rasterizer&, MappedFile&, uint8_t);
void opSCANTYPE(Rasterizer&, MappedFile&, uint8_t);
void opROFF(Rasterizer&, MappedFile&, uint8_t);
void opRTG(Rasterizer&, MappedFile&, uint8_t);
void opRDTG(Rasterizer&, MappedFile&, uint8_t);
void opRUTG(Rasterizer&, MappedFile&, uint8_t);
void opRTHG(Rasterizer&, MappedFile&, uint8_t);
void opRTDG(Rasterizer&, MappedFile&, uint8_t);
void opSROUND(Rasterizer&, MappedFile&, uint8_t);
void opS45ROUND(Rasterizer&, MappedFile&, uint8_t);
void opMPPEM(Rasterizer&, MappedFile&, uint8_t);
void opMPS(Rasterizer&, MappedFile&, uint8_t);
void opGETINFO(Rasterizer&, MappedFile&, uint8_t);
void opDEBUG(Rasterizer&, MappedFile&, uint8_t);
void opSANGW(Rasterizer&, MappedFile&, uint8_t);
void opAA(Rasterizer&, MappedFile&, uint8_t);

// Vectors, measurement and single-point moves (raster_hints_moves.cpp).
void opSVTCA(Rasterizer&, MappedFile&, uint8_t);
void opSPVTCA(Rasterizer&, MappedFile&, uint8_t);
void opSFVTCA(Rasterizer&, MappedFile&, uint8_t);
void opSPVTL(Rasterizer&, MappedFile&, uint8_t);
void opSFVTL(Rasterizer&, MappedFile&, uint8_t);
void opSDPVTL(Rasterizer&, MappedFile&, uint8_t);
void opSPVFS(Rasterizer&, MappedFile&, uint8_t);
void opSFVFS(Rasterizer&, MappedFile&, uint8_t);
void opSFVTPV(Rasterizer&, MappedFile&, uint8_t);
void opGPV(Rasterizer&, MappedFile&, uint8_t);
void opGFV(Rasterizer&, MappedFile&, uint8_t);
void opGC(Rasterizer&, MappedFile&, uint8_t);
void opMD(Rasterizer&, MappedFile&, uint8_t);
void opSCFS(Rasterizer&, MappedFile&, uint8_t);
void opMDAP(Rasterizer&, MappedFile&, uint8_t);
void opMIAP(Rasterizer&, MappedFile&, uint8_t);
void opMSIRP(Rasterizer&, MappedFile&, uint8_t);
void opMDRP(Rasterizer&, MappedFile&, uint8_t);
void opMIRP(Rasterizer&, MappedFile&, uint8_t);

// Shifts, interpolation, alignment, deltas and flags
// (raster_hints_shifts.cpp).
void opSHP(Rasterizer&, MappedFile&, uint8_t);
void opSHC(Rasterizer&, MappedFile&, uint8_t);
void opSHZ(Rasterizer&, MappedFile&, uint8_t);
void opSHPIX(Rasterizer&, MappedFile&, uint8_t);
void opIP(Rasterizer&, MappedFile&, uint8_t);
void opALIGNRP(Rasterizer&, MappedFile&, uint8_t);
void opALIGNPTS(Rasterizer&, MappedFile&, uint8_t);
void opISECT(Rasterizer&, MappedFile&, uint8_t);
void opIUP(Rasterizer&, MappedFile&, uint8_t);
void opDELTAP(Rasterizer&, MappedFile&, uint8_t);
void opDELTAC(Rasterizer&, MappedFile&, uint8_t);
void opUTP(Rasterizer&, MappedFile&, uint8_t);
void opFLIPPT(Rasterizer&, MappedFile&, uint8_t);
void opFLIPRGON(Rasterizer&, MappedFile&, uint8_t);
void opFLIPRGOFF(Rasterizer&, MappedFile&, uint8_t);
