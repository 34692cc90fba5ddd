#include "receiver/SigmfRecordingNotes.h"

#include "demod/PlSignalling.h"
#include "fec/FrameTag.h"
#include "receiver/ReceiverSettings.h"
#include "stream/RecordFile.h"

void SigmfRecordingNotes::frameDecoded(uint8_t plsCode, uint64_t sampleIndex)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (plsCode == lastPls)
        return;
    lastPls = plsCode;
    modcods.push_back({sampleIndex, plsCodeText(plsCode)});
}

uint64_t SigmfRecordingNotes::recordedSample(const FrameTag& tag, const RecordFile& recording)
{
    const int64_t origin = recording.origin();
    if (tag.inputSample < 0 || origin < 0)
        return recording.bytesWritten() / 4;
    return tag.inputSample > origin ? uint64_t(tag.inputSample - origin) : 0;
}

void SigmfRecordingNotes::frameDecoded(const FrameTag& tag, const RecordFile& recording)
{
    frameDecoded(tag.plsCode, recordedSample(tag, recording));
}

void SigmfRecordingNotes::clear()
{
    std::lock_guard<std::mutex> lock(mutex);
    modcods.clear();
    lastPls = -1;
}

SigmfDescription SigmfRecordingNotes::describe(const ReceiverSettings& settings, const std::string& recorder,
                                               const std::string& hardware, std::optional<double> frequency) const
{
    SigmfDescription meta;
    meta.format = IqFormat::S16;
    meta.sampleRate = double(settings.sampleRate);
    meta.frequency = frequency;
    meta.hardware = hardware;
    meta.recorder = recorder;
    meta.settings = {{"standard", standardName(settings.standard)},
                     {"symbol_rate", std::to_string(settings.symbolRate)},
                     {"roll_off", std::to_string(settings.rollOff)},
                     {"offset_hz", std::to_string(settings.offsetHz)}};
    std::lock_guard<std::mutex> lock(mutex);
    meta.annotations = modcods;
    return meta;
}
