// Converts any sound file that libsndfile reads into a 16-bit PCM WAVE at
// the input's sample rate, with the plain 44-byte header that the sound
// check reads at fixed offsets (see ConvertToPcm16).

#include <cstdio>
#include <cstdlib>
#include <string>

#include "convertermain.h"
#include "soundconvert.h"

namespace {

const char kProgram[] = "sndfile-convert-to-microsoft-pcm16";

} // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t *argv[])
#else
int main(int argc, char *argv[])
#endif
{
    const CommandLine line = ParseCommandLine(argc, argv);
    if (line.arguments.size() != 2) {
        std::fprintf(stderr, "usage: %s [--progress] INPUT OUTPUT\n", kProgram);
        return EXIT_FAILURE;
    }
    std::string error;
    const bool converted =
        ConvertToPcm16(line.arguments[0], line.arguments[1], ControlFor(line), &error);
    return ExitStatus(kProgram, converted, error);
}
