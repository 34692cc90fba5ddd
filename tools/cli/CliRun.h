// One run of the headless receiver: the chain set up as the options say,
// input and outputs attached, status lines while it runs and a summary at
// the end.
#pragma once

#include "CliOptions.h"

class InputDevice;
class TsOutputs;

// Runs until the input ends, the duration is up, an interrupt arrives or
// standard output is closed; returns the exit code. `outputs` are open.
// `radio`: the device of a radio input, chosen and set up by the caller.
int runReceiver(const CliOptions& options, TsOutputs& outputs, InputDevice* radio = nullptr);
