// Undo and redo: the slot table makes every change of what the bank would
// hold one step on its undo stack. Writing the bank is not a step; it marks
// the state undo comes back to as saved.

#include "zkwindow.h"
#include "ui_zkwindow.h"

#include <QSlider>
#include <QUndoStack>

void ZKWindow::SetUpUndo()
{
    undoStack = table->UndoStack();
    // The remembered gate and "Trim tails" the window starts with are no
    // steps to undo.
    undoStack->clear();
    connect(undoStack, &QUndoStack::cleanChanged, this, [this]() {
        nameRoom = -1;
        ShowNames();
    });
    // Any step away from an import's rows ends the line telling of it.
    connect(undoStack, &QUndoStack::indexChanged, this, [this]() {
        if (!importedLine.isEmpty())
            ShowNames();
    });
}

// Not while a sound is converted for the rows (the conversion's result
// goes where the table had room) nor in the middle of a drag or a queue of
// sounds.
bool ZKWindow::MayStep() const
{
    return !IsConverting() && !table->InStep() && !ui->ThresholdSlider->isSliderDown()
        && !ui->horizontalSlider->isSliderDown();
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
