#include "slottable.h"

#include <QFileInfo>

#include <algorithm>
#include <iterator>

#include "bankreader.h"
#include "conversionrunner.h"
#include "explain.h"
#include "fileprocessor.h"
#include "resultcodes.h"
#include "soundqueue.h"
#include "tailtrim.h"

QString SlotPath[kMaxLayers];
QString SlotName[kMaxLayers];
qint32 SlotSize[kMaxLayers];
ThresholdTable SlotThreshold;
qint32 SlotCount = 0;
qint32 UsedSpace = 0;
qint32 AvailablePercent = 0;
qint32 SelectedLayer = 0;
quint16 GateLevel = 0;
QString SlotSource[kMaxLayers];
qint32 SlotSourceSize[kMaxLayers];

namespace {

// A sound the conversion or the sound check refused, as the box tells it:
// about the chosen file where the file itself is at fault.
Refusal VerdictRefusal(const ConversionVerdict &verdict)
{
    Refusal refusal = verdict.refusal;
    refusal.subject = RefusalIsAboutFile(refusal.code) ? QFileInfo(verdict.chosen).fileName() : QString();
    return refusal;
}

// The refusal of layer sizes LayerSizesVerdict refused: `layerSize` bytes
// would not fit beside `usedWithout`, or the size tables cannot hold them.
Refusal SizesRefusal(int verdict, qint32 layerSize, qint32 usedWithout)
{
    return RefusalFor(verdict, QString(),
                      verdict == RESULT_NO_SPACE ? NoSpaceDetail(layerSize, usedWithout) : SizeTableDetail());
}

} // namespace

void MakeSlotName(int index)
{
    SlotName[index] = LastPathPart(SlotPath[index]);
}

bool SlotState::operator==(const SlotState &other) const
{
    for (int i = 0; i < kMaxLayers; ++i) {
        if (path[i] != other.path[i] || name[i] != other.name[i] || size[i] != other.size[i]
            || source[i] != other.source[i] || sourceSize[i] != other.sourceSize[i])
            return false;
    }
    return std::equal(threshold, threshold + kMaxLayers + 1, other.threshold) && count == other.count
        && gatePosition == other.gatePosition && trimTails == other.trimTails
        && thresholdsChosen == other.thresholdsChosen;
}

SlotTable::SlotTable(QObject *parent) : QObject(parent)
{
    SlotState empty;
    empty.threshold[1] = 1;
    Restore(empty);
    // The space bar shows nothing until the first layer comes.
    AvailablePercent = 0;
    SelectedLayer = 0;
}

SlotTable::HeldLayer SlotTable::FromSource(const FileHold &source, qint32 sourceSize, bool trim)
{
    if (!trim)
        return {source, sourceSize};
    const TrimmedCopy known = trimmedCopies.value(source->path());
    if (FileHold copy = known.file.lock())
        return {copy, known.size};
    const SizedFile made = TrimmedLayer(source->path(), sourceSize, NewResultFolder(WorkFolder()),
                                        kDefaultTailDbfs);
    // A sound with nothing to trim is its own copy.
    const FileHold copy = made.path == source->path() ? source : HeldFile::Take(made.path);
    for (auto it = trimmedCopies.begin(); it != trimmedCopies.end();)
        it = it->file.expired() ? trimmedCopies.erase(it) : std::next(it);
    trimmedCopies.insert(source->path(), {copy, made.size});
    return {copy, made.size};
}

void SlotTable::SetFiles(int index, const FileHold &source, qint32 sourceSize, const HeldLayer &layer)
{
    sourceFile[index] = source;
    SlotSource[index] = source->path();
    SlotSourceSize[index] = sourceSize;
    layerFile[index] = layer.file;
    SlotPath[index] = layer.file->path();
    SlotSize[index] = layer.size;
}

void SlotTable::EmptyLayer(int index)
{
    sourceFile[index].reset();
    layerFile[index].reset();
    SlotPath[index].clear();
    SlotName[index].clear();
    SlotSize[index] = 0;
    SlotSource[index].clear();
    SlotSourceSize[index] = 0;
}

