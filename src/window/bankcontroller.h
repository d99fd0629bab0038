#ifndef BANKCONTROLLER_H
#define BANKCONTROLLER_H

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <functional>

#include "bankreader.h"
#include "conversionrunner.h"
#include "heldfile.h"
#include "layerrules.h"
#include "refusal.h"
#include "slottable.h"

class Prompts;

// The flows that change the bank, without a widget of their own: adding
// sounds (one, or a queue of several), replacing and removing layers,
// generating the bank, opening one and importing a kit's instrument. They
// ask through Prompts and change the bank through the slot table, which they
// own; the window shows the table, forwards its buttons and drops here and
// redraws on the table's and the controller's signals. The work that shows
// progress dialogs is handed in as functions, so the flows run without a
// window as well.
class BankController : public QObject
{
    Q_OBJECT

public:
    using ConversionDone = std::function<void(const ConversionVerdict &verdict)>;
    // Converts and checks `file` off the GUI thread, then calls `done` with
    // the verdict on the GUI thread. One conversion at a time.
    using Converter = std::function<void(const QString &file, ConversionDone done)>;
    using KitWorkBody = std::function<void(const std::atomic<bool> *cancelled)>;
    // Runs a kit's work (see RunKitWork) saying `label`; false when cancelled.
    using KitWorker = std::function<bool(const QString &label, const KitWorkBody &work)>;

    // Asks through `prompts`, which it does not own. Until SetConverter and
    // SetKitWorker, sounds are converted and kits read right here, on the
    // calling thread.
    explicit BankController(Prompts &prompts, QObject *parent = nullptr);

    void SetPrompts(Prompts &given) { prompts = &given; }
    Prompts &CurrentPrompts() const { return *prompts; }
    void SetConverter(Converter converter);
    void SetKitWorker(KitWorker worker);

    SlotTable &Table() { return table; }
    const BankDocument &Bank() const { return table.Document(); }
    // True from the moment a sound's conversion starts until its verdict has
    // been dealt with, a refusal's message box included.
    bool IsConverting() const { return converting > 0; }
    // The folder the save and open dialogs of banks start in.
    QString BankFolder() const;

    // The + or X of row `layer`: asks for sounds on the empty row after the
    // last layer, removes the layer of a filled one.
    void AddOrRemoveLayer(int layer);
    // The open dialog for one sound, or several when `several`; empty when
    // cancelled. The folder chosen from is remembered.
    QStringList AskForSounds(bool several);
    // Appends `files` one after another, as one step of undo; those refused
    // are told of together once all were tried.
    void AddSounds(const QStringList &files);
    // Puts `file` in place of layer `layer`'s sound, keeping its threshold.
    void ReplaceLayer(int layer, const QString &file);
    // Asks where to write the bank and writes it.
    void Generate();
    void OpenBankFromDialog();
    // A bank that can't be opened changes nothing; nor does the user's No.
    void OpenBank(const QString &bankPath);
    void ImportKitFromDialog();
    // A kit or instrument that gives no layers changes nothing; nor does a
    // cancel or the user's No.
    void ImportKit(const QString &kitPath);
    // Files named on the command line: one bank is opened, one kit
    // imported, sounds added. Queued, so the window is shown first.
    void OpenFiles(const QStringList &paths);
    // The one place a refusal is shown: its message box.
    void ShowRefusal(const Refusal &refusal);

signals:
    // A conversion started: what would change the bank or start other work
    // waits until conversionEnded(), which comes before its verdict is dealt
    // with.
    void conversionStarted();
    void conversionEnded();
    // The rows are about to give way to others, or lose one: no layer stays
    // selected.
    void rowsGiveWay();
    // The bank was written as `bankName` with `layerCount` layers in
    // `bankBytes`; an empty name: the bank last told of is no longer the one
    // the rows hold.
    void bankSaved(const QString &bankName, int layerCount, qint64 bankBytes);
    // An import filled the rows: `line` says what, `notes` what the kit and
    // the instrument left out or changed.
    void imported(const QString &line, const QStringList &notes);

private:
    void StartConversion(const QString &file, ConversionDone done);
    void AddLayer();
    void RemoveLayer(int layer);
    void AddNextSound();
    void FinishAddingSounds();
    // `layers` take the rows' place as the bank that holds them; when
    // `written` they are those of a bank on disk and count as saved until
    // they change.
    void PutBankInRows(const QVector<BankLayer> &layers, const ThresholdTable thresholds,
                       const QString &what, bool written, const QVector<FileHold> &held = {});
    // Kept in the settings: the next Import Kit starts there.
    void RememberKitFolder(const QString &kitPath);

    Prompts *prompts;
    SlotTable table;
    Converter converter;
    KitWorker kitWorker;
    int converting = 0;
    QString lastFolder;
    QString lastSaveFolder;
    // The file name Generate suggests for the rows an import filled.
    QString suggestedBankName;
    // The sounds still to add, and a line for each one refused so far.
    QStringList soundsToAdd;
    QStringList soundsRefused;
};

#endif
