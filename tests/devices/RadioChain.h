// A radio's samples through the whole receiver: the device opened on a chain
// set up for its sample rate, the transport stream that comes out collected.
#pragma once

#include "devices/InputDevice.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Signal of the test transmitter, in the format `format` (s8, s16, u8 …) at
// `sampleRate`: DVB-S2 QPSK 1/2 with pilots at 1 Msym/s carrying the TS file
// `ts` from its start, `frames` PL frames, Es/N0 12 dB.
std::vector<uint8_t> transmitterSamples(const std::string& format, uint64_t sampleRate, const std::string& ts,
                                        int frames);

// Opens `device` on a chain for `sampleRate` (sample by sample, or in runs
// through the block callback), waits until `delivered` holds and the chain
// has worked through it, closes the device and returns the TS.
std::vector<uint8_t> receiveThroughChain(InputDevice& device, uint64_t sampleRate, bool inRuns,
                                         const std::function<bool()>& delivered);
