#include "bankdocument.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <iterator>

#include "bankreader.h"
#include "explain.h"
#include "fileprocessor.h"
#include "kitpipeline.h"
#include "resultcodes.h"
#include "tailtrim.h"

namespace {

// The refusal of layer sizes LayerSizesVerdict refused: `layerSize` bytes
// would not fit beside `usedWithout`, or the size tables cannot hold them.
Refusal SizesRefusal(int verdict, qint32 layerSize, qint32 usedWithout)
{
    return RefusalFor(verdict, QString(),
                      verdict == RESULT_NO_SPACE ? NoSpaceDetail(layerSize, usedWithout) : SizeTableDetail());
}

QString PathOf(const FileHold &file)
{
    return file ? file->path() : QString();
}

} // namespace

QString NoFreeLayerReason()
{
    return QCoreApplication::translate("ZKWindow", "no free layer");
}

BankDocument::BankDocument()
{
    ApplyGate(0);
    CountUsedSpace();
}

QString BankDocument::Path(int layer) const
{
    return layer >= 1 && layer <= kMaxLayers ? PathOf(layers[layer - 1].file) : QString();
}

QString BankDocument::Name(int layer) const
{
    return layer >= 1 && layer <= kMaxLayers ? layers[layer - 1].name : QString();
}

qint32 BankDocument::Size(int layer) const
{
    return layer >= 1 && layer <= kMaxLayers ? layers[layer - 1].size : 0;
}

QString BankDocument::Source(int layer) const
{
    return layer >= 1 && layer <= kMaxLayers ? PathOf(layers[layer - 1].source) : QString();
}

qint32 BankDocument::SourceSize(int layer) const
{
    return layer >= 1 && layer <= kMaxLayers ? layers[layer - 1].sourceSize : 0;
}

QStringList BankDocument::HeldFiles() const
{
    QStringList files;
    for (int i = 0; i < count; ++i) {
        const Layer &layer = layers[i];
        for (const FileHold &file : {layer.file, layer.source, layer.source ? layer.source->trimmedCopy() : FileHold()}) {
            if (file && !files.contains(file->path()))
                files << file->path();
        }
    }
    return files;
}

QString BankDocument::LayerNote(int layer) const
{
    if (layer < 1 || layer > count || !layers[layer - 1].file)
        return QString();
    return layers[layer - 1].file->note();
}

qint32 BankDocument::Threshold(int layer) const
{
    return layer >= 0 && layer <= kMaxLayers ? threshold[layer] : 0;
}

bool BankDocument::operator==(const BankDocument &other) const
{
    for (int i = 0; i < kMaxLayers; ++i) {
        const Layer &a = layers[i];
        const Layer &b = other.layers[i];
        if (PathOf(a.file) != PathOf(b.file) || a.name != b.name || a.size != b.size
            || PathOf(a.source) != PathOf(b.source) || a.sourceSize != b.sourceSize)
            return false;
    }
    return std::equal(threshold, threshold + kMaxLayers + 1, other.threshold) && count == other.count
        && gatePosition == other.gatePosition && trimTails == other.trimTails
        && thresholdsChosen == other.thresholdsChosen;
}

BankDocument::Layer BankDocument::FromSource(const FileHold &source, qint32 sourceSize, bool trim)
{
    Layer layer;
    layer.source = source;
    layer.sourceSize = sourceSize;
    layer.file = source;
    layer.size = sourceSize;
    if (!trim)
        return layer;
    if (source->trimmedCopy()) {
        layer.file = source->trimmedCopy();
        layer.size = source->trimmedCopySize();
        return layer;
    }
    const TrimmedCopy known = trimmedCopies->value(source->path());
    if (FileHold copy = known.file.lock()) {
        layer.file = copy;
        layer.size = known.size;
        return layer;
    }
    const SizedFile made = TrimmedLayer(source->path(), sourceSize, NewResultFolder(WorkFolder()),
                                        kDefaultTailDbfs);
    // A sound with nothing to trim is its own copy.
    layer.file = made.path == source->path() ? source : HeldFile::Take(made.path);
    layer.size = made.size;
    for (auto it = trimmedCopies->begin(); it != trimmedCopies->end();)
        it = it->file.expired() ? trimmedCopies->erase(it) : std::next(it);
    trimmedCopies->insert(source->path(), {layer.file, made.size});
    return layer;
}

void BankDocument::CountUsedSpace()
{
    usedSpace = 0;
    for (int i = 0; i < count; ++i)
        usedSpace += layers[i].size;
    availablePercent = AvailablePercentFor(usedSpace);
}

void BankDocument::SpreadThresholds()
{
    DefaultThresholds(threshold, count);
    thresholdsChosen = false;
}

Refusal BankDocument::Add(const OfferedSound &sound)
{
    if (count >= kMaxLayers && sound.refused.IsEmpty()) {
        DiscardConverted(sound.converted);
        return RefusalSaying(QFileInfo(sound.chosen).fileName(), NoFreeLayerReason());
    }
    const Refusal refused = PutSound(count, sound, count + 1);
    if (!refused.IsEmpty())
        return refused;
    ++count;
    SpreadThresholds();
    CountUsedSpace();
    return Refusal();
}

Refusal BankDocument::Replace(int layer, const OfferedSound &sound)
{
    if (layer < 1 || layer > count) {
        DiscardConverted(sound.converted);
        return RefusalSaying(QFileInfo(sound.chosen).fileName(),
                             QStringLiteral("there is no layer %1").arg(layer));
    }
    const Refusal refused = PutSound(layer - 1, sound, count);
    if (!refused.IsEmpty())
        return refused;
    CountUsedSpace();
    return Refusal();
}

