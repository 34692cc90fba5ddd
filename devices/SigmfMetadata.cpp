#include "devices/SigmfMetadata.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>

namespace {

const std::string kData = ".sigmf-data";
const std::string kMeta = ".sigmf-meta";

bool endsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string baseOf(const std::string& path)
{
    if (endsWith(path, kData) || endsWith(path, kMeta))
        return path.substr(0, path.size() - kData.size());
    return path;
}

struct Datatype {
    const char* name;
    IqFormat format;
};
constexpr Datatype kDatatypes[] = {
    {"ci8", IqFormat::S8}, {"ci16_le", IqFormat::S16}, {"cf32_le", IqFormat::F32}, {"cu8", IqFormat::U8}};

} // namespace

bool isSigmfPath(const std::string& path)
{
    return endsWith(path, kData) || endsWith(path, kMeta);
}

std::string sigmfDataPath(const std::string& path)
{
    return baseOf(path) + kData;
}

std::string sigmfMetaPath(const std::string& path)
{
    return baseOf(path) + kMeta;
}

const char* sigmfDatatype(IqFormat format)
{
    for (const Datatype& d : kDatatypes)
        if (d.format == format)
            return d.name;
    return "ci16_le";
}

bool readSigmfMeta(const std::string& metaPath, SigmfDescription& description, std::string& error)
{
    using nlohmann::json;
    auto fail = [&](const std::string& why) {
        error = "'" + metaPath + "': " + why;
        return false;
    };
    std::ifstream file(metaPath, std::ios::binary);
    if (!file)
        return fail("cannot be read");
    json meta;
    try {
        meta = json::parse(file);
    } catch (const json::exception& e) {
        return fail(std::string("not SigMF metadata (not JSON: ") + e.what() + ")");
    }
    if (!meta.is_object() || !meta.contains("global") || !meta["global"].is_object())
        return fail("no \"global\" object");
    const json& global = meta["global"];
    SigmfDescription d;
    const auto datatype = global.find("core:datatype");
    if (datatype == global.end() || !datatype->is_string())
        return fail("global core:datatype is missing");
    const std::string type = datatype->get<std::string>();
    bool known = false;
    for (const Datatype& t : kDatatypes)
        if (type == t.name) {
            d.format = t.format;
            known = true;
        }
    if (!known)
        return fail("global core:datatype '" + type + "' is not read here (ci8, ci16_le, cf32_le or cu8)");
    const auto rate = global.find("core:sample_rate");
    if (rate == global.end())
        return fail("global core:sample_rate is missing");
    if (!rate->is_number() || !(rate->get<double>() > 0))
        return fail("global core:sample_rate " + rate->dump() + " is not a rate above zero");
    d.sampleRate = rate->get<double>();
    const auto channels = global.find("core:num_channels");
    if (channels != global.end() && (!channels->is_number_integer() || channels->get<int64_t>() != 1))
        return fail("global core:num_channels " + channels->dump() + ": only single-channel recordings are read");
    if (global.contains("core:hw") && global["core:hw"].is_string())
        d.hardware = global["core:hw"].get<std::string>();
    if (global.contains("core:description") && global["core:description"].is_string())
        d.description = global["core:description"].get<std::string>();
    if (global.contains("core:recorder") && global["core:recorder"].is_string())
        d.recorder = global["core:recorder"].get<std::string>();
    if (meta.contains("captures") && meta["captures"].is_array() && !meta["captures"].empty()) {
        const json& first = meta["captures"][0];
        if (first.is_object() && first.contains("core:frequency") && first["core:frequency"].is_number())
            d.frequency = first["core:frequency"].get<double>();
    }
    if (meta.contains("annotations") && meta["annotations"].is_array())
        for (const json& a : meta["annotations"])
            if (a.is_object() && a.contains("core:sample_start") && a["core:sample_start"].is_number_unsigned())
                d.annotations.push_back({a["core:sample_start"].get<uint64_t>(),
                                         a.value("core:label", std::string())});
    description = d;
    return true;
}

std::string sigmfMetaText(const SigmfDescription& description)
{
    using nlohmann::ordered_json;
    ordered_json global;
    global["core:datatype"] = sigmfDatatype(description.format);
    global["core:sample_rate"] = description.sampleRate;
    global["core:version"] = "1.0.0";
    global["core:num_channels"] = 1;
    if (!description.hardware.empty())
        global["core:hw"] = description.hardware;
    if (!description.description.empty())
        global["core:description"] = description.description;
    if (!description.recorder.empty())
        global["core:recorder"] = description.recorder;
    for (const auto& setting : description.settings)
        global["tavirel:" + setting.first] = setting.second;
    ordered_json capture;
    capture["core:sample_start"] = 0;
    if (description.frequency)
        capture["core:frequency"] = *description.frequency;
    ordered_json annotations = ordered_json::array();
    for (const SigmfDescription::Annotation& a : description.annotations) {
        ordered_json note;
        note["core:sample_start"] = a.sampleStart;
        note["core:label"] = a.label;
        annotations.push_back(note);
    }
    ordered_json meta;
    meta["global"] = global;
    meta["captures"] = ordered_json::array({capture});
    meta["annotations"] = annotations;
    return meta.dump(2) + "\n";
}

bool writeSigmfMeta(const std::string& metaPath, const SigmfDescription& description, std::string& error)
{
    std::ofstream file(metaPath, std::ios::binary | std::ios::trunc);
    file << sigmfMetaText(description);
    file.close();
    if (!file) {
        error = "cannot write '" + metaPath + "'";
        return false;
    }
    return true;
}
