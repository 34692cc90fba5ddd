// libFuzzer target: the DVB-S2 outer BCH decoder against its bit-wise
// reference, on codewords with chosen errors and on arbitrary frames.
//
// Input: byte 0 = code (mod 21, bit 7: the frame as given, not a codeword);
// byte 1 = error count e (mod 64), then e positions of two bytes each; the
// rest fills the data bits (zeros beyond). A codeword with at most t errors
// must be put right exactly; with more, or for an arbitrary frame, the fast
// and reference decoders must agree, and a claimed correction must end on a
// codeword.
#include "fec/BbDescrambleTable.h"
#include "fec/BchDecoder.h"
#include "fec/Dvbs2BchCodes.h"
#include "tx/BchEncoder.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static std::unique_ptr<BchDecoder> decoders[21];
    static std::unique_ptr<tx::BchEncoder> encoders[21];
    if (size < 2)
        return 0;
    const int index = (data[0] & 0x7f) % 21;
    const bool raw = data[0] & 0x80;
    if (!decoders[index]) {
        decoders[index] = std::make_unique<BchDecoder>(index, kBbScrambleTable.data());
        encoders[index] = std::make_unique<tx::BchEncoder>(index);
    }
    const BchDecoder& decoder = *decoders[index];
    const int n = decoder.nbch();
    const int t = decoder.t();
    size_t at = 1;
    const int count = data[at++] % 64;
    std::set<int> errors;
    for (int e = 0; e < count && at + 1 < size; ++e, at += 2)
        errors.insert((data[at] << 8 | data[at + 1]) % n);

    std::vector<uint8_t> frame(size_t(n / 8), 0);
    const size_t fill = raw ? frame.size() : size_t(decoder.kbch() / 8);
    if (at < size)
        std::memcpy(frame.data(), data + at, std::min(fill, size - at));
    if (!raw) {
        encoders[index]->encode(frame.data(), frame.data());
        for (size_t i = 0; i < frame.size(); ++i)
            frame[i] ^= kBbScrambleTable[i];
    }
    const std::vector<uint8_t> sent = frame;
    for (const int i : errors)
        frame[size_t(i / 8)] ^= uint8_t(0x80 >> (i % 8));
    const std::vector<uint8_t> received = frame;
    std::vector<uint8_t> reference = frame;

    const int result = decoder.decode(frame.data());
    if (result != decoder.decodeReference(reference.data()) || frame != reference)
        std::abort();
    if (!raw && int(errors.size()) <= t && (result != int(errors.size()) || frame != sent))
        std::abort();
    if (result == BchDecoder::kFailed) {
        if (frame != received)
            std::abort();
    } else {
        uint16_t s[2 * BchDecoder::kMaxT];
        if (result > t || !decoder.syndromesReference(frame.data(), s))
            std::abort();
    }
    return 0;
}
