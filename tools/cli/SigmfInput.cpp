#include "SigmfInput.h"

#include "devices/SigmfMetadata.h"
#include "receiver/ReceiverSettings.h"

#include <algorithm>
#include <cmath>

int applySigmfInput(CliOptions& options, std::string& message, std::vector<std::string>& notes)
{
    if (options.sigmfMetaPath.empty())
        return kExitDone;
    SigmfDescription meta;
    if (!readSigmfMeta(options.sigmfMetaPath, meta, message))
        return kExitInput;
    ReceiverSettings& r = options.receiver;
    const auto rate = uint64_t(std::llround(meta.sampleRate));
    if (rate < 1000 || rate > 200000000) {
        message = "'" + options.sigmfMetaPath + "': global core:sample_rate " + std::to_string(rate) +
                  " is outside 1000 to 200000000 Hz";
        return kExitInput;
    }
    if (!options.sampleRateGiven)
        r.sampleRate = rate;
    else if (r.sampleRate != rate)
        notes.push_back("--sample-rate " + std::to_string(r.sampleRate) + " differs from the recording's " +
                        std::to_string(rate) + " (core:sample_rate); --sample-rate is used");
    if (!options.formatGiven)
        options.format = meta.format;
    else if (options.format != meta.format)
        notes.push_back(std::string("--format ") + iqFormatName(options.format) + " differs from the recording's " +
                        sigmfDatatype(meta.format) + " (core:datatype); --format is used");
    options.recordedFrequency = meta.frequency;
    const int32_t highest = maxSymbolRate(r.sampleRate, 0, r.rollOff);
    if (options.symbolRateAuto)
        r.symbolRate = std::max(std::min(r.symbolRate, highest), kMinSymbolRate);   // until measured
    if (r.symbolRate > highest) {
        message = "--symbol-rate " + std::to_string(r.symbolRate) + ": above " + std::to_string(highest) +
                  " symbols/s, the highest the recording's sample rate " + std::to_string(r.sampleRate) + " Hz carries";
        return kExitUsage;
    }
    return kExitDone;
}
