// Sounds dropped on the window: several are appended one after another, one
// dropped on a filled row replaces its layer (the controller's queue and
// replacement); the row under the drag is lit.

#include "zkwindow.h"
#include "ui_zkwindow.h"

#include <QDropEvent>

#include "layerrow.h"
#include "soundqueue.h"

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
        QMetaObject::invokeMethod(this, [this, layer, file]() { controller->ReplaceLayer(layer, file); },
                                  Qt::QueuedConnection);
    } else {
        QMetaObject::invokeMethod(this, [this, files]() { controller->AddSounds(files); }, Qt::QueuedConnection);
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

void ZKWindow::OpenFiles(const QStringList &paths)
{
    controller->OpenFiles(paths);
}
