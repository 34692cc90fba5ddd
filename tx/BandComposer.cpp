#include "tx/BandComposer.h"

#include <cmath>

namespace tx {

BandComposer::BandComposer(std::vector<BandCarrier> carriers, int64_t sampleRate, uint64_t seed) : noise(seed)
{
    for (BandCarrier& c : carriers) {
        c.settings.sampleRate = sampleRate;
        c.settings.noise = false;
        Source s;
        s.generator = std::make_unique<SignalGenerator>(c.settings);
        if (!s.generator->error().empty() && problem.empty())
            problem = s.generator->error();
        const double p = carrierPower(c.esn0Db, double(c.settings.symbolRate), double(sampleRate));
        s.amplitude = float(std::sqrt(p));
        power += p;
        sources.push_back(std::move(s));
    }
}

BandComposer::~BandComposer() = default;

double BandComposer::carrierPower(double esn0Db, double symbolRate, double sampleRate)
{
    // Es/N0 = (P / Rs) / (N / fs) with the floor's N = 1 per sample.
    return std::pow(10.0, esn0Db / 10.0) * symbolRate / sampleRate;
}

void BandComposer::generate(std::vector<cf32>& out, size_t n)
{
    const size_t first = out.size();
    out.resize(first + n);
    cf32* band = out.data() + first;
    const float sigma = float(std::sqrt(0.5));   // per component: power 1
    for (size_t k = 0; k < n; ++k) {
        float a, b;
        noise.pair(a, b);
        band[k] = cf32(a * sigma, b * sigma);
    }
    for (Source& s : sources) {
        size_t done = 0;
        while (done < n) {
            if (s.taken == s.pending.size()) {
                s.pending.clear();
                s.taken = 0;
                s.generator->nextUnit(s.pending);
                if (s.pending.empty())
                    break;   // nothing more to send
                continue;
            }
            const size_t take = std::min(n - done, s.pending.size() - s.taken);
            for (size_t k = 0; k < take; ++k)
                band[done + k] += s.amplitude * s.pending[s.taken + k];
            s.taken += take;
            done += take;
        }
    }
}

} // namespace tx
