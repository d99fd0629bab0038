// Resamples a 16-bit PCM WAVE from one sample rate to another with libsoxr at
// its very-high quality and writes a 16-bit PCM WAVE with the plain 44-byte
// header that the sound check reads at fixed offsets (see ResamplePcm16).

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "convertermain.h"
#include "soundconvert.h"

namespace {

const char kProgram[] = "sr-convert";

// A rate is a plain decimal number of hertz within the range that real
// sound files use; anything else is refused before any file is touched.
long ParseRate(const std::string &text)
{
    if (text.empty() || text.size() > 7
        || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    const long rate = std::stol(text);
    return rate >= kMinResampleRate && rate <= kMaxResampleRate ? rate : 0;
}

} // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t *argv[])
#else
int main(int argc, char *argv[])
#endif
{
    const CommandLine line = ParseCommandLine(argc, argv);
    if (line.arguments.size() != 4) {
        std::fprintf(stderr,
                     "usage: %s [--progress] INPUT RATE OUTPUT NEWRATE (rates in Hz, %ld to %ld)\n",
                     kProgram, kMinResampleRate, kMaxResampleRate);
        return EXIT_FAILURE;
    }
    const long fromRate = ParseRate(line.arguments[1]);
    const long toRate = ParseRate(line.arguments[3]);
    if (fromRate == 0 || toRate == 0) {
        std::fprintf(stderr, "%s: rates must be whole numbers of Hz from %ld to %ld\n", kProgram,
                     kMinResampleRate, kMaxResampleRate);
        return EXIT_FAILURE;
    }
    std::string error;
    std::string warning;
    const bool resampled = ResamplePcm16(line.arguments[0], fromRate, line.arguments[2], toRate,
                                         ControlFor(line), &error, &warning);
    if (!warning.empty())
        Report(kProgram, warning);
    return ExitStatus(kProgram, resampled, error);
}
