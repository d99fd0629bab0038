#include "widgetsupport.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QHash>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMimeData>
#include <QMessageBox>
#include <QPointer>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QThread>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include <memory>

#include "fileprocessor.h"
#include "zkwindow.h"

namespace {

QHash<const void *, ScriptedPrompts *> &Installed()
{
    static QHash<const void *, ScriptedPrompts *> installed;
    return installed;
}

} // namespace

ScriptedPrompts::ScriptedPrompts(ZKWindow &window)
    : install([shown = QPointer<ZKWindow>(&window)](Prompts *prompts) {
          if (shown)
              shown->SetPrompts(prompts);
      }),
      installedOn(&window)
{
    install(this);
    Installed().insert(installedOn, this);
}

ScriptedPrompts::ScriptedPrompts(BankController &controller)
    : install([asking = QPointer<BankController>(&controller),
               before = &controller.CurrentPrompts()](Prompts *prompts) {
          if (asking)
              asking->SetPrompts(prompts ? *prompts : *before);
      }),
      installedOn(&controller)
{
    install(this);
    Installed().insert(installedOn, this);
}

ScriptedPrompts::~ScriptedPrompts()
{
    install(nullptr);
    Installed().remove(installedOn);
}

ScriptedPrompts *ScriptedPrompts::Of(const ZKWindow &window)
{
    return Installed().value(&window);
}

void ScriptedPrompts::Put()
{
    if (QApplication::overrideCursor())
        ++underWaitCursor;
    if (whileAsked)
        whileAsked();
}

PromptAnswer ScriptedPrompts::Ask(const QString &text, const QVector<PromptAnswer> &offered,
                                  PromptAnswer defaultAnswer)
{
    asked << Question{text, offered, defaultAnswer};
    Put();
    if (!answers.isEmpty())
        return answers.takeFirst();
    return offered.contains(PromptAnswer::Cancel) ? PromptAnswer::Cancel : PromptAnswer::No;
}

QStringList ScriptedPrompts::OpenFiles(const FileQuestion &question, bool several)
{
    openQuestions << question;
    Put();
    const QStringList files = openAnswers.isEmpty() ? QStringList() : openAnswers.takeFirst();
    return several ? files : QStringList(files.mid(0, 1));
}

QString ScriptedPrompts::SavePath(const FileQuestion &question, const QString &, const QString &suggestedName)
{
    saveQuestions << question;
    suggestedNames << suggestedName;
    Put();
    return saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
}

int ScriptedPrompts::ChooseInstrument(const QString &, const QVector<KitInstrumentSummary> &instruments)
{
    instrumentLists << instruments;
    Put();
    return instrumentAnswers.isEmpty() ? -1 : instrumentAnswers.takeFirst();
}

void ScriptedPrompts::Show(const PromptMessage &message)
{
    messages << message;
    Put();
}

QTimer *OnNextModal(std::function<void(QWidget *)> action, int timeoutMs)
{
    return OnNextModalOf("QWidget", std::move(action), timeoutMs);
}

QTimer *OnNextModalOf(const char *className, std::function<void(QWidget *)> action, int timeoutMs)
{
    auto *timer = new QTimer(qApp);
    QElapsedTimer clock;
    clock.start();
    timer->setInterval(10);
    const QByteArray wanted(className);
    // A dialog is answered only on the tick after it was first seen: a tick
    // that comes while it is still being shown, before its event loop runs,
    // would close it too early and leave exec() waiting for ever.
    auto seenBefore = std::make_shared<QPointer<QWidget>>();
    QObject::connect(timer, &QTimer::timeout, [=]() {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && !modal->inherits(wanted.constData()))
            modal = nullptr;
        if (modal && *seenBefore != modal) {
            *seenBefore = modal;
            return;
        }
        if (!modal && clock.elapsed() < timeoutMs)
            return;
        timer->stop();
        timer->deleteLater();
        if (modal)
            action(modal);
    });
    timer->start();
    return timer;
}

