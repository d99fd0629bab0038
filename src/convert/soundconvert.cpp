#include "soundconvert.h"

#ifdef _WIN32
// Older libsndfile headers declare sf_wchar_open only on request, in terms
// of the Windows API's wide-string type.
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#define ENABLE_SNDFILE_WINDOWS_PROTOTYPES 1
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iomanip>
#include <locale>
#include <memory>
#include <mutex>
#include <sstream>
#include <system_error>
#include <utility>
#include <vector>

std::string SndfileVersion()
{
    return sf_version_string();
}

std::string SoxrVersion()
{
    return soxr_version();
}

std::mutex &SndfileOpenLock()
{
    static std::mutex lock;
    return lock;
}

namespace {

namespace fs = std::filesystem;

// A WAVE file counts its bytes in 32 bits, header included.
constexpr std::uint64_t kMaxDataBytes = 0xFFFFFFFFull - 36;

// --- Failures, files and names ------------------------------------------------

bool Fail(std::string *error, std::string reason)
{
    *error = std::move(reason);
    return false;
}

std::string SystemMessage(int number)
{
    return std::generic_category().message(number);
}

fs::path PathOf(const std::string &utf8)
{
    return fs::u8path(utf8);
}

#ifdef _WIN32
std::wstring Widen(const std::string &utf8)
{
    return PathOf(utf8).wstring();
}
#endif

std::FILE *OpenFile(const std::string &path, const char *mode)
{
#ifdef _WIN32
    return _wfopen(Widen(path).c_str(), Widen(mode).c_str());
#else
    return std::fopen(path.c_str(), mode);
#endif
}

struct SndfileCloser {
    void operator()(SNDFILE *file) const { sf_close(file); }
};
using SoundFile = std::unique_ptr<SNDFILE, SndfileCloser>;

// Opens `path` for reading without ever waiting: a named pipe with no
// writer, a device or a folder is refused rather than left to block the
// conversion, even when the path turned into one after the caller looked.
// Returns a descriptor, or -1 with the reason in `*error`.
int OpenRegularFile(const std::string &path, std::string *error)
{
    // An input that cannot be opened is described in libsndfile's words, as
    // it was when libsndfile opened the file by name.
    const auto systemError = [&](int number) {
        Fail(error, path + ": System error : " + SystemMessage(number) + ".");
        return -1;
    };
    const auto notRegular = [&](int fd) {
#ifdef _WIN32
        _close(fd);
#else
        ::close(fd);
#endif
        Fail(error, path + ": not a regular file");
        return -1;
    };
#ifdef _WIN32
    const int fd = _wopen(Widen(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0)
        return systemError(errno);
    struct _stat64 status;
    if (_fstat64(fd, &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG)
        return notRegular(fd);
#else
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return systemError(errno);
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        return notRegular(fd);
    // Reads from a regular file never wait anyway; the flag only served the
    // open, and libsndfile expects a plain descriptor.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags == -1 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) {
        const int number = errno;
        ::close(fd);
        return systemError(number);
    }
#endif
    return fd;
}

SoundFile OpenInput(const std::string &path, SF_INFO *info, std::string *error)
{
    const int fd = OpenRegularFile(path, error);
    if (fd < 0)
        return nullptr;
    // libsndfile closes the descriptor with the file, or at once on failure.
    std::lock_guard<std::mutex> lock(SndfileOpenLock());
    SoundFile in(sf_open_fd(fd, SFM_READ, info, SF_TRUE));
    if (!in)
        Fail(error, path + ": " + sf_strerror(nullptr));
    return in;
}

// libsndfile writes exactly the 44-byte header (16-byte format chunk, data
// tag at offset 36, nothing after the data) for 16-bit PCM with one or two
// channels, as long as no strings are set.
SoundFile OpenCanonicalWave(const std::string &path, int rate, int channels, std::string *error)
{
    SF_INFO info = {};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    std::lock_guard<std::mutex> lock(SndfileOpenLock());
#ifdef _WIN32
    SoundFile out(sf_wchar_open(Widen(path).c_str(), SFM_WRITE, &info));
#else
    SoundFile out(sf_open(path.c_str(), SFM_WRITE, &info));
#endif
    if (!out)
        Fail(error, std::string("cannot write output: ") + sf_strerror(nullptr));
    return out;
}

bool CloseOutput(SoundFile &out, std::string *error)
{
    return sf_close(out.release()) == 0 || Fail(error, "cannot finish output");
}

// Reserves a fresh name beside `output` by creating an empty file there.
// Returns an empty name on failure, with the reason in `*error`.
std::string ReserveNameBeside(const std::string &output, std::string *error)
{
    int number = 0;
    for (int n = 0; n < 1000; ++n) {
        const std::string name = output + ".part" + std::to_string(n);
        if (std::FILE *file = OpenFile(name, "wx")) {
            std::fclose(file);
            return name;
        }
        number = errno;
        if (number != EEXIST)
            break;
    }
    Fail(error, "cannot create a file beside " + output + ": " + SystemMessage(number));
    return std::string();
}

// Runs `write` on a temporary file beside `output` and renames it over
// `output` only when it succeeded; otherwise removes it, so that a failed
// or cancelled run never leaves a partial output behind.
template <typename Write>
bool WriteReplacing(const std::string &output, const Write &write, std::string *error)
{
    const std::string temporary = ReserveNameBeside(output, error);
    if (temporary.empty())
        return false;
    std::error_code failure;
    if (write(temporary)) {
        fs::rename(PathOf(temporary), PathOf(output), failure);
        if (!failure)
            return true;
        Fail(error, "cannot create " + output + ": " + failure.message());
    }
    fs::remove(PathOf(temporary), failure);
    return false;
}

// --- Progress and cancelling --------------------------------------------------

// A part of the whole work, from one share of it to another, made of
// `total` items (frames); a total of 0 means the size is not known.
struct Stage {
    double from;
    double to;
    sf_count_t total;
};

// Turns the work done into whole per cents for the caller, each value once
// and 100 only at the very end, and tells whether the caller asked to stop.
class Progress
{
public:
    explicit Progress(const ConvertControl &control) : control_(control) {}

    bool Cancelled() const { return control_.cancel && control_.cancel->load(); }
    sf_count_t InputFrameLimit() const { return std::max<sf_count_t>(0, control_.inputFrameLimit); }

    void Advance(const Stage &stage, sf_count_t done)
    {
        if (stage.total <= 0)
            return;
        const double part = std::min(1.0, double(done) / double(stage.total));
        Tell(std::min(99, static_cast<int>((stage.from + (stage.to - stage.from) * part) * 100)));
    }

    bool Finish()
    {
        Tell(100);
        return true;
    }

private:
    void Tell(int percent)
    {
        if (percent <= last_)
            return;
        last_ = percent;
        if (control_.progress)
            control_.progress(percent);
    }

    const ConvertControl &control_;
    int last_ = 0;
};

// The length libsndfile found, or 0 when it could not know it.
sf_count_t KnownFrames(const SF_INFO &info)
{
    return info.frames > 0 && info.frames < SF_COUNT_MAX ? info.frames : 0;
}

// The frames a conversion reads: all it knows of, or `limit` when above 0
// and lower (or the length is not known).
sf_count_t FramesRead(const SF_INFO &info, sf_count_t limit)
{
    return limit > 0 && (KnownFrames(info) == 0 || KnownFrames(info) > limit) ? limit : KnownFrames(info);
}

// --- Any sound to 16-bit PCM at its own rate ----------------------------------

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

// Where converted blocks go: told each block of interleaved 16-bit frames
// in turn; false stops the conversion (the sink has said why).
using PcmSink = std::function<bool(const short *pcm, sf_count_t frames)>;

// Reads the input in blocks and hands them on as 16-bit PCM. Its progress
// runs from 0 to `share` of the whole call's.
class Converter
{
public:
    Converter(SNDFILE *in, const SF_INFO &info, PcmSink sink, double share, Progress &progress,
              sf_count_t limit, std::string *error)
        : in_(in), channels_(info.channels),
          kept_(std::min(info.channels, kMaxOutputChannels)),
          frames_(FramesRead(info, limit)),
          limit_(limit),
          sink_(std::move(sink)), share_(share), progress_(progress), error_(error),
          blockFrames_(std::max<sf_count_t>(1, kBlockSamples / info.channels)),
          pcm_(static_cast<size_t>(blockFrames_ * kept_))
    {
    }

    bool CopyIntegers();
    bool CopyFloats();

private:
    // True while there is a next block to work on and no one asked to stop.
    bool Continue(const Stage &stage, sf_count_t done);
    // The frames to read next, `done` read so far: 0 once the limit is met.
    sf_count_t NextBlock(sf_count_t done) const
    {
        return limit_ > 0 ? std::min(blockFrames_, limit_ - done) : blockFrames_;
    }
    bool Write(sf_count_t frames);
    bool FinishedReading();
    bool FindPeak(double *peak);

    SNDFILE *in_;
    int channels_;
    int kept_;
    sf_count_t frames_;
    sf_count_t limit_; // 0: none
    PcmSink sink_;
    double share_;
    Progress &progress_;
    std::string *error_;
    sf_count_t blockFrames_;
    std::vector<short> pcm_;
    std::uint64_t dataBytes_ = 0;
};

bool Converter::Continue(const Stage &stage, sf_count_t done)
{
    progress_.Advance(stage, done);
    return !progress_.Cancelled();
}

bool Converter::Write(sf_count_t frames)
{
    dataBytes_ += static_cast<std::uint64_t>(frames) * kept_ * 2;
    if (dataBytes_ > kMaxDataBytes)
        return Fail(error_, "input is too long for a WAVE file");
    return sink_(pcm_.data(), frames);
}

// A read that ends early on a damaged file looks like the end of the data;
// only the error state tells them apart. A stop on request ends early too.
bool Converter::FinishedReading()
{
    if (progress_.Cancelled())
        return Fail(error_, "cancelled");
    return sf_error(in_) == SF_ERR_NO_ERROR
        || Fail(error_, std::string("cannot read input: ") + sf_strerror(in_));
}

bool Converter::CopyIntegers()
{
    // Should a decoder that works in floating point slip through as
    // integer, its values clip at full scale rather than wrap around.
    sf_command(in_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const Stage stage{0.0, share_, frames_};
    std::vector<int> block(static_cast<size_t>(blockFrames_ * channels_));
    sf_count_t done = 0;
    sf_count_t frames;
    while (Continue(stage, done) && NextBlock(done) > 0
           && (frames = sf_readf_int(in_, block.data(), NextBlock(done))) > 0) {
        for (sf_count_t f = 0; f < frames; ++f)
            for (int c = 0; c < kept_; ++c)
                pcm_[f * kept_ + c] = RoundToShort(block[f * channels_ + c]);
        if (!Write(frames))
            return false;
        done += frames;
    }
    return FinishedReading();
}

bool Converter::FindPeak(double *peak)
{
    const Stage stage{0.0, share_ / 2, frames_};
    std::vector<double> block(static_cast<size_t>(blockFrames_ * channels_));
    *peak = 0.0;
    sf_count_t done = 0;
    sf_count_t frames;
    while (Continue(stage, done) && NextBlock(done) > 0
           && (frames = sf_readf_double(in_, block.data(), NextBlock(done))) > 0) {
        for (sf_count_t f = 0; f < frames; ++f) {
            for (int c = 0; c < kept_; ++c) {
                const double value = block[f * channels_ + c];
                if (!std::isfinite(value))
                    return Fail(error_, "input holds samples that are not finite numbers");
                *peak = std::max(*peak, std::fabs(value));
            }
        }
        done += frames;
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
        return Fail(error_, std::string("cannot rewind input: ") + sf_strerror(in_));
    const double gain = peak >= 1.0 ? 1.0 / peak : 1.0;

    const Stage stage{share_ / 2, share_, frames_};
    std::vector<double> block(static_cast<size_t>(blockFrames_ * channels_));
    sf_count_t done = 0;
    sf_count_t frames;
    while (Continue(stage, done) && NextBlock(done) > 0
           && (frames = sf_readf_double(in_, block.data(), NextBlock(done))) > 0) {
        for (sf_count_t f = 0; f < frames; ++f)
            for (int c = 0; c < kept_; ++c)
                pcm_[f * kept_ + c] = ScaleToShort(block[f * channels_ + c], gain);
        if (!Write(frames))
            return false;
        done += frames;
    }
    return FinishedReading();
}

bool Convert(SNDFILE *in, const SF_INFO &info, const PcmSink &sink, double share,
             Progress &progress, std::string *error)
{
    Converter converter(in, info, sink, share, progress, progress.InputFrameLimit(), error);
    return HasFloatSamples(info.format) ? converter.CopyFloats() : converter.CopyIntegers();
}

// A sink that writes to an opened output file.
PcmSink FileSink(SoundFile &out, std::string *error)
{
    return [&out, error](const short *pcm, sf_count_t frames) {
        return sf_writef_short(out.get(), pcm, frames) == frames
            || Fail(error, std::string("cannot write output: ") + sf_strerror(out.get()));
    };
}

bool WriteConverted(SNDFILE *in, const SF_INFO &info, const std::string &path,
                    Progress &progress, std::string *error)
{
    SoundFile out = OpenCanonicalWave(path, info.samplerate,
                                      std::min(info.channels, kMaxOutputChannels), error);
    if (!out)
        return false;
    return Convert(in, info, FileSink(out, error), 1.0, progress, error) && CloseOutput(out, error);
}

// --- 16-bit PCM from one rate to another --------------------------------------

constexpr int kMaxResampleChannels = 2;
constexpr size_t kResampleBlockFrames = 16384;
// The share of the time spent resampling; reading the scratch file back and
// writing the 16-bit result take the rest.
constexpr double kResamplingShare = 0.8;

struct SoxrDeleter {
    void operator()(soxr_t resampler) const { soxr_delete(resampler); }
};
using Resampler = std::unique_ptr<soxr, SoxrDeleter>;

// libsndfile reads 16-bit samples as value / 32768; the same factor back
// keeps unchanged samples exact.
long ToPcm(float sample)
{
    return std::lrint(sample * 32768.0f);
}

// The resampled signal as interleaved floats, kept until its peak is known.
// A sound known to be short (at most kSpoolMemorySamples) stays in memory;
// a longer one, or one of unknown length, goes to a scratch file beside the
// output, so memory stays the same whatever the sound's length. The file
// goes when this does.
constexpr size_t kSpoolMemorySamples = size_t(1) << 20;

class Spool
{
public:
    // `expected`: how many samples are coming, 0 when not known.
    Spool(std::string output, size_t expected)
        : output_(std::move(output)), inMemory_(expected > 0 && expected <= kSpoolMemorySamples)
    {
        if (inMemory_)
            memory_.reserve(expected);
    }
    Spool(const Spool &) = delete;
    Spool &operator=(const Spool &) = delete;
    ~Spool()
    {
        if (file_)
            std::fclose(file_);
        std::error_code ignored;
        if (!path_.empty())
            fs::remove(PathOf(path_), ignored);
    }

    bool Write(const float *samples, size_t count, std::string *error)
    {
        if (inMemory_ && !file_ && memory_.size() + count <= kSpoolMemorySamples) {
            memory_.insert(memory_.end(), samples, samples + count);
            return true;
        }
        if (!file_ && !Create(error))
            return false;
        return std::fwrite(samples, sizeof(float), count, file_) == count
            || Fail(error, "cannot write output: " + SystemMessage(errno));
    }

    bool Rewind(std::string *error)
    {
        read_ = 0;
        return !file_ || std::fseek(file_, 0, SEEK_SET) == 0
            || Fail(error, "cannot write output: " + SystemMessage(errno));
    }

    // Reads exactly the next `count` samples, else fails.
    bool Read(float *samples, size_t count, std::string *error)
    {
        const size_t fromMemory = std::min(count, memory_.size() - read_);
        std::copy_n(memory_.begin() + read_, fromMemory, samples);
        read_ += fromMemory;
        const size_t rest = count - fromMemory;
        return rest == 0
            || (file_ && std::fread(samples + fromMemory, sizeof(float), rest, file_) == rest)
            || Fail(error, "cannot write output: the resampled sound could not be read back");
    }

private:
    bool Create(std::string *error)
    {
        path_ = ReserveNameBeside(output_, error);
        if (path_.empty())
            return false;
        file_ = OpenFile(path_, "w+b");
        return file_
            || Fail(error, "cannot create a file beside " + output_ + ": " + SystemMessage(errno));
    }

    std::string output_;
    bool inMemory_;
    std::vector<float> memory_;
    size_t read_ = 0; // samples of memory_ read back so far
    std::string path_;
    std::FILE *file_ = nullptr;
};

// Feeds what it is given through the resampler into the spool, noting the
// extremes of what comes out.
class Resampling
{
public:
    Resampling(soxr_t resampler, int channels, Spool &spool, std::string *error)
        : channels_(channels), resampler_(resampler), spool_(spool), error_(error),
          output_(kResampleBlockFrames * channels)
    {
    }

    // Takes all of `frames` interleaved frames.
    bool Feed(const float *samples, size_t frames);
    // Ends the input: the filter's tail comes out.
    bool Flush();
    size_t OutputFrames() const { return produced_; }
    // The factor from resampled values to 16-bit ones that keeps every
    // sample within full scale: 0 when the plain one already does.
    double Scale() const;

private:
    bool Process(const float *samples, size_t frames, size_t *used, size_t *produced);

    int channels_;
    soxr_t resampler_;
    Spool &spool_;
    std::string *error_;
    std::vector<float> output_;
    size_t produced_ = 0;
    float lowest_ = 0.0f;
    float highest_ = 0.0f;
};

// Feeds one stretch of input (none: end of input, the filter's tail is
// flushed) and keeps whatever the resampler gives back.
bool Resampling::Process(const float *samples, size_t frames, size_t *used, size_t *produced)
{
    if (soxr_error_t error = soxr_process(resampler_, samples, frames, used, output_.data(),
                                          kResampleBlockFrames, produced))
        return Fail(error_, std::string("resampling failed: ") + error);
    produced_ += *produced;
    if (static_cast<std::uint64_t>(produced_) * channels_ * 2 > kMaxDataBytes)
        return Fail(error_, "output is too long for a WAVE file");
    const auto end = output_.begin() + *produced * channels_;
    for (auto sample = output_.begin(); sample != end; ++sample) {
        lowest_ = std::min(lowest_, *sample);
        highest_ = std::max(highest_, *sample);
    }
    return spool_.Write(output_.data(), *produced * channels_, error_);
}

bool Resampling::Feed(const float *samples, size_t frames)
{
    size_t offset = 0;
    while (offset < frames) {
        size_t used = 0;
        size_t produced = 0;
        if (!Process(samples + offset * channels_, frames - offset, &used, &produced))
            return false;
        if (used == 0 && produced == 0)
            return Fail(error_, "resampler made no progress");
        offset += used;
    }
    return true;
}

bool Resampling::Flush()
{
    size_t produced = 0;
    do {
        size_t used = 0;
        if (!Process(nullptr, 0, &used, &produced))
            return false;
    } while (produced > 0);
    return true;
}

// Feeds a 16-bit PCM file to the resampler, block by block.
bool FeedFile(SNDFILE *in, const SF_INFO &info, Resampling &resampling, Progress &progress,
              std::string *error)
{
    const Stage stage{0.0, kResamplingShare, KnownFrames(info)};
    std::vector<float> input(kResampleBlockFrames * info.channels);
    sf_count_t done = 0;
    sf_count_t frames;
    while (true) {
        progress.Advance(stage, done);
        if (progress.Cancelled())
            return Fail(error, "cancelled");
        if ((frames = sf_readf_float(in, input.data(), kResampleBlockFrames)) <= 0)
            break;
        if (!resampling.Feed(input.data(), static_cast<size_t>(frames)))
            return false;
        done += frames;
    }
    if (sf_error(in) != SF_ERR_NO_ERROR)
        return Fail(error, std::string("cannot read input: ") + sf_strerror(in));
    return resampling.Flush();
}

// Converts any sound to 16-bit PCM and feeds it to the resampler in the
// very blocks, and with the very values, that FeedFile would read from the
// converted file: the result is the same to the bit, without that file.
bool FeedConverted(SNDFILE *in, const SF_INFO &info, Resampling &resampling, Progress &progress,
                   std::string *error)
{
    const int channels = std::min(info.channels, kMaxOutputChannels);
    std::vector<float> block(kResampleBlockFrames * channels);
    size_t filled = 0; // frames in block
    const PcmSink feed = [&](const short *pcm, sf_count_t frames) {
        for (sf_count_t f = 0; f < frames; ++f) {
            for (int c = 0; c < channels; ++c)
                block[filled * channels + c] = pcm[f * channels + c] / 32768.0f;
            if (++filled == kResampleBlockFrames) {
                if (!resampling.Feed(block.data(), filled))
                    return false;
                filled = 0;
            }
        }
        return true;
    };
    return Convert(in, info, feed, kResamplingShare, progress, error)
        && resampling.Feed(block.data(), filled) && resampling.Flush();
}

double Resampling::Scale() const
{
    if (ToPcm(highest_) <= 32767 && ToPcm(lowest_) >= -32768)
        return 0.0;
    return 32767.0 / std::max(double(highest_), -double(lowest_));
}

// Writes the spooled samples as 16-bit PCM: plainly, or times `scale` when
// it is not 0.
bool WriteSpooled(Spool &spool, size_t frames, int channels, double scale, const PcmSink &out,
                  Progress &progress, std::string *error)
{
    if (!spool.Rewind(error))
        return false;
    const Stage stage{kResamplingShare, 1.0, static_cast<sf_count_t>(frames)};
    std::vector<float> block(kResampleBlockFrames * channels);
    std::vector<short> pcm(kResampleBlockFrames * channels);
    size_t done = 0;
    while (done < frames) {
        progress.Advance(stage, static_cast<sf_count_t>(done));
        if (progress.Cancelled())
            return Fail(error, "cancelled");
        const size_t count = std::min(kResampleBlockFrames, frames - done);
        if (!spool.Read(block.data(), count * channels, error))
            return false;
        const auto end = block.begin() + count * channels;
        if (scale == 0.0)
            std::transform(block.begin(), end, pcm.begin(),
                           [](float sample) { return Clamp16(ToPcm(sample)); });
        else
            std::transform(block.begin(), end, pcm.begin(), [scale](float sample) {
                return Clamp16(std::lrint(double(sample) * scale));
            });
        if (!out(pcm.data(), static_cast<sf_count_t>(count)))
            return false;
        done += count;
    }
    return true;
}

// What runs the resampler over the whole input: FeedFile or FeedConverted.
using Feeder = bool (*)(SNDFILE *in, const SF_INFO &info, Resampling &resampling,
                        Progress &progress, std::string *error);

// Resamples the input as `feed` hands it over and gives the result to
// `out`; a long one is spooled in a file beside `output`.
bool Resample(Feeder feed, SNDFILE *in, const SF_INFO &info, int channels, long toRate,
              const std::string &output, const PcmSink &out, Progress &progress, double *scale,
              std::string *error)
{
    soxr_error_t soxrError = nullptr;
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    Resampler resampler(soxr_create(double(info.samplerate), double(toRate), unsigned(channels),
                                    &soxrError, nullptr, &quality, nullptr));
    if (soxrError)
        return Fail(error, std::string("cannot set up the resampler: ") + soxrError);

    // A few frames more than the rates' ratio, for the filter's rounding.
    const sf_count_t frames = FramesRead(info, progress.InputFrameLimit());
    const size_t expected =
        frames > 0 ? size_t(double(frames) * double(toRate) / info.samplerate + 16) * channels : 0;
    Spool spool(output, expected);
    Resampling resampling(resampler.get(), channels, spool, error);
    if (!feed(in, info, resampling, progress, error))
        return false;
    *scale = resampling.Scale();
    return WriteSpooled(spool, resampling.OutputFrames(), channels, *scale, out, progress, error);
}

bool WriteResampled(Feeder feed, SNDFILE *in, const SF_INFO &info, int channels, long toRate,
                    const std::string &output, const std::string &path, Progress &progress,
                    double *scale, std::string *error)
{
    SoundFile out = OpenCanonicalWave(path, int(toRate), channels, error);
    return out
        && Resample(feed, in, info, channels, toRate, output, FileSink(out, error), progress, scale, error)
        && CloseOutput(out, error);
}

} // namespace

bool ResampleMono(const float *input, size_t frames, double inputRate, double outputRate,
                  size_t maxOutput, std::vector<float> *output, std::string *error)
{
    output->clear();
    if (!(inputRate > 0 && outputRate > 0))
        return Fail(error, "rates must be above 0 Hz");
    const double expected = std::ceil(double(frames) * outputRate / inputRate);
    output->resize(size_t(std::min(expected, double(maxOutput))));
    if (output->empty())
        return true;
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    soxr_error_t soxrError = nullptr;
    Resampler resampler(soxr_create(inputRate, outputRate, 1, &soxrError, nullptr, &quality, nullptr));
    // A block at a time, as the converter streams: given a whole layer in one
    // call, libsoxr grows its buffers step by step to hold all of it, which
    // costs a copy of everything so far at every step wherever realloc moves.
    size_t used = 0;
    size_t produced = 0;
    while (!soxrError && produced < output->size()) {
        const bool ended = used == frames; // no input: the filter's tail
        size_t took = 0;
        size_t made = 0;
        soxrError = soxr_process(resampler.get(), ended ? nullptr : input + used,
                                 std::min(frames - used, kResampleBlockFrames), &took,
                                 output->data() + produced,
                                 std::min(output->size() - produced, kResampleBlockFrames), &made);
        used += took;
        produced += made;
        if (made == 0 && (ended || took == 0))
            break;
    }
    if (soxrError) {
        output->clear();
        return Fail(error, std::string("resampling failed: ") + soxrError);
    }
    output->resize(produced);
    return true;
}

namespace {

bool RateInRange(long rate)
{
    return rate >= kMinResampleRate && rate <= kMaxResampleRate;
}

std::string RatesText()
{
    return "rates must be whole numbers of Hz from " + std::to_string(kMinResampleRate) + " to "
        + std::to_string(kMaxResampleRate);
}

bool HasChannelsAndRate(const std::string &input, const SF_INFO &info, std::string *error)
{
    return (info.channels >= 1 && info.samplerate >= 1)
        || Fail(error, input + ": no channels or no sample rate");
}

// Converts the opened input into `output`, which it replaces only once the
// whole conversion succeeded.
bool ReplaceWithConverted(SoundFile &in, const SF_INFO &info, const std::string &output,
                          const ConvertControl &control, std::string *error)
{
    Progress progress(control);
    return WriteReplacing(output, [&](const std::string &temporary) {
        const bool converted = WriteConverted(in.get(), info, temporary, progress, error);
        in.reset();
        return converted;
    }, error) && progress.Finish();
}

// A gain as decibels with two decimals, the same in every locale.
std::string Decibels(double gain)
{
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << std::fixed << std::setprecision(2) << 20.0 * std::log10(gain);
    return text.str();
}

// Ends a resampling call: tells of a result scaled down to stay within full
// scale.
bool FinishResampled(const std::string &input, double scale, Progress &progress,
                     std::string *warning)
{
    if (scale != 0.0)
        *warning = input + ": peak would exceed full scale; scaled by "
                   + Decibels(scale / 32768.0) + " dB";
    return progress.Finish();
}

// Resamples the opened input, as `feed` hands it over, into `output`, which
// it replaces only once the whole run succeeded.
bool ReplaceWithResampled(Feeder feed, SoundFile &in, const SF_INFO &info, int channels,
                          const std::string &input, const std::string &output, long outputRate,
                          const ConvertControl &control, std::string *error, std::string *warning)
{
    Progress progress(control);
    double scale = 0.0;
    return WriteReplacing(output, [&](const std::string &temporary) {
        const bool resampled = WriteResampled(feed, in.get(), info, channels, outputRate, output,
                                              temporary, progress, &scale, error);
        in.reset();
        return resampled;
    }, error) && FinishResampled(input, scale, progress, warning);
}

} // namespace

bool ConvertToPcm16(const std::string &input, const std::string &output,
                    const ConvertControl &control, std::string *error)
{
    std::string unused;
    error = error ? error : &unused;
    SF_INFO info = {};
    SoundFile in = OpenInput(input, &info, error);
    if (!in || !HasChannelsAndRate(input, info, error))
        return false;
    return ReplaceWithConverted(in, info, output, control, error);
}

bool ResamplePcm16(const std::string &input, long inputRate, const std::string &output,
                   long outputRate, const ConvertControl &control, std::string *error,
                   std::string *warning)
{
    std::string unusedError;
    std::string unusedWarning;
    error = error ? error : &unusedError;
    warning = warning ? warning : &unusedWarning;
    warning->clear();
    if (!RateInRange(inputRate) || !RateInRange(outputRate))
        return Fail(error, RatesText());

    SF_INFO info = {};
    SoundFile in = OpenInput(input, &info, error);
    if (!in)
        return false;
    // The rate is given twice, by the caller and by the file; a mismatch
    // means the caller read another file, and resampling would shift pitch.
    if (info.samplerate != inputRate)
        return Fail(error, input + ": sample rate is " + std::to_string(info.samplerate)
                               + " Hz, not " + std::to_string(inputRate) + " Hz");
    if (info.channels < 1 || info.channels > kMaxResampleChannels)
        return Fail(error, input + ": " + std::to_string(info.channels)
                               + " channels; one or two are supported");

    return ReplaceWithResampled(FeedFile, in, info, info.channels, input, output, outputRate,
                                control, error, warning);
}

namespace {

// Opens the input of a conversion to `outputRate`; empty, with why, when the
// input cannot be read or a rate the conversion needs is out of range.
SoundFile OpenToConvert(const std::string &input, long outputRate, SF_INFO *info, std::string *error)
{
    if (!RateInRange(outputRate)) {
        Fail(error, RatesText());
        return SoundFile();
    }
    SoundFile in = OpenInput(input, info, error);
    if (!in || !HasChannelsAndRate(input, *info, error))
        return SoundFile();
    if (info->samplerate != outputRate && !RateInRange(info->samplerate)) {
        Fail(error, RatesText());
        return SoundFile();
    }
    return in;
}

} // namespace

bool ConvertToRate(const std::string &input, const std::string &output, long outputRate,
                   const ConvertControl &control, std::string *error, std::string *warning)
{
    std::string unusedError;
    std::string unusedWarning;
    error = error ? error : &unusedError;
    warning = warning ? warning : &unusedWarning;
    warning->clear();
    SF_INFO info = {};
    SoundFile in = OpenToConvert(input, outputRate, &info, error);
    if (!in)
        return false;
    if (info.samplerate == outputRate)
        return ReplaceWithConverted(in, info, output, control, error);
    return ReplaceWithResampled(FeedConverted, in, info,
                                std::min(info.channels, kMaxOutputChannels), input, output,
                                outputRate, control, error, warning);
}

bool ConvertToRateInMemory(const std::string &input, long outputRate, const std::string &spillBeside,
                           const ConvertControl &control, std::vector<short> *pcm, int *channels,
                           std::string *error, std::string *warning)
{
    std::string unusedError;
    std::string unusedWarning;
    error = error ? error : &unusedError;
    warning = warning ? warning : &unusedWarning;
    warning->clear();
    pcm->clear();
    SF_INFO info = {};
    SoundFile in = OpenToConvert(input, outputRate, &info, error);
    if (!in)
        return false;
    *channels = std::min(info.channels, kMaxOutputChannels);
    const int kept = *channels;
    // Room for the whole result at once: growing it would copy it over and over.
    const sf_count_t frames = FramesRead(info, control.inputFrameLimit);
    pcm->reserve(size_t(double(frames) * double(outputRate) / info.samplerate + 16) * size_t(kept));
    const PcmSink keep = [pcm, kept](const short *samples, sf_count_t frames) {
        pcm->insert(pcm->end(), samples, samples + frames * kept);
        return true;
    };
    Progress progress(control);
    bool done = false;
    double scale = 0.0;
    if (info.samplerate == outputRate) {
        done = Convert(in.get(), info, keep, 1.0, progress, error) && progress.Finish();
    } else {
        done = Resample(FeedConverted, in.get(), info, kept, outputRate, spillBeside, keep, progress,
                        &scale, error)
            && FinishResampled(input, scale, progress, warning);
    }
    if (!done)
        pcm->clear();
    return done;
}
