// The DVB-S decoders with the alignment search, on the test transmitter's
// symbols turned by a channel and started at a wrong depuncturing phase:
// shared by the search's tests and its benchmark.
#pragma once

#include "fec/DvbS1OuterDecoder.h"
#include "fec/DvbsAlignmentSearch.h"
#include "fec/ViterbiDecoder.h"
#include "tx/DvbsTransmitter.h"

#include <complex>
#include <cstdint>
#include <memory>
#include <vector>

// Packets with a running number in bytes 4–7.
struct NumberedTsSource : tx::TsPacketSource {
    uint32_t next = 0;
    bool nextPacket(uint8_t* p) override;
    static uint32_t numberOf(const uint8_t* p);
};

class DvbsAlignmentRig {
public:
    // `quarterTurns` of the channel (0 … 3), `strayValues` soft values before
    // the first symbol's (0 … period − 1).
    DvbsAlignmentRig(int rateIndex, int quarterTurns, int strayValues, uint64_t patienceBits);

    // Runs until the search has settled on a lasting lock or `maxBits` bits
    // were decoded; returns the bits decoded.
    uint64_t runUntilSettled(uint64_t maxBits);
    // Decodes `packets` more packets' worth; true when every packet that came
    // out in that time followed its predecessor (running numbers, none lost).
    bool deliversInOrder(int packets);

    const DvbsAlignmentSearch& search() const { return *finder; }
    const DvbS1OuterDecoder& outer() const { return *outerDecoder; }

private:
    void decodeBlock();

    NumberedTsSource source;
    tx::DvbsTransmitter transmitter;
    ViterbiDecoder viterbi;
    std::unique_ptr<DvbS1OuterDecoder> outerDecoder;
    std::unique_ptr<DvbsAlignmentSearch> finder;
    std::complex<float> channel;
    int derotation = 0;
    std::vector<tx::cf32> symbols;
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> numbers;   // of the packets delivered
    uint64_t decodedBits = 0;
};
