// What both converters share: their one-line error reports, the canonical
// 16-bit WAVE they write, and writing it so that a failed run never leaves a
// partial output behind.
#ifndef CANONICALWAVE_H
#define CANONICALWAVE_H

#include <sndfile.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <system_error>

// Each converter defines its own name for its messages.
extern const char *const kProgram;

// A WAVE file counts its bytes in 32 bits, header included.
constexpr std::uint64_t kMaxDataBytes = 0xFFFFFFFFull - 36;

struct SndfileCloser {
    void operator()(SNDFILE *file) const { sf_close(file); }
};
using SoundFile = std::unique_ptr<SNDFILE, SndfileCloser>;

inline bool Fail(const std::string &message)
{
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    return false;
}

// libsndfile writes exactly the 44-byte header (16-byte format chunk, data
// tag at offset 36, nothing after the data) for 16-bit PCM with one or two
// channels, as long as no strings are set.
inline SoundFile OpenCanonicalWave(const std::string &path, int rate, int channels)
{
    SF_INFO info = {};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SoundFile out(sf_open(path.c_str(), SFM_WRITE, &info));
    if (!out)
        Fail(std::string("cannot write output: ") + sf_strerror(nullptr));
    return out;
}

inline bool CloseOutput(SoundFile &out)
{
    return sf_close(out.release()) == 0 || Fail("cannot finish output");
}

// Reserves a fresh name beside the output for the result to be written to.
inline std::string ReserveTemporaryName(const std::string &output)
{
    for (int n = 0; n < 1000; ++n) {
        const std::string name = output + ".part" + std::to_string(n);
        if (std::FILE *file = std::fopen(name.c_str(), "wx")) {
            std::fclose(file);
            return name;
        }
        if (errno != EEXIST)
            break;
    }
    return std::string();
}

// Runs `write` on a temporary file beside `output` and renames it over
// `output` only when it succeeded; otherwise removes it.
inline bool WriteReplacing(const std::string &output,
                           const std::function<bool(const std::string &)> &write)
{
    const std::string temporary = ReserveTemporaryName(output);
    if (temporary.empty())
        return Fail("cannot create a file beside " + output + ": " + std::strerror(errno));
    std::error_code error;
    if (write(temporary)) {
        std::filesystem::rename(temporary, output, error);
        if (!error)
            return true;
        Fail("cannot create " + output + ": " + error.message());
    }
    std::filesystem::remove(temporary, error);
    return false;
}

#endif
