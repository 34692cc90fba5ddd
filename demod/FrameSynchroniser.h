// DVB-S2 physical-layer framing (EN 302 307-1 §5.5): the start-of-frame
// correlator, the frame timing and lock, the PLS code, descrambling, the
// carrier loop's phase detectors per field, and the soft decisions of each
// frame's data. A plain stage: the demodulator feeds it symbols, its owner
// reads what happened in the block from its events.
#pragma once

#include "demod/CarrierAcquisition.h"
#include "demod/CarrierLoop.h"
#include "demod/DataCarrierReading.h"
#include "demod/Constellation.h"
#include "demod/Equalizer.h"
#include "demod/KnownSymbolQuality.h"
#include "demod/QpskDecisionQuality.h"
#include "demod/SoftDemapper.h"
#include "demod/SymbolTap.h"

#include <algorithm>
#include <array>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

// What the framing reports from a block, in order.
struct FrameEvent {
    enum class Kind {
        HeaderRead,      // a PLS code was read (`locked`: while the lock held)
        InvalidModcod,   // a reserved MODCOD: the frame is skipped
        Locked,          // the 16th SOF where the last frame said ("LOCKED :)")
        LockLost,        // down to 7 ("LOCK has been lost :'(")
        SenseChanged,    // the spectrum sense was found the other way round
    };
    Kind kind;
    uint8_t plsCode;
    bool locked;
};

class FrameSynchroniser {
public:
    static constexpr int kFrameBytes = 64800;   // room for a normal frame's soft values
    enum class State { SofSearch, HeaderCode, DataSlots, PilotBlock, DummySlots };
    // Before lock an SOF candidate is taken when |Σ s·conj(reference)| over
    // its 26 symbols reaches this fraction of Σ |s|, or the same turned back
    // by the carrier the SOF shows reaches kSofFrequencyCoherence (a
    // frequency searched for fits some of the peaks of data and noise too).
    static constexpr float kSofCoherence = 0.6f;
    static constexpr float kSofMinimumLevel = 0.1f;   // mean |s| of such a candidate
    // Before lock two such SOFs in a row that agree set the loop's
    // frequency to the carrier they show, when it differs from the loop's
    // by more than this (1/256 cycle per symbol, 0.12 % of the symbol rate)
    // and three times the spread of their mean.
    static constexpr float kSofMinimumStep = 0.3f;
    // Headers found in place after which the loop counts as holding the carrier.
    static constexpr int kHeadersHoldingCarrier = 3;
    // Below this Es/N0 (dB) the loop counts as holding the carrier from the
    // first header found in place: there a single header's carrier reading
    // strays several of its spreads now and then (QPSK 1/4 at −2 dB: the
    // second header read 3.3 spreads off moved the loop that had just
    // decoded the first frame; with pilots it then settled a pilot period's
    // cycle, 1/1476 per symbol, off the carrier and every frame after was
    // lost). Not before any header is in place: a carrier far off, cut by
    // the matched filter, reads as low an Es/N0, and waiting there for a
    // second reading costs a frame.
    static constexpr double kOneHeaderHoldsBelowDb = 0.0;
    // A lone SOF moves the loop for the reading of its header only when the
    // two differ by more than this and three times the SOF's spread: nearer,
    // the header reads at the loop's carrier, and a single SOF read while
    // the timing settles may be that far off.
    static constexpr float kLoneSofStep = 1.0f;
    // ... and when it stands out that clearly.
    static constexpr float kSofFrequencyCoherence = 0.8f;
    // Below kSofCoherence down to this, a candidate is taken on trial: its
    // header must decode (a real SOF reads about 0.66 at Es/N0 −2 dB).
    static constexpr float kSofTentativeCoherence = 0.45f;

    FrameSynchroniser();

