// The receiver's processing chain: the buffer pool, the workers and how
// samples travel between them. GUI-free: the window, the headless tools and
// the tests each own one.
#pragma once

#include "core/BufferAllocator.h"
#include "demod/DemodWorker.h"
#include "devices/InputDevice.h"
#include "dsp/BandCentre.h"
#include "dsp/BasebandWorker.h"
#include "dsp/FFTWorker.h"
#include "dsp/FIRWorker.h"
#include "dsp/ResampleWorker.h"
#include "dsp/RecentTransforms.h"
#include "dsp/SpectrumAverager.h"
#include "fec/FrameSequencer.h"
#include "fec/FrameTag.h"
#include "fec/LDPCWorker.h"
#include "fec/ViterbiWorker.h"
#include "receiver/BlockOrigins.h"
#include "receiver/CarrierCentring.h"
#include "receiver/DvbsDecoding.h"
#include "receiver/FrameCountdown.h"
#include "receiver/ReceptionWatch.h"
#include "stream/BbFrameProcessor.h"
#include "stream/GseParser.h"
#include "stream/SdtMonitor.h"
#include "stream/TsBlockAssembler.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Device samples are gathered into blocks of 16384; each block goes as a float
// copy to the spectrum and as it is to baseband → matched filter → resampler
// → (demodulator and decoders). Every stage's completion callback releases
// what it consumed and queues its output with a fresh buffer at the next
// stage; when the pool runs dry the block is dropped and its buffers released.
class ProcessingChain {
public:
    static constexpr int kBlockSamples = 16384;
    static constexpr size_t kRawBlockBytes = kBlockSamples * 4;      // I, Q as int16
    static constexpr size_t kFloatBlockBytes = kBlockSamples * 8;    // I, Q as float

    // Creates the pool ("Initializing 32768 work-queue buffers...") and the
    // workers; no thread runs yet.
    ProcessingChain();
    // Stops the workers if still running, gives back the partly filled block;
    // the pool, destroyed last, reports buffers still in use.
    ~ProcessingChain();
    ProcessingChain(const ProcessingChain&) = delete;
    ProcessingChain& operator=(const ProcessingChain&) = delete;

    // Creates the LDPC decoders (count < 1: hardware threads / 2 + 1) and
    // registers them after the other workers. Call once, before start().
    void createLdpcWorkers(int count);
    // The LDPC decoding of every worker, now and created later (scaled by default).
    void setLdpcDecoder(LdpcDecoderChoice choice);
    LdpcDecoderChoice ldpcDecoder() const { return ldpcChoice; }

    // "Starting Worker Threads... ", then each worker in registration order,
    // `beforeStart` first (the window adds its statistics row there).
    void start(const std::function<void(Worker&)>& beforeStart = {});
    // "Stopping worker threads... ", each worker stopped and joined in
    // registration order (`beforeStop` first), "All worker threads have been stopped.".
    void stop(const std::function<void(Worker&)>& beforeStop = {});

    // Waits until every buffer is back but the block being filled (the
    // chain has worked through what it was given), or until the time is up.
    // True when idle.
    bool waitIdle(std::chrono::milliseconds timeout);
    // The input has ended (call once the chain is idle): the last packet,
    // held until the next one's CRC-8 could check it, is handed on.
    void endOfStream();
    // The part block gathered so far goes down the chain filled up with
    // silence, so that the last samples of an input are decoded; the sample
    // observer (a recording) sees only the samples that were received.
    void flushPartialBlock();

    // The carrier's offset from the device's centre, in cycles per sample:
    // where the mixer stands (set, or moved to follow the carrier) plus
    // where the carrier loop stands from there (DVB-S2). Any thread.
    double carrierOffset();
    // Moves the mixer by `cyclesPerSymbol` and the carrier loop back by as
    // much where the move reaches it, as the centring does (with
    // `restartLoop`, the loop starts again from the mixer's new frequency
    // there); false while an earlier move is still on its way.
    bool moveCarrier(double cyclesPerSymbol, bool restartLoop = false);
    // DVB-S2: move the mixer to the carrier the framing finds (on by default).
    void setCarrierCentring(bool on) { centring.setEnabled(on); }
    bool carrierCentring() const { return centring.enabled(); }

