// Bit interleaving of 8PSK, 16APSK and 32APSK FECFRAMEs, EN 302 307-1 §5.3.3:
// written column-wise into 3, 4 or 5 columns, read row-wise (8PSK 3/5: the
// columns read in reverse order). QPSK is not interleaved.
#pragma once

#include <cstdint>

namespace tx {

// The FECFRAME (N_ldpc bits packed MSB first) → one bit label per symbol
// (first bit read = most significant bit), N_ldpc / bitsPerSymbol labels.
void interleaveToLabels(const uint8_t* fecframe, int nldpc, int modcod, uint8_t* labels);

} // namespace tx
