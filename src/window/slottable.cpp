#include "slottable.h"

#include <QFileInfo>

#include <algorithm>

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
    return RefusalFor(verdict.size,
                      RefusalIsAboutFile(verdict.size) ? QFileInfo(verdict.chosen).fileName() : QString(),
                      verdict.detail);
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
        && thresholdsEdited == other.thresholdsEdited;
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

SizedFile SlotTable::FromSource(const QString &source, qint32 sourceSize, bool trim)
{
    if (!trim)
        return {source, sourceSize};
    const auto known = trimmedCopies.constFind(source);
    if (known != trimmedCopies.constEnd())
        return *known;
    const SizedFile copy = TrimmedLayer(source, sourceSize, NewResultFolder(WorkFolder()), kDefaultTailDbfs);
    trimmedCopies.insert(source, copy);
    return copy;
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
    if (verdict.size <= 0) {
        DiscardConverted(verdict.converted);
        return VerdictRefusal(verdict);
    }
    const int i = SlotCount;
    if (i >= kMaxLayers) {
        DiscardConverted(verdict.converted);
        return RefusalSaying(QFileInfo(verdict.chosen).fileName(), NoFreeLayerReason());
    }
    const SizedFile layer = FromSource(verdict.converted, verdict.size, trimTails);
    qint32 sizes[kMaxLayers];
    std::copy(SlotSize, SlotSize + kMaxLayers, sizes);
    sizes[i] = layer.size;
    const int refused = LayerSizesVerdict(sizes, i + 1);
    if (refused != 0) {
        trimmedCopies.remove(verdict.converted);
        if (layer.path != verdict.converted)
            DiscardConverted(layer.path);
        DiscardConverted(verdict.converted);
        return SizesRefusal(refused, layer.size, UsedSpace);
    }
    SlotSource[i] = verdict.converted;
    SlotSourceSize[i] = verdict.size;
    SlotPath[i] = layer.path;
    SlotSize[i] = layer.size;
    MakeSlotName(i);
    SlotCount = i + 1;
    DefaultThresholds(SlotThreshold, SlotCount);
    thresholdsEdited = false;
    CountUsedSpace();
    emit changed();
    return Refusal();
}

Refusal SlotTable::Replace(int layer, const ConversionVerdict &verdict)
{
    const int i = layer - 1;
    if (verdict.size <= 0) {
        DiscardConverted(verdict.converted);
        return VerdictRefusal(verdict);
    }
    const SizedFile taken = FromSource(verdict.converted, verdict.size, trimTails);
    const qint32 usedWithout = UsedSpace - SlotSize[i];
    qint32 sizes[kMaxLayers];
    std::copy(SlotSize, SlotSize + kMaxLayers, sizes);
    sizes[i] = taken.size;
    const int refused = LayerSizesVerdict(sizes, SlotCount);
    if (refused != 0) {
        trimmedCopies.remove(verdict.converted);
        if (taken.path != verdict.converted)
            DiscardConverted(taken.path);
        DiscardConverted(verdict.converted);
        return SizesRefusal(refused, taken.size, usedWithout);
    }
    SlotSource[i] = verdict.converted;
    SlotSourceSize[i] = verdict.size;
    SlotPath[i] = taken.path;
    SlotSize[i] = taken.size;
    MakeSlotName(i);
    CountUsedSpace();
    emit changed();
    return Refusal();
}

void SlotTable::Remove(int layer)
{
    if (layer < 1 || layer > SlotCount)
        return;
    for (int i = layer - 1; i < SlotCount; ++i) {
        SlotPath[i].clear();
        SlotName[i].clear();
        SlotSize[i] = 0;
        SlotSource[i].clear();
        SlotSourceSize[i] = 0;
    }
    SlotCount = layer - 1;
    DefaultThresholds(SlotThreshold, SlotCount);
    thresholdsEdited = false;
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
        SlotPath[i] = before.path[from];
        SlotName[i] = before.name[from];
        SlotSize[i] = before.size[from];
        SlotSource[i] = before.source[from];
        SlotSourceSize[i] = before.sourceSize[from];
    }
    SetThresholds(thresholds);
}

Refusal SlotTable::ApplyTrim(bool on)
{
    QVector<SizedFile> after;
    for (int i = 0; i < SlotCount; ++i)
        after << FromSource(SlotSource[i], SlotSourceSize[i], on);
    const int verdict = LayerFilesVerdict(after);
    if (verdict != 0)
        return RefusalFor(verdict, QString());
    for (int i = 0; i < SlotCount; ++i) {
        SlotPath[i] = after.at(i).path;
        SlotSize[i] = after.at(i).size;
    }
    trimTails = on;
    CountUsedSpace();
    emit changed();
    return Refusal();
}

void SlotTable::Open(const QVector<BankLayer> &layers, const ThresholdTable thresholds)
{
    for (int i = 0; i < kMaxLayers; ++i) {
        if (i >= layers.size()) {
            SlotPath[i].clear();
            SlotName[i].clear();
            SlotSize[i] = 0;
            SlotSource[i].clear();
            SlotSourceSize[i] = 0;
            continue;
        }
        const LayerFile &file = layers.at(i).file;
        SlotSource[i] = file.path;
        SlotSourceSize[i] = file.size;
        const SizedFile layer = FromSource(file.path, file.size, trimTails);
        SlotPath[i] = layer.path;
        SlotSize[i] = layer.size;
        // The name the bank stores, which its file may not be able to carry.
        SlotName[i] = file.name;
    }
    std::copy(thresholds, thresholds + kMaxLayers + 1, SlotThreshold);
    SlotCount = int(std::min<qsizetype>(layers.size(), kMaxLayers));
    ApplyGate(0);
    thresholdsEdited = false;
    CountUsedSpace();
    emit changed();
}

void SlotTable::SetThresholds(const ThresholdTable thresholds)
{
    std::copy(thresholds, thresholds + kMaxLayers + 1, SlotThreshold);
    thresholdsEdited = false;
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
    thresholdsEdited = true;
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
    }
    std::copy(SlotThreshold, SlotThreshold + kMaxLayers + 1, state.threshold);
    state.count = SlotCount;
    state.gatePosition = gatePosition;
    state.trimTails = trimTails;
    state.thresholdsEdited = thresholdsEdited;
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
    }
    std::copy(state.threshold, state.threshold + kMaxLayers + 1, SlotThreshold);
    SlotCount = state.count;
    ApplyGate(state.gatePosition);
    trimTails = state.trimTails;
    thresholdsEdited = state.thresholdsEdited;
    CountUsedSpace();
    emit changed();
}
