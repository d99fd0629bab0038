// The window's keyboard: shortcuts, the Tab order, the keys of a focused
// threshold button and of any focused button, and the help box.

#include "zkwindow.h"
#include "ui_zkwindow.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QPushButton>
#include <QShortcut>

#include "about.h"

namespace {

// What the help box says about thresholds, besides the keys.
const char kThresholdHelp[] =
    "A layer's threshold is the softest hit, from 1 to 127, that plays it: a hit plays the "
    "layer with the highest threshold it reaches. Layer 1 plays the hardest hits; the last "
    "layer, at 1, the softest.";

} // namespace

void ZKWindow::SetUpKeys()
{
    const auto shortcut = [this](const QKeySequence &keys, std::function<void()> action) {
        auto *s = new QShortcut(keys, this);
        connect(s, &QShortcut::activated, this, std::move(action));
    };
    const auto press = [](QAbstractButton *button) {
        if (button && button->isVisible() && button->isEnabled())
            button->click();
    };
    const auto named = [this](const char *name) { return findChild<QAbstractButton *>(QLatin1String(name)); };
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_O), [=]() { press(named("OpenBankButton")); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_S), [=]() { press(ui->GenerateButton); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_G), [=]() { press(ui->GenerateButton); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_L), [=]() { press(named("OrderByLoudnessButton")); });
    shortcut(QKeySequence(Qt::Key_Delete), [=]() {
        if (Bank().Count() > 0)
            press(row(Bank().Count()).addRemove);
    });
    shortcut(QKeySequence(Qt::Key_P), [=]() {
        const int layer = selectedLayer >= 1 && selectedLayer <= Bank().Count() ? selectedLayer : Bank().Count();
        if (layer > 0)
            press(row(layer).play);
    });
    shortcut(QKeySequence(Qt::Key_F1), [this]() { ShowHelp(); });

    // The tool tips name the keys.
    const QList<QPair<QWidget *, QString>> named_keys{
        {named("OpenBankButton"), QStringLiteral("Ctrl+O")},
        {ui->GenerateButton, QStringLiteral("Ctrl+S, Ctrl+G")},
        {named("OrderByLoudnessButton"), QStringLiteral("Ctrl+L")},
    };
    for (const auto &entry : named_keys) {
        if (!entry.first)
            continue;
        const QString tip = entry.first->toolTip();
        entry.first->setToolTip(tip.isEmpty() ? entry.second : tip + QStringLiteral(" (") + entry.second + QLatin1Char(')'));
    }

    // Tab follows the screen: the threshold slider at the left, then row by
    // row from left to right, then the bars below the rows.
    QList<QWidget *> order{ui->ThresholdSlider};
    for (int layer = 1; layer <= kMaxLayers; ++layer) {
        const Row r = row(layer);
        order << r.threshold << r.addRemove << r.play;
        r.threshold->installEventFilter(this);
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
        if (row(n).threshold == button)
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
    const QList<QPair<const char *, const char *>> keys{
        {"Ctrl+O", "Open Bank"},
        {"Ctrl+S, Ctrl+G", "Generate"},
        {"Ctrl+L", "Order by loudness"},
        {"Ctrl+Z", "undo the last change"},
        {"Ctrl+Shift+Z, Ctrl+Y", "redo it"},
        {"Delete", "remove the last layer"},
        {"P", "play the selected layer"},
        {"Up, Down, Page Up, Page Down", "move the focused threshold"},
        {"Tab, Shift+Tab", "the next or the previous control; Space or Return presses it"},
        {"F1", "this help"},
    };
    QString rows;
    for (const auto &key : keys)
        rows += QStringLiteral("<tr><td style=\"white-space: nowrap; padding-right: 12px\"><b>%1</b></td><td>%2</td></tr>")
                    .arg(QString::fromLatin1(key.first).toHtmlEscaped(), QString::fromLatin1(key.second).toHtmlEscaped());
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
