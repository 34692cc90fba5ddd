// How the averaged spectrum is shown. Its values are amplitudes per bin in
// the units of the device samples (int16 full scale 32768, divided by the
// spectrum gain): a linear colour scale of those saturates at any usable
// signal level, so the displays work in dB relative to full scale.
#pragma once

// 20 log10(amplitude / 32768); −200 for nothing.
double spectrumDbfs(float amplitude);

// The waterfall's value for a level: −35 dBFS and below 0 (black),
// +10 dBFS 1 (white, saturation), linear in dB between.
float waterfallLevel(double dbfs);

constexpr double kWaterfallFloorDbfs = -35.0;
constexpr double kWaterfallTopDbfs = 10.0;
