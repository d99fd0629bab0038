#ifndef SLOTTABLE_H
#define SLOTTABLE_H

#include <QObject>
#include <QString>
#include <QVector>

#include "bankdocument.h"
#include "conversionrunner.h"
#include "layerrules.h"
#include "refusal.h"

class QUndoStack;
struct BankLayer;

// The window's bank: one BankDocument, the undo stack of its changes and
// the signal that it changed. Every operation that changes the document is
// one step of undo named as the window shows it, because it goes through
// here; several operations between BeginStep and EndStep make one step
// (a drag of a slider, a queue of sounds). An operation that refuses or
// changes nothing makes no step. A step keeps the document before and after
// it, and with them the layer files it would bring back, for as long as the
// stack keeps it (the last kUndoSteps steps).
class SlotTable : public QObject
{
    Q_OBJECT

public:
    static constexpr int kUndoSteps = 200;

    // An empty document and no steps.
    explicit SlotTable(QObject *parent = nullptr);

    // BankDocument's operations, each emitting changed() once it changed
    // the document. A verdict of the window's conversion is offered as it
    // is: a refused sound is refused as the box tells it.
    Refusal Add(const ConversionVerdict &verdict);
    Refusal Replace(int layer, const ConversionVerdict &verdict);
    void Remove(int layer);
    void Reorder(const QVector<int> &order, const ThresholdTable thresholds);
    Refusal ApplyTrim(bool on);
    // The step is named `what`: the bank opened or the kit imported.
    void Open(const QVector<BankLayer> &layers, const ThresholdTable thresholds, const QString &what,
              const QVector<FileHold> &held = {});
    void SetThresholds(const ThresholdTable thresholds);
    bool MoveThreshold(int layer, int position);
    bool SetGate(int position);

    // The operations until the matching EndStep are one step named `what`
    // (the outermost's name when they nest).
    void BeginStep(const QString &what);
    void EndStep();
    bool InStep() const { return openSteps > 0; }

    const BankDocument &Document() const { return document; }
    // Writing the bank is no step; it marks the stack clean.
    QUndoStack *UndoStack() const { return stack; }
    // The document as it now is counts as saved (the stack's clean state),
    // until a step leads away from it.
    void MarkSaved();
    bool ChangedSinceSaved() const;

    int GatePosition() const { return document.GatePosition(); }
    bool TrimTails() const { return document.TrimTails(); }
    bool ThresholdsChosen() const { return document.ThresholdsChosen(); }

signals:
    void changed();

private:
    class Step;

    // Puts a document of a step back; changed() follows.
    void Put(const BankDocument &state);
    // Tells of a change from `before` to the document now, as one step named
    // `what` unless a step is open; nothing when the document is the same.
    void Changed(const QString &what, const BankDocument &before);

    BankDocument document;
    QUndoStack *stack = nullptr;
    int openSteps = 0;
    QString stepName;
    // The document when the open step began; emptied when it ends, so as
    // not to hold its files beyond the step.
    BankDocument stepStart;
};

#endif