    // The fine carrier loop, which the framing drives with the phase error
    // of each field (the DVB-S path shares it), and the coarse acquisition
    // on the headers that sets its integrator before lock.
    CarrierLoop& carrierLoop() { return loop; }
    // The loop's integral gain on the data symbols of 8PSK frames; below 0
    // (the default): the loop's own. The phase detector squares 8PSK, which
    // doubles its gain and multiplies its noise, so near its threshold 8PSK
    // wants a slower integrator than QPSK.
    void setPsk8IntegralGain(float ki) { psk8Ki = ki; }
    float psk8IntegralGain() const { return psk8Ki; }
    const CarrierLoop& carrierLoop() const { return loop; }

    // One block: n input symbols (16-bit pairs as the resampler writes
    // them, scaled by `scale`, the spectrum inversion applied) through the
    // equalizer when it is on, to n symbols handed on (each the one
    // kHeaderDelay positions back, derotated, descrambled in the slots). A
    // frame whose code word is complete when the next header has been read
    // is copied to `frame`; the frames completed in the block go one after
    // the other from there, up to `frameCapacity` of them (each 64800 bytes
    // apart). Returns how many were written (a later one beyond the
    // capacity replaces the last).
    size_t process(const int16_t* in, size_t n, float scale, bool inverted, Equalizer& equalizer,
                   std::complex<float>* symbols, int8_t* frame, SymbolTap* tap, size_t frameCapacity = 1);
    // The frames written by the last process(), in order.
    struct DeliveredFrame {
        uint8_t plsCode;
        bool afterGap;
        // Where its SOF began, in symbols from the block's first (negative:
        // in an earlier block).
        int64_t startInBlock = 0;
    };
    const std::vector<DeliveredFrame>& blockFrames() const { return deliveredFrames; }

    // Events since the last call.
    std::vector<FrameEvent>& events() { return pending; }

    // The spectrum sense. Conjugating the signal (a mirrored spectrum: a
    // high-side oscillator, I and Q swapped) reverses the sign of every
    // differential product, so the SOF correlator peaks with the opposite
    // sign while no header reads. With automatic sense on, SOF peaks of
    // the reversed sign in runs of three a frame length apart, while no
    // lock is held, turn the sense over (on top of `inverted`).
    static constexpr int kSenseEvidence = 19;   // |Σ| of a clean SOF: 25
    static constexpr int kSensePeaks = 2;       // such runs, none of the set sense between
    void setAutomaticSense(bool on)
    {
        autoSense = on;
        if (!on)
            senseFlipped = false;
    }
    bool automaticSense() const { return autoSense; }
    // True when the sense found is the other way round from the one set.
    bool senseReversed() const { return senseFlipped; }

    // The carrier the loop follows, in cycles per symbol of the signal as
    // it reaches the framing (the loop runs on its mirror image where the
    // sense in use conjugates it): its integrator, the frequency it holds,
    // without the proportional path's symbol-to-symbol correction of the
    // phase (at 10 dB that alone swings it by ±0.05 % of the symbol rate).
    double carrierCycles() const { return loopSign() * double(loop.integrator) / 256; }
    // The mixer ahead has moved by `cycles` per symbol, which reaches the
    // symbols handed in `afterSymbols` from now (the filters' delay): the
    // loop steps by as much there, so its oscillator follows the carrier
    // through the move.
    // With `restart` the loop does not follow but starts again from the
    // mixer's new frequency (a move to a carrier the loop had not found).
    void shiftCarrier(double cycles, int afterSymbols, bool restart = false)
    {
        pendingShift = cycles;
        restartAtShift = restart;
        shiftCountdown = std::max(afterSymbols, 0) + kHeaderDelay;   // the symbols the loop is behind
    }

    // With keep-lock set the PLS code read is not taken (the MODCOD stays).
    void setKeepLock(bool on) { keepLock = on; }
    bool keepsLock() const { return keepLock; }

    int lockCounter() const { return lockCount; }
    bool locked() const { return isLocked; }
    uint8_t plsCode() const { return pls; }
    uint8_t deliveredPlsCode() const { return deliveredPls; }
    // Stream data was lost between the frame last delivered and the one
    // before it: frames missed (not found, unreadable or not demapped), or a
    // frame that did not start where its predecessor ended.
    bool deliveredAfterGap() const { return deliveredGap; }
    const ConstellationObject* constellation() const { return current; }

