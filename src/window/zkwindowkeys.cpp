// The window's keyboard: its commands' actions and their keys, the Tab
// order, the keys of a focused threshold button and of any focused button,
// and the help box.

#include "zkwindow.h"
#include "ui_zkwindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QKeyEvent>
#include <QPushButton>
#include <QUndoStack>

#include "about.h"
#include "layerrow.h"

namespace {

// What the help box says about thresholds, besides the keys.
const char kThresholdHelp[] =
    "A layer's threshold is the softest hit, from 1 to 127, that plays it: a hit plays the "
    "layer with the highest threshold it reaches. Layer 1 plays the hardest hits; the last "
    "layer, at 1, the softest.";

} // namespace

// The window's commands, in the order the help box lists their keys. Each
// one with a name is an action of the window; one without is told only:
// its keys belong to the focused control.
struct ZKWindow::Command {
    const char *name;           // the action's object name
    const char *keysText;       // the keys as the help box and the tool tips name them
    QList<QKeySequence> keys;
    const char *help;           // the help box's line, and the action's status tip
    const char *button;         // the button it presses, whose tool tip names the keys
    void (ZKWindow::*run)();    // what it does when it presses no button
};

const ZKWindow::Command ZKWindow::commands[] = {
    {"OpenBankAction", "Ctrl+O", {QKeySequence(Qt::CTRL | Qt::Key_O)}, "Open Bank", "OpenBankButton", nullptr},
    {"GenerateAction", "Ctrl+S, Ctrl+G", {QKeySequence(Qt::CTRL | Qt::Key_S), QKeySequence(Qt::CTRL | Qt::Key_G)},
     "Generate", "GenerateButton", nullptr},
    {"OrderByLoudnessAction", "Ctrl+L", {QKeySequence(Qt::CTRL | Qt::Key_L)}, "Order by loudness",
     "OrderByLoudnessButton", nullptr},
    {"UndoAction", "Ctrl+Z", {QKeySequence(Qt::CTRL | Qt::Key_Z)}, "undo the last change", nullptr,
     &ZKWindow::StepBack},
    {"RedoAction", "Ctrl+Shift+Z, Ctrl+Y",
     {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)}, "redo it", nullptr,
     &ZKWindow::StepForward},
    {"RemoveLastLayerAction", "Delete", {QKeySequence(Qt::Key_Delete)}, "remove the last layer", nullptr,
     &ZKWindow::RemoveLastLayer},
    {"PlaySelectedLayerAction", "P", {QKeySequence(Qt::Key_P)}, "play the selected layer", nullptr,
     &ZKWindow::PlaySelectedLayer},
    {nullptr, "Up, Down, Page Up, Page Down", {}, "move the focused threshold", nullptr, nullptr},
    {nullptr, "Tab, Shift+Tab", {}, "the next or the previous control; Space or Return presses it", nullptr, nullptr},
    {"HelpAction", "F1", {QKeySequence(Qt::Key_F1)}, "this help", nullptr, &ZKWindow::ShowHelp},
};

namespace {

void Press(QAbstractButton *button)
{
    if (button && button->isVisible() && button->isEnabled())
        button->click();
}

} // namespace

