// Which radio of the device enumeration --input names, and at which of its
// sample rates it runs.
#pragma once

#include "devices/InputDevice.h"

#include <cstdint>
#include <string>
#include <vector>

// The word a device kind is named by on the command line: "rtlsdr",
// "hackrf", "lime", "sdrplay", "airspy", "pluto", "soapy" or "tcp".
std::string radioKind(const InputDevice& device);

// True when `text` starts with a radio kind and a colon ("rtlsdr:0").
bool namesRadio(const std::string& text);

// `choice` is "<kind>:<selector>": the selector is the device's number among
// those of its kind (0, 1, …) or text its listing contains (a serial
// number, or "driver=airspy" for the driver "airspy"). Null with `error`
// set when no device or more than one matches.
InputDevice* selectRadio(const std::vector<InputDevice*>& devices, const std::string& choice, std::string& error);

// One line per device: "<kind>:<n>  <listing>".
std::vector<std::string> radioListing(const std::vector<InputDevice*>& devices);

// The index of the listed rate nearest to `wanted` (the first of equals).
unsigned nearestRateIndex(const std::vector<uint64_t>& rates, uint64_t wanted);
