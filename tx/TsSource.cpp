#include "tx/TsSource.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace tx {

TsFileSource::TsFileSource(const std::string& path, bool loop)
    : loop(loop)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        problem = "cannot open TS file '" + path + "'";
        return;
    }
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    check();
    if (!problem.empty())
        problem = "TS file '" + path + "': " + problem;
}

TsFileSource::TsFileSource(std::vector<uint8_t> bytes, bool loop)
    : data(std::move(bytes)), loop(loop)
{
    check();
}

void TsFileSource::check()
{
    if (data.empty()) {
        problem = "it is empty";
    } else if (data.size() % kTsPacketSize != 0) {
        problem = "its length (" + std::to_string(data.size()) + " bytes) is not a multiple of 188";
    } else {
        for (size_t i = 0; i < data.size(); i += kTsPacketSize) {
            if (data[i] != kTsSync) {
                problem = "no sync byte 0x47 at packet " + std::to_string(i / kTsPacketSize)
                    + " (byte offset " + std::to_string(i) + ")";
                break;
            }
        }
    }
    if (!problem.empty())
        data.clear();
}

bool TsFileSource::nextPacket(uint8_t* packet)
{
    if (data.empty())
        return false;
    if (next >= data.size()) {
        if (!loop)
            return false;
        next = 0;
    }
    std::memcpy(packet, data.data() + next, kTsPacketSize);
    next += kTsPacketSize;
    return true;
}

void makeNullPacket(uint8_t* packet)
{
    std::memset(packet, 0xFF, kTsPacketSize);
    packet[0] = kTsSync;
    packet[1] = 0x1F;
    packet[2] = 0xFF;
    packet[3] = 0x10;
}

bool NullFillSource::nextPacket(uint8_t* packet)
{
    if (!inner.nextPacket(packet))
        makeNullPacket(packet);
    return true;
}

} // namespace tx
