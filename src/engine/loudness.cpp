#include "loudness.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <ebur128.h>

#include <cmath>
#include <utility>
#include <vector>

#include "figures.h"
#include "fileprocessor.h"
#include "zkslayout.h"

namespace {

constexpr double kFullScale = 32768.0;

double Decibels(double amplitude)
{
    return amplitude > 0 ? 20 * std::log10(amplitude) : -std::numeric_limits<double>::infinity();
}

std::vector<qint16> Decode(const QByteArray &mono16)
{
    std::vector<qint16> samples(size_t(mono16.size() / 2));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = qFromLittleEndian<qint16>(mono16.constData() + 2 * i);
    return samples;
}

double PeakDbfs(const std::vector<qint16> &samples)
{
    int peak = 0;
    for (qint16 s : samples)
        peak = qMax(peak, qAbs(int(s)));
    return Decibels(peak / kFullScale);
}

// The first sample within kOnsetBelowPeakDb of the peak: where the hit
// starts, so silence or noise before it never counts as its attack.
size_t OnsetIndex(const std::vector<qint16> &samples)
{
    int peak = 0;
    for (qint16 s : samples)
        peak = qMax(peak, qAbs(int(s)));
    const double floor = peak * std::pow(10.0, -kOnsetBelowPeakDb / 20);
    for (size_t i = 0; i < samples.size(); ++i) {
        if (qAbs(int(samples[i])) >= floor)
            return i;
    }
    return samples.size();
}

double AttackDbfs(const std::vector<qint16> &samples)
{
    const size_t onset = OnsetIndex(samples);
    const size_t count = qMin(samples.size() - onset, size_t(kAttackFrames));
    double sum = 0;
    for (size_t i = onset; i < onset + count; ++i)
        sum += double(samples[i]) * samples[i];
    return count ? Decibels(std::sqrt(sum / count) / kFullScale) : Decibels(0);
}

bool IntegratedLoudness(const std::vector<qint16> &samples, double *lufs)
{
    if (samples.size() < size_t(kShortestLoudnessFrames))
        return false;
    ebur128_state *state = ebur128_init(1, kBankRate, EBUR128_MODE_I);
    if (!state)
        return false;
    const bool measured =
        ebur128_add_frames_short(state, samples.data(), samples.size()) == EBUR128_SUCCESS
        && ebur128_loudness_global(state, lufs) == EBUR128_SUCCESS;
    ebur128_destroy(&state);
    return measured;
}

// The sample data of a converted layer file, at most what the largest layer
// holds; a file shorter than its header declares gives what it has.
bool ReadSampleData(QFile &file, const QByteArray &header, QByteArray *data, QString *reason)
{
    if (!file.seek(kWavHeaderSize)) {
        *reason = QStringLiteral("the sound could not be read");
        return false;
    }
    const qint64 channels = ReadLE(header, 22, 2);
    const qint64 declared = quint32(WavDataSize(header));
    if (!ReadUpTo(file, qMin(declared, channels * kLargestLayerSize), data)) {
        *reason = QStringLiteral("the sound could not be read");
        return false;
    }
    return true;
}

} // namespace

QString LevelsText(const LayerLevels &levels)
{
    const auto db = [](double value, const char *unit) {
        return std::isfinite(value) ? PlainSpaces(WithUnit(value, 1, unit))
                                    : QStringLiteral("silent");
    };
    if (!std::isfinite(levels.peakDbfs))
        return QStringLiteral("silent");
    QString text = QStringLiteral("peak %1, attack %2").arg(db(levels.peakDbfs, "dBFS"), db(levels.attackDbfs, "dBFS"));
    if (levels.loudnessKnown)
        text += QStringLiteral(", loudness %1").arg(db(levels.loudnessLufs, "LUFS"));
    return text;
}

LayerLevels MeasureSamples(const QByteArray &mono16)
{
    const std::vector<qint16> samples = Decode(mono16);
    LayerLevels levels;
    levels.peakDbfs = PeakDbfs(samples);
    levels.attackDbfs = AttackDbfs(samples);
    double lufs = 0;
    levels.loudnessKnown = IntegratedLoudness(samples, &lufs);
    if (levels.loudnessKnown)
        levels.loudnessLufs = lufs;
    return levels;
}

bool MeasureLayerFile(const QString &wavePath, quint16 gate, LayerLevels *levels, QString *reason)
{
    QByteArray audio;
    if (!ReadLayerAudio(wavePath, &audio, reason))
        return false;
    *levels = MeasureSamples(CutLeadingSilence(audio, gate));
    return true;
}

bool ReadLayerAudio(const QString &wavePath, QByteArray *mono16, QString *reason)
{
    QString unused;
    reason = reason ? reason : &unused;
    QFile file(wavePath);
    if (!QFileInfo(wavePath).isFile() || !file.open(QIODevice::ReadOnly)) {
        *reason = QFileInfo::exists(wavePath) ? QStringLiteral("the file could not be opened")
                                              : QStringLiteral("no such file");
        return false;
    }
    const QByteArray header = ReadWavHeader(file);
    const quint32 channels = ReadLE(header, 22, 2);
    if (header.size() < kWavHeaderSize || !HasDataTag(header) || !IsBankFormat(header)
        || WavSampleRate(header) != quint32(kBankRate) || channels < 1 || channels > 2) {
        *reason = QStringLiteral("not a 16-bit 44100 Hz mono or stereo WAVE");
        return false;
    }
    QByteArray data;
    if (!ReadSampleData(file, header, &data, reason))
        return false;
    if (IsStereo(header))
        KeepLeftChannelInPlace(&data);
    *mono16 = std::move(data);
    reason->clear();
    return true;
}
