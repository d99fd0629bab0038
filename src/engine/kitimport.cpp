#include "kitimport.h"

#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <vector>

#include "figures.h"
#include "kitplan.h"
#include "layerrules.h"
#include "resultcodes.h"
#include "soundinfo.h"
#include "workerpool.h"

namespace {

bool IsCancelled(const std::atomic<bool> *cancelled)
{
    return cancelled && *cancelled;
}

// The most frames a layer holds: what the sound check takes of one channel.
constexpr qint64 kMostLayerFrames = kLargestCheckedDataSize / 2;
// The fewest: shorter sounds are padded with silence to this.
constexpr int kFewestLayerFrames = int(kSmallestCheckedDataSize / 2);

// A frame position of the sample scaled to the bank's rate, within
// 0..frames whatever the kit wrote.
qint64 BankFrame(double position, qint64 frames)
{
    if (!(position > 0))
        return 0;
    return position >= double(frames) ? frames : std::llround(position);
}

QString GainText(double gain)
{
    return QString::number(gain, 'g', 6);
}

// The frames of the sample a part plays, mono, times its gain; empty when
// its offset and end leave nothing.
QVector<double> PartSamples(const DecodedSample &decoded, const LayerPart &part, double gain, bool leftOnly)
{
    const qint64 frames = decoded.sound.pcm.size() / (2 * std::max(1, int(decoded.sound.channels)));
    // offset and end count the sample's own frames, not the bank's.
    const double ratio = decoded.sourceRate > 0 ? double(kBankRate) / decoded.sourceRate : 1.0;
    const qint64 first = BankFrame(double(part.offset) * ratio, frames);
    const qint64 last = part.end < 0 ? frames : std::max(first, BankFrame((double(part.end) + 1) * ratio, frames));
    return KitLayerSamples(decoded.sound, gain, leftOnly, first, last - first);
}

// A layer's name in the bank from its sample's file name: ".wav", at most
// what the sound check takes, and none the bank already holds (in any case).
QString LayerName(const QString &sample, QSet<QString> *taken)
{
    const QString suffix = QStringLiteral(".wav");
    const QString base = QFileInfo(LastPathPart(sample)).completeBaseName();
    QString name = base.left(kMaxNameLength - int(suffix.size())) + suffix;
    for (int n = 2; taken->contains(name.toCaseFolded()); ++n) {
        const QString number = QStringLiteral(" (%1)").arg(n);
        name = base.left(kMaxNameLength - int(suffix.size() + number.size())) + number + suffix;
    }
    taken->insert(name.toCaseFolded());
    return name;
}

// What the bank's header takes of the budget, by the generator's own sum.
qint64 HeaderBytes(const KitPlan &plan, const QHash<int, QString> &names, const QString &bankName)
{
    QVector<LayerFile> layers;
    for (int index : plan.layers)
        layers << LayerFile{QString(), names.value(index), 0};
    ThresholdTable thresholds = {};
    DefaultThresholds(thresholds, int(layers.size()));
    return BuildZKSHeader(MakeGeneratorArgs(layers, thresholds, 0, bankName), 0).size();
}

// What a layer was made from and what was done to it before the steps the
// whole instrument shares: the first part of its note.
struct LayerStory {
    QStringList parts;   // each part used, by its file name, with what changed it
    QStringList changes; // "mixed to mono", "resampled from 48000 Hz"
};

// One way of finishing an instrument's layers as to their tails.
struct FinishedLayers {
    QVector<QByteArray> layers;
    QVector<bool> padded; // padded with silence to the shortest a layer may be
    QVector<int> frames;  // each layer's frames before the budget's cut
    int cut = 0;          // the frames layers were cut to; 0: none cut
};

// The note of layer `i` as `finished` makes it: its story, then what the
// instrument's shared steps did to it; `scaledBy` the decibels of the scale
// against clipping, empty when none shows.
QString LayerNote(const LayerStory &story, const QString &scaledBy, const FinishedLayers &finished, int i)
{
    QStringList changes = story.changes;
    if (!scaledBy.isEmpty())
        changes << QStringLiteral("scaled by %1").arg(WithUnit(scaledBy, "dB"));
    if (finished.cut > 0 && finished.frames.at(i) > finished.cut)
        changes << QStringLiteral("cut to %1").arg(WithUnit(double(finished.cut) / kBankRate, 2, "s"));
    if (finished.padded.at(i))
        changes << QStringLiteral("padded");
    const QString from = QStringLiteral("From ") + story.parts.join(QStringLiteral(" + "));
    return changes.isEmpty() ? from : from + QStringLiteral(": ") + changes.join(QStringLiteral(", "));
}

// The steps every kind of kit shares once each planned layer's mono samples
// are known: one scale against clipping, trimmed tails, short layers padded,
// fitting the budget, and the layers written; with `options.bothTails`, the
// other way as to tails as well, on the same plan. `samples`, `names` and
// `stories` are by the layers `plan` indexes, as are `samplesOf`, the kit's
// samples that name them.
void FinishInstrument(KitPlan plan, const QHash<int, QVector<double>> &samples,
                      const QHash<int, QString> &names, const QHash<int, QString> &samplesOf,
                      const QHash<int, LayerStory> &stories, const QString &workFolder,
                      const QString &bankName, const KitImportOptions &options,
                      PreparedInstrument *prepared)
{
    QStringList &notes = prepared->notes;
    QVector<FinishedLayers> ways;
    double scale = 1;
    for (;;) {
        QVector<QVector<double>> planned;
        for (int index : std::as_const(plan.layers))
            planned << samples.value(index);
        ways.clear();
        bool fit = true;
        QVector<bool> trims{options.trimTails};
        if (options.bothTails)
            trims << !options.trimTails;
        for (bool trim : std::as_const(trims)) {
            FinishedLayers way;
            way.layers = FinishKitLayers(planned, trim, &scale);
            if (!(scale > 0)) {
                prepared->failure = QStringLiteral("the gains leave no sound");
                return;
            }
            for (QByteArray &layer : way.layers) {
                way.padded << (layer.size() < 2 * kFewestLayerFrames);
                if (way.padded.last())
                    layer.append(QByteArray(2 * kFewestLayerFrames - layer.size(), '\0'));
                way.frames << int(layer.size() / 2);
            }
            fit = FitKitLayers(&way.layers, HeaderBytes(plan, names, bankName), &way.cut) && fit;
            ways << way;
        }
        // Both ways keep one plan, so switching between them keeps the rows.
        if (fit)
            break;
        if (plan.layers.size() == 1) {
            prepared->failure = MessageFor(RESULT_NO_SPACE).text;
            return;
        }
        notes << QStringLiteral("over the budget with %1 layers, one dropped").arg(plan.layers.size());
        ReduceKitPlan(&plan, int(plan.layers.size()) - 1);
    }
    FinishThresholds(&plan);
    const FinishedLayers &chosen = ways.first();
    for (int i = 0; i < plan.layers.size(); ++i) {
        if (chosen.padded.at(i))
            notes << QStringLiteral("%1: shorter than a layer may be, padded with silence").arg(names.value(plan.layers.at(i)));
    }
    // A scale too slight to show in a tenth of a decibel is not worth a line.
    QString scaledBy = Figure(20 * std::log10(scale), 1);
    if (!(scale < 1) || scaledBy == QLatin1String("0.0"))
        scaledBy.clear();
    if (!scaledBy.isEmpty())
        notes << QStringLiteral("scaled by %1 dB so no layer clips").arg(scaledBy);
    if (chosen.cut > 0)
        notes << QStringLiteral("layers cut to %1 s").arg(double(chosen.cut) / kBankRate, 0, 'f', 2);

    const auto fail = [prepared](const QString &failure) {
        prepared->failure = failure;
        prepared->layers.clear();
        prepared->otherLayers.clear();
    };
    for (const FinishedLayers &way : std::as_const(ways)) {
        QVector<LayerFile> &files = &way == &chosen ? prepared->layers : prepared->otherLayers;
        QStringList &layerNotes = &way == &chosen ? prepared->layerNotes : prepared->otherNotes;
        for (int i = 0; i < plan.layers.size(); ++i) {
            const QString name = names.value(plan.layers.at(i));
            const QString folder = NewResultFolder(workFolder);
            const QString path = folder + QLatin1Char('/') + name;
            QString error;
            if (folder.isEmpty() || !WritePcmSound(path, PcmSound{1, quint32(kBankRate), way.layers.at(i)}, &error)) {
                fail(folder.isEmpty() ? MessageFor(RESULT_OPEN_FAILED).text : error);
                return;
            }
            // Read back at once: a layer that cannot be (the machine out of
            // file descriptors) fails the instrument in the system's words
            // rather than becoming a layer whose size is an error code.
            const int size = OpenAndCheckFile(path, &error);
            if (size < 0) {
                fail(error.isEmpty() ? MessageFor(size).text : QStringLiteral("%1: %2").arg(name, error));
                return;
            }
            files << LayerFile{path, name, qint32(size)};
            layerNotes << LayerNote(stories.value(plan.layers.at(i)), scaledBy, way, i);
        }
    }
    for (int index : std::as_const(plan.layers))
        prepared->samples << samplesOf.value(index);
    prepared->thresholds = plan.thresholds;
}

// Decodes those of `samples` not yet tried, on every core at once, into
// `decoded` (or why not into `failed`, with a note), in `samples`' order.
void DecodeSamples(const QStringList &samples, const QHash<QString, qint64> &furthestOffsets,
                   const SampleDecoder &decode, QHash<QString, DecodedSample> *decoded,
                   QHash<QString, QString> *failed, QStringList *notes)
{
    QStringList wanted;
    for (const QString &sample : samples) {
        if (!decoded->contains(sample) && !failed->contains(sample) && !wanted.contains(sample))
            wanted << sample;
    }
    const int count = int(wanted.size());
    std::vector<DecodedSample> sounds(static_cast<size_t>(count));
    std::vector<QString> reasons(static_cast<size_t>(count));
    std::vector<char> done(static_cast<size_t>(count), 0);
    // A sample that fails, for want of descriptors or otherwise, is left out
    // with its note; the others are decoded all the same.
    RunInOrder(count, std::max(1, QThread::idealThreadCount()), nullptr,
               {[&](int i) {
                    done[size_t(i)] = decode(wanted.at(i), furthestOffsets.value(wanted.at(i)),
                                             &sounds[size_t(i)], &reasons[size_t(i)]);
                    return JobEnd();
                },
                [&](int i) {
                    if (done[size_t(i)]) {
                        decoded->insert(wanted.at(i), std::move(sounds[size_t(i)]));
                    } else {
                        failed->insert(wanted.at(i), reasons[size_t(i)]);
                        *notes << QStringLiteral("%1: %2").arg(LastPathPart(wanted.at(i)), reasons[size_t(i)]);
                    }
                },
                {}});
}

// The samples a layer sums, from those decoded; empty when no part gives
// any sound. Notes what was left out and why, and tells `story` what the
// layer was made of.
QVector<double> LayerSamples(const LayerSource &layer, const KitImportOptions &options,
                             const QHash<QString, DecodedSample> &decoded, QStringList *notes,
                             LayerStory *story)
{
    QVector<double> sum;
    bool stereo = false;
    QStringList rates;
    for (const LayerPart &part : layer.parts) {
        const QString shown = LastPathPart(part.sample);
        if (!decoded.contains(part.sample))
            continue;
        double gain = part.gain;
        // One far beyond any sample's range would make the whole instrument
        // silent once scaled against clipping.
        if (!std::isfinite(gain * 32768)) {
            *notes << QStringLiteral("%1: gain %2 is not finite, 1 used").arg(shown, GainText(gain));
            gain = 1;
        }
        const QVector<double> samples = PartSamples(decoded.value(part.sample), part, gain, options.leftOnly);
        if (samples.isEmpty()) {
            *notes << QStringLiteral("%1: offset %2 and end %3 leave none of its sound, left out")
                          .arg(shown)
                          .arg(part.offset)
                          .arg(part.end);
            continue;
        }
        const DecodedSample &sound = *decoded.constFind(part.sample);
        stereo = stereo || sound.sound.channels == 2 || sound.mixedToMono;
        if (sound.sourceRate != kBankRate && !rates.contains(QString::number(sound.sourceRate)))
            rates << QString::number(sound.sourceRate);
        QStringList changed;
        const QString decibels = gain > 0 ? Figure(20 * std::log10(gain), 1) : QString();
        if (!(gain > 0))
            changed << QStringLiteral("muted");
        else if (decibels != QLatin1String("0.0"))
            changed << QStringLiteral("gain %1").arg(WithUnit(decibels, "dB"));
        if (part.offset > 0)
            changed << QStringLiteral("offset %1").arg(part.offset);
        if (part.end >= 0)
            changed << QStringLiteral("end %1").arg(part.end);
        story->parts << (changed.isEmpty() ? shown : QStringLiteral("%1 (%2)").arg(shown, changed.join(QStringLiteral(", "))));
        if (sum.isEmpty()) {
            sum = samples;
            continue;
        }
        if (sum.size() < samples.size())
            sum.resize(samples.size());
        for (int i = 0; i < samples.size(); ++i)
            sum[i] += samples.at(i);
    }
    if (stereo)
        story->changes << (options.leftOnly ? QStringLiteral("left channel kept") : QStringLiteral("mixed to mono"));
    if (!rates.isEmpty())
        story->changes << QStringLiteral("resampled from %1").arg(WithUnit(rates.join(QStringLiteral(" and ")), "Hz"));
    if (layer.pitch != 0)
        story->changes << QStringLiteral("pitch %1 not applied").arg(layer.pitch);
    return sum;
}

// The hit strengths each layer of `source` plays, as the plan takes them.
QVector<KitLayer> Ranges(const InstrumentSource &source)
{
    QVector<KitLayer> ranges;
    for (const LayerSource &layer : source.layers) {
        KitLayer range;
        range.min = layer.min;
        range.max = layer.max;
        ranges << range;
    }
    return ranges;
}

// The first part whose sample was decoded names the layer.
QString NamingSample(const LayerSource &layer, const QHash<QString, DecodedSample> &decoded)
{
    for (const LayerPart &part : layer.parts) {
        if (decoded.contains(part.sample))
            return part.sample;
    }
    return layer.parts.isEmpty() ? QString() : layer.parts.first().sample;
}

} // namespace