    // MER and Es/N0 on the symbols known while locked: the PLS code of each
    // header that reads cleanly, and the pilot blocks and dummy slots of its
    // frame; forgotten when the lock is lost. Where that has no reading but
    // the frames have been locked since the last clearing (the lock lost in
    // the noise, or regained and not yet measured), Es/N0 alone from the
    // moments of all symbols, unless the last data frames read were APSK;
    // where every frame read was QPSK (no pilots: 64 known symbols a frame,
    // a reading only after some 60 frames), MER too from the decisions on
    // all symbols, corrected for their bias.
    // Never before a lock: clipped noise, or a carrier of another kind, has
    // moments that may pass for a signal.
    SignalQualityReading signalQuality() const;
    // For scaling the frames' soft values: as signalQuality(), and from the
    // symbols' moments also before any frame lock was held (frames are
    // delivered below the level at which the lock holds); where those have
    // nothing yet, from the PLS codes of the headers read since the search
    // began.
    SignalQualityReading frameQuality() const;
    // The symbols' moments read as QPSK decisions, MER included, whatever
    // the framing holds: for a caller that knows the frames are QPSK
    // (decoded ones say so) before sixteen headers have made the lock.
    SignalQualityReading qpskSymbolQuality() const { return blind.qpskReading(); }
    void clearSignalQuality()
    {
        quality.clear();
        blind.clear();
        apskData = false;
        qpskSeen = false;
        otherSeen = false;
        framesHeld = isLocked;
    }

    // Off, every symbol takes the path that handles any of them, which
    // the locked frames' data otherwise bypass in runs: for comparing.
    void setDataRuns(bool on) { dataRuns = on; }

private:
    static inline std::complex<float> inputSymbol(const int16_t* in, float scale, bool negate);
    // Keeps the differential products of the symbol coming in; returns the
    // one kHeaderDelay back, now handled.
    inline std::complex<float> delay(std::complex<float> z);
    std::complex<float> push(std::complex<float> z);
    // How many symbols from the next on are data symbols of a locked frame
    // with nothing to do but the carrier loop and the soft decisions (0:
    // the next needs more), and that many through dataRun() at once.
    size_t dataRunLength() const;
    void dataRun(const int16_t* in, size_t length, float scale, bool negate, Equalizer& equalizer,
                 std::complex<float>* symbols);
    bool dataRuns = true;
    void runState(std::complex<float>& s, bool peak, bool hit);
    void sofSearchState(std::complex<float>& s, bool peak, bool hit);
    void alignPhaseWithSof();
    void chooseDataDetector();
    void estimateFromHeader(uint64_t codeWord);
    // The header symbols against the PLS code word `codeWord` (before the
    // scrambling): Σ s·conj(reference) and Σ |s|².
    void correlateHeader(uint64_t codeWord, std::complex<float>& correlation, float& power) const;
    void acquireFromSof(const CarrierAcquisition::SofReading& sof, bool coherent);
    struct SofCarrier {
        float frequency = 0;
        float spread = 0;
        bool valid = false;
    };
    SofCarrier lastSof;   // the last clear SOF's reading before lock
    // Before lock, the carriers the SOF just read shows (its own reading,
    // and its mean with the last one where the two agree): a header that
    // does not decode at the loop's carrier is read at these too.
    std::array<float, 2> sofCarriers{};
    int sofCarrierCount = 0;
    void readAtSofCarrier();
    // A lone SOF's carrier far from the loop's, or a pair's: the loop follows
    // its header from that carrier, and the header read at the loop's carrier
    // of before is compared; the reading nearer to a code word wins.
    struct LoneSof {
        float integrator = 0;   // the loop's, before the SOF's carrier was taken
        float frequency = 0;
        bool held = false;
    };
    LoneSof loneSof;
    // Before lock, at the end of a header read from a lone SOF's (or a
    // pair's) carrier: where the header's bits at the loop's carrier of
    // before lie nearer to a code word, they are taken and the loop goes
    // back; else, when the header decodes, the loop takes the carrier and
    // phase the whole header shows.
    void readAtLoneSofCarrier();
    // The loop takes the carrier and phase the whole header (its code word
    // `descrambled`) shows.
    void takeHeaderCarrier(uint64_t descrambled);
    bool sofMirrored = false;   // the SOF being checked fits the other sense better
    void headerState(std::complex<float>& s);
    void dataState(std::complex<float>& s);
    void pilotState(std::complex<float>& s);
    void dummyState(std::complex<float>& s);
    void storeHeaderSymbol(int position, std::complex<float> s)
    {
        if (position >= 0 && position < 64)
            headerSymbols[position] = s;
    }
    void measureHeader(uint64_t descrambled);
    // The lock from the header just read, whose frame began at `start`: up
    // for a header that decodes where the last frame ended, down for one
    // that does not decode. While locked, kUnexplainedHeaders in a row that
    // do not (their bits further from every code word than a header's at
    // the decoding threshold) drop the lock at once (letGo(); true).
    static constexpr int kUnexplainedHeaders = 2;
    bool followLock(uint64_t descrambled, int64_t start);
    // The header's bits lie within kMaxKnownHeaderErrors of a code word.
    static bool headerDecodes(uint64_t descrambled);
    bool tentativeSof = false;   // the header being read follows an SOF on trial
    // The frame being walked rests on its header alone: no header has yet
    // been read where the frame before it said. A header misread as
    // another code word (a carrier a quarter of the symbol rate off turns
    // one into another) would walk a frame of the wrong length, and the
    // search would miss the frames that follow it; so at each frame length
    // from its start the header correlator looks for the next PLHEADER,
    // and one that stands out there ends the walk and is checked as an SOF.
    bool walkOnTrial() const;
    void abandonWalkedFrame();
    void letGo();
    void expectSof();
    int unexplainedHeaders = 0;
    void measureKnown(std::complex<float> s, int last);
    inline std::complex<float> descramble(std::complex<float> s);
    // The data symbols' phase error, and their integral gain.
    inline float dataError(std::complex<float> s) const;
    float apskPhaseError(std::complex<float> s) const;
    float dataIntegralGain() const;
    bool deliverFrame();
    void followFrames(int64_t start);
    void passMissedSof();
    // The expectation moves a frame on: that frame's data is lost.
    void passFrameUnread();
    bool nearFrameStart(int64_t index) const;
    // The header just read began where the last frame said the next would.
    bool headerInPlace() const { return symbolIndex - 89 == nextFrameStart; }
    bool holdingCarrier(const SignalQualityReading& measured) const;
    void takeDataCarrier();
    void gain();
    void lose();

