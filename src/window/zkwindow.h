#ifndef ZKWINDOW_H
#define ZKWINDOW_H

#include <QList>
#include <QMainWindow>
#include <QMessageBox>
#include <QSize>
#include <QString>

#include <functional>
#include <memory>

#include "bankcontroller.h"
#include "conversionrunner.h"
#include "layeranalysis.h"
#include "layerrules.h"
#include "prompts.h"
#include "refusal.h"
#include "slottable.h"

class LayerRow;
class LayerView;
class QCheckBox;
class QDragLeaveEvent;
class QDragMoveEvent;
class QLabel;
class QMimeData;
struct BankLayer;
class QPushButton;
class QSpinBox;
class QUndoCommand;
class QUndoStack;
class QUrl;

namespace Ui {
class ZKWindow;
}

// The status line after a bank was written, e.g. "Saved kit.zks: 5 layers,
// 1.3 MB" (1 MB = 1,000,000 bytes, rounded to the nearest tenth).
QString SavedBankSummary(const QString &bankName, int layerCount, qint64 bankBytes);

// The status line once anything the bank would hold has changed since it
// was written: "Changes since kit.zks was saved are not saved yet".
QString UnsavedChangesSummary(const QString &bankName);

// Hands a folder to the desktop's file manager; false when none took it.
// QDesktopServices::openUrl unless replaced (tests); nullptr restores it.
using FolderOpener = bool (*)(const QUrl &folder);
void SetFolderOpener(FolderOpener opener);

// Sets the window's SoundConverter (conversionrunner.h); an empty function
// restores ConvertFile.
void SetSoundConverter(SoundConverter converter);

class ZKWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit ZKWindow(QWidget *parent = nullptr);
    ~ZKWindow() override;

    void UpdateThresholds(int count);
    QString getWavFromUser();
    void HideThresholdSlider();
    // The bank's own name, as a save dialog's path gives it.
    static QString EnshortTargetName(const QString &targetPath);
    // The bank the rows show, and the table that changes it.
    const BankDocument &Bank() const { return table->Document(); }
    SlotTable &Table() const { return *table; }
    // The layer whose threshold button was pressed last: the slider's.
    int SelectedLayer() const { return selectedLayer; }
    // True from the moment a sound's conversion starts until its verdict has
    // been dealt with, a refusal's message box included.
    bool IsConverting() const;
    // Files named on the command line, as a file manager hands them over:
    // one bank is opened as "Open Bank" opens it, sounds are added as a drop
    // adds them. Queued, so the window is shown before any question.
    void OpenFiles(const QStringList &paths);
    // Where the window asks its questions and shows its messages; nullptr
    // restores the real dialogs. The window does not own `prompts`.
    void SetPrompts(Prompts *prompts);

protected:
    bool event(QEvent *event) override;
    // With changes not written, asks whether to generate the bank first.
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private slots:
    void on_Del_Br_Button_1_clicked();
    void on_Del_Br_Button_2_clicked();
    void on_ThrOfLayer_1_clicked();
    void on_ThrOfLayer_2_clicked();
    void on_Del_Br_Button_3_clicked();
    void on_ThrOfLayer_3_clicked();
    void on_ThrOfLayer_4_clicked();
    void on_ThrOfLayer_5_clicked();
    void on_ThrOfLayer_6_clicked();
    void on_ThrOfLayer_7_clicked();
    void on_ThrOfLayer_8_clicked();
    void on_Del_Br_Button_4_clicked();
    void on_Del_Br_Button_5_clicked();
    void on_Del_Br_Button_6_clicked();
    void on_Del_Br_Button_7_clicked();
    void on_Del_Br_Button_8_clicked();
    void on_GenerateButton_clicked();
    void on_Play_Button_1_clicked();
    void on_Play_Button_2_clicked();
    void on_Play_Button_3_clicked();
    void on_Play_Button_4_clicked();
    void on_Play_Button_5_clicked();
    void on_Play_Button_6_clicked();
    void on_Play_Button_7_clicked();
    void on_Play_Button_8_clicked();
    void on_ThresholdSlider_sliderMoved(int position);
    void ErrorMessage(int);
    void on_openFolderButton_clicked();
    void on_horizontalSlider_valueChanged(int value);

