// Sounds dropped on the window: several are appended one after another, one
// dropped on a filled row replaces its layer (the controller's queue and
// replacement); the row under the drag is lit.

#include "zkwindow.h"
#include "ui_zkwindow.h"

#include <QCheckBox>
#include <QDropEvent>
#include <QLabel>
#include <QPalette>

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
    for (int layer = 1; layer <= kMaxLayers; ++layer) {
        const QLabel *label = row(layer).filename;
        if (!label->isVisible())
            continue;
        const QRect area(label->mapTo(this, QPoint(0, 0)), label->size());
        if (area.contains(position))
            return layer;
    }
    return 0;
}

void ZKWindow::HighlightDropRow(int layer)
{
    if (layer == dropRowShown)
        return;
    if (dropRowShown > 0) {
        QLabel *old = row(dropRowShown).filename;
        old->setAutoFillBackground(false);
        old->setBackgroundRole(QPalette::Window);
    }
    dropRowShown = layer;
    if (layer > 0) {
        QLabel *label = row(layer).filename;
        label->setBackgroundRole(QPalette::Highlight);
        label->setAutoFillBackground(true);
    }
}

void ZKWindow::OpenFiles(const QStringList &paths)
{
    controller->OpenFiles(paths);
}