void SlotTable::CountUsedSpace()
{
    UsedSpace = 0;
    for (int i = 0; i < SlotCount; ++i)
        UsedSpace += SlotSize[i];
    AvailablePercent = AvailablePercentFor(UsedSpace);
}

Refusal SlotTable::Add(const ConversionVerdict &verdict)
{
    if (SlotCount >= kMaxLayers && verdict.IsLayer()) {
        DiscardConverted(verdict.layer.path);
        return RefusalSaying(QFileInfo(verdict.chosen).fileName(), NoFreeLayerReason());
    }
    const Refusal refused = PutSound(SlotCount, verdict, SlotCount + 1);
    if (!refused.IsEmpty())
        return refused;
    ++SlotCount;
    DefaultThresholds(SlotThreshold, SlotCount);
    thresholdsChosen = false;
    CountUsedSpace();
    emit changed();
    return Refusal();
}

Refusal SlotTable::Replace(int layer, const ConversionVerdict &verdict)
{
    if (layer < 1 || layer > SlotCount) {
        DiscardConverted(verdict.layer.path);
        return RefusalSaying(QFileInfo(verdict.chosen).fileName(),
                             QStringLiteral("there is no layer %1").arg(layer));
    }
    const Refusal refused = PutSound(layer - 1, verdict, SlotCount);
    if (!refused.IsEmpty())
        return refused;
    CountUsedSpace();
    emit changed();
    return Refusal();
}

Refusal SlotTable::PutSound(int index, const ConversionVerdict &verdict, int count)
{
    if (!verdict.IsLayer()) {
        DiscardConverted(verdict.layer.path);
        return VerdictRefusal(verdict);
    }
    // Refused, the sound and its trimmed copy go with their holds.
    const FileHold source = HeldFile::Take(verdict.layer.path);
    const HeldLayer layer = FromSource(source, verdict.layer.size, trimTails);
    qint32 sizes[kMaxLayers];
    std::copy(SlotSize, SlotSize + kMaxLayers, sizes);
    sizes[index] = layer.size;
    const int refused = LayerSizesVerdict(sizes, count);
    if (refused != 0) {
        // What is left for the sound: the budget less every other layer.
        const qint32 usedWithout = UsedSpace - (index < SlotCount ? SlotSize[index] : 0);
        return SizesRefusal(refused, layer.size, usedWithout);
    }
    SetFiles(index, source, verdict.layer.size, layer);
    MakeSlotName(index);
    return Refusal();
}

void SlotTable::Remove(int layer)
{
    if (layer < 1 || layer > SlotCount)
        return;
    for (int i = layer - 1; i < SlotCount; ++i)
        EmptyLayer(i);
    SlotCount = layer - 1;
    DefaultThresholds(SlotThreshold, SlotCount);
    thresholdsChosen = false;
    CountUsedSpace();
    emit changed();
}

void SlotTable::Reorder(const QVector<int> &order, const ThresholdTable thresholds)
{
    // Everything kept per layer moves with it: the slot table and the
    // untrimmed file behind a trimmed layer.
    const SlotState before = State();
    for (int i = 0; i < SlotCount && i < order.size(); ++i) {
        const int from = order.at(i);
        SetFiles(i, before.sourceFile[from], before.sourceSize[from],
                 {before.pathFile[from], before.size[from]});
        SlotName[i] = before.name[from];
    }
    SetThresholds(thresholds);
}

Refusal SlotTable::ApplyTrim(bool on)
{
    // Refused, copies made for nothing go with their holds.
    QVector<HeldLayer> after;
    QVector<SizedFile> sizes;
    for (int i = 0; i < SlotCount; ++i) {
        after << FromSource(sourceFile[i], SlotSourceSize[i], on);
        sizes << SizedFile{after.last().file->path(), after.last().size};
    }
    const int verdict = LayerFilesVerdict(sizes);
    if (verdict != 0)
        return RefusalFor(verdict, QString());
    for (int i = 0; i < SlotCount; ++i)
        SetFiles(i, sourceFile[i], SlotSourceSize[i], after.at(i));
    trimTails = on;
    CountUsedSpace();
    emit changed();
    return Refusal();
}

