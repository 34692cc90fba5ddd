// Continuity-counter checking per PID, as the headless receiver reports it.
#include "stream/TsContinuity.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint8_t> packet(uint16_t pid, int counter, bool payload = true, bool error = false)
{
    std::vector<uint8_t> p(188, 0xFF);
    p[0] = 0x47;
    p[1] = uint8_t((error ? 0x80 : 0) | (pid >> 8));
    p[2] = uint8_t(pid);
    p[3] = uint8_t((payload ? 0x10 : 0x20) | (counter & 15));
    if (!payload) {
        p[4] = 183;   // adaptation field fills the packet
        p[5] = 0;     // no flags (no discontinuity)
    }
    return p;
}

} // namespace

TEST(TsContinuity, CountsGapsPerPidAndAllowsOneDuplicate)
{
    TsContinuity c;
    std::vector<uint8_t> ts;
    auto add = [&](const std::vector<uint8_t>& p) { ts.insert(ts.end(), p.begin(), p.end()); };
    for (int k = 0; k < 20; ++k)   // wraps through 15 → 0
        add(packet(0x100, k));
    add(packet(0x100, 3));         // after 19 & 15 = 3: one legal duplicate
    add(packet(0x100, 3));         // a second duplicate is an error
    add(packet(0x100, 6));         // skips 4 and 5: an error
    add(packet(0x200, 9));         // first sight of a PID: no error
    add(packet(0x200, 9, false));  // no payload: the counter stays
    add(packet(0x200, 11, false)); // ... and must not move
    add(packet(0x1FFF, 0));
    add(packet(0x1FFF, 7));        // null packets are not checked
    add(packet(0x300, 0, true, true));   // error indicator: damaged, not checked
    ts.push_back(0x47);            // a part packet is ignored
    c.addPackets(ts.data(), ts.size());

    EXPECT_EQ(c.packets(), 29u);
    EXPECT_EQ(c.damagedPackets(), 1u);
    ASSERT_EQ(c.errors().size(), 2u);
    EXPECT_EQ(c.errors().at(0x100), 2u);
    EXPECT_EQ(c.errors().at(0x200), 1u);
    EXPECT_EQ(c.totalErrors(), 3u);
}
