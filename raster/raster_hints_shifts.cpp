// Instructions that move groups of points or derive positions from other
// points: shifts, interpolation, alignment, intersection, the untouched
// points' interpolation (IUP), delta exceptions, and the touch and on-curve
// bits.
#include <algorithm>

#include "raster/raster_hints.h"

namespace {

// Runs perPoint for `loop` point numbers popped one by one, then sets loop
// back to 1; a loop of 0 or less pops nothing.
template <typename PerPoint>
void forEachLoopPoint(Rasterizer& r, PerPoint perPoint)
{
    for (int32_t k = r.gs.loop; k > 0 && !r.failed(); k--) {
        r.charge(1);
        perPoint(r.pop());
    }
    r.gs.loop = 1;
}

// The reference point of SHP, SHC and SHZ: rp2 in zp1 for opcode bit 0
// clear, rp1 in zp0 for it set.
OutlinePoint& shiftReference(Rasterizer& r, uint8_t opcode)
{
    return (opcode & 1) ? r.point(r.gs.zp0, r.gs.rp1) : r.point(r.gs.zp1, r.gs.rp2);
}

} // namespace

// --- Shifts --------------------------------------------------------------

void opSHP(Rasterizer& r, MappedFile&, uint8_t opcode)
{
    const int32_t s = shiftOf(r.gs, shiftReference(r, opcode));
    forEachLoopPoint(r, [&](int32_t p) { move(r.gs, r.point(r.gs.zp2, p), s); });
}

void opSHC(Rasterizer& r, MappedFile&, uint8_t opcode)
{
    const int32_t c = r.pop();
    if (c < 0 || c >= r.sizeContours) {
        r.fail("m >= 0 && m < sizeContours");
        return;
    }
    const OutlinePoint& reference = shiftReference(r, opcode);
    const int32_t s = shiftOf(r.gs, reference);
    const int32_t first = c == 0 ? 0 : wrapAdd(r.contourEnd(c - 1), 1);
    const int32_t last = r.gs.zp2 == GLYPH_ZONE ? r.contourEnd(c) : r.zoneSize[TWILIGHT_ZONE] - 1;
    if (r.failed() || first > last)
        return;
    r.charge(int64_t(last) - first + 1);
    for (int32_t i = first; i <= last && !r.failed(); i++) {
        OutlinePoint& point = r.point(r.gs.zp2, i);
        if (&point != &reference)
            move(r.gs, point, s);
    }
}

void opSHZ(Rasterizer& r, MappedFile&, uint8_t opcode)
{
    const int32_t z = r.pop();
    if (z < 0 || z > 1) {
        r.fail("m >= 0 && m <= 1");
        return;
    }
    const OutlinePoint& reference = shiftReference(r, opcode);
    const int32_t s = shiftOf(r.gs, reference);
    // The outline points only: the phantom points stay, and no point is
    // marked touched.
    const int32_t count = r.zone[z] ? r.zoneSize[z] : 0;
    r.charge(count);
    const int32_t dx = mul14(r.gs.moveX, s), dy = mul14(r.gs.moveY, s);
    for (int32_t i = 0; i < count && !r.failed(); i++) {
        OutlinePoint& point = r.zone[z][i];
        if (&point == &reference)
            continue;
        point.x = wrapAdd(point.x, dx);
        point.y = wrapAdd(point.y, dy);
    }
}

void opSHPIX(Rasterizer& r, MappedFile&, uint8_t)
{
    const int32_t d = r.pop();
    forEachLoopPoint(r, [&](int32_t p) { pushPoint(r.gs, r.point(r.gs.zp2, p), d); });
}

// --- Interpolation and alignment -----------------------------------------

namespace {

// Places p between a and b as it lay between them in the original outline;
// beyond either end it keeps its original offset from the nearer one.
void interpolatePoint(const GraphicsState& gs, OutlinePoint& p, const OutlinePoint& a, const OutlinePoint& b)
{
    const int32_t rP = wrapAdd(wrapMulAdd(wrapSub(p.orgX, a.orgX), gs.dualX, wrapSub(p.orgY, a.orgY), gs.dualY), 8192);
    const int32_t oP = rP >> 14;
    int32_t d;
    if (oP == 0) {
        d = wrapAdd(dist(gs, a, p), oP);
    } else {
        const int32_t rB =
            wrapAdd(wrapMulAdd(wrapSub(b.orgX, a.orgX), gs.dualX, wrapSub(b.orgY, a.orgY), gs.dualY), 8192);
        const int32_t oB = rB >> 14;
        if ((oP ^ oB) < 0)
            d = wrapAdd(dist(gs, a, p), oP);
        else if ((oB >= 0 && oP >= oB) || (oB <= 0 && oP <= oB))
            d = wrapSub(dist(gs, b, p), odist(gs, b, p));
        else
            d = wrapSub(mulDiv(oP, dist(gs, b, a), rB >> 15, oB), dist(gs, p, a));
    }
    move(gs, p, d);
}

} // namespace

