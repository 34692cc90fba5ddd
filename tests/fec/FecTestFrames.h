// Encoded DVB-S2 FECFRAMEs and their soft values for the LDPC tests: the test
// transmitter's BB scrambler, BCH and LDPC encoders, then an AWGN channel and
// the demodulator's soft-value scaling.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace fectest {

struct EncodedFrame {
    int codeIndex = 0;
    std::vector<uint8_t> bbframe;   // K_bch bits before scrambling, MSB first
    std::vector<uint8_t> codeword;  // N bits as transmitted (scrambled), MSB first
};

// Bits per code: N, K_bch.
int frameBits(int codeIndex);
int bbframeBits(int codeIndex);

EncodedFrame encodeRandomFrame(int codeIndex, std::mt19937& rng);

enum class Channel { Qpsk, Psk8 };

// Soft values of a codeword over AWGN at Es/N0 (dB). QPSK: every bit on one
// axis at amplitude 1/√2. 8PSK-like: the bit's amplitude is one of the three
// projections of an 8PSK point, as the three bits of a symbol see them.
// A very large Es/N0 (≥ 100 dB) gives the noiseless values. `level` scales
// the symbols (signal and noise alike) before the soft values are taken: the
// receiver's gain control leaves clean QPSK at about 0.61 of unit energy.
std::vector<int8_t> softValues(const std::vector<uint8_t>& codeword, int bits, double esN0dB, Channel channel,
                               std::mt19937& rng, double level = 1.0);

// The LDPC tag byte for a code index (a QPSK or 8PSK MODCOD using it).
uint8_t tagForCode(int codeIndex);

// The PLS code (MODCOD, bit 5 short frame) of the code index in QPSK or in
// 8PSK; 0 where 8PSK has no such rate (1/4 … 1/2, 4/5).
uint8_t plsCodeFor(int codeIndex, bool psk8);
// The same in 16APSK (4 bits per symbol) or 32APSK (5); 0 where it has no
// such rate (16APSK below 2/3, 32APSK below 3/4).
uint8_t apskPlsCodeFor(int codeIndex, int bitsPerSymbol);

// The soft values the demodulator makes of the codeword sent as symbols of
// `plsCode` (any constellation, bit-interleaved as the transmitter does) over
// AWGN at Es/N0 (dB), scaled by `level` before the demapper.
std::vector<int8_t> demappedValues(const std::vector<uint8_t>& codeword, uint8_t plsCode, double esN0dB,
                                   std::mt19937& rng, double level = 0.61);

} // namespace fectest

#include "fec/LdpcDecoder.h"

#include <memory>

namespace fectest {

// An LdpcDecoder with its own 8 MiB block, built for one code.
class TestDecoder {
public:
    explicit TestDecoder(int codeIndex);
    LdpcDecoder& operator*() { return decoder; }
    LdpcDecoder* operator->() { return &decoder; }

private:
    struct Free {
        void operator()(uint8_t* p) const;
    };
    std::unique_ptr<uint8_t, Free> arena;
    LdpcDecoder decoder;
};

// Es/N0 (dB) of quasi-error-free QPSK operation for the code's rate
// (EN 302 307-1 Table 13), the short codes taken at the same rate.
double qpskThresholdDb(int codeIndex);

} // namespace fectest
