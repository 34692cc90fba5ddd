#include "demod/Demodulator.h"

#include "demod/PlSignalling.h"
#include "core/Log.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>

namespace {

using cf = std::complex<float>;

// Expected signs of Im(d) over the correlator's 25 differential products, oldest first.
constexpr int kSofSigns[25] = {+1, +1, +1, +1, +1, -1, -1, -1, -1, +1, -1, -1, -1,
                               +1, -1, -1, +1, +1, -1, +1, +1, -1, +1, -1, -1};

// The same as bits: bit 24 − j set where product j (oldest first) should be negative.
constexpr uint32_t expectedNegative()
{
    uint32_t bits = 0;
    for (int j = 0; j < 25; ++j)
        if (kSofSigns[j] < 0)
            bits |= 1u << (24 - j);
    return bits;
}
constexpr uint32_t kSofNegative = expectedNegative();

inline int sofBit(int position) { return int((kSofBits >> (25 - position)) & 1u); }

// π/2-BPSK hard decision of header and SOF symbols.
inline uint32_t headerBit(cf s, int position)
{
    return position % 2 == 0 ? uint32_t(s.real() + s.imag() < 0) : uint32_t(s.real() - s.imag() < 0);
}

} // namespace

int8_t softValue(float x)
{
    const float scaled = x * 128.0f;
    if (!(scaled > -128.0f))
        return -128;
    if (!(scaled < 127.0f))
        return scaled != scaled ? 0 : 127;
    return int8_t(int(scaled));
}

Demodulator::Demodulator()
{
    display.reserve(16384);
}

void Demodulator::setDerotation(int v)
{
    derotation = {sineTable[size_t((64 - v) & 255)], -sineTable[size_t(v & 255)]};
}

cf Demodulator::convert(const int16_t* sample, bool negateSecond) const
{
    const float a = float(sample[0]) * kInputScale;
    const float b = float(sample[1]) * kInputScale;
    return {a, negateSecond ? -b : b};
}

void Demodulator::show(int source, cf s)
{
    if (displaySource == source)
        display.push_back(s);
}

void Demodulator::gain()
{
    if (lockCounter < 32 && ++lockCounter == 16) {
        LogLine() << "LOCKED :)";
        locked = true;
    }
}

void Demodulator::lose()
{
    if (lockCounter > 0 && --lockCounter == 7) {
        LogLine() << "LOCK has been lost :'(";
        locked = false;
    }
}

bool Demodulator::processS2(const int16_t* in, size_t n, cf* symbols, int8_t* frame, int64_t now)
{
    display.clear();
    display.reserve(n);
    bool delivered = false;
    for (size_t k = 0; k < n; ++k) {
        // The matched filter's gain control settles at a negative gain, so its
        // output is the signal turned by π. With the default inversion flag
        // that turn is taken back here, so that a standard signal shows its
        // SOF and header as transmitted; the other setting stays as it was.
        cf z = convert(in + 2 * k, !spectrumInverted);
        if (spectrumInverted)
            z = -z;
        if (equalizer.mode != Equalizer::Off)
            z = equalizer.process(z);

        const cf d = std::conj(z) * previous;
        diffSigns = (diffSigns << 1) | uint32_t(d.imag() < 0);
        previous = z;
        delayRing[ringPos] = z;
        ringPos = (ringPos + 1) % 26;
        raw = delayRing[ringPos];
        cf s = loop.derotate(raw);   // the symbol 25 positions back
        show(DisplayAll, s);

        bool peak = false;
        if (sofSearch) {
            // Products d[k−25] … d[k−1] are bits 25 … 1 of the sign register.
            const int mismatches = __builtin_popcount(((diffSigns >> 1) ^ kSofNegative) & 0x1FFFFFFu);
            const int sum = 25 - 2 * mismatches;
            const float m = float(std::abs(sum));
            peakSum += m - peakHistory[peakIndex];
            peakHistory[peakIndex] = m;
            peakIndex = (peakIndex + 1) % 32;
            peak = m > 0.13125f * peakSum;
        }
        const bool hit = lengthIndex < 16 && symbolCounter == kFrameLengths[size_t(lengthIndex)];

        runState(s, peak, hit, frame, delivered, now);

        symbols[k] = s;
        ++symbolIndex;
        ++symbolCounter;
        if (lengthIndex < 16 && symbolCounter > kFrameLengths[size_t(lengthIndex)])
            ++lengthIndex;
        loop.advance();
    }
    return delivered;
}

