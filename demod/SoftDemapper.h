// Soft decisions of a DVB-S2 frame's data symbols (EN 302 307-1 §5.3.2, the
// bit interleaver undone for 8PSK): one signed byte per code bit, positive
// meaning bit 0. QPSK and 8PSK; 16APSK and 32APSK are tracked, not demapped.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

class SoftDemapper {
public:
    static constexpr uint32_t kMaxValues = 64800;

    // A new frame of this PLS code.
    void start(uint8_t plsCode);
    // One descrambled data symbol.
    void demap(std::complex<float> s);

    // The frame's code word is complete: 16200 or 64800 values.
    bool complete() const { return written == frameValues; }
    uint32_t size() const { return frameValues; }
    const int8_t* values() const { return soft.data(); }

private:
    uint8_t pls = 0;
    int constellation = 0;        // 2 QPSK, 3 8PSK (index of Part 3.1); others not demapped
    bool reversedColumns = false; // 8PSK 3/5
    uint32_t frameValues = kMaxValues;
    uint32_t written = 0;
    std::vector<int8_t> soft = std::vector<int8_t>(kMaxValues, 0);
};

// (int)(x · 128) toward zero, limited to −128 … 127.
int8_t softValue(float x);
