#include "kitpipeline.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "fileprocessor.h"
#include "tailtrim.h"

namespace {

// Removes a copy that will not become a layer, and its folder once empty.
void RemoveCopy(const QString &path)
{
    QFile::remove(path);
    const QFileInfo info(path);
    QDir(info.absolutePath()).rmdir(info.absolutePath());
}

} // namespace

qint32 MeasuredLayerSize(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray header = ReadWavHeader(file);
    if (!HasDataTag(header))
        return 0;
    return LayerSizeFor(quint32(WavDataSize(header)), IsStereo(header));
}

SizedFile TrimmedLayer(const QString &source, qint32 sourceSize, const QString &folder,
                       double dbfs)
{
    const SizedFile untrimmed{source, sourceSize};
    if (folder.isEmpty())
        return untrimmed;
    // The same file name keeps the layer's name as the user chose it.
    const QString path = folder + QLatin1Char('/') + QFileInfo(source).fileName();
    if (!TrimTailFile(source, path, dbfs, nullptr)) {
        RemoveCopy(path);
        return untrimmed;
    }
    const qint32 size = MeasuredLayerSize(path);
    if (size <= 0 || size >= sourceSize) {
        RemoveCopy(path);
        return untrimmed;
    }
    return {path, size};
}

int LayerFilesVerdict(const QVector<SizedFile> &layers)
{
    qint32 sizes[kMaxLayers] = {};
    const int count = qMin(int(layers.size()), kMaxLayers);
    for (int i = 0; i < count; ++i)
        sizes[i] = layers.at(i).size;
    return LayerSizesVerdict(sizes, count);
}

QVector<int> LoudnessOrder(const QVector<double> &attackDbfs, bool spread,
                           ThresholdTable thresholds)
{
    const QVector<int> order = LoudestFirst(attackDbfs);
    if (spread) {
        QVector<double> loudestFirst;
        for (int from : order)
            loudestFirst << attackDbfs.at(from);
        ThresholdsFromLevels(thresholds, loudestFirst);
    }
    return order;
}
