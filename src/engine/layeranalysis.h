#ifndef LAYERANALYSIS_H
#define LAYERANALYSIS_H

#include <QHash>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>

#include "layerrules.h"
#include "loudness.h"
#include "waveformsummary.h"

// What the window tells about each layer's sound: its levels, its waveform
// and the part the gate cuts. A layer's file is read once and each result is
// worked out once per file (the summary) or once per file and gate (levels,
// cut, the sound as the bank holds it), so hovering, selecting a layer or
// moving the gate back and forth never reads or measures again. Results are
// kept by the converted file's path: layers that change places keep theirs.
class LayerAnalysis
{
public:
    LayerAnalysis() = default;
    ~LayerAnalysis();
    LayerAnalysis(const LayerAnalysis &) = delete;
    LayerAnalysis &operator=(const LayerAnalysis &) = delete;

    // The levels of the layer file at `path` as the bank holds it with the
    // gate's amplitude. False when the file can't be read, with the reason
    // MeasureLayerFile would give.
    bool levels(const QString &path, quint16 gate, LayerLevels *measured, QString *reason = nullptr);
    // The summary of the file's left channel before the cut; null when the
    // file can't be read.
    std::shared_ptr<const WaveSummary> summary(const QString &path);
    // How many leading frames the gate cuts (0 when the file can't be read).
    qint64 cutFrames(const QString &path, quint16 gate);
    // A WAVE of what the bank holds of the layer with this gate, its left
    // channel after the cut, written once into a folder of its own in the
    // working folder. Empty, with a reason, when the file can't be read or
    // written.
    QString heldSoundFile(const QString &path, quint16 gate, QString *reason = nullptr);

    // Forgets every file not in `paths` and removes the WAVEs written for
    // them.
    void keepOnly(const QStringList &paths);

private:
    struct GateResult {
        bool measured = false;
        LayerLevels levels;
        qint64 cutFrames = -1;
        QString heldFile;
    };
    struct Entry {
        bool readable = false;
        QString reason;
        QByteArray left; // 16-bit mono, before the cut
        std::shared_ptr<const WaveSummary> summary;
        QHash<quint16, GateResult> gates;
    };
    Entry &entry(const QString &path);
    static void RemoveHeldFiles(const Entry &entry);

    QHash<QString, Entry> entries;
};

// The lines a layer's tool tip gives its levels in, e.g. "Peak -6.0 dBFS,
// attack -9.0 dBFS" and, for a sound of 0.4 s or more, "Loudness -9.0 LUFS".
QStringList LevelsLines(const LayerLevels &levels);

// Which hits layer `layer` of `count` (two or more) plays with these
// thresholds, in one sentence: "Layer 1 plays hits from 85 up (the hardest)", "Layer 2 plays
// hits from 43 to 84", "Layer 3 plays hits from 1 to 42 (the softest)".
QString HitRangeText(const ThresholdTable thresholds, int count, int layer);

// The waveform strip's caption: the layer, how long its sound lasts after
// the cut and the space it takes in the bank (1 KB = 1,000 bytes), e.g.
// "Layer 2: 0.80 s, 71 KB".
QString LayerViewCaption(int layer, qint64 heldFrames, qint32 layerBytes);

#endif
