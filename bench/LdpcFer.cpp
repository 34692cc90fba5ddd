// tavirel-ldpc-fer: frame-error rate and average update passes of the LDPC
// decoder versus Es/N0, over AWGN through the demodulator's own soft values.
//
//   tavirel-ldpc-fer CODE FROM_DB TO_DB STEP_DB FRAMES [options]
//
// CODE is 0 … 10 (B.1 … B.11, normal frames) or 11 … 20 (C.1 … C.10, short).
// A frame counts as failed when the LDPC stage would fail it (LDPC and BCH
// as the stage combines them; the LDPC decoder alone with --no-bch) or when
// its BBFRAME differs from the one sent.
#include "../tests/fec/FecTestFrames.h"

#include "fec/BbDescrambleTable.h"
#include "fec/BchDecoder.h"
#include "fec/ChannelLlr.h"
#include "fec/LDPCWorker.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace {

void usage(const char* name)
{
    std::fprintf(stderr,
                 "usage: %s CODE FROM_DB TO_DB STEP_DB FRAMES [options]\n"
                 "  CODE 0 … 10: normal frames B.1 … B.11; 11 … 20: short frames C.1 … C.10\n"
                 "  --channel qpsk|8psk|16apsk|32apsk|8psk-like  symbols through the demapper\n"
                 "                                 (default qpsk), or the old per-bit 8PSK projections\n"
                 "  --decoder scaled|standard      default scaled\n"
                 "  --reference                    the scalar reference instead of the vector decoder\n"
                 "  --level L                      symbol scale before the demapper (default 0.61, as the chain)\n"
                 "  --no-bch                       count frames the LDPC decoder alone leaves wrong\n"
                 "  --estimate                     scaled decoder: Es/N0 from each frame, not the true value\n"
                 "  --offset N --shift N --messages M --passes P   override the profile's rule\n",
                 name);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 6) {
        usage(argv[0]);
        return 2;
    }
    const int code = std::atoi(argv[1]);
    const double from = std::atof(argv[2]);
    const double to = std::atof(argv[3]);
    const double step = std::atof(argv[4]);
    const int frames = std::atoi(argv[5]);
    std::string channel = "qpsk";
    bool scaled = true;
    bool reference = false;
    bool estimate = false;
    bool bch = true;
    double level = 0.61;
    LdpcDecoderProfile profile = LdpcDecoder::scaledProfile(code);
    int offset = -1, shift = -1, messages = -1, passes = -1;
    for (int a = 6; a < argc; ++a) {
        const std::string arg = argv[a];
        const bool hasValue = a + 1 < argc;
        if (arg == "--channel" && hasValue)
            channel = argv[++a];
        else if (arg == "--decoder" && hasValue)
            scaled = std::strcmp(argv[++a], "standard") != 0;
        else if (arg == "--reference")
            reference = true;
        else if (arg == "--no-bch")
            bch = false;
        else if (arg == "--estimate")
            estimate = true;
        else if (arg == "--level" && hasValue)
            level = std::atof(argv[++a]);
        else if (arg == "--offset" && hasValue)
            offset = std::atoi(argv[++a]);
        else if (arg == "--shift" && hasValue)
            shift = std::atoi(argv[++a]);
        else if (arg == "--messages" && hasValue)
            messages = std::atoi(argv[++a]);
        else if (arg == "--passes" && hasValue)
            passes = std::atoi(argv[++a]);
        else {
            usage(argv[0]);
            return 2;
        }
    }
    const bool psk8 = channel == "8psk";
    const bool psk8Like = channel == "8psk-like";
    const int apskBits = channel == "16apsk" ? 4 : channel == "32apsk" ? 5 : 0;
    const uint8_t pls = apskBits > 0 ? fectest::apskPlsCodeFor(code, apskBits) : fectest::plsCodeFor(code, psk8);
    if (code < 0 || code >= kLdpcCodeCount || step <= 0 || frames <= 0 || !(level > 0) || pls == 0
        || !(psk8 || psk8Like || apskBits > 0 || channel == "qpsk") || (psk8Like && scaled)) {
        std::fprintf(stderr, "bad arguments (8PSK has no rate below 3/5 or 4/5, 16APSK none below 2/3, 32APSK none "
                             "below 3/4; 8psk-like is for the standard decoder)\n");
        return 2;
    }
    if (!scaled)
        profile = LdpcDecoder::standardProfile();
    if (offset >= 0)
        profile.rule.offset = int8_t(offset);
    if (shift >= 0)
        profile.rule.scaleShift = int8_t(shift);
    if (messages > 0) {
        profile.rule.messageLow = int8_t(-std::min(messages, 127));
        profile.rule.messageHigh = int8_t(std::min(messages, 127));
    }
    if (passes > 0)
        profile.passes = passes;


    fectest::TestDecoder decoder(code);
    const BchDecoder outer(code, kBbScrambleTable.data());
    decoder->setProfile(profile);
    const LdpcDecoderProfile& used = decoder->profile();
    const int n = fectest::frameBits(code);
    std::mt19937 rng(1);
    std::printf("code %d (%s frame), %s, %s decoder%s (offset %d, shift %d, messages %d … %d, %d passes), "
                "QPSK QEF Es/N0 %.2f dB\n",
                code, code < 11 ? "normal" : "short", channel.c_str(), scaled ? "scaled" : "standard",
                reference ? " (reference)" : "", used.rule.offset, used.rule.scaleShift, used.rule.messageLow,
                used.rule.messageHigh, used.passes, fectest::qpskThresholdDb(code));
    std::printf("Es/N0 dB   FER        avg passes  bit errors in BBFRAME%s\n", bch ? " (after BCH)" : "");
    std::vector<uint8_t> out(static_cast<size_t>(n / 8));
    for (double esN0 = from; esN0 <= to + 1e-9; esN0 += step) {
        int failed = 0;
        long passCount = 0;
        long bitErrors = 0;
        for (int f = 0; f < frames; ++f) {
            const fectest::EncodedFrame frame = fectest::encodeRandomFrame(code, rng);
            std::vector<int8_t> soft =
                psk8Like ? fectest::softValues(frame.codeword, n, esN0, fectest::Channel::Psk8, rng, level)
                         : fectest::demappedValues(frame.codeword, pls, esN0, rng, level);
            if (scaled)
                ChannelLlr::convert(soft.data(), n, pls, estimate ? NAN : float(esN0));
            const int result = reference ? decoder->decodeReference(soft.data(), out.data())
                                         : decoder->decodeFast(soft.data(), out.data());
            const int corrected = bch ? outer.decode(out.data()) : 0;
            // As the LDPC stage judges a frame.
            bool wrong = bch ? !LDPCWorker::wordIsGood(result, corrected, *decoder) : result < 0;
            for (size_t b = 0; b < frame.bbframe.size(); ++b) {
                const int diff = __builtin_popcount(unsigned(frame.bbframe[b] ^ out[b]));
                bitErrors += diff;
                wrong = wrong || diff != 0;
            }
            failed += wrong;
            passCount += result < 0 ? used.passes : used.passes - result;
        }
        std::printf("%8.2f   %-9.4f  %-10.2f  %ld\n", esN0, double(failed) / frames, double(passCount) / frames,
                    bitErrors);
        std::fflush(stdout);
    }
    return 0;
}