void AnswerFileDialog(const QString &path)
{
    OnNextModalOf("QFileDialog", [path](QWidget *modal) {
        auto *dialog = static_cast<QFileDialog *>(modal);
        if (path.isEmpty()) {
            dialog->reject();
            return;
        }
        // Type the name as a user would, with nothing picked in the views: a
        // selection the dialog made on its own would win over typed text.
        // done() rather than accept(): accept() re-checks the typed name
        // against the dialog's file model, which may still be loading.
        const QFileInfo info(path);
        dialog->setDirectory(info.absolutePath());
        for (QAbstractItemView *view : dialog->findChildren<QAbstractItemView *>()) {
            if (view->selectionModel())
                view->selectionModel()->clear();
        }
        // A folder that doesn't exist can't be entered: type the whole path.
        const bool folderExists = QFileInfo(info.absolutePath()).isDir();
        if (auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            edit->setText(folderExists ? info.fileName() : info.absoluteFilePath());
        else
            dialog->selectFile(path);
        if (dialog->selectedFiles().value(0) != info.absoluteFilePath())
            qWarning("file dialog would answer %s", qPrintable(dialog->selectedFiles().value(0)));
        static_cast<QDialog *>(dialog)->done(QDialog::Accepted);
    });
}

const BankDocument &Bank()
{
    QList<ZKWindow *> windows;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *window = qobject_cast<ZKWindow *>(widget))
            windows << window;
    }
    if (windows.size() != 1)
        qFatal("Bank(): %d windows; name the one meant", int(windows.size()));
    return windows.first()->Bank();
}

bool FillRows(ZKWindow &window, int count, const QString &folder)
{
    QVector<LayerFile> layers;
    for (int n = 1; n <= count; ++n) {
        const QString path = QDir(folder).filePath(QStringLiteral("row %1.wav").arg(n));
        if (!WriteBytes(path, Wav16(1, kBankRate, Ramp(600 + 100 * n))))
            return false;
        layers << LayerFile{path, QFileInfo(path).fileName(), OpenAndCheckFile(path)};
    }
    ThresholdTable thresholds;
    DefaultThresholds(thresholds, count);
    const QString bank = QDir(folder).filePath(QStringLiteral("rows.zks"));
    if (GenerateZKS(MakeGeneratorArgs(layers, thresholds, 0, bank)) != GENERATE_OK)
        return false;
    window.OpenFiles({bank});
    QElapsedTimer waited;
    waited.start();
    while (window.Bank().Count() != count && waited.elapsed() < kGiveUpMs)
        QTest::qWait(10);
    return window.Bank().Count() == count;
}

QStringList LayerFilesInUse()
{
    return LayerFilesInUse(Bank());
}


bool WaitForConversion(ZKWindow *window, int timeoutMs)
{
    return QTest::qWaitFor([window]() { return !window->IsConverting(); }, timeoutMs);
}

SeenMessageBox AddLayerThroughDialog(ZKWindow *window, int layer, const QString &file)
{
    SeenMessageBox seen;
    AnswerFileDialog(file);
    QPointer<QTimer> boxWatch = CloseNextMessageBox(&seen, 300000);
    window->findChild<QPushButton *>(QStringLiteral("Del_Br_Button_%1").arg(layer))->click();
    if (!WaitForConversion(window))
        qWarning("the conversion of %s did not end", qPrintable(file));
    delete boxWatch; // nothing left waiting for a box that never came
    return seen;
}

QVector<PromptMessage> AddLayerAnswered(ZKWindow &window, ScriptedPrompts &prompts, int layer,
                                        const QString &file)
{
    const int shown = prompts.messages.size();
    prompts.openAnswers << QStringList{file};
    window.findChild<QPushButton *>(QStringLiteral("Del_Br_Button_%1").arg(layer))->click();
    if (!WaitForConversion(&window))
        qWarning("the conversion of %s did not end", qPrintable(file));
    return prompts.messages.mid(shown);
}

QPoint OverRow(ZKWindow &window, int layer)
{
    auto *label = window.findChild<QLabel *>(QStringLiteral("Filename_%1").arg(layer));
    return label->mapTo(&window, label->rect().center());
}

