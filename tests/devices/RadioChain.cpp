#include "tests/devices/RadioChain.h"

#include "receiver/ProcessingChain.h"
#include "receiver/ReceiverSettings.h"
#include "tests/TestSupport.h"

#include <mutex>

std::vector<uint8_t> transmitterSamples(const std::string& format, uint64_t sampleRate, const std::string& ts,
                                        int frames)
{
    const std::string out = testsupport::tempPath("radio_" + format + ".iq");
    const testsupport::ToolRun tx = testsupport::runTool(
        TAVIREL_SIGGEN, "--modcod \"QPSK 1/2\" --pilots on --esn0 12 --format " + format + " --sample-rate " +
                            std::to_string(sampleRate) + " --ts " + ts + " --frames " + std::to_string(frames) +
                            " --output " + out);
    EXPECT_EQ(tx.exitCode, 0) << tx.err;
    return testsupport::readFile(out);
}

std::vector<uint8_t> receiveThroughChain(InputDevice& device, uint64_t sampleRate, bool inRuns,
                                         const std::function<bool()>& delivered)
{
    ProcessingChain chain;
    chain.createLdpcWorkers(2);
    ReceiverSettings settings;
    settings.sampleRate = sampleRate;
    applyReceiverSettings(chain, settings);
    std::mutex mutex;
    std::vector<uint8_t> ts;
    chain.setTransportStreamObserver([&](const uint8_t* bytes, size_t length) {
        std::lock_guard<std::mutex> lock(mutex);
        ts.insert(ts.end(), bytes, bytes + length);
    });
    chain.start();
    if (inRuns)
        device.setBlockCallback(&chain.blockCallback());
    EXPECT_FALSE(device.open(chain.sampleCallback()));
    EXPECT_TRUE(testsupport::waitUntil(delivered, 60000));
    EXPECT_TRUE(chain.waitIdle(std::chrono::seconds(60)));
    device.close();
    device.setBlockCallback(nullptr);
    chain.stop();
    std::lock_guard<std::mutex> lock(mutex);
    return ts;
}