void PreparedInstrument::FillThresholds(ThresholdTable table) const
{
    DefaultThresholds(table, int(thresholds.size()));
    for (int n = 1; n <= thresholds.size() && n <= kMaxLayers; ++n)
        table[n] = thresholds.at(n - 1);
}

SampleDecoder FileDecoder(const QString &workFolder, const std::atomic<bool> *cancelled)
{
    return [workFolder, cancelled](const QString &sample, qint64 furthestOffset, DecodedSample *decoded,
                                   QString *reason) {
        SoundInfo info;
        decoded->sourceRate = ReadSoundInfo(sample, &info) && info.rate > 0 ? info.rate : kBankRate;
        // No layer plays more than this past its offset; one frame more
        // shows that the layer was cut.
        const double ratio = double(kBankRate) / decoded->sourceRate;
        const double needed = double(furthestOffset) * ratio + kMostLayerFrames + 1;
        ConvertOptions options;
        options.cancelled = cancelled;
        options.workFolder = workFolder;
        // The header's length comes first: of a long sample, only what a
        // layer can hold is decoded (a tenth of a second more, so the
        // resampler's filter sees what follows every frame kept).
        options.inputFrameLimit = qint64(std::min((needed + kBankRate / 10) / ratio, 1e15));
        if (!DecodeSound(sample, options, &decoded->sound, reason))
            return false;
        const qint64 frames = BankFrame(needed,
                                        decoded->sound.pcm.size() / (2 * std::max<int>(1, decoded->sound.channels)));
        decoded->sound.pcm.truncate(int(frames * 2 * std::max<int>(1, decoded->sound.channels)));
        return true;
    };
}

