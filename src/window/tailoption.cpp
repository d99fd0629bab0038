#include "tailoption.h"

#include "fileprocessor.h"
#include "kitpipeline.h"
#include "resultcodes.h"
#include "tailtrim.h"
#include "zkwindow.h"

QString SlotSource[kMaxLayers];
qint32 SlotSourceSize[kMaxLayers];

namespace {

// Layer bytes as kilobytes of 1000 bytes, to a tenth.
QString Kilobytes(qint64 bytes)
{
    return QString::number(double(bytes) / 1000.0, 'f', 1);
}

// What trimming saved layer `index`: zero when it holds its untrimmed file.
qint64 SavedBytes(int index)
{
    return SlotPath[index] == SlotSource[index] ? 0 : SlotSourceSize[index] - SlotSize[index];
}

// Discards the files of `files` (indexed by layer - 1) that are neither a
// layer's untrimmed file nor the file `kept` holds for the same layer.
void DiscardTrimmedCopies(const QVector<SizedFile> &files, const QVector<SizedFile> &kept)
{
    for (int i = 0; i < files.size(); ++i) {
        const QString &path = files.at(i).path;
        if (path != SlotSource[i] && path != kept.value(i).path)
            DiscardConverted(path);
    }
}

} // namespace

void ClearSlotSources()
{
    for (int i = 0; i < kMaxLayers; ++i) {
        SlotSource[i].clear();
        SlotSourceSize[i] = 0;
    }
}

SizedFile TrimmedLayer(const QString &source, qint32 sourceSize)
{
    return TrimmedLayer(source, sourceSize, NewResultFolder(WorkFolder()), kDefaultTailDbfs);
}

SizedFile LayerFromSource(int index, bool trim)
{
    if (!trim)
        return {SlotSource[index], SlotSourceSize[index]};
    return TrimmedLayer(SlotSource[index], SlotSourceSize[index]);
}

void TakeConvertedLayer(int index, bool trim, QString *converted)
{
    DiscardConverted(SlotSource[index]);
    SlotSource[index] = *converted;
    SlotSourceSize[index] = SlotSize[index];
    const SizedFile layer = LayerFromSource(index, trim);
    *converted = layer.path;
    SlotSize[index] = layer.size;
}

int ApplyTailOption(int count, bool trim, qint32 *used)
{
    QVector<SizedFile> before, after;
    for (int i = 0; i < count; ++i) {
        before << SizedFile{SlotPath[i], SlotSize[i]};
        after << LayerFromSource(i, trim);
    }
    const int verdict = LayerFilesVerdict(after);
    if (verdict != 0) {
        DiscardTrimmedCopies(after, before);
        return verdict;
    }
    DiscardTrimmedCopies(before, after);
    *used = 0;
    for (int i = 0; i < count; ++i) {
        SlotPath[i] = after.at(i).path;
        SlotSize[i] = after.at(i).size;
        *used += SlotSize[i];
    }
    return 0;
}

void DiscardSlotFiles(int count)
{
    for (int i = 0; i < count; ++i) {
        if (SlotPath[i] != SlotSource[i])
            DiscardConverted(SlotPath[i]);
        DiscardConverted(SlotSource[i]);
    }
}

QString TrimToolTipLine(int layer)
{
    const qint64 saved = SavedBytes(layer - 1);
    if (saved <= 0)
        return QString();
    // The bank holds one channel of 16-bit samples.
    const double seconds = double(saved) / (2.0 * kBankRate);
    // Below a tenth of a second, milliseconds: "0.0 s" would say nothing.
    const QString length = seconds < 0.1 ? QStringLiteral("%1 ms").arg(qRound(seconds * 1000))
                                         : QStringLiteral("%1 s").arg(seconds, 0, 'f', 1);
    return QStringLiteral("Trimming saves %1 KB (%2)").arg(Kilobytes(saved), length);
}

QString TrimTotalToolTip(int count)
{
    qint64 saved = 0;
    for (int i = 0; i < count; ++i)
        saved += SavedBytes(i);
    if (saved <= 0)
        return QString();
    return QStringLiteral("Trimming saves %1 KB in all").arg(Kilobytes(saved));
}
