// A samples recording named as SigMF (NAME.sigmf-data): its description,
// written beside the samples when the recording ends, from the receiver's
// settings and the MODCODs met while it ran. The window and tavirel-cli
// both record this way.
#pragma once

#include "devices/SigmfMetadata.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct ReceiverSettings;

class SigmfRecordingNotes {
public:
    // A frame decoded (any thread): its MODCOD is noted, at `sampleIndex`,
    // when it differs from the last one noted.
    void frameDecoded(uint8_t plsCode, uint64_t sampleIndex);
    // Forgets the MODCODs noted (a new recording).
    void clear();
    // The description of the samples as the chain takes them (ci16_le).
    SigmfDescription describe(const ReceiverSettings& settings, const std::string& recorder,
                              const std::string& hardware, std::optional<double> frequency) const;

private:
    mutable std::mutex mutex;
    std::vector<SigmfDescription::Annotation> modcods;
    int lastPls = -1;
};
