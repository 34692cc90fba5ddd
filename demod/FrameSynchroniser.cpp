#include "demod/FrameSynchroniser.h"

#include "demod/PlSignalling.h"

#include <cmath>
#include <cstring>

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

// A header whose hard decisions lie further from the code word they decode
// to is not trusted as known: beyond 15 errors the first-order Reed–Muller
// code no longer decodes reliably. Noise alone comes that close to one of
// the 128 code words 1.6 times in a thousand; a real header at Es/N0 1 dB
// (6 % of its bits wrong) misses only 3 times in ten million.
constexpr int kMaxKnownHeaderErrors = 15;
// Pilot and dummy symbols are sent as (1 + j)/√2 after descrambling.
constexpr cf kPilotSymbol(0.70710678f, 0.70710678f);

// π/2-BPSK hard decision of header and SOF symbols.
inline uint32_t headerBit(cf s, int position)
{
    return position % 2 == 0 ? uint32_t(s.real() + s.imag() < 0) : uint32_t(s.real() - s.imag() < 0);
}

} // namespace

FrameSynchroniser::FrameSynchroniser()
    : scrambling(plScramblingCode0().data())
{
}

void FrameSynchroniser::gain()
{
    if (lockCount < 32 && ++lockCount == 16) {
        isLocked = true;
        framesHeld = true;
        pending.push_back({FrameEvent::Kind::Locked, pls, true});
    }
}

void FrameSynchroniser::lose()
{
    if (lockCount > 0 && --lockCount == 7) {
        isLocked = false;
        quality.clear();
        frameKnown = false;
        pending.push_back({FrameEvent::Kind::LockLost, pls, false});
    }
}

bool FrameSynchroniser::process(const int16_t* in, size_t n, float scale, bool inverted, Equalizer& equalizer,
                                cf* symbols, int8_t* frame, SymbolTap* tap)
{
    blockTap = tap;
    frameOut = frame;
    delivered = false;
    for (size_t k = 0; k < n; ++k) {
        // The matched filter's gain control settles at a negative gain, so its
        // output is the signal turned by π. With the default inversion flag
        // that turn is taken back here, so that a standard signal shows its
        // SOF and header as transmitted; the other setting stays as it was.
        const float a = float(in[2 * k]) * scale;
        const float b = float(in[2 * k + 1]) * scale;
        cf z = inverted != senseFlipped ? cf(-a, -b) : cf(a, -b);
        if (equalizer.mode != Equalizer::Off)
            z = equalizer.process(z);
        symbols[k] = push(z);
    }
    blind.add(symbols, n);
    return delivered;
}

SignalQualityReading FrameSynchroniser::signalQuality() const
{
    const SignalQualityReading known = quality.reading();
    if (known.valid || !framesHeld || apskData)
        return known;
    return blind.reading();
}

SignalQualityReading FrameSynchroniser::frameQuality() const
{
    const SignalQualityReading known = quality.reading();
    if (known.valid || apskData)
        return known;
    return blind.reading();
}

// Inlined into the block loop: as a call it costs a third of the stage's speed.
__attribute__((always_inline)) inline cf FrameSynchroniser::push(cf z)
{
    const cf d = std::conj(z) * previous;
    diffSigns = (diffSigns << 1) | uint32_t(d.imag() < 0);
    previous = z;
    delayRing[ringPos] = z;
    ringPos = (ringPos + 1) % 26;
    raw = delayRing[ringPos];
    cf s = loop.derotate(raw);   // the symbol 25 positions back
    if (blockTap != nullptr)
        blockTap->offer(DisplaySource::All, s);

    bool peak = false;
    // Before the lock the sense is watched on every symbol: in the wrong
    // sense the headers read as other frames, whose lengths hide the SOFs
    // from the search.
    const bool senseWatch = autoSense && !isLocked;
    if (sofSearch || senseWatch) {
        // Products d[k−25] … d[k−1] are bits 25 … 1 of the sign register.
        const int mismatches = __builtin_popcount(((diffSigns >> 1) ^ kSofNegative) & 0x1FFFFFFu);
        const int sum = 25 - 2 * mismatches;
        if (senseWatch && (sum >= kSenseEvidence || sum <= -kSenseEvidence))
            followSense(sum);
        if (sofSearch) {
            const float m = float(std::abs(sum));
            peakSum += m - peakHistory[peakIndex];
            peakHistory[peakIndex] = m;
            peakIndex = (peakIndex + 1) % 32;
            peak = m > 0.13125f * peakSum;
        }
    }
    const bool hit = lengthIndex < 16 && symbolCounter == kFrameLengths[size_t(lengthIndex)];

    runState(s, peak, hit);

    ++symbolIndex;
    ++symbolCounter;
    if (lengthIndex < 16 && symbolCounter > kFrameLengths[size_t(lengthIndex)])
        ++lengthIndex;
    loop.advance();
    return s;
}

