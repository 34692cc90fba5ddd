#include "tx/ConvEncoder.h"

#include <cmath>

namespace tx {

namespace {

struct RateRow {
    DvbsRate rate;
    const char* name;
    int k;
    int n;
    const char* x; // table 2: 1 = transmitted
    const char* y;
};

constexpr RateRow kRates[] = {
    {DvbsRate::R12, "1/2", 1, 2, "1", "1"},
    {DvbsRate::R23, "2/3", 2, 3, "10", "11"},
    {DvbsRate::R34, "3/4", 3, 4, "101", "110"},
    {DvbsRate::R56, "5/6", 5, 6, "10101", "11010"},
    {DvbsRate::R78, "7/8", 7, 8, "1000101", "1111010"},
};

const RateRow& row(DvbsRate rate)
{
    for (const RateRow& r : kRates)
        if (r.rate == rate)
            return r;
    return kRates[0];
}

inline int parity(int v)
{
    return __builtin_parity(unsigned(v));
}

const float kR = float(1.0 / std::sqrt(2.0));

} // namespace

bool dvbsRateFromName(const std::string& name, DvbsRate& rate)
{
    for (const RateRow& r : kRates) {
        if (name == r.name) {
            rate = r.rate;
            return true;
        }
    }
    return false;
}

const char* dvbsRateName(DvbsRate rate)
{
    return row(rate).name;
}

int dvbsRateNumerator(DvbsRate rate)
{
    return row(rate).k;
}

int dvbsRateDenominator(DvbsRate rate)
{
    return row(rate).n;
}

ConvEncoder::ConvEncoder(DvbsRate rate)
    : xMask(row(rate).x), yMask(row(rate).y), period(int(xMask.size()))
{
}

void ConvEncoder::emit(int bit, std::vector<cf32>& symbols)
{
    if (pending < 0) {
        pending = bit;
        return;
    }
    // Figure 7: (I, Q) = (0, 0) at 45°, (1, 0) at 135°, (1, 1) at 225°, (0, 1) at 315°.
    symbols.emplace_back(pending ? -kR : kR, bit ? -kR : kR);
    pending = -1;
}

void ConvEncoder::encode(const uint8_t* bytes, int n, std::vector<cf32>& symbols)
{
    for (int i = 0; i < n; ++i) {
        for (int b = 7; b >= 0; --b) {
            const int reg = (bytes[i] >> b & 1) << 6 | state; // input, then d1 … d6
            state = reg >> 1;
            if (xMask[size_t(phase)] == '1')
                emit(parity(reg & 0171), symbols); // X = G1
            if (yMask[size_t(phase)] == '1')
                emit(parity(reg & 0133), symbols); // Y = G2
            if (++phase == period)
                phase = 0;
        }
    }
}

} // namespace tx
