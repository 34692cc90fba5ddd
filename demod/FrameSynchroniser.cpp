#include "demod/FrameSynchroniser.h"

#include "demod/PlSignalling.h"
#include "demod/Psk8WeightedError.h"
#include "demod/SoftPhaseDetector.h"

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

// An SOF candidate is a correlator value of 4.2 times the mean of the last
// 32 (the hard count) or 3 times (the soft correlator; on noise one symbol
// in a thousand comes so high).
constexpr float kHardPeakFactor = 0.13125f;
constexpr float kSoftPeakFactor = 3.0f / 32;
// The coherent SOF metric's mean on noise and data is about 5.6 whatever the
// level (it is normalised); 14.5 passes one in about 30 000 of those symbols
// and, at Es/N0 −2 dB, about eleven SOFs in twelve.
constexpr float kCoherentSofPeak = 14.5f;
// The header metric of a PLHEADER at a frame length into a frame walked on
// trial, where it shows the frame's header misread: about 15 at 3 dB where
// the matched filter passes only part of a carrier a quarter of the symbol
// rate off; data and noise pass it once in some 10⁵ frames.
constexpr float kMisreadFrameMetric = 12.0f;
// Before lock, an SOF this many symbols either side of where the last frame
// read says the next begins counts as in place: a move of the mixer to the
// band's centre, whose passband the timing loop then sees anew, may shift
// the timing by a symbol.
constexpr int64_t kPlaceSlack = 2;
// A frame's data read this far (1/256 cycle per symbol) from the loop's
// integrator moves it there: nearer, the loop holds the phase by itself.
constexpr float kDataCarrierStep = 0.02f;
// ... on QPSK when the frame's Es/N0 reads at least this (dB).
constexpr double kDataCarrierQpskFloorDb = 1.0;
// A loop this near (1/256 cycle per symbol) to where a move to the band's
// centre takes the mixer stands on the carrier already: 2 % of the symbol
// rate, about what the band's centre strays by.
constexpr float kFoundNearMove = 5.0f;

// The signs of Im(d) over a PLHEADER's products d[m] = conj(z[m])·z[m − 1]
// (m = 1 … 25 within the SOF; 0 unused), for the sense set; and over the
// PLS code's products within its pairs (m = 27 + 2i), with the pilot flag
// clear (set: all the other way).
struct HeaderSignTables {
    float sof[26];
    float pairs[32];
};
constexpr HeaderSignTables headerSignTables()
{
    HeaderSignTables t{};
    auto sign = [](uint64_t bits, int width, int position) { return ((bits >> (width - 1 - position)) & 1u) ? -1 : 1; };
    t.sof[0] = 0;
    for (int m = 1; m <= 25; ++m) {
        // π/2-BPSK turns a quarter the other way from odd to even symbols.
        const int product = sign(kSofBits, 26, m) * sign(kSofBits, 26, m - 1);
        t.sof[m] = float(m % 2 == 1 ? product : -product);
    }
    for (int i = 0; i < 32; ++i)
        t.pairs[i] = float(sign(kPlHeaderScrambling, 64, 2 * i) * sign(kPlHeaderScrambling, 64, 2 * i + 1));
    return t;
}
constexpr HeaderSignTables kHeaderSignTables = headerSignTables();
constexpr const float* kHeaderSigns = kHeaderSignTables.sof;
constexpr const float* kPairSigns = kHeaderSignTables.pairs;

inline int sofBit(int position) { return int((kSofBits >> (25 - position)) & 1u); }

// A header whose hard decisions lie further from the code word they decode
// to is not trusted as known: beyond 15 errors the first-order Reed–Muller
// code no longer decodes reliably. Noise alone comes that close to one of
// the 128 code words 1.6 times in a thousand; a real header at Es/N0 1 dB
// (6 % of its bits wrong) misses only 3 times in ten million.
constexpr int kMaxKnownHeaderErrors = 15;
// A header read with this many errors or more may be another code word's
// (see walkOnTrial()).
constexpr int kDoubtfulHeaderErrors = 4;
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

size_t FrameSynchroniser::process(const int16_t* in, size_t n, float scale, bool inverted, Equalizer& equalizer,
                                  cf* symbols, int8_t* frame, SymbolTap* tap, size_t capacity)
{
    blockTap = tap;
    frameOut = frame;
    frameCapacity = std::max<size_t>(capacity, 1);
    deliveredFrames.clear();
    blockStart = symbolIndex;
    conjugating = inverted == senseFlipped;
    for (size_t k = 0; k < n;) {
        const size_t run = std::min(dataRunLength(), n - k);
        if (run > 0) {
            dataRun(in + 2 * k, run, scale, inverted != senseFlipped, equalizer, symbols + k);
            k += run;
            continue;
        }
        if (shiftCountdown > 0 && --shiftCountdown == 0)
            applyShift();
        cf z = inputSymbol(in + 2 * k, scale, inverted != senseFlipped);
        if (equalizer.on())
            z = equalizer.process(z);
        symbols[k] = push(z);
        ++k;
    }
    blind.add(symbols, n);
    return std::min(deliveredFrames.size(), frameCapacity);
}

void FrameSynchroniser::applyShift()
{
    const float step = float(loopSign() * pendingShift * 256);
    // A move asked for before the loop had found the carrier restarts it at
    // the mixer's new frequency. But the move takes a few blocks to arrive,
    // and where meanwhile headers have decoded where their frames said, or
    // the loop has come to stand near where the mixer goes, the loop holds
    // the carrier, more closely than the band's centre tells it, and
    // follows it through the move.
    const bool found = lockCount > 0 || std::fabs(loop.integrator - step) < kFoundNearMove;
    const bool restart = restartAtShift && !found;
    loop.integrator = restart ? 0.0f : loop.integrator - step;
    loop.frequency = restart ? 0.0f : loop.frequency - step;
    // What the header sums hold was measured at the carrier before the move.
    // An SOF or header being read holds symbols from either side of it, which
    // show no one carrier: a loop that followed the move is right for both
    // and is not set from them (one started again knows nothing better).
    acquisition.reset();
    if (!isLocked) {
        // Before lock the mixer moves to bring a carrier into the filter:
        // the Es/N0 read so far was read through its edge.
        blind.restartWindow();
        headerEstimates = 0;
    }
    movedInHeader = !restart && ((state == State::SofSearch && fieldPos < 26) || state == State::HeaderCode);
    dataCarrier.restart(loop.integrator);
    lastSof = {};
    loneSof.held = false;
    pendingShift = 0;
}

SignalQualityReading FrameSynchroniser::signalQuality() const
{
    const SignalQualityReading known = quality.reading();
    if (known.valid || !framesHeld || apskData)
        return known;
    if (qpskSeen && !otherSeen) {
        const SignalQualityReading decided = blind.qpskReading();
        if (decided.valid)
            return decided;
    }
    return blind.reading();
}