void FrameSynchroniser::followSense(int sum)
{
    // A strong correlator peak. Data and headers give some too, every few
    // thousand symbols; SOFs give them a frame length apart, so three of
    // the same sign at equal spacing of a frame length are SOFs, and their
    // sign tells the sense. The products are taken as conj(newer) · older,
    // against the table's signs of older · conj(newer): the sense set gives
    // Σ ≈ −25, its mirror image +25.
    const int sign = sum > 0 ? 1 : -1;
    auto frameLength = [](int64_t distance) {
        for (int32_t length : kFrameLengths)
            if (distance >= length - 1 && distance <= length + 1)
                return true;
        return false;
    };
    bool chain = false;
    for (const StrongPeak& q : strongPeaks) {
        const int64_t d = symbolIndex - q.index;
        if (q.sign != sign || !frameLength(d))
            continue;
        for (const StrongPeak& r : strongPeaks)
            if (r.sign == sign && std::llabs((q.index - r.index) - d) <= 2)
                chain = true;
    }
    strongPeaks[strongPeakNext] = {symbolIndex, sign};
    strongPeakNext = (strongPeakNext + 1) % strongPeaks.size();
    if (!chain)
        return;
    if (sign < 0) {
        reversedPeaks = 0;
        return;
    }
    if (++reversedPeaks < kSensePeaks)
        return;
    reversedPeaks = 0;
    senseFlipped = !senseFlipped;
    for (StrongPeak& q : strongPeaks)
        q = StrongPeak();
    // The mirror image turns the other way: so does the carrier found so far.
    loop.integrator = -loop.integrator;
    loop.frequency = -loop.frequency;
    pending.push_back({FrameEvent::Kind::SenseChanged, pls, false});
}

void FrameSynchroniser::runState(cf& s, bool peak, bool hit)
{
    switch (state) {
    case State::SofSearch: sofSearchState(s, peak, hit); break;
    case State::HeaderCode: headerState(s); break;
    case State::DataSlots: dataState(s); break;
    case State::PilotBlock: pilotState(s); break;
    case State::DummySlots: dummyState(s); break;
    }
}