    // Frames (DVB-S2) or packets (DVB-S) decoding now; any thread.
    bool receiving() const { return reception.receiving(dvbS2Mode()); }
    // Why not, in a few words for a status line: "no input for 6 s" (see
    // inputStalledFor), "no signal" (no frame or packet found), "frames
    // failing" (DVB-S2 frames found but not decoded); empty while receiving.
    std::string receptionProblem() const;
    // How long no sample has arrived while the chain waited for them:
    // zero while they come (or the input is held back because the chain is
    // behind), and before the first one.
    std::chrono::steady_clock::duration inputStalledFor() const;

    // The one callback for every device, for the chain's lifetime. Call it
    // from one thread at a time (the device's delivery thread).
    SampleCallback& sampleCallback() { return callback; }
    // The same samples a run at a time (radios that convert whole buffers);
    // gathered into the same blocks as sample by sample.
    SampleBlockCallback& blockCallback() { return blockInput; }
    void pushSamples(const int16_t* iq, size_t count);

    // Samples taken into blocks so far (the count a frame's `inputSample`
    // and the sample observer use). Any thread.
    uint64_t inputSamples() const { return samplesTaken.load(std::memory_order_relaxed); }
    // Where the block the demodulator took last began, in the same count:
    // how far the signal has been demodulated. Any thread.
    uint64_t demodulatedSamples() const { return demodulatedOrigin.load(std::memory_order_relaxed); }
    // Off: the samples go to the observers alone and no stage runs
    // (a band scan's survey); on by default. Any thread.
    void setDecodingInput(bool on) { decodingInput.store(on, std::memory_order_relaxed); }

