#include "demod/SoftDemapper.h"

#include "demod/CarrierLoop.h"
#include "demod/PlSignalling.h"

#include <array>
#include <cmath>

const float SoftDemapper::kCos22_5 = demodSineTable()[48];
const float SoftDemapper::kSin22_5 = demodSineTable()[16];

void SoftDemapper::start(uint8_t plsCode)
{
    pls = plsCode;
    constellation = s2ModcodRow(plsModcod(plsCode)).constellationIndex;
    reversedColumns = plsModcod(plsCode) == 12;   // 8PSK 3/5: columns in reverse order
    frameValues = plsShortFrame(plsCode) ? 16200u : 64800u;
    written = 0;
}

