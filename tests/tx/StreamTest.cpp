// The stream layer of the transmitter: TS file checks, the built-in TS and its
// tables, TS slicing into BBFRAMEs (CCM and VCM) and GSE encapsulation, each
// read back by an independent parser written here.
#include "TxTestData.h"

#include "tx/BuiltinTsSource.h"
#include "stream/BbHeader.h"
#include "stream/Crc.h"
#include "tx/Dvbs2Transmitter.h"
#include "tx/GseBbFramer.h"
#include "tx/TsBbFramer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

using namespace tx;

namespace {

using Packet = std::vector<uint8_t>;

int pidOf(const uint8_t* p)
{
    return (p[1] & 0x1F) << 8 | p[2];
}

TEST(TsFileSource, RejectsFilesThatAreNotTransportStreams)
{
    TsFileSource odd(std::vector<uint8_t>(188 * 3 + 5, 0x47), false);
    EXPECT_NE(odd.error().find("not a multiple of 188"), std::string::npos) << odd.error();
    std::vector<uint8_t> noSync(188 * 4, 0x00);
    noSync[0] = noSync[188] = 0x47;
    TsFileSource lost(noSync, false);
    EXPECT_NE(lost.error().find("no sync byte 0x47 at packet 2"), std::string::npos) << lost.error();
    TsFileSource missing("/nonexistent/file.ts", false);
    EXPECT_NE(missing.error().find("cannot open"), std::string::npos);
    uint8_t packet[188];
    EXPECT_FALSE(odd.nextPacket(packet));

    TsFileSource looped(txDataPath("agreement.ts"), true);
    ASSERT_EQ(looped.error(), "");
    for (size_t i = 0; i < looped.packetCount(); ++i)
        ASSERT_TRUE(looped.nextPacket(packet));
    ASSERT_TRUE(looped.nextPacket(packet)); // back to the first packet
    EXPECT_EQ(pidOf(packet), 0x11);
}

// Reassembles PSI sections of one PID from packets (pointer field 0 only).
std::vector<Packet> sectionsOf(const std::vector<Packet>& packets, int pid)
{
    std::vector<Packet> out;
    Packet current;
    for (const Packet& p : packets) {
        if (pidOf(p.data()) != pid)
            continue;
        if (p[1] & 0x40) {
            EXPECT_EQ(p[4], 0) << "pointer field";
            current.assign(p.begin() + 5, p.end());
        } else {
            current.insert(current.end(), p.begin() + 4, p.end());
        }
        if (current.size() >= 3) {
            const size_t length = size_t(3 + ((current[1] & 0x0F) << 8 | current[2]));
            if (current.size() >= length) {
                out.emplace_back(current.begin(), current.begin() + long(length));
                current.clear();
            }
        }
    }
    return out;
}

std::vector<Packet> takePackets(TsPacketSource& source, int n)
{
    std::vector<Packet> packets;
    for (int i = 0; i < n; ++i) {
        Packet p(188);
        EXPECT_TRUE(source.nextPacket(p.data()));
        packets.push_back(p);
    }
    return packets;
}

struct SdtService {
    int id;
    std::string provider;
    std::string name;
};

std::vector<SdtService> parseSdt(const Packet& s)
{
    std::vector<SdtService> out;
    size_t pos = 11;
    const size_t end = s.size() - 4;
    while (pos + 5 <= end) {
        const int id = s[pos] << 8 | s[pos + 1];
        const size_t loop = size_t((s[pos + 3] & 0x0F) << 8 | s[pos + 4]);
        EXPECT_EQ(s[pos + 3] >> 5, 4) << "running";
        size_t d = pos + 5;
        EXPECT_EQ(s[d], 0x48);
        const size_t providerLength = s[d + 3];
        SdtService sv{id, std::string(s.begin() + long(d + 4), s.begin() + long(d + 4 + providerLength)), {}};
        const size_t nameLength = s[d + 4 + providerLength];
        sv.name.assign(s.begin() + long(d + 5 + providerLength), s.begin() + long(d + 5 + providerLength + nameLength));
        out.push_back(sv);
        pos += 5 + loop;
    }
    EXPECT_EQ(pos, end);
    return out;
}

TEST(BuiltinTsSource, TablesParseWithCorrectCrc)
{
    BuiltinTsParams params;
    params.serviceNames = {"ONE", "TWO"};
    params.providers = {"P1", "P2"};
    params.tsRate = 1e6;
    BuiltinTsSource source(params);
    const std::vector<Packet> packets = takePackets(source, 2000); // 3 s

    const std::vector<Packet> pats = sectionsOf(packets, 0x0000);
    ASSERT_GE(pats.size(), 25u); // every 100 ms
    for (const Packet& s : pats)
        EXPECT_EQ(crc32Mpeg(s.data(), s.size()), 0u) << "CRC-32 over the whole section";
    const Packet& pat = pats.front();
    EXPECT_EQ(pat[0], 0x00);
    ASSERT_EQ(pat.size(), 8u + 2 * 4 + 4);
    EXPECT_EQ(pat[8] << 8 | pat[9], 1);
    EXPECT_EQ((pat[10] & 0x1F) << 8 | pat[11], 0x1000);

    const std::vector<Packet> pmts = sectionsOf(packets, 0x1001);
    ASSERT_FALSE(pmts.empty());
    EXPECT_EQ(crc32Mpeg(pmts[0].data(), pmts[0].size()), 0u);
    EXPECT_EQ(pmts[0][0], 0x02);
    EXPECT_EQ((pmts[0][13] & 0x1F) << 8 | pmts[0][14], 0x0101) << "payload PID of the second service";

    const std::vector<Packet> sdts = sectionsOf(packets, 0x0011);
    ASSERT_GE(sdts.size(), 6u); // every 500 ms
    EXPECT_EQ(crc32Mpeg(sdts[0].data(), sdts[0].size()), 0u);
    EXPECT_EQ(sdts[0][0], 0x42);
    const std::vector<SdtService> services = parseSdt(sdts[0]);
    ASSERT_EQ(services.size(), 2u);
    EXPECT_EQ(services[1].id, 2);
    EXPECT_EQ(services[1].name, "TWO");
    EXPECT_EQ(services[1].provider, "P2");
}

TEST(BuiltinTsSource, LongServiceListsSpreadOverSeveralSdtSections)
{
    std::vector<ServiceInfo> list;
    for (int i = 0; i < 40; ++i)
        list.push_back({uint16_t(i + 1), uint16_t(0x1000 + i), uint16_t(0x100 + i),
                        "SERVICE NUMBER " + std::to_string(i) + std::string(30, '*'), "PROVIDER"});
    const std::vector<Section> sections = makeSdt(7, 9, list);
    ASSERT_GE(sections.size(), 2u);
    int seen = 0;
    for (size_t n = 0; n < sections.size(); ++n) {
        const Section& s = sections[n];
        EXPECT_LE(s.size(), size_t(kMaxSdtSectionBytes));
        EXPECT_EQ(crc32Mpeg(s.data(), s.size()), 0u);
        EXPECT_EQ(s[6], n) << "section_number";
        EXPECT_EQ(s[7], sections.size() - 1) << "last_section_number";
        for (const SdtService& sv : parseSdt(s))
            EXPECT_EQ(sv.name, list[size_t(seen++)].name);
    }
    EXPECT_EQ(seen, 40);
    EXPECT_EQ(dvbText("Télé"), "\x15Télé");
}

TEST(BuiltinTsSource, CountersRunAndNullsFillTheRate)
{
    BuiltinTsParams params;
    params.serviceNames = {"A", "B"};
    params.tsRate = 2e6;
    params.payloadRate = 1e6;
    BuiltinTsSource source(params);
    const std::vector<Packet> packets = takePackets(source, 4000);
    std::map<int, int> continuity;
    std::map<int, uint64_t> counter;
    int nulls = 0, payload = 0;
    for (const Packet& p : packets) {
        ASSERT_EQ(p[0], 0x47);
        const int pid = pidOf(p.data());
        if (pid == 0x1FFF) {
            ++nulls;
            continue;
        }
        const int cc = p[3] & 0x0F;
        if (continuity.count(pid)) {
            EXPECT_EQ(cc, (continuity[pid] + 1) & 0x0F) << "PID " << pid;
        }
        continuity[pid] = cc;
        if (pid == 0x100 || pid == 0x101) {
            ++payload;
            uint64_t c = 0;
            for (int b = 0; b < 8; ++b)
                c = c << 8 | p[size_t(4 + b)];
            EXPECT_EQ(c, counter[pid]++) << "PID " << pid;
            EXPECT_EQ(p[187], uint8_t(c + 183));
        }
    }
    EXPECT_NEAR(payload / 4000.0, 0.5, 0.01);
    EXPECT_GT(nulls, 1800);
}

// Reads the TS back out of BBFRAMEs: checks BBHEADER CRC, SYNCD and every
// packet's CRC-8, restores the sync bytes.
std::vector<uint8_t> extractTs(const std::vector<std::vector<uint8_t>>& frames, bool expectCcm)
{
    std::vector<uint8_t> ts;
    uint8_t previousCrc = 0;
    size_t packetStart = 0;
    for (const auto& f : frames) {
        const BbHeaderFields h = parseBbHeader(f.data());
        EXPECT_EQ(crc8Dvbs2(f.data(), 9), h.crc);
        EXPECT_TRUE(bbHeaderIntact(f.data()));
        EXPECT_EQ(h.matype1 & 0xF0, expectCcm ? 0xF0 : 0xE0);
        EXPECT_EQ(h.upl, 1504);
        EXPECT_EQ(h.sync, 0x47);
        const size_t before = ts.size();
        ts.insert(ts.end(), f.begin() + 10, f.begin() + 10 + h.dfl / 8);
        if (h.syncd != 0xFFFF) {
            EXPECT_EQ((before + h.syncd / 8 - packetStart) % 188, 0u) << "SYNCD points at a packet start";
        }
    }
    for (size_t p = 0; p + 188 <= ts.size(); p += 188) {
        EXPECT_EQ(ts[p], previousCrc) << "packet " << p / 188;
        previousCrc = crc8Dvbs2(&ts[p + 1], 187);
        ts[p] = 0x47;
    }
    return ts;
}

// Multiple input streams: MATYPE says MIS (no ISSY, no null-packet
// deletion) with each stream's ISI, frames take turns, and a stream that
// runs dry gives its turn to the others until all are dry.
TEST(TsBbFramer, MultipleInputStreamsTakeTurns)
{
    std::vector<uint8_t> input = readTxData("agreement.ts");
    TsFileSource longer(input, false);
    TsFileSource shorter(std::vector<uint8_t>(input.begin(), input.begin() + 20 * 188), false);
    TsBbFramer a(longer, RollOff::R035, 17), b(shorter, RollOff::R035, 200);
    MisBbFramer framer({&a, &b});
    std::vector<uint8_t> frame(64800 / 8);
    std::vector<int> isis;
    while (framer.build(16008, true, frame.data())) {
        EXPECT_EQ(frame[0] & 0xF0, 0xD0) << "TS, MIS, CCM, ISSYI 0";
        EXPECT_EQ(frame[0] & 0x0C, 0) << "no ISSY, no null-packet deletion";
        isis.push_back(frame[1]);
    }
    // 200 packets: 19 frames of 1991 bytes for the longer, 2 for the 20.
    ASSERT_EQ(isis.size(), 21u);
    EXPECT_EQ(std::vector<int>(isis.begin(), isis.begin() + 4), std::vector<int>({17, 200, 17, 200}));
    EXPECT_EQ(std::count(isis.begin(), isis.end(), 200), 2);
    EXPECT_FALSE(framer.build(16008, true, frame.data())) << "all dry";
}

TEST(TsBbFramer, VcmFramesCarryTheTsUnchanged)
{
    std::vector<uint8_t> input = readTxData("agreement.ts");
    TsFileSource ts(input, false);
    TsBbFramer framer(ts, RollOff::R020);
    Dvbs2Config config;
    config.modcods = {4, 13, 19, 28};
    config.pilots = true;
    Dvbs2Transmitter tx(config, framer);
    std::vector<std::vector<uint8_t>> frames;
    std::vector<cf32> symbols;
    std::vector<int> modcods;
    for (;;) {
        tx.nextFrame(symbols);
        if (tx.lastWasDummy()) {
            EXPECT_EQ(symbols.size(), 3330u);
            break;
        }
        modcods.push_back(tx.lastModcod());
        EXPECT_EQ(int(symbols.size()), plframeSymbols(tx.lastModcod(), FrameSize::Normal, true));
        frames.push_back(tx.lastBbframe());
    }
    ASSERT_GE(modcods.size(), 4u);
    EXPECT_EQ(std::vector<int>(modcods.begin(), modcods.begin() + 4), config.modcods);
    const std::vector<uint8_t> out = extractTs(frames, false);
    EXPECT_EQ(out, input);
    // The last frame ends with the file and is padded.
    const BbHeaderFields last = parseBbHeader(frames.back().data());
    FecParams p;
    fecParams(modcods.back(), FrameSize::Normal, p);
    EXPECT_LT(last.dfl, p.kbch - 80);
    for (size_t i = 10 + last.dfl / 8; i < frames.back().size(); ++i)
        ASSERT_EQ(frames.back()[i], 0) << "padding";
}

// An independent GSE reader: complete PDUs and reassembled fragments, each
// checked against its total length and CRC-32.
struct GseReader {
    std::map<int, std::vector<uint8_t>> partial;
    std::map<int, int> firstLabelType;
    std::vector<std::vector<uint8_t>> pdus;
    int labelBytes[4] = {6, 3, 0, 0};

