#include "stream/GseParser.h"
#include "stream/Crc.h"
#include "tx/GseBbFramer.h"

#include <gtest/gtest.h>

#include <vector>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

using Pdus = std::vector<std::vector<uint8_t>>;

GseParser::PduSink collect(Pdus& pdus)
{
    return [&pdus](const uint8_t* p, size_t n) { pdus.emplace_back(p, p + n); };
}

// Data fields from the transmitter's GSE framer: frames of QPSK 1/2 normal size.
void runFrames(GseParser& parser, const tx::GseParams& params, int frames)
{
    tx::GseBbFramer framer(params, tx::RollOff::R035);
    std::vector<uint8_t> frame(32208 / 8);
    for (int f = 0; f < frames; ++f) {
        ASSERT_TRUE(framer.build(32208, true, frame.data()));
        const uint16_t dfl = uint16_t(frame[4] << 8 | frame[5]);
        parser.parseGSE(frame.data() + 10, dfl);
    }
}

} // namespace

// Conformant streams (the total length counts protocol type, label and the
// PDU with its CRC-32) reassemble for every label type and PDU size, also
// when a PDU spans several frames.
TEST(GseParser, ReassemblesTheTransmittersPdus)
{
    for (int labelType : {0, 1, 2, 3}) {
        for (int size : {100, 1500, 9000, 30000}) {
            SCOPED_TRACE(std::to_string(labelType) + " " + std::to_string(size));
            Pdus pdus;
            GseParser parser(collect(pdus));
            tx::GseParams params;
            params.labelType = labelType;
            params.pduSize = size;
            runFrames(parser, params, 20);
            ASSERT_GE(pdus.size(), size_t(20 * 4000 / (size + 20)) - 1);
            for (size_t i = 0; i < pdus.size(); ++i)
                ASSERT_EQ(pdus[i], tx::GseBbFramer::makePdu(i, size)) << "PDU " << i;
        }
    }
}

namespace {

// A GSE packet: header, optional fragment ID / total length / protocol and
// label, then payload.
std::vector<uint8_t> packet(bool s, bool e, int lt, std::vector<uint8_t> fields, const std::vector<uint8_t>& payload)
{
    const size_t length = fields.size() + payload.size();
    std::vector<uint8_t> p = {uint8_t((s ? 0x80 : 0) | (e ? 0x40 : 0) | lt << 4 | (length >> 8)), uint8_t(length)};
    p.insert(p.end(), fields.begin(), fields.end());
    p.insert(p.end(), payload.begin(), payload.end());
    return p;
}

void parse(GseParser& parser, std::vector<uint8_t> field)
{
    parser.parseGSE(field.data(), uint16_t(field.size() * 8));
}

} // namespace

namespace {

// The CRC-32 a fragmented PDU ends with: over total length, protocol type,
// label and the PDU, big-endian.
std::vector<uint8_t> gseCrc(const std::vector<uint8_t>& startFields, const std::vector<uint8_t>& pdu)
{
    const uint32_t r = crc32Mpeg(pdu.data(), pdu.size(), crc32Mpeg(startFields.data(), startFields.size()));
    return {uint8_t(r >> 24), uint8_t(r >> 16), uint8_t(r >> 8), uint8_t(r)};
}

} // namespace

TEST(GseParser, FragmentsOfInterleavedIdsAndPadding)
{
    Pdus pdus;
    GseParser parser(collect(pdus));
    const std::vector<uint8_t> a(300, 0xAA), b(200, 0xBB);
    // Frame k: first fragments of IDs 5 and 9 (no label); total = 2 + data for
    // 5 as the standard counts it, 2 + data + CRC for 9 as some streams do.
    std::vector<uint8_t> field;
    for (auto part : {packet(true, false, 2, {5, 0x01, 0x2E, 0x08, 0x00}, std::vector<uint8_t>(a.begin(), a.begin() + 100)),
                      packet(true, false, 2, {9, 0x00, 0xCE, 0x08, 0x00}, std::vector<uint8_t>(b.begin(), b.begin() + 50))})
        field.insert(field.end(), part.begin(), part.end());
    parse(parser, field);
    EXPECT_TRUE(pdus.empty());
    // Frame k + 1: the end of 9, then the end of 5, then padding and junk.
    field.clear();
    std::vector<uint8_t> endB(b.begin() + 50, b.end()), endA(a.begin() + 100, a.end());
    const std::vector<uint8_t> crcB = gseCrc({0x00, 0xCE, 0x08, 0x00}, b), crcA = gseCrc({0x01, 0x2E, 0x08, 0x00}, a);
    endB.insert(endB.end(), crcB.begin(), crcB.end());
    endA.insert(endA.end(), crcA.begin(), crcA.end());
    for (auto part : {packet(false, true, 3, {9}, endB), packet(false, true, 3, {5}, endA)})
        field.insert(field.end(), part.begin(), part.end());
    field.insert(field.end(), {0x00, 0x10, 0x80, 0x05});   // padding header: stop
    parse(parser, field);
    ASSERT_EQ(pdus.size(), 2u);
    EXPECT_EQ(pdus[0], b);
    EXPECT_EQ(pdus[1], a);

    // A complete PDU in one packet (S = E = 1, no label).
    parse(parser, packet(true, true, 2, {0x08, 0x00}, std::vector<uint8_t>(100, 7)));
    ASSERT_EQ(pdus.size(), 3u);
    EXPECT_EQ(pdus[2], std::vector<uint8_t>(100, 7));
}