    BufferAllocator& pool() { return bufferPool; }
    // Pool buffers in use above which an input that can wait (a file, a TCP
    // stream under flow control) should pause: the chain is behind.
    static constexpr int kInputHighWater = 48;
    // The same while nothing is being received: a mixer move made to reach
    // the carrier then reaches the framing a few blocks later rather than
    // after a whole high water of them.
    static constexpr int kAcquiringHighWater = 10;
    // While acquiring, also not while the spectrum is more than a block
    // behind: the band it shows moves the mixer, and a move read from an
    // old block lands blocks late, however far the rest of the chain ran
    // ahead. (One block in hand keeps the input from waiting on the
    // spectrum's thread at every block.)
    static constexpr int kSpectrumBlocksBehind = 1;
    bool readyForInput() const
    {
        if (receiving())
            return bufferPool.allocatedCount() <= kInputHighWater;
        return bufferPool.allocatedCount() <= kAcquiringHighWater &&
               spectrumPending.load(std::memory_order_acquire) <= kSpectrumBlocksBehind;
    }
    // Blocks of samples, symbols or frames dropped because the pool ran dry
    // (the spectrum's copies not counted); any thread.
    uint64_t droppedBlocks() const { return dropped.load(std::memory_order_relaxed); }
    // Samples taken in with a component at or within 1/128 of full scale
    // (the top step of 8-bit input): the input is clipping, its gain is
    // too high. Any thread.
    static constexpr int16_t kClipLevel = 32512;
    uint64_t clippedSamples() const { return clipped.load(std::memory_order_relaxed); }
    // DVB-S2 multiple input streams: the ISI to pass on (−1: the first one
    // seen), the one passed (−1: none yet) and the streams seen.
    void selectInputStream(int isi) { bbFrames.selectInputStream(isi); }
    int inputStream() const { return bbFrames.inputStream(); }
    std::vector<BbFrameProcessor::InputStream> inputStreams() { return bbFrames.inputStreams(); }
    // DVB-S2 transport-stream packets handed on with the transport error
    // indicator set: their CRC-8 failed, or their frame failed decoding.
    uint64_t packetCrcFailures() const { return bbFrames.packetCrcFailures(); }
    uint64_t packetsFromFailedFrames() const { return bbFrames.packetsFromFailedFrames(); }
    // SDT sections not read because their CRC-32 failed.
    uint64_t sdtCrcFailures() const { return sdt.sectionCrcFailures(); }
    // GSE PDUs dropped because their CRC-32 failed.
    uint64_t gseCrcFailures() const { return gse.crcFailures(); }
    // The outer BCH decoding of the released DVB-S2 frames: bits corrected,
    // and frames with more errors than it corrects; any thread.
    uint64_t bchCorrectedBits() const { return bchCorrected.load(std::memory_order_relaxed); }
    uint64_t bchFailures() const { return bchFailed.load(std::memory_order_relaxed); }
    // The PLS code of the last DVB-S2 frame that decoded (LDPC, and BCH
    // where it ran), −1 before the first: what the stream is known to carry,
    // unlike a header read from noise. Any thread.
    int lastDecodedPlsCode() const { return lastDecodedPls.load(std::memory_order_relaxed); }
    // The code to name as the signal's now: while `receiving` (frames
    // decode), that of the last frame that decoded; −1: none.
    int currentPlsCode(bool receiving) const { return receiving ? lastDecodedPlsCode() : -1; }
    FFTWorker& fftWorker() { return fft; }
    BasebandWorker& basebandWorker() { return baseband; }
    FIRWorker& firWorker() { return fir; }
    ResampleWorker& resampleWorker() { return resample; }
    DemodWorker& demodWorker() { return demod; }
    ViterbiWorker& viterbiWorker() { return viterbi; }
    // DVB-S sync, deinterleaving, Reed–Solomon and descrambling, and the
    // automatic rotation and depuncturing alignment (off unless enabled; its
    // turn is made in the Viterbi decoder, on top of the derotation slider),
    // run by the Viterbi worker's completion; the packets go to the
    // transport-stream observer like the DVB-S2 ones.
    DvbsDecoding& dvbsDecoding() { return dvbs; }
    const DvbsDecoding& dvbsDecoding() const { return dvbs; }
    const std::vector<std::unique_ptr<LDPCWorker>>& ldpcWorkers() const { return ldpc; }
    // The debug traces of the stream layer: the GSE packets of the next 64
    // frames, the SDT packets, sections and descriptors while on.
    void startGseTrace() { gseTrace.arm(kGseTraceFrames); }
    int gseTraceFramesLeft() const { return gseTrace.framesLeft(); }
    void setSdtTrace(bool on) { sdtTrace.store(on); }
    // Registration order: FFT, baseband, matched filter, resampler,
    // demodulator, Viterbi decoder, then the LDPC decoders.
    const std::vector<Worker*>& workers() const { return workerList; }

    // Gain of the spectrum copy: 32768 / spectrum gain.
    void setFftScale(float scale) { fftScale.store(scale, std::memory_order_relaxed); }
    // True: demodulator output to the LDPC decoders; false: to the Viterbi decoder.
    void setDvbS2Mode(bool on)
    {
        if (dvbS2.exchange(on) != on)
            reception.reset();
    }
    bool dvbS2Mode() const { return dvbS2.load(); }

    // Spectrum size N (256 … 8192): the accumulator keeps its first values.
    void setFftSize(int n);
    int fftSize();
    // The accumulated spectrum averaged over its chunks, bin N/2 at zero
    // frequency, once more than 15 chunks are in; the accumulator is then
    // cleared. False (and `average` untouched) before that.
    bool takeSpectrum(std::vector<float>& average);
    void clearSpectrum();
    // Whether a display reads the spectrum (the default). Without one it is
    // computed only while the band search may use it: DVB-S2, centring on,
    // neither receiving nor locked.
    void setSpectrumShown(bool shown) { spectrumShown.store(shown, std::memory_order_relaxed); }

    // Sees every block of symbols the demodulator took in (the resampler's
    // output, components swapped), on the demodulator's thread.
    void setSymbolObserver(std::function<void(const WorkBuffer&)> observer);
    // Sees every full block of device samples (16384 × int16 I, Q), as the
    // device delivered them, on the device's thread, with the number of
    // samples the chain took before it (the frames' `inputSample` counts
    // the same way; blocks dropped for want of a buffer are not counted).
    using SampleBlockObserver = std::function<void(const WorkBuffer&, uint64_t origin)>;
    void setSampleBlockObserver(SampleBlockObserver observer);
    // The same blocks for a look at the band (a scan's survey, a symbol-rate
    // measurement); unlike the observer above it may be set and cleared
    // while samples flow. Any thread.
    void setSurveyObserver(SampleBlockObserver observer);
    // Sees every completed DVB-S2 XFECFRAME (64800 soft values, the first
    // 16200 for short frames) with its own PLS code, before it is decoded.
    using FrameObserver = std::function<void(const int8_t* frame, uint8_t plsCode)>;
    void setFrameObserver(FrameObserver observer);

