// The DVB-S2 transmit chain of EN 302 307-1 §5: BBFRAME → BB scrambling → BCH
// → LDPC → bit interleaving → mapping → PL framing, one PLFRAME per call.
#pragma once

#include "tx/BbHeader.h"
#include "tx/BbScrambler.h"
#include "tx/BchEncoder.h"
#include "tx/Constellations.h"
#include "tx/LdpcEncoder.h"
#include "tx/Modcod.h"
#include "tx/PlFramer.h"

#include <array>
#include <memory>
#include <vector>

namespace tx {

struct Dvbs2Config {
    std::vector<int> modcods{4}; // one: CCM; several: VCM, used in turn frame by frame
    FrameSize frame = FrameSize::Normal;
    bool pilots = false;
    int scramblingCode = 0;
};

class Dvbs2Transmitter {
public:
    // Every MODCOD must carry data in the frame size (see dataModcodError()).
    Dvbs2Transmitter(const Dvbs2Config& config, BbFrameBuilder& builder);

    // The next PLFRAME: a data frame, or a dummy frame when the builder has no data.
    void nextFrame(std::vector<cf32>& symbols);

    // About the frame last made.
    bool lastWasDummy() const { return dummy; }
    int lastModcod() const { return dummy ? 0 : modcod; }
    const std::vector<uint8_t>& lastBbframe() const { return bbframe; }   // before BB scrambling
    const std::vector<uint8_t>& lastFecframe() const { return fecframe; } // before bit interleaving

private:
    struct Code {
        std::unique_ptr<BchEncoder> bch;
        std::unique_ptr<LdpcEncoder> ldpc;
    };
    Code& code(int index);

    Dvbs2Config config;
    BbFrameBuilder& builder;
    BbScrambler scrambler;
    PlFramer framer;
    std::array<Code, 21> codes;
    std::array<std::vector<cf32>, 32> points;
    size_t nextModcod = 0;
    bool dummy = false;
    int modcod = 0;
    std::vector<uint8_t> bbframe;
    std::vector<uint8_t> fecframe;
    std::vector<uint8_t> labels;
    std::vector<cf32> data;
};

} // namespace tx
