#ifndef SOUNDCONVERT_H
#define SOUNDCONVERT_H

// The two conversion steps that turn a chosen sound into the bank's form,
// free of Qt so that the converters, the window and zkstool can share them.
// Paths are UTF-8. Every call works on its own files and state: several may
// run at once on different threads.

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct ConvertControl {
    // Told the share of the work done in whole per cents, each value once
    // and rising, the last one 100 on success.
    std::function<void(int percent)> progress;
    // Looked at between blocks; once true the call stops, removes what it
    // wrote and fails with the error "cancelled".
    const std::atomic<bool> *cancel = nullptr;
    // When above 0, only the input's first this many frames are converted:
    // a caller that keeps no more reads no more.
    long long inputFrameLimit = 0;
};

// libsndfile keeps the reason the last open failed in one place for the
// whole process, and every open clears it. Whoever opens a sound with it,
// here or elsewhere in the program, holds this lock from the open until
// that reason has been read, so that threads cannot swap their reasons.
std::mutex &SndfileOpenLock();

// The versions of libsndfile and libsoxr this program runs with, for the
// help box ("libsndfile-1.2.0", "libsoxr-0.1.3").
std::string SndfileVersion();
std::string SoxrVersion();

// Rates the resampler accepts, in Hz.
constexpr long kMinResampleRate = 1000;
constexpr long kMaxResampleRate = 768000;

// Converts any sound file that libsndfile reads into a 16-bit PCM WAVE at
// the input's sample rate, with the plain 44-byte header (16-byte format
// chunk, data tag at offset 36, nothing after the data) that the sound check
// reads at fixed offsets. At most two channels are kept. Integer samples are
// rounded to nearest; floating-point ones beyond full scale are scaled down
// by their peak. On failure `*error` gets a one-line reason, and an existing
// file at `output` is left as it was.
bool ConvertToPcm16(const std::string &input, const std::string &output,
                    const ConvertControl &control, std::string *error);

// Resamples a 16-bit PCM WAVE of one or two channels from `inputRate`, which
// must be the file's own, to `outputRate` with libsoxr at its very-high
// quality, and writes it in the same 44-byte form. Should the filter's
// overshoot take the result beyond full scale, all of it is scaled down by
// its peak and `*warning` says by how much; otherwise it is left empty.
bool ResamplePcm16(const std::string &input, long inputRate, const std::string &output,
                   long outputRate, const ConvertControl &control, std::string *error,
                   std::string *warning);

// Resamples mono float samples held in memory from `inputRate` to
// `outputRate` (neither need be whole) with libsoxr at the same very-high
// quality as ResamplePcm16, giving at most `maxOutput` frames: a caller that
// keeps no more than that is spared computing the rest. Samples are not
// scaled, so values beyond full scale stay as they come out.
bool ResampleMono(const float *input, size_t frames, double inputRate, double outputRate,
                  size_t maxOutput, std::vector<float> *output, std::string *error);

// Both steps at once, as the converter programs run one after the other:
// any sound that libsndfile reads becomes a 16-bit PCM WAVE at `outputRate`,
// the same to the bit as ConvertToPcm16 followed (when the input's rate
// differs) by ResamplePcm16, but without the file between them. Errors and
// the warning are theirs.
bool ConvertToRate(const std::string &input, const std::string &output, long outputRate,
                   const ConvertControl &control, std::string *error, std::string *warning);

// ConvertToRate with the result kept in memory: `pcm` gets the interleaved
// 16-bit frames of `channels` channels (at most two), the same to the bit
// as the file's. A sound too long to hold in memory while it is resampled
// is spooled in a temporary file beside `spillBeside`. On failure `pcm` is
// left empty.
bool ConvertToRateInMemory(const std::string &input, long outputRate, const std::string &spillBeside,
                           const ConvertControl &control, std::vector<short> *pcm, int *channels,
                           std::string *error, std::string *warning);

#endif
