#include "slottable.h"

#include <QFileInfo>
#include <QUndoCommand>
#include <QUndoStack>

#include <utility>

#include "bankreader.h"
#include "conversionrunner.h"
#include "resultcodes.h"
#include "soundqueue.h"

namespace {

// A sound the conversion or the sound check refused, as the box tells it:
// about the chosen file where the file itself is at fault.
Refusal VerdictRefusal(const ConversionVerdict &verdict)
{
    // A conversion that was cancelled made no layer, and still refuses.
    Refusal refusal = verdict.refusal.IsEmpty()
        ? RefusalFor(RESULT_FILE_ERROR, QString(), QStringLiteral("cancelled"))
        : verdict.refusal;
    refusal.subject = RefusalIsAboutFile(refusal.code) ? QFileInfo(verdict.chosen).fileName() : QString();
    return refusal;
}

OfferedSound Offered(const ConversionVerdict &verdict)
{
    if (!verdict.IsLayer())
        return {verdict.chosen, verdict.layer.path, 0, VerdictRefusal(verdict)};
    return {verdict.chosen, verdict.layer.path, verdict.layer.size, Refusal()};
}

} // namespace

// One change of the document, kept as the document before and after it.
class SlotTable::Step : public QUndoCommand
{
public:
    Step(const QString &what, SlotTable *table, BankDocument before, BankDocument after)
        : QUndoCommand(what), table(table), before(std::move(before)), after(std::move(after))
    {
    }

    void undo() override { table->Put(before); }
    void redo() override
    {
        // Pushed once the change is made: the first redo has nothing to do.
        if (made) {
            made = false;
            return;
        }
        table->Put(after);
    }

private:
    SlotTable *table;
    BankDocument before;
    BankDocument after;
    bool made = true;
};

SlotTable::SlotTable(QObject *parent) : QObject(parent), stack(new QUndoStack(this))
{
    stack->setUndoLimit(kUndoSteps);
}

void SlotTable::MarkSaved()
{
    stack->setClean();
}

bool SlotTable::ChangedSinceSaved() const
{
    return !stack->isClean();
}

void SlotTable::Put(const BankDocument &state)
{
    document = state;
    emit changed();
}

void SlotTable::Changed(const QString &what, const BankDocument &before)
{
    emit changed();
    if (openSteps > 0 || document == before)
        return;
    stack->push(new Step(what, this, before, document));
}

void SlotTable::BeginStep(const QString &what)
{
    if (openSteps++ > 0)
        return;
    stepName = what;
    stepStart = document;
}

void SlotTable::EndStep()
{
    if (openSteps == 0 || --openSteps > 0)
        return;
    const BankDocument before = std::exchange(stepStart, BankDocument());
    if (document != before)
        stack->push(new Step(stepName, this, before, document));
}

Refusal SlotTable::Add(const ConversionVerdict &verdict)
{
    const BankDocument before = document;
    const Refusal refused = document.Add(Offered(verdict));
    if (refused.IsEmpty())
        Changed(tr("Add %1").arg(document.Name(document.Count())), before);
    return refused;
}

Refusal SlotTable::Replace(int layer, const ConversionVerdict &verdict)
{
    const BankDocument before = document;
    const Refusal refused = document.Replace(layer, Offered(verdict));
    if (refused.IsEmpty())
        Changed(tr("Replace layer %1").arg(layer), before);
    return refused;
}

void SlotTable::Remove(int layer)
{
    const BankDocument before = document;
    if (document.Remove(layer))
        Changed(tr("Remove %1").arg(before.Name(layer)), before);
}

void SlotTable::Reorder(const QVector<int> &order, const ThresholdTable thresholds)
{
    const BankDocument before = document;
    document.Reorder(order, thresholds);
    Changed(tr("Order by loudness"), before);
}

Refusal SlotTable::ApplyTrim(bool on)
{
    const BankDocument before = document;
    const Refusal refused = document.ApplyTrim(on);
    if (refused.IsEmpty())
        Changed(tr("Trim tails"), before);
    return refused;
}

void SlotTable::Open(const QVector<BankLayer> &layers, const ThresholdTable thresholds, const QString &what,
                     const QVector<FileHold> &held)
{
    const BankDocument before = document;
    document.Open(layers, thresholds, held);
    Changed(what, before);
}

void SlotTable::SetThresholds(const ThresholdTable thresholds)
{
    const BankDocument before = document;
    document.SetThresholds(thresholds);
    Changed(tr("Spread thresholds"), before);
}

bool SlotTable::MoveThreshold(int layer, int position)
{
    const BankDocument before = document;
    if (!document.MoveThreshold(layer, position))
        return false;
    Changed(tr("Move threshold"), before);
    return true;
}

bool SlotTable::SetGate(int position)
{
    const BankDocument before = document;
    if (!document.SetGate(position))
        return false;
    Changed(tr("Gate"), before);
    return true;
}
