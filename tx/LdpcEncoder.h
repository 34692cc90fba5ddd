// Inner LDPC encoding of DVB-S2, EN 302 307-1 §5.3.2 with the parity-address
// tables of Annexes B and C (fec/Dvbs2LdpcTables.h).
#pragma once

#include <cstdint>
#include <vector>

namespace tx {

class LdpcEncoder {
public:
    // codeIndex: 0 … 10 normal codes (B.1 … B.11), 11 … 20 short (C.1 … C.10).
    explicit LdpcEncoder(int codeIndex);

    int n() const { return nldpc; }
    int k() const { return kldpc; }

    // K_ldpc information bits in `in` (packed MSB first) → N_ldpc codeword bits
    // in `out` (information, then parity). in may equal out.
    void encode(const uint8_t* in, uint8_t* out);

    // The check-node lists of the code's parity-check matrix: check j joins the
    // information bits listed for it, parity bit j and (j > 0) parity bit j − 1.
    static std::vector<std::vector<int>> checkNodes(int codeIndex);

private:
    int codeIndex;
    int nldpc;
    int kldpc;
    std::vector<uint8_t> bits;   // information bits, one per byte
    std::vector<uint8_t> parity; // parity bits, one per byte
};

} // namespace tx
