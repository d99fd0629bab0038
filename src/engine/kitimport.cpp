#include "kitimport.h"

#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cmath>

#include "kitplan.h"
#include "layerrules.h"
#include "resultcodes.h"
#include "soundinfo.h"
#include "tailtrim.h"

namespace {

bool IsCancelled(const std::atomic<bool> *cancelled)
{
    return cancelled && *cancelled;
}

// Converts one sample as any layer is converted and reads it back; false
// with why when it fails.
bool ConvertSound(const QString &sample, const QString &work, const std::atomic<bool> *cancelled,
                  PcmSound *sound, QString *reason)
{
    ConvertOptions options;
    options.inProcess = true;
    options.cancelled = cancelled;
    options.workFolder = work;
    const QString path = ConvertFile(sample, options, reason);
    // No sound check here: a layer too long for the bank is cut to fit.
    if (reason->isEmpty() && !QFileInfo(path).isFile())
        *reason = MessageFor(RESULT_OPEN_FAILED).text;
    return reason->isEmpty() && ReadPcmSound(path, sound, reason);
}

// Converts each layer and reads it back; a layer that fails is left out of
// `instrument`, with why. Keyed by the layer's new index.
QHash<int, PcmSound> ConvertLayers(KitInstrument *instrument, const QString &work,
                                   const std::atomic<bool> *cancelled, QStringList *notes)
{
    QHash<int, PcmSound> converted;
    QVector<KitLayer> usable;
    for (const KitLayer &layer : std::as_const(instrument->layers)) {
        QString reason;
        PcmSound sound;
        const bool done = ConvertSound(layer.path, work, cancelled, &sound, &reason);
        if (IsCancelled(cancelled))
            return {};
        if (!done) {
            *notes << QStringLiteral("%1: %2").arg(LastPathPart(layer.path), reason);
            continue;
        }
        converted.insert(int(usable.size()), sound);
        usable << layer;
    }
    instrument->layers = usable;
    return converted;
}

QString LayerName(const KitLayer &layer)
{
    return QFileInfo(LastPathPart(layer.path)).completeBaseName() + QStringLiteral(".wav");
}

// What the bank's header takes of the budget, by the generator's own sum.
qint64 HeaderBytes(const KitPlan &plan, const QStringList &names, const QString &bankName)
{
    QVector<LayerFile> layers;
    for (int index : plan.layers)
        layers << LayerFile{QString(), names.at(index), 0};
    ThresholdTable thresholds = {};
    DefaultThresholds(thresholds, int(layers.size()));
    return BuildZKSHeader(MakeGeneratorArgs(layers, thresholds, 0, bankName), 0).size();
}

// The steps both kinds of kit share once each layer's mono samples are
// known: reduction to eight, one scale against clipping, trimmed tails,
// fitting the budget, and the layers written. `samples` and `names` are by
// the layers `plan` indexes.
void FinishInstrument(KitPlan plan, const QHash<int, QVector<double>> &samples, const QStringList &names,
                      const QString &workFolder, const QString &bankName, PreparedInstrument *prepared)
{
    QStringList &notes = prepared->notes;
    QVector<QByteArray> layers;
    double scale = 1;
    int cut = 0;
    for (;;) {
        QVector<QVector<double>> planned;
        for (int index : std::as_const(plan.layers))
            planned << samples.value(index);
        layers = FinishKitLayers(planned, &scale);
        if (FitKitLayers(&layers, HeaderBytes(plan, names, bankName), &cut))
            break;
        if (plan.layers.size() == 1) {
            prepared->failure = MessageFor(RESULT_NO_SPACE).text;
            return;
        }
        notes << QStringLiteral("over the budget with %1 layers, one dropped").arg(plan.layers.size());
        ReduceKitPlan(&plan, int(plan.layers.size()) - 1);
    }
    FinishThresholds(&plan);
    if (scale < 1)
        notes << QStringLiteral("scaled by %1 dB so no layer clips").arg(20 * std::log10(scale), 0, 'f', 1);
    if (cut > 0)
        notes << QStringLiteral("layers cut to %1 s").arg(double(cut) / kBankRate, 0, 'f', 2);

    for (int i = 0; i < plan.layers.size(); ++i) {
        const QString name = names.at(plan.layers.at(i));
        const QString folder = NewResultFolder(workFolder);
        const QString path = folder + QLatin1Char('/') + name;
        QString error;
        if (folder.isEmpty() || !WritePcmSound(path, PcmSound{1, quint32(kBankRate), layers.at(i)}, &error)) {
            prepared->failure = folder.isEmpty() ? MessageFor(RESULT_OPEN_FAILED).text : error;
            prepared->layers.clear();
            return;
        }
        prepared->layers << LayerFile{path, name, qint32(OpenAndCheckFile(path))};
    }
    prepared->thresholds = plan.thresholds;
}

} // namespace

