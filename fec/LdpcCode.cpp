// The DVB-S2 LDPC codes by index and the frame-tag rule that picks one (EN 302 307-1 Table 5).
#include "fec/LdpcCode.h"

int codeIndexForFrame(uint8_t tag)
{
    // Rate of each MODCOD as an index into B.1 … B.11 (1/4 … 9/10); −1: no code.
    static constexpr int8_t rateOfModcod[32] = {
        -1,                                // dummy frame
        0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10,  // QPSK 1/4 … 9/10
        4, 5, 6, 8, 9, 10,                 // 8PSK 3/5, 2/3, 3/4, 5/6, 8/9, 9/10
        5, 6, 7, 8, 9, 10,                 // 16APSK 2/3 … 9/10
        6, 7, 8, 9, 10,                    // 32APSK 3/4 … 9/10
        -1, -1, -1,                        // reserved
    };
    const int rate = rateOfModcod[tag & 0x1f];
    if (rate < 0)
        return -1;
    if ((tag & 0x20) == 0)
        return rate;
    return rate == 10 ? -1 : 11 + rate; // no short 9/10 code
}

LDPCInterface* createLdpcCode(int codeIndex)
{
    switch (codeIndex) {
    case 0: return new LDPC<DVB_S2_TABLE_B1>();
    case 1: return new LDPC<DVB_S2_TABLE_B2>();
    case 2: return new LDPC<DVB_S2_TABLE_B3>();
    case 3: return new LDPC<DVB_S2_TABLE_B4>();
    case 4: return new LDPC<DVB_S2_TABLE_B5>();
    case 5: return new LDPC<DVB_S2_TABLE_B6>();
    case 6: return new LDPC<DVB_S2_TABLE_B7>();
    case 7: return new LDPC<DVB_S2_TABLE_B8>();
    case 8: return new LDPC<DVB_S2_TABLE_B9>();
    case 9: return new LDPC<DVB_S2_TABLE_B10>();
    case 10: return new LDPC<DVB_S2_TABLE_B11>();
    case 11: return new LDPC<DVB_S2_TABLE_C1>();
    case 12: return new LDPC<DVB_S2_TABLE_C2>();
    case 13: return new LDPC<DVB_S2_TABLE_C3>();
    case 14: return new LDPC<DVB_S2_TABLE_C4>();
    case 15: return new LDPC<DVB_S2_TABLE_C5>();
    case 16: return new LDPC<DVB_S2_TABLE_C6>();
    case 17: return new LDPC<DVB_S2_TABLE_C7>();
    case 18: return new LDPC<DVB_S2_TABLE_C8>();
    case 19: return new LDPC<DVB_S2_TABLE_C9>();
    case 20: return new LDPC<DVB_S2_TABLE_C10>();
    default: return nullptr;
    }
}
