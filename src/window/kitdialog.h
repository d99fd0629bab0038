#ifndef KITDIALOG_H
#define KITDIALOG_H

#include <QString>
#include <QVector>

#include <atomic>
#include <functional>

#include "kitsource.h"

class Prompts;
class QMimeData;
class QWidget;

// Importing one instrument of a drum kit into the window's rows.

// True for the kit files the window takes: a drumkit.xml, a .h2drumkit
// archive, an .sfz file or a SoundFont (.sf2) (names in any case), or a
// folder holding a drumkit.xml.
bool IsKitPath(const QString &path);

// The path of the one kit file a drop holds; empty for any other drop.
QString DroppedKitPath(const QMimeData *data);

// The open dialog for a kit, starting in `folder`; empty when cancelled.
QString AskForKitToImport(Prompts &prompts, const QString &folder);

// Lists the kit's instruments (name, layers and what the bank gets of
// them, seconds; one that makes no bank greyed with its reason) for one to
// be chosen; its index, or -1 when the dialog is cancelled.
int ChooseKitInstrument(QWidget *parent, const QString &kitName,
                        const QVector<KitInstrumentSummary> &instruments);

// Asks whether the rows' `layers` layers give way to the instrument
// `what` ("Kit \u2013 Instrument"); No is the default.
bool ConfirmReplacingWithKit(Prompts &prompts, int layers, const QString &what);

// Runs `work` on a worker thread, with the busy cursor and a window-modal
// progress dialog saying `label` with Cancel, which sets the flag `work`
// gets. Returns when the worker has ended: false when cancelled. A worker
// that has not ended kAbandonAfterMs after Cancel, or when the program
// quits, is abandoned: the call returns false and the worker ends on its
// own, so `work` must own (or share) everything it touches.
constexpr int kAbandonAfterMs = 3000;
bool RunKitWork(QWidget *parent, const QString &label,
                const std::function<void(const std::atomic<bool> *cancelled)> &work);

// Tells that a kit, or its instrument, gives no layers: "File Error",
// `sentence` below it and `problems` as the details.
void ShowKitError(Prompts &prompts, const QString &sentence, const QString &problems);

#endif
