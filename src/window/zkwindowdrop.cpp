// Several sounds at once: dropped on the window or chosen together in the
// open dialog, they are appended one after another through the conversion
// of a single sound; one sound dropped on a filled row replaces its layer.

#include "zkwindow.h"
#include "ui_zkwindow.h"

#include <QCheckBox>
#include <QDropEvent>
#include <QFileInfo>

#include "explain.h"
#include "fileprocessor.h"
#include "kitdialog.h"
#include "layerrow.h"
#include "resultcodes.h"
#include "soundqueue.h"
#include "tailoption.h"

bool ZKWindow::AddDroppedSounds(QDropEvent *event)
{
    const QStringList files = DroppedFilePaths(event->mimeData());
    if (files.isEmpty())
        return false;
    const int layer = DropRowAt(DropEventPosition(event));
    // Rows have no gaps: what is not dropped on a filled row goes after the
    // last layer. Queued, so a file manager waiting for the drop to end
    // isn't kept waiting by the conversion's boxes.
    if (files.size() == 1 && layer >= 1 && layer <= Bank().Count()) {
        const QString file = files.first();
        QMetaObject::invokeMethod(this, [this, layer, file]() { ReplaceLayer(layer, file); },
                                  Qt::QueuedConnection);
    } else {
        QMetaObject::invokeMethod(this, [this, files]() { AddSounds(files); }, Qt::QueuedConnection);
    }
    return true;
}

// The row whose name label lies under `position` (window coordinates); 0
// for none.
int ZKWindow::DropRowAt(const QPoint &position) const
{
    for (const LayerRow *r : rows) {
        if (r->NameAt(this, position))
            return r->Layer();
    }
    return 0;
}

void ZKWindow::HighlightDropRow(int layer)
{
    if (layer == dropRowShown)
        return;
    if (dropRowShown > 0)
        row(dropRowShown)->HighlightDrop(false);
    dropRowShown = layer;
    if (layer > 0)
        row(layer)->HighlightDrop(true);
}

void ZKWindow::AddSounds(const QStringList &files)
{
    table->BeginStep(tr("Add sounds"));
    soundsToAdd = files;
    soundsRefused.clear();
    AddNextSound();
}

void ZKWindow::AddNextSound()
{
    if (soundsToAdd.isEmpty()) {
        FinishAddingSounds();
        return;
    }
    if (Bank().Count() >= kMaxLayers) {
        for (const QString &file : std::as_const(soundsToAdd))
            soundsRefused << RefusalLine(file, NoFreeLayerReason());
        soundsToAdd.clear();
        FinishAddingSounds();
        return;
    }
    const QString file = soundsToAdd.takeFirst();
    // The name goes into the bank's name lines; a control character in it
    // would shift every line after it.
    if (NameHasControlCharacter(QFileInfo(file).fileName())) {
        soundsRefused << RefusalLine(file, RefusalFor(RESULT_FILE_ERROR, QString(), ControlCharacterDetail()).Reason());
        AddNextSound();
        return;
    }
    StartConversion(file, [this](const ConversionVerdict &verdict) {
        // Cancel stops the sounds still waiting too.
        if (verdict.cancelled) {
            soundsToAdd.clear();
            FinishAddingSounds();
            return;
        }
        const Refusal refused = table->Add(verdict);
        if (!refused.IsEmpty())
            soundsRefused << RefusalLine(verdict.chosen, refused.Reason());
        AddNextSound();
    });
}

// The sounds added together are one step of undo.
void ZKWindow::FinishAddingSounds()
{
    table->EndStep();
    if (soundsRefused.isEmpty())
        return;
    const QString lines = soundsRefused.join(QLatin1Char('\n'));
    soundsRefused.clear();
    ShowBox(QMessageBox::Critical, tr("ERROR"), tr("Some files were not added"), lines);
}

void ZKWindow::ReplaceLayer(int layer, const QString &file)
{
    if (NameHasControlCharacter(QFileInfo(file).fileName())) {
        ShowMessage(RESULT_FILE_ERROR, ControlCharacterDetail());
        return;
    }
    StartConversion(file, [this, layer](const ConversionVerdict &verdict) {
        if (!verdict.cancelled)
            TakeReplacement(layer, verdict);
    });
}

// Puts a converted sound in place of layer `layer`'s, keeping its
// threshold, or says why the old layer stays.
void ZKWindow::TakeReplacement(int layer, const ConversionVerdict &verdict)
{
    const Refusal refused = table->Replace(layer, verdict);
    if (!refused.IsEmpty())
        ShowRefusal(refused);
}

void ZKWindow::OpenFiles(const QStringList &paths)
{
    if (paths.isEmpty())
        return;
    QStringList files;
    for (const QString &path : paths)
        files << QFileInfo(path).absoluteFilePath();
    const bool bank = files.size() == 1
        && files.first().endsWith(QStringLiteral(".zks"), Qt::CaseInsensitive);
    const bool kit = files.size() == 1 && IsKitPath(files.first());
    QMetaObject::invokeMethod(
        this,
        [this, files, bank, kit]() {
            if (bank)
                OpenBank(files.first());
            else if (kit)
                ImportKit(files.first());
            else
                AddSounds(files);
        },
        Qt::QueuedConnection);
}
