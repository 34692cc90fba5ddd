// SigMF metadata: what is written holds the fields the SigMF core requires
// and reads back; metadata that cannot be used is refused naming the file
// and the field.
#include "devices/SigmfMetadata.h"
#include "tests/TestSupport.h"

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
