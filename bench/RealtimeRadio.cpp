// Real time from a radio: a stand-in for the HackRF library delivers a
// recording (s8 I/Q, repeated) transfer by transfer at the sample rate, as
// the radio's USB thread does, and the headless receiver takes it as it
// takes a radio. A radio cannot be held back: a receiver that falls behind
// drops blocks, which its summary counts.
//   tavirel-realtime-radio SIGNAL.s8 SECONDS SAMPLE-RATE [tavirel-cli options]
#include "CliOptions.h"
#include "CliRun.h"
#include "RadioSelection.h"
#include "TsOutputs.h"
#include "core/HeapTuning.h"
#include "devices/hackrf/HackRFDevice.h"
#include "tests/devices/FakeHackrf.h"

#include <QCoreApplication>

#include <cmath>
#include <fstream>
#include <iostream>
#include <iterator>

int main(int argc, char** argv)
{
    keepWorkBuffersInTheHeap();
    if (argc < 4) {
        std::cerr << "usage: tavirel-realtime-radio SIGNAL.s8 SECONDS SAMPLE-RATE [tavirel-cli options]" << std::endl;
        return 2;
    }
    const double seconds = std::atof(argv[2]);
    const double rate = std::atof(argv[3]);
    std::ifstream file(argv[1], std::ios::binary);
    FakeHackrf fake;
    fake.stream.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (fake.stream.size() < 2 || !(seconds > 0) || !(rate > 0)) {
        std::cerr << "tavirel-realtime-radio: need a readable signal, seconds and a sample rate" << std::endl;
        return 2;
    }
    fake.pacedSampleRate = rate;
    fake.loopedBytes = uint64_t(seconds * rate) * 2;

    QCoreApplication app(argc, argv);
    QStringList arguments = {"tavirel-cli", "--input", "hackrf:0", "--sample-rate", QString::number(uint64_t(rate)),
                             "--frequency", "1210000000", "--duration", QString::number(std::ceil(seconds) + 1)};
    for (int k = 4; k < argc; ++k)
        arguments << argv[k];
    CliOptions options;
    std::string message;
    if (parseCliOptions(arguments, options, message) != ParseResult::Run) {
        std::cerr << "tavirel-realtime-radio: " << message << std::endl;
        return 2;
    }
    HackRFDevice radio(fake.library(), fake.deviceList(), 0);
    options.radioRateIndex = nearestRateIndex(radio.getSampleRates(), options.receiver.sampleRate);
    TsOutputs outputs;
    if (!outputs.open(options, message)) {
        std::cerr << "tavirel-realtime-radio: " << message << std::endl;
        return 2;
    }
    const int result = runReceiver(options, outputs, &radio);
    std::cout << "radio behind its clock at most: " << fake.behindSeconds() * 1000 << " ms" << std::endl;
    return result;
}
