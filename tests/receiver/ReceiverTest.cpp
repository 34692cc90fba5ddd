// The receiver as the window and the headless receiver drive it: every
// operation reaches the workers it concerns, and the rules tying settings
// together (the symbol rate's limit, DVB-S's one roll-off) hold whichever
// face asks.
#include "receiver/Receiver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

namespace {

// The resampler's step at a device rate and a decimation (the matched
// filter interpolates by two).
int64_t stepFor(double symbolRate, uint64_t sampleRate, int decimation)
{
    return 2 * int64_t(std::floor(symbolRate * 4294967296.0 / (2.0 * std::ldexp(double(sampleRate), -decimation))));
}

} // namespace

// The classic profile is the workers' own start, so the window runs what a
// bare chain would; the tuned one differs from it where the threshold asks.
TEST(Receiver, ProfilesAreWhatTheyName)
{
    ProcessingChain bare;
    const DemodControls own = bare.demodWorker().controls();
    Receiver classic(settingsFor(ReceiverProfile::Classic));
    const DemodControls c = classic.chain().demodWorker().controls();
    EXPECT_EQ(c.carrierLoop, own.carrierLoop);
    EXPECT_EQ(c.carrierKp, own.carrierKp);
    EXPECT_EQ(c.carrierKi, own.carrierKi);
    EXPECT_EQ(c.carrierKi8psk, own.carrierKi8psk);
    EXPECT_EQ(c.equalizerMode, own.equalizerMode);
    EXPECT_EQ(c.equalizerLength, own.equalizerLength);
    EXPECT_EQ(classic.chain().resampleWorker().gainShift(), bare.resampleWorker().gainShift());
    EXPECT_EQ(classic.chain().resampleWorker().dampingShift(), bare.resampleWorker().dampingShift());

    Receiver tuned(settingsFor(ReceiverProfile::Tuned));
    const DemodControls t = tuned.chain().demodWorker().controls();
    EXPECT_TRUE(t.carrierLoop);
    EXPECT_EQ(t.carrierKi, 2.0f / 2048.0f);
    EXPECT_EQ(t.equalizerMode, EqualizerMode::Off);
    EXPECT_EQ(tuned.chain().resampleWorker().gainShift(), 6);
}

// Sample rate, decimation and symbol rate make the resampler's step
// together: a change of any one is applied with the others, and a rate the
// samples cannot carry is brought in and said.
TEST(Receiver, TheFrontFollowsEveryRateAndTheDecimation)
{
    Receiver r(settingsFor(ReceiverProfile::Tuned));
    EXPECT_EQ(r.setFront(2000000, 0, 300000), "");
    EXPECT_EQ(r.chain().resampleWorker().nominalStep(), stepFor(300000, 2000000, 0));
    EXPECT_EQ(r.setFront(2000000, 1, 300000), "");
    EXPECT_EQ(r.settings().decimation, 1);
    EXPECT_EQ(r.chain().resampleWorker().nominalStep(), stepFor(300000, 2000000, 1));
    EXPECT_EQ(r.setSymbolRate(125000), "");
    EXPECT_EQ(r.chain().resampleWorker().nominalStep(), stepFor(125000, 2000000, 1));

    const std::string said = r.setSymbolRate(1000000);
    EXPECT_NE(said.find("using 740740 sym/s"), std::string::npos) << said;
    EXPECT_EQ(r.settings().symbolRate, 740740);
    EXPECT_EQ(r.chain().resampleWorker().nominalStep(), stepFor(740740, 2000000, 1));
    EXPECT_GT(r.chain().resampleWorker().nominalStep(), 0);

    r.setFilterTaps(128);
    EXPECT_EQ(r.chain().firWorker().tapCount(), 128);

    // Automatic: the baseband stage decimates as the rates ask, and the
    // step and the carrier's units follow.
    EXPECT_EQ(r.setFront(2400000, kAutoDecimation, 33000), "");
    EXPECT_EQ(r.settings().decimation, kAutoDecimation);
    EXPECT_EQ(r.chain().basebandWorker().decimation(), 4);
    EXPECT_EQ(r.chain().resampleWorker().nominalStep(), stepFor(33000, 2400000, 4));
    EXPECT_NEAR(r.chain().symbolsPerInputSample(), 33000.0 / 2400000.0, 1e-9);
    EXPECT_EQ(r.setSymbolRate(1000000), "");
    EXPECT_EQ(r.chain().basebandWorker().decimation(), 0);
}