PreparedInstrument PrepareKitInstrument(KitInstrument instrument, const QString &workFolder,
                                        const QString &bankName, bool leftOnly,
                                        const std::atomic<bool> *cancelled)
{
    PreparedInstrument prepared;
    QStringList &notes = prepared.notes;
    notes = instrument.problems;
    // Only the layers that play some hit strength are worth converting.
    KitPlan plan = PlanKitLayers(instrument.layers);
    QVector<KitLayer> planned;
    for (int index : std::as_const(plan.layers))
        planned << instrument.layers.at(index);
    notes << plan.notes;
    instrument.layers = planned;
    const QHash<int, PcmSound> converted = ConvertLayers(&instrument, workFolder, cancelled, &notes);
    if (IsCancelled(cancelled)) {
        prepared.cancelled = true;
        return prepared;
    }
    plan = PlanKitLayers(instrument.layers);
    if (plan.layers.isEmpty()) {
        prepared.failure = QStringLiteral("no usable sample");
        return prepared;
    }
    ReduceKitPlan(&plan, kMaxLayers);
    notes << plan.notes;
    for (int index : std::as_const(plan.layers)) {
        if (instrument.layers.at(index).pitch != 0)
            notes << QStringLiteral("pitch %1 of %2 not applied")
                         .arg(instrument.layers.at(index).pitch)
                         .arg(LastPathPart(instrument.layers.at(index).path));
    }
    QHash<int, QVector<double>> samples;
    QStringList names;
    for (int i = 0; i < instrument.layers.size(); ++i)
        names << LayerName(instrument.layers.at(i));
    for (int index : std::as_const(plan.layers))
        samples.insert(index, KitLayerSamples(converted.value(index),
                                              instrument.layers.at(index).gain * instrument.gain, leftOnly));
    FinishInstrument(plan, samples, names, workFolder, bankName, &prepared);
    return prepared;
}

PreparedInstrument PrepareSfzKey(const SfzKit &kit, int key, const QString &workFolder,
                                 const QString &bankName, bool leftOnly,
                                 const std::atomic<bool> *cancelled)
{
    PreparedInstrument prepared;
    QStringList &notes = prepared.notes;
    int leftOut = 0;
    const QVector<SfzBand> bands = SfzKeyBands(kit, key, &leftOut);
    if (leftOut > 0)
        notes << QStringLiteral("%1 round-robin region(s) left out").arg(leftOut);
    // A sample that serves several regions is converted once.
    QHash<QString, PcmSound> converted;
    QHash<QString, QString> failed;
    QVector<KitLayer> layers;
    QHash<int, QVector<double>> samples;
    QStringList names;
    for (int b = 0; b < bands.size(); ++b) {
        QVector<double> sum;
        QString named; // the layer takes the name of its first usable sample
        for (const SfzRegion &region : bands.at(b).regions) {
            if (!converted.contains(region.sample) && !failed.contains(region.sample)) {
                PcmSound sound;
                QString reason;
                const bool done = ConvertSound(region.sample, workFolder, cancelled, &sound, &reason);
                if (IsCancelled(cancelled)) {
                    prepared.cancelled = true;
                    return prepared;
                }
                if (done) {
                    converted.insert(region.sample, sound);
                } else {
                    failed.insert(region.sample, reason);
                    notes << QStringLiteral("%1: %2").arg(LastPathPart(region.sample), reason);
                }
            }
            if (!converted.contains(region.sample))
                continue;
            if (named.isEmpty())
                named = region.sample;
            const QVector<double> mono
                = KitLayerSamples(converted.value(region.sample), region.Gain(), leftOnly);
            // offset and end count the sample's own frames, not the bank's.
            SoundInfo info;
            const double ratio = ReadSoundInfo(region.sample, &info) && info.rate > 0
                ? double(kBankRate) / info.rate
                : 1.0;
            const qint64 first = std::min<qint64>(std::llround(region.offset * ratio), mono.size());
            const qint64 last = region.end < 0
                ? mono.size()
                : std::clamp<qint64>(std::llround((region.end + 1) * ratio), first, mono.size());
            if (sum.size() < last - first)
                sum.resize(int(last - first));
            for (qint64 i = first; i < last; ++i)
                sum[int(i - first)] += mono.at(int(i));
        }
        if (sum.isEmpty())
            continue;
        // The band as a layer playing its velocities, so the instrument's
        // plan gives it its lowest velocity as threshold.
        KitLayer layer;
        layer.path = named;
        layer.min = double(bands.at(b).threshold) / kHitStrengths;
        layer.max = b + 1 < bands.size() ? double(bands.at(b + 1).threshold - 1) / kHitStrengths : 1.0;
        samples.insert(int(layers.size()), sum);
        names << LayerName(layer);
        layers << layer;
    }
    KitPlan plan = PlanKitLayers(layers);
    if (plan.layers.isEmpty()) {
        prepared.failure = QStringLiteral("no usable sample");
        return prepared;
    }
    ReduceKitPlan(&plan, kMaxLayers);
    notes << plan.notes;
    FinishInstrument(plan, samples, names, workFolder, bankName, &prepared);
    return prepared;
}
