// tavirel-cli --scan: the carriers of the input's band found, measured and
// identified, one line (or JSON object) each.
#pragma once

#include "CliOptions.h"
#include "receiver/ScannedCarrier.h"

#include <optional>
#include <string>

class InputDevice;

// Runs the scan until every carrier has been visited, the input ends or an
// interrupt arrives; returns the exit code.
int runScan(const CliOptions& options, InputDevice* radio = nullptr);

// One carrier's line (or JSON object): its frequency (the band's centre
// plus its offset plus the LNB's oscillator, when the centre is known), rate,
// Es/N0 and what it carries.
std::string carrierLine(int number, const ScannedCarrier& carrier, std::optional<double> centreHz, bool asJson);