void opIP(Rasterizer& r, MappedFile&, uint8_t)
{
    const OutlinePoint& a = r.point(r.gs.zp0, r.gs.rp1);
    const OutlinePoint& b = r.point(r.gs.zp1, r.gs.rp2);
    forEachLoopPoint(r, [&](int32_t p) { interpolatePoint(r.gs, r.point(r.gs.zp2, p), a, b); });
}

void opALIGNRP(Rasterizer& r, MappedFile&, uint8_t)
{
    const OutlinePoint& reference = r.point(r.gs.zp0, r.gs.rp0);
    forEachLoopPoint(r, [&](int32_t p) {
        OutlinePoint& point = r.point(r.gs.zp1, p);
        move(r.gs, point, dist(r.gs, reference, point));
    });
}

void opALIGNPTS(Rasterizer& r, MappedFile&, uint8_t)
{
    const int32_t p2 = r.pop();
    const int32_t p1 = r.pop();
    OutlinePoint& a = r.point(r.gs.zp0, p2);
    OutlinePoint& b = r.point(r.gs.zp1, p1);
    const int32_t h = wrapAdd(wrapMulAdd(wrapSub(a.x, b.x), r.gs.projX, wrapSub(a.y, b.y), r.gs.projY), 8192) >> 15;
    move(r.gs, a, wrapNeg(h));
    move(r.gs, b, h);
}

void opISECT(Rasterizer& r, MappedFile&, uint8_t)
{
    const int32_t b1 = r.pop();
    const int32_t b0 = r.pop();
    const int32_t a1 = r.pop();
    const int32_t a0 = r.pop();
    const int32_t p = r.pop();
    const OutlinePoint& A0 = r.point(r.gs.zp0, a0);
    const OutlinePoint& A1 = r.point(r.gs.zp0, a1);
    const OutlinePoint& B0 = r.point(r.gs.zp1, b0);
    const OutlinePoint& B1 = r.point(r.gs.zp1, b1);
    OutlinePoint& P = r.point(r.gs.zp2, p);
    if (r.failed())
        return;
    P.flags |= POINT_TOUCHED_X | POINT_TOUCHED_Y;
    const int32_t den = wrapMulAdd(wrapSub(B1.x, B0.x), wrapSub(A0.y, A1.y), wrapSub(B0.y, B1.y), wrapSub(A0.x, A1.x));
    if (den == 0) {
        // Parallel lines: the middle of the second line.
        P.x = wrapAdd(wrapAdd(B0.x, B1.x), 1) >> 1;
        P.y = wrapAdd(wrapAdd(B0.y, B1.y), 1) >> 1;
        return;
    }
    const int32_t num = wrapMulAdd(wrapSub(A0.y, A1.y), wrapSub(B1.x, A1.x), wrapSub(A0.x, A1.x), wrapSub(A1.y, B1.y));
    P.x = wrapAdd(B1.x, mulDiv(wrapSub(B0.x, B1.x), num, den >> 1, den));
    P.y = wrapAdd(B1.y, mulDiv(wrapSub(B0.y, B1.y), num, den >> 1, den));
}

namespace {

// One axis of IUP: the coordinate it moves, the original it reads and the
// touch bit that marks a point as placed.
struct Axis {
    int32_t OutlinePoint::*current;
    int32_t OutlinePoint::*original;
    uint32_t touched;
};

void interp(const Axis& axis, OutlinePoint& p, const OutlinePoint& a, const OutlinePoint& b)
{
    const int32_t po = p.*axis.original, ao = a.*axis.original, bo = b.*axis.original;
    const int32_t ac = a.*axis.current, bc = b.*axis.current;
    const int32_t offsetP = wrapSub(po, ao), span = wrapSub(bo, ao);
    if (offsetP == 0 || (offsetP ^ span) < 0)
        p.*axis.current = wrapAdd(po, wrapSub(ac, ao));
    else if ((span >= 0 && po >= bo) || (span <= 0 && po <= bo))
        p.*axis.current = wrapAdd(po, wrapSub(bc, bo));
    else
        p.*axis.current = wrapAdd(ac, mulDiv(wrapAdd(offsetP, 1), wrapSub(bc, ac), span >> 1, span));
}

void interpolateContour(const Axis& axis, OutlinePoint* pts, int32_t first, int32_t last)
{
    int32_t touched = first;
    while (touched <= last && !(pts[touched].flags & axis.touched))
        touched++;
    if (touched > last)
        return;
    const int32_t firstTouched = touched;
    int32_t s = firstTouched;
    for (;;) {
        int32_t t = s + 1;
        while (t <= last && !(pts[t].flags & axis.touched))
            t++;
        if (t <= last) {
            for (int32_t i = s + 1; i < t; i++)
                interp(axis, pts[i], pts[s], pts[t]);
            s = t;
            continue;
        }
        // Past the last touched point the contour wraps round to the first.
        for (int32_t i = s + 1; i <= last; i++)
            interp(axis, pts[i], pts[s], pts[firstTouched]);
        for (int32_t i = first; i < firstTouched; i++)
            interp(axis, pts[i], pts[s], pts[firstTouched]);
        return;
    }
}

} // namespace

