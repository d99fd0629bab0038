// Importing an instrument of a drum kit as the window shows it: a kit
// dropped on it, and what the import put in the rows told on the status
// line. The import itself is the controller's (BankController::ImportKit).

#include <QMetaObject>
#include <QUndoStack>

#include "kitdialog.h"
#include "zkwindow.h"

// Returns false, doing nothing, for any drop but that of a single kit file.
bool ZKWindow::OpenDroppedKit(const QMimeData *data)
{
    const QString kitPath = DroppedKitPath(data);
    if (kitPath.isEmpty())
        return false;
    // Imported once the drop is over, as a dropped bank is opened.
    QMetaObject::invokeMethod(this, [this, kitPath]() { controller->ImportKit(kitPath); }, Qt::QueuedConnection);
    return true;
}

void ZKWindow::ShowImported(const QString &line, const QStringList &notes)
{
    importedLine = notes.size() == 1 ? line + QStringLiteral("; ") + notes.first() : line;
    importedStep = undoStack->command(undoStack->index() - 1);
    nameRoom = -1;
    ShowNames();
    if (notes.size() > 1)
        ShowBox(QMessageBox::Information, QStringLiteral("MESSAGE"), line, notes.join(QLatin1Char('\n')));
}

bool ZKWindow::ShowsImport() const
{
    // The step itself, not the stack's index, which stays put once the
    // stack is full.
    return !importedLine.isEmpty() && undoStack && undoStack->index() > 0
        && undoStack->command(undoStack->index() - 1) == importedStep;
}
