// Importing an instrument of a drum kit: the kit read, its instruments
// listed, the chosen one prepared as zkstool import-kit prepares it, all off
// the GUI thread, then put in the rows as an opened bank is.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QTemporaryDir>
#include <QUndoStack>

#include <memory>

#include "bankopen.h"
#include "fileprocessor.h"
#include "heldfile.h"
#include "kitdialog.h"
#include "kitimport.h"
#include "kitsource.h"
#include "layerrules.h"
#include "zkwindow.h"

namespace {

// `file` moved out of the import's scratch folder into a folder of its own
// in the working folder, and held (with `note`, `trimmed` and its size as
// HeldFile takes them); none, nothing left behind, when it cannot be moved.
FileHold MovedToWorkFolder(const LayerFile &file, const QString &note, const FileHold &trimmed = FileHold(),
                           qint32 trimmedSize = 0)
{
    const QString folder = NewResultFolder(WorkFolder());
    const QString moved = folder + QLatin1Char('/') + QFileInfo(file.path).fileName();
    if (folder.isEmpty() || file.size <= 0 || !QFile::rename(file.path, moved)) {
        if (!folder.isEmpty())
            QDir(folder).removeRecursively();
        return FileHold();
    }
    return HeldFile::Take(moved, note, trimmed, trimmedSize);
}

} // namespace

// Returns false, doing nothing, for any drop but that of a single kit file.
bool ZKWindow::OpenDroppedKit(const QMimeData *data)
{
    const QString kitPath = DroppedKitPath(data);
    if (kitPath.isEmpty())
        return false;
    // Imported once the drop is over, as a dropped bank is opened.
    QMetaObject::invokeMethod(this, [this, kitPath]() { ImportKit(kitPath); }, Qt::QueuedConnection);
    return true;
}

