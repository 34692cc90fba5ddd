#include "RadioSelection.h"

#include <cctype>
#include <cstdlib>
#include <map>

namespace {

const std::map<std::string, std::string>& kindsByType()
{
    static const std::map<std::string, std::string> kinds = {
        {"RTLSDRDevice", "rtlsdr"}, {"HackRFDevice", "hackrf"}, {"LimeSDRDevice", "lime"},
        {"SDRPlayDevice", "sdrplay"}, {"AirSpyDevice", "airspy"}, {"PlutoSDRDevice", "pluto"},
        {"SoapySDRDevice", "soapy"}, {"TCPInputDevice", "tcp"}};
    return kinds;
}

bool isNumber(const std::string& text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// `word` stands in `text` on its own, not inside a longer name or number.
bool containsWord(const std::string& text, const std::string& word)
{
    const auto partOfWord = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; };
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        const size_t end = at + word.size();
        if ((at == 0 || !partOfWord(text[at - 1])) && (end == text.size() || !partOfWord(text[end])))
            return true;
    }
    return false;
}

} // namespace

std::string radioKind(const InputDevice& device)
{
    const auto found = kindsByType().find(device.getTypeName());
    return found != kindsByType().end() ? found->second : "other";
}

bool namesRadio(const std::string& text)
{
    const size_t colon = text.find(':');
    if (colon == std::string::npos)
        return false;
    const std::string kind = text.substr(0, colon);
    for (const auto& entry : kindsByType())
        if (entry.second == kind && kind != "tcp")
            return true;
    return false;
}

InputDevice* selectRadio(const std::vector<InputDevice*>& devices, const std::string& choice, std::string& error)
{
    const size_t colon = choice.find(':');
    const std::string kind = choice.substr(0, colon);
    std::string selector = colon == std::string::npos ? std::string() : choice.substr(colon + 1);
    if (selector.rfind("driver=", 0) == 0)
        selector = selector.substr(7);

    std::vector<InputDevice*> ofKind;
    for (InputDevice* d : devices)
        if (radioKind(*d) == kind)
            ofKind.push_back(d);
    if (ofKind.empty()) {
        error = "no " + kind + " device is attached (--list-devices shows what is)";
        return nullptr;
    }
    // A number within the count is a position; a larger one must stand on
    // its own in a listing (a serial number); other text may be any part.
    const bool number = isNumber(selector);
    if (number) {
        const unsigned long n = std::strtoul(selector.c_str(), nullptr, 10);
        if (n < ofKind.size())
            return ofKind[n];
    }
    std::vector<InputDevice*> matching;
    for (InputDevice* d : ofKind)
        if (number ? containsWord(d->getDeviceName(), selector)
                   : d->getDeviceName().find(selector) != std::string::npos)
            matching.push_back(d);
    if (matching.size() == 1)
        return matching[0];
    if (matching.empty() && number) {
        error = "there " + std::string(ofKind.size() == 1 ? "is " : "are ") + std::to_string(ofKind.size()) + " " +
                kind + " device" + (ofKind.size() == 1 ? "" : "s") + ", numbered from 0";
        return nullptr;
    }
    error = matching.empty() ? "no " + kind + " device's listing contains '" + selector + "'"
                             : "'" + selector + "' matches " + std::to_string(matching.size()) + " " + kind +
                                   " devices; give its number";
    return nullptr;
}

std::vector<std::string> radioListing(const std::vector<InputDevice*>& devices)
{
    std::vector<std::string> lines;
    std::map<std::string, int> counts;
    for (const InputDevice* d : devices) {
        const std::string kind = radioKind(*d);
        lines.push_back(kind + ":" + std::to_string(counts[kind]++) + "  " + d->getDeviceName());
    }
    return lines;
}

unsigned nearestRateIndex(const std::vector<uint64_t>& rates, uint64_t wanted)
{
    unsigned best = 0;
    for (unsigned i = 1; i < rates.size(); ++i) {
        const uint64_t d = rates[i] > wanted ? rates[i] - wanted : wanted - rates[i];
        const uint64_t b = rates[best] > wanted ? rates[best] - wanted : wanted - rates[best];
        if (d < b)
            best = i;
    }
    return best;
}
