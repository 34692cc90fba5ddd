// Soft decisions of a DVB-S2 frame's data symbols (EN 302 307-1 §5.3.2, the
// bit interleaver undone): one signed byte per code bit, positive meaning
// bit 0. QPSK and 8PSK values are projections on the decision axes. An APSK
// symbol's bits depend on both its coordinates at once, so its first two
// columns hold the symbol itself (I, then Q, as sent, at kApskScale) and
// the others 0: the channel LLRs are worked out from those before decoding.
#pragma once

#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

class SoftDemapper {
public:
    static constexpr uint32_t kMaxValues = 64800;
    // APSK symbols have unit mean energy and reach 1.3 on the outer ring.
    static constexpr float kApskScale = 0.5f;

    // A new frame of this PLS code.
    void start(uint8_t plsCode);
    // One descrambled data symbol (inline: it runs for every data symbol).
    inline void demap(std::complex<float> s);
    // n of them, as demap() one after the other (QPSK and 8PSK on vectors).
    void demapRun(const std::complex<float>* s, size_t n);

    // The frame's code word is complete: 16200 or 64800 values.
    bool complete() const { return written == frameValues; }
    uint32_t size() const { return frameValues; }
    const int8_t* values() const { return soft.data(); }

private:
    // cos and sin 22.5° as the sine table holds them (entries 48 and 16).
    static const float kCos22_5;
    static const float kSin22_5;

    uint8_t pls = 0;
    int constellation = 0;        // 2 QPSK, 3 8PSK, 4 16APSK, 5 32APSK (bits per symbol); 0 none
    bool reversedColumns = false; // 8PSK 3/5
    uint32_t frameValues = kMaxValues;
    uint32_t written = 0;
    std::vector<int8_t> soft = std::vector<int8_t>(kMaxValues, 0);
};

// (int)(x · 128) toward zero, limited to −128 … 127.
inline int8_t softValue(float x)
{
    const float scaled = x * 128.0f;
    if (!(scaled > -128.0f))
        return -128;
    if (!(scaled < 127.0f))
        return scaled != scaled ? 0 : 127;
    return int8_t(int(scaled));
}

inline void SoftDemapper::demap(std::complex<float> s)
{
    if (constellation == 2) {
        if (written + 2 <= kMaxValues) {
            soft[written] = softValue(s.imag());
            soft[written + 1] = softValue(s.real());
            written += 2;
        }
    } else if (constellation == 3) {
        if (written + 3 <= frameValues) {
            const float c = kCos22_5, sn = kSin22_5;
            const float u = s.real() * c - s.imag() * sn;
            const float v = s.real() * sn + s.imag() * c;
            const int8_t b0 = softValue(std::fabs(v) - std::fabs(u));
            const int8_t b1 = softValue(v);
            const int8_t b2 = softValue(u);
            // Column-wise interleaving: the three bits of a symbol go to the
            // three thirds of the code word.
            const uint32_t m = written / 3;
            soft[m] = reversedColumns ? b2 : b0;
            soft[m + frameValues / 3] = b1;
            soft[m + 2 * frameValues / 3] = reversedColumns ? b0 : b2;
            written += 3;
        }
    } else if (constellation >= 4) {
        const uint32_t columns = uint32_t(constellation);
        if (written + columns <= frameValues) {
            const uint32_t m = written / columns;
            const uint32_t rows = frameValues / columns;
            // The symbols come mirrored (their real part is the standard's
            // quadrature component, as for QPSK above): I and Q as sent.
            soft[m] = softValue(kApskScale * s.imag());
            soft[m + rows] = softValue(kApskScale * s.real());
            for (uint32_t c = 2; c < columns; ++c)
                soft[m + c * rows] = 0;
            written += columns;
        }
    }
}
