// SigMF recordings, the format SDR people share: samples in NAME.sigmf-data,
// and in NAME.sigmf-meta (JSON) their datatype, rate, frequency and notes.
#pragma once

#include "devices/SampleFormat.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct SigmfDescription {
    IqFormat format = IqFormat::S16;
    double sampleRate = 0;                 // samples per second
    std::optional<double> frequency;       // Hz, of the first capture
    std::string hardware;                  // the radio, when known
    std::string description;
    std::string recorder;                  // the program that wrote it
    // Settings of the receiver that recorded it, as "tavirel:<name>" fields.
    std::vector<std::pair<std::string, std::string>> settings;
    struct Annotation {
        uint64_t sampleStart = 0;
        std::string label;
    };
    std::vector<Annotation> annotations;
};

// True for a path ending in .sigmf-data or .sigmf-meta.
bool isSigmfPath(const std::string& path);
// The data and metadata files of a recording named by either of them, or by
// its base name.
std::string sigmfDataPath(const std::string& path);
std::string sigmfMetaPath(const std::string& path);

// "ci8", "ci16_le", "cf32_le" or "cu8".
const char* sigmfDatatype(IqFormat format);

// Reads a .sigmf-meta file. False with `error` naming the file and the
// field at fault: missing, unreadable, not JSON, a datatype this receiver
// does not read, a rate that is not above zero, more than one channel.
bool readSigmfMeta(const std::string& metaPath, SigmfDescription& description, std::string& error);
// The metadata as JSON text, with every field the SigMF core requires.
std::string sigmfMetaText(const SigmfDescription& description);
// Writes it to `metaPath`; false with `error` when it cannot be written.
bool writeSigmfMeta(const std::string& metaPath, const SigmfDescription& description, std::string& error);
