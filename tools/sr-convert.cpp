// Resamples a 16-bit PCM WAVE from one sample rate to another with libsoxr at
// its very-high quality and writes a 16-bit PCM WAVE with the plain 44-byte
// header (16-byte format chunk, data tag at offset 36, nothing after the
// data) that the sound check reads at fixed offsets.

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "canonicalwave.h"

const char *const kProgram = "sr-convert";

namespace {

constexpr long kMinRate = 1000;
constexpr long kMaxRate = 768000;
constexpr int kMaxChannels = 2;
constexpr size_t kBlockFrames = 16384;

struct SoxrDeleter {
    void operator()(soxr_t resampler) const { soxr_delete(resampler); }
};
using Resampler = std::unique_ptr<soxr, SoxrDeleter>;

// A rate is a plain decimal number of hertz within the range that real
// sound files use; anything else is refused before any file is touched.
long ParseRate(const std::string &text)
{
    if (text.empty() || text.size() > 7
        || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    const long rate = std::stol(text);
    return rate >= kMinRate && rate <= kMaxRate ? rate : 0;
}

// libsndfile reads 16-bit samples as value / 32768; the same factor back
// keeps unchanged samples exact. The filter's overshoot clips at full scale.
short ToShort(float sample)
{
    return static_cast<short>(std::clamp(std::lrint(sample * 32768.0f), -32768L, 32767L));
}

class Resampling
{
public:
    Resampling(SNDFILE *in, SNDFILE *out, soxr_t resampler, int channels)
        : in_(in), out_(out), resampler_(resampler), channels_(channels),
          input_(kBlockFrames * channels), output_(kBlockFrames * channels),
          pcm_(kBlockFrames * channels)
    {
    }

    bool Run();

private:
    bool Process(const float *samples, size_t frames, size_t *used, size_t *produced);

    SNDFILE *in_;
    SNDFILE *out_;
    soxr_t resampler_;
    int channels_;
    std::vector<float> input_;
    std::vector<float> output_;
    std::vector<short> pcm_;
    std::uint64_t dataBytes_ = 0;
};

// Feeds one stretch of input (none: end of input, the filter's tail is
// flushed) and writes whatever the resampler gives back.
bool Resampling::Process(const float *samples, size_t frames, size_t *used, size_t *produced)
{
    if (soxr_error_t error = soxr_process(resampler_, samples, frames, used, output_.data(),
                                          kBlockFrames, produced))
        return Fail(std::string("resampling failed: ") + error);
    const size_t count = *produced * channels_;
    std::transform(output_.begin(), output_.begin() + count, pcm_.begin(), ToShort);
    dataBytes_ += count * 2;
    if (dataBytes_ > kMaxDataBytes)
        return Fail("output is too long for a WAVE file");
    const auto frames64 = static_cast<sf_count_t>(*produced);
    if (sf_writef_short(out_, pcm_.data(), frames64) != frames64)
        return Fail(std::string("cannot write output: ") + sf_strerror(out_));
    return true;
}

bool Resampling::Run()
{
    sf_count_t frames;
    while ((frames = sf_readf_float(in_, input_.data(), kBlockFrames)) > 0) {
        size_t offset = 0;
        while (offset < static_cast<size_t>(frames)) {
            size_t used = 0;
            size_t produced = 0;
            if (!Process(input_.data() + offset * channels_, frames - offset, &used, &produced))
                return false;
            if (used == 0 && produced == 0)
                return Fail("resampler made no progress");
            offset += used;
        }
    }
    if (sf_error(in_) != SF_ERR_NO_ERROR)
        return Fail(std::string("cannot read input: ") + sf_strerror(in_));

    size_t produced = 0;
    do {
        size_t used = 0;
        if (!Process(nullptr, 0, &used, &produced))
            return false;
    } while (produced > 0);
    return true;
}

bool WriteResampled(SNDFILE *in, int channels, long fromRate, long toRate,
                    const std::string &path)
{
    soxr_error_t error = nullptr;
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    Resampler resampler(
        soxr_create(double(fromRate), double(toRate), unsigned(channels), &error, nullptr,
                    &quality, nullptr));
    if (error)
        return Fail(std::string("cannot set up the resampler: ") + error);

    SoundFile out = OpenCanonicalWave(path, int(toRate), channels);
    if (!out)
        return false;
    return Resampling(in, out.get(), resampler.get(), channels).Run() && CloseOutput(out);
}

bool Convert(const std::string &input, long fromRate, const std::string &output, long toRate)
{
    SF_INFO info = {};
    SoundFile in(sf_open(input.c_str(), SFM_READ, &info));
    if (!in)
        return Fail(input + ": " + sf_strerror(nullptr));
    // The rate is given twice, by the caller and by the file; a mismatch
    // means the caller read another file, and resampling would shift pitch.
    if (info.samplerate != fromRate)
        return Fail(input + ": sample rate is " + std::to_string(info.samplerate)
                    + " Hz, not " + std::to_string(fromRate) + " Hz");
    if (info.channels < 1 || info.channels > kMaxChannels)
        return Fail(input + ": " + std::to_string(info.channels)
                    + " channels; one or two are supported");

    return WriteReplacing(output, [&](const std::string &temporary) {
        const bool written = WriteResampled(in.get(), info.channels, fromRate, toRate, temporary);
        in.reset();
        return written;
    });
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s INPUT RATE OUTPUT NEWRATE (rates in Hz, %ld to %ld)\n",
                     kProgram, kMinRate, kMaxRate);
        return EXIT_FAILURE;
    }
    const long fromRate = ParseRate(argv[2]);
    const long toRate = ParseRate(argv[4]);
    if (fromRate == 0 || toRate == 0) {
        std::fprintf(stderr, "%s: rates must be whole numbers of Hz from %ld to %ld\n", kProgram,
                     kMinRate, kMaxRate);
        return EXIT_FAILURE;
    }
    return Convert(argv[1], fromRate, argv[3], toRate) ? EXIT_SUCCESS : EXIT_FAILURE;
}
