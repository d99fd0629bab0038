#include "soundinfo.h"

#include "soundconvert.h"

#include <QFile>
#include <qplatformdefs.h>

#include <sndfile.h>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kMaxConvertedChannels = 2;
constexpr int kSampleBytes = 2;

// A pipe or a device would make open() wait for a writer or for the
// hardware; without blocking, the open returns at once and fstat() turns
// them away.
int OpenWithoutBlocking(const QString &path)
{
    int flags = QT_OPEN_RDONLY;
#ifdef O_NONBLOCK
    flags |= O_NONBLOCK;
#endif
#ifdef O_CLOEXEC
    flags |= O_CLOEXEC;
#endif
    return QT_OPEN(QFile::encodeName(path).constData(), flags);
}

bool IsRegularFile(int descriptor)
{
    QT_STATBUF status;
    return QT_FSTAT(descriptor, &status) == 0 && (status.st_mode & QT_STAT_MASK) == QT_STAT_REG;
}

} // namespace

bool ReadSoundInfo(const QString &path, SoundInfo *info)
{
    const int descriptor = OpenWithoutBlocking(path);
    if (descriptor < 0)
        return false;
    if (!IsRegularFile(descriptor)) {
        QT_CLOSE(descriptor);
        return false;
    }
    // libsndfile takes the descriptor over: it closes it with the file, and
    // at once when the file is no sound it knows, whatever it is told. It is
    // never closed here as well, which would close whatever file another
    // thread had opened under the same number meanwhile.
    SF_INFO header = {};
    std::unique_lock<std::mutex> lock(SndfileOpenLock());
    SNDFILE *sound = sf_open_fd(descriptor, SFM_READ, &header, SF_TRUE);
    lock.unlock();
    if (!sound)
        return false;
    const bool known = header.frames >= 0 && header.frames != SF_COUNT_MAX
        && header.samplerate > 0 && header.channels > 0;
    info->frames = header.frames;
    info->rate = header.samplerate;
    info->channels = header.channels;
    info->lengthEstimated = (header.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG;
    info->pcm16 = (header.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
    sf_close(sound);
    return known;
}

int ConvertedChannels(const SoundInfo &info)
{
    return qBound(1, info.channels, kMaxConvertedChannels);
}

qint64 PredictedDataSize(const SoundInfo &info)
{
    if (info.frames <= 0 || info.rate <= 0)
        return 0;
    // In floating point, held below 2^62: a header may state any count, and
    // the product must not overflow.
    const double frames = std::ceil(double(info.frames) * kBankRate / info.rate);
    return qint64(std::min(frames * ConvertedChannels(info) * kSampleBytes, 0x1p62));
}

qint64 KeptDataSize(const SoundInfo &info)
{
    return PredictedDataSize(info) / ConvertedChannels(info);
}

bool IsFarTooLong(const SoundInfo &info)
{
    const qint64 oneSecond = qint64(kBankRate) * kSampleBytes;
    return !info.lengthEstimated && KeptDataSize(info) > kLargestCheckedDataSize + oneSecond;
}

double SoundSeconds(const SoundInfo &info)
{
    return info.rate > 0 ? double(info.frames) / info.rate : 0.0;
}

double LongestLayerSeconds()
{
    return double(kLargestCheckedDataSize) / kSampleBytes / kBankRate;
}