private:
    // The eight rows, layer 1 first.
    LayerRow *rows[kMaxLayers] = {};
    LayerRow *row(int layer) const { return rows[layer - 1]; }

    void CancelConversion();
    QList<QWidget *> BankControls() const;
    void LockControls();
    void UnlockControls();

    void SelectLayer(int layer);
    void MoveSelectedThreshold(int position);
    // A refusal's message box (see ShowRefusal of prompts.h).
    void ShowRefusal(const Refusal &refusal);
    // A box with one Ok, its detail shown as plain text.
    void ShowBox(QMessageBox::Icon icon, const QString &title, const QString &text,
                 const QString &detail);
    // A warning box with one Ok and nothing below its text.
    void ShowWarning(const QString &text);
    void PlayLayer(int layer);
    // Shows the slot table as it now is: the rows, the thresholds, the
    // gate, "Trim tails", the space bar, the strip and the status line.
    void ShowTable();
    void ShowThresholds();
    void ShowSlotCount();
    void ShowSpaceToolTip();
    void ShowSavedBank(const QString &bankName, int layerCount, qint64 bankBytes);
    void ShowNames();
    void WarnNoAudioOutput();
    void ShowFolderPath(const QString &folder);
    void FitTextSizes();
    void FitToContents();
    QString Elided(const QLabel *label, const QString &name) const;
    int WidestNameShown() const;

    // The commands' actions, the Tab order and the help box
    // (zkwindowkeys.cpp).
    void SetUpKeys();
    void ShowHelp();
    void RemoveLastLayer();
    void PlaySelectedLayer();
    struct Command;
    static const Command commands[];

    // Opening a bank and trimming quiet tails.
    void AddBankControls();
    bool OpenDroppedBank(const QMimeData *data);
    // Importing an instrument of a drum kit (zkwindowkit.cpp).
    bool OpenDroppedKit(const QMimeData *data);
    // Says on the status line what an import put in the rows, with its one
    // note; more notes go in a box's details.
    void ShowImported(const QString &line, const QStringList &notes);
    void SetTrimTails(bool on);

    // Undo and redo (zkwindowundo.cpp): the table makes every change of the
    // bank one step; the window tells of the steps, and takes one only when
    // it may (its keys are commands of zkwindowkeys.cpp).
    void SetUpUndo();
    bool MayStep() const;
    void StepBack();
    void StepForward();

    Ui::ZKWindow *ui;
    DialogPrompts dialogs{this};
    Prompts *prompts = &dialogs;
    BankController *controller = nullptr;
    SlotTable *table = nullptr; // the controller's
    QUndoStack *undoStack = nullptr; // the table's
    int selectedLayer = 0;
    QLabel *statusLine = nullptr;
    // The last bank written, for the status line; empty when the layers
    // changed since.
    QString savedBankName;
    int savedLayerCount = 0;
    qint64 savedBankBytes = 0;
    // What the last import put in the rows, for the status line as long as
    // the rows are that import's (its step the undo stack's current one).
    QString importedLine;
    const QUndoCommand *importedStep = nullptr;
    bool ShowsImport() const;
    // What the form gives the window and the widgets whose texts may need
    // more: texts widen them, nothing narrows them below these.
    struct FormSizes {
        QSize window;
        int gateLabelWidth = 0;
        int addRemoveWidth = 0;
        int nameWidth = 0;
        int spaceBarHeight = 0;
    } form;
    // Widest a file name may be drawn, in pixels (-1: no limit). Names are
    // elided only where the window would otherwise outgrow the screen.
    int nameRoom = -1;
    bool audioWarningShown = false;
    ConversionRunner *conversions = nullptr;
    // The controls a running conversion disabled, to enable again.
    QList<QWidget *> lockedControls;
    QCheckBox *trimTailsBox = nullptr;
    QPushButton *openBankButton = nullptr;
    QPushButton *importKitButton = nullptr;

    // Each layer's levels, the order by loudness and the waveform strip
    // (zkwindowlevels.cpp).
    void SetUpLevelsAndView();
    void ShowLevelsAndView();
    QStringList LevelsToolTipLines(int layer);
    QStringList RowNotes(int layer);
    void ShowHitRanges();
    void ShowLayerInView(int layer);
    void MarkShownLayer(int layer);
    void OrderByLoudness();
    void PlayShownLayer();
    void PlayLayerAsHeld(int layer);
    void LightHitRow();

    LayerAnalysis analysis;
    LayerView *layerView = nullptr;
    QPushButton *orderButton = nullptr;
    // The count of layers as last shown: one more means a layer was added.
    int layersShown = 0;
    // Hearing a hit strength: the strength and its play button; the row of
    // the layer that strength plays has its range of hits lit.
    QSpinBox *hitStrengthBox = nullptr;
    QPushButton *hitPlayButton = nullptr;

    // Several sounds at once, dropped or chosen, and a sound dropped on a
    // row to replace its layer (zkwindowdrop.cpp).
    bool AddDroppedSounds(QDropEvent *event);
    int DropRowAt(const QPoint &position) const;
    void HighlightDropRow(int layer);
    int dropRowShown = 0;
};

#endif
