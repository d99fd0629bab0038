#include "tailtrim.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cmath>

#include "fileprocessor.h"

namespace {

constexpr int kSampleBytes = 2;

qint16 SampleAt(const QByteArray &pcm, int index)
{
    return qint16(ReadLE(pcm, kSampleBytes * index, kSampleBytes));
}

void SetSample(QByteArray &pcm, int index, qint16 value)
{
    WriteLE(pcm, kSampleBytes * index, quint16(value), kSampleBytes);
}

} // namespace

bool ReadPcmSound(const QString &path, PcmSound *sound, QString *error)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        *error = QStringLiteral("no such file");
        return false;
    }
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
        *error = info.isFile() ? file.errorString() : QStringLiteral("not a regular file");
        return false;
    }
    const QByteArray header = ReadWavHeader(file);
    if (header.size() < kWavHeaderSize || !HasDataTag(header)) {
        *error = QStringLiteral("not a canonical WAVE file");
        return false;
    }
    sound->channels = quint16(ReadLE(header, 22, 2));
    sound->rate = WavSampleRate(header);
    const quint32 format = ReadLE(header, 20, 2);
    const quint32 bits = ReadLE(header, 34, 2);
    if (format != 1 || bits != 16 || (sound->channels != 1 && sound->channels != 2)) {
        *error = QStringLiteral("not 16-bit PCM in one or two channels");
        return false;
    }
    // Declared and held sizes must agree: a sound cut short is not trimmed
    // into something that looks whole.
    const qint64 declared = quint32(WavDataSize(header));
    const qint64 held = file.size() - kWavHeaderSize;
    if (declared > held) {
        *error = QStringLiteral("the file holds %1 of the %2 bytes of sound its header declares")
                     .arg(held)
                     .arg(declared);
        return false;
    }
    sound->pcm = file.read(declared);
    if (sound->pcm.size() != declared) {
        *error = QStringLiteral("read failed: %1").arg(file.errorString());
        return false;
    }
    return true;
}

bool WritePcmSound(const QString &path, const PcmSound &sound, QString *error)
{
    // QSaveFile replaces the target only once all is written; an empty name
    // would make it write into the current folder before failing.
    if (path.isEmpty()) {
        *error = QStringLiteral("no file name for the trimmed copy");
        return false;
    }
    QSaveFile file(path);
    const QByteArray wave
        = CanonicalWavHeader(sound.channels, sound.rate, 16, quint32(sound.pcm.size())) + sound.pcm;
    if (!file.open(QIODevice::WriteOnly) || file.write(wave) != wave.size() || !file.commit()) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        file.cancelWriting();
        return false;
    }
    return true;
}

bool IsSameFile(const QString &first, const QString &second)
{
    const QString canonical = QFileInfo(first).canonicalFilePath();
    return !canonical.isEmpty() && canonical == QFileInfo(second).canonicalFilePath();
}


int TailLevel(double dbfs)
{
    const double amplitude = 32768.0 * std::pow(10.0, dbfs / 20.0);
    if (std::isnan(amplitude))
        return 1;
    return int(std::floor(qMin(amplitude, 32768.0))) + 1;
}

QByteArray TrimQuietTail(const QByteArray &pcm, int channels, double dbfs)
{
    if (channels < 1)
        return pcm;
    const int level = TailLevel(dbfs);
    const int frames = pcm.size() / (kSampleBytes * channels);
    int last = frames - 1; // the last frame that reaches the level, -1 when none does
    while (last >= 0 && qAbs(int(SampleAt(pcm, last * channels))) < level)
        --last;
    const int fade = qMin(kTailFadeFrames, frames - 1 - last);
    QByteArray trimmed = pcm.left((last + 1 + fade) * channels * kSampleBytes);
    for (int i = 1; i <= fade; ++i) {
        for (int c = 0; c < channels; ++c) {
            const int index = (last + i) * channels + c;
            SetSample(trimmed, index, qint16(SampleAt(trimmed, index) * (fade - i) / fade));
        }
    }
    return trimmed;
}

bool TrimTailFile(const QString &convertedPath, const QString &trimmedPath, double dbfs,
                  qint64 *savedBytes, QString *error)
{
    QString unused;
    error = error ? error : &unused;
    if (savedBytes)
        *savedBytes = 0;
    if (IsSameFile(convertedPath, trimmedPath)) {
        *error = QStringLiteral("the trimmed copy would replace the converted file");
        return false;
    }
    PcmSound sound;
    if (!ReadPcmSound(convertedPath, &sound, error))
        return false;
    const qint32 before = LayerSizeFor(quint32(sound.pcm.size()), sound.channels == 2);
    sound.pcm = TrimQuietTail(sound.pcm, sound.channels, dbfs);
    if (!WritePcmSound(trimmedPath, sound, error))
        return false;
    if (savedBytes)
        *savedBytes = before - LayerSizeFor(quint32(sound.pcm.size()), sound.channels == 2);
    return true;
}