void Demodulator::runState(cf& s, bool peak, bool hit, int8_t* frame, bool& delivered, int64_t now)
{
    switch (frameState) {
    case SofSearch: sofSearchState(s, peak, hit); break;
    case HeaderCode: headerState(s, frame, delivered, now); break;
    case DataSlots: dataState(s); break;
    case PilotBlock: pilotState(s); break;
    case DummySlots: dummyState(s); break;
    default: frameState = SofSearch; break;
    }
}

void Demodulator::sofSearchState(cf& s, bool peak, bool hit)
{
    // Data-aided: the SOF symbol a field position should carry.
    auto reference = [](int position) {
        const float sign = sofBit(position) ? -1.0f : 1.0f;
        return position % 2 == 0 ? cf(0.707f * sign, 0.707f * sign) : cf(0.707f * sign, -0.707f * sign);
    };
    float error = 0;
    if (fieldPos < 26) {
        const cf r = reference(fieldPos);
        error = s.imag() * r.real() - s.real() * r.imag();
    }
    loop.update(error);
    show(DisplayHeader, s);

    const bool accepted = peak && (lengthIndex == 16 || hit);
    if (accepted) {
        timingCounter = symbolCounter;
        timingLengthIndex = lengthIndex;
        symbolCounter = 0;
        fieldPos = 0;
        lengthIndex = 0;
        sofRegister = 0;
    }
    sofRegister = (sofRegister << 1) | headerBit(s, fieldPos);
    if (fieldPos < 26) {
        acquisition.store(fieldPos, raw);
        if (fieldPos == 0) {
            sofPhase = 0;
            sofRawPhase = 0;
            sofMagnitude = 0;
        }
        sofPhase += s * std::conj(reference(fieldPos));
        sofRawPhase += raw * std::conj(reference(fieldPos));
        sofMagnitude += std::abs(raw);
    }
    if (!accepted && fieldPos == 0 && hit)
        lose();   // no SOF where the last frame said one would be

    if (fieldPos == 25) {
        const int errors = __builtin_popcount((sofRegister ^ kSofBits) & 0x3FFFFFFu);
        // Hard decisions see the SOF only within a quarter turn of the right
        // phase; before lock the oscillator may be anywhere, and a residual
        // carrier turns it on the way. The sum of the symbols as received
        // against the known SOF is large at any phase for a real SOF
        // (26 · |s| when clean) and about √26 · |s| on data. (Symbols come
        // in at about unit level; silence is no SOF.)
        const bool coherent = loop.enabled && !locked && sofMagnitude > 26 * kSofMinimumLevel &&
                              std::abs(sofRawPhase) >= kSofCoherence * sofMagnitude;
        if (errors <= 7 || locked || coherent) {
            alignPhaseWithSof();
            frameState = HeaderCode;
            fieldPos = 0;
            constellation = qpsk;
        } else {
            fieldPos = 26;
            // Not an SOF: the correlator in noise and data peaks about once
            // every thousand symbols. Had the candidate kept the timing it
            // reset, no peak would be taken again until a whole longest frame
            // had passed, and a signal of shorter frames could go on missing
            // its SOFs for dozens of frames. Take back the timing it replaced.
            symbolCounter = timingCounter + 25;
            lengthIndex = timingLengthIndex;
            while (lengthIndex < 16 && symbolCounter > kFrameLengths[size_t(lengthIndex)])
                ++lengthIndex;
        }
        if (errors >= 13)
            lose();
    } else if (fieldPos < 25) {
        ++fieldPos;
    }
    if (accepted && hit)
        gain();
}

void Demodulator::alignPhaseWithSof()
{
    // Decision-directed tracking on the data holds equally well a whole
    // constellation step away from the true phase (45° for 8PSK, 90° for
    // QPSK), where a pull-in or a noise burst may leave it; pilots and the
    // SOF pull back too briefly to undo that. The SOF is known: its average
    // phase against the reference shows such a slip, and the oscillator
    // jumps by the whole steps it measures. A loop on the true phase sees
    // an SOF within a few degrees of it and is left alone.
    if (!loop.enabled || sofPhase == cf(0, 0))
        return;
    if (!locked) {
        // Acquiring: the phase of the SOF as received, at its centre, moved on
        // by the loop's frequency to the first header symbol, is the best
        // estimate there is (the loop itself was pulling during the SOF).
        const double centre = double(std::arg(sofRawPhase)) * 32768.0 / M_PI;
        loop.phase = int32_t(std::lround(centre + 12.5 * double(loop.frequency) * 256.0) & 0xFFFF);
        return;
    }
    const bool psk8 = s2ModcodRow(plsModcod(framePls)).constellationIndex == 3;
    const double step = psk8 ? M_PI / 4 : M_PI / 2;
    const long steps = std::lround(double(std::arg(sofPhase)) / step);
    if (steps != 0)
        loop.phase = int32_t((loop.phase + steps * (psk8 ? 8192 : 16384)) & 0xFFFF);
}