    // The outputs of the stream layer, called in transmission order on the
    // thread that releases the frames: transport-stream blocks of 1316
    // bytes, GSE PDUs, the roll-off of each decoded frame's BBHEADER, and the
    // service list of each complete SDT. Set before start().
    using BytesObserver = std::function<void(const uint8_t* bytes, size_t length)>;
    void setTransportStreamObserver(BytesObserver observer) { tsObserver = std::move(observer); }
    void setGsePduObserver(BytesObserver observer) { gseObserver = std::move(observer); }
    void setRollOffObserver(std::function<void(float)> observer) { rollOffObserver = std::move(observer); }
    void setServiceListObserver(SdtMonitor::Publisher observer) { serviceObserver = std::move(observer); }
    // The tag of every released frame (its code, the LDPC result: passes
    // left, −1 when not decoded), in transmission order.
    void setFrameResultObserver(std::function<void(const FrameTag&)> observer) { resultObserver = std::move(observer); }

    // The symbol rate in symbols per device sample (the mixer's unit), from
    // the resampler's nominal step and the decimation.
    double symbolsPerInputSample();
    // The same from the step the timing loop tracks: the symbol rate measured.
    double trackedSymbolsPerInputSample();

private:
    BbFrameProcessor::Hooks streamHooks();
    void followSdtTrace();
    void onSample(int16_t i, int16_t q);
    // handOn() that counts what it drops; false when dropped.
    bool forward(Worker& next, WorkBuffer* data, size_t outputSize);
    int filterDelaySymbols();
    // After each demodulated block: moves the mixer to the carrier when the
    // loop stands far off.
    void followCarrier();
    void onBlockFull(bool observed = true);
    // The block is full: handed on (or counted as dropped without a
    // buffer), and a buffer for the next one tried.
    void nextBlock();
    // DVB-S: the alignment search tried every turn without sync.
    void turnDvbsSenseOver();
    void accumulateSpectrum(const WorkBuffer& transform);
    void onDemodulated(WorkBuffer* symbols, WorkBuffer* output);
    void onViterbiDecoded(WorkBuffer* symbols, WorkBuffer* bytes);
    void dispatchFrame(WorkBuffer* output, size_t frameOffset, const FrameSynchroniser::DeliveredFrame& info,
                       int64_t inputSample);
    // The input sample at `symbol` of the block just demodulated (negative:
    // of the blocks before it); −1 when not known.
    int64_t inputSampleAt(int64_t symbol);
    // The last blocks demodulated (demodulator's thread), newest first: where
    // each began in the input and how many symbols it held.
    struct DemodulatedBlock {
        std::optional<uint64_t> origin;
        int64_t symbols;
    };
    // Blocks enough to hold kRecentSymbols (two longest frames and then
    // some), and at least kRecentBlocks: a narrow carrier's blocks hold a
    // few dozen symbols each.
    static constexpr size_t kRecentBlocks = 512;
    static constexpr int64_t kRecentSymbols = 131072;
    std::deque<DemodulatedBlock> recentBlocks;
    int64_t recentSymbols = 0;
    // The samples per symbol over the last kRateSymbols or so of those.
    static constexpr int64_t kRateSymbols = 32768;
    double recentSamplesPerSymbol();
    void releaseFrame(WorkBuffer* frame, WorkBuffer* tag);

    BufferAllocator bufferPool;   // first: outlives every worker
    FFTWorker fft;
    BasebandWorker baseband;
    FIRWorker fir;
    ResampleWorker resample;
    DemodWorker demod;
    ViterbiWorker viterbi;
    std::vector<std::unique_ptr<LDPCWorker>> ldpc;
    LdpcDecoderChoice ldpcChoice = LdpcDecoderChoice::Scaled;
    std::vector<Worker*> workerList;

