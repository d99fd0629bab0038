// Undo and redo: every change of what the bank would hold is one step on
// the window's undo stack, kept as the slot table before and after it.
// Writing the bank is not a step; it marks the state undo comes back to as
// saved. A step holds the layer files its two states name, so the files
// last as long as the rows or a step need them: the stack keeps the last
// kUndoSteps steps, and a new change drops the steps that could be redone.

#include "zkwindow.h"
#include "ui_zkwindow.h"

#include <QKeySequence>
#include <QShortcut>
#include <QSlider>
#include <QUndoCommand>
#include <QUndoStack>

#include <utility>

namespace {

constexpr int kUndoSteps = 200;

class SlotChange : public QUndoCommand
{
public:
    SlotChange(const QString &what, SlotTable *table, SlotState before, SlotState after)
        : QUndoCommand(what), table(table), before(std::move(before)), after(std::move(after))
    {
    }

    void undo() override { table->Restore(before); }
    void redo() override
    {
        // Pushed once the change is made: the first redo has nothing to do.
        if (made) {
            made = false;
            return;
        }
        table->Restore(after);
    }

private:
    SlotTable *table;
    SlotState before;
    SlotState after;
    bool made = true;
};

} // namespace

void ZKWindow::SetUpUndo()
{
    undoStack = new QUndoStack(this);
    undoStack->setUndoLimit(kUndoSteps);
    connect(undoStack, &QUndoStack::cleanChanged, this, [this]() {
        nameRoom = -1;
        ShowNames();
    });
    // Any step away from an import's rows ends the line telling of it.
    connect(undoStack, &QUndoStack::indexChanged, this, [this]() {
        if (!importedLine.isEmpty())
            ShowNames();
    });
    const auto shortcut = [this](const QKeySequence &keys, void (ZKWindow::*step)()) {
        auto *s = new QShortcut(keys, this);
        connect(s, &QShortcut::activated, this, step);
    };
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_Z), &ZKWindow::StepBack);
    shortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), &ZKWindow::StepForward);
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_Y), &ZKWindow::StepForward);
}

void ZKWindow::Record(const QString &what, const SlotState &before)
{
    if (!undoStack)
        return; // the constructor putting back the remembered choices
    SlotState after = table->State();
    if (after == before)
        return;
    undoStack->push(new SlotChange(what, table, before, std::move(after)));
}

bool ZKWindow::ChangedSinceSaved() const
{
    return undoStack && !undoStack->isClean();
}

// Not while a sound is converted for the rows (the conversion's result
// goes where the table had room) nor in the middle of a drag.
bool ZKWindow::MayStep() const
{
    return !IsConverting() && !ui->ThresholdSlider->isSliderDown() && !ui->horizontalSlider->isSliderDown();
}

void ZKWindow::StepBack()
{
    if (!MayStep() || !undoStack->canUndo())
        return;
    HideThresholdSlider();
    undoStack->undo();
}

void ZKWindow::StepForward()
{
    if (!MayStep() || !undoStack->canRedo())
        return;
    HideThresholdSlider();
    undoStack->redo();
}