Refusal BankDocument::PutSound(int index, const OfferedSound &sound, int layerCount)
{
    if (!sound.refused.IsEmpty()) {
        DiscardConverted(sound.converted);
        return sound.refused;
    }
    // Refused, the sound and its trimmed copy go with their holds.
    const FileHold source = HeldFile::Take(sound.converted);
    Layer layer = FromSource(source, sound.size, trimTails);
    qint32 sizes[kMaxLayers];
    for (int i = 0; i < kMaxLayers; ++i)
        sizes[i] = layers[i].size;
    sizes[index] = layer.size;
    const int refused = LayerSizesVerdict(sizes, layerCount);
    if (refused != 0) {
        // What is left for the sound: the budget less every other layer.
        const qint32 usedWithout = usedSpace - (index < count ? layers[index].size : 0);
        return SizesRefusal(refused, layer.size, usedWithout);
    }
    layer.name = LastPathPart(layer.file->path());
    layers[index] = layer;
    return Refusal();
}

bool BankDocument::Remove(int layer)
{
    if (layer < 1 || layer > count)
        return false;
    for (int i = layer - 1; i < count; ++i)
        layers[i] = Layer();
    count = layer - 1;
    SpreadThresholds();
    CountUsedSpace();
    return true;
}

void BankDocument::Reorder(const QVector<int> &order, const ThresholdTable thresholds)
{
    // Everything kept per layer moves with it: the untrimmed file behind a
    // trimmed layer too.
    const BankDocument before = *this;
    for (int i = 0; i < count && i < order.size(); ++i)
        layers[i] = before.layers[order.at(i)];
    SetThresholds(thresholds);
}

Refusal BankDocument::ApplyTrim(bool on)
{
    // Refused, copies made for nothing go with their holds.
    QVector<Layer> after;
    QVector<SizedFile> sizes;
    for (int i = 0; i < count; ++i) {
        after << FromSource(layers[i].source, layers[i].sourceSize, on);
        sizes << SizedFile{after.last().file->path(), after.last().size};
    }
    const int verdict = LayerFilesVerdict(sizes);
    if (verdict != 0)
        return RefusalFor(verdict, QString());
    for (int i = 0; i < count; ++i) {
        after[i].name = layers[i].name;
        layers[i] = after.at(i);
    }
    trimTails = on;
    CountUsedSpace();
    return Refusal();
}

void BankDocument::Open(const QVector<BankLayer> &opened, const ThresholdTable thresholds,
                        const QVector<FileHold> &held)
{
    for (int i = 0; i < kMaxLayers; ++i) {
        if (i >= opened.size()) {
            layers[i] = Layer();
            continue;
        }
        const LayerFile &file = opened.at(i).file;
        const FileHold source = i < held.size() ? held.at(i) : HeldFile::Take(file.path);
        layers[i] = FromSource(source, file.size, trimTails);
        // The name the bank stores, which its file may not be able to carry.
        layers[i].name = file.name;
    }
    std::copy(thresholds, thresholds + kMaxLayers + 1, threshold);
    count = int(std::min<qsizetype>(opened.size(), kMaxLayers));
    ApplyGate(0);
    // Whoever made the bank or the kit chose these thresholds.
    thresholdsChosen = true;
    CountUsedSpace();
}

void BankDocument::SetThresholds(const ThresholdTable thresholds)
{
    std::copy(thresholds, thresholds + kMaxLayers + 1, threshold);
    thresholdsChosen = false;
}

bool BankDocument::MoveThreshold(int layer, int position)
{
    if (layer < 1 || layer > kMaxLayers)
        return false;
    // A layer that cannot go further leaves the table as it is: its
    // neighbours, an opened bank's empty layers among them, are pushed only
    // by a move.
    ThresholdTable moved;
    std::copy(threshold, threshold + kMaxLayers + 1, moved);
    ::MoveThreshold(moved, count, layer, position);
    if (moved[layer] == threshold[layer])
        return false;
    std::copy(moved, moved + kMaxLayers + 1, threshold);
    thresholdsChosen = true;
    return true;
}

bool BankDocument::SetGate(int position)
{
    return ApplyGate(position);
}

bool BankDocument::ApplyGate(int position)
{
    QString label;
    quint16 amplitude;
    if (!GateForPosition(position, &label, &amplitude))
        return false;
    gatePosition = position;
    gateLevel = amplitude;
    return true;
}

Refusal BankDocument::Write(const QString &targetPath) const
{
    // The name goes into the bank's header, which the device reads as lines.
    if (NameHasControlCharacter(LastPathPart(targetPath)))
        return RefusalFor(RESULT_FILE_ERROR, QString(), ControlCharacterDetail());
    QVector<LayerFile> files;
    for (int i = 0; i < count; ++i)
        files.append({PathOf(layers[i].file), layers[i].name, layers[i].size});
    QString reason;
    const qint32 result = GenerateZKS(MakeGeneratorArgs(files, threshold, gateLevel, targetPath), &reason);
    if (result == GENERATE_OK)
        return Refusal();
    return RefusalFor(ResultCodeForGenerator(result), QString(),
                      QCoreApplication::translate("ZKWindow", "The bank was not saved.") + QLatin1Char(' ')
                          + AboutFile(QDir::toNativeSeparators(targetPath), reason));
}
