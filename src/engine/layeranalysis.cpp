#include "layeranalysis.h"

#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <utility>

#include "figures.h"
#include "fileprocessor.h"

namespace {

// A summary of at least this many blocks, so a short sound still has
// several blocks to each pixel of a wide strip rather than steps, and blocks
// of at most 256 frames, which keeps the longest layer's summary at about
// 24 KB.
constexpr int kSummaryBlocks = 4096;
constexpr int kLargestSummaryBlock = 256;

bool WriteMonoWave(const QString &path, const QByteArray &mono16)
{
    QFile file(path);
    const QByteArray wave = CanonicalWavHeader(1, kBankRate, 16, quint32(mono16.size())) + mono16;
    return file.open(QIODevice::WriteOnly) && file.write(wave) == wave.size();
}

// A level in tenths of a decibel, or "silent" for minus infinity.
QString Level(double db, const char *unit)
{
    if (std::isinf(db))
        return QStringLiteral("silent");
    return WithUnit(db, 1, unit);
}

} // namespace

LayerAnalysis::~LayerAnalysis()
{
    for (const Entry &e : std::as_const(entries))
        RemoveHeldFiles(e);
}

LayerAnalysis::Entry &LayerAnalysis::entry(const QString &path)
{
    auto found = entries.find(path);
    if (found != entries.end())
        return *found;
    Entry &e = entries[path];
    e.readable = ReadLayerAudio(path, &e.left, &e.reason);
    return e;
}

bool LayerAnalysis::levels(const QString &path, quint16 gate, LayerLevels *measured, QString *reason)
{
    Entry &e = entry(path);
    if (!e.readable) {
        if (reason)
            *reason = e.reason;
        return false;
    }
    GateResult &g = e.gates[gate];
    if (!g.measured) {
        g.levels = MeasureSamples(CutLeadingSilence(e.left, gate));
        g.measured = true;
    }
    *measured = g.levels;
    return true;
}

std::shared_ptr<const WaveSummary> LayerAnalysis::summary(const QString &path)
{
    Entry &e = entry(path);
    if (e.readable && !e.summary) {
        const int blockFrames = qBound(1, int(e.left.size() / 2 / kSummaryBlocks), kLargestSummaryBlock);
        e.summary = std::make_shared<const WaveSummary>(SummarizeSamples(e.left, blockFrames));
    }
    return e.summary;
}

qint64 LayerAnalysis::cutFrames(const QString &path, quint16 gate)
{
    Entry &e = entry(path);
    if (!e.readable)
        return 0;
    GateResult &g = e.gates[gate];
    if (g.cutFrames < 0)
        g.cutFrames = GateCutFrames(e.left, gate);
    return g.cutFrames;
}

QString LayerAnalysis::heldSoundFile(const QString &path, quint16 gate, QString *reason)
{
    QString unused;
    reason = reason ? reason : &unused;
    Entry &e = entry(path);
    if (!e.readable) {
        *reason = e.reason;
        return QString();
    }
    GateResult &g = e.gates[gate];
    if (!g.heldFile.isEmpty() && QFileInfo(g.heldFile).isFile())
        return g.heldFile;
    const QString folder = NewResultFolder(WorkFolder());
    const QString held = folder + QLatin1Char('/') + QFileInfo(path).fileName();
    if (folder.isEmpty() || !WriteMonoWave(held, CutLeadingSilence(e.left, gate))) {
        if (!folder.isEmpty())
            DiscardConverted(held);
        *reason = QStringLiteral("the sound could not be written to the working folder");
        return QString();
    }
    g.heldFile = held;
    return held;
}

void LayerAnalysis::keepOnly(const QStringList &paths)
{
    for (auto it = entries.begin(); it != entries.end();) {
        if (paths.contains(it.key())) {
            ++it;
            continue;
        }
        RemoveHeldFiles(*it);
        it = entries.erase(it);
    }
}

void LayerAnalysis::RemoveHeldFiles(const Entry &entry)
{
    for (const GateResult &g : entry.gates) {
        if (!g.heldFile.isEmpty())
            DiscardConverted(g.heldFile);
    }
}

QStringList LevelsLines(const LayerLevels &levels)
{
    if (std::isinf(levels.peakDbfs))
        return {QStringLiteral("Silent: no levels to measure")};
    QStringList lines{QStringLiteral("Peak %1, attack %2")
                          .arg(Level(levels.peakDbfs, "dBFS"), Level(levels.attackDbfs, "dBFS"))};
    if (levels.loudnessKnown)
        lines << (std::isinf(levels.loudnessLufs)
                      ? QStringLiteral("Loudness below what can be measured")
                      : QStringLiteral("Loudness %1").arg(Level(levels.loudnessLufs, "LUFS")));
    return lines;
}

QString HitRangeText(const ThresholdTable thresholds, int count, int layer)
{
    const qint32 lowest = thresholds[layer];
    if (layer == 1)
        return QStringLiteral("Layer 1 plays hits from %1 up (the hardest)").arg(lowest);
    const qint32 highest = thresholds[layer - 1] - 1;
    const QString range = highest == lowest
        ? QStringLiteral("only hits of %1").arg(lowest)
        : QStringLiteral("hits from %1 to %2").arg(lowest).arg(highest);
    const QString softest = layer == count ? QStringLiteral(" (the softest)") : QString();
    return QStringLiteral("Layer %1 plays %2%3").arg(QString::number(layer), range, softest);
}

QString LayerViewCaption(int layer, qint64 heldFrames, qint32 layerBytes)
{
    return QStringLiteral("Layer %1: %2, %3")
        .arg(QString::number(layer), WithUnit(double(heldFrames) / kBankRate, 2, "s"),
             WithUnit(layerBytes / 1000.0, 0, "KB"));
}
