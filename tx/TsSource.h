// Sources of 188-byte MPEG-2 transport stream packets (ISO/IEC 13818-1 §2.4.3).
#pragma once

#include "stream/TsPacket.h"


#include <cstdint>
#include <string>
#include <vector>

namespace tx {

constexpr int kTsPacketSize = int(kTsPacketBytes);
constexpr uint8_t kTsSync = kTsSyncByte;

class TsPacketSource {
public:
    virtual ~TsPacketSource() = default;
    // Writes the next packet; false when no packet is available.
    virtual bool nextPacket(uint8_t* packet) = 0;
};

// Packets of a TS file, read whole at construction; played once or looped.
class TsFileSource : public TsPacketSource {
public:
    // Loads and checks the file; on failure error() names the problem.
    TsFileSource(const std::string& path, bool loop);
    // A stream already in memory (checked the same way).
    TsFileSource(std::vector<uint8_t> bytes, bool loop);

    const std::string& error() const { return problem; }
    size_t packetCount() const { return data.size() / kTsPacketSize; }
    bool nextPacket(uint8_t* packet) override;

private:
    void check();

    std::vector<uint8_t> data;
    size_t next = 0;
    bool loop;
    std::string problem;
};

// Passes another source's packets on and null packets (PID 0x1FFF) once it has
// none: a constant-rate multiplex, as a DVB-S modulator keeps one.
class NullFillSource : public TsPacketSource {
public:
    explicit NullFillSource(TsPacketSource& inner) : inner(inner) {}
    bool nextPacket(uint8_t* packet) override;

private:
    TsPacketSource& inner;
};

// Writes a null packet (ISO/IEC 13818-1 §2.4.3.3) with continuity counter 0.
void makeNullPacket(uint8_t* packet);

} // namespace tx
