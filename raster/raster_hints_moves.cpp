// Instructions that set the freedom, projection and dual projection
// vectors, measure points, and move one point at a time.
#include <algorithm>
#include <cmath>

#include "raster/raster_hints.h"

namespace {

struct Vector {
    int32_t x;
    int32_t y;
};

// The direction from b to a as a 2.14 unit vector, in single precision as
// the vector setters have always normalised; (0, 0) for coinciding points,
// which makes every later move under the vector a no-op.
Vector unitVector(int32_t ax, int32_t ay, int32_t bx, int32_t by)
{
    const int32_t dx = wrapSub(ax, bx), dy = wrapSub(ay, by);
    if (dx == 0 && dy == 0)
        return {0, 0};
    const float fx = static_cast<float>(dx), fy = static_cast<float>(dy);
    const float s = std::sqrt(268435456.0f / (fx * fx + fy * fy));
    return {static_cast<int32_t>(fx * s), static_cast<int32_t>(fy * s)};
}

Vector currentDirection(const OutlinePoint& a, const OutlinePoint& b)
{
    return unitVector(a.x, a.y, b.x, b.y);
}

Vector originalDirection(const OutlinePoint& a, const OutlinePoint& b)
{
    return unitVector(a.orgX, a.orgY, b.orgX, b.orgY);
}

// The touch bits and the movement per unit of projected distance that a
// pair of freedom and projection vectors gives.
void computeMoveFactors(GraphicsState& gs)
{
    gs.touchMask = (gs.freedomX != 0 ? POINT_TOUCHED_X : 0) | (gs.freedomY != 0 ? POINT_TOUCHED_Y : 0);
    const int32_t k = wrapAdd(wrapMulAdd(gs.freedomX, gs.projX, gs.freedomY, gs.projY), 8192) >> 14;
    if (k == 0) {
        gs.moveX = gs.moveY = 0;
        return;
    }
    gs.moveX = divTrunc(wrapShiftLeft(gs.freedomX, 14), k);
    gs.moveY = divTrunc(wrapShiftLeft(gs.freedomY, 14), k);
}

void setProjection(GraphicsState& gs, Vector v)
{
    gs.projX = gs.dualX = v.x;
    gs.projY = gs.dualY = v.y;
}

// The two points of the line setters: p1 in zp2, p2 in zp1, popped p1 first.
struct Line {
    OutlinePoint* p2;
    OutlinePoint* p1;
};

Line popLine(Rasterizer& r)
{
    const int32_t p1 = r.pop();
    const int32_t p2 = r.pop();
    OutlinePoint& a = r.point(r.gs.zp1, p2);
    OutlinePoint& b = r.point(r.gs.zp2, p1);
    return {&a, &b};
}

} // namespace

// --- Vectors -------------------------------------------------------------

void opSVTCA(Rasterizer& r, MappedFile&, uint8_t opcode)
{
    GraphicsState& gs = r.gs;
    if (opcode & 1) {
        gs.freedomX = gs.projX = gs.dualX = 0x4000;
        gs.freedomY = gs.projY = gs.dualY = 0;
        gs.touchMask = POINT_TOUCHED_X;
        gs.moveX = 0x4000;
        gs.moveY = 0;
    } else {
        gs.freedomX = gs.projX = gs.dualX = 0;
        gs.freedomY = gs.projY = gs.dualY = 0x4000;
        gs.touchMask = POINT_TOUCHED_Y;
        gs.moveX = 0;
        gs.moveY = 0x4000;
    }
}

void opSPVTCA(Rasterizer& r, MappedFile&, uint8_t opcode)
{
    GraphicsState& gs = r.gs;
    if (opcode & 1) {
        setProjection(gs, {0x4000, 0});
        if (gs.freedomX != 0) {
            gs.moveX = 0x4000;
            gs.moveY = divTrunc(wrapShiftLeft(gs.freedomY, 14), gs.freedomX);
        } else {
            gs.moveX = gs.moveY = 0;
        }
    } else {
        setProjection(gs, {0, 0x4000});
        if (gs.freedomY != 0) {
            gs.moveX = divTrunc(wrapShiftLeft(gs.freedomX, 14), gs.freedomY);
            gs.moveY = 0x4000;
        } else {
            gs.moveX = gs.moveY = 0;
        }
    }
}

void opSFVTCA(Rasterizer& r, MappedFile&, uint8_t opcode)
{
    GraphicsState& gs = r.gs;
    if (opcode & 1) {
        gs.freedomX = 0x4000;
        gs.freedomY = 0;
        gs.moveY = 0;
        gs.moveX = gs.projX != 0 ? divTrunc(0x10000000, gs.projX) : 0;
        gs.touchMask = gs.projX != 0 ? POINT_TOUCHED_X : 0;
    } else {
        gs.freedomX = 0;
        gs.freedomY = 0x4000;
        gs.moveX = 0;
        gs.moveY = gs.projY != 0 ? divTrunc(0x10000000, gs.projY) : 0;
        gs.touchMask = gs.projY != 0 ? POINT_TOUCHED_Y : 0;
    }
}

