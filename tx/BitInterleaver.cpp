#include "tx/BitInterleaver.h"

#include "tx/Modcod.h"

namespace tx {

namespace {
inline int bitAt(const uint8_t* bytes, int i)
{
    return bytes[i >> 3] >> (7 - (i & 7)) & 1;
}
} // namespace

void interleaveToLabels(const uint8_t* fecframe, int nldpc, int modcod, uint8_t* labels)
{
    const int columns = bitsPerSymbol(modcodInfo(modcod).constellation);
    const int rows = nldpc / columns;
    if (columns == 2) {
        for (int s = 0; s < rows; ++s)
            labels[s] = uint8_t(bitAt(fecframe, 2 * s) << 1 | bitAt(fecframe, 2 * s + 1));
        return;
    }
    const bool reversed = modcod == 12; // 8PSK 3/5: column order 3, 2, 1
    for (int s = 0; s < rows; ++s) {
        int label = 0;
        for (int c = 0; c < columns; ++c) {
            const int column = reversed ? columns - 1 - c : c;
            label = label << 1 | bitAt(fecframe, column * rows + s);
        }
        labels[s] = uint8_t(label);
    }
}

} // namespace tx
