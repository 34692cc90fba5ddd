#include "TxTestData.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>


std::string txDataPath(const std::string& name)
{
    return std::string(TAVIREL_TX_TEST_DATA) + "/" + name;
}

std::vector<uint8_t> readTxData(const std::string& name)
{
    std::ifstream in(txDataPath(name), std::ios::binary);
    if (!in)
        throw std::runtime_error("missing test data " + txDataPath(name));
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::complex<float>> readTxSymbols(const std::string& name)
{
    const std::vector<uint8_t> bytes = readTxData(name);
    std::vector<std::complex<float>> s(bytes.size() / 8);
    std::memcpy(s.data(), bytes.data(), s.size() * 8); // little-endian float32 pairs on x86-64
    return s;
}
