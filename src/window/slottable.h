#ifndef SLOTTABLE_H
#define SLOTTABLE_H

#include <QHash>
#include <QObject>
#include <QString>
#include <QVector>

#include "conversionrunner.h"
#include "heldfile.h"
#include "kitpipeline.h"
#include "layerrules.h"
#include "refusal.h"

struct BankLayer;

// The layer slot table: the bank being assembled. One window exists per
// process, so the table is module state, reset by each new SlotTable. Paths,
// names and sizes are indexed by layer - 1, thresholds by layer.
extern QString SlotPath[kMaxLayers];
extern QString SlotName[kMaxLayers];
extern qint32 SlotSize[kMaxLayers];
extern ThresholdTable SlotThreshold;
extern qint32 SlotCount;
extern qint32 UsedSpace;
extern qint32 AvailablePercent;
extern qint32 SelectedLayer;
extern quint16 GateLevel;
// Each layer's untrimmed converted file and its layer size. With "Trim
// tails" on, SlotPath and SlotSize are those of the trimmed copy; off, those
// of the untrimmed file, so turning the option off and on again always
// starts from the whole sound.
extern QString SlotSource[kMaxLayers];
extern qint32 SlotSourceSize[kMaxLayers];

// Sets SlotName[index] to the file-name part of SlotPath[index].
void MakeSlotName(int index);

// Everything the bank would hold, as one value: what undo keeps and puts
// back. A state taken from the table holds its layers' files, so a step of
// undo keeps the files it would bring back; two states are the same when
// what they hold is, files compared by their paths.
struct SlotState {
    QString path[kMaxLayers];
    QString name[kMaxLayers];
    qint32 size[kMaxLayers] = {};
    QString source[kMaxLayers];
    qint32 sourceSize[kMaxLayers] = {};
    ThresholdTable threshold = {};
    qint32 count = 0;
    int gatePosition = 0; // 0 for "Don't" to 4 for "-30dB"
    bool trimTails = false;
    // The thresholds were chosen since they were last spread: the user
    // moved one, or they came with an opened bank or an imported kit.
    bool thresholdsChosen = false;
    // The files of path[] and source[].
    FileHold pathFile[kMaxLayers];
    FileHold sourceFile[kMaxLayers];

    bool operator==(const SlotState &other) const;
    bool operator!=(const SlotState &other) const { return !(*this == other); }
};

// The operations on the slot table. Each either changes the table and
// emits changed() once, or, refusing, changes nothing and says why.
//
// The table takes each layer file it is given (a converted sound, an opened
// bank's or an imported kit's layer) and the trimmed copies it makes, and
// holds them while they are in its layers; a state taken with State() holds
// them too. A file that neither the table nor any state kept holds is
// removed: a removed or replaced layer, or a trimmed copy no longer used,
// stays for as long as a step of undo may bring it back. Files refused on
// the way in are removed at once (a long sound's conversion can take a
// hundred megabytes).
class SlotTable : public QObject
{
    Q_OBJECT

public:
    // Empties the table: no layers, no gate, the default thresholds.
    explicit SlotTable(QObject *parent = nullptr);

    // Appends the converted sound as the next layer, the thresholds spread
    // anew for one layer more. Refused for a verdict that refuses the sound
    // (the refusal names the chosen file), for a bank that would then
    // exceed the budget or the size tables; the converted file is removed.
    Refusal Add(const ConversionVerdict &verdict);
    // Puts the converted sound in place of layer `layer`'s, keeping its
    // threshold, once it passes the checks a new layer passes with the old
    // sound's space given back.
    Refusal Replace(int layer, const ConversionVerdict &verdict);
    // Removes layer `layer` and every one after it, the thresholds spread
    // anew for the layers left.
    void Remove(int layer);
    // Puts the layers in `order` (order[i] is the index, layer - 1, of the
    // layer that becomes layer i + 1) with `thresholds`.
    void Reorder(const QVector<int> &order, const ThresholdTable thresholds);
    // Makes every layer afresh from its untrimmed file, trimmed when `on`.
    // Refused, the option unchanged, when the bank has no room for the
    // result (RESULT_NO_SPACE) or the size tables cannot describe it
    // (RESULT_TOO_BIG).
    Refusal ApplyTrim(bool on);
    // The layers of an opened bank or an imported instrument take the
    // table's place: each file as its layer's untrimmed file (trimmed when
    // the option is on), the names and all eight thresholds as given, the
    // gate off, since the sounds start where their own gate cut them. The
    // thresholds count as chosen.
    void Open(const QVector<BankLayer> &layers, const ThresholdTable thresholds);
    // Puts `thresholds` in place as a fresh spread, not the user's edits.
    void SetThresholds(const ThresholdTable thresholds);
    // Moves layer `layer`'s threshold as the slider does, pushing its
    // neighbours; false when nothing changed.
    bool MoveThreshold(int layer, int position);
    // The gate at slider position `position`; false for no such position.
    bool SetGate(int position);

    SlotState State() const;
    // Puts a state taken earlier back; changed() follows.
    void Restore(const SlotState &state);

    int GatePosition() const { return gatePosition; }
    bool TrimTails() const { return trimTails; }
    bool ThresholdsChosen() const { return thresholdsChosen; }

signals:
    void changed();

private:
    struct HeldLayer {
        FileHold file;
        qint32 size = 0;
    };
    // The file and size a layer takes from its untrimmed file: the trimmed
    // copy when `trim` (made once per untrimmed file while something holds
    // it), else the untrimmed file itself.
    HeldLayer FromSource(const FileHold &source, qint32 sourceSize, bool trim);
    // Puts the untrimmed file and the layer file in layer `index` (layer - 1).
    void SetFiles(int index, const FileHold &source, qint32 sourceSize, const HeldLayer &layer);
    // Leaves layer `index` without files, name or size.
    void EmptyLayer(int index);
    // Checks the converted sound as layer `index` (layer - 1) of a bank of
    // `count` layers and, passing, puts it there; the caller sets the count
    // and tells of the change.
    Refusal PutSound(int index, const ConversionVerdict &verdict, int count);
    void CountUsedSpace();
    bool ApplyGate(int position);

    int gatePosition = 0;
    bool trimTails = false;
    bool thresholdsChosen = false;
    // Each layer's files, which SlotPath and SlotSource name.
    FileHold layerFile[kMaxLayers];
    FileHold sourceFile[kMaxLayers];
    // Each untrimmed file's trimmed copy, by the untrimmed file's path, for
    // as long as something holds the copy.
    struct TrimmedCopy {
        std::weak_ptr<const HeldFile> file;
        qint32 size = 0;
    };
    QHash<QString, TrimmedCopy> trimmedCopies;
};

#endif