void opSPVTL(Rasterizer& r, MappedFile&, uint8_t opcode)
{
    const Line line = popLine(r);
    const Vector u = currentDirection(*line.p2, *line.p1);
    setProjection(r.gs, (opcode & 1) ? Vector{u.y, wrapNeg(u.x)} : u);
    computeMoveFactors(r.gs);
}

void opSFVTL(Rasterizer& r, MappedFile&, uint8_t opcode)
{
    const Line line = popLine(r);
    const Vector u = currentDirection(*line.p2, *line.p1);
    const Vector f = (opcode & 1) ? Vector{u.y, wrapNeg(u.x)} : u;
    r.gs.freedomX = f.x;
    r.gs.freedomY = f.y;
    computeMoveFactors(r.gs);
}

void opSDPVTL(Rasterizer& r, MappedFile&, uint8_t opcode)
{
    const Line line = popLine(r);
    const Vector o = originalDirection(*line.p2, *line.p1);
    const Vector u = currentDirection(*line.p2, *line.p1);
    GraphicsState& gs = r.gs;
    if (opcode & 1) {
        gs.dualX = wrapNeg(o.y);
        gs.dualY = o.x;
        gs.projX = wrapNeg(u.y);
        gs.projY = u.x;
    } else {
        gs.dualX = o.x;
        gs.dualY = o.y;
        gs.projX = u.x;
        gs.projY = u.y;
    }
    computeMoveFactors(gs);
}

void opSPVFS(Rasterizer& r, MappedFile&, uint8_t)
{
    const int32_t y = r.pop();
    const int32_t x = r.pop();
    setProjection(r.gs, {x, y});
    computeMoveFactors(r.gs);
}

void opSFVFS(Rasterizer& r, MappedFile&, uint8_t)
{
    const int32_t y = r.pop();
    const int32_t x = r.pop();
    r.gs.freedomX = x;
    r.gs.freedomY = y;
    computeMoveFactors(r.gs);
}

void opSFVTPV(Rasterizer& r, MappedFile&, uint8_t)
{
    r.gs.freedomX = r.gs.projX;
    r.gs.freedomY = r.gs.projY;
    computeMoveFactors(r.gs);
}

void opGPV(Rasterizer& r, MappedFile&, uint8_t)
{
    r.push(r.gs.projX);
    r.push(r.gs.projY);
}

void opGFV(Rasterizer& r, MappedFile&, uint8_t)
{
    r.push(r.gs.freedomX);
    r.push(r.gs.freedomY);
}

// --- Measuring -----------------------------------------------------------

void opGC(Rasterizer& r, MappedFile&, uint8_t opcode)
{
    int32_t& p = r.top();
    const OutlinePoint& point = r.point(r.gs.zp2, p);
    p = (opcode & 1) ? opos(r.gs, point) : pos(r.gs, point);
}

void opMD(Rasterizer& r, MappedFile&, uint8_t opcode)
{
    const int32_t p1 = r.pop();
    const int32_t p2 = r.pop();
    const OutlinePoint& a = r.point(r.gs.zp0, p2);
    const OutlinePoint& b = r.point(r.gs.zp1, p1);
    // MD[0] measures the current outline, MD[1] the original one.
    r.push((opcode & 1) ? dist(r.gs, a, b) : odist(r.gs, a, b));
}

void opSCFS(Rasterizer& r, MappedFile&, uint8_t)
{
    const int32_t v = r.pop();
    const int32_t p = r.pop();
    OutlinePoint& point = r.point(r.gs.zp2, p);
    if (r.gs.zp2 == GLYPH_ZONE) {
        move(r.gs, point, wrapSub(v, pos(r.gs, point)));
    } else {
        point.x = point.orgX = mul14(r.gs.projX, v);
        point.y = point.orgY = mul14(r.gs.projY, v);
    }
}

// --- Moving single points ------------------------------------------------

void opMDAP(Rasterizer& r, MappedFile&, uint8_t opcode)
{
    const int32_t p = r.pop();
    r.gs.rp0 = r.gs.rp1 = p;
    OutlinePoint& point = r.point(r.gs.zp0, p);
    point.flags |= r.gs.touchMask;
    if (opcode & 1) {
        const int32_t d = pos(r.gs, point);
        move(r.gs, point, wrapSub(roundDistance(r.gs, d), d));
    }
}

