#include "tx/PlFramer.h"

#include <cmath>

namespace tx {

namespace {
const float kR = float(1.0 / std::sqrt(2.0));
}

uint64_t plsCodeword(int pls)
{
    // Rows of the generator of §5.5.2.4 for b1 … b6 (b1 = MODCOD MSB, b6 = TYPE MSB).
    static constexpr uint32_t kRows[6] = {0x55555555u, 0x33333333u, 0x0F0F0F0Fu,
                                          0x00FF00FFu, 0x0000FFFFu, 0xFFFFFFFFu};
    uint32_t y = 0;
    for (int b = 0; b < 6; ++b)
        if (pls >> (6 - b) & 1)
            y ^= kRows[b];
    const int b7 = pls & 1;
    uint64_t code = 0;
    for (int i = 31; i >= 0; --i) {
        const int bit = y >> i & 1;
        code = code << 2 | uint64_t(bit << 1 | (bit ^ b7)); // y_i, then y_i ⊕ b7
    }
    return code;
}

std::vector<uint8_t> plScramblingSequence(int code, int count)
{
    constexpr int kPeriod = (1 << 18) - 1;
    const int length = count + 131072 + 1;
    std::vector<uint8_t> x(size_t(kPeriod + 18)), y(size_t(length + 18));
    x[0] = 1; // x(0) = 1, x(1) … x(17) = 0
    for (int i = 0; i + 18 < int(x.size()); ++i)
        x[size_t(i + 18)] = x[size_t(i + 7)] ^ x[size_t(i)];
    for (int i = 0; i < 18; ++i)
        y[size_t(i)] = 1;
    for (int i = 0; i + 18 < int(y.size()); ++i)
        y[size_t(i + 18)] = y[size_t(i + 10)] ^ y[size_t(i + 7)] ^ y[size_t(i + 5)] ^ y[size_t(i)];
    auto z = [&](int i) { return x[size_t((i + code) % kPeriod)] ^ y[size_t(i)]; };
    std::vector<uint8_t> r(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        r[size_t(i)] = uint8_t(2 * z((i + 131072) % kPeriod) + z(i)); // R_n(i)
    return r;
}

PlFramer::PlFramer(int scramblingCode)
    : scrambling(plScramblingSequence(scramblingCode, 33282 - kPlHeaderSymbols))
{
}

void PlFramer::header(int pls, cf32* out) const
{
    const uint64_t code = plsCodeword(pls) ^ kPlsScrambling;
    const cf32 base(kR, kR); // e^(jπ/4)
    for (int i = 0; i < kPlHeaderSymbols; ++i) {
        const int bit = i < 26 ? int(kSof >> (25 - i) & 1) : int(code >> (63 - (i - 26)) & 1);
        cf32 s = bit ? -base : base;       // (1 − 2b) · e^(jπ/4)
        if (i & 1)
            s = cf32(-s.imag(), s.real()); // · j on odd symbols (π/2-BPSK)
        out[i] = s;
    }
}

void PlFramer::frame(int modcod, bool shortFrame, bool pilots, const cf32* data, int dataSymbols,
                     std::vector<cf32>& out) const
{
    const int slots = dataSymbols / kSlotSymbols;
    const int blocks = pilots ? (slots - 1) / 16 : 0;
    out.resize(size_t(kPlHeaderSymbols + dataSymbols + kPilotBlockSymbols * blocks));
    header(plsCode(modcod, shortFrame, pilots), out.data());
    cf32* o = out.data() + kPlHeaderSymbols;
    const cf32 pilot(kR, kR);
    for (int s = 0; s < slots; ++s) {
        for (int i = 0; i < kSlotSymbols; ++i)
            *o++ = data[s * kSlotSymbols + i];
        if (pilots && s % 16 == 15 && s != slots - 1)
            for (int i = 0; i < kPilotBlockSymbols; ++i)
                *o++ = pilot;
    }
    // PL scrambling of everything after the header: multiply by j^R(i).
    cf32* body = out.data() + kPlHeaderSymbols;
    const int bodySymbols = int(out.size()) - kPlHeaderSymbols;
    for (int i = 0; i < bodySymbols; ++i) {
        const cf32 v = body[i];
        switch (scrambling[size_t(i)]) {
        case 1: body[i] = cf32(-v.imag(), v.real()); break;
        case 2: body[i] = -v; break;
        case 3: body[i] = cf32(v.imag(), -v.real()); break;
        default: break;
        }
    }
}

void PlFramer::dummyFrame(std::vector<cf32>& out) const
{
    std::vector<cf32> carrier(36 * kSlotSymbols, cf32(kR, kR));
    frame(0, false, false, carrier.data(), int(carrier.size()), out);
}

} // namespace tx