SignalQualityReading FrameSynchroniser::frameQuality() const
{
    const SignalQualityReading known = quality.reading();
    if (known.valid || apskData)
        return known;
    // APSK symbols are not of constant modulus: read blind, their rings
    // look like noise. Until the known symbols tell, the headers do.
    const bool apskFrame = s2ModcodRow(plsModcod(deliveredPls)).constellationIndex > 3;
    SignalQualityReading r = apskFrame ? SignalQualityReading() : blind.reading();
    if (!r.valid && headerEstimates > 0) {
        r.valid = true;
        r.esn0Db = qualityDb(headerSignal, headerNoise);
    }
    return r;
}

// An input symbol as the framing takes it. The matched filter's gain control
// settles at a negative gain, so its output is the signal turned by π. With
// the default inversion flag (`negate`) that turn is taken back here, so that
// a standard signal shows its SOF and header as transmitted; the other
// setting stays as it was.
__attribute__((always_inline)) inline cf FrameSynchroniser::inputSymbol(const int16_t* in, float scale, bool negate)
{
    const float a = float(in[0]) * scale;
    const float b = float(in[1]) * scale;
    return negate ? cf(-a, -b) : cf(a, -b);
}

// Inlined into the block loop: as a call it costs a third of the stage's speed.
__attribute__((always_inline)) inline cf FrameSynchroniser::delay(cf z)
{
    const cf d = std::conj(z) * previous;
    diffSigns = (diffSigns << 1) | unsigned(d.imag() < 0);
    diffRing[diffPos] = d;
    diffPos = (diffPos + 1) & 127;
    // Σ |d|² over the products of the PLHEADER that begins with the symbol
    // handled now: d[k−88] … d[k].
    diffPower += double(std::norm(d)) - double(std::norm(diffRing[size_t((diffPos - 90) & 127)]));
    previous = z;
    delayRing[ringPos] = z;
    ringPos = ringPos + 1 == kHeaderDelay + 1 ? 0 : ringPos + 1;
    return delayRing[ringPos];
}

__attribute__((always_inline)) inline cf FrameSynchroniser::push(cf z)
{
    raw = delay(z);
    cf s = loop.derotate(raw);   // the symbol kHeaderDelay positions back
    if (blockTap != nullptr)
        blockTap->offer(DisplaySource::All, s);

    const bool hit = lengthIndex < 16 && symbolCounter == kFrameLengths[size_t(lengthIndex)];
    const bool misread = hit && !sofSearch && walkOnTrial() && headerMetric() >= kMisreadFrameMetric;
    if (misread)
        abandonWalkedFrame();

    bool peak = misread;
    // Before the lock the sense is watched on every symbol: in the wrong
    // sense the headers read as other frames, whose lengths hide the SOFs
    // from the search.
    const bool senseWatch = autoSense && !isLocked;
    if (sofSearch || senseWatch) {
        // The SOF beginning with the symbol handled now: its products are
        // d[k−89] … d[k−65], bits 89 … 65 of the sign register.
        const int mismatches = __builtin_popcount((uint32_t(diffSigns >> 65) & 0x1FFFFFFu) ^ kSofNegative);
        const int sum = 25 - 2 * mismatches;
        if (senseWatch && (sum >= kSenseEvidence || sum <= -kSenseEvidence))
            followSense(sum);
        if (sofSearch) {
            // Two correlators: the signs of the SOF's products stand up to
            // the distortion of the symbols while the loops settle; the
            // products of SOF and PLS code together, to a carrier far off
            // and to noise down to the decoding threshold.
            const float hard = float(std::abs(sum));
            const float soft = headerMetric();
            peakSum += hard - peakHistory[peakIndex];
            peakHistory[peakIndex] = hard;
            softPeakSum += soft - softPeakHistory[peakIndex];
            softPeakHistory[peakIndex] = soft;
            peakIndex = (peakIndex + 1) % 32;
            countPeak = hard > kHardPeakFactor * peakSum;
            // Before lock the SOF is also correlated coherently, at the
            // loop's frequency: 2 dB above the products' metric once the
            // carrier is near (the band centring puts it there), which
            // finds the frames of the lowest rates near their threshold.
            const float coherent = isLocked ? 0.0f : coherentSofMetric();
            softStrength = std::max(soft, coherent);
            peak = peak || countPeak || soft > kSoftPeakFactor * softPeakSum || coherent > kCoherentSofPeak;
        }
    }
    if (symbolIndex == nextFrameStart + 26 + kPlaceSlack)
        passMissedSof();
    // A frame passed unread: its successor's SOF is read where it is due,
    // peak or none, as at the end of a walked frame (the search took only
    // a peak there, and near the threshold missed one SOF in twenty).
    if (framesPassed > 0 && symbolIndex == nextFrameStart && !isLocked && state == State::SofSearch && fieldPos >= 26) {
        expectSof();
        fieldPos = 0;
    }
    runState(s, peak, hit);

    ++symbolIndex;
    ++symbolCounter;
    if (lengthIndex < 16 && symbolCounter > kFrameLengths[size_t(lengthIndex)])
        ++lengthIndex;
    loop.advance();
    return s;
}

float FrameSynchroniser::headerMetric()
{
    // The differential products of a PLHEADER beginning with the symbol now
    // handled (d[k−89 + m] for m = 1 … 89), weighted by the signs their
    // imaginary parts should have: the SOF's 25, and the PLS code's 32
    // products within its pairs of symbols, which the code fixes up to the
    // pilot flag (one sign for all of them). A carrier offset turns every
    // product alike, so |Σ| does not depend on it; nor does the phase, nor a
    // mirrored spectrum (which conjugates every product). Scaled to the hard
    // count's: 25 for a clean header, about 5 on noise.
    const int first = diffPos - 90;   // d[k−89]; the ring's newest entry is d[k]
    cf sof = 0;
    for (int m = 1; m <= 25; ++m)
        sof += kHeaderSigns[m] * diffRing[size_t((first + m) & 127)];
    cf code = 0;
    for (int i = 0; i < 32; ++i)
        code += kPairSigns[i] * diffRing[size_t((first + 27 + 2 * i) & 127)];
    if (diffPower <= 1e-12)
        return 0;
    const float best = std::max(std::norm(sof + code), std::norm(sof - code));
    // |Σ| of 57 clean products is 57·|d|; Σ |d|² over the window, 89·|d|².
    return 25.0f * std::sqrt(best * 89.0f / (57.0f * 57.0f * float(diffPower)));
}