TEST(GseParser, OverflowAndDamagedLengthsStopTheFrame)
{
    Pdus pdus;
    std::vector<unsigned> overflows;
    GseParser parser(collect(pdus), [&](unsigned fragment) { overflows.push_back(fragment); });
    CaptureStdout();
    // 4000-byte fragments into one ID: the 17th in all would pass 65536 bytes.
    parse(parser, packet(true, false, 2, {7, 0xFF, 0xFF, 0x08, 0x00}, std::vector<uint8_t>(4000, 1)));
    for (int i = 0; i < 16; ++i)
        parse(parser, packet(false, false, 3, {7}, std::vector<uint8_t>(4000, 2)));
    EXPECT_EQ(overflows, std::vector<unsigned>{7});
    EXPECT_EQ(formatGseOverflow(7, GseParser::kBufferSize), "PDU Buffer Overflow! fragment 0x07 exceeded 65536 bytes!");
    EXPECT_EQ(GetCapturedStdout(), "") << "the parser itself writes nothing";

    // Lengths too small for the packet's own fields, or past the field: nothing.
    parse(parser, {0xC0, 0x01, 0x08});                      // complete PDU shorter than its protocol type
    parse(parser, {0x80, 0x02, 0x01, 0x00});                // first fragment without total length
    parse(parser, {0xE0, 0x40, 0x08, 0x00});                // length beyond the data field
    parse(parser, {0xE0});                                  // one byte: nothing to parse
    EXPECT_TRUE(pdus.empty());
}

TEST(GseParser, DebugTraceDescribesEachPacket)
{
    Pdus pdus;
    GseParser parser(collect(pdus));
    std::vector<std::string> lines;
    GseParser::Trace trace;
    trace.packet = [&](const GsePacketTrace& p) { lines.push_back(formatGsePacket(p)); };
    trace.complete = [&](const uint8_t* crc) { lines.push_back(formatGseComplete(crc)); };
    parser.setTrace(trace);
    parse(parser, packet(true, true, 2, {0x08, 0x00}, std::vector<uint8_t>(100, 7)));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "GSE Header: S1 E1 TL2 LEN: 0x0066, ptr: 0x0000\t PROTO: 0x0800  dptr: 0x0004\tDATA: 07 07 07 07 "
                        "07 07 07 07 | LEN: 0x0064");
    // A packet cut short is traced as far as it was read; padding says so.
    lines.clear();
    parse(parser, {0x80, 0x02, 0x01, 0x00});
    parse(parser, {0x00, 0x00, 0x00});
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "GSE Header: S1 E0 TL0 LEN: 0x0002, ptr: 0x0000\t FRAG_ID: 0x01 ");
    EXPECT_EQ(lines[1], "GSE Header: S0 E0 TL0 LEN: 0x0000, ptr: 0x0000\tPADDING DATA");
    parser.setTrace({});
    lines.clear();
    parse(parser, packet(true, true, 2, {0x08, 0x00}, std::vector<uint8_t>(10, 7)));
    EXPECT_TRUE(lines.empty());
}

// A fragmented PDU whose CRC-32 fails is dropped and counted; the next one,
// intact, is handed on.
TEST(GseParser, PdusFailingTheirCrcAreDropped)
{
    Pdus pdus;
    GseParser parser(collect(pdus));
    const std::vector<uint8_t> data(120, 0x5A);
    const std::vector<uint8_t> crc = gseCrc({0x00, 0x7A, 0x08, 0x00}, data);
    for (int damaged = 1; damaged >= 0; --damaged) {
        std::vector<uint8_t> end(data.begin() + 40, data.end());
        if (damaged)
            end[10] ^= 0x01;
        end.insert(end.end(), crc.begin(), crc.end());
        parse(parser, packet(true, false, 2, {3, 0x00, 0x7A, 0x08, 0x00}, std::vector<uint8_t>(data.begin(), data.begin() + 40)));
        parse(parser, packet(false, true, 3, {3}, end));
        EXPECT_EQ(pdus.size(), damaged ? 0u : 1u);
        EXPECT_EQ(parser.crcFailures(), 1u);
    }
    EXPECT_EQ(pdus[0], data);
}
