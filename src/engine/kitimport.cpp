#include "kitimport.h"

#include <QFileInfo>
#include <QHash>

#include <cmath>

#include "kitplan.h"
#include "layerrules.h"
#include "resultcodes.h"
#include "tailtrim.h"

namespace {

bool IsCancelled(const std::atomic<bool> *cancelled)
{
    return cancelled && *cancelled;
}

// Converts each layer and reads it back; a layer that fails is left out of
// `instrument`, with why. Keyed by the layer's new index.
QHash<int, PcmSound> ConvertLayers(KitInstrument *instrument, const QString &work,
                                   const std::atomic<bool> *cancelled, QStringList *notes)
{
    QHash<int, PcmSound> converted;
    QVector<KitLayer> usable;
    ConvertOptions options;
    options.inProcess = true;
    options.cancelled = cancelled;
    options.workFolder = work;
    for (const KitLayer &layer : std::as_const(instrument->layers)) {
        QString reason;
        const QString path = ConvertFile(layer.path, options, &reason);
        if (IsCancelled(cancelled))
            return {};
        PcmSound sound;
        // No sound check here: a layer too long for the bank is cut to fit.
        if (reason.isEmpty() && !QFileInfo(path).isFile())
            reason = MessageFor(RESULT_OPEN_FAILED).text;
        if (!reason.isEmpty() || !ReadPcmSound(path, &sound, &reason)) {
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
qint64 HeaderBytes(const KitInstrument &instrument, const KitPlan &plan, const QString &bankName)
{
    QVector<LayerFile> layers;
    for (int index : plan.layers)
        layers << LayerFile{QString(), LayerName(instrument.layers.at(index)), 0};
    ThresholdTable thresholds = {};
    DefaultThresholds(thresholds, int(layers.size()));
    return BuildZKSHeader(MakeGeneratorArgs(layers, thresholds, 0, bankName), 0).size();
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
    QVector<QByteArray> layers;
    double scale = 1;
    int cut = 0;
    for (;;) {
        QVector<QVector<double>> samples;
        for (int index : std::as_const(plan.layers))
            samples << KitLayerSamples(converted.value(index),
                                       instrument.layers.at(index).gain * instrument.gain, leftOnly);
        layers = FinishKitLayers(samples, &scale);
        if (FitKitLayers(&layers, HeaderBytes(instrument, plan, bankName), &cut))
            break;
        if (plan.layers.size() == 1) {
            prepared.failure = MessageFor(RESULT_NO_SPACE).text;
            return prepared;
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
        const QString name = LayerName(instrument.layers.at(plan.layers.at(i)));
        const QString folder = NewResultFolder(workFolder);
        const QString path = folder + QLatin1Char('/') + name;
        QString error;
        if (folder.isEmpty() || !WritePcmSound(path, PcmSound{1, quint32(kBankRate), layers.at(i)}, &error)) {
            prepared.failure = folder.isEmpty() ? MessageFor(RESULT_OPEN_FAILED).text : error;
            prepared.layers.clear();
            return prepared;
        }
        prepared.layers << LayerFile{path, name, qint32(OpenAndCheckFile(path))};
    }
    prepared.thresholds = plan.thresholds;
    return prepared;
}
