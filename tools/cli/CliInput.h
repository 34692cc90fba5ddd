// Where tavirel-cli's samples come from: a file or standard input read on a
// thread of its own, or a TCP server through the TCP input device. Either way
// nothing is dropped (reading waits while the chain is behind), and the end of
// the input is handled alike: the whole blocks read are decoded, the receiver
// is looked at as the signal left it, then the last part block is pushed
// through with silence.
#pragma once

#include "CliOptions.h"
#include "SampleReader.h"
#include "devices/TCPInputDevice.h"

#include <atomic>
#include <memory>
#include <string>

class ProcessingChain;
class RunStatus;

class CliInput {
public:
    // `radio`: the device for a radio input (it must outlive this object).
    CliInput(ProcessingChain& chain, const CliOptions& options, RunStatus& status, InputDevice* radio = nullptr);
    ~CliInput();

    // Opens a file or standard input (before the chain starts). False with
    // `message` set when it cannot be read.
    bool open(std::string& message);
    // Starts delivering into the started chain; a TCP input connects here.
    // False with `message` set when the server cannot be reached.
    bool start(std::string& message);
    void stop();

    // The input has ended and its last block gone into the chain (any thread).
    bool finished() const { return ended.load(); }
    // DVB-S: the outer decoder's sync confidence as the signal left it, before
    // the silence that pushes the last block through (and that no sync
    // survives); −1 while not known. The MER and Es/N0 of that moment go to
    // the status.
    int endConfidence() const { return confidenceAtEnd.load(); }

private:
    void atEnd();   // the chain has the whole blocks; look at it before the silence
    bool startRadio(std::string& message);
    // Sets `counting` and `countingRuns`: the chain's input, counting the samples.
    void countRuns();

    ProcessingChain& chain;
    const CliOptions& options;
    RunStatus& status;
    std::unique_ptr<SampleReader> reader;
    std::unique_ptr<TCPInputDevice> tcp;
    InputDevice* radio;
    SampleCallback counting;   // the device's callback; outlives close()
    SampleBlockCallback countingRuns;   // a device's runs of samples
    std::atomic<bool> ended{false};
    std::atomic<int> confidenceAtEnd{-1};
};