    CarrierLoop loop;
    float psk8Ki = -1.0f;
    // QPSK data symbols: the likelihood-weighted phase detector's slope, 0
    // for the hard one (above kSoftDetectorBelowDb, or nothing measured).
    // 8PSK: the weighted detector's c below kPsk8SoftDetectorBelowDb.
    static constexpr double kSoftDetectorBelowDb = 6.0;
    static constexpr double kPsk8SoftDetectorBelowDb = 10.0;
    float softness = 0;
    // The weighted detector's output is scaled up near the threshold.
    float detectorGain = 1.0f;
    // The loop's integral gain: halved unless the last header found the
    // signal strong (Es/N0 measured at kSoftDetectorBelowDb or more). Near
    // 0 dB the full gain lets the integrator wander with the noise: QPSK
    // 1/4 without pilots at −2.05 dB loses 5–8 of 58 frames with it, none
    // with half; searching, the SOF and the headers set the integrator.
    float integralGain() const { return strongSignal ? loop.ki() : 0.5f * loop.ki(); }
    // On QPSK data below kSoftDetectorBelowDb, once the headers hold, the
    // integrator takes a quarter of the loop's Ki (as 8PSK data take
    // theirs; before, it pulls in at half, from a header's reading a spread
    // off the carrier at 3 dB in a frame): at the threshold the
    // weighted detector's noise, scaled up to its slope, walked the
    // integrator off the carrier through the long frames without pilots
    // (QPSK 1/4 normal without pilots at −2.05 dB, 576 frames: at the half
    // the SOF and headers take, 9–11 lost; at the whole Ki, 70; with this
    // quarter, 1; an eighth, 1).
    static constexpr float kWeakQpskDataKi = 0.25f;
    // On 16APSK data the integrator takes a quarter of the loop's Ki at the
    // detector's full slope. The outer ring's decisions often err near the
    // threshold (points 30° apart): a narrower integrator averages over more
    // of them, while the proportional term keeps the phase. 16APSK 2/3
    // without pilots at 9.57 dB, 14 runs of 16 normal frames: 20 frames lost
    // after the first with the loop's whole Ki at a quarter of the slope, 6
    // this way, 18 with both at a quarter.
    static constexpr float kApsk16DataKi = 0.25f;
    bool strongSignal = false;
    // Before lock, on the data of a frame whose Es/N0 stands kWideningMarginDb
    // or more above its code's quasi-error-free point, the loop runs wider:
    // kp and Ki times `widening`. Its narrow gains hold no more than about
    // 0.05 (1/256 cycle per symbol) of the integrator off the carrier on
    // 8PSK data, less than the headers' first readings leave, and close the
    // rest only over frames; the margin pays for the wider loop's jitter.
    // The widening starts at kWidening and falls to none over the first
    // kWideningHeaders headers read in place. (Ki grows only as kp does:
    // as its square, the integrator wandered at the threshold, where the
    // first headers' Es/N0 can read a dB or two high.)
    static constexpr double kWideningMarginDb = 1.0;
    static constexpr float kWidening = 4.0f;
    static constexpr int kWideningHeaders = 8;
    float widening = 1.0f;
    // The oscillator stood half a constellation step or more off the last
    // SOF's phase after the frame before it, before lock: the loop did not
    // hold the carrier through that frame's data.
    bool loopDrifted = false;
    // Signal and noise power of the PLS codes read before the lock.
    float headerSignal = 0;
    float headerNoise = 0;
    int headerEstimates = 0;
    CarrierAcquisition acquisition;
    SoftDemapper demapper;
    KnownSymbolQuality quality;
    ConstantModulusQuality blind;
    std::vector<FrameEvent> pending;
    // Of the block being processed: where symbols are shown, where a frame
    // goes, whether one went.
    SymbolTap* blockTap = nullptr;
    int8_t* frameOut = nullptr;
    size_t frameCapacity = 1;
    std::vector<DeliveredFrame> deliveredFrames;
    bool keepLock = false;
    bool conjugating = false;   // of the last block
    // The loop turns with the carrier where the symbols arrive conjugated:
    // the resampler hands them on with I and Q swapped.
    double loopSign() const { return conjugating ? 1.0 : -1.0; }
    double pendingShift = 0;
    bool restartAtShift = false;
    int shiftCountdown = 0;
    void applyShift();
    bool autoSense = true;
    bool senseFlipped = false;
    int reversedPeaks = 0;
    struct StrongPeak {
        int64_t index = -1000000;
        int sign = 0;
    };
    std::array<StrongPeak, 32> strongPeaks{};
    size_t strongPeakNext = 0;
    void followSense(int sum);