    // The DVB-S2 stream layer, run in transmission order under the
    // sequencer's frameOrderMutex.
    FrameSequencer sequencer;
    BbFrameProcessor bbFrames;
    TsBlockAssembler tsBlocks;
    GseParser gse;
    SdtMonitor sdt;
    // The DVB-S stream layer, on the Viterbi worker's thread.
    DvbsDecoding dvbs;
    static constexpr int kGseTraceFrames = 64;
    FrameCountdown gseTrace;
    bool gseTracing = false;   // on the releasing thread, under the frame order
    std::atomic<bool> sdtTrace{false};
    bool sdtTracing = false;   // on the thread that writes blocks
    BytesObserver tsObserver;
    BytesObserver gseObserver;
    std::function<void(float)> rollOffObserver;
    SdtMonitor::Publisher serviceObserver;
    std::function<void(const FrameTag&)> resultObserver;
    bool running = false;

    // A frame was dropped at dispatch (no pool buffer): the next one follows a gap.
    bool frameDropped = false;
    std::atomic<uint64_t> dropped{0};
    std::atomic<int> spectrumPending{0};   // blocks handed to the FFT, not yet read
    std::atomic<bool> spectrumShown{true};
    bool spectrumPaused = false;   // input thread: the last block went without a spectrum
    bool spectrumWanted();
    std::atomic<uint64_t> clipped{0};
    std::atomic<uint64_t> bchCorrected{0};
    std::atomic<uint64_t> bchFailed{0};
    std::atomic<int> lastDecodedPls{-1};
    std::atomic<int> framePasses{32};   // the pass budget of the frame the stream layer is reading

    WorkBuffer* rawBuffer = nullptr;
    int32_t rawCount = 0;
    std::atomic<uint64_t> samplesTaken{0};   // written on the input thread: samples in the blocks handed on
    std::atomic<bool> decodingInput{true};
    std::atomic<uint64_t> demodulatedOrigin{0};
    BlockOrigins origins;
    void passed(const WorkBuffer* from, const WorkBuffer* to);
    std::atomic<float> fftScale{32768.0f};
    std::atomic<bool> dvbS2{true};
    ReceptionWatch reception;
    CarrierCentring centring;
    SampleCallback callback;
    SampleBlockCallback blockInput;

    std::mutex spectrumMutex;   // the FFT worker adds, the window takes
    SpectrumAverager spectrum;
    // The same for finding the band before the framing does, on the FFT
    // worker's thread: within this fraction of the symbol rate of the mixer.
    // An estimate after each transform (one per block of samples: 8 ms at
    // 2 Msps), from the mean of the last kBandTransforms: one alone strays
    // by 2–3 % of the symbol rate at Es/N0 3 dB.
    static constexpr double kBandSearch = 0.3;
    static constexpr double kBandAgreement = 0.02;
    static constexpr double kBandLimit = 0.1;   // cycles per symbol
    static constexpr double kBandMinimumLevel = 0.3;
    static constexpr double kBandClearLevel = 3;   // Es/N0 about 5.5 dB
    static constexpr double kBandBins = 4;   // moves smaller than this many bins are left alone
    static constexpr int kBandTransforms = 4;
    static constexpr double kBandFineBins = 256;   // a band this many bins wide reads its centre finely
    SpectrumAverager bandSpectrum;
    RecentTransforms recentBands{kBandTransforms};
    uint64_t bandTransforms = 0;   // transforms added to recentBands
    BandConfirmation bandConfirmation{kBandTransforms};
    std::vector<float> bandTransform;
    std::vector<float> bandAverage;
    void centreOnBand();

    static constexpr size_t kFollowSymbols = 256;
    size_t followedSymbols = kFollowSymbols;   // demodulator thread
    SampleBlockObserver sampleBlockObserver;
    std::mutex surveyMutex;
    SampleBlockObserver surveyObserver;
    void showBlock(uint64_t origin);
    std::function<void(const WorkBuffer&)> symbolObserver;
    FrameObserver frameObserver;
};