void Demodulator::headerState(cf& s, int8_t* frame, bool& delivered, int64_t now)
{
    const bool even = fieldPos % 2 == 0;
    cf d;
    if (even)
        d = s.real() + s.imag() >= 0 ? cf(1, 1) : cf(-1, -1);
    else
        d = s.real() - s.imag() >= 0 ? cf(1, -1) : cf(-1, 1);
    loop.update(s.imag() * d.real() - s.real() * d.imag());
    show(DisplayHeader, s);

    headerRegister = (headerRegister << 1) | headerBit(s, fieldPos);
    acquisition.store(26 + fieldPos, raw);
    if (fieldPos < 63) {
        ++fieldPos;
        return;
    }

    acquisition.headerDone(headerRegister ^ kPlHeaderScrambling, locked, loop);

    if (!keepLock)
        plsCode = decodePlsHeader(headerRegister ^ kPlHeaderScrambling);
    if (locked) {
        statistics[plsCode & 127].count += 1;
        statistics[plsCode & 127].lastSeen = now;
    }
    const ModcodRow& info = s2ModcodRow(plsModcod(plsCode));
    dataSlots = slotsPerFrame(info.constellationIndex, plsShortFrame(plsCode));
    if (info.constellationIndex > 0) {
        dataPls = plsCode;
        constellation = constellationByIndex(info.constellationIndex);
        frameState = DataSlots;
        sofSearch = false;
    } else if (plsModcod(plsCode) == 0) {
        frameState = DummySlots;
        constellation = qpsk;
        sofSearch = true;
    } else {
        std::ostringstream line;
        line << "ignoring frame, invalid modcode (" << info.name << ")\n";
        std::cerr << line.str() << std::flush;
        frameState = SofSearch;
        constellation = qpsk;
        sofSearch = true;
    }
    const bool handedOn = deliverFrame(frame, delivered);
    if (!handedOn && plsModcod(framePls) != 0)
        dataLost = true;   // a frame of data that was not delivered
    followFrames(symbolIndex - 89);
    framePls = plsCode;
    // A skipped frame's data is no SOF: wait for the correlator's next
    // accepted peak rather than reading the following symbols as one (which,
    // while locked, would decode the frame's data as headers).
    fieldPos = frameState == SofSearch ? 26 : 0;
    slotInPeriod = 0;
    slotInFrame = 0;
    pilotBlocks = 0;
    descramblerIndex = 0;
    softPos = 0;
}

void Demodulator::followFrames(int64_t start)
{
    // The header just read begins at `start`: it follows on only where the
    // last frame read said the next would begin.
    frameAfterGap = dataLost || start != nextFrameStart;
    dataLost = false;
    const int length = plFrameSymbols(plsCode);
    nextFrameStart = length > 0 ? start + length : -1;
}

bool Demodulator::deliverFrame(int8_t* frame, bool& delivered)
{
    // The frame just finished is complete when it filled its own codeword:
    // its own code decides, so frames of varying MODCODs keep theirs.
    const uint32_t size = plsShortFrame(framePls) ? 16200u : 64800u;
    if (softPos != size)
        return false;
    std::memcpy(frame, softBits.data(), size);
    delivered = true;
    deliveredPls = framePls;
    deliveredAfterGap = frameAfterGap;
    if (dumpRequested) {
        dumpRequested = false;
        char name[64];
        std::snprintf(name, sizeof name, "Z:/ldpc_debug/xfecframe.%d", dumpCounter++);
        if (FILE* file = std::fopen(name, "wb")) {
            std::fwrite(softBits.data(), 1, size, file);
            std::fclose(file);
        }
    }
    return true;
}

cf Demodulator::descramble(cf s)
{
    const uint8_t r = plScramblingCode0()[size_t(descramblerIndex)];
    descramblerIndex = descramblerIndex + 1 == kScramblingLength ? 0 : descramblerIndex + 1;
    // × j^R without a branch on the (random) sequence value.
    static constexpr float kRe[4] = {1, 0, -1, 0};
    static constexpr float kIm[4] = {0, 1, 0, -1};
    return {kRe[r] * s.real() - kIm[r] * s.imag(), kRe[r] * s.imag() + kIm[r] * s.real()};
}