PreparedInstrument PrepareInstrument(const InstrumentSource &source, const QString &workFolder,
                                     const QString &bankName, const KitImportOptions &options,
                                     const SampleDecoder &decode, const std::atomic<bool> *cancelled)
{
    PreparedInstrument prepared;
    QStringList &notes = prepared.notes;
    notes = source.notes;
    const int count = int(source.layers.size());
    prepared.kitLayers = count;
    const QVector<KitLayer> ranges = Ranges(source);
    QHash<QString, qint64> furthestOffsets;
    for (const LayerSource &layer : source.layers) {
        for (const LayerPart &part : layer.parts)
            furthestOffsets[part.sample] = std::max(furthestOffsets.value(part.sample), part.offset);
    }

    // Planned once on the kit's own order, as the kit's author meant it; a
    // layer that gives no sound is taken out and the plan made again, so a
    // round robin of its range serves instead.
    QVector<bool> unusable(count, false);
    QHash<int, QVector<double>> samples;
    QHash<int, LayerStory> stories;
    QHash<QString, DecodedSample> decoded;
    QHash<QString, QString> failed;
    KitPlan plan;
    bool allSilent = true; // every layer tried played silence
    for (bool again = true; again;) {
        plan = PlanKitLayers(ranges, unusable);
        again = false;
        QStringList needed;
        for (int index : std::as_const(plan.layers)) {
            for (const LayerPart &part : source.layers.at(index).parts)
                needed << part.sample;
        }
        DecodeSamples(needed, furthestOffsets, decode, &decoded, &failed, &notes);
        if (IsCancelled(cancelled)) {
            prepared.cancelled = true;
            return prepared;
        }
        for (int index : std::as_const(plan.layers)) {
            if (samples.contains(index))
                continue;
            LayerStory story;
            const QVector<double> layer = LayerSamples(source.layers.at(index), options, decoded, &notes, &story);
            // A silent layer would play nothing where the kit plays a sound.
            const bool silent
                = !layer.isEmpty() && std::all_of(layer.begin(), layer.end(), [](double value) { return value == 0; });
            if (!layer.isEmpty() && !silent) {
                samples.insert(index, layer);
                stories.insert(index, story);
                continue;
            }
            allSilent = allSilent && silent;
            if (silent)
                notes << QStringLiteral("%1: silent, left out")
                             .arg(LastPathPart(NamingSample(source.layers.at(index), decoded)));
            unusable[index] = true;
            again = true;
            for (int other = index + 1; other < count; ++other) {
                if (!unusable.at(other) && ranges.at(other).min == ranges.at(index).min
                    && ranges.at(other).max == ranges.at(index).max) {
                    notes << QStringLiteral("%1 serves in place of %2")
                                 .arg(LastPathPart(NamingSample(source.layers.at(other), decoded)),
                                      LastPathPart(NamingSample(source.layers.at(index), decoded)));
                    break;
                }
            }
        }
    }
    if (plan.layers.isEmpty()) {
        prepared.empty = count > 0 && allSilent;
        prepared.failure = prepared.empty ? QStringLiteral("plays only silence") : QStringLiteral("no usable sample");
        return prepared;
    }
    ReduceKitPlan(&plan, kMaxLayers);
    notes << plan.notes;
    for (int index : std::as_const(plan.layers)) {
        const LayerSource &layer = source.layers.at(index);
        if (layer.pitch != 0)
            notes << QStringLiteral("pitch %1 of %2 not applied")
                         .arg(layer.pitch)
                         .arg(LastPathPart(NamingSample(layer, decoded)));
    }
    QHash<int, QString> names;
    QHash<int, QString> samplesOf;
    QSet<QString> taken;
    for (int index : std::as_const(plan.layers)) {
        samplesOf.insert(index, NamingSample(source.layers.at(index), decoded));
        names.insert(index, LayerName(samplesOf.value(index), &taken));
    }
    FinishInstrument(plan, samples, names, samplesOf, stories, workFolder, bankName, options, &prepared);
    return prepared;
}

int PlannedLayerCount(const InstrumentSource &source)
{
    return std::min(int(PlanKitLayers(Ranges(source)).layers.size()), kMaxLayers);
}
