// SigMF metadata: what is written holds the fields the SigMF core requires
// and reads back; metadata that cannot be used is refused naming the file
// and the field; a recording's MODCOD notes fall where it holds the frames.
#include "devices/SigmfMetadata.h"
#include "fec/FrameTag.h"
#include "receiver/ReceiverSettings.h"
#include "receiver/SigmfRecordingNotes.h"
#include "stream/RecordFile.h"
#include "tests/TestSupport.h"

#include <QTemporaryDir>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <fstream>

TEST(SigmfMetadata, WrittenWithTheRequiredFieldsAndReadBack)
{
    EXPECT_EQ(sigmfDataPath("a/rec"), "a/rec.sigmf-data");
    EXPECT_EQ(sigmfDataPath("a/rec.sigmf-meta"), "a/rec.sigmf-data");
    EXPECT_EQ(sigmfMetaPath("a/rec.sigmf-data"), "a/rec.sigmf-meta");
    EXPECT_TRUE(isSigmfPath("rec.sigmf-meta"));
    EXPECT_FALSE(isSigmfPath("rec.iq"));

    for (const IqFormat format : {IqFormat::S8, IqFormat::S16, IqFormat::F32, IqFormat::U8}) {
        SigmfDescription d;
        d.format = format;
        d.sampleRate = 2400000;
        d.frequency = 10491500000.0;
        d.hardware = "RTL-SDR";
        d.recorder = "tavirel";
        d.settings = {{"symbol_rate", "1000000"}};
        d.annotations = {{0, "QPSK 1/2"}, {123456, "8PSK 2/3"}};
        const std::string path = testsupport::tempPath("written.sigmf-meta");
        std::string error;
        ASSERT_TRUE(writeSigmfMeta(path, d, error)) << error;

        // The fields every SigMF recording must carry in its core namespace.
        std::ifstream file(path);
        const nlohmann::json meta = nlohmann::json::parse(file);
        ASSERT_TRUE(meta["global"].is_object());
        EXPECT_EQ(meta["global"]["core:datatype"], sigmfDatatype(format));
        EXPECT_EQ(meta["global"]["core:version"], "1.0.0");
        ASSERT_TRUE(meta["captures"].is_array());
        EXPECT_EQ(meta["captures"][0]["core:sample_start"], 0);
        ASSERT_TRUE(meta["annotations"].is_array());
        ASSERT_EQ(meta["annotations"].size(), 2u);
        EXPECT_EQ(meta["annotations"][1]["core:sample_start"], 123456);
        EXPECT_EQ(meta["global"]["tavirel:symbol_rate"], "1000000");

        SigmfDescription back;
        ASSERT_TRUE(readSigmfMeta(path, back, error)) << error;
        EXPECT_EQ(back.format, format);
        EXPECT_EQ(back.sampleRate, 2400000);
        EXPECT_EQ(back.frequency, 10491500000.0);
        EXPECT_EQ(back.hardware, "RTL-SDR");
        ASSERT_EQ(back.annotations.size(), 2u);
        EXPECT_EQ(back.annotations[1].sampleStart, 123456u);
        EXPECT_EQ(back.annotations[1].label, "8PSK 2/3");
    }
}