// DVB-S has one roll-off: switching to it redesigns the filter for 0.35
// and tells the listener; its decoding settings go with it.
TEST(Receiver, SwitchingToDvbsTakesItsRollOffAndDecoding)
{
    ReceiverSettings s = settingsFor(ReceiverProfile::Tuned);
    s.rollOff = 0.20f;
    Receiver r(s);
    float heard = 0;
    r.setRollOffListener([&](float value) { heard = value; });
    r.setCodeRate(CodeRate::R3_4);
    r.setStandard(Standard::DvbS);
    EXPECT_FALSE(r.settings().dvbS2());
    EXPECT_FALSE(r.chain().demodWorker().controls().dvbS2);
    EXPECT_EQ(r.settings().rollOff, 0.35f);
    EXPECT_EQ(r.chain().firWorker().rollOff(), 0.35f);
    EXPECT_EQ(heard, 0.35f);
    EXPECT_STREQ(ViterbiDecoder::rateName(r.chain().viterbiWorker().rateType()), "FEC 3/4");

    // A BBHEADER's roll-off has no say in DVB-S.
    EXPECT_FALSE(r.applyRollOff(0.25f));
    EXPECT_EQ(r.chain().firWorker().rollOff(), 0.35f);
}

// The stream's roll-off, reported on a stage's thread, reaches the settings
// and the listener on the owner's, once.
TEST(Receiver, TheStreamsRollOffReachesTheOwnerOnce)
{
    Receiver r(settingsFor(ReceiverProfile::Tuned));
    int calls = 0;
    float heard = 0;
    r.setRollOffListener([&](float value) {
        ++calls;
        heard = value;
    });
    std::thread stage([report = r.rollOffReporter()] { report(0.25f); });
    stage.join();
    EXPECT_EQ(r.settings().rollOff, 0.35f) << "not before the owner follows";
    r.followRollOff();
    r.followRollOff();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(heard, 0.25f);
    EXPECT_EQ(r.settings().rollOff, 0.25f);
    EXPECT_EQ(r.chain().firWorker().rollOff(), 0.25f);
}

// Each control reaches its worker and is kept in the settings.
TEST(Receiver, LoopAndEqualizerControlsReachTheDemodulator)
{
    Receiver r(settingsFor(ReceiverProfile::Classic));
    r.setCarrierLoop(true);
    r.setCarrierKp(0.25f);
    r.setCarrierKi(1.0f / 1024);
    r.setEqualizer(EqualizerMode::DecisionDirected);
    r.setEqualizerTaps(32);
    r.setSpectrumSense(false, false);
    r.setTimingLoop(5, 13);
    const DemodControls c = r.chain().demodWorker().controls();
    EXPECT_TRUE(c.carrierLoop);
    EXPECT_EQ(c.carrierKp, 0.25f);
    EXPECT_EQ(c.carrierKi, 1.0f / 1024);
    EXPECT_EQ(c.equalizerMode, EqualizerMode::DecisionDirected);
    EXPECT_EQ(c.equalizerLength, 32);
    EXPECT_FALSE(c.spectrumAutomatic);
    EXPECT_FALSE(c.spectrumInverted);
    EXPECT_EQ(r.chain().resampleWorker().gainShift(), 5);
    EXPECT_EQ(r.chain().resampleWorker().dampingShift(), 13);
    EXPECT_TRUE(r.settings().carrierLoop);
    EXPECT_EQ(r.settings().equalizer, EqualizerMode::DecisionDirected);
    EXPECT_EQ(r.settings().equalizerTaps, 32);

    // "Auto" starts from the standard's sense.
    r.setSpectrumSense(true, false);
    EXPECT_TRUE(r.chain().demodWorker().controls().spectrumInverted);
}
