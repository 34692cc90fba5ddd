// DVB-S inner code, EN 300 421 §4.4.4: convolutional code K = 7, G1 = 171 (X)
// and G2 = 133 (Y) octal, punctured by table 2 to 1/2 … 7/8, then Gray-mapped
// QPSK (§4.5, figure 7).
#pragma once

#include "tx/Constellations.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tx {

enum class DvbsRate { R12, R23, R34, R56, R78 };

// "1/2" … "7/8"; false when not a DVB-S code rate.
bool dvbsRateFromName(const std::string& name, DvbsRate& rate);
const char* dvbsRateName(DvbsRate rate);
// Information bits per punctured pair period: k of rate k/n.
int dvbsRateNumerator(DvbsRate rate);
int dvbsRateDenominator(DvbsRate rate);

class ConvEncoder {
public:
    explicit ConvEncoder(DvbsRate rate);

    // Encodes bytes (MSB first) and appends the finished QPSK symbols.
    void encode(const uint8_t* bytes, int n, std::vector<cf32>& symbols);

private:
    void emit(int bit, std::vector<cf32>& symbols);

    std::string xMask;  // the X and Y rows of table 2 for this rate
    std::string yMask;
    int period;
    int phase = 0;      // position in the puncturing period
    int state = 0;      // the last six input bits, the most recent at bit 5
    int pending = -1;   // I bit waiting for its Q bit
};

} // namespace tx
