// The waterfall's colours: black through blue, light blue, pale yellow,
// yellow and red to dark red, with white for saturation.
#pragma once

#include <QRgb>

#include <array>

// 256 entries, linear between the knots 0 (0,0,0), 37 (0,0,128),
// 74 (64,128,255), 111 (255,255,128), 147 (255,255,0), 219 (255,0,0), then
// falling toward (64,0,0) at 256; each channel truncated. Entry 255 is white.
const std::array<QRgb, 256>& waterfallColourTable();

// The entry for a spectrum value nominally 0 … 1: ⌊value × 255⌋; anything
// below 0 or above 255 (and not-a-number) is entry 255, the saturation white.
int waterfallColourIndex(float value);
