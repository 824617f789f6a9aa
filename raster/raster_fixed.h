// The fixed-point vocabulary of every coordinate computation: outline
// scaling, hinting, scan conversion and metrics.
//
// Coordinates are 26.6 (64 is one pixel), vector components and component
// scales 2.14 (0x4000 is 1.0). All of it is 32-bit two's complement that
// wraps on overflow, as font data of any size may drive a value past the
// word; the wrap is done on unsigned words so that it is defined, and the
// sanitizer build, which stops on signed overflow, agrees. Right shifts are
// arithmetic; divisions truncate toward zero.
#pragma once

#include <cstdint>

constexpr int32_t wrapAdd(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

constexpr int32_t wrapSub(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

constexpr int32_t wrapMul(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

constexpr int32_t wrapNeg(int32_t a)
{
    return static_cast<int32_t>(0u - static_cast<uint32_t>(a));
}

constexpr int32_t wrapAbs(int32_t a)
{
    return a < 0 ? wrapNeg(a) : a;
}

// v << shift with the bits shifted past the sign dropped.
constexpr int32_t wrapShiftLeft(int32_t v, int32_t shift)
{
    return static_cast<int32_t>(static_cast<uint32_t>(v) << (shift & 31));
}

// a * b + c * d in 32 bits.
constexpr int32_t wrapMulAdd(int32_t a, int32_t b, int32_t c, int32_t d)
{
    return wrapAdd(wrapMul(a, b), wrapMul(c, d));
}

// a / b truncated toward zero; b must not be 0. The one quotient that does
// not fit, INT32_MIN / -1, wraps to INT32_MIN.
constexpr int32_t divTrunc(int32_t a, int32_t b)
{
    return b == -1 ? wrapNeg(a) : a / b;
}

// (a * b + c) / d with the product and the sum in 64 bits and the quotient
// truncated toward zero and wrapped to 32 bits; d must not be 0.
constexpr int32_t mulDiv(int32_t a, int32_t b, int64_t c, int64_t d)
{
    return static_cast<int32_t>(static_cast<uint64_t>((static_cast<int64_t>(a) * b + c) / d));
}

// The projection of (x, y) on a 2.14 vector (vx, vy), rounded to 26.6:
// (x * vx + y * vy + 8192) >> 14, every step in 32 bits.
constexpr int32_t project14(int32_t x, int32_t y, int32_t vx, int32_t vy)
{
    return wrapAdd(wrapMulAdd(x, vx, y, vy), 8192) >> 14;
}

// (factor * v) >> 14 in 32 bits: a 2.14 factor applied to a 26.6 value.
constexpr int32_t mul14(int32_t factor, int32_t v)
{
    return wrapMul(factor, v) >> 14;
}

// 26.6 rounding to whole pixels.
constexpr int32_t roundToPixel(int32_t v)
{
    return static_cast<int32_t>((static_cast<uint32_t>(v) + 32) & ~63u);
}

constexpr int32_t floorToPixel(int32_t v)
{
    return static_cast<int32_t>(static_cast<uint32_t>(v) & ~63u);
}

constexpr int32_t ceilToPixel(int32_t v)
{
    return static_cast<int32_t>((static_cast<uint32_t>(v) + 63) & ~63u);
}

// The outline transform's last step: a product of FUnits and a scale factor
// has 5 extra fraction bits, rounded away, and the factor's lost bits come
// back through the shift: ((v + 16) >> 5) << shift.
constexpr int32_t roundAndShift(int32_t v, int32_t shift)
{
    return wrapShiftLeft(wrapAdd(v, 16) >> 5, shift);
}

// A control value in FUnits scaled to 26.6 with the sum of the two diagonal
// factors: ((factor * v + 32) >> 6) << shift.
constexpr int32_t scaleControlValue(int32_t v, int32_t factor, int32_t shift)
{
    return wrapShiftLeft(wrapAdd(wrapMul(factor, v), 32) >> 6, shift);
}