void FrameSynchroniser::sofSearchState(cf& s, bool peak, bool hit)
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
    if (blockTap != nullptr)
        blockTap->offer(DisplaySource::Header, s);

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
        const bool coherent = loop.enabled && !isLocked && sofMagnitude > 26 * kSofMinimumLevel &&
                              std::abs(sofRawPhase) >= kSofCoherence * sofMagnitude;
        if (errors <= 7 || isLocked || coherent) {
            alignPhaseWithSof();
            state = State::HeaderCode;
            fieldPos = 0;
            current = qpsk;
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

void FrameSynchroniser::alignPhaseWithSof()
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
    if (!isLocked) {
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

void FrameSynchroniser::headerState(cf& s)
{
    const bool even = fieldPos % 2 == 0;
    cf d;
    if (even)
        d = s.real() + s.imag() >= 0 ? cf(1, 1) : cf(-1, -1);
    else
        d = s.real() - s.imag() >= 0 ? cf(1, -1) : cf(-1, 1);
    loop.update(s.imag() * d.real() - s.real() * d.imag());
    if (blockTap != nullptr)
        blockTap->offer(DisplaySource::Header, s);

    headerRegister = (headerRegister << 1) | headerBit(s, fieldPos);
    acquisition.store(26 + fieldPos, raw);
    storeHeaderSymbol(fieldPos, s);
    if (fieldPos < 63) {
        ++fieldPos;
        return;
    }

    acquisition.headerDone(headerRegister ^ kPlHeaderScrambling, isLocked, loop);

    if (!keepLock)
        pls = decodePlsHeader(headerRegister ^ kPlHeaderScrambling);
    pending.push_back({FrameEvent::Kind::HeaderRead, pls, isLocked});
    measureHeader(headerRegister ^ kPlHeaderScrambling);
    const ModcodRow& info = s2ModcodRow(plsModcod(pls));
    dataSlots = slotsPerFrame(info.constellationIndex, plsShortFrame(pls));
    if (info.constellationIndex > 0) {
        dataPls = pls;
        current = constellationByIndex(info.constellationIndex);
        state = State::DataSlots;
        sofSearch = false;
    } else if (plsModcod(pls) == 0) {
        state = State::DummySlots;
        current = qpsk;
        sofSearch = true;
    } else {
        pending.push_back({FrameEvent::Kind::InvalidModcod, pls, isLocked});
        state = State::SofSearch;
        current = qpsk;
        sofSearch = true;
    }
    const bool handedOn = deliverFrame();
    if (!handedOn && plsModcod(framePls) != 0)
        dataLost = true;   // a frame of data that was not delivered
    followFrames(symbolIndex - 89);
    framePls = pls;
    // A skipped frame's data is no SOF: wait for the correlator's next
    // accepted peak rather than reading the following symbols as one (which,
    // while locked, would decode the frame's data as headers).
    fieldPos = state == State::SofSearch ? 26 : 0;
    slotInPeriod = 0;
    slotInFrame = 0;
    pilotBlocks = 0;
    descramblerIndex = 0;
    demapper.start(pls);
}

void FrameSynchroniser::measureHeader(uint64_t descrambled)
{
    knownSum = 0;
    knownPower = 0;
    // Data frames read while locked tell whether the symbols are of
    // constant modulus (headers read in the noise may say anything).
    const int index = s2ModcodRow(plsModcod(pls)).constellationIndex;
    if (isLocked && index > 0)
        apskData = index > 3;
    // The code this header carries, whatever keep-lock does with it.
    const uint8_t heard = decodePlsHeader(descrambled);
    const uint64_t codeWord = encodePlsHeader(heard);
    const bool clean = isLocked && __builtin_popcountll(codeWord ^ descrambled) <= kMaxKnownHeaderErrors;
    // The fields that follow are where the frame's own code puts them only
    // when the framing walks the frame by that code.
    frameKnown = clean && heard == pls;
    if (!clean)
        return;
    // The PLS code only: the SOF is known too, but a header is read only
    // where the correlator peaked on it, and at low Es/N0 it peaks more
    // often where the noise happened to spare the SOF's symbols, so they
    // would show less noise than there is. The code's own noise plays no
    // part in that choice.
    const uint64_t sent = codeWord ^ kPlHeaderScrambling;
    cf correlation = 0;
    float power = 0;
    for (int p = 0; p < 64; ++p) {
        // π/2-BPSK, first symbol in bit 63: (1 − 2b)(1 + j)/√2 at even
        // positions, (1 − 2b)(1 − j)/√2 at odd ones.
        const float sign = ((sent >> (63 - p)) & 1u) != 0 ? -0.70710678f : 0.70710678f;
        const cf reference = p % 2 == 0 ? cf(sign, sign) : cf(sign, -sign);
        correlation += headerSymbols[p] * std::conj(reference);
        power += std::norm(headerSymbols[p]);
    }
    quality.addField(correlation, power, 64);
}

void FrameSynchroniser::measureKnown(cf s, int last)
{
    if (!frameKnown)
        return;
    knownSum += s;
    knownPower += std::norm(s);
    if (fieldPos == last) {
        quality.addField(knownSum * std::conj(kPilotSymbol), knownPower, last + 1);
        knownSum = 0;
        knownPower = 0;
    }
}

void FrameSynchroniser::followFrames(int64_t start)
{
    // The header just read begins at `start`: it follows on only where the
    // last frame read said the next would begin.
    frameAfterGap = dataLost || start != nextFrameStart;
    dataLost = false;
    const int length = plFrameSymbols(pls);
    nextFrameStart = length > 0 ? start + length : -1;
}

bool FrameSynchroniser::deliverFrame()
{
    // The frame just finished is complete when it filled its own codeword:
    // its own code decides, so frames of varying MODCODs keep theirs.
    if (!demapper.complete())
        return false;
    std::memcpy(frameOut, demapper.values(), demapper.size());
    delivered = true;
    deliveredPls = framePls;
    deliveredGap = frameAfterGap;
    return true;
}

cf FrameSynchroniser::descramble(cf s)
{
    const uint8_t r = scrambling[descramblerIndex];
    descramblerIndex = descramblerIndex + 1 == kScramblingLength ? 0 : descramblerIndex + 1;
    // × j^R without a branch on the (random) sequence value.
    static constexpr float kRe[4] = {1, 0, -1, 0};
    static constexpr float kIm[4] = {0, 1, 0, -1};
    return {kRe[r] * s.real() - kIm[r] * s.imag(), kRe[r] * s.imag() + kIm[r] * s.real()};
}

float FrameSynchroniser::dataPhaseError(cf s) const
{
    if (current == qpsk)
        return qpskPhaseError(s);
    if (current == psk8)
        return qpskPhaseError(s * s * cf(0.70710677f, -0.70710677f));
    if (current == apsk16) {
        const cf w = cf(0, -1) * s * s * s;
        return std::abs(w) * qpskPhaseError(w);
    }
    if (current == apsk32) {
        const cf w = (s * s) * (s * s) * cf(sineTable[192], sineTable[128]);
        return std::abs(w) * qpskPhaseError(w);
    }
    return 0;
}

void FrameSynchroniser::dataState(cf& s)
{
    const int slots = dataSlots;
    if (slotInFrame >= slots - 1)
        sofSearch = true;   // find the next SOF in time
    s = descramble(s);
    loop.update(dataPhaseError(s), current == psk8 && psk8Ki >= 0 ? psk8Ki : loop.ki);
    if (blockTap != nullptr)
        blockTap->offer(DisplaySource::Data, s);
    demapper.demap(s);

    if (fieldPos < 89) {
        ++fieldPos;
        return;
    }
    fieldPos = 0;
    if (slotInFrame < slots - 1) {
        if (slotInPeriod == 15) {
            if (plsPilots(pls)) {
                state = State::PilotBlock;
                current = qpsk;
                slotInPeriod = 16;
            } else {
                slotInPeriod = 1;
            }
        } else {
            ++slotInPeriod;
        }
    } else {
        state = State::SofSearch;
        current = qpsk;
    }
    ++slotInFrame;
}

void FrameSynchroniser::pilotState(cf& s)
{
    s = descramble(s);
    loop.update(s.imag() - s.real());
    if (blockTap != nullptr)
        blockTap->offer(DisplaySource::Pilots, s);
    measureKnown(s, 35);
    if (fieldPos < 35) {
        ++fieldPos;
        return;
    }
    state = State::DataSlots;
    current = constellationByIndex(s2ModcodRow(plsModcod(pls)).constellationIndex);
    fieldPos = 0;
    slotInPeriod = 0;
    ++pilotBlocks;
}

void FrameSynchroniser::dummyState(cf& s)
{
    const int slots = slotsPerFrame(0, false);
    if (slotInFrame >= slots - 1)
        sofSearch = true;
    s = descramble(s);
    loop.update(s.imag() - s.real());
    if (blockTap != nullptr)
        blockTap->offer(DisplaySource::Data, s);
    measureKnown(s, 89);
    if (fieldPos < 89) {
        ++fieldPos;
        return;
    }
    fieldPos = 0;
    if (slotInFrame >= slots - 1)
        state = State::SofSearch;
    ++slotInFrame;
}