// A kit or instrument that gives no layers changes nothing; nor does a
// cancel or the user's No.
void ZKWindow::ImportKit(const QString &kitPath)
{
    // All the import writes goes in here, removed with it: what becomes a
    // layer is moved out first.
    QTemporaryDir scratch(WorkFolder() + QStringLiteral("/kit-XXXXXX"));
    const QString kitFile = QFileInfo(kitPath).fileName();
    if (!scratch.isValid()) {
        ShowKitError(*prompts, tr("%1 could not be read: no working folder could be made.").arg(kitFile),
                     QString());
        return;
    }
    // A Hydrogen kit's instruments, an SFZ kit's keys or a SoundFont's: what the chooser
    // lists, and how the chosen one is prepared, as zkstool import-kit does.
    // Owned with the workers, which may outlive this call when abandoned.
    struct Reading {
        std::unique_ptr<KitSource> kit;
        QString error;
        QVector<KitInstrumentSummary> summaries;
        PreparedInstrument prepared;
    };
    const auto reading = std::make_shared<Reading>();
    const QString scratchPath = scratch.path();
    const bool finished = RunKitWork(this, tr("Reading %1\u2026").arg(kitFile),
                                     [reading, kitPath, scratchPath](const std::atomic<bool> *cancelled) {
                                         Reading &r = *reading;
                                         r.kit = OpenKitSource(kitPath, scratchPath, &r.error, cancelled);
                                         if (r.kit)
                                             r.summaries = r.kit->Summaries();
                                     });
    if (!finished)
        return;
    const QVector<KitInstrumentSummary> &summaries = reading->summaries;
    if (!reading->kit) {
        ShowKitError(*prompts, tr("%1 is not a drum kit that can be read.").arg(kitFile), reading->error);
        return;
    }
    if (summaries.isEmpty()) {
        ShowKitError(*prompts, tr("%1 has no instruments.").arg(kitFile), QString());
        return;
    }
    // Named as zkstool names them; one whose samples are missing may be
    // chosen, to learn why it gives no layers. A chooser of greyed rows only
    // would leave an Import that does nothing.
    QStringList reasons;
    for (const KitInstrumentSummary &instrument : summaries) {
        if (!instrument.reason.isEmpty())
            reasons << tr("%1: %2").arg(instrument.name, instrument.reason);
    }
    if (reasons.size() == summaries.size()) {
        ShowKitError(*prompts, tr("%1 has no instrument that can make a bank.").arg(kitFile),
                     reasons.join(QLatin1Char('\n')));
        return;
    }
    RememberKitFolder(kitPath);
    const KitSource &kit = *reading->kit;
    const int chosen = prompts->ChooseInstrument(kit.Name(), summaries);
    if (chosen < 0)
        return;
    const QString instrumentName = kit.Instruments().at(chosen);
    const QString what = tr("%1 \u2013 %2").arg(kit.Name(), instrumentName);
    // Asked before any work that may fail or take long.
    if (Bank().Count() > 0 && !ConfirmReplacingWithKit(*prompts, Bank().Count(), what))
        return;
    // Both ways as to tails, so that "Trim tails" can switch between them;
    // the notes are of the way the option stands.
    KitImportOptions options;
    options.trimTails = table->TrimTails();
    options.bothTails = true;
    if (!RunKitWork(this, tr("Importing %1\u2026").arg(instrumentName),
                    [reading, chosen, scratchPath, options](const std::atomic<bool> *cancelled) {
                        Reading &r = *reading;
                        r.prepared = r.kit->Prepare(chosen, scratchPath, options, cancelled);
                    }))
        return;
    const PreparedInstrument &prepared = reading->prepared;
    if (prepared.cancelled)
        return;
    // As import-kit tells them: what the kit left out, then the instrument's own.
    const QStringList notes = kit.LeftOut() + prepared.notes;
    if (!prepared.failure.isEmpty() || prepared.layers.isEmpty()) {
        ShowKitError(*prompts, tr("%1 gives no layers: %2.").arg(instrumentName, prepared.failure),
                     notes.join(QLatin1Char('\n')));
        return;
    }

    // Out of the scratch folder into folders of their own, where the rows'
    // files live and are discarded from: each layer's whole sound as its
    // untrimmed file, holding the trimmed copy made beside it.
    const QVector<LayerFile> &whole = options.trimTails ? prepared.otherLayers : prepared.layers;
    const QStringList &wholeNotes = options.trimTails ? prepared.otherNotes : prepared.layerNotes;
    const QVector<LayerFile> &trimmed = options.trimTails ? prepared.layers : prepared.otherLayers;
    const QStringList &trimmedNotes = options.trimTails ? prepared.layerNotes : prepared.otherNotes;
    QVector<BankLayer> layers;
    QVector<FileHold> held; // once taken, a file goes when its hold does
    for (int i = 0; i < prepared.layers.size(); ++i) {
        const FileHold copy = MovedToWorkFolder(trimmed.at(i), trimmedNotes.at(i));
        const FileHold source = copy ? MovedToWorkFolder(whole.at(i), wholeNotes.at(i), copy, trimmed.at(i).size)
                                     : FileHold();
        if (!source) {
            ShowKitError(*prompts, tr("%1 gives no layers: a layer file could not be written.")
                                       .arg(instrumentName),
                         QString());
            return;
        }
        BankLayer layer;
        layer.file = whole.at(i);
        layer.file.path = source->path();
        layer.threshold = prepared.thresholds.at(i);
        layers << layer;
        held << source;
    }
    ThresholdTable thresholds = {};
    prepared.FillThresholds(thresholds);
    PutBankInRows(layers, thresholds, tr("Import %1").arg(instrumentName), false, held);
    const int count = int(layers.size());
    ShowImported(tr("Imported %1: %2").arg(what, count == 1 ? tr("1 layer") : tr("%1 layers").arg(count)),
                 notes, kit.BankNames().at(chosen));
}

void ZKWindow::ShowImported(const QString &line, const QStringList &notes, const QString &bankName)
{
    suggestedBankName = bankName;
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
