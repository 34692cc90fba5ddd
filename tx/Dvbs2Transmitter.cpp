#include "tx/Dvbs2Transmitter.h"

#include "tx/BitInterleaver.h"

#include <cstring>

namespace tx {

Dvbs2Transmitter::Dvbs2Transmitter(const Dvbs2Config& config, BbFrameBuilder& builder)
    : config(config), builder(builder), framer(config.scramblingCode)
{
    for (int m : config.modcods)
        points[size_t(m)] = constellationPoints(m);
}

Dvbs2Transmitter::Code& Dvbs2Transmitter::code(int index)
{
    Code& c = codes[size_t(index)];
    if (!c.bch) {
        c.bch = std::make_unique<BchEncoder>(index);
        c.ldpc = std::make_unique<LdpcEncoder>(index);
    }
    return c;
}

void Dvbs2Transmitter::nextFrame(std::vector<cf32>& symbols)
{
    const int wanted = config.modcods[nextModcod];
    FecParams fec;
    fecParams(wanted, config.frame, fec);
    bbframe.resize(size_t(fec.kbch / 8));
    const bool ccm = config.modcods.size() == 1;
    if (!builder.build(fec.kbch, ccm, bbframe.data())) {
        dummy = true;
        framer.dummyFrame(symbols);
        return;
    }
    dummy = false;
    modcod = wanted;
    nextModcod = (nextModcod + 1) % config.modcods.size();

    Code& c = code(fec.codeIndex);
    fecframe.resize(size_t(fec.nldpc / 8));
    std::memcpy(fecframe.data(), bbframe.data(), bbframe.size());
    scrambler.apply(fecframe.data(), int(bbframe.size()));
    c.bch->encode(fecframe.data(), fecframe.data());
    c.ldpc->encode(fecframe.data(), fecframe.data());

    const std::vector<cf32>& constellation = points[size_t(modcod)];
    const int symbolCount = fec.nldpc / bitsPerSymbol(modcodInfo(modcod).constellation);
    labels.resize(size_t(symbolCount));
    interleaveToLabels(fecframe.data(), fec.nldpc, modcod, labels.data());
    data.resize(size_t(symbolCount));
    for (int s = 0; s < symbolCount; ++s)
        data[size_t(s)] = constellation[labels[size_t(s)]];
    framer.frame(modcod, config.frame == FrameSize::Short, config.pilots, data.data(), symbolCount, symbols);
}

} // namespace tx
