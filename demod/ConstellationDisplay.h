// Where the demodulator shows its symbols: the constellation plot implements it.
#pragma once

#include <complex>
#include <vector>

class ConstellationObject;

class ConstellationDisplay {
public:
    virtual ~ConstellationDisplay() = default;
    // The symbols of one block chosen by the display source; called on the
    // demodulator's thread with its parameter mutex held: copy and return.
    virtual void showSymbols(const std::vector<std::complex<float>>& symbols) = 0;
    // The constellation to draw as reference (null: none).
    virtual void setReference(const ConstellationObject* constellation) = 0;
};