TEST(SigmfMetadata, UnusableMetadataIsRefusedNamingTheField)
{
    struct Case {
        const char* text;   // nullptr: no file at all
        const char* said;
    };
    const Case cases[] = {
        {nullptr, "cannot be read"},
        {"", "not JSON"},
        {"{\"global\": {\"core:datatype\": \"ci16_le\", \"core:sa", "not JSON"},
        {"[1, 2]", "no \"global\" object"},
        {"{\"global\": {\"core:sample_rate\": 1e6}}", "core:datatype is missing"},
        {"{\"global\": {\"core:datatype\": \"ri16_le\", \"core:sample_rate\": 1e6}}", "core:datatype 'ri16_le'"},
        {"{\"global\": {\"core:datatype\": \"ci16_be\", \"core:sample_rate\": 1e6}}", "core:datatype 'ci16_be'"},
        {"{\"global\": {\"core:datatype\": \"cu8\"}}", "core:sample_rate is missing"},
        {"{\"global\": {\"core:datatype\": \"cu8\", \"core:sample_rate\": 0}}", "core:sample_rate 0 is not"},
        {"{\"global\": {\"core:datatype\": \"cu8\", \"core:sample_rate\": -2e6}}", "core:sample_rate -2000000.0 is not"},
        {"{\"global\": {\"core:datatype\": \"cu8\", \"core:sample_rate\": \"fast\"}}", "core:sample_rate \"fast\""},
        {"{\"global\": {\"core:datatype\": \"ci8\", \"core:sample_rate\": 1e6, \"core:num_channels\": 2}}",
         "core:num_channels 2: only single-channel"},
    };
    for (const Case& c : cases) {
        const std::string path = testsupport::tempPath("bad.sigmf-meta");
        std::remove(path.c_str());
        if (c.text != nullptr)
            std::ofstream(path) << c.text;
        SigmfDescription d;
        d.sampleRate = 7;
        std::string error;
        EXPECT_FALSE(readSigmfMeta(path, d, error)) << (c.text ? c.text : "(none)");
        EXPECT_EQ(error.rfind("'" + path + "': ", 0), 0u) << error;
        EXPECT_NE(error.find(c.said), std::string::npos) << error;
        EXPECT_EQ(d.sampleRate, 7) << "left as it was";
    }
}

// A recording begun while the chain ran: a MODCOD is noted at the recorded
// sample its frame began at, counted from the recording's first block; a
// frame begun before the recording at its first sample; a frame the chain
// could not place at the sample being recorded.
TEST(SigmfRecordingNotes, FramesAreNotedWhereTheRecordingHoldsThem)
{
    QTemporaryDir dir;
    RecordFile recording;
    recording.setType(RecordType::Samples);
    ASSERT_TRUE(recording.open(dir.filePath("s.sigmf-data")));
    EXPECT_EQ(recording.origin(), -1);
    const std::vector<uint8_t> block(16384 * 4);
    recording.write(RecordType::Samples, block.data(), block.size(), 5 * 16384);
    recording.write(RecordType::Samples, block.data(), block.size(), 6 * 16384);
    EXPECT_EQ(recording.origin(), 5 * 16384);

    FrameTag tag;
    tag.plsCode = 4;   // QPSK 1/2, normal, no pilots
    tag.inputSample = 5 * 16384 + 1234;
    EXPECT_EQ(SigmfRecordingNotes::recordedSample(tag, recording), 1234u);
    tag.inputSample = 100;
    EXPECT_EQ(SigmfRecordingNotes::recordedSample(tag, recording), 0u);
    tag.inputSample = -1;
    EXPECT_EQ(SigmfRecordingNotes::recordedSample(tag, recording), 2u * 16384);

    SigmfRecordingNotes notes;
    tag.inputSample = 5 * 16384 + 700;
    notes.frameDecoded(tag, recording);
    tag.inputSample += 33000;
    notes.frameDecoded(tag, recording);   // the same MODCOD: no new note
    tag.plsCode = 12;                     // 8PSK 3/5
    tag.inputSample += 33000;
    notes.frameDecoded(tag, recording);
    const SigmfDescription meta = notes.describe(ReceiverSettings(), "test", "", std::nullopt);
    ASSERT_EQ(meta.annotations.size(), 2u);
    EXPECT_EQ(meta.annotations[0].sampleStart, 700u);
    EXPECT_EQ(meta.annotations[1].sampleStart, 66700u);

    // A new file starts its own count.
    ASSERT_TRUE(recording.open(dir.filePath("t.sigmf-data")));
    EXPECT_EQ(recording.origin(), -1);
    recording.write(RecordType::Samples, block.data(), block.size(), 9 * 16384);
    EXPECT_EQ(recording.origin(), 9 * 16384);
}
