// The window's general settings, read from "config.ini" (group "Generic")
// at start-up and never written. A missing file or key takes the default; a
// value that is no number, or out of range, takes the default or is clamped.
#pragma once

#include "fec/LdpcDecoderChoice.h"
#include "stream/OutputSinks.h"

#include <QColor>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

struct GeneralSettings {
    QStringList uiStyles{"windowsvista", "Fusion"};   // preferred widget styles, in order
    std::optional<QColor> iqPlotColour;               // the constellation's dot colour
    int freqLo0 = 9750;                               // MHz, low band LO
    int freqLo1 = 10600;                              // MHz, high band LO
    int srMin = 8;                                    // ksym/s, symbol-rate controls
    int srMax = 8000;
    int ldpcThreads = 0;                              // below 1: hardware threads / 2 + 1
    LdpcDecoderChoice ldpcDecoder = LdpcDecoderChoice::Scaled; // "conf_ldpc_decoder": scaled or standard
    std::vector<int> srPresets{2000, 1000, 500, 333, 250, 125, 66, 33};   // ksym/s, within srMin … srMax
    QString ipOutAddr = "127.0.0.1";
    int ipOutPort = 8888;
    NetworkMode ipOutMode = NetworkMode::Udp;         // network output (ip_out_mode 0, 1, 2)
    QStringList iioNetContexts{"192.168.2.1"};        // network PlutoSDRs to probe
};

// Bounds beyond the Parts' own rules, so that no value can break the window:
// the symbol-rate controls work in sym/s in an int, LDPC workers each take a
// decoding arena of 8 MiB, the port box takes 1024 … 65535.
constexpr int kMaxSymbolRateKsym = 100000;
constexpr int kMaxLdpcThreads = 64;
constexpr int kMinPort = 1024;
constexpr int kMaxPort = 65535;

inline const char kGeneralSettingsFile[] = "config.ini";

GeneralSettings loadGeneralSettings(const QString& path = kGeneralSettingsFile);
