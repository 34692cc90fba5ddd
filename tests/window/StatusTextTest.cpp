#include "app/StatusText.h"
#include "demod/SignalQuality.h"

#include "demod/DemodWorker.h"
#include "demod/PlSignalling.h"

#include <gtest/gtest.h>

TEST(StatusText, RecordingSizeChangesUnitAtEachThousandTwentyFour)
{
    EXPECT_EQ(recordingSizeText(0), "0 B");
    EXPECT_EQ(recordingSizeText(1023), "1023 B");
    EXPECT_EQ(recordingSizeText(1024), "1 KiB");
    EXPECT_EQ(recordingSizeText(1048575), "1023 KiB");
    EXPECT_EQ(recordingSizeText(1048576), "1 MiB");
    EXPECT_EQ(recordingSizeText(uint64_t(5) << 30), "5120 MiB");
}

TEST(StatusText, SyncColourThresholdsOfBothStandards)
{
    const QColor green(0, 192, 0), orange(192, 128, 0), red(192, 0, 0);
    // DVB-S2: the frame-lock counter.
    EXPECT_EQ(syncConfidenceColour(true, 32), green);
    EXPECT_EQ(syncConfidenceColour(true, 31), orange);
    EXPECT_EQ(syncConfidenceColour(true, 8), orange);
    EXPECT_EQ(syncConfidenceColour(true, 7), red);
    EXPECT_EQ(syncConfidenceColour(true, 0), red);
    // DVB-S: the outer decoder's 0 … 32, so a lock shows orange, never green.
    EXPECT_EQ(syncConfidenceColour(false, 32), orange);
    EXPECT_EQ(syncConfidenceColour(false, 9), orange);
    EXPECT_EQ(syncConfidenceColour(false, 8), red);
    EXPECT_EQ(syncConfidenceColour(false, 4096), green);
}

TEST(StatusText, ThreeSignificantDigits)
{
    EXPECT_EQ(threeDigits(999.4), "999");
    EXPECT_EQ(threeDigits(1349.6), "1350");
    EXPECT_EQ(threeDigits(33.333), "33.3");
    EXPECT_EQ(threeDigits(0.12345), "0.123");
    EXPECT_EQ(threeDigits(0), "0");
    EXPECT_EQ(threeDigits(std::nan("")), "0");
}

// Rounded to 100 Hz, signed; a value that rounds to nothing has no minus.
TEST(StatusText, CarrierOffsetInKilohertz)
{
    EXPECT_EQ(carrierOffsetText(12345.0), "Carrier: +12.3 kHz");
    EXPECT_EQ(carrierOffsetText(-250004.0), "Carrier: -250.0 kHz");
    EXPECT_EQ(carrierOffsetText(-40.0), "Carrier: +0.0 kHz");
    EXPECT_EQ(carrierOffsetText(std::nan("")), "Carrier: -");
}

TEST(StatusText, ModcodStatisticsCountOnlyTheLastTenSeconds)
{
    std::array<ModcodStatistic, 128> table{};
    const int64_t second = 1000;
    const int64_t now = 100 * second;
    const uint8_t qpskHalfPilots = 0x40 | 4;   // QPSK 1/2, long frames, pilots
    const uint8_t psk8Short = 0x20 | 12;       // 8PSK 3/5, short frames, no pilots
    table[qpskHalfPilots] = {30, now - 2 * second};
    table[psk8Short] = {10, now - 5 * second};
    table[0x40 | 17] = {99, now - 10 * second};   // stale: cleared, not counted

    EXPECT_EQ(modcodStatisticsText(false, true, table, now, second), "");
    EXPECT_EQ(modcodStatisticsText(true, false, table, now, second), "No Lock!");

    const QString text = modcodStatisticsText(true, true, table, now, second);
    // In key order: 0x2C before 0x44.
    const QString expected = QString("Modcode Stats:\n\n%1, Pilots off, short frame --> 10 Frames (25%)"
                                     "\n%2, Pilots on, normal frame --> 30 Frames (75%)")
                                 .arg(s2ModcodRow(12).name)
                                 .arg(s2ModcodRow(4).name);
    EXPECT_EQ(text, expected);
    EXPECT_EQ(table[0x40 | 17].count, 0);
}

