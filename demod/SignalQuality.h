// Signal quality of the demodulated symbols: what the estimators of the two
// standards report, and the window of blocks they average over.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

// Es/N0: the symbol energy over the noise in the symbols. MER: the power of
// the ideal symbols over the power of the error vectors (received minus
// ideal) at the carrier loop's phase, everything that spreads the
// constellation counted. Both in dB. `valid`: Es/N0 is measured (enough
// symbols in, a signal there); `merValid`: MER is too, which needs the
// constellation held (DVB-S2 frames locked, the DVB-S carrier loop on the
// diagonals). MER is never valid without Es/N0.
struct SignalQualityReading {
    bool valid = false;
    bool merValid = false;
    double merDb = 0;
    double esn0Db = 0;
};

// Readings are limited to −30 … 60 dB: clean symbols leave no noise to
// measure, and below the floor there is no signal to speak of.
constexpr double kQualityFloorDb = -30.0;
constexpr double kQualityCeilingDb = 60.0;

// 10·log10(signal / noise) within those limits (signal ≤ 0: the floor;
// noise ≤ 0: the ceiling).
inline double qualityDb(double signal, double noise)
{
    if (!(signal > 0))
        return kQualityFloorDb;
    if (!(noise > 0))
        return kQualityCeilingDb;
    return std::clamp(10 * std::log10(signal / noise), kQualityFloorDb, kQualityCeilingDb);
}

// Sums over the last `Blocks` complete blocks of symbols: a block completes
// once it holds `blockSymbols`, and then replaces the oldest. Readings
// change once a block, from complete blocks only. `Sums` has a `symbols`
// count and +=.
template <typename Sums, size_t Blocks>
class BlockWindow {
public:
    explicit BlockWindow(double blockSymbols) : blockSymbols(blockSymbols) {}

    void add(const Sums& sums)
    {
        filling += sums;
        if (filling.symbols < blockSymbols)
            return;
        ring[next] = filling;
        next = (next + 1) % Blocks;
        if (complete < Blocks)
            ++complete;
        filling = Sums{};
    }
    void clear()
    {
        filling = Sums{};
        complete = 0;
        next = 0;
    }
    size_t blocks() const { return complete; }
    // Symbols the block being filled still takes before it completes.
    double room() const { return blockSymbols - filling.symbols; }
    Sums total() const
    {
        Sums t{};
        for (size_t i = 0; i < complete; ++i)
            t += ring[i];
        return t;
    }

private:
    double blockSymbols;
    Sums filling{};
    std::array<Sums, Blocks> ring{};
    size_t next = 0;
    size_t complete = 0;
};
