// Mode adaptation and slicing of a transport stream into BBFRAMEs, EN 302 307-1
// §5.1 (normal mode: no ISSY, no null-packet deletion) and §5.2.1 (padding).
#pragma once

#include "tx/BbHeader.h"
#include "tx/TsSource.h"

#include <array>
#include <vector>

namespace tx {

// Each packet's sync byte is replaced by the CRC-8 of the previous packet's 187
// bytes after its sync (§5.1.4); the stream's first packet carries 0x00. The
// stream starts with a packet at the first bit of the first data field, so the
// first SYNCD is 0. A frame is filled completely (DFL = K_bch − 80) while the
// source has packets; when it runs dry the frame is closed after the last whole
// packet and padded, and build() returns false once nothing at all is left.
class TsBbFramer : public BbFrameBuilder {
public:
    // `isi` 0 … 255: one of multiple input streams (MATYPE-1 SIS/MIS = 0,
    // MATYPE-2 the ISI); below 0 the single stream.
    TsBbFramer(TsPacketSource& source, RollOff rollOff, int isi = -1);

    bool build(int kbch, bool ccm, uint8_t* frame) override;
    const BbHeader& lastHeader() const { return header; }

private:
    bool loadPacket();

    TsPacketSource& source;
    RollOff rollOff;
    int isi;
    std::array<uint8_t, kTsPacketSize> packet{};
    int packetOffset = kTsPacketSize; // bytes of `packet` already sent
    uint8_t previousCrc = 0;
    BbHeader header;
};

// Multiple input streams (§5.1.6, MIS): the streams' frames take turns, each
// framer's stream in its own frames; a stream that runs dry gives its turn to
// the next. build() returns false once every stream is dry.
class MisBbFramer : public BbFrameBuilder {
public:
    explicit MisBbFramer(std::vector<BbFrameBuilder*> streams) : streams(std::move(streams)) {}

    bool build(int kbch, bool ccm, uint8_t* frame) override;

private:
    std::vector<BbFrameBuilder*> streams;
    size_t next = 0;
};

} // namespace tx
