#include "stream/SdtMonitor.h"
#include "tx/PsiTables.h"

#include <gtest/gtest.h>

#include <vector>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

struct Published {
    std::vector<std::vector<std::string>> tables;
    std::string text;
    SdtMonitor::Publisher publisher()
    {
        return [this](const std::vector<std::string>& lines, const std::string& t) {
            tables.push_back(lines);
            text = t;
        };
    }
};

std::vector<tx::ServiceInfo> services(int count)
{
    std::vector<tx::ServiceInfo> list;
    for (int i = 0; i < count; ++i) {
        tx::ServiceInfo s;
        s.serviceId = uint16_t(0x100 + i);
        s.name = "Service " + std::to_string(i);
        s.provider = i % 2 ? "ProvB" : "";
        list.push_back(s);
    }
    return list;
}

// The sections as TS packets on PID 0x0011, padded to whole blocks with nulls.
std::vector<uint8_t> sdtBlocks(const std::vector<tx::Section>& sections)
{
    std::vector<uint8_t> ts;
    uint8_t continuity = 0;
    for (const auto& s : sections)
        tx::packetiseSection(s, 0x0011, continuity, ts);
    while (ts.size() % 1316 != 0) {
        std::vector<uint8_t> null(188, 0xFF);
        null[0] = 0x47;
        null[1] = 0x1F;
        null[2] = 0xFF;
        null[3] = 0x10;
        ts.insert(ts.end(), null.begin(), null.end());
    }
    return ts;
}

void scanAll(SdtMonitor& monitor, const std::vector<uint8_t>& ts)
{
    for (size_t at = 0; at < ts.size(); at += 1316)
        monitor.scanBlockForSDT(ts.data() + at);
}

} // namespace

TEST(SdtMonitor, ServicesOfOneSectionArePublishedAsLines)
{
    Published p;
    SdtMonitor monitor(p.publisher());
    scanAll(monitor, sdtBlocks(tx::makeSdt(1, 2, services(3))));
    ASSERT_EQ(p.tables.size(), 1u);
    EXPECT_EQ(p.tables[0], std::vector<std::string>({"0x0100 Service 0 [  ]", "0x0101 Service 1 [ ProvB ]",
                                                      "0x0102 Service 2 [  ]"}));
    EXPECT_EQ(p.text, "0x0100 Service 0 [  ]\n0x0101 Service 1 [ ProvB ]\n0x0102 Service 2 [  ]\n");
    EXPECT_TRUE(monitor.pendingLines().empty());
}

// A long table in several sections (each spread over several packets) is
// published once, after its last section; beyond 128 services "..." ends it.
TEST(SdtMonitor, LongTablesAccumulateAndAreCapped)
{
    const auto sections = tx::makeSdt(1, 2, services(140));
    ASSERT_GT(sections.size(), 2u);
    Published p;
    SdtMonitor monitor(p.publisher());
    scanAll(monitor, sdtBlocks(sections));
    ASSERT_EQ(p.tables.size(), 1u);
    ASSERT_EQ(p.tables[0].size(), 129u);
    EXPECT_EQ(p.tables[0][127], "0x017f Service 127 [ ProvB ]");
    EXPECT_EQ(p.tables[0][128], "...");
}

TEST(SdtMonitor, DamagedInputIsIgnoredOrStopsTheSection)
{
    auto ts = sdtBlocks(tx::makeSdt(1, 2, services(3)));
    Published p;
    SdtMonitor monitor(p.publisher());
    // Transport error indicator set: ignored.
    auto damaged = ts;
    damaged[1] |= 0x80;
    scanAll(monitor, damaged);
    EXPECT_TRUE(p.tables.empty());
    // A descriptor length running past its loop: the parse of the section stops.
    auto broken = ts;
    broken[5 + 11 + 5 + 1] = 0xF0;   // first descriptor's length
    scanAll(monitor, broken);
    EXPECT_TRUE(p.tables.empty());
    // Adaptation field of 183 bytes: no payload. Other table ids: not parsed.
    std::vector<uint8_t> block(1316, 0xFF);
    for (int k = 0; k < 7; ++k) {
        uint8_t* pk = block.data() + 188 * k;
        pk[0] = 0x47;
        pk[1] = 0x40;
        pk[2] = 0x11;
        pk[3] = 0x30;
        pk[4] = 183;
    }
    monitor.scanBlockForSDT(block.data());
    scanAll(monitor, sdtBlocks(tx::makeSdt(1, 2, services(2))));
    ASSERT_EQ(p.tables.size(), 1u);
    EXPECT_EQ(p.tables[0].size(), 2u) << "the intact table after the damage still parses";
}

TEST(SdtMonitor, DebugTraceLines)
{
    Published p;
    SdtMonitor monitor(p.publisher());
    std::string out;
    monitor.setTrace([&out](const SdtTrace& event) {
        for (const std::string& line : formatSdtTrace(event))
            out += line + "\n";
    });
    scanAll(monitor, sdtBlocks(tx::makeSdt(1, 2, services(1))));
    EXPECT_EQ(out.find("SYNC: 0x47, PUSI: 64, PID: 0x0011, ADAPT: 0x01\n"), 0u);
    EXPECT_NE(out.find("Valid SDT with length of "), std::string::npos);
    EXPECT_NE(out.find("\nDATA: 42 "), std::string::npos);
    EXPECT_NE(out.find(", section: 0 of 0:\n Service 0x0100 has "), std::string::npos);
    EXPECT_NE(out.find("  Descriptor Tag: 0x48, Len: "), std::string::npos);
    EXPECT_NE(out.find("\"...Service 0\"\n"), std::string::npos) << out;
    EXPECT_NE(out.find("SDT bytes left: 4\nCRC32:"), std::string::npos);
}

// A section whose CRC-32 fails publishes nothing and is counted; the intact
// table after it is published.
TEST(SdtMonitor, SectionsFailingTheirCrcAreNotPublished)
{
    const std::vector<uint8_t> ts = sdtBlocks(tx::makeSdt(1, 2, services(2)));
    Published p;
    SdtMonitor monitor(p.publisher());
    auto corrupted = ts;
    corrupted[5 + 11 + 5 + 2 + 5] ^= 0x20;   // a letter of the first provider or name
    scanAll(monitor, corrupted);
    EXPECT_TRUE(p.tables.empty());
    EXPECT_EQ(monitor.sectionCrcFailures(), 1u);
    scanAll(monitor, ts);
    ASSERT_EQ(p.tables.size(), 1u);
    EXPECT_EQ(p.tables[0].size(), 2u);
    EXPECT_EQ(monitor.sectionCrcFailures(), 1u);
}
