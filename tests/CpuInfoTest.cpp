#include "core/CpuInfo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <thread>

namespace {

CpuidRegisters withBrand(const char* text)
{
    CpuidRegisters regs;
    char bytes[48] = {};
    std::memcpy(bytes, text, std::min<size_t>(std::strlen(text), 48));
    std::memcpy(regs.brand, bytes, 48);
    return regs;
}

} // namespace

TEST(CpuInfo, FeatureBitsComeFromTheirRegistersInBitOrder)
{
    CpuidRegisters all;
    all.leaf1Edx = (1u << 15) | (1u << 26);
    all.leaf1Ecx = (1u << 0) | (1u << 9) | (1u << 19) | (1u << 20) | (1u << 28) | (1u << 12);
    all.leaf7Ebx = (1u << 5) | (1u << 16) | (1u << 30);
    all.ext1Ecx = 1u << 16;
    const CpuInfo info = decodeCpuInfo(all);
    EXPECT_EQ(info.features, 0xFFFu);
    EXPECT_EQ(info.featureList,
              "CMOV, SSE2, SSE3, SSSE3, SSE4.1, SSE4.2, AVX, AVX2, AVX512F, AVX512BW, FMA3, FMA4");

    // One bit at a time lands on its own feature number and nowhere else.
    const struct { uint32_t CpuidRegisters::*reg; unsigned bit; unsigned feature; } sources[] = {
        {&CpuidRegisters::leaf1Edx, 15, 0}, {&CpuidRegisters::leaf1Edx, 26, 1},
        {&CpuidRegisters::leaf1Ecx, 0, 2},  {&CpuidRegisters::leaf1Ecx, 9, 3},
        {&CpuidRegisters::leaf1Ecx, 19, 4}, {&CpuidRegisters::leaf1Ecx, 20, 5},
        {&CpuidRegisters::leaf1Ecx, 28, 6}, {&CpuidRegisters::leaf7Ebx, 5, 7},
        {&CpuidRegisters::leaf7Ebx, 16, 8}, {&CpuidRegisters::leaf7Ebx, 30, 9},
        {&CpuidRegisters::leaf1Ecx, 12, 10}, {&CpuidRegisters::ext1Ecx, 16, 11},
    };
    for (const auto& s : sources) {
        CpuidRegisters one;
        one.*s.reg = 1u << s.bit;
        const CpuInfo single = decodeCpuInfo(one);
        EXPECT_EQ(single.features, uint64_t(1) << s.feature) << featureName(s.feature);
        EXPECT_EQ(single.featureList, featureName(s.feature));
    }

    CpuidRegisters some;
    some.leaf1Edx = 1u << 15;
    some.leaf7Ebx = 1u << 5;
    some.ext1Ecx = 1u << 16;
    EXPECT_EQ(decodeCpuInfo(some).featureList, "CMOV, AVX2, FMA4");
    EXPECT_EQ(decodeCpuInfo(CpuidRegisters()).featureList, "");
}

TEST(CpuInfo, BrandStringIsKeptWholeAndShownUpToItsFirstNul)
{
    const CpuInfo info = decodeCpuInfo(withBrand("Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz"));
    EXPECT_EQ(info.model.size(), 48u);
    EXPECT_EQ(info.model.substr(0, 39), "Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz");
    EXPECT_EQ(info.model[39], '\0');
    EXPECT_EQ(info.modelName(), "Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz");

    // Register order: EAX, EBX, ECX, EDX of each leaf, little-endian bytes.
    CpuidRegisters regs;
    regs.brand[0] = 0x64636261;   // "abcd"
    regs.brand[1] = 0x00000065;   // "e"
    regs.brand[2] = 0x6A696867;   // past the NUL: kept, not shown
    const CpuInfo cut = decodeCpuInfo(regs);
    EXPECT_EQ(cut.modelName(), "abcde");
    EXPECT_EQ(cut.model.substr(8, 4), "ghij");

    const CpuInfo full = decodeCpuInfo(withBrand("0123456789012345678901234567890123456789012345678"));
    EXPECT_EQ(full.modelName(), "012345678901234567890123456789012345678901234567");
}

TEST(CpuInfo, BannerWarnsOnlyWithoutSse41)
{
    CpuidRegisters regs = withBrand("Test CPU");
    std::ostringstream without;
    printStartupBanner(without, decodeCpuInfo(regs));
    EXPECT_EQ(without.str(),
              "Tavirel Version 2.0.21\n"
              "CPU Model: Test CPU\n"
              "!!! Your CPU does not support the SSE4.1 instruction set,\n"
              "!!! which means that this software is most likely going to crash.\n");

    regs.leaf1Ecx = 1u << 19;
    std::ostringstream with;
    printStartupBanner(with, decodeCpuInfo(regs));
    EXPECT_EQ(with.str(), "Tavirel Version 2.0.21\nCPU Model: Test CPU\n");
}

TEST(CpuInfo, WindowTitle)
{
    CpuidRegisters regs = withBrand("Test CPU");
    regs.leaf1Edx = (1u << 15) | (1u << 26);
    EXPECT_EQ(windowTitle(decodeCpuInfo(regs)),
              "Tavirel - Version 2.0.21 | CPU: Test CPU | Features: CMOV, SSE2");
}

TEST(CpuInfo, ThisProcessorIsReadOnceForEveryThread)
{
    const CpuInfo* seen[4] = {};
    std::thread threads[4];
    for (int i = 0; i < 4; ++i)
        threads[i] = std::thread([&seen, i] { seen[i] = &cpuInfo(); });
    for (auto& t : threads)
        t.join();
    for (const CpuInfo* p : seen)
        EXPECT_EQ(p, &cpuInfo());
    // The build targets SSE4.1, so the machine running the tests has it.
    EXPECT_TRUE(cpuInfo().has(CpuInfo::SSE4_1));
    EXPECT_TRUE(cpuInfo().has(CpuInfo::SSE2));
    EXPECT_EQ(cpuInfo().model.size(), 48u);
    EXPECT_EQ(cpuInfo().features, decodeCpuInfo(readCpuidRegisters()).features);
}
