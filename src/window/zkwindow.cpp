#include "zkwindow.h"
#include "ui_zkwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QScreen>
#include <QSettings>
#include <QSignalBlocker>
#include <QScopeGuard>
#include <QStatusBar>
#include <QStyleOptionButton>
#include <QUndoStack>
#include <QUrl>

#include <utility>

#include "audiooutput.h"
#include "figures.h"
#include "bankopen.h"
#include "conversionrunner.h"
#include "kitdialog.h"
#include "fileprocessor.h"
#include "layerrow.h"
#include "layerview.h"
#include "readablebarstyle.h"
#include "soundplayer.h"
#include "soundqueue.h"
#include "tailoption.h"
#include "waitcursor.h"

namespace {

// The gate's position (0 for "Don't" to 4 for "-30dB") and "Trim tails",
// as the user last left them.
const char kCutSilenceKey[] = "CutSilence";
const char kTrimTailsKey[] = "TrimTails";

FolderOpener folderOpener = nullptr;

QString ConvertForWindow(const QString &chosen, const ConvertOptions &options, QString *reason)
{
    return ConvertFile(chosen, options, reason);
}

SoundConverter soundConverter = ConvertForWindow;

// The width a push button needs to show `text` whole inside its frame.
int ButtonWidthFor(const QPushButton *button, const QString &text)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = text;
    option.rect = QRect(0, 0, 100, 100);
    const QRect contents = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    return button->fontMetrics().horizontalAdvance(text) + option.rect.width() - contents.width();
}

} // namespace

QString SavedBankSummary(const QString &bankName, int layerCount, qint64 bankBytes)
{
    const qint64 tenths = (bankBytes + 50000) / 100000;
    const QString layers = layerCount == 1 ? QStringLiteral("1 layer")
                                           : QStringLiteral("%1 layers").arg(layerCount);
    return QStringLiteral("Saved %1: %2, %3")
        .arg(bankName, layers, WithUnit(QStringLiteral("%1.%2").arg(tenths / 10).arg(tenths % 10), "MB"));
}

QString UnsavedChangesSummary(const QString &bankName)
{
    return QStringLiteral("Changes since %1 was saved are not saved yet").arg(bankName);
}

void SetFolderOpener(FolderOpener opener)
{
    folderOpener = opener;
}

void SetSoundConverter(SoundConverter converter)
{
    soundConverter = converter ? std::move(converter) : SoundConverter(ConvertForWindow);
}