bool SendDrop(ZKWindow &window, const QStringList &files, const QPoint &position)
{
    QMimeData data;
    QList<QUrl> urls;
    for (const QString &file : files)
        urls << QUrl::fromLocalFile(file);
    data.setUrls(urls);
    QDragEnterEvent enter(position, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    if (!enter.isAccepted())
        return false;
    QDragMoveEvent move(position, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &move);
    QDropEvent drop(QPointF(position), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
    QCoreApplication::sendPostedEvents();
    return drop.isAccepted();
}

QTimer *ChooseInstrument(int index, SeenKitDialog *seen, std::function<void()> beforeChoosing)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    // Answered on the tick after it was first seen, once its exec() runs.
    auto seenBefore = std::make_shared<QPointer<QDialog>>();
    QObject::connect(timer, &QTimer::timeout, timer, [timer, index, seen, seenBefore, beforeChoosing]() {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog || dialog->objectName() != QLatin1String("KitDialog"))
            return;
        if (*seenBefore != dialog) {
            *seenBefore = dialog;
            return;
        }
        timer->stop();
        timer->deleteLater();
        auto *list = dialog->findChild<QTreeWidget *>(QStringLiteral("KitInstrumentList"));
        // Groups (a SoundFont's presets) and the instruments below them, in
        // the order shown; only instruments count for `index`.
        QVector<QTreeWidgetItem *> instruments;
        for (QTreeWidgetItemIterator it(list); list && *it; ++it) {
            const QTreeWidgetItem *item = *it;
            const QString indent = item->parent() ? QStringLiteral("  ") : QString();
            seen->rows << indent + QStringList{item->text(0), item->text(1), item->text(2)}.join(QLatin1Char('|'));
            seen->toolTips << item->toolTip(0);
            seen->enabled << !item->isDisabled();
            if (item->childCount() == 0)
                instruments << *it;
        }
        if (list)
            seen->current = instruments.indexOf(list->currentItem());
        seen->seen = true;
        if (index < 0 || !list) {
            dialog->reject();
            return;
        }
        list->setCurrentItem(instruments.value(index));
        if (beforeChoosing)
            beforeChoosing();
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    });
    timer->start();
    return timer;
}

QTimer *RecordNextDialogFolder(QString *folder, QString *file)
{
    return OnNextModalOf("QFileDialog", [folder, file](QWidget *modal) {
        auto *dialog = static_cast<QFileDialog *>(modal);
        *folder = dialog->directory().canonicalPath();
        if (file)
            *file = QFileInfo(dialog->selectedFiles().value(0)).fileName();
        dialog->reject();
    });
}

QTimer *CloseNextMessageBox(SeenMessageBox *seen, int timeoutMs)
{
    return AnswerNextMessageBox(seen, QMessageBox::Ok, timeoutMs);
}

QTimer *AnswerNextMessageBox(SeenMessageBox *seen, QMessageBox::StandardButton button, int timeoutMs,
                             std::function<void()> next)
{
    return OnNextModalOf("QMessageBox", [seen, button, next](QWidget *modal) {
        if (next)
            next();
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            seen->waitCursor = QApplication::overrideCursor() != nullptr;
            seen->title = box->windowTitle();
            seen->text = box->text();
            seen->informative = box->informativeText();
            seen->detailed = box->detailedText();
            if (auto *detail = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
                seen->informativeFormat = int(detail->textFormat());
            seen->icon = box->icon();
            seen->buttons = box->buttons().size();
            if (box->defaultButton())
                seen->defaultButton = int(box->standardButton(box->defaultButton()));
            seen->textInteraction = int(box->textInteractionFlags());
            seen->seen = true;
            if (QAbstractButton *answer = box->button(button))
                answer->click();
            else
                box->close();
        } else {
            modal->close();
        }
    }, timeoutMs);
}

