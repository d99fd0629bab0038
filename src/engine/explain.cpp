#include "explain.h"

#include "figures.h"
#include "fileprocessor.h"
#include "layerrules.h"
#include "resultcodes.h"
#include "soundinfo.h"
#include "zkslayout.h"

namespace {

constexpr int kSampleBytes = 2;
constexpr int kMostDecimals = 6;

// Two durations in seconds, with one decimal or as many more as it takes to
// tell them apart, so that a sound one sample too long never reads as long
// as the longest allowed.
void SecondsApart(double first, double second, QString *firstText, QString *secondText)
{
    for (int decimals = 1; decimals <= kMostDecimals; ++decimals) {
        *firstText = Figure(first, decimals);
        *secondText = Figure(second, decimals);
        if (*firstText != *secondText)
            return;
    }
}

QString ChannelWord(const SoundInfo &sound)
{
    return ConvertedChannels(sound) == 1 ? QStringLiteral("mono") : QStringLiteral("stereo");
}

// Seconds of 16-bit mono sound at the bank's rate: what a layer keeps.
double LayerSeconds(qint64 bytes)
{
    return double(bytes) / (kSampleBytes * kBankRate);
}

} // namespace

QString ControlCharacterDetail()
{
    return QStringLiteral("the name holds a control character, which the device would misread");
}

QString TooBigDetail(const SoundInfo &sound)
{
    const bool tooShort = PredictedDataSize(sound) < kSmallestCheckedDataSize;
    const double limit = tooShort ? double(kSmallestCheckedDataSize)
                                        / (ConvertedChannels(sound) * kSampleBytes) / kBankRate
                                  : LongestLayerSeconds();
    QString lasts;
    QString holds;
    SecondsApart(SoundSeconds(sound), limit, &lasts, &holds);
    const QString pattern = tooShort
        ? QStringLiteral("the sound lasts %1; a layer needs at least %2 of %3 sound")
        : QStringLiteral("the sound lasts %1; a layer holds at most %2 of %3 sound");
    return pattern.arg(WithUnit(lasts, "s"), WithUnit(holds, "s"), ChannelWord(sound));
}

QString SizeTableDetail()
{
    return QStringLiteral("a bank of %1 or more layers holds layers below %2 each")
        .arg(kFourSlotLayers + 1)
        .arg(Kilobytes(kSizeUnitsLimit));
}

QString NoSpaceDetail(qint32 layerSize, qint32 usedSpace)
{
    const qint32 left = qMax(0, kBankBudget - usedSpace);
    QString needed;
    QString available;
    SecondsApart(LayerSeconds(layerSize), LayerSeconds(left), &needed, &available);
    return QStringLiteral("the sound needs %1 (%2); %3 (%4) are left")
        .arg(Kilobytes(layerSize), WithUnit(needed, "s"), Kilobytes(left), WithUnit(available, "s"));
}

QString NameTooLongDetail(const QString &fileName)
{
    return QStringLiteral("the name has %1 characters; at most %2 are allowed")
        .arg(fileName.size())
        .arg(kMaxNameLength);
}

QString SoundCheckDetail(int code, const QString &converted, const QString &given)
{
    // A file of no format the converters read: say which they do.
    const QString reason = given == QLatin1String("Format not recognised.")
        ? given + QStringLiteral(" Accepted: WAVE, AIFF, FLAC, Ogg, Opus and MP3.")
        : given;
    switch (code) {
    case RESULT_NO_FILE:
        return QString();
    case RESULT_NAME_TOO_LONG:
        return NameTooLongDetail(LastPathPart(converted));
    case RESULT_TOO_BIG: {
        SoundInfo sound;
        return ReadSoundInfo(converted, &sound) ? TooBigDetail(sound) : QString();
    }
    case RESULT_OPEN_FAILED:
        return reason.isEmpty() ? QStringLiteral("the converted sound could not be opened")
                                : reason;
    case RESULT_INCOMPATIBLE:
        return reason.isEmpty() ? QStringLiteral("the converted sound has no data chunk where the "
                                                 "device looks for it")
                                : reason;
    case RESULT_FILE_ERROR:
        return reason.isEmpty()
            ? QStringLiteral("the converted sound is not 16-bit PCM at %1").arg(WithUnit(kBankRate, 0, "Hz"))
            : reason;
    default:
        return reason;
    }
}

QString AboutFile(const QString &subject, const QString &detail)
{
    return QStringLiteral("%1: %2").arg(subject, detail);
}

QString WithDetail(const QString &text, const QString &detail)
{
    return detail.isEmpty() ? text : QStringLiteral("%1 (%2)").arg(text, detail);
}
