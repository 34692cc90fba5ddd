// Processor identification through CPUID: feature flags and brand string.
// The flags are reported only; no processing path is chosen by them.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

struct CpuInfo {
    // Feature bits, numbered as in featureName().
    enum Feature : unsigned {
        CMOV = 0, SSE2, SSE3, SSSE3, SSE4_1, SSE4_2, AVX, AVX2, AVX512F, AVX512BW, FMA3, FMA4,
        FeatureCount
    };

    uint64_t features = 0;
    // Brand string of leaves 0x80000002..4 (EAX, EBX, ECX, EDX of each), all 48 bytes.
    std::string model = std::string(48, '\0');
    // Names of the set bits, lowest first, joined by ", ".
    std::string featureList;

    bool has(Feature f) const { return (features >> f) & 1u; }
    // The brand string up to its first NUL byte.
    std::string modelName() const;
};

// The raw CPUID registers CpuInfo is decoded from.
struct CpuidRegisters {
    uint32_t leaf1Ecx = 0, leaf1Edx = 0;   // leaf 1
    uint32_t leaf7Ebx = 0;                 // leaf 7, sub-leaf 0
    uint32_t ext1Ecx = 0;                  // leaf 0x80000001
    uint32_t brand[12] = {};               // leaves 0x80000002..4: EAX, EBX, ECX, EDX each
};

const char* featureName(unsigned bit);

CpuidRegisters readCpuidRegisters();
CpuInfo decodeCpuInfo(const CpuidRegisters& regs);

// The process-wide CpuInfo, read from the processor on first use.
const CpuInfo& cpuInfo();

// Start-up banner: version line, "CPU Model: " line and, without SSE4.1, the warning.
void printStartupBanner(std::ostream& out, const CpuInfo& info);

// "Tavirel - Version 2.0.21 | CPU: <model> | Features: <list>"
std::string windowTitle(const CpuInfo& info);
