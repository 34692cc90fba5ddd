#include "dsp/RecentTransforms.h"

#include <algorithm>

RecentTransforms::RecentTransforms(int depth) : depth(std::max(1, depth)) {}

void RecentTransforms::add(const std::vector<float>& magnitudes)
{
    if (!held.empty() && held.front().size() != magnitudes.size())
        clear();
    if (int(held.size()) < depth) {
        held.push_back(magnitudes);
        return;
    }
    held[next] = magnitudes;
    next = (next + 1) % held.size();
}

int RecentTransforms::mean(std::vector<float>& average) const
{
    if (held.empty())
        return 0;
    const size_t n = held.front().size();
    average.assign(n, 0.0f);
    for (const std::vector<float>& s : held)
        for (size_t k = 0; k < n; ++k)
            average[k] += s[k];
    const float scale = 1.0f / float(held.size());
    for (float& v : average)
        v *= scale;
    return int(held.size());
}

void RecentTransforms::clear()
{
    held.clear();
    next = 0;
}
