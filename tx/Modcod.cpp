#include "tx/Modcod.h"

#include "fec/Dvbs2BchCodes.h"

#include <cctype>

namespace tx {

namespace {

constexpr ModcodInfo kModcods[32] = {
    {0, "DUMMY FRAME", Constellation::None, 0, 1},
    {1, "QPSK 1/4", Constellation::Qpsk, 1, 4},
    {2, "QPSK 1/3", Constellation::Qpsk, 1, 3},
    {3, "QPSK 2/5", Constellation::Qpsk, 2, 5},
    {4, "QPSK 1/2", Constellation::Qpsk, 1, 2},
    {5, "QPSK 3/5", Constellation::Qpsk, 3, 5},
    {6, "QPSK 2/3", Constellation::Qpsk, 2, 3},
    {7, "QPSK 3/4", Constellation::Qpsk, 3, 4},
    {8, "QPSK 4/5", Constellation::Qpsk, 4, 5},
    {9, "QPSK 5/6", Constellation::Qpsk, 5, 6},
    {10, "QPSK 8/9", Constellation::Qpsk, 8, 9},
    {11, "QPSK 9/10", Constellation::Qpsk, 9, 10},
    {12, "8PSK 3/5", Constellation::Psk8, 3, 5},
    {13, "8PSK 2/3", Constellation::Psk8, 2, 3},
    {14, "8PSK 3/4", Constellation::Psk8, 3, 4},
    {15, "8PSK 5/6", Constellation::Psk8, 5, 6},
    {16, "8PSK 8/9", Constellation::Psk8, 8, 9},
    {17, "8PSK 9/10", Constellation::Psk8, 9, 10},
    {18, "16APSK 2/3", Constellation::Apsk16, 2, 3},
    {19, "16APSK 3/4", Constellation::Apsk16, 3, 4},
    {20, "16APSK 4/5", Constellation::Apsk16, 4, 5},
    {21, "16APSK 5/6", Constellation::Apsk16, 5, 6},
    {22, "16APSK 8/9", Constellation::Apsk16, 8, 9},
    {23, "16APSK 9/10", Constellation::Apsk16, 9, 10},
    {24, "32APSK 3/4", Constellation::Apsk32, 3, 4},
    {25, "32APSK 4/5", Constellation::Apsk32, 4, 5},
    {26, "32APSK 5/6", Constellation::Apsk32, 5, 6},
    {27, "32APSK 8/9", Constellation::Apsk32, 8, 9},
    {28, "32APSK 9/10", Constellation::Apsk32, 9, 10},
    {29, "RESERVED (29)", Constellation::None, 0, 1},
    {30, "RESERVED (30)", Constellation::None, 0, 1},
    {31, "RESERVED (31)", Constellation::None, 0, 1},
};

// Code rates in the order of tables B.1 … B.11 (and C.1 … C.10, without 9/10).
constexpr int kRates[11][2] = {{1, 4}, {1, 3}, {2, 5}, {1, 2}, {3, 5}, {2, 3},
                               {3, 4}, {4, 5}, {5, 6}, {8, 9}, {9, 10}};

std::string normalised(const std::string& s)
{
    std::string out;
    for (char c : s) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            if (!out.empty() && out.back() != ' ')
                out += ' ';
        } else {
            out += char(std::toupper(static_cast<unsigned char>(c)));
        }
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

} // namespace

const ModcodInfo& modcodInfo(int modcod)
{
    return kModcods[modcod & 31];
}

int modcodFromName(const std::string& name)
{
    const std::string wanted = normalised(name);
    for (const ModcodInfo& m : kModcods)
        if (wanted == m.name)
            return m.modcod;
    return -1;
}

int bitsPerSymbol(Constellation c)
{
    switch (c) {
    case Constellation::Qpsk: return 2;
    case Constellation::Psk8: return 3;
    case Constellation::Apsk16: return 4;
    case Constellation::Apsk32: return 5;
    case Constellation::None: break;
    }
    return 0;
}

bool fecParams(int modcod, FrameSize frame, FecParams& out)
{
    if (modcod < 1 || modcod > 28)
        return false;
    const ModcodInfo& m = kModcods[modcod];
    for (int r = 0; r < 11; ++r) {
        if (kRates[r][0] != m.rateNum || kRates[r][1] != m.rateDen)
            continue;
        if (frame == FrameSize::Short && r == 10)
            return false; // no 9/10 short FECFRAME (EN 302 307-1 table 5b)
        const int index = frame == FrameSize::Normal ? r : 11 + r;
        const Dvbs2BchCode& c = kDvbs2BchCodes[index];
        out = {index, c.nldpc, c.nbch, c.kbch, c.t};
        return true;
    }
    return false;
}

std::string dataModcodError(int modcod, FrameSize frame)
{
    FecParams p;
    if (fecParams(modcod, frame, p))
        return "";
    if (modcod == 0)
        return "MODCOD 0 is the dummy frame and carries no data";
    if (modcod < 0 || modcod > 28)
        return "MODCOD " + std::to_string(modcod) + " is reserved";
    return std::string("\"") + kModcods[modcod].name + "\" does not exist with short frames (no 9/10 short FECFRAME)";
}

int slotsPerFrame(int modcod, FrameSize frame)
{
    const int bits = bitsPerSymbol(kModcods[modcod & 31].constellation);
    if (bits == 0)
        return 36;
    const int n = frame == FrameSize::Normal ? 64800 : 16200;
    return n / bits / 90;
}

int pilotBlocks(int slots, bool pilots)
{
    return pilots ? (slots - 1) / 16 : 0;
}

int plframeSymbols(int modcod, FrameSize frame, bool pilots)
{
    const int slots = slotsPerFrame(modcod, frame);
    const bool withPilots = pilots && bitsPerSymbol(kModcods[modcod & 31].constellation) > 0;
    return 90 + 90 * slots + 36 * pilotBlocks(slots, withPilots);
}

} // namespace tx