    State state = State::SofSearch;
    int lockCount = 0;
    bool isLocked = false;
    bool sofSearch = true;
    uint8_t pls = 0;
    uint8_t deliveredPls = 0;
    bool deliveredGap = true;
    uint8_t dataPls = 0;
    int dataPlsRun = 0;   // data headers in a row that decoded cleanly to dataPls (at most 2)
    const ConstellationObject* current = nullptr;

    std::complex<float> previous{};
    std::complex<float> raw{};   // the symbol being handled, before the oscillator
    // The framing handles each symbol this many after it came in, so that a
    // PLHEADER has come in whole when its first symbol is handled.
    static constexpr int kHeaderDelay = 89;
    unsigned __int128 diffSigns = 0;   // sign bits of Im(d), bit 0 the newest product
    std::complex<float> diffRing[128] = {};   // the products d, the newest at diffPos − 1
    int diffPos = 0;
    double diffPower = 0;        // Σ |d|² over d[k−88] … d[k]
    float headerMetric();
    float coherentSofMetric();
    void turnSofReferences(float frequency);
    // The SOF's symbols turned by a frequency, for coherentSofMetric().
    struct TurnedSofSymbol {
        float senseRe, senseIm, mirrorRe, mirrorIm;
    };
    std::array<TurnedSofSymbol, 26> sofTurned{};
    float sofTurnFrequency = 0;
    bool sofTurnValid = false;
    static constexpr float kSofTurnStep = 0.01f;   // 1/256 cycle per symbol
    std::complex<float> delayRing[kHeaderDelay + 1] = {};
    int ringPos = 0;
    float peakHistory[32] = {};
    float peakSum = 0;
    float softPeakHistory[32] = {};
    float softPeakSum = 0;
    bool countPeak = false;          // the sign count peaked on this symbol
    bool candidateByCount = false;   // ... on the SOF candidate being checked
    float softStrength = 0;          // the soft correlator on this symbol
    float candidateStrength = 0;     // ... on the candidate being checked
    bool candidateOpen = false;      // a candidate is being checked before lock
    bool sofAccepted = false;        // the SOF being checked came from a peak
    int peakIndex = 0;
    int32_t symbolCounter = 0;
    // Which frame lengths the counter has passed; 16: all of them, when the
    // next SOF candidate is taken wherever it comes (a cold start).
    int32_t lengthIndex = 16;
    // The frame timing before the SOF candidate now being checked, restored
    // when the candidate turns out not to be an SOF.
    int32_t timingCounter = 0;
    int32_t timingLengthIndex = 16;
    int32_t fieldPos = 0;
    int32_t slotInPeriod = 0;
    int32_t slotInFrame = 0;
    int32_t pilotBlocks = 0;
    uint32_t sofRegister = 0;
    std::complex<float> sofPhase{};      // Σ s·conj(reference) over the SOF so far
    float sofMagnitude = 0;              // Σ |s| before the oscillator
    uint64_t headerRegister = 0;
    // The PLS code symbols of the header being read, at the loop's phase.
    std::complex<float> headerSymbols[64] = {};
    // The frame's header read cleanly while locked: its pilot blocks and
    // dummy slots are known. Sums over the field of them being received.
    bool frameKnown = false;
    bool apskData = false;   // the last data frames read while locked were APSK
    // Since the quality was last cleared, data frames read while locked
    // were QPSK, and none were of another kind.
    bool qpskSeen = false;
    bool otherSeen = false;
    float apskPower = 1.0f;  // mean |s|² of the APSK data symbols
    bool framesHeld = false; // locked since the quality was last cleared
    std::complex<float> knownSum{};
    float knownPower = 0;
    uint8_t framePls = 0;                // the code of the frame being received
    int64_t frameStart = 0;              // the symbol its SOF began at
    int32_t descramblerIndex = 0;
    int dataSlots = 0;                   // slots of the frame being received

    // Continuity of the frames: symbols handled since the start, where the
    // next frame would start if none is lost (−1: not known), whether data
    // was lost since the last delivered frame, and whether the frame being
    // received follows such a loss.
    int64_t symbolIndex = 0;
    int64_t blockStart = 0;              // symbolIndex at the block's first symbol
    int64_t nextFrameStart = -1;
    DataCarrierReading dataCarrier;           // before lock, the carrier each frame's data shows
    bool movedInHeader = false;          // the mixer moved while an SOF or header was read
    int32_t walkedLength = 0;            // the last frame read's length
    int walkedHeaderErrors = 0;          // and its header's bit errors
    int32_t framesPassed = 0;            // frames since it whose SOF was missed
    bool dataLost = false;
    bool frameAfterGap = true;

    // The constellations compared by identity, looked up once.
    const ConstellationObject* const qpsk = &constQPSK();
    const ConstellationObject* const psk8 = &const8PSK();
    const ConstellationObject* const apsk16 = &const16APSK();
    const ConstellationObject* const apsk32 = &const32APSK();
    const std::array<float, 256>& sineTable = demodSineTable();
    const uint8_t* const scrambling;
};
