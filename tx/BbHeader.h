// The 80-bit DVB-S2 baseband header, EN 302 307-1 §5.1.6.
#pragma once

#include <cstdint>

namespace tx {

enum class RollOff { R035 = 0, R025 = 1, R020 = 2 };

struct BbHeader {
    uint8_t matype1 = 0;
    uint8_t matype2 = 0;
    uint16_t upl = 0;   // user packet length in bits
    uint16_t dfl = 0;   // data field length in bits
    uint8_t sync = 0;
    uint16_t syncd = 0; // bits from the data field start to the first packet
    uint8_t crc8 = 0;   // filled in by writeBbHeader()
};

// MATYPE-1 fields (§5.1.6 table 3).
namespace matype {
constexpr uint8_t kTransportStream = 0xC0; // TS/GS = 11
constexpr uint8_t kGenericContinuous = 0x40; // TS/GS = 01
constexpr uint8_t kSingleStream = 0x20;    // SIS/MIS = 1
constexpr uint8_t kCcm = 0x10;             // CCM/ACM = 1 (0 for ACM/VCM)
} // namespace matype

// Writes the 10 header bytes with their CRC-8 (normal mode: CRC-8 XOR 0).
void writeBbHeader(BbHeader& header, uint8_t* out);

// Sample-rate independent roll-off factor.
double rollOffFactor(RollOff r);

// Fills the rest of a BBFRAME after DFL bits of data with zeros (§5.2.1 padding).
void padBbFrame(uint8_t* frame, int kbch, int dflBits);

// The frame builders: each fills one BBFRAME of K_bch bits (packed MSB first),
// or returns false when no data is available for it.
class BbFrameBuilder {
public:
    virtual ~BbFrameBuilder() = default;
    virtual bool build(int kbch, bool ccm, uint8_t* frame) = 0;
};

} // namespace tx
