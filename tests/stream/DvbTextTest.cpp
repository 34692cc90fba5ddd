// Service and provider names from the air: decoded by their character table,
// never a control character or broken UTF-8 out.
#include "stream/DvbText.h"
#include "stream/SdtMonitor.h"
#include "tx/PsiTables.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

std::string decode(const std::string& bytes)
{
    return dvbTextToUtf8(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

const std::string kReplacement = "\xEF\xBF\xBD";   // U+FFFD

bool hasControl(const std::string& utf8)
{
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto b = uint8_t(utf8[i]);
        if (b < 0x20 || b == 0x7F)
            return true;
        if (b == 0xC2 && i + 1 < utf8.size() && uint8_t(utf8[i + 1]) < 0xA0)
            return true;   // U+0080 … U+009F
    }
    return false;
}

} // namespace

TEST(DvbText, EveryTableAnnexANames)
{
    EXPECT_EQ(decode("BBC ONE"), "BBC ONE");
    // Default table (ISO/IEC 6937): a diacritical mark before its letter, and
    // the characters of the upper half.
    EXPECT_EQ(decode("Caf\xC2" "e \xA3" "5 \xE9"), "Cafe\xCC\x81 \xC2\xA3" "5 \xC3\x98");
    // ISO/IEC 8859-5 by its one-byte selector, 8859-2 by the three-byte one.
    EXPECT_EQ(decode("\x01\xB0\xD0"), "\xD0\x90\xD0\xB0");                 // А а
    EXPECT_EQ(decode(std::string("\x10\x00\x02\xA3", 4)), "\xC5\x81");     // Ł
    // Two-byte ISO/IEC 10646, its line break code; a byte left over.
    EXPECT_EQ(decode(std::string("\x11\x04\x10\xE0\x8A\x00\x41", 7)), "\xD0\x90 A");
    EXPECT_EQ(decode(std::string("\x11\x00\x41\x00", 4)), "A" + kReplacement);
    // UTF-8.
    EXPECT_EQ(decode("\x15" "Caf\xC3\xA9"), "Caf\xC3\xA9");
    // Emphasis on and off vanish, CR/LF is a space.
    EXPECT_EQ(decode("\x86News\x87\x8A" "24"), "News 24");
    // Tables not supported here: ASCII shows, the rest is replaced.
    EXPECT_EQ(decode("\x12" "KBS\xB0\xA1"), "KBS" + kReplacement + kReplacement);
    EXPECT_EQ(decode(""), "");
}

// What was shown on a terminal: a title-setting OSC sequence and a clear
// screen, in every table that can carry them.
TEST(DvbText, ControlCharactersNeverComeThrough)
{
    const std::string attack = "\x1B]0;pwned\x07\x1B[2J";
    for (const std::string& text : std::vector<std::string>{attack, "\x15" + attack, "\x15\xC2\x9B" "2J", "\x05\x9B" "2J",
                                                          std::string("\x11\x00\x1B\x00\x5D", 5),
                                                          std::string("\x10\x00\x01\x1B\x7F", 5)}) {
        const std::string out = decode(text);
        EXPECT_FALSE(hasControl(out)) << out;
        EXPECT_EQ(validUtf8(out), out);
    }
    // Leading, the escape is a (reserved) table selector; inside, replaced.
    EXPECT_EQ(decode(attack), "]0;pwned" + kReplacement + kReplacement + "[2J");
    EXPECT_EQ(decode("TV " + attack), "TV " + kReplacement + "]0;pwned" + kReplacement + kReplacement + "[2J");
}

TEST(DvbText, AnyBytesGiveValidUtf8)
{
    std::mt19937 rng(11);
    for (int round = 0; round < 20000; ++round) {
        std::string bytes(rng() % 40, '\0');
        for (char& c : bytes)
            c = char(rng());
        if (!bytes.empty() && round % 4 == 0)
            bytes[0] = char(rng() % 0x20);   // every selector
        const std::string out = decode(bytes);
        ASSERT_EQ(validUtf8(out), out) << round;
        ASSERT_FALSE(hasControl(out)) << round;
    }
    // Overlong forms, surrogates, beyond U+10FFFF, a cut sequence.
    EXPECT_EQ(validUtf8("a\xC0\xAF" "b"), "a" + kReplacement + kReplacement + "b");
    EXPECT_EQ(validUtf8("\xED\xA0\x80"), kReplacement + kReplacement + kReplacement);
    EXPECT_EQ(validUtf8("\xF4\x90\x80\x80"), kReplacement + kReplacement + kReplacement + kReplacement);
    EXPECT_EQ(validUtf8("\xE2\x82"), kReplacement + kReplacement);
    EXPECT_EQ(validUtf8("\xF0\x9F\x93\xA1 ok"), "\xF0\x9F\x93\xA1 ok");
}

// The service list carries the decoded names.
TEST(DvbText, ServiceLinesCarryDecodedNames)
{
    std::vector<std::string> lines;
    SdtMonitor monitor([&lines](const std::vector<std::string>& l, const std::string&) { lines = l; });
    tx::ServiceInfo s;
    s.serviceId = 0x42;
    s.name = "Caf\xC3\xA9 \x1B]0;pwned\x07";
    s.provider = "Prov";
    std::vector<uint8_t> ts;
    uint8_t continuity = 0;
    for (const auto& section : tx::makeSdt(1, 2, {s}))
        tx::packetiseSection(section, 0x0011, continuity, ts);
    ts.resize(1316, 0xFF);
    for (size_t k = ts.size() / 188 * 188; k < 1316; k += 188)
        ts[k] = 0x47;
    monitor.scanBlockForSDT(ts.data());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "0x0042 Caf\xC3\xA9 " + kReplacement + "]0;pwned" + kReplacement + " [ Prov ]");
}
