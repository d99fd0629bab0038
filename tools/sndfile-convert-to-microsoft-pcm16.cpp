// Converts any sound file that libsndfile reads into a 16-bit PCM WAVE at
// the input's sample rate, with the plain 44-byte header (16-byte format
// chunk, data tag at offset 36, nothing after the data) that the sound check
// reads at fixed offsets. At most two channels are kept.

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "canonicalwave.h"

const char *const kProgram = "sndfile-convert-to-microsoft-pcm16";

namespace {

constexpr int kMaxOutputChannels = 2;
// Samples per read, across all channels: bounded memory whatever the length.
constexpr sf_count_t kBlockSamples = 65536;

// Formats whose decoder yields floating-point samples: these are read as
// doubles so that values beyond full scale can be scaled instead of wrapped.
bool HasFloatSamples(int format)
{
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS:
    case SF_FORMAT_MPEG_LAYER_I:
    case SF_FORMAT_MPEG_LAYER_II:
    case SF_FORMAT_MPEG_LAYER_III:
        return true;
    default:
        return false;
    }
}

short Clamp16(long value)
{
    return static_cast<short>(std::clamp(value, -32768L, 32767L));
}

// libsndfile hands integer samples left-aligned in 32 bits; its own
// conversion to 16 bits truncates, which biases every deeper source by half
// a step. This rounds to nearest instead.
short RoundToShort(int sample)
{
    return Clamp16(static_cast<long>((static_cast<std::int64_t>(sample) + 0x8000) >> 16));
}

short ScaleToShort(double sample, double gain)
{
    return Clamp16(std::lrint(sample * gain * 32767.0));
}

class Converter
{
public:
    Converter(SNDFILE *in, const SF_INFO &info, SNDFILE *out)
        : in_(in), channels_(info.channels),
          kept_(std::min(info.channels, kMaxOutputChannels)), out_(out),
          blockFrames_(std::max<sf_count_t>(1, kBlockSamples / info.channels)),
          pcm_(static_cast<size_t>(blockFrames_ * kept_))
    {
    }

    bool CopyIntegers();
    bool CopyFloats();

private:
    bool Write(sf_count_t frames);
    bool FinishedReading();
    bool FindPeak(double *peak);

    SNDFILE *in_;
    int channels_;
    int kept_;
    SNDFILE *out_;
    sf_count_t blockFrames_;
    std::vector<short> pcm_;
    std::uint64_t dataBytes_ = 0;
};

bool Converter::Write(sf_count_t frames)
{
    dataBytes_ += static_cast<std::uint64_t>(frames) * kept_ * 2;
    if (dataBytes_ > kMaxDataBytes)
        return Fail("input is too long for a WAVE file");
    if (sf_writef_short(out_, pcm_.data(), frames) != frames)
        return Fail(std::string("cannot write output: ") + sf_strerror(out_));
    return true;
}

// A read that ends early on a damaged file looks like the end of the data;
// only the error state tells them apart.
bool Converter::FinishedReading()
{
    return sf_error(in_) == SF_ERR_NO_ERROR
        || Fail(std::string("cannot read input: ") + sf_strerror(in_));
}

bool Converter::CopyIntegers()
{
    // Should a decoder that works in floating point slip through as
    // integer, its values clip at full scale rather than wrap around.
    sf_command(in_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    std::vector<int> block(static_cast<size_t>(blockFrames_ * channels_));
    sf_count_t frames;
    while ((frames = sf_readf_int(in_, block.data(), blockFrames_)) > 0) {
        for (sf_count_t f = 0; f < frames; ++f)
            for (int c = 0; c < kept_; ++c)
                pcm_[f * kept_ + c] = RoundToShort(block[f * channels_ + c]);
        if (!Write(frames))
            return false;
    }
    return FinishedReading();
}

bool Converter::FindPeak(double *peak)
{
    std::vector<double> block(static_cast<size_t>(blockFrames_ * channels_));
    *peak = 0.0;
    sf_count_t frames;
    while ((frames = sf_readf_double(in_, block.data(), blockFrames_)) > 0) {
        for (sf_count_t f = 0; f < frames; ++f) {
            for (int c = 0; c < kept_; ++c) {
                const double value = block[f * channels_ + c];
                if (!std::isfinite(value))
                    return Fail("input holds samples that are not finite numbers");
                *peak = std::max(*peak, std::fabs(value));
            }
        }
    }
    return FinishedReading();
}

// Two passes: the first finds the peak of the kept channels, the second
// writes. A peak at or above full scale scales the whole file down by it, so
// a hot recording keeps its shape instead of being clipped.
bool Converter::CopyFloats()
{
    double peak = 0.0;
    if (!FindPeak(&peak))
        return false;
    if (sf_seek(in_, 0, SEEK_SET) != 0)
        return Fail(std::string("cannot rewind input: ") + sf_strerror(in_));
    const double gain = peak >= 1.0 ? 1.0 / peak : 1.0;

    std::vector<double> block(static_cast<size_t>(blockFrames_ * channels_));
    sf_count_t frames;
    while ((frames = sf_readf_double(in_, block.data(), blockFrames_)) > 0) {
        for (sf_count_t f = 0; f < frames; ++f)
            for (int c = 0; c < kept_; ++c)
                pcm_[f * kept_ + c] = ScaleToShort(block[f * channels_ + c], gain);
        if (!Write(frames))
            return false;
    }
    return FinishedReading();
}

bool WriteConverted(SNDFILE *in, const SF_INFO &info, const std::string &path)
{
    SoundFile out =
        OpenCanonicalWave(path, info.samplerate, std::min(info.channels, kMaxOutputChannels));
    if (!out)
        return false;
    Converter converter(in, info, out.get());
    const bool copied =
        HasFloatSamples(info.format) ? converter.CopyFloats() : converter.CopyIntegers();
    return copied && CloseOutput(out);
}

bool Convert(const std::string &input, const std::string &output)
{
    SF_INFO info = {};
    SoundFile in(sf_open(input.c_str(), SFM_READ, &info));
    if (!in)
        return Fail(input + ": " + sf_strerror(nullptr));
    if (info.channels < 1 || info.samplerate < 1)
        return Fail(input + ": no channels or no sample rate");
    return WriteReplacing(output, [&](const std::string &temporary) {
        const bool written = WriteConverted(in.get(), info, temporary);
        in.reset();
        return written;
    });
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s INPUT OUTPUT\n", kProgram);
        return EXIT_FAILURE;
    }
    return Convert(argv[1], argv[2]) ? EXIT_SUCCESS : EXIT_FAILURE;
}
