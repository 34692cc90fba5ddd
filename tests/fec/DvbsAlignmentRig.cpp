#include "DvbsAlignmentRig.h"

bool NumberedTsSource::nextPacket(uint8_t* p)
{
    p[0] = 0x47;
    p[1] = 0x01;
    p[2] = 0x00;
    p[3] = uint8_t(0x10 | (next & 15));
    for (int k = 0; k < 4; ++k)
        p[4 + k] = uint8_t(next >> (24 - 8 * k));
    for (int k = 8; k < 188; ++k)
        p[k] = uint8_t(next * 13 + uint32_t(k));
    ++next;
    return true;
}

uint32_t NumberedTsSource::numberOf(const uint8_t* p)
{
    return uint32_t(p[4]) << 24 | uint32_t(p[5]) << 16 | uint32_t(p[6]) << 8 | p[7];
}

DvbsAlignmentRig::DvbsAlignmentRig(int rateIndex, int quarterTurns, int strayValues, uint64_t patienceBits)
    : transmitter(static_cast<tx::DvbsRate>(rateIndex), source)
{
    viterbi.setRateType(rateIndex);
    outerDecoder = std::make_unique<DvbS1OuterDecoder>([this](const uint8_t* p, size_t) {
        // Packets Reed–Solomon refused (the deinterleaver's first ones) do not count.
        if ((p[1] & 0x80) == 0)
            numbers.push_back(NumberedTsSource::numberOf(p));
    });
    finder = std::make_unique<DvbsAlignmentSearch>(
        DvbsAlignmentSearch::Actions{[this](int v) { derotation = v; }, [this]() { viterbi.requestSkip(); },
                                     [this]() { outerDecoder->resetSync(); }, {}, {}},
        patienceBits);
    finder->setEnabled(true);
    const std::complex<float> quarter(0.0f, 1.0f);
    channel = 1.0f;
    for (int q = 0; q < quarterTurns; ++q)
        channel *= quarter;
    const std::vector<int32_t> stray(size_t(strayValues), 3);
    viterbi.decodeSoft(stray.data(), stray.size(), bytes);
}

void DvbsAlignmentRig::decodeBlock()
{
    // About 4000 symbols a block, as the demodulator hands them on.
    symbols.clear();
    while (symbols.size() < 4000)
        transmitter.nextPacket(symbols);
    // The derotation slider's turn: −2πv/256, v a multiple of 64.
    std::complex<float> turn = channel;
    for (int q = 0; q < derotation / 64; ++q)
        turn *= std::complex<float>(0.0f, -1.0f);
    for (tx::cf32& s : symbols)
        s *= turn;
    bytes.clear();
    viterbi.decodeSymbols(symbols.data(), symbols.size(), bytes);
    outerDecoder->processBytes(bytes.data(), bytes.size());
    decodedBits += 8 * bytes.size();
    finder->observe(bytes.data(), bytes.size(), viterbi.period(),
                    {outerDecoder->syncState(), outerDecoder->syncConfidence(), outerDecoder->lockedPackets()});
}

uint64_t DvbsAlignmentRig::runUntilSettled(uint64_t maxBits)
{
    while (!finder->settled() && decodedBits < maxBits)
        decodeBlock();
    return decodedBits;
}

bool DvbsAlignmentRig::deliversInOrder(int packets)
{
    numbers.clear();
    const uint64_t until = decodedBits + uint64_t(packets) * 1632;
    while (decodedBits < until)
        decodeBlock();
    if (numbers.size() + 4 < size_t(packets) * 9 / 10)
        return false;
    for (size_t k = 1; k < numbers.size(); ++k)
        if (numbers[k] != numbers[k - 1] + 1)
            return false;
    return !numbers.empty();
}