float FrameSynchroniser::coherentSofMetric()
{
    // The SOF beginning with the symbol now handled, z[k−89] … z[k−64], the
    // oldest of the delay ring, turned back by the loop's frequency and
    // against the known symbols, in either sense (a mirrored spectrum
    // conjugates them). Scaled as headerMetric(): 25 clean, about 5.6 on
    // noise (the larger of two). It runs on every symbol while searching:
    // the turned references are made again only when the integrator has
    // moved by more than kSofTurnStep (a few thousandths of a cycle over
    // the SOF).
    if (!sofTurnValid || std::fabs(loop.integrator - sofTurnFrequency) > kSofTurnStep)
        turnSofReferences(loop.integrator);
    float senseRe = 0, senseIm = 0, mirrorRe = 0, mirrorIm = 0, power = 0;
    auto add = [&](int from, int to, int i) {
        for (int at = from; at < to; ++at, ++i) {
            const float x = delayRing[at].real(), y = delayRing[at].imag();
            const TurnedSofSymbol& t = sofTurned[size_t(i)];
            senseRe += x * t.senseRe - y * t.senseIm;
            senseIm += x * t.senseIm + y * t.senseRe;
            mirrorRe += x * t.mirrorRe + y * t.mirrorIm;
            mirrorIm += x * t.mirrorIm - y * t.mirrorRe;
            power += x * x + y * y;
        }
        return i;
    };
    // The SOF's symbols in the ring, which wraps within them two times in three.
    const int ring = kHeaderDelay + 1;
    const int first = std::min(ring - ringPos, 26);
    add(0, 26 - first, add(ringPos, ringPos + first, 0));
    if (power <= 1e-12f)
        return 0;
    const float best = std::max(senseRe * senseRe + senseIm * senseIm, mirrorRe * mirrorRe + mirrorIm * mirrorIm);
    // |Σ| of 26 clean terms is 26·√2·|z|; Σ|z|², 26·|z|².
    return 25.0f * std::sqrt(best / (2.0f * 26.0f * power));
}

void FrameSynchroniser::turnSofReferences(float frequency)
{
    // For z·t·conj(r) and conj(z·t)·conj(r), t = e^(−2πj·f·i/256) the turn
    // at SOF symbol i and r its symbol: (1 + j) or (1 − j) by position, ±.
    const double angle = -2 * M_PI * double(frequency) / 256.0;
    const std::complex<double> step(std::cos(angle), std::sin(angle));
    std::complex<double> turned(1, 0);
    for (int i = 0; i < 26; ++i, turned *= step) {
        const cf turn(turned);
        const float sign = sofBit(i) ? -1.0f : 1.0f;
        const cf ref = i % 2 == 0 ? cf(sign, sign) : cf(sign, -sign);
        const cf sense = turn * std::conj(ref);
        const cf mirror = std::conj(turn) * std::conj(ref);
        sofTurned[size_t(i)] = {sense.real(), sense.imag(), mirror.real(), mirror.imag()};
    }
    sofTurnFrequency = frequency;
    sofTurnValid = true;
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
    loneSof.held = false;
    pending.push_back({FrameEvent::Kind::SenseChanged, pls, false});
}

bool FrameSynchroniser::walkOnTrial() const
{
    // Before the first header read in place, or after a header read with
    // this many errors: a loop off the carrier misreads the pilot flag or the
    // frame size as readily as the first header's.
    return !isLocked && (lockCount == 0 || walkedHeaderErrors >= kDoubtfulHeaderErrors) && !keepLock &&
           (state == State::DataSlots || state == State::PilotBlock || state == State::DummySlots);
}