HeldConverter::HeldConverter(Cancelling cancelling, int holdAbove, const QString &heldName)
{
    const std::shared_ptr<State> s = state;
    SetSoundConverter([s, cancelling, holdAbove, heldName](const QString &chosen,
                                                           const ConvertOptions &options,
                                                           QString *reason) {
        if (!heldName.isEmpty() && QFileInfo(chosen).fileName() != heldName)
            return ConvertFile(chosen, options, reason);
        const auto hold = [&]() {
            s->held = true;
            QElapsedTimer clock;
            clock.start();
            while (!s->released && !(cancelling == Heeded && *options.cancelled)) {
                if (clock.elapsed() > kGiveUpMs) {
                    s->gaveUp = true;
                    break;
                }
                QThread::msleep(5);
            }
            s->sawCancel = bool(*options.cancelled);
        };
        ConvertOptions real = options;
        if (cancelling == Ignored)
            real.cancelled = nullptr;
        if (holdAbove < 0) {
            options.progress(kHeldPercent);
            hold();
        } else {
            real.progress = [&](int percent) {
                options.progress(percent);
                if (percent > holdAbove && !s->held)
                    hold();
            };
        }
        const QString result = ConvertFile(chosen, real, reason);
        s->finished = true;
        return result;
    });
}

HeldConverter::~HeldConverter()
{
    SetSoundConverter(nullptr);
}

void CancelWhenHeld(ZKWindow *window, HeldConverter &converter, std::function<void()> after)
{
    auto *timer = new QTimer(window);
    QObject::connect(timer, &QTimer::timeout, [window, &converter, timer, after]() {
        auto *dialog = window->findChild<QProgressDialog *>();
        if (!converter.held() || !dialog || !dialog->isVisible())
            return;
        timer->stop();
        dialog->findChild<QPushButton *>()->click();
        if (after)
            after();
    });
    timer->start(10);
}

void SettleLayout()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

namespace {

// Where a label draws its text: inside its frame, margins and indent.
QRect LabelTextRoom(const QLabel *label)
{
    const int m = label->margin();
    QRect room = label->contentsRect().adjusted(m, m, -m, -m);
    return room.adjusted(0, 0, -qMax(0, label->indent()), 0);
}

// Where the style draws a push button's text: inside its frame.
QRect ButtonTextRoom(const QPushButton *button)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    if (button->isFlat())
        option.features |= QStyleOptionButton::Flat;
    if (button->autoDefault())
        option.features |= QStyleOptionButton::AutoDefaultButton;
    return button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
}

// Where the style draws a check box's text: beside its indicator.
QRect CheckBoxTextRoom(const QCheckBox *box)
{
    QStyleOptionButton option;
    option.initFrom(box);
    option.text = box->text();
    return box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
}

} // namespace

QStringList TextsNotShownWhole(QWidget *window)
{
    QStringList faults;
    for (QWidget *w : window->findChildren<QWidget *>()) {
        auto *label = qobject_cast<QLabel *>(w);
        auto *button = qobject_cast<QPushButton *>(w);
        auto *box = qobject_cast<QCheckBox *>(w);
        if (!label && !button && !box)
            continue;
        const QString text = label ? label->text() : static_cast<QAbstractButton *>(w)->text();
        if (text.isEmpty() || !w->isVisibleTo(window))
            continue;
        const QString what = QStringLiteral("%1 \"%2\": ").arg(w->objectName(), text);
        const QRect room = label ? LabelTextRoom(label)
                                 : button ? ButtonTextRoom(button) : CheckBoxTextRoom(box);
        const QFontMetrics metrics = w->fontMetrics();
        const int needed = metrics.horizontalAdvance(text);
        if (room.width() < needed)
            faults << what + QStringLiteral("%1 px wide, needs %2").arg(room.width()).arg(needed);
        if (room.height() < metrics.height())
            faults << what + QStringLiteral("%1 px high, needs %2").arg(room.height()).arg(metrics.height());
        // A button whose width the form leaves open gets what its style asks.
        if (!label && w->maximumWidth() == QWIDGETSIZE_MAX && w->width() < w->sizeHint().width())
            faults << what + QStringLiteral("narrower than its size hint");
        for (QWidget *inside = w->parentWidget(); inside; inside = inside->parentWidget()) {
            const QRect place(w->mapTo(inside, QPoint(0, 0)), w->size());
            if (!inside->rect().contains(place))
                faults << what + QStringLiteral("cut off by ") + inside->objectName();
            if (inside == window)
                break;
        }
    }
    return faults;
}
