// The MPEG-2 transport stream packet (ISO/IEC 13818-1 §2.4.3): its size and
// the sync byte it starts with, for everything that handles packets.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kTsPacketBytes = 188;
constexpr uint8_t kTsSyncByte = 0x47;
