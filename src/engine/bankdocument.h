#ifndef BANKDOCUMENT_H
#define BANKDOCUMENT_H

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>

#include "heldfile.h"
#include "layerrules.h"
#include "refusal.h"

struct BankLayer;

// A converted sound offered as a layer: the file the user chose, the
// converted file (which the document takes: kept as a layer or removed),
// and its layer size once the sound check passed it, or why not.
struct OfferedSound {
    QString chosen;
    QString converted; // may be empty: nothing was converted
    qint32 size = 0;   // the layer size; 0 when refused
    Refusal refused;   // why the conversion or the sound check refused it
};

// The bank being edited, as one value: each layer's file, name and size and
// the untrimmed file it was made from, the thresholds, the gate and
// "Trim tails". A copy is a snapshot (undo keeps them); two documents made
// apart are independent.
//
// Layers are numbered 1 to kMaxLayers. The used space, the available
// percentage, the names and the thresholds follow layerrules' rules after
// every operation. Each operation either changes the document or, refusing,
// changes nothing and says why.
//
// The document holds each layer file it is given (a converted sound, an
// opened bank's or an imported kit's layer) and the trimmed copies it makes
// through FileHold, and so does every copy of it: a file goes once no
// document value holds it. Files refused on the way in are removed at once
// (a long sound's conversion can take a hundred megabytes).
class BankDocument
{
public:
    // No layers, no gate, the default thresholds.
    BankDocument();

    // Appends the sound as the next layer, the thresholds spread anew for
    // one layer more. Refused for a sound the intake refused, for a ninth
    // layer, for a bank that would then exceed the budget or the size
    // tables; the converted file is removed.
    Refusal Add(const OfferedSound &sound);
    // Puts the sound in place of layer `layer`'s, keeping its threshold,
    // once it passes the checks a new layer passes with the old sound's
    // space given back.
    Refusal Replace(int layer, const OfferedSound &sound);
    // Removes layer `layer` and every one after it, the thresholds spread
    // anew for the layers left; false for no such layer.
    bool Remove(int layer);
    // Puts the layers in `order` (order[i] is the index, layer - 1, of the
    // layer that becomes layer i + 1) with `thresholds`.
    void Reorder(const QVector<int> &order, const ThresholdTable thresholds);
    // Makes every layer afresh from its untrimmed file, trimmed when `on`.
    // Refused, the option unchanged, when the bank has no room for the
    // result (RESULT_NO_SPACE) or the size tables cannot describe it
    // (RESULT_TOO_BIG).
    Refusal ApplyTrim(bool on);
    // The layers of an opened bank or an imported instrument take the
    // document's place: each file as its layer's untrimmed file (trimmed
    // when the option is on), the names and all eight thresholds as given,
    // the gate off, since the sounds start where their own gate cut them.
    // The thresholds count as chosen. `held`, when given, holds the layers'
    // files already (an import's, with their notes and trimmed copies).
    void Open(const QVector<BankLayer> &layers, const ThresholdTable thresholds,
              const QVector<FileHold> &held = {});
    // Puts `thresholds` in place as a fresh spread, not the user's edits.
    void SetThresholds(const ThresholdTable thresholds);
    // Moves layer `layer`'s threshold as the slider does, pushing its
    // neighbours; false when nothing changed.
    bool MoveThreshold(int layer, int position);
    // The gate at slider position `position`; false for no such position.
    bool SetGate(int position);
    // Writes the bank to `targetPath`, replacing a file there. Refused with
    // the message the user is shown: a bank name the device would misread,
    // or the generator's failure with the reason.
    Refusal Write(const QString &targetPath) const;

    int Count() const { return count; }
    // Layer `layer`'s file, the name the bank gives it and its size; its
    // untrimmed file and that one's size. Empty for an empty layer.
    QString Path(int layer) const;
    QString Name(int layer) const;
    qint32 Size(int layer) const;
    QString Source(int layer) const;
    qint32 SourceSize(int layer) const;
    // Every file the layers hold: each one's file, its untrimmed file and
    // the trimmed copy an import made beside that.
    QStringList HeldFiles() const;
    // What the import did to make layer `layer`'s sound; empty for a sound
    // that came otherwise.
    QString LayerNote(int layer) const;
    // Indexed by layer: element 0 is unused.
    const qint32 *Thresholds() const { return threshold; }
    qint32 Threshold(int layer) const;
    qint32 UsedSpace() const { return usedSpace; }
    qint32 AvailablePercent() const { return availablePercent; }
    int GatePosition() const { return gatePosition; } // 0 for "Don't" to 4 for "-30dB"
    quint16 GateLevel() const { return gateLevel; }   // the gate's sample amplitude
    bool TrimTails() const { return trimTails; }
    // The thresholds were chosen since they were last spread: the user
    // moved one, or they came with an opened bank or an imported kit.
    bool ThresholdsChosen() const { return thresholdsChosen; }

    // The same when what they hold is, files compared by their paths.
    bool operator==(const BankDocument &other) const;
    bool operator!=(const BankDocument &other) const { return !(*this == other); }

private:
    struct Layer {
        FileHold file; // what the bank takes: the trimmed copy, or the source
        QString name;
        qint32 size = 0;
        FileHold source; // the untrimmed file
        qint32 sourceSize = 0;
    };
    // Each untrimmed file's trimmed copy, by the untrimmed file's path, for
    // as long as something holds the copy. Shared by a document's copies,
    // so undo and redo find the copy a later state made.
    struct TrimmedCopy {
        std::weak_ptr<const HeldFile> file;
        qint32 size = 0;
    };
    using TrimmedCopies = QHash<QString, TrimmedCopy>;

    // The file and size a layer takes from its untrimmed file: the trimmed
    // copy when `trim` (the one made with an imported file, or else made
    // once per untrimmed file while something holds it), else the untrimmed
    // file itself.
    Layer FromSource(const FileHold &source, qint32 sourceSize, bool trim);
    // Checks the sound as layer `index` (layer - 1) of a bank of `count`
    // layers and, passing, puts it there; the caller sets the count.
    Refusal PutSound(int index, const OfferedSound &sound, int count);
    void CountUsedSpace();
    bool ApplyGate(int position);
    void SpreadThresholds();

    Layer layers[kMaxLayers];
    ThresholdTable threshold = {0, 1};
    int count = 0;
    qint32 usedSpace = 0;
    qint32 availablePercent = 0;
    int gatePosition = 0;
    quint16 gateLevel = 0;
    bool trimTails = false;
    bool thresholdsChosen = false;
    std::shared_ptr<TrimmedCopies> trimmedCopies = std::make_shared<TrimmedCopies>();
};

// The reason a sound beyond the eighth layer is not added.
QString NoFreeLayerReason();

#endif
