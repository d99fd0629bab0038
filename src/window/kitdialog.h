#ifndef KITDIALOG_H
#define KITDIALOG_H

#include <QString>
#include <QVector>

#include <atomic>
#include <functional>

#include "drumkit.h"
#include "kitimport.h"
#include "sfzkit.h"

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
QString AskForKitToImport(QWidget *parent, const QString &folder);

// What the chooser shows of an instrument: its layers and the seconds its
// longest sample lasts; `group` the SoundFont preset it belongs to, the
// chooser listing the presets with their keys below them.
struct KitInstrumentSummary {
    QString name;
    int layers = 0;
    double seconds = 0;
    QString group;
    QString reason; // why it can make no bank (listed greyed); empty when it can
    int bankLayers = 0; // the layers its bank gets (PlannedBankLayers)
};
// Of a Hydrogen kit read for import. Reads the samples' headers only: no
// sample is decoded.
QVector<KitInstrumentSummary> SummarizeKit(const KitForImport &kit);
// The same for each key of an SFZ kit, in SfzKeys' order: its velocity
// bands as layers.
QVector<KitInstrumentSummary> SummarizeSfzKit(const KitForImport &kit);
// The same for each (preset, key) of a SoundFont read for import: its
// layers, and its longest zone as that key plays it. Renders nothing.
QVector<KitInstrumentSummary> SummarizeSf2Kit(const KitForImport &kit);

// Lists the kit's instruments (name, layers and what the bank gets of
// them, seconds; one that makes no bank greyed with its reason) for one to
// be chosen; its index, or -1 when the dialog is cancelled.
int ChooseKitInstrument(QWidget *parent, const QString &kitName,
                        const QVector<KitInstrumentSummary> &instruments);

// Asks whether the rows' `layers` layers give way to the instrument
// `what` ("Kit \u2013 Instrument"); No is the default.
bool ConfirmReplacingWithKit(QWidget *parent, int layers, const QString &what);

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
void ShowKitError(QWidget *parent, const QString &sentence, const QString &problems);

#endif
