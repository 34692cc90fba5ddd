#include "ui/PowerLevels.h"

#include <algorithm>
#include <cmath>

double spectrumDbfs(float amplitude)
{
    if (!(amplitude > 0.0f))
        return -200.0;
    return 20.0 * std::log10(double(amplitude) / 32768.0);
}

float waterfallLevel(double dbfs)
{
    const double level = (dbfs - kWaterfallFloorDbfs) / (kWaterfallTopDbfs - kWaterfallFloorDbfs);
    return float(std::clamp(level, 0.0, 1.0));
}
