// The texts and colours of the window's status refresh, apart from the
// widgets that show them.
#pragma once

#include "receiver/ReceiverCounters.h"

#include <QColor>
#include <QString>

#include <string>

#include <array>
#include <complex>
#include <cstdint>
#include <vector>

struct ModcodStatistic;
struct SignalQualityReading;

// "%1 %2": the byte count divided by 1024 once when at least 1024 ("KiB"),
// twice when at least 1048576 ("MiB"), else "B".
QString recordingSizeText(uint64_t bytes);

// The colour of the sync_confidence label. DVB-S2, the frame-lock counter:
// green above 31, orange above 7, red otherwise. DVB-S, the outer decoder's
// confidence (0 … 32): green above 4095, red below 9, orange otherwise (so
// a DVB-S lock shows orange).
QColor syncConfidenceColour(bool dvbS2, int value);

// A value with three significant digits and no exponent ("1000", "33.3").
QString threeDigits(double value);

// "Carrier: +12.3 kHz": the carrier's offset from the radio's frequency,
// in kHz with one decimal and its sign (the point whatever the locale).
QString carrierOffsetText(double hz);

// The "DVB-S2 Stats" text: empty in DVB-S mode, "No Lock!" without frame
// lock, else "Modcode Stats:\n" and a line per code counted in the last
// 10 s (entries older than that are cleared first).
QString modcodStatisticsText(bool dvbS2, bool locked, std::array<ModcodStatistic, 128>& statistics, int64_t now,
                             int64_t ticksPerSecond);

// The equalizer window's curve: each tap's magnitude (at most 10), scaled by
// N / Σ magnitudes so that their mean is 1; all zero when every tap is.
std::vector<double> equalizerTapMagnitudes(const std::vector<std::complex<float>>& taps);

// The signal-quality label: "MER: 12.3 dB" (one decimal, the point whatever
// the locale); "MER: -  Es/N0: 1.0 dB" when only the Es/N0 is measured (the
// frames lost in the noise); "MER: -" while there is no reading.
QString merText(const SignalQualityReading& quality);
// "sync_confidence: 32", and why nothing is received when that is so
// ("sync_confidence: 32 (no input for 6 s)").
QString syncConfidenceText(int confidence, const std::string& problem);
// The same for the demodulator's statistics row: "MER 12.3 dB", or empty.
QString merDetailText(const SignalQualityReading& quality);
// Its tooltip: "Es/N0: 12.3 dB", or empty.
QString esn0Text(const SignalQualityReading& quality);

// What the decoders found wrong since the receiver started.
using DecodingErrors = ReceiverCounters;
// The errors label: DVB-S2 "BCH: 12 bits corrected, 1 failed  CRC: 3
// packets", DVB-S "RS: 15 words uncorrectable".
QString decodingErrorsText(bool dvbS2, const DecodingErrors& errors);
// Its tooltip: every count of the mode, one a line.
QString decodingErrorsToolTip(bool dvbS2, const DecodingErrors& errors);
