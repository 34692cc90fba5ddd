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

struct FrameTag;
struct ReceiverSettings;
class RecordFile;

class SigmfRecordingNotes {
public:
    // A frame decoded (any thread): its MODCOD is noted, at `sampleIndex`,
    // when it differs from the last one noted.
    void frameDecoded(uint8_t plsCode, uint64_t sampleIndex);
    // The same for a frame of the signal `recording` records: noted at the
    // recorded sample its SOF began at (the recording's first when it began
    // before the recording did).
    void frameDecoded(const FrameTag& tag, const RecordFile& recording);
    // That sample; where the chain could not tell, the sample being recorded now.
    static uint64_t recordedSample(const FrameTag& tag, const RecordFile& recording);
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
