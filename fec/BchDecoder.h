// Decoder of the DVB-S2 outer BCH codes (fec/Dvbs2BchCodes.h): normal frames
// over GF(2^16), t = 12, 10 or 8; short frames over GF(2^14), t = 12.
//
// The codeword is N_bch bits packed MSB first, the first bit the coefficient
// of the highest power: K_bch data bits (the scrambled BBFRAME), then the
// N_bch − K_bch parity bits. The frame may hold it XORed with a fixed pattern
// (the LDPC stage hands on the codeword XORed with the BB descrambling
// sequence over its whole length); the decoder then takes that pattern at
// construction and corrects the bits in place, pattern and all.
//
// decode() divides the frame by the generator a byte at a time; a zero
// remainder is a clean frame. Otherwise it evaluates the syndromes from the
// remainder and runs Berlekamp–Massey and a Chien search over the N_bch
// positions. decodeReference() does the same bit by bit, straight from the
// definitions, to check the fast one against.
#pragma once

#include "fec/BchGenerator.h"

#include <array>
#include <cstdint>
#include <vector>

class BchDecoder {
public:
    static constexpr int kFailed = -1;
    static constexpr int kMaxT = 12;

    // codeIndex: 0 … 10 normal codes, 11 … 20 short ones. pattern: N_bch/8
    // bytes XORed onto the codeword in the frames to decode, or nullptr.
    explicit BchDecoder(int codeIndex, const uint8_t* pattern = nullptr);

    int nbch() const { return n; }
    int kbch() const { return k; }
    int t() const { return tErrors; }
    int fieldBits() const { return m; }

    // Corrects the N_bch/8 bytes of `frame` in place. Returns the number of
    // bits corrected (0 for a clean frame), or kFailed when more than t errors
    // were detected; the frame is then left unchanged.
    int decode(uint8_t* frame) const;
    int decodeReference(uint8_t* frame) const;

    // S_1 … S_2t of the frame (pattern removed) into s[0 … 2t−1]; true when
    // all are zero.
    bool syndromes(const uint8_t* frame, uint16_t* s) const;
    bool syndromesReference(const uint8_t* frame, uint16_t* s) const;

private:
    using Reg = BchRegister;

    struct Field {
        int m = 0;
        int order = 0;                // 2^m − 1
        std::vector<uint16_t> exp;    // α^i for i in 0 … 2·order
        std::vector<int32_t> log;     // log[0] unused
    };
    static const Field& field(int m, uint32_t primitive);

    uint16_t mul(uint16_t a, uint16_t b) const;
    uint16_t power(int e) const;      // α^e for any e ≥ 0

    Reg remainder(const uint8_t* frame) const;
    void syndromesOfRemainder(const Reg& r, uint16_t* s) const;
    // Error positions (bit indexes) from the syndromes; false on failure.
    // positions: room for t; count: how many were found.
    bool locate(const uint16_t* s, int* positions, int& count, bool reference) const;
    int correct(uint8_t* frame, const uint16_t* s, bool reference) const;

    int n = 0;
    int k = 0;
    int tErrors = 0;
    int m = 0;
    int degree = 0;
    const Field* gf = nullptr;
    std::vector<uint8_t> offset;      // the pattern, empty for none
    Reg offsetRemainder{};
    std::array<Reg, 256> table{};
};
