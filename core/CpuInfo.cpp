#include "core/CpuInfo.h"

#include "core/Version.h"

#include <cpuid.h>
#include <cstring>

namespace {

struct FeatureSource {
    const char* name;
    enum Register { Leaf1Edx, Leaf1Ecx, Leaf7Ebx, Ext1Ecx } reg;
    unsigned bit;
};

// In feature-bit order.
constexpr FeatureSource kFeatureSources[CpuInfo::FeatureCount] = {
    {"CMOV", FeatureSource::Leaf1Edx, 15},
    {"SSE2", FeatureSource::Leaf1Edx, 26},
    {"SSE3", FeatureSource::Leaf1Ecx, 0},
    {"SSSE3", FeatureSource::Leaf1Ecx, 9},
    {"SSE4.1", FeatureSource::Leaf1Ecx, 19},
    {"SSE4.2", FeatureSource::Leaf1Ecx, 20},
    {"AVX", FeatureSource::Leaf1Ecx, 28},
    {"AVX2", FeatureSource::Leaf7Ebx, 5},
    {"AVX512F", FeatureSource::Leaf7Ebx, 16},
    {"AVX512BW", FeatureSource::Leaf7Ebx, 30},
    {"FMA3", FeatureSource::Leaf1Ecx, 12},
    {"FMA4", FeatureSource::Ext1Ecx, 16},
};

uint32_t registerValue(const CpuidRegisters& regs, FeatureSource::Register reg)
{
    switch (reg) {
    case FeatureSource::Leaf1Edx: return regs.leaf1Edx;
    case FeatureSource::Leaf1Ecx: return regs.leaf1Ecx;
    case FeatureSource::Leaf7Ebx: return regs.leaf7Ebx;
    case FeatureSource::Ext1Ecx: return regs.ext1Ecx;
    }
    return 0;
}

} // namespace

const char* featureName(unsigned bit)
{
    return bit < CpuInfo::FeatureCount ? kFeatureSources[bit].name : "";
}

std::string CpuInfo::modelName() const
{
    return model.substr(0, model.find('\0'));
}

CpuidRegisters readCpuidRegisters()
{
    CpuidRegisters regs;
    unsigned a = 0, b = 0, c = 0, d = 0;
    const unsigned maxLeaf = __get_cpuid_max(0, nullptr);
    if (maxLeaf >= 1 && __get_cpuid(1, &a, &b, &c, &d)) {
        regs.leaf1Ecx = c;
        regs.leaf1Edx = d;
    }
    if (maxLeaf >= 7 && __get_cpuid_count(7, 0, &a, &b, &c, &d))
        regs.leaf7Ebx = b;

    const unsigned maxExtended = __get_cpuid_max(0x80000000u, nullptr);
    if (maxExtended >= 0x80000001u && __get_cpuid(0x80000001u, &a, &b, &c, &d))
        regs.ext1Ecx = c;
    if (maxExtended >= 0x80000004u) {
        for (unsigned leaf = 0; leaf < 3; ++leaf) {
            __get_cpuid(0x80000002u + leaf, &a, &b, &c, &d);
            regs.brand[4 * leaf + 0] = a;
            regs.brand[4 * leaf + 1] = b;
            regs.brand[4 * leaf + 2] = c;
            regs.brand[4 * leaf + 3] = d;
        }
    }
    return regs;
}

CpuInfo decodeCpuInfo(const CpuidRegisters& regs)
{
    CpuInfo info;
    for (unsigned bit = 0; bit < CpuInfo::FeatureCount; ++bit) {
        const FeatureSource& src = kFeatureSources[bit];
        if ((registerValue(regs, src.reg) >> src.bit) & 1u) {
            info.features |= uint64_t(1) << bit;
            if (!info.featureList.empty())
                info.featureList += ", ";
            info.featureList += src.name;
        }
    }
    // The registers hold the brand characters in little-endian byte order.
    char brand[48];
    std::memcpy(brand, regs.brand, sizeof brand);
    info.model.assign(brand, sizeof brand);
    return info;
}

const CpuInfo& cpuInfo()
{
    static const CpuInfo info = decodeCpuInfo(readCpuidRegisters());
    return info;
}

void printStartupBanner(std::ostream& out, const CpuInfo& info)
{
    out << "Tavirel Version " << kAppVersion << std::endl;
    // The brand string is printed up to its first NUL: the padding bytes would
    // only put binary zeros into the log.
    out << "CPU Model: " << info.modelName() << std::endl;
    if (!info.has(CpuInfo::SSE4_1)) {
        out << "!!! Your CPU does not support the SSE4.1 instruction set,\n"
               "!!! which means that this software is most likely going to crash."
            << std::endl;
    }
}

std::string windowTitle(const CpuInfo& info)
{
    return std::string("Tavirel - Version ") + kAppVersion + " | CPU: " + info.modelName() +
           " | Features: " + info.featureList;
}
