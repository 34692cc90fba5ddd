// Which of the demodulator's symbols the constellation plot shows, and where
// a block's worth of them is collected.
#pragma once

#include <complex>
#include <vector>

// The constellation-source selector of the window: every symbol, the data
// slots, the SOF and PLS code, the pilot blocks.
enum class DisplaySource { All = 0, Data = 1, Header = 2, Pilots = 3 };

struct SymbolTap {
    DisplaySource source = DisplaySource::All;
    std::vector<std::complex<float>> symbols;   // of the last block

    void offer(DisplaySource from, std::complex<float> s)
    {
        if (from == source)
            symbols.push_back(s);
    }
};
