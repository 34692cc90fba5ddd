// What leaves the processing chain: its outputs connected to the sinks, and
// the roll-off reports delivered to an object on another thread.
#pragma once

#include "receiver/ReceiverSettings.h"

#include <atomic>
#include <functional>
#include <vector>

class OutputSinks;
class ProcessingChain;
class QObject;
class RecordFile;

// The symbol blocks the demodulator takes in and the device's raw sample
// blocks go to the recording when it records that type.
void attachRecording(ProcessingChain& chain, RecordFile& recording);
// The same for several recordings at once (one of symbols, one of samples,
// say): each block goes to every recording of its type. They must outlive
// the chain's running.
void attachRecordings(ProcessingChain& chain, std::vector<RecordFile*> recordings);

// One call for every owner of a chain (window, headless tools, tests):
// transport-stream blocks and GSE PDUs go to writeToSinks(); the symbol blocks
// the demodulator takes in and the device's raw sample blocks go to the
// recording when it records that type. Call before the chain starts; `sinks`
// must outlive the chain's running.
void attachOutputSinks(ProcessingChain& chain, OutputSinks& sinks);

// A roll-off observer for ProcessingChain::setRollOffObserver() that calls the
// slot or invokable method "rolloffChangeNotification(float)" of `receiver`
// through a queued invocation: the slot runs later on the receiver's own
// thread (the window's GUI thread), never on the stage thread that parsed the
// BBHEADER. Contract for the receiver: it declares that method with exactly
// one float parameter, and it outlives the chain's running (the owner stops
// the workers before destroying it). A receiver without the method gets
// nothing; that is logged once.
std::function<void(float)> queuedRollOffNotification(QObject* receiver);

// The roll-off the BBHEADERs report, kept in the owner's settings: the chain
// has redesigned the matched filter as the frame announced it; the report
// comes on a stage thread and reaches the settings on the owner's (the
// window's GUI thread, the headless receiver's main loop). In DVB-S mode the
// roll-off is 0.35, and the filter is redesigned here. A change is logged
// "auto rolloff changed to " + value.
class RollOffFollower {
public:
    // Both must outlive the follower.
    RollOffFollower(ProcessingChain& chain, ReceiverSettings& settings);

    // For ProcessingChain::setRollOffObserver(): keeps the value, any thread.
    std::function<void(float)> reporter();
    // Owner's thread: applies the last value reported since the last call,
    // if any. True when it changed the filter.
    bool applyReported();
    // Owner's thread: applies this value (the window's slot).
    bool apply(float rollOff);

private:
    ProcessingChain& chain;
    ReceiverSettings& settings;
    std::atomic<float> reported;
    std::atomic<bool> pending{false};
};
