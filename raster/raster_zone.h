// Points of an outline zone and the graphics state the hinting programs run
// with; shared by the outline loader, the scan converter and the interpreter.
#pragma once

#include <cstdint>

// Bits of OutlinePoint::flags. The low byte is the glyph's flag byte as
// stored in the file; only the bits named here mean anything afterwards.
constexpr uint32_t POINT_ON_CURVE = 0x01;
constexpr uint32_t POINT_TOUCHED_X = 0x40;
constexpr uint32_t POINT_TOUCHED_Y = 0x80;
// Set by the loader on the last point of each simple glyph, so that the scan
// converter can fill every component of a composite on its own.
constexpr uint32_t POINT_OUTLINE_END = 0x100;

// One point of a zone, in 26.6 pixels: the current (hinted) position and the
// scaled, unhinted one.
struct OutlinePoint {
    int32_t x;
    int32_t y;
    int32_t orgX;
    int32_t orgY;
    uint32_t flags;
};

constexpr int32_t TWILIGHT_ZONE = 0;
constexpr int32_t GLYPH_ZONE = 1;

// The state every hinting program starts from; the member initialisers are
// the start values, so a Rasterizer holds a defined state before any program
// has run (dropout control on, as every program starts).
struct GraphicsState {
    int32_t freedomX = 0x4000;
    int32_t projX = 0x4000;
    int32_t dualX = 0x4000;
    int32_t freedomY = 0;
    int32_t projY = 0;
    int32_t dualY = 0;
    uint32_t touchMask = POINT_TOUCHED_X;
    int32_t moveX = 0x4000;
    int32_t moveY = 0;
    int32_t zp0 = GLYPH_ZONE;
    int32_t zp1 = GLYPH_ZONE;
    int32_t zp2 = GLYPH_ZONE;
    int32_t rp0 = 1;
    int32_t rp1 = 1;
    int32_t rp2 = 1;
    int32_t loop = 1;
    int32_t autoFlip = 1;
    int32_t cvtCutIn = 68;
    int32_t roundState = 1;
    int32_t roundPhase = 0;
    int32_t roundPeriod = 64;
    int32_t roundThreshold = 0;
    int32_t minDistance = 64;
    int32_t singleWidthCutIn = 0;
    int32_t singleWidth = 0;
    int32_t deltaBase = 9;
    int32_t deltaShift = 3;
    int32_t dropoutControl = 1;
};