void SlotTable::Open(const QVector<BankLayer> &layers, const ThresholdTable thresholds)
{
    for (int i = 0; i < kMaxLayers; ++i) {
        if (i >= layers.size()) {
            EmptyLayer(i);
            continue;
        }
        const LayerFile &file = layers.at(i).file;
        const FileHold source = HeldFile::Take(file.path);
        SetFiles(i, source, file.size, FromSource(source, file.size, trimTails));
        // The name the bank stores, which its file may not be able to carry.
        SlotName[i] = file.name;
    }
    std::copy(thresholds, thresholds + kMaxLayers + 1, SlotThreshold);
    SlotCount = int(std::min<qsizetype>(layers.size(), kMaxLayers));
    ApplyGate(0);
    // Whoever made the bank or the kit chose these thresholds.
    thresholdsChosen = true;
    CountUsedSpace();
    emit changed();
}

void SlotTable::SetThresholds(const ThresholdTable thresholds)
{
    std::copy(thresholds, thresholds + kMaxLayers + 1, SlotThreshold);
    thresholdsChosen = false;
    emit changed();
}

bool SlotTable::MoveThreshold(int layer, int position)
{
    if (layer < 1 || layer > kMaxLayers)
        return false;
    // A layer that cannot go further leaves the table as it is: its
    // neighbours, an opened bank's empty layers among them, are pushed only
    // by a move.
    ThresholdTable moved;
    std::copy(SlotThreshold, SlotThreshold + kMaxLayers + 1, moved);
    ::MoveThreshold(moved, SlotCount, layer, position);
    if (moved[layer] == SlotThreshold[layer])
        return false;
    std::copy(moved, moved + kMaxLayers + 1, SlotThreshold);
    thresholdsChosen = true;
    emit changed();
    return true;
}

bool SlotTable::SetGate(int position)
{
    if (!ApplyGate(position))
        return false;
    emit changed();
    return true;
}

bool SlotTable::ApplyGate(int position)
{
    QString label;
    quint16 amplitude;
    if (!GateForPosition(position, &label, &amplitude))
        return false;
    gatePosition = position;
    GateLevel = amplitude;
    return true;
}

SlotState SlotTable::State() const
{
    SlotState state;
    for (int i = 0; i < kMaxLayers; ++i) {
        state.path[i] = SlotPath[i];
        state.name[i] = SlotName[i];
        state.size[i] = SlotSize[i];
        state.source[i] = SlotSource[i];
        state.sourceSize[i] = SlotSourceSize[i];
        state.pathFile[i] = layerFile[i];
        state.sourceFile[i] = sourceFile[i];
    }
    std::copy(SlotThreshold, SlotThreshold + kMaxLayers + 1, state.threshold);
    state.count = SlotCount;
    state.gatePosition = gatePosition;
    state.trimTails = trimTails;
    state.thresholdsChosen = thresholdsChosen;
    return state;
}

void SlotTable::Restore(const SlotState &state)
{
    for (int i = 0; i < kMaxLayers; ++i) {
        SlotPath[i] = state.path[i];
        SlotName[i] = state.name[i];
        SlotSize[i] = state.size[i];
        SlotSource[i] = state.source[i];
        SlotSourceSize[i] = state.sourceSize[i];
        layerFile[i] = state.pathFile[i];
        sourceFile[i] = state.sourceFile[i];
    }
    std::copy(state.threshold, state.threshold + kMaxLayers + 1, SlotThreshold);
    SlotCount = state.count;
    ApplyGate(state.gatePosition);
    trimTails = state.trimTails;
    thresholdsChosen = state.thresholdsChosen;
    CountUsedSpace();
    emit changed();
}