float Demodulator::dataPhaseError(cf s) const
{
    if (constellation == qpsk)
        return qpskPhaseError(s);
    if (constellation == psk8)
        return qpskPhaseError(s * s * cf(0.70710677f, -0.70710677f));
    if (constellation == apsk16) {
        const cf w = cf(0, -1) * s * s * s;
        return std::abs(w) * qpskPhaseError(w);
    }
    if (constellation == apsk32) {
        const cf w = (s * s) * (s * s) * cf(sineTable[192], sineTable[128]);
        return std::abs(w) * qpskPhaseError(w);
    }
    return 0;
}

void Demodulator::writeSoftValues(cf s)
{
    if (constellation == qpsk) {
        if (softPos + 2 <= uint32_t(kFrameBytes)) {
            softBits[softPos] = softValue(s.imag());
            softBits[softPos + 1] = softValue(s.real());
            softPos += 2;
        }
    } else if (constellation == psk8) {
        const uint32_t n = plsShortFrame(plsCode) ? 16200u : 64800u;
        if (softPos + 3 <= n) {
            const float c = sineTable[48], sn = sineTable[16];   // cos, sin 22.5°
            const float u = s.real() * c - s.imag() * sn;
            const float v = s.real() * sn + s.imag() * c;
            const int8_t b0 = softValue(std::fabs(v) - std::fabs(u));
            const int8_t b1 = softValue(v);
            const int8_t b2 = softValue(u);
            const uint32_t m = softPos / 3;
            const bool reversed = plsModcod(plsCode) == 12;   // 8PSK 3/5: columns in reverse order
            softBits[m] = reversed ? b2 : b0;
            softBits[m + n / 3] = b1;
            softBits[m + 2 * n / 3] = reversed ? b0 : b2;
            softPos += 3;
        }
    }
    // 16APSK and 32APSK: tracked, not decoded.
}

void Demodulator::dataState(cf& s)
{
    const int slots = dataSlots;
    if (slotInFrame >= slots - 1)
        sofSearch = true;   // find the next SOF in time
    s = descramble(s);
    loop.update(dataPhaseError(s));
    show(DisplayData, s);
    writeSoftValues(s);

    if (fieldPos < 89) {
        ++fieldPos;
        return;
    }
    fieldPos = 0;
    if (slotInFrame < slots - 1) {
        if (slotInPeriod == 15) {
            if (plsPilots(plsCode)) {
                frameState = PilotBlock;
                constellation = qpsk;
                slotInPeriod = 16;
            } else {
                slotInPeriod = 1;
            }
        } else {
            ++slotInPeriod;
        }
    } else {
        frameState = SofSearch;
        constellation = qpsk;
    }
    ++slotInFrame;
}

void Demodulator::pilotState(cf& s)
{
    s = descramble(s);
    loop.update(s.imag() - s.real());
    show(DisplayPilots, s);
    if (fieldPos < 35) {
        ++fieldPos;
        return;
    }
    frameState = DataSlots;
    constellation = constellationByIndex(s2ModcodRow(plsModcod(plsCode)).constellationIndex);
    fieldPos = 0;
    slotInPeriod = 0;
    ++pilotBlocks;
}

void Demodulator::dummyState(cf& s)
{
    const int slots = slotsPerFrame(0, false);
    if (slotInFrame >= slots - 1)
        sofSearch = true;
    s = descramble(s);
    loop.update(s.imag() - s.real());
    show(DisplayData, s);
    if (fieldPos < 89) {
        ++fieldPos;
        return;
    }
    fieldPos = 0;
    if (slotInFrame >= slots - 1)
        frameState = SofSearch;
    ++slotInFrame;
}

void Demodulator::processS1(const int16_t* in, size_t n, cf* symbols)
{
    display.clear();
    display.reserve(n);
    for (size_t k = 0; k < n; ++k) {
        cf z = convert(in + 2 * k, spectrumInverted);
        if (equalizer.mode != Equalizer::Off)
            z = equalizer.process(z);
        if (loop.enabled) {
            z = loop.derotate(z);
            loop.update(qpskPhaseError(z));
        }
        const cf out(derotation.real() * z.real() - derotation.imag() * z.imag(),
                     derotation.imag() * z.real() + derotation.real() * z.imag());
        symbols[k] = out;
        display.push_back(out);
        loop.advance();
    }
}
