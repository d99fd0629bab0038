#ifndef KITPIPELINE_H
#define KITPIPELINE_H

#include <QString>
#include <QVector>
#include <QtGlobal>

#include "layerrules.h"

// The steps a kit's layers go through on their way into a bank, the same for
// the window and zkstool: each layer's size against the budget and the size
// tables, its quiet tail trimmed, the layers put loudest first and the
// thresholds spread by their levels. Plain values in, results out.

// A layer file and the bytes it takes in the bank.
struct SizedFile {
    QString path;
    qint32 size = 0;
};

// The layer size of a trimmed copy, as the sound check counts it, but
// without its limits on the name and the length: a layer read back from a
// bank may have a longer file name, or a shorter sound, than an added one.
// 0 when the file is no readable WAVE.
qint32 MeasuredLayerSize(const QString &path);

// The layer that `source` (of layer size `sourceSize`) makes with its quiet
// tail below `dbfs` trimmed: a copy under the same file name in `folder`, and
// that copy's own layer size, measured after trimming. A layer read back from
// a bank is stored with the gate's cut already made, so its saving is never
// taken from its untrimmed sound. Trimming that fails or saves no layer space
// (or an empty `folder`) gives `source` itself and leaves neither the copy
// nor `folder`, when empty, behind.
SizedFile TrimmedLayer(const QString &source, qint32 sourceSize, const QString &folder,
                       double dbfs);

// The layer sizes of `layers` (indexed by layer - 1), for LayerSizesVerdict.
int LayerFilesVerdict(const QVector<SizedFile> &layers);

// The order that puts layers loudest first by their attack levels (dBFS),
// as LoudestFirst gives it; when `spread`, sets the thresholds from those
// levels as ThresholdsFromLevels does.
QVector<int> LoudnessOrder(const QVector<double> &attackDbfs, bool spread,
                           ThresholdTable thresholds);

#endif
