#include "FecTestFrames.h"

#include "demod/Demodulator.h"
#include "demod/SoftDemapper.h"
#include "tx/BitInterleaver.h"
#include "tx/Constellations.h"
#include "tx/BbScrambler.h"
#include "tx/BchEncoder.h"
#include "tx/LdpcEncoder.h"

#include <cmath>

namespace fectest {

int frameBits(int codeIndex) { return codeIndex < 11 ? 64800 : 16200; }

int bbframeBits(int codeIndex) { return tx::BchEncoder(codeIndex).kbch(); }

EncodedFrame encodeRandomFrame(int codeIndex, std::mt19937& rng)
{
    tx::BchEncoder bch(codeIndex);
    tx::LdpcEncoder ldpc(codeIndex);
    EncodedFrame frame;
    frame.codeIndex = codeIndex;
    frame.bbframe.resize(size_t(bch.kbch() / 8));
    for (uint8_t& b : frame.bbframe)
        b = uint8_t(rng());
    frame.codeword.assign(size_t(ldpc.n() / 8), 0);
    std::copy(frame.bbframe.begin(), frame.bbframe.end(), frame.codeword.begin());
    tx::BbScrambler().apply(frame.codeword.data(), bch.kbch() / 8);
    bch.encode(frame.codeword.data(), frame.codeword.data());
    ldpc.encode(frame.codeword.data(), frame.codeword.data());
    return frame;
}

std::vector<int8_t> softValues(const std::vector<uint8_t>& codeword, int bits, double esN0dB, Channel channel,
                               std::mt19937& rng, double level)
{
    const double esN0 = std::pow(10.0, esN0dB / 10.0);
    const double sigma = esN0dB >= 100 ? 0.0 : std::sqrt(1.0 / (2.0 * esN0));
    std::normal_distribution<double> noise(0.0, 1.0);
    // Projections of unit 8PSK points on the decision axes.
    static const double psk8[3] = {0.9238795, 0.3826834, 0.7071068};
    std::vector<int8_t> soft(static_cast<size_t>(bits));
    for (int n = 0; n < bits; ++n) {
        const int bit = (codeword[size_t(n / 8)] >> (7 - n % 8)) & 1;
        const double amplitude = channel == Channel::Qpsk ? 0.7071068 : psk8[n % 3];
        const double x = (bit ? -amplitude : amplitude) + sigma * noise(rng);
        soft[size_t(n)] = softValue(float(x * level));
    }
    return soft;
}

uint8_t plsCodeFor(int codeIndex, bool psk8)
{
    const int rate = codeIndex < 11 ? codeIndex : codeIndex - 11;
    const uint8_t shortBit = codeIndex < 11 ? 0 : 0x20;
    if (!psk8)
        return uint8_t(shortBit | (1 + rate));
    // 8PSK 3/5, 2/3, 3/4, 5/6, 8/9, 9/10 are MODCODs 12 … 17.
    static const int psk8Modcod[11] = {0, 0, 0, 0, 12, 13, 14, 0, 15, 16, 17};
    return psk8Modcod[rate] == 0 ? 0 : uint8_t(shortBit | psk8Modcod[rate]);
}

uint8_t apskPlsCodeFor(int codeIndex, int bitsPerSymbol)
{
    const int rate = codeIndex < 11 ? codeIndex : codeIndex - 11;
    const uint8_t shortBit = codeIndex < 11 ? 0 : 0x20;
    // 16APSK 2/3 … 9/10 are MODCODs 18 … 23, 32APSK 3/4 … 9/10 24 … 28.
    static const int apsk16[11] = {0, 0, 0, 0, 0, 18, 19, 20, 21, 22, 23};
    static const int apsk32[11] = {0, 0, 0, 0, 0, 0, 24, 25, 26, 27, 28};
    const int modcod = bitsPerSymbol == 4 ? apsk16[rate] : bitsPerSymbol == 5 ? apsk32[rate] : 0;
    return modcod == 0 ? 0 : uint8_t(shortBit | modcod);
}

std::vector<int8_t> demappedValues(const std::vector<uint8_t>& codeword, uint8_t plsCode, double esN0dB,
                                   std::mt19937& rng, double level)
{
    const int modcod = plsCode & 0x1F;
    const int bits = (plsCode & 0x20) ? 16200 : 64800;
    const int perSymbol = modcod >= 24 ? 5 : modcod >= 18 ? 4 : modcod >= 12 ? 3 : 2;
    std::vector<uint8_t> labels(size_t(bits / perSymbol));
    tx::interleaveToLabels(codeword.data(), bits, modcod, labels.data());
    const std::vector<tx::cf32> points = tx::constellationPoints(modcod);
    const double sigma = esN0dB >= 100 ? 0.0 : std::sqrt(1.0 / (2.0 * std::pow(10.0, esN0dB / 10.0)));
    std::normal_distribution<double> noise(0.0, 1.0);
    SoftDemapper demapper;
    demapper.start(plsCode);
    for (uint8_t label : labels) {
        const double re = points[label].real() + sigma * noise(rng);
        const double im = points[label].imag() + sigma * noise(rng);
        // The resampler hands the demodulator its symbols with I and Q exchanged.
        demapper.demap(std::complex<float>(float(im * level), float(re * level)));
    }
    return std::vector<int8_t>(demapper.values(), demapper.values() + bits);
}

uint8_t tagForCode(int codeIndex)
{
    // QPSK 1/4 … 9/10 are MODCODs 1 … 11; short frames set bit 5.
    return codeIndex < 11 ? uint8_t(1 + codeIndex) : uint8_t(0x20 | (1 + codeIndex - 11));
}

} // namespace fectest

#include "fec/LdpcCode.h"

#include <new>
#include <stdexcept>

namespace fectest {

void TestDecoder::Free::operator()(uint8_t* p) const { ::operator delete(p, std::align_val_t(64)); }

TestDecoder::TestDecoder(int codeIndex)
    : arena(static_cast<uint8_t*>(::operator new(LdpcDecoder::kArenaBytes, std::align_val_t(64))))
{
    std::unique_ptr<LDPCInterface> code(createLdpcCode(codeIndex));
    if (!code || !decoder.build(*code, arena.get(), LdpcDecoder::kArenaBytes))
        throw std::runtime_error("LDPC structure not built");
}

double qpskThresholdDb(int codeIndex)
{
    // 1/4, 1/3, 2/5, 1/2, 3/5, 2/3, 3/4, 4/5, 5/6, 8/9, 9/10
    static const double normal[11] = {-2.35, -1.24, -0.30, 1.00, 2.23, 3.10, 4.03, 4.68, 5.18, 6.20, 6.42};
    return codeIndex < 11 ? normal[codeIndex] : normal[codeIndex - 11];
}

} // namespace fectest