    void frame(const std::vector<uint8_t>& f, int labelType)
    {
        const BbHeaderFields h = parseBbHeader(f.data());
        EXPECT_EQ(h.matype1 >> 6, 1) << "continuous generic stream";
        EXPECT_EQ(h.upl, 0);
        size_t pos = 10;
        const size_t end = 10 + h.dfl / 8;
        bool first = true;
        while (pos + 2 <= end) {
            const int s = f[pos] >> 7, e = f[pos] >> 6 & 1, lt = f[pos] >> 4 & 3;
            const size_t length = size_t((f[pos] & 0x0F) << 8 | f[pos + 1]);
            ASSERT_FALSE(s == 0 && e == 0 && lt == 0) << "padding inside DFL";
            ASSERT_LE(pos + 2 + length, end);
            const uint8_t* p = &f[pos + 2];
            if (s == 1) {
                if (labelType == 3 && first)
                    EXPECT_EQ(lt, 0) << "the first packet of a frame carries its label";
                else
                    EXPECT_EQ(lt, labelType);
                first = false;
            } else {
                EXPECT_EQ(lt, 3);
            }
            if (s && e) {
                const size_t skip = 2 + size_t(labelBytes[lt]);
                EXPECT_EQ(p[0] << 8 | p[1], 0x88B5);
                pdus.emplace_back(p + skip, p + length);
            } else if (s) {
                const int id = p[0];
                const size_t total = size_t(p[1] << 8 | p[2]);
                partial[id].assign(p + 1, p + length); // total length field onward
                partial[id].reserve(total + 2);
                firstLabelType[id] = lt;
            } else {
                const int id = p[0];
                ASSERT_TRUE(partial.count(id)) << "fragment " << id << " without a start";
                std::vector<uint8_t>& buffer = partial[id];
                buffer.insert(buffer.end(), p + 1, p + length);
                if (e) {
                    const size_t total = size_t(buffer[0] << 8 | buffer[1]);
                    EXPECT_EQ(buffer.size(), 2 + total + 4);
                    EXPECT_EQ(crc32Mpeg(buffer.data(), buffer.size()), 0u) << "CRC-32";
                    const size_t skip = 2 + 2 + size_t(labelBytes[firstLabelType[id]]);
                    pdus.emplace_back(buffer.begin() + long(skip), buffer.end() - 4);
                    partial.erase(id);
                }
            }
            pos += 2 + length;
        }
    }
};

class GseEncapsulation : public testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(GseEncapsulation, PdusComeBackWhole)
{
    GseParams params;
    params.pduSize = std::get<0>(GetParam());
    params.labelType = std::get<1>(GetParam());
    GseBbFramer framer(params, RollOff::R035);
    GseReader reader;
    FecParams p;
    ASSERT_TRUE(fecParams(7, FrameSize::Short, p)); // small frames: much fragmentation
    std::vector<uint8_t> frame(size_t(p.kbch / 8));
    for (int f = 0; f < 40; ++f) {
        ASSERT_TRUE(framer.build(p.kbch, true, frame.data()));
        reader.frame(frame, params.labelType);
    }
    ASSERT_GT(reader.pdus.size(), 5u);
    for (size_t i = 0; i < reader.pdus.size(); ++i)
        ASSERT_EQ(reader.pdus[i], GseBbFramer::makePdu(i, params.pduSize)) << "PDU " << i;
}

INSTANTIATE_TEST_SUITE_P(SizesAndLabels, GseEncapsulation,
                         testing::Combine(testing::Values(40, 1500, 6000), testing::Values(0, 1, 2, 3)));

} // namespace