ZKWindow::ZKWindow(QWidget *parent)
    : QMainWindow(parent), ui(new Ui::ZKWindow)
{
    QCoreApplication::setApplicationName(QStringLiteral("QuadrelX8FileGenV21"));
    QCoreApplication::setOrganizationName(QStringLiteral("Quadrel"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("quadrel.example"));

    ui->setupUi(this);
    conversions = new ConversionRunner(this);
    form.window = minimumSize();
    form.gateLabelWidth = ui->label_2->minimumWidth();
    form.addRemoveWidth = ui->Del_Br_Button_1->minimumWidth();
    form.nameWidth = ui->Filename_1->minimumWidth();
    form.spaceBarHeight = ui->AvailableSpace->minimumHeight();

    controller = new BankController(*prompts, this);
    table = &controller->Table();
    // Converted with the window responding, its controls locked, and a
    // progress dialog with Cancel once the work takes a while.
    controller->SetConverter([this](const QString &file, BankController::ConversionDone done) {
        conversions->start(file, soundConverter, std::move(done));
    });
    controller->SetKitWorker([this](const QString &label, const BankController::KitWorkBody &work) {
        return RunKitWork(this, label, work);
    });
    connect(controller, &BankController::conversionStarted, this, [this]() { LockControls(); });
    connect(controller, &BankController::conversionEnded, this, [this]() { UnlockControls(); });
    connect(controller, &BankController::rowsGiveWay, this, [this]() { HideThresholdSlider(); });
    connect(controller, &BankController::bankSaved, this, &ZKWindow::ShowSavedBank);
    connect(controller, &BankController::imported, this, &ZKWindow::ShowImported);

    // The rows are the form's widgets in its one grid, so their columns line
    // up and the threshold slider spans them all.
    const LayerRow::Widgets formRows[kMaxLayers] = {
        {ui->Filename_1, ui->ThrOfLayer_1, ui->Del_Br_Button_1, ui->Play_Button_1},
        {ui->Filename_2, ui->ThrOfLayer_2, ui->Del_Br_Button_2, ui->Play_Button_2},
        {ui->Filename_3, ui->ThrOfLayer_3, ui->Del_Br_Button_3, ui->Play_Button_3},
        {ui->Filename_4, ui->ThrOfLayer_4, ui->Del_Br_Button_4, ui->Play_Button_4},
        {ui->Filename_5, ui->ThrOfLayer_5, ui->Del_Br_Button_5, ui->Play_Button_5},
        {ui->Filename_6, ui->ThrOfLayer_6, ui->Del_Br_Button_6, ui->Play_Button_6},
        {ui->Filename_7, ui->ThrOfLayer_7, ui->Del_Br_Button_7, ui->Play_Button_7},
        {ui->Filename_8, ui->ThrOfLayer_8, ui->Del_Br_Button_8, ui->Play_Button_8},
    };
    for (int layer = 1; layer <= kMaxLayers; ++layer)
        rows[layer - 1] = new LayerRow(layer, formRows[layer - 1], ui->gridLayout, this);

    // Keys, the wheel, a click on the groove and page steps move the slider
    // without a drag; each must move the threshold as a drag would. A drag
    // itself arrives through on_ThresholdSlider_sliderMoved.
    connect(ui->ThresholdSlider, &QAbstractSlider::actionTriggered, this, [this](int action) {
        if (action == QAbstractSlider::SliderNoAction
            || (action == QAbstractSlider::SliderMove && ui->ThresholdSlider->isSliderDown()))
            return;
        MoveSelectedThreshold(ui->ThresholdSlider->sliderPosition());
        // The handle shows where the threshold ended up after clamping.
        ui->ThresholdSlider->setSliderPosition(Bank().Threshold(selectedLayer));
    });
    // A drag of either slider is one step of undo, however far it went.
    for (QAbstractSlider *slider : {static_cast<QAbstractSlider *>(ui->ThresholdSlider),
                                    static_cast<QAbstractSlider *>(ui->horizontalSlider)}) {
        connect(slider, &QAbstractSlider::sliderPressed, this, [this, slider]() {
            table->BeginStep(slider == ui->ThresholdSlider ? tr("Move threshold") : tr("Gate"));
        });
        connect(slider, &QAbstractSlider::sliderReleased, table, &SlotTable::EndStep);
    }
    connect(ui->ThresholdSlider, &QAbstractSlider::sliderReleased, this, [this]() {
        if (selectedLayer >= 1 && selectedLayer <= kMaxLayers)
            ui->ThresholdSlider->setValue(Bank().Threshold(selectedLayer));
    });

    ui->ThresholdSlider->setValue(1);
    ui->ThresholdSlider->hide();
    ui->GenerateButton->setEnabled(true);
    ui->GenerateButton->hide();
    ui->GenerateButton->setToolTip(tr("Write the bank: the layers, their thresholds and the gate"));
    ui->openFolderButton->setToolTip(tr("Show the folder of the last bank saved"));
    ShowSpaceToolTip();
    // Widgets that come and go with the layers keep their place while
    // hidden, so the window has its full size from the start instead of
    // growing as layers are added or the threshold slider shows.
    const auto keepPlaceWhenHidden = [](QWidget *widget) {
        QSizePolicy policy = widget->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        widget->setSizePolicy(policy);
    };
    keepPlaceWhenHidden(ui->GenerateButton);
    keepPlaceWhenHidden(ui->ThresholdSlider);

    auto *barStyle = new ReadableBarStyle(QApplication::style()->objectName());
    barStyle->setParent(this);
    ui->AvailableSpace->setStyle(barStyle);

    statusLine = new QLabel(this);
    statusLine->setObjectName(QStringLiteral("StatusLine"));
    statusLine->setTextFormat(Qt::PlainText);
    statusBar()->addWidget(statusLine, 1);

    AddBankControls();
    SetUpLevelsAndView();
    SetUpKeys();
    // The choices the user made last time; every layer added is cut and
    // trimmed by them.
    const QSettings settings;
    const int gate = settings.value(kCutSilenceKey, 0).toInt();
    const bool trim = settings.value(kTrimTailsKey, false).toBool();
    connect(table, &SlotTable::changed, this, [this]() { ShowTable(); });
    ui->horizontalSlider->setValue(gate);
    trimTailsBox->setChecked(trim);
    SetUpUndo();

    FitTextSizes();
    ShowNames();
    FitToContents();
}

ZKWindow::~ZKWindow()
{
    // A conversion still running is stopped, and its worker has ended,
    // before the working folder it writes into goes.
    conversions->stop();
    // The stack tells of its clean state as it goes, when the rows are
    // gone; the layer files go with the document and the steps.
    undoStack->disconnect(this);
    delete controller;
    RemoveWorkFolder();
    delete ui;
}

bool ZKWindow::event(QEvent *event)
{
    const bool handled = QMainWindow::event(event);
    // A sound converted for a window that was closed meanwhile is not taken.
    if (event->type() == QEvent::Close && event->isAccepted())
        CancelConversion();
    else if (event->type() == QEvent::FontChange) {
        FitTextSizes();
        nameRoom = -1;
        ShowNames();
    } else if (event->type() == QEvent::LayoutRequest)
        FitToContents();
    return handled;
}

void ZKWindow::closeEvent(QCloseEvent *event)
{
    if (Bank().Count() == 0 || !table->ChangedSinceSaved()) {
        QMainWindow::closeEvent(event);
        return;
    }
    const PromptAnswer answer = prompts->Ask(tr("Generate the bank before closing?"),
                                             {PromptAnswer::Generate, PromptAnswer::Discard, PromptAnswer::Cancel},
                                             PromptAnswer::Generate);
    if (answer == PromptAnswer::Generate) {
        controller->Generate();
        // A save dialog cancelled or a bank that could not be written keeps
        // the window, and the layers, open.
        if (table->ChangedSinceSaved()) {
            event->ignore();
            return;
        }
    } else if (answer != PromptAnswer::Discard) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

// Sizes the form sets for widgets with texts, made large enough for every
// text they can show at the current font. A minimum the form sets is what a
// layout keeps to, whatever the text needs.
void ZKWindow::FitTextSizes()
{
    QProgressBar *bar = ui->AvailableSpace;
    bar->setFixedHeight(qMax(form.spaceBarHeight, bar->minimumSizeHint().height()));

    // The gate label takes the width of its widest level, so the controls
    // after it stay put while the gate moves.
    QLabel *gate = ui->label_2;
    int widest = form.gateLabelWidth;
    for (int position = 0; position < kGateLevels; ++position) {
        QString text;
        quint16 amplitude;
        GateForPosition(position, &text, &amplitude);
        widest = qMax(widest, LabelWidthFor(gate, text));
    }
    gate->setMinimumWidth(widest);

    int addRemove = form.addRemoveWidth;
    for (const QString &text : {QStringLiteral("+"), QStringLiteral("X")})
        addRemove = qMax(addRemove, ButtonWidthFor(ui->Del_Br_Button_1, text));
    for (LayerRow *r : rows)
        r->AddRemoveButton()->setFixedWidth(addRemove);
}

// Makes the window at least as large as the form and as its texts need.
// Where that would be wider than the screen, file names are elided instead,
// the longest first, but never below the width a name row has anyway. A
// window that grew past the screen's edge moves back onto it.
void ZKWindow::FitToContents()
{
    // A layout hands a change on to the one around it through a posted
    // event; settle them all now, innermost first, so the minimum is current.
    const QList<QLayout *> layouts = findChildren<QLayout *>();
    for (auto inner = layouts.crbegin(); inner != layouts.crend(); ++inner)
        (*inner)->activate();
    QSize needed = form.window.expandedTo(minimumSizeHint());
    // The status bar's minimum leaves its line out; the line's own counts.
    if (isVisible())
        needed.setWidth(qMax(needed.width(), statusLine->minimumSizeHint().width() + width() - statusLine->width()));
    const QRect screenArea = screen()->availableGeometry();
    const int room = screenArea.width() - (frameGeometry().width() - width());
    const int floor = form.nameWidth - 2 * ui->Filename_1->margin();
    const int widest = WidestNameShown();
    if (needed.width() > room && widest > floor) {
        nameRoom = qMax(floor, widest - (needed.width() - room));
        ShowNames(); // the next layout pass comes back here
        return;
    }
    const QSize before = size();
    setMinimumSize(needed);
    if (!isVisible() || size() == before)
        return;
    const QRect frame = frameGeometry();
    const int dx = qMax(screenArea.left() - frame.left(), qMin(0, screenArea.right() - frame.right()));
    const int dy = qMax(screenArea.top() - frame.top(), qMin(0, screenArea.bottom() - frame.bottom()));
    move(pos() + QPoint(dx, dy));
}

QString ZKWindow::Elided(const QLabel *label, const QString &name) const
{
    return ElidedName(label, name, nameRoom);
}

int ZKWindow::WidestNameShown() const
{
    int widest = 0;
    for (int layer = 1; layer <= Bank().Count(); ++layer)
        widest = qMax(widest, row(layer)->NameWidth(Bank().Name(layer), nameRoom));
    for (const QString &line : {savedBankName, importedLine}) {
        if (!line.isEmpty())
            widest = qMax(widest, statusLine->fontMetrics().horizontalAdvance(Elided(statusLine, line)));
    }
    return widest;
}

// The texts that hold file names: the filled rows and the status line. An
// elided name shows in full in the tool tip. The name labels' widths follow
// their texts, the prompts' included.
void ZKWindow::ShowNames()
{
    for (int layer = 1; layer <= Bank().Count(); ++layer)
        row(layer)->ShowName(Bank().Name(layer), nameRoom, RowNotes(layer));
    for (LayerRow *r : rows)
        r->FitNameWidth(form.nameWidth);
    // The status bar tells the window nothing when only its line's text
    // changes: the window is asked to fit itself again.
    const auto fitStatusLine = qScopeGuard([this]() { statusBar()->updateGeometry(); });
    if (savedBankName.isEmpty()) {
        // An empty window says where to start; an import says what it did
        // until the rows change.
        const QString shown = ShowsImport() ? Elided(statusLine, importedLine) : QString();
        statusLine->setText(Bank().Count() == 0 ? tr("Drop sound files or a bank here, or press +") : shown);
        statusLine->setToolTip(shown == importedLine ? QString() : importedLine);
        return;
    }
    const QString shown = Elided(statusLine, savedBankName);
    const auto summary = [this](const QString &name) {
        return table->ChangedSinceSaved() ? UnsavedChangesSummary(name)
                                 : SavedBankSummary(name, savedLayerCount, savedBankBytes);
    };
    statusLine->setText(summary(shown));
    statusLine->setToolTip(shown == savedBankName ? QString() : summary(savedBankName));
}

// An empty name clears the status line.
void ZKWindow::ShowSavedBank(const QString &bankName, int layerCount, qint64 bankBytes)
{
    savedBankName = bankName;
    savedLayerCount = layerCount;
    savedBankBytes = bankBytes;
    nameRoom = -1;
    ShowNames();
}

void ZKWindow::UpdateThresholds(int count)
{
    ThresholdTable spread;
    DefaultThresholds(spread, count);
    table->SetThresholds(spread);
}

void ZKWindow::ShowTable()
{
    if (ui->horizontalSlider->value() != table->GatePosition()) {
        const QSignalBlocker quiet(ui->horizontalSlider);
        ui->horizontalSlider->setValue(table->GatePosition());
    }
    QString gate;
    quint16 amplitude;
    if (GateForPosition(table->GatePosition(), &gate, &amplitude))
        ui->label_2->setText(gate);
    if (trimTailsBox->isChecked() != table->TrimTails()) {
        const QSignalBlocker quiet(trimTailsBox);
        trimTailsBox->setChecked(table->TrimTails());
    }
    ui->AvailableSpace->setValue(Bank().AvailablePercent());
    ShowThresholds();
    ShowSlotCount();
}

void ZKWindow::ShowThresholds()
{
    for (LayerRow *r : rows)
        r->ShowThreshold(Bank().Threshold(r->Layer()));
    // The keys of the selected layer's button move its threshold from the
    // slider's place: it follows undo and an opened bank too.
    if (!ui->ThresholdSlider->isSliderDown() && selectedLayer >= 1 && selectedLayer <= kMaxLayers)
        ui->ThresholdSlider->setValue(Bank().Threshold(selectedLayer));
    ShowHitRanges();
}

void ZKWindow::HideThresholdSlider()
{
    ui->ThresholdSlider->hide();
    MarkShownLayer(layerView ? layerView->shownLayer() : 0);
}

// Puts every row into the state that belongs to the bank's count of
// layers: the filled rows, one row to add to, and nothing below it.
void ZKWindow::ShowSlotCount()
{
    for (LayerRow *r : rows)
        r->ShowSlot(Bank().Count());
    ui->GenerateButton->setVisible(Bank().Count() >= 1);
    ShowSpaceToolTip();
    nameRoom = -1;
    ShowNames();
    ShowLevelsAndView();
}

// The space bar's tool tip: the seconds of sound left, then what trimming
// saved.
void ZKWindow::ShowSpaceToolTip()
{
    QStringList lines{tr("%1 of sound left (mono, %2)")
                          .arg(WithUnit(double(qMax(0, kBankBudget - Bank().UsedSpace())) / (2.0 * kBankRate), 1, "s"),
                               WithUnit(kBankRate, 0, "Hz"))};
    const QString trimmed = TrimTotalToolTip(Bank());
    if (!trimmed.isEmpty())
        lines << trimmed;
    ui->AvailableSpace->setToolTip(lines.join(QLatin1Char('\n')));
}

void ZKWindow::CancelConversion()
{
    conversions->cancel();
}

bool ZKWindow::IsConverting() const
{
    return controller->IsConverting();
}

// Everything that would change the bank or start other work.
QList<QWidget *> ZKWindow::BankControls() const
{
    QList<QWidget *> controls{ui->ThresholdSlider, ui->horizontalSlider, ui->GenerateButton,
                              ui->openFolderButton, orderButton, trimTailsBox, openBankButton};
    controls << importKitButton;
    for (const LayerRow *r : rows)
        controls << r->ThresholdButton() << r->AddRemoveButton() << r->PlayButton();
    return controls;
}

void ZKWindow::LockControls()
{
    for (QWidget *control : BankControls()) {
        if (control->isEnabled()) {
            control->setEnabled(false);
            lockedControls << control;
        }
    }
}

void ZKWindow::UnlockControls()
{
    for (QWidget *control : std::as_const(lockedControls))
        control->setEnabled(true);
    lockedControls.clear();
}

QString ZKWindow::getWavFromUser()
{
    return controller->AskForSounds(false).value(0);
}

QString ZKWindow::EnshortTargetName(const QString &targetPath)
{
    return LastPathPart(targetPath);
}

void ZKWindow::on_GenerateButton_clicked()
{
    controller->Generate();
}

void ZKWindow::SelectLayer(int layer)
{
    // The last layer's threshold stays at 1: there is nothing to move.
    if (layer == Bank().Count()) {
        ui->ThresholdSlider->hide();
        return;
    }
    ui->ThresholdSlider->show();
    selectedLayer = layer;
    ui->ThresholdSlider->setValue(Bank().Threshold(layer));
}

void ZKWindow::on_ThresholdSlider_sliderMoved(int position)
{
    MoveSelectedThreshold(position);
}

// A key press is one step; a drag is one when it ends.
void ZKWindow::MoveSelectedThreshold(int position)
{
    table->MoveThreshold(selectedLayer, position);
}

// The gate and "Trim tails" are remembered as the user leaves them; undo,
// an opened bank or an imported kit change only the rows'.
void ZKWindow::on_horizontalSlider_valueChanged(int value)
{
    if (table->SetGate(value))
        QSettings().setValue(kCutSilenceKey, value);
}

void ZKWindow::PlayLayer(int layer)
{
    if (!AudioOutputAvailable()) {
        WarnNoAudioOutput();
        return;
    }
    PlaySoundFile(this, Bank().Path(layer));
}

// Said once per window: the play buttons stay, and further presses are
// silent as the first one was.
void ZKWindow::WarnNoAudioOutput()
{
    if (audioWarningShown)
        return;
    audioWarningShown = true;
    ShowWarning(tr("No audio output is available."));
}

void ZKWindow::ShowWarning(const QString &text)
{
    PromptMessage message;
    message.icon = QMessageBox::Warning;
    message.title = QStringLiteral("WARNING");
    message.text = text;
    prompts->Show(message);
}

void ZKWindow::on_openFolderButton_clicked()
{
    const QString folder = controller->BankFolder();
    const QUrl url = QUrl::fromLocalFile(folder);
    if (!(folderOpener ? folderOpener(url) : QDesktopServices::openUrl(url)))
        ShowFolderPath(folder);
}

// Without a file manager the user still learns where the banks are, in a
// text that can be selected and copied.
void ZKWindow::ShowFolderPath(const QString &folder)
{
    PromptMessage message;
    message.icon = QMessageBox::Warning;
    message.title = QStringLiteral("MESSAGE");
    message.text = tr("The ZKS folder could not be opened. Its path is:\n%1").arg(QDir::toNativeSeparators(folder));
    message.textFormat = Qt::PlainText;
    message.selectableText = true;
    prompts->Show(message);
}

void ZKWindow::SetPrompts(Prompts *given)
{
    prompts = given ? given : &dialogs;
    controller->SetPrompts(*prompts);
}

void ZKWindow::ErrorMessage(int code)
{
    ShowRefusal(RefusalFor(code, QString()));
}

void ZKWindow::ShowRefusal(const Refusal &refusal)
{
    controller->ShowRefusal(refusal);
}

void ZKWindow::ShowBox(QMessageBox::Icon icon, const QString &title, const QString &text,
                       const QString &detail)
{
    PromptMessage message;
    message.icon = icon;
    message.title = title;
    message.text = text;
    message.detail = detail;
    prompts->Show(message);
}

void ZKWindow::on_Del_Br_Button_1_clicked() { controller->AddOrRemoveLayer(1); }
void ZKWindow::on_Del_Br_Button_2_clicked() { controller->AddOrRemoveLayer(2); }
void ZKWindow::on_Del_Br_Button_3_clicked() { controller->AddOrRemoveLayer(3); }
void ZKWindow::on_Del_Br_Button_4_clicked() { controller->AddOrRemoveLayer(4); }
void ZKWindow::on_Del_Br_Button_5_clicked() { controller->AddOrRemoveLayer(5); }
void ZKWindow::on_Del_Br_Button_6_clicked() { controller->AddOrRemoveLayer(6); }
void ZKWindow::on_Del_Br_Button_7_clicked() { controller->AddOrRemoveLayer(7); }
void ZKWindow::on_Del_Br_Button_8_clicked() { controller->AddOrRemoveLayer(8); }
void ZKWindow::on_ThrOfLayer_1_clicked() { SelectLayer(1); }
void ZKWindow::on_ThrOfLayer_2_clicked() { SelectLayer(2); }
void ZKWindow::on_ThrOfLayer_3_clicked() { SelectLayer(3); }
void ZKWindow::on_ThrOfLayer_4_clicked() { SelectLayer(4); }
void ZKWindow::on_ThrOfLayer_5_clicked() { SelectLayer(5); }
void ZKWindow::on_ThrOfLayer_6_clicked() { SelectLayer(6); }
void ZKWindow::on_ThrOfLayer_7_clicked() { SelectLayer(7); }
void ZKWindow::on_ThrOfLayer_8_clicked() { SelectLayer(8); }
void ZKWindow::on_Play_Button_1_clicked() { PlayLayer(1); }
void ZKWindow::on_Play_Button_2_clicked() { PlayLayer(2); }
void ZKWindow::on_Play_Button_3_clicked() { PlayLayer(3); }
void ZKWindow::on_Play_Button_4_clicked() { PlayLayer(4); }
void ZKWindow::on_Play_Button_5_clicked() { PlayLayer(5); }
void ZKWindow::on_Play_Button_6_clicked() { PlayLayer(6); }
void ZKWindow::on_Play_Button_7_clicked() { PlayLayer(7); }
void ZKWindow::on_Play_Button_8_clicked() { PlayLayer(8); }

// A row of its own under the bottom bar, which has no room left on a small
// screen: "Trim tails" on the side of the gate that cuts quiet starts, "Open
// Bank" on the side of the banks. Banks dropped on the window open as the
// button opens them.
void ZKWindow::AddBankControls()
{
    auto *bar = new QWidget(ui->centralWidget);
    bar->setObjectName(QStringLiteral("BankBar"));
    bar->setSizePolicy(ui->widget->sizePolicy());
    auto *layout = new QHBoxLayout(bar);
    layout->setContentsMargins(ui->horizontalLayout->contentsMargins());
    layout->setSpacing(ui->horizontalLayout->spacing());

    trimTailsBox = new QCheckBox(tr("Trim tails"), bar);
    trimTailsBox->setObjectName(QStringLiteral("TrimTailsBox"));
    trimTailsBox->setToolTip(tr("Cut each layer after its last sound above -60 dB"));
    layout->addWidget(trimTailsBox);
    layout->addStretch();
    connect(trimTailsBox, &QCheckBox::toggled, this, [this](bool on) { SetTrimTails(on); });

    openBankButton = new QPushButton(tr("Open Bank"), bar);
    openBankButton->setObjectName(QStringLiteral("OpenBankButton"));
    openBankButton->setToolTip(tr("Open a bank to edit its layers"));
    layout->addWidget(openBankButton);
    connect(openBankButton, &QPushButton::clicked, this, [this]() { controller->OpenBankFromDialog(); });

    importKitButton = new QPushButton(tr("Import Kit"), bar);
    importKitButton->setObjectName(QStringLiteral("ImportKitButton"));
    importKitButton->setToolTip(tr("Fill the layers from an instrument of a drum kit"));
    layout->insertWidget(layout->indexOf(openBankButton), importKitButton);
    connect(importKitButton, &QPushButton::clicked, this, [this]() { controller->ImportKitFromDialog(); });

    ui->verticalLayout_2->addWidget(bar);
    setAcceptDrops(true);
}

void ZKWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (IsLocalFileDrag(event->mimeData()))
        event->acceptProposedAction();
}

void ZKWindow::dragMoveEvent(QDragMoveEvent *event)
{
    HighlightDropRow(DropRowAt(DropEventPosition(event)));
}

void ZKWindow::dragLeaveEvent(QDragLeaveEvent *)
{
    HighlightDropRow(0);
}

void ZKWindow::dropEvent(QDropEvent *event)
{
    HighlightDropRow(0);
    // The rows wait for the sound being converted: a bank opened now would
    // replace the rows it is meant for.
    if (IsConverting())
        return;
    if (OpenDroppedBank(event->mimeData()) || OpenDroppedKit(event->mimeData())
        || AddDroppedSounds(event))
        event->acceptProposedAction();
}

// Returns false, doing nothing, for any drop but that of a single bank.
bool ZKWindow::OpenDroppedBank(const QMimeData *data)
{
    const QString bankPath = DroppedBankPath(data);
    if (bankPath.isEmpty())
        return false;
    // Opened once the drop is over: a file manager may wait for the drop to
    // end while the window asks its questions.
    QMetaObject::invokeMethod(this, [this, bankPath]() { controller->OpenBank(bankPath); }, Qt::QueuedConnection);
    return true;
}

// Re-applies the option to every layer from its untrimmed file; a change
// the bank has no room for is refused and the box goes back.
void ZKWindow::SetTrimTails(bool on)
{
    Refusal refused;
    {
        WaitCursor busy;
        refused = table->ApplyTrim(on);
    }
    if (!refused.IsEmpty()) {
        const QSignalBlocker unchanged(trimTailsBox);
        trimTailsBox->setChecked(!on);
        ShowRefusal(refused);
        return;
    }
    QSettings().setValue(kTrimTailsKey, on);
}