void opMIAP(Rasterizer& r, MappedFile&, uint8_t opcode)
{
    const int32_t n = r.pop();
    const int32_t p = r.pop();
    int32_t c = r.cvtEntry(n, "n >= 0 && n < sizeCvt");
    GraphicsState& gs = r.gs;
    gs.rp0 = gs.rp1 = p;
    OutlinePoint& point = r.point(gs.zp0, p);
    if (gs.zp0 == TWILIGHT_ZONE) {
        // A twilight point is created where the control value lies along
        // the projection vector; only its current position is rounded.
        point.x = point.orgX = mul14(gs.projX, c);
        point.y = point.orgY = mul14(gs.projY, c);
        if (opcode & 1) {
            point.x = roundDistance(gs, point.x);
            point.y = roundDistance(gs, point.y);
        }
        return;
    }
    const int32_t d = pos(gs, point);
    if (opcode & 1) {
        if (wrapAbs(wrapSub(c, d)) > gs.cvtCutIn)
            c = d;
        c = roundDistance(gs, c);
    }
    move(gs, point, wrapSub(c, d));
}

void opMSIRP(Rasterizer& r, MappedFile&, uint8_t opcode)
{
    const int32_t d = r.pop();
    const int32_t p = r.pop();
    GraphicsState& gs = r.gs;
    const OutlinePoint& reference = r.point(gs.zp0, gs.rp0);
    OutlinePoint& point = r.point(gs.zp1, p);
    if (gs.zp1 == GLYPH_ZONE) {
        move(gs, point, wrapSub(d, dist(gs, point, reference)));
    } else {
        point.x = point.orgX = wrapAdd(reference.x, mul14(gs.projX, d));
        point.y = point.orgY = wrapAdd(reference.y, mul14(gs.projY, d));
    }
    gs.rp1 = gs.rp0;
    gs.rp2 = p;
    if (opcode & 1)
        gs.rp0 = p;
}

namespace {

// The single width: a distance whose size lies below the cut-in becomes
// the single width with the distance's sign (0 counting as positive).
int32_t applySingleWidth(const GraphicsState& gs, int32_t d)
{
    if (wrapAbs(d) < gs.singleWidthCutIn)
        return d >= 0 ? gs.singleWidth : wrapNeg(gs.singleWidth);
    return d;
}

// The minimum distance keeps a distance at least minDistance away from 0,
// on the side that `sign` gives.
int32_t applyMinimumDistance(const GraphicsState& gs, int32_t d, int32_t sign)
{
    return sign >= 0 ? std::max(d, gs.minDistance) : std::min(d, wrapNeg(gs.minDistance));
}

constexpr uint8_t SET_RP0 = 0x10;
constexpr uint8_t KEEP_MINIMUM = 0x08;
constexpr uint8_t ROUND = 0x04;

} // namespace

void opMDRP(Rasterizer& r, MappedFile&, uint8_t opcode)
{
    const int32_t p = r.pop();
    GraphicsState& gs = r.gs;
    const OutlinePoint& reference = r.point(gs.zp0, gs.rp0);
    OutlinePoint& point = r.point(gs.zp1, p);
    const int32_t o = odist(gs, point, reference);
    int32_t d = applySingleWidth(gs, o);
    gs.rp1 = gs.rp0;
    gs.rp2 = p;
    if (opcode & SET_RP0)
        gs.rp0 = p;
    // The minimum distance comes first, rounding second.
    if (opcode & KEEP_MINIMUM)
        d = applyMinimumDistance(gs, d, d);
    if (opcode & ROUND)
        d = roundDistance(gs, d);
    move(gs, point, wrapSub(d, dist(gs, point, reference)));
}

void opMIRP(Rasterizer& r, MappedFile&, uint8_t opcode)
{
    const int32_t n = r.pop();
    const int32_t p = r.pop();
    GraphicsState& gs = r.gs;
    int32_t c = applySingleWidth(gs, r.cvtEntry(n, "n >= 0 && n < sizeCvt"));
    const OutlinePoint& reference = r.point(gs.zp0, gs.rp0);
    OutlinePoint& point = r.point(gs.zp1, p);
    const int32_t o = odist(gs, point, reference);
    if (gs.autoFlip && (o ^ c) < 0)
        c = wrapNeg(c);
    // Rounding comes first, the minimum distance second, on the side of the
    // original distance.
    if (opcode & ROUND) {
        if (wrapAbs(wrapSub(c, o)) >= gs.cvtCutIn)
            c = o;
        c = roundDistance(gs, c);
    }
    if (opcode & KEEP_MINIMUM)
        c = applyMinimumDistance(gs, c, o);
    move(gs, point, wrapSub(c, dist(gs, point, reference)));
    gs.rp1 = gs.rp0;
    gs.rp2 = p;
    if (opcode & SET_RP0)
        gs.rp0 = p;
}