void opIUP(Rasterizer& r, MappedFile&, uint8_t opcode)
{
    // IUP works on the glyph zone whatever the zone pointers say.
    OutlinePoint* pts = r.zone[GLYPH_ZONE];
    const int32_t n = r.zoneSize[GLYPH_ZONE];
    if (!pts || !r.contourEnds || r.contourCount <= 0)
        return;
    const Axis axis = (opcode & 1) ? Axis{&OutlinePoint::x, &OutlinePoint::orgX, POINT_TOUCHED_X}
                                   : Axis{&OutlinePoint::y, &OutlinePoint::orgY, POINT_TOUCHED_Y};
    r.charge(2 * int64_t(n) + r.contourCount);
    int32_t first = 0;
    for (int32_t i = 0; i < r.contourCount && !r.failed(); i++) {
        // The loader keeps contour ends ascending and inside the outline;
        // the bounds are kept here all the same, as nothing else protects
        // the walk.
        const int32_t last = std::min(r.contourEnds[i], n - 1);
        if (first <= last)
            interpolateContour(axis, pts, first, last);
        first = std::max(first, last + 1);
    }
}

// --- Delta exceptions ----------------------------------------------------

namespace {

// Pops the pairs of one delta instruction and calls apply(number, amount)
// for each pair of the current size. k is 0, 1 or 2 for the instruction's
// range of sizes.
template <typename Apply>
void deltas(Rasterizer& r, int32_t k, Apply apply)
{
    const int32_t n = r.pop();
    const int64_t range = int64_t(r.ppem) - r.gs.deltaBase - 16 * k;
    auto discard = [&](int64_t values) {
        for (; values > 0 && !r.failed(); values--)
            r.pop();
    };
    if (range < 0 || range > 15) {
        discard(2 * int64_t(n));
        return;
    }
    if (n <= 0)
        return;
    if (r.gs.deltaShift < 0 || r.gs.deltaShift > 6) {
        r.fail("deltaShift >= 0 && deltaShift <= 6");
        return;
    }
    for (int32_t i = 0; i < n && !r.failed(); i++) {
        const int32_t number = r.pop();
        const int32_t argument = r.pop();
        const int32_t nibble = argument & 0xF0;
        if (nibble < range * 16) {
            // Pairs come in descending order of size as they are popped:
            // one for a smaller size ends the list.
            discard(2 * (int64_t(n) - i - 1));
            return;
        }
        if (nibble > range * 16)
            continue;
        const int32_t s = argument & 15;
        const int32_t step = s < 8 ? s - 8 : s - 7;
        apply(number, step * (1 << (6 - r.gs.deltaShift)));
    }
}

} // namespace

void opDELTAP(Rasterizer& r, MappedFile&, uint8_t opcode)
{
    const int32_t k = opcode == 0x5D ? 0 : opcode - 0x70;
    deltas(r, k, [&](int32_t p, int32_t amount) { pushPoint(r.gs, r.point(r.gs.zp0, p), amount); });
}

void opDELTAC(Rasterizer& r, MappedFile&, uint8_t opcode)
{
    deltas(r, opcode - 0x73, [&](int32_t c, int32_t amount) {
        int32_t& value = r.cvtEntry(c, "n >= 0 && n < sizeCvt");
        value = wrapAdd(value, amount);
    });
}

// --- Touch and on-curve bits ---------------------------------------------

void opUTP(Rasterizer& r, MappedFile&, uint8_t)
{
    r.point(r.gs.zp0, r.pop()).flags &= ~(POINT_TOUCHED_X | POINT_TOUCHED_Y);
}

void opFLIPPT(Rasterizer& r, MappedFile&, uint8_t)
{
    forEachLoopPoint(r, [&](int32_t p) { r.point(r.gs.zp1, p).flags ^= POINT_ON_CURVE; });
}

namespace {

template <typename Change>
void flipRange(Rasterizer& r, Change change)
{
    const int32_t hi = r.pop();
    const int32_t lo = r.pop();
    if (r.failed() || hi < lo)
        return;
    // Both ends are checked first, so a huge range fails before any walk.
    r.point(r.gs.zp1, lo);
    r.point(r.gs.zp1, hi);
    if (r.failed())
        return;
    r.charge(int64_t(hi) - lo + 1);
    for (int32_t p = lo; p <= hi; p++)
        change(r.point(r.gs.zp1, p).flags);
}

} // namespace

void opFLIPRGON(Rasterizer& r, MappedFile&, uint8_t)
{
    flipRange(r, [](uint32_t& flags) { flags |= POINT_ON_CURVE; });
}

void opFLIPRGOFF(Rasterizer& r, MappedFile&, uint8_t)
{
    flipRange(r, [](uint32_t& flags) { flags &= ~POINT_ON_CURVE; });
}
