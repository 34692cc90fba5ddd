// tavirel-ldpc-fer: frame-error rate and average update passes of the LDPC
// decoder versus Es/N0, over AWGN with the demodulator's soft-value scaling.
//
//   tavirel-ldpc-fer CODE FROM_DB TO_DB STEP_DB FRAMES [qpsk|8psk] [fast|reference]
//
// CODE is 0 … 10 (B.1 … B.11, normal frames) or 11 … 20 (C.1 … C.10, short).
#include "../tests/fec/FecTestFrames.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 6) {
        std::fprintf(stderr,
                     "usage: %s CODE FROM_DB TO_DB STEP_DB FRAMES [qpsk|8psk] [fast|reference] [LEVEL]\n"
                     "  CODE 0 … 10: normal frames B.1 … B.11; 11 … 20: short frames C.1 … C.10\n"
                     "  LEVEL: symbol scale before the soft values (the chain delivers about 0.61)\n",
                     argv[0]);
        return 2;
    }
    const int code = std::atoi(argv[1]);
    const double from = std::atof(argv[2]);
    const double to = std::atof(argv[3]);
    const double step = std::atof(argv[4]);
    const int frames = std::atoi(argv[5]);
    const bool psk8 = argc > 6 && std::strcmp(argv[6], "8psk") == 0;
    const bool reference = argc > 7 && std::strcmp(argv[7], "reference") == 0;
    const double level = argc > 8 ? std::atof(argv[8]) : 1.0;
    if (code < 0 || code >= kLdpcCodeCount || step <= 0 || frames <= 0 || !(level > 0)) {
        std::fprintf(stderr, "bad arguments\n");
        return 2;
    }
    fectest::TestDecoder decoder(code);
    const int n = fectest::frameBits(code);
    std::mt19937 rng(1);
    std::printf("code %d (%s frame), %s, %s decoder, QPSK QEF Es/N0 %.2f dB\n", code, code < 11 ? "normal" : "short",
                psk8 ? "8PSK-like" : "QPSK", reference ? "reference" : "fast", fectest::qpskThresholdDb(code));
    std::printf("Es/N0 dB   FER        avg passes  bit errors in BBFRAME\n");
    std::vector<uint8_t> out(static_cast<size_t>(n / 8));
    for (double esN0 = from; esN0 <= to + 1e-9; esN0 += step) {
        int failed = 0;
        long passes = 0;
        long bitErrors = 0;
        for (int f = 0; f < frames; ++f) {
            const fectest::EncodedFrame frame = fectest::encodeRandomFrame(code, rng);
            const std::vector<int8_t> soft = fectest::softValues(
                frame.codeword, n, esN0, psk8 ? fectest::Channel::Psk8 : fectest::Channel::Qpsk, rng, level);
            const int result = reference ? decoder->decodeReference(soft.data(), out.data())
                                         : decoder->decodeFast(soft.data(), out.data());
            bool wrong = result < 0;
            for (size_t b = 0; b < frame.bbframe.size(); ++b) {
                const int diff = __builtin_popcount(unsigned(frame.bbframe[b] ^ out[b]));
                bitErrors += diff;
                wrong = wrong || diff != 0;
            }
            failed += wrong;
            passes += result < 0 ? 32 : 32 - result;
        }
        std::printf("%8.2f   %-9.4f  %-10.2f  %ld\n", esN0, double(failed) / frames, double(passes) / frames, bitErrors);
        std::fflush(stdout);
    }
    return 0;
}