// A MODCOD that comes back after ten seconds away starts a new count; within
// them it goes on counting.
TEST(StatusText, AModcodBackAfterTenSecondsCountsAfresh)
{
    const int64_t second = 1000;
    ModcodStatistic s;
    for (int i = 0; i < 5; ++i)
        s.seen(i * second, second);
    EXPECT_EQ(s.count, 5);
    s.seen(13 * second, second);   // 9 s after the last: the same run
    EXPECT_EQ(s.count, 6);
    s.seen(23 * second, second);   // 10 s after: a new run
    EXPECT_EQ(s.count, 1);
    EXPECT_EQ(s.lastSeen, 23 * second);
}

TEST(StatusText, EqualizerTapsAreScaledToAMeanOfOne)
{
    using c = std::complex<float>;
    std::vector<double> m = equalizerTapMagnitudes({c(0.6f, 0.8f), c(0, 1), c(0, 0), c(0, 0)});
    ASSERT_EQ(m.size(), 4u);
    EXPECT_NEAR(m[0], 2.0, 1e-6);
    EXPECT_NEAR(m[1], 2.0, 1e-6);
    EXPECT_DOUBLE_EQ(m[2], 0.0);

    // A runaway tap is limited to 10 before scaling.
    m = equalizerTapMagnitudes({c(1000, 0), c(10, 0)});
    EXPECT_DOUBLE_EQ(m[0], 1.0);
    EXPECT_DOUBLE_EQ(m[1], 1.0);

    m = equalizerTapMagnitudes({c(0, 0), c(0, 0)});
    EXPECT_EQ(m, std::vector<double>({0.0, 0.0}));
    EXPECT_TRUE(equalizerTapMagnitudes({}).empty());
}

TEST(StatusText, DecodingErrorsOfEachMode)
{
    DecodingErrors e;
    e.bchCorrectedBits = 12;
    e.bchFailures = 1;
    e.packetCrcFailures = 3;
    e.packetsFromFailedFrames = 40;
    e.sdtCrcFailures = 2;
    e.gseCrcFailures = 5;
    e.rsUncorrectable = 15;
    EXPECT_EQ(decodingErrorsText(true, e), "BCH: 12 bits corrected, 1 failed  CRC: 3 packets");
    EXPECT_EQ(decodingErrorsText(false, e), "RS: 15 words uncorrectable");
    const QString tip = decodingErrorsToolTip(true, e);
    for (const char* line : {"BCH: 12", "correct: 1", "CRC-8 failed: 3", "failed frames: 40", "SDT sections dropped, CRC-32 failed: 2",
                             "GSE packets dropped, CRC-32 failed: 5"})
        EXPECT_TRUE(tip.contains(line)) << line << "\n" << tip.toStdString();
    EXPECT_EQ(decodingErrorsToolTip(false, e), "Reed-Solomon words uncorrectable: 15");
    e.bchCorrectedBits = 123456789012ull; // counts beyond 32 bits are shown whole
    EXPECT_TRUE(decodingErrorsText(true, e).startsWith("BCH: 123456789012 bits"));
}

TEST(StatusText, SignalQualityWithOneDecimalOrADash)
{
    SignalQualityReading q;
    q.merDb = 12.345;
    q.esn0Db = 12.04;
    EXPECT_EQ(merText(q), "MER: -") << "not valid yet";
    EXPECT_EQ(esn0Text(q), "");
    EXPECT_EQ(merDetailText(q), "");
    q.valid = true;
    EXPECT_EQ(merText(q), "MER: -  Es/N0: 12.0 dB") << "Es/N0 alone";
    EXPECT_EQ(merDetailText(q), "");
    q.merValid = true;
    EXPECT_EQ(merDetailText(q), "MER 12.3 dB");
    EXPECT_EQ(merText(q), "MER: 12.3 dB");
    EXPECT_EQ(esn0Text(q), "Es/N0: 12.0 dB");
    q.merDb = -0.04;
    EXPECT_EQ(merText(q), "MER: 0.0 dB");
    q.merDb = 3.96;
    EXPECT_EQ(merText(q), "MER: 4.0 dB");
}
