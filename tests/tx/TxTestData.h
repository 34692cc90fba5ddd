// Reading the transmitter's test vectors from tests/tx/data.
#pragma once

#include <complex>
#include <cstdint>
#include <string>
#include <vector>


std::string txDataPath(const std::string& name);
std::vector<uint8_t> readTxData(const std::string& name);
std::vector<std::complex<float>> readTxSymbols(const std::string& name);