void FrameSynchroniser::abandonWalkedFrame()
{
    // Its data is not taken for the frame's: the frame is lost.
    if (plsModcod(framePls) != 0)
        dataLost = true;
    framePls = 0;
    demapper.start(0);
    state = State::SofSearch;
    current = qpsk;
    sofSearch = true;
    fieldPos = 26;
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
    loop.update(error, integralGain());
    if (blockTap != nullptr)
        blockTap->offer(DisplaySource::Header, s);

    // Before lock a candidate being checked gives way to a stronger peak
    // within its first 25 symbols: the soft correlator passes the threshold
    // a symbol either side of a clean SOF too, and the earlier of the two
    // would hide the SOF itself. Nothing replaces one that began just where
    // a header read in place said: near the threshold a peak of the noise a
    // few symbols on (within the slack allowed around that place) outshone
    // it now and then, and the frame was lost.
    const bool readingInPlace = lockCount > 0 && fieldPos > 0 && fieldPos < 26 && symbolIndex - fieldPos == nextFrameStart;
    const bool stronger = peak && candidateOpen && !isLocked && fieldPos > 0 && fieldPos < 25 &&
                          softStrength > candidateStrength;
    const bool accepted =
        ((peak && (lengthIndex == 16 || hit || nearFrameStart(symbolIndex))) || stronger) && !readingInPlace;
    if (accepted) {
        sofAccepted = true;
        // A peak just where the frame walked says the next one begins is
        // that frame's successor: its hard decisions are trusted as those of
        // an SOF found where it was due without any peak. Were the count's
        // verdict alone taken, a clean SOF there whose coherence fell just
        // short of the mark would be refused, and frames lost while the
        // search started again.
        candidateByCount = countPeak || symbolIndex == nextFrameStart;
        candidateStrength = softStrength;
        if (stronger) {
            // The timing the first candidate replaced runs on meanwhile.
            timingCounter += symbolCounter;
        } else {
            timingCounter = symbolCounter;
            timingLengthIndex = lengthIndex;
        }
        candidateOpen = !isLocked;
        movedInHeader = false;
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
            sofMagnitude = 0;
        }
        sofPhase += s * std::conj(reference(fieldPos));
        sofMagnitude += std::abs(raw);
    }

    if (fieldPos == 25) {
        candidateOpen = false;
        const int errors = __builtin_popcount((sofRegister ^ kSofBits) & 0x3FFFFFFu);
        // Hard decisions see the SOF only within a quarter turn of the right
        // phase; before lock the oscillator may be anywhere, and a residual
        // carrier turns it on the way. The sum of the symbols as received
        // against the known SOF is large at any phase for a real SOF
        // (26 · |s| when clean) and about √26 · |s| on data. (Symbols come
        // in at about unit level; silence is no SOF.)
        const bool acquiring = loop.enabled() && !isLocked;
        CarrierAcquisition::SofReading sof;
        bool coherent = false;
        if (acquiring && sofMagnitude > 26 * kSofMinimumLevel) {
            // The SOF turned back by the carrier it shows: a real one stands
            // out at any offset the loop can take.
            sof = acquisition.readSof();
            // An SOF that fits better the other way round belongs to a
            // mirrored spectrum: its carrier reading is the mirror's turn.
            sofMirrored = acquisition.readSof(true).coherence > sof.coherence;
            // Where the sign count vouches for it, the lower mark holds
            // unturned. Where the frame walked says it begins, at either
            // reading: near 3 dB a real SOF turned back by its carrier reads
            // about the upper mark, at times just below, and a carrier a few
            // per cent off leaves little of it unturned. (Its header must
            // still decode; elsewhere an SOF read no better than that leaves
            // its carrier, and so its header, in doubt.)
            const bool inPlace = nearFrameStart(symbolIndex - 25);
            coherent = (candidateByCount && sof.unturnedCoherence >= kSofCoherence) ||
                       (inPlace && sof.coherence >= kSofCoherence) ||
                       sof.coherence >= kSofFrequencyCoherence;
        }
        // The hard decisions vouch only for a candidate the sign count
        // found: the soft correlator's peaks are many more, and one in a
        // hundred of those in data would pass.
        // Near the decoding threshold a real SOF shows neither: with the
        // oscillator set from it, its header tells (noise lies within the
        // reach of a code word one time in six hundred).
        tentativeSof = acquiring && !coherent && !(errors <= 7 && candidateByCount) &&
                       sof.unturnedCoherence >= kSofTentativeCoherence;
        // Once headers hold, one where the last frame said the next begins
        // is taken as while locked: near the threshold a real SOF there
        // reads more than seven signs wrong, and less coherent than the
        // search asks, a few times in a hundred (its header still decodes,
        // or is read through the noise).
        const bool heldInPlace = !isLocked && lockCount >= kHeadersHoldingCarrier && nearFrameStart(symbolIndex - 25);
        if ((errors <= 7 && candidateByCount) || isLocked || coherent || tentativeSof || heldInPlace) {
            if (!acquiring)
                alignPhaseWithSof();
            else if (!movedInHeader)
                acquireFromSof(sof, coherent);
            state = State::HeaderCode;
            fieldPos = 0;
            current = qpsk;
            if (!sofAccepted) {
                // Found where the last frame ended without a correlator
                // peak: the frame timing starts from it all the same.
                symbolCounter = 25;
                lengthIndex = 0;
            }
        } else if (!sofAccepted) {
            fieldPos = 26;   // no SOF where one was due: the timing runs on
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
    if (!loop.enabled() || sofPhase == cf(0, 0))
        return;
    const bool psk8 = s2ModcodRow(plsModcod(framePls)).constellationIndex == 3;
    const double step = psk8 ? M_PI / 4 : M_PI / 2;
    const long steps = std::lround(double(std::arg(sofPhase)) / step);
    if (steps != 0)
        loop.phase = int32_t((loop.phase + steps * (psk8 ? 8192 : 16384)) & 0xFFFF);
}

void FrameSynchroniser::acquireFromSof(const CarrierAcquisition::SofReading& sof, bool coherent)
{
    // The carriers this SOF shows, for a header that does not read at the
    // loop's (readAtSofCarrier).
    sofCarrierCount = 0;
    if (coherent && !sofMirrored) {
        sofCarriers[size_t(sofCarrierCount++)] = sof.frequency;
        if (lastSof.valid && std::fabs(sof.frequency - lastSof.frequency) < 3 * std::hypot(sof.spread, lastSof.spread))
            sofCarriers[size_t(sofCarrierCount++)] = (sof.frequency + lastSof.frequency) / 2;
    }
    // Before lock the loop may be anywhere: a carrier further off than it
    // pulls in turns the header past reading. An SOF that stands out shows
    // the carrier; the loop takes it when it differs from the loop's by
    // more than the reading's noise.
    // Once headers follow each other in place the loop is near enough the
    // carrier to read them; two SOFs that agree on another carrier are then
    // noise (near the threshold their spread lets two agree on anything,
    // and a loop on the carrier was moved off it for the rest of a stream).
    if (coherent && sof.coherence >= kSofFrequencyCoherence && !sofMirrored && lockCount < kHeadersHoldingCarrier) {
        // Two SOFs in a row that agree: one alone is sometimes further off
        // than its spread says while the timing settles, or no SOF at all.
        const float spread = std::hypot(sof.spread, lastSof.spread);
        if (lastSof.valid && std::fabs(sof.frequency - lastSof.frequency) < 3 * spread) {
            const float carrier = (sof.frequency + lastSof.frequency) / 2;
            if (std::fabs(carrier - loop.integrator) > std::max(1.5f * spread, kSofMinimumStep)) {
                // Near the threshold two may both stray two of their spreads
                // the same way, off a loop that held the carrier: the header
                // that follows decides, as for a lone SOF.
                loneSof = {loop.integrator, loop.frequency, true};
                loop.integrator = carrier;
                loop.frequency = carrier;
                acquisition.reset();
            }
        } else if (lockCount == 0 && std::fabs(sof.frequency - loop.integrator) > std::max(3 * sof.spread, kLoneSofStep)) {
            // A lone SOF far from the loop, while no header has yet been
            // read where the last frame said: its header may be unreadable
            // at the loop's carrier. (Once headers follow each other the
            // loop is on the carrier, and an SOF read that far off is one
            // read while the timing settled.)
            loneSof = {loop.integrator, loop.frequency, true};
            loop.integrator = sof.frequency;
            loop.frequency = sof.frequency;
        }
        lastSof = {sof.frequency, sof.spread, true};
    }
    // The phase the SOF shows at the loop's frequency, at its last symbol
    // (the loop itself was pulling during the SOF); the oscillator steps on
    // to the first header symbol after it.
    const int32_t sofPhaseNow = sof.phaseAt(25, loop.frequency);
    // Where this SOF follows a frame that followed another in place, and the
    // loop ran at its narrow gains through that frame's data, how far the
    // oscillator now stands from the SOF's phase tells whether it held the
    // carrier: half a step of the data's constellation or more, it turned
    // past the data. (Not after the first frame found, whose data the loop
    // may still have been pulling in on, nor after a widened frame, whose
    // jitter near the threshold reaches that far by itself.)
    const int constellation = s2ModcodRow(plsModcod(dataPls)).constellationIndex;
    loopDrifted = false;
    if (nextFrameStart == symbolIndex - 25 && !frameAfterGap && widening == 1.0f &&
        (constellation == 2 || constellation == 3)) {
        const int step = constellation == 3 ? 8192 : 16384;
        const int jump = int16_t(uint16_t(sofPhaseNow - loop.phase));
        loopDrifted = std::abs(jump) >= step / 2;
    }
    loop.phase = sofPhaseNow;
}

void FrameSynchroniser::headerState(cf& s)
{
    const bool even = fieldPos % 2 == 0;
    cf d;
    if (even)
        d = s.real() + s.imag() >= 0 ? cf(1, 1) : cf(-1, -1);
    else
        d = s.real() - s.imag() >= 0 ? cf(1, -1) : cf(-1, 1);
    loop.update(s.imag() * d.real() - s.real() * d.imag(), integralGain());
    if (blockTap != nullptr)
        blockTap->offer(DisplaySource::Header, s);

    headerRegister = (headerRegister << 1) | headerBit(s, fieldPos);
    acquisition.store(26 + fieldPos, raw);
    storeHeaderSymbol(fieldPos, s);
    if (fieldPos < 63) {
        ++fieldPos;
        return;
    }

    readAtLoneSofCarrier();
    readAtSofCarrier();
    // While the gain control is still settling (a start, a retune) the
    // headers' phase steps are skewed: a carrier read from them was off by
    // a third of what the loop holds.
    const SignalQualityReading measured = frameQuality();
    if (blind.steady() && !movedInHeader)
        acquisition.headerDone(headerRegister ^ kPlHeaderScrambling, isLocked, loop,
                               measured.valid ? float(measured.esn0Db) : NAN, holdingCarrier(measured));
    else
        acquisition.reset();
    const bool acrossMove = movedInHeader;
    movedInHeader = false;
    // Before lock a header that does not decode ends the candidate, however
    // it was found: its frame's code is unknown, so there is no frame to
    // walk, and walking one would keep the search away from the true SOFs
    // for up to a longest frame (six short frames) while the next peak waits
    // for the counter. (Not with keep-lock: the code kept gives the frame.)
    //
    // Except once a header has been read where its predecessor said: one
    // more where the last frame said, behind an SOF that stands out of the
    // noise, is that frame's header read through the noise, and the frame
    // is taken to carry the code the frames before it did (at −2 dB a few
    // headers in a hundred have more than kMaxKnownHeaderErrors of their
    // bits wrong, and ending the candidate there lost up to five frames
    // while the search found them again). One only: a second in a row is
    // the signal gone. So too while locked, where the code such a header
    // reads as gave the frame another length (a normal frame's among short
    // ones), the next header was not in place, and the lock went with four
    // frames. (An SOF that does not stand out at the loop's phase, or
    // silence, is no header of the signal at all: the signal has gone.)
    const uint64_t heard = headerRegister ^ kPlHeaderScrambling;
    const bool sofThere =
        sofMagnitude > 26 * kSofMinimumLevel && std::abs(sofPhase) >= kSofTentativeCoherence * sofMagnitude;
    const bool readThroughNoise = !headerDecodes(heard) && (isLocked || lockCount > 0) && unexplainedHeaders == 0 &&
                                  headerInPlace() && sofThere;
    // A header the mixer's move arrived in turns part way through by what
    // the few symbols either side of the move miss: half a turn there makes
    // another code word of it, read cleanly (a short frame read as a normal
    // one, and four frames walked past). Where it stands where the last
    // frame said, the frame carries the last frame's code.
    const bool readAcrossMove = !isLocked && !keepLock && acrossMove && headerInPlace();
    const bool keepCode = readThroughNoise || readAcrossMove;
    const bool decodes = headerDecodes(heard) || keepCode;
    // Silence where a locked frame's header is due (the end of a recording)
    // spells some code word all the same: its frame is walked, as any while
    // locked, but its zeros are no frame to decode.
    const bool silentHeader = isLocked && !decodes && !(sofMagnitude > 26 * kSofMinimumLevel);
    const bool refuted = !isLocked && !keepLock && !decodes;
    if (tentativeSof || refuted) {
        tentativeSof = false;
        if (refuted) {
            // One found where the last frame said is that stream's header
            // read through the noise, or through a carrier not yet found: the
            // next is looked for a frame further on, as for an SOF missed.
            // (Else the search waited for a peak at one of the frame lengths
            // after this SOF, up to a longest frame: three short ones lost
            // after the band's move.)
            if (headerInPlace())
                passFrameUnread();
            lose();
            // The frame before it, when one was walked, is complete all the
            // same; the data that follows is not taken for another.
            if (!deliverFrame() && plsModcod(framePls) != 0)
                dataLost = true;
            demapper.start(framePls);
            framePls = 0;
        }
        if (refuted || !decodes) {
            // Not an SOF after all: back to the search, on the timing the
            // candidate replaced (as for a candidate the SOF itself refutes).
            state = State::SofSearch;
            current = qpsk;
            sofSearch = true;
            fieldPos = 26;
            if (sofAccepted) {
                symbolCounter = timingCounter + 89;
                lengthIndex = timingLengthIndex;
                while (lengthIndex < 16 && symbolCounter > kFrameLengths[size_t(lengthIndex)])
                    ++lengthIndex;
            }
            return;
        }
    }
    const bool lettingGo = followLock(headerRegister ^ kPlHeaderScrambling, symbolIndex - 89);

    if (!keepLock && !keepCode)
        pls = decodePlsHeader(headerRegister ^ kPlHeaderScrambling);
    pending.push_back({FrameEvent::Kind::HeaderRead, pls, isLocked});
    measureHeader(headerRegister ^ kPlHeaderScrambling);
    const ModcodRow& info = s2ModcodRow(plsModcod(pls));
    dataSlots = slotsPerFrame(info.constellationIndex, plsShortFrame(pls));
    if (lettingGo) {
        // Searching afresh: the next SOF the correlator finds is taken.
        state = State::SofSearch;
        current = qpsk;
        sofSearch = true;
        lengthIndex = 16;
    } else if (info.constellationIndex > 0) {
        const bool explained = headerDecodes(headerRegister ^ kPlHeaderScrambling);
        dataPlsRun = !explained ? 0 : pls == dataPls ? std::min(dataPlsRun + 1, 2) : 1;
        dataPls = pls;
        current = constellationByIndex(info.constellationIndex);
        state = State::DataSlots;
        chooseDataDetector();
        dataCarrier.start(current == psk8 ? 8 : current == qpsk ? 4 : 0, loop.integrator);
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
    frameStart = symbolIndex - 89;
    // A skipped frame's data is no SOF: wait for the correlator's next
    // accepted peak rather than reading the following symbols as one (which,
    // while locked, would decode the frame's data as headers).
    fieldPos = state == State::SofSearch ? 26 : 0;
    slotInPeriod = 0;
    slotInFrame = 0;
    pilotBlocks = 0;
    descramblerIndex = 0;
    demapper.start(silentHeader ? 0 : pls);
}

bool FrameSynchroniser::holdingCarrier(const SignalQualityReading& measured) const
{
    return lockCount >= kHeadersHoldingCarrier ||
           (headerInPlace() && measured.valid && measured.esn0Db < kOneHeaderHoldsBelowDb);
}

void FrameSynchroniser::readAtLoneSofCarrier()
{
    if (!loneSof.held)
        return;
    loneSof.held = false;
    const int followed = plsHeaderErrors(headerRegister ^ kPlHeaderScrambling);
    const uint64_t before = acquisition.headerBitsAt(loneSof.integrator);
    const bool beforeReadsBetter = plsHeaderErrors(before ^ kPlHeaderScrambling) < followed;
    if (beforeReadsBetter || followed > kMaxKnownHeaderErrors) {
        // The SOF was read off (as it may be while the timing settles), or
        // the header is no code word either way: the loop goes back.
        if (beforeReadsBetter)
            headerRegister = before;
        loop.integrator = loneSof.integrator;
        loop.frequency = loneSof.frequency;
        loop.phase = acquisition.headerPhase(headerRegister ^ kPlHeaderScrambling, loop.frequency);
        return;
    }
    takeHeaderCarrier(headerRegister ^ kPlHeaderScrambling);
}

void FrameSynchroniser::takeHeaderCarrier(uint64_t descrambled)
{
    const CarrierAcquisition::HeaderReading known = acquisition.readHeader(descrambled);
    loop.integrator = known.frequency;
    loop.frequency = known.frequency;
    loop.phase = acquisition.headerPhase(descrambled, known.frequency);
}

void FrameSynchroniser::readAtSofCarrier()
{
    // A carrier a few tenths of a per cent of the symbol rate off turns a
    // header past reading at 3 dB, while the SOFs' readings, whose spread
    // is about that, do not move the loop (the carrier read through the
    // matched filter before the band's move was that far off, and four
    // frames were lost while pairs of SOFs made up their minds). The
    // header read at the carrier its SOF shows decides: where it decodes
    // there, the loop takes the carrier and phase the whole header shows.
    const int count = sofCarrierCount;
    sofCarrierCount = 0;
    // Once headers follow each other in place the loop holds the carrier,
    // and one that does not decode there was read through the noise; below
    // 0 dB so may the first ones be. (At −2 dB such a header read at another
    // carrier decodes now and then, and its own carrier reading, a spread
    // off, threw the loop off for the rest of the stream.)
    if (isLocked || !loop.enabled() || movedInHeader || count == 0 || lockCount >= kHeadersHoldingCarrier)
        return;
    const SignalQualityReading q = frameQuality();
    if (q.valid && q.esn0Db < kOneHeaderHoldsBelowDb)
        return;
    const uint64_t atLoop = headerRegister ^ kPlHeaderScrambling;
    int fewest = plsHeaderErrors(atLoop);
    if (fewest <= kMaxKnownHeaderErrors)
        return;
    uint64_t best = 0;
    for (int k = 0; k < count; ++k) {
        const uint64_t bits = acquisition.headerBitsAt(sofCarriers[size_t(k)]) ^ kPlHeaderScrambling;
        const int errors = plsHeaderErrors(bits);
        if (errors < fewest) {
            fewest = errors;
            best = bits;
        }
    }
    if (fewest > kMaxKnownHeaderErrors)
        return;
    headerRegister = best ^ kPlHeaderScrambling;
    takeHeaderCarrier(best);
}

void FrameSynchroniser::expectSof()
{
    // The frame's end: the next SOF is expected here, whatever the
    // correlators say, and its hard decisions are trusted as a counted
    // candidate's.
    candidateByCount = true;
    candidateOpen = false;
    sofAccepted = false;
}

bool FrameSynchroniser::headerDecodes(uint64_t descrambled)
{
    return plsHeaderErrors(descrambled) <= kMaxKnownHeaderErrors;
}

bool FrameSynchroniser::followLock(uint64_t descrambled, int64_t start)
{
    // The lock counts headers that decode (their bits near a code word, as
    // noise comes one time in six hundred) where the last frame said the
    // next would start: at the decoding threshold the correlator misses
    // some SOFs that read well enough, and counting its peaks left the
    // frames decoding while the lock said otherwise.
    const bool explained = headerDecodes(descrambled);
    unexplainedHeaders = explained ? 0 : unexplainedHeaders + 1;
    if (isLocked && unexplainedHeaders >= kUnexplainedHeaders) {
        letGo();
        return true;
    }
    if (!explained)
        lose();
    else if (start == nextFrameStart)
        gain();
    return false;
}

void FrameSynchroniser::letGo()
{
    // The frames are gone (a dropout, a timing jump, a retune). The count
    // would take some sixteen frames more to run down, reading noise at the
    // old timing all the while and missing the frames when they return:
    // the lock goes now, and the search starts afresh.
    unexplainedHeaders = 0;
    lockCount = 0;
    isLocked = false;
    quality.clear();
    headerEstimates = 0;
    frameKnown = false;
    pending.push_back({FrameEvent::Kind::LockLost, pls, false});
}

void FrameSynchroniser::measureHeader(uint64_t descrambled)
{
    knownSum = 0;
    knownPower = 0;
    // Data frames read while locked tell whether the symbols are of
    // constant modulus (headers read in the noise may say anything).
    const int index = s2ModcodRow(plsModcod(pls)).constellationIndex;
    if (isLocked && index > 0) {
        apskData = index > 3;
        (index == 2 ? qpskSeen : otherSeen) = true;
    }
    // The code this header carries, whatever keep-lock does with it.
    const uint8_t heard = decodePlsHeader(descrambled);
    const uint64_t codeWord = encodePlsHeader(heard);
    const bool readable = __builtin_popcountll(codeWord ^ descrambled) <= kMaxKnownHeaderErrors;
    if (readable && !isLocked)
        estimateFromHeader(codeWord);
    const bool clean = isLocked && readable;
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
    cf correlation;
    float power;
    correlateHeader(codeWord, correlation, power);
    quality.addField(correlation, power, 64);
}

void FrameSynchroniser::correlateHeader(uint64_t codeWord, cf& correlation, float& power) const
{
    const uint64_t sent = codeWord ^ kPlHeaderScrambling;
    correlation = 0;
    power = 0;
    for (int p = 0; p < 64; ++p) {
        // π/2-BPSK, first symbol in bit 63: (1 − 2b)(1 + j)/√2 at even
        // positions, (1 − 2b)(1 − j)/√2 at odd ones.
        const float sign = ((sent >> (63 - p)) & 1u) != 0 ? -0.70710678f : 0.70710678f;
        const cf reference = p % 2 == 0 ? cf(sign, sign) : cf(sign, -sign);
        correlation += headerSymbols[p] * std::conj(reference);
        power += std::norm(headerSymbols[p]);
    }
}

void FrameSynchroniser::estimateFromHeader(uint64_t codeWord)
{
    // Before the lock (sixteen headers) the known symbols are not measured,
    // and the moments of all symbols need several frames and fail near
    // −3 dB: the PLS code of a header that reads gives a rough Es/N0 at
    // once, averaged over the last few headers, for the data's phase
    // detector and the scaling of the first frames' soft values.
    cf correlation;
    float power;
    correlateHeader(codeWord, correlation, power);
    const float signal = std::norm(correlation) / (64.0f * 64.0f);
    const float noise = std::max(power / 64.0f - signal, 1e-9f);
    const float weight = headerEstimates == 0 ? 1.0f : 0.3f;
    headerSignal += weight * (signal - headerSignal);
    headerNoise += weight * (noise - headerNoise);
    ++headerEstimates;
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
    walkedLength = length;
    walkedHeaderErrors = plsHeaderErrors(headerRegister ^ kPlHeaderScrambling);
    framesPassed = 0;
}

bool FrameSynchroniser::nearFrameStart(int64_t index) const
{
    if (nextFrameStart < 0)
        return false;
    const int64_t off = index - nextFrameStart;
    return off == 0 || (!isLocked && off >= -kPlaceSlack && off <= kPlaceSlack);
}

void FrameSynchroniser::passMissedSof()
{
    // Before lock an SOF missed where the last frame read said it would be
    // (the loop pulling in, a move of the mixer landing, a burst of noise)
    // left the search waiting for a peak at one of the frame lengths after
    // the last SOF taken, or past the longest: frames of one length each
    // went by unseen, up to six short ones. A stream keeps its frame length
    // as a rule, so the next SOF is looked for a frame further on, as long
    // as the longest frame would not have passed. That frame's data is lost.
    if (isLocked || state != State::SofSearch || fieldPos < 26)
        return;
    passFrameUnread();
}

void FrameSynchroniser::passFrameUnread()
{
    if (walkedLength <= 0 || (framesPassed + 2) * walkedLength > kFrameLengths.back())
        return;
    ++framesPassed;
    nextFrameStart += walkedLength;
    dataLost = true;
}

bool FrameSynchroniser::deliverFrame()
{
    // The frame just finished is complete when it filled its own codeword:
    // its own code decides, so frames of varying MODCODs keep theirs.
    if (!demapper.complete())
        return false;
    // Short frames at a few samples per symbol end more than once in a block.
    const size_t slot = std::min(deliveredFrames.size(), frameCapacity - 1);
    std::memcpy(frameOut + slot * size_t(kFrameBytes), demapper.values(), demapper.size());
    // The symbols are handled kHeaderDelay after they arrive.
    const DeliveredFrame delivered{framePls, frameAfterGap, frameStart - kHeaderDelay - blockStart};
    if (deliveredFrames.size() < frameCapacity)
        deliveredFrames.push_back(delivered);
    else
        deliveredFrames.back() = delivered;
    deliveredPls = framePls;
    deliveredGap = frameAfterGap;
    return true;
}

// Once per symbol: inline in the states that call it.
__attribute__((always_inline)) inline cf FrameSynchroniser::descramble(cf s)
{
    const uint8_t r = scrambling[descramblerIndex];
    descramblerIndex = descramblerIndex + 1 == kScramblingLength ? 0 : descramblerIndex + 1;
    // × j^R without a branch on the (random) sequence value.
    static constexpr float kRe[4] = {1, 0, -1, 0};
    static constexpr float kIm[4] = {0, 1, 0, -1};
    return {kRe[r] * s.real() - kIm[r] * s.imag(), kRe[r] * s.imag() + kIm[r] * s.real()};
}

void FrameSynchroniser::chooseDataDetector()
{
    softness = 0;
    const SignalQualityReading q = frameQuality();
    strongSignal = q.valid && q.esn0Db >= kSoftDetectorBelowDb;
    widening = 1.0f;
    const double qef = s2ModcodRow(plsModcod(pls)).qefEsN0Db;
    if (!isLocked && lockCount < kWideningHeaders && q.valid && std::isfinite(qef) &&
        q.esn0Db >= qef + kWideningMarginDb)
        widening = 1.0f + (kWidening - 1.0f) * (1.0f - float(lockCount) / float(kWideningHeaders));
    // A loop that lost the carrier over the last frame runs wide whatever
    // the Es/N0 reads: narrow it would go on turning past the data.
    if (!isLocked && loopDrifted)
        widening = kWidening;
    // The gain only where the header decoded where the last frame said: a
    // header misread as another modulation (a carrier still far off) would
    // turn the loop hard on a detector for the wrong constellation.
    detectorGain = 1.0f;
    const bool credible = isLocked || (dataPlsRun > 0 && headerInPlace());
    if (!q.valid)
        return;
    const double esn0 = std::pow(10.0, q.esn0Db / 10.0);
    if (current == qpsk && q.esn0Db < kSoftDetectorBelowDb) {
        softness = float(std::sqrt(2.0) * esn0);
        detectorGain = credible ? qpskSoftDetectorGain(q.esn0Db) : 1.0f;
    } else if (current == psk8 && q.esn0Db < kPsk8SoftDetectorBelowDb) {
        softness = float(2 * esn0);
        detectorGain = credible ? psk8SoftDetectorGain(q.esn0Db) : 1.0f;
    }
}

__attribute__((always_inline)) inline float FrameSynchroniser::dataError(cf s) const
{
    if (current == qpsk)
        return softness > 0 ? detectorGain * qpskSoftPhaseError(s, softness) : qpskPhaseError(s);
    if (current == psk8)
        return softness > 0 ? detectorGain * psk8WeightedError(s, softness)
                            : qpskPhaseError(s * s * cf(0.70710677f, -0.70710677f));
    return apskPhaseError(s);
}

float FrameSynchroniser::apskPhaseError(cf s) const
{
    // APSK: each ring's points brought onto the QPSK detector's, the rings
    // told apart by |s|² against the data's mean power (the radii relative
    // to the RMS differ little between code rates), the error scaled to the
    // QPSK detector's slope at that radius.
    if (current == apsk16) {
        // The inner four (45° + k·90°) as they are, the outer twelve
        // (15° + k·30°) cubed; the rings meet at 0.75 of the RMS.
        const float r2 = std::norm(s);
        if (!(r2 > 0))
            return 0;   // silence
        if (r2 < 0.56f * apskPower)
            return qpskPhaseError(s);
        return qpskPhaseError(s * s * s) / (3 * r2);
    }
    if (current == apsk32) {
        // Rings meet at 0.48 and 0.99 of the RMS: the inner four as they
        // are, the middle twelve (15° + k·30°) cubed, the outer sixteen
        // (k·22.5°) turned by 11.25° and raised to the fourth.
        const float r2 = std::norm(s);
        if (!(r2 > 0))
            return 0;
        if (r2 < 0.23f * apskPower)
            return qpskPhaseError(s);
        if (r2 < 0.98f * apskPower)
            return qpskPhaseError(s * s * s) / (3 * r2);
        const cf t = s * cf(sineTable[56], sineTable[8]);
        const cf t2 = t * t;
        return qpskPhaseError(t2 * t2) / (4 * r2 * std::sqrt(r2));
    }
    return 0;
}

void FrameSynchroniser::dataState(cf& s)
{
    const int slots = dataSlots;
    if (slotInFrame >= slots - 1)
        sofSearch = true;   // find the next SOF in time
    s = descramble(s);
    if (current == apsk32 || current == apsk16)
        apskPower += (std::norm(s) - apskPower) * (1.0f / 1024);
    loop.update(dataError(s), widening * dataIntegralGain(), widening * loop.kp());
    if (!isLocked)
        dataCarrier.add(s, symbolIndex, loop.phase);
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
        expectSof();
        takeDataCarrier();
    }
    ++slotInFrame;
}

float FrameSynchroniser::dataIntegralGain() const
{
    const bool weakQpskHeld = current == qpsk && !strongSignal && lockCount >= kHeadersHoldingCarrier;
    return current == apsk16                ? kApsk16DataKi * loop.ki()
           : current == psk8 && psk8Ki >= 0 ? psk8Ki
           : weakQpskHeld                   ? kWeakQpskDataKi * loop.ki()
                                            : integralGain();
}

size_t FrameSynchroniser::dataRunLength() const
{
    // Locked on the QPSK or 8PSK data of a frame, short of its last slot
    // (where the search for the next SOF opens) and of a field's last symbol
    // (where the slots change).
    if (!dataRuns || state != State::DataSlots || !isLocked || sofSearch || (current != qpsk && current != psk8)
        || slotInFrame >= dataSlots - 1 || fieldPos >= 89)
        return 0;
    int64_t room = 89 - fieldPos;
    // Short of a move of the mixer reaching the loop, of a frame length
    // from the last SOF (where a misread header is looked for), and of
    // where a missed SOF would have been.
    if (shiftCountdown > 0)
        room = std::min<int64_t>(room, shiftCountdown - 1);
    if (lengthIndex < 16)
        room = std::min<int64_t>(room, int64_t(kFrameLengths[size_t(lengthIndex)]) - symbolCounter);
    const int64_t missedSofAt = nextFrameStart + 26 + kPlaceSlack;
    if (missedSofAt >= symbolIndex)
        room = std::min(room, missedSofAt - symbolIndex);
    return size_t(std::max<int64_t>(room, 0));
}

void FrameSynchroniser::dataRun(const int16_t* in, size_t length, float scale, bool negate, Equalizer& equalizer,
                                cf* symbols)
{
    // As push() and dataState() take these symbols one at a time, with
    // nothing on the way that can change what they do: the inputs first
    // (the equalizer does not depend on the loop), then the loop alone with
    // its state in registers, then the soft decisions and the display.
    std::array<cf, 89> input, derotated;
    for (size_t k = 0; k < length; ++k) {
        input[k] = inputSymbol(in + 2 * k, scale, negate);
        if (equalizer.on())
            input[k] = equalizer.process(input[k]);
    }
    const bool showAll = blockTap != nullptr && blockTap->source == DisplaySource::All;
    const float ki = widening * dataIntegralGain(), kp = widening * loop.kp();
    // The loop as CarrierLoop::update() and advance() run it, with its
    // integrator and frequency kept at the oscillator's scale (256 × both,
    // exact: a power of two), which takes a multiplication off the chain
    // from one symbol's phase to the next.
    CarrierLoop carrier = loop;
    const bool loopOn = loop.enabled();
    const float ki256 = ki * 256.0f, kp256 = kp * 256.0f;
    float integrator256 = loop.integrator * 256.0f;
    float step = loop.frequency * 256.0f;
    cf last = raw;
    for (size_t k = 0; k < length; ++k) {
        last = delay(input[k]);
        // Descrambled before the oscillator rather than after: a turn by a
        // multiple of 90° is exact either way, and this way it stays off the
        // chain too.
        if (showAll)
            derotated[k] = carrier.derotate(last);
        const cf s = carrier.derotate(descramble(last));
        if (loopOn) {
            const float e = CarrierLoop::limitedError(dataError(s));
            integrator256 += ki256 * e;
            step = kp256 * e + integrator256;
        }
        carrier.phase = CarrierLoop::advanced(carrier.phase, step);
        symbols[k] = s;
    }
    raw = last;
    loop.phase = carrier.phase;
    loop.integrator = integrator256 * (1.0f / 256);
    loop.frequency = step * (1.0f / 256);
    demapper.demapRun(symbols, length);
    if (blockTap != nullptr) {
        if (showAll)
            blockTap->symbols.insert(blockTap->symbols.end(), derotated.begin(), derotated.begin() + long(length));
        else if (blockTap->source == DisplaySource::Data)
            blockTap->symbols.insert(blockTap->symbols.end(), symbols, symbols + length);
    }
    fieldPos += int32_t(length);
    symbolIndex += int64_t(length);
    symbolCounter += int32_t(length);
    if (shiftCountdown > 0)
        shiftCountdown -= int(length);
}

void FrameSynchroniser::takeDataCarrier()
{
    // Before lock, at the end of a frame whose header decoded, the loop's
    // integrator takes the carrier the frame's data showed: a narrow loop
    // slipping through the constellation's steps would take many frames to
    // find it.
    // Below an Es/N0 of 1 dB the fourth power of QPSK holds no peak worth
    // the name, and the highest of its noise (one frame in some four hundred
    // passes the mark) would throw the loop off the carrier for many frames
    // (QPSK 1/4 at −2 dB: 19 frames). 8PSK decodes nowhere near that low.
    if (isLocked || !loop.enabled() || dataPlsRun <= 0)
        return;
    const SignalQualityReading q = frameQuality();
    if (dataCarrier.constellationSteps() == 4 && (!q.valid || q.esn0Db < kDataCarrierQpskFloorDb))
        return;
    float carrier = 0;
    if (dataCarrier.carrier(carrier) && std::fabs(carrier - loop.integrator) > kDataCarrierStep) {
        loop.integrator = carrier;
        // The headers' readings so far were measured against the old value.
        acquisition.reset();
    }
}

void FrameSynchroniser::pilotState(cf& s)
{
    s = descramble(s);
    loop.update(s.imag() - s.real(), integralGain());
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
    loop.update(s.imag() - s.real(), integralGain());
    if (blockTap != nullptr)
        blockTap->offer(DisplaySource::Data, s);
    measureKnown(s, 89);
    if (fieldPos < 89) {
        ++fieldPos;
        return;
    }
    fieldPos = 0;
    if (slotInFrame >= slots - 1) {
        state = State::SofSearch;
        expectSof();
    }
    ++slotInFrame;
}

