// What leaves the processing chain: its outputs connected to the sinks, and
// the roll-off reports delivered to an object on another thread.
#pragma once

#include <functional>

class OutputSinks;
class ProcessingChain;
class QObject;

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
