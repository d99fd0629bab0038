#ifndef WIDGETSUPPORT_H
#define WIDGETSUPPORT_H

#include <QString>

#include <functional>

#include "testsupport.h"

class QTimer;
class QWidget;
class ZKWindow;

// Drivers for the window's modal dialogs and message boxes.

// Runs `action` on the next modal widget (dialog or message box) once it is
// shown. Call before the code that opens it. The returned watcher deletes
// itself once it acted or gave up; delete it sooner to stop waiting.
QTimer *OnNextModal(std::function<void(QWidget *)> action, int timeoutMs = 20000);
// The same, waiting for a modal widget whose class inherits `className`, so
// that a dialog and the message box after it can be driven one by one.
QTimer *OnNextModalOf(const char *className, std::function<void(QWidget *)> action,
                      int timeoutMs = 20000);

// Answers the next file dialog with `path` (empty: cancel).
void AnswerFileDialog(const QString &path);

// Records the folder the next file dialog starts in (canonical) and
// cancels it.
QTimer *RecordNextDialogFolder(QString *folder);

struct SeenMessageBox {
    QString title;
    QString text;
    QString informative; // the detail below the text
    int informativeFormat = -1; // Qt::TextFormat of the detail's label; -1: none
    int icon = 0; // QMessageBox::Icon
    int buttons = 0;
    int textInteraction = 0; // Qt::TextInteractionFlags of the box's text
    bool seen = false;
    bool waitCursor = false; // a wait cursor was still showing over the box
};
// Records the next message box's title, text, icon and buttons and closes it.
QTimer *CloseNextMessageBox(SeenMessageBox *seen, int timeoutMs = 20000);

// Waits until the window has converted the sound it converts, if any, and
// dealt with the verdict; false if it still has not after `timeoutMs`.
bool WaitForConversion(ZKWindow *window, int timeoutMs = 300000);

// Clicks the add button of row `layer`, picks `file` in the open dialog
// (empty: cancels it) and waits for the conversion. Returns the message box
// shown about the file, if any, closed with Ok.
SeenMessageBox AddLayerThroughDialog(ZKWindow *window, int layer, const QString &file);

// Lets the layout requests that changed texts posted run, so sizes and
// places are final.
void SettleLayout();

// Every shown label, push button and check box of `window` whose text is
// not shown whole: too narrow or too low for it inside the widget's margins
// and frame, or cut off by the edge of a widget it lies in. Each entry names
// the widget, its text and what is wrong.
QStringList TextsNotShownWhole(QWidget *window);

#endif