void ZKWindow::SetUpKeys()
{
    QUndoStack *stack = table->UndoStack();
    for (const Command &command : commands) {
        if (!command.name)
            continue;
        QAction *action;
        if (command.run == &ZKWindow::StepBack || command.run == &ZKWindow::StepForward) {
            // The stack's own actions follow what can be undone and redone;
            // the window still decides when a step may be taken.
            action = command.run == &ZKWindow::StepBack ? stack->createUndoAction(this)
                                                         : stack->createRedoAction(this);
            disconnect(action, nullptr, stack, nullptr);
        } else {
            action = new QAction(QString::fromLatin1(command.help), this);
        }
        action->setObjectName(QLatin1String(command.name));
        action->setShortcuts(command.keys);
        action->setStatusTip(QString::fromLatin1(command.help));
        const QString keys = QLatin1String(command.keysText);
        auto *button = command.button ? findChild<QAbstractButton *>(QLatin1String(command.button)) : nullptr;
        if (button) {
            // The button's tool tip names the keys.
            const QString tip = button->toolTip();
            button->setToolTip(tip.isEmpty() ? keys : tip + QStringLiteral(" (") + keys + QLatin1Char(')'));
            action->setToolTip(button->toolTip());
            connect(action, &QAction::triggered, button, [button]() { Press(button); });
        } else {
            action->setToolTip(QString::fromLatin1(command.help) + QStringLiteral(" (") + keys + QLatin1Char(')'));
            connect(action, &QAction::triggered, this, command.run);
        }
        addAction(action);
    }

    // Tab follows the screen: the threshold slider at the left, then row by
    // row from left to right, then the bars below the rows.
    QList<QWidget *> order{ui->ThresholdSlider};
    for (const LayerRow *r : rows) {
        order << r->ThresholdButton() << r->AddRemoveButton() << r->PlayButton();
        r->ThresholdButton()->installEventFilter(this);
    }
    for (const char *name : {"LayerViewPlay", "HitStrengthBox", "HitPlayButton", "horizontalSlider",
                             "OrderByLoudnessButton", "GenerateButton", "openFolderButton", "TrimTailsBox",
                             "ImportKitButton", "OpenBankButton"}) {
        if (QWidget *widget = findChild<QWidget *>(QLatin1String(name)))
            order << widget;
    }
    for (int i = 1; i < order.size(); ++i)
        setTabOrder(order.at(i - 1), order.at(i));
    for (QAbstractButton *button : findChildren<QAbstractButton *>())
        button->installEventFilter(this);
}

void ZKWindow::RemoveLastLayer()
{
    if (Bank().Count() > 0)
        Press(row(Bank().Count())->AddRemoveButton());
}

void ZKWindow::PlaySelectedLayer()
{
    const int layer = selectedLayer >= 1 && selectedLayer <= Bank().Count() ? selectedLayer : Bank().Count();
    if (layer > 0)
        Press(row(layer)->PlayButton());
}

bool ZKWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QMainWindow::eventFilter(watched, event);
    auto *button = qobject_cast<QAbstractButton *>(watched);
    const int key = static_cast<QKeyEvent *>(event)->key();
    if (!button || !button->isEnabled())
        return QMainWindow::eventFilter(watched, event);
    // Return and Enter press the focused button, as Space does.
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        button->click();
        return true;
    }
    // The arrows and page keys on a threshold button move its layer's
    // threshold as the slider's keys do. The last layer's stays at 1.
    int layer = 0;
    for (int n = 1; n < Bank().Count(); ++n) {
        if (row(n)->ThresholdButton() == button)
            layer = n;
    }
    QAbstractSlider::SliderAction action = QAbstractSlider::SliderNoAction;
    switch (key) {
    case Qt::Key_Up:
        action = QAbstractSlider::SliderSingleStepAdd;
        break;
    case Qt::Key_Down:
        action = QAbstractSlider::SliderSingleStepSub;
        break;
    case Qt::Key_PageUp:
        action = QAbstractSlider::SliderPageStepAdd;
        break;
    case Qt::Key_PageDown:
        action = QAbstractSlider::SliderPageStepSub;
        break;
    default:
        break;
    }
    if (layer == 0 || action == QAbstractSlider::SliderNoAction)
        return QMainWindow::eventFilter(watched, event);
    if (selectedLayer != layer)
        button->click();
    ui->ThresholdSlider->triggerAction(action);
    return true;
}

void ZKWindow::ShowHelp()
{
    // A table, so the keys and what they do line up in any font.
    QString rows;
    for (const Command &command : commands)
        rows += QStringLiteral("<tr><td style=\"white-space: nowrap; padding-right: 12px\"><b>%1</b></td><td>%2</td></tr>")
                    .arg(QString::fromLatin1(command.keysText).toHtmlEscaped(),
                         QString::fromLatin1(command.help).toHtmlEscaped());
    const QString about = (QStringList{QStringLiteral("QuadrelX8FileGen %1").arg(ProgramVersion())} + LibraryLines())
                              .join(QLatin1Char('\n'))
                              .toHtmlEscaped()
                              .replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    const QString text = QStringLiteral("<p><b>Keys</b></p><table>%1</table>"
                                        "<p><b>Thresholds</b><br>%2</p><p>%3</p>")
                             .arg(rows, QString::fromLatin1(kThresholdHelp).toHtmlEscaped(), about);
    PromptMessage help;
    help.title = QStringLiteral("Help");
    help.text = text;
    help.textFormat = Qt::RichText;
    prompts->Show(help);
}
