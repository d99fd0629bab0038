#include <QtTest>

#include <QAction>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QSoundEffect>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>

#include "testmain.h"
#include "widgetsupport.h"
#include "windowfixture.h"
#include "zkwindow.h"

// The whole job without the mouse: shortcuts, Tab, the keys of a focused
// button and of a focused threshold button, and the help box.
class TestKeys : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void shortcutsPressTheirButtons_data();
    void shortcutsPressTheirButtons();
    void deleteRemovesTheLastLayer();
    void pPlaysTheSelectedLayer();
    void tabFollowsTheScreen();
    void returnPressesTheFocusedButton();
    void keysOnAThresholdButton_data();
    void keysOnAThresholdButton();
    void keysOnTheLastLayerMoveNothing();
    void helpBox();
    void commandActions_data();
    void commandActions();
    void undoActionsFollowTheStack();

private:
    void AddLayers(ZKWindow &window, ScriptedPrompts &prompts, int count);
    WindowFixture home;
};

void TestKeys::initTestCase()
{
    QVERIFY(home.setUp());
    QVERIFY(home.WriteLayerSounds(3));
}

void TestKeys::init()
{
    home.startTest();
}

void TestKeys::cleanup()
{
    home.endTest();
}

void TestKeys::AddLayers(ZKWindow &window, ScriptedPrompts &prompts, int count)
{
    for (int n = 1; n <= count; ++n) {
        AddLayerAnswered(window, prompts, n, home.path() + QStringLiteral("/sounds/layer%1.wav").arg(n));
        QCOMPARE(Bank().Count(), n);
    }
}

void TestKeys::shortcutsPressTheirButtons_data()
{
    QTest::addColumn<QKeySequence>("keys");
    QTest::addColumn<QString>("button");
    QTest::newRow("Ctrl+O") << QKeySequence(Qt::CTRL | Qt::Key_O) << "OpenBankButton";
    QTest::newRow("Ctrl+S") << QKeySequence(Qt::CTRL | Qt::Key_S) << "GenerateButton";
    QTest::newRow("Ctrl+G") << QKeySequence(Qt::CTRL | Qt::Key_G) << "GenerateButton";
    QTest::newRow("Ctrl+L") << QKeySequence(Qt::CTRL | Qt::Key_L) << "OrderByLoudnessButton";
}

void TestKeys::shortcutsPressTheirButtons()
{
    QFETCH(QKeySequence, keys);
    QFETCH(QString, button);
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    ScriptedPrompts &prompts = home.Prompts();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    AddLayers(window, prompts, 2);
    auto *target = window.findChild<QPushButton *>(button);
    QVERIFY(target);
    QVERIFY2(target->toolTip().contains(keys.toString()), qPrintable(target->toolTip()));
    QSignalSpy clicked(target, &QAbstractButton::clicked);
    // Whatever the button asks is cancelled.
    QTest::keySequence(&window, keys);
    QCOMPARE(clicked.count(), 1);
}

void TestKeys::deleteRemovesTheLastLayer()
{
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    ScriptedPrompts &prompts = home.Prompts();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    // No layer: nothing to remove, nothing asked.
    QTest::keyClick(&window, Qt::Key_Delete);
    QCOMPARE(Bank().Count(), 0);
    AddLayers(window, prompts, 3);
    QTest::keyClick(&window, Qt::Key_Delete);
    QCOMPARE(Bank().Count(), 2);
    QCOMPARE(Bank().Name(2), QStringLiteral("layer2.wav"));
}

void TestKeys::pPlaysTheSelectedLayer()
{
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    ScriptedPrompts &prompts = home.Prompts();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    AddLayers(window, prompts, 3);
    window.findChild<QPushButton *>(QStringLiteral("ThrOfLayer_2"))->click();
    const int before = window.findChildren<QSoundEffect *>().size();
    QTest::keyClick(&window, Qt::Key_P);
    const QList<QSoundEffect *> sounds = window.findChildren<QSoundEffect *>();
    QCOMPARE(sounds.size(), before + 1);
    QCOMPARE(sounds.last()->source(), QUrl::fromLocalFile(Bank().Path(2)));
}

// Tab pressed as a user presses it, once round the window from Generate:
// every visible threshold button takes its turn in its row, the last
// layer's too, and the one reached by Tab still moves its threshold.
void TestKeys::tabFollowsTheScreen()
{
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    ScriptedPrompts &prompts = home.Prompts();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    AddLayers(window, prompts, 3);
    auto *generate = window.findChild<QPushButton *>(QStringLiteral("GenerateButton"));
    generate->setFocus();
    QStringList seen;
    do {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        seen << QApplication::focusWidget()->objectName();
    } while (QApplication::focusWidget() != generate && seen.size() < 40);
    // Row 1's and row 2's remove buttons are disabled while a row after them
    // is filled; the empty row after the last shows only its add button.
    const QStringList expected{"openFolderButton", "TrimTailsBox",    "ImportKitButton", "OpenBankButton",
                               "ThrOfLayer_1",     "Play_Button_1",   "ThrOfLayer_2",    "Play_Button_2",
                               "ThrOfLayer_3",     "Del_Br_Button_3", "Play_Button_3",   "Del_Br_Button_4",
                               "LayerViewPlay",    "HitStrengthBox",  "HitPlayButton",   "horizontalSlider",
                               "OrderByLoudnessButton", "GenerateButton"};
    QCOMPARE(seen, expected);

    // Round again to layer 2's threshold button: Up moves its threshold, and
    // Tab goes on from there, the slider now shown at the left first.
    for (int i = 0; i < 7; ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    auto *second = window.findChild<QPushButton *>(QStringLiteral("ThrOfLayer_2"));
    QCOMPARE(QApplication::focusWidget(), second);
    const qint32 before = Bank().Threshold(2);
    QTest::keyClick(second, Qt::Key_Up);
    QCOMPARE(Bank().Threshold(2), before + 1);
    QCOMPARE(QApplication::focusWidget(), second);
    QTest::keyClick(second, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Play_Button_2"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Play_Button_1"));
}

void TestKeys::returnPressesTheFocusedButton()
{
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    ScriptedPrompts &prompts = home.Prompts();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    AddLayers(window, prompts, 2);
    auto *remove = window.findChild<QPushButton *>(QStringLiteral("Del_Br_Button_2"));
    remove->setFocus();
    QTest::keyClick(remove, Qt::Key_Return);
    QCOMPARE(Bank().Count(), 1);
    auto *box = window.findChild<QAbstractButton *>(QStringLiteral("TrimTailsBox"));
    const bool checked = box->isChecked();
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Enter);
    QCOMPARE(box->isChecked(), !checked);
}

void TestKeys::keysOnAThresholdButton_data()
{
    QTest::addColumn<int>("layer");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("change"); // of that layer's threshold
    QTest::newRow("up") << 2 << int(Qt::Key_Up) << 1;
    QTest::newRow("down") << 2 << int(Qt::Key_Down) << -1;
    QTest::newRow("page up") << 2 << int(Qt::Key_PageUp) << 10;
    QTest::newRow("page down") << 2 << int(Qt::Key_PageDown) << -10;
    QTest::newRow("layer 1, up") << 1 << int(Qt::Key_Up) << 1;
}

void TestKeys::keysOnAThresholdButton()
{
    QFETCH(int, layer);
    QFETCH(int, key);
    QFETCH(int, change);
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    ScriptedPrompts &prompts = home.Prompts();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    AddLayers(window, prompts, 3);
    auto *slider = window.findChild<QSlider *>(QStringLiteral("ThresholdSlider"));
    auto *button = window.findChild<QPushButton *>(QStringLiteral("ThrOfLayer_%1").arg(layer));
    button->setFocus();
    const int before = Bank().Threshold(layer);
    // The page step the slider takes, whatever the form sets.
    const int step = key == Qt::Key_PageUp || key == Qt::Key_PageDown ? slider->pageStep() / 10 : 1;
    QTest::keyClick(button, Qt::Key(key));
    QCOMPARE(window.SelectedLayer(), layer);
    QCOMPARE(Bank().Threshold(layer), before + change * step);
    QCOMPARE(button->text(), QString::number(Bank().Threshold(layer)));
    QVERIFY(button->hasFocus());
}

// The last layer's threshold is fixed: its button's keys must not move the
// threshold of the layer selected before.
void TestKeys::keysOnTheLastLayerMoveNothing()
{
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    ScriptedPrompts &prompts = home.Prompts();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    AddLayers(window, prompts, 3);
    window.findChild<QPushButton *>(QStringLiteral("ThrOfLayer_1"))->click();
    QCOMPARE(window.SelectedLayer(), 1);
    const QVector<int> before(Bank().Thresholds(), Bank().Thresholds() + kMaxLayers + 1);
    auto *last = window.findChild<QPushButton *>(QStringLiteral("ThrOfLayer_3"));
    last->setFocus();
    for (const Qt::Key key : {Qt::Key_Up, Qt::Key_PageUp, Qt::Key_Down, Qt::Key_PageDown})
        QTest::keyClick(last, key);
    QCOMPARE(QVector<int>(Bank().Thresholds(), Bank().Thresholds() + kMaxLayers + 1), before);
}

void TestKeys::helpBox()
{
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    ScriptedPrompts &prompts = home.Prompts();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_F1);
    QCOMPARE(prompts.messages.size(), 1);
    QCOMPARE(prompts.messages.at(0).title, QStringLiteral("Help"));
    QCOMPARE(prompts.messages.at(0).textFormat, Qt::RichText);
    QTextDocument shown;
    shown.setHtml(prompts.messages.at(0).text);
    for (const char *part : {"Ctrl+O", "Ctrl+S", "Ctrl+L", "Delete", "threshold", "QuadrelX8FileGen 2.1",
                             "libsndfile-", "libsoxr-", "libebur128-", "LGPL"})
        QVERIFY2(shown.toPlainText().contains(QLatin1String(part)), part);
    // The keys stand in a table's first column, what they do in its second,
    // so the two line up whatever the font.
    QTextTable *table = nullptr;
    for (QTextBlock block = shown.begin(); block.isValid() && !table; block = block.next())
        table = qobject_cast<QTextTable *>(QTextCursor(block).currentTable());
    QVERIFY(table);
    QCOMPARE(table->columns(), 2);
    QStringList keys;
    for (int r = 0; r < table->rows(); ++r) {
        const QTextTableCell key = table->cellAt(r, 0);
        keys << shown.toPlainText().mid(key.firstPosition(), key.lastPosition() - key.firstPosition());
    }
    QCOMPARE(keys, (QStringList{"Ctrl+O", "Ctrl+S, Ctrl+G", "Ctrl+L", "Ctrl+Z", "Ctrl+Shift+Z, Ctrl+Y", "Delete",
                                "P", "Up, Down, Page Up, Page Down", "Tab, Shift+Tab", "F1"}));
    const QTextTableCell undo = table->cellAt(3, 1);
    QCOMPARE(shown.toPlainText().mid(undo.firstPosition(), undo.lastPosition() - undo.firstPosition()),
             QStringLiteral("undo the last change"));
}

void TestKeys::commandActions_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QList<QKeySequence>>("keys");
    QTest::addColumn<QString>("keysText"); // as its tool tip names them
    QTest::newRow("Open Bank") << "OpenBankAction" << QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::Key_O)}
                               << "Ctrl+O";
    QTest::newRow("Generate") << "GenerateAction"
                              << QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::Key_S), QKeySequence(Qt::CTRL | Qt::Key_G)}
                              << "Ctrl+S, Ctrl+G";
    QTest::newRow("Order by loudness") << "OrderByLoudnessAction"
                                       << QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::Key_L)} << "Ctrl+L";
    QTest::newRow("undo") << "UndoAction" << QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::Key_Z)} << "Ctrl+Z";
    QTest::newRow("redo") << "RedoAction"
                          << QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z),
                                                 QKeySequence(Qt::CTRL | Qt::Key_Y)}
                          << "Ctrl+Shift+Z, Ctrl+Y";
    QTest::newRow("remove") << "RemoveLastLayerAction" << QList<QKeySequence>{QKeySequence(Qt::Key_Delete)}
                            << "Delete";
    QTest::newRow("play") << "PlaySelectedLayerAction" << QList<QKeySequence>{QKeySequence(Qt::Key_P)} << "P";
    QTest::newRow("help") << "HelpAction" << QList<QKeySequence>{QKeySequence(Qt::Key_F1)} << "F1";
}

// Each command is an action of the window with its keys, a tool tip naming
// them and a help line.
void TestKeys::commandActions()
{
    QFETCH(QString, action);
    QFETCH(QList<QKeySequence>, keys);
    QFETCH(QString, keysText);
    ZKWindow window;
    auto *command = window.findChild<QAction *>(action);
    QVERIFY(command);
    QVERIFY(window.actions().contains(command));
    QCOMPARE(command->shortcuts(), keys);
    QVERIFY2(command->toolTip().endsWith(QStringLiteral(" (") + keysText + QLatin1Char(')')),
             qPrintable(command->toolTip()));
    QVERIFY(!command->statusTip().isEmpty());
}

// Undo and redo are the stack's own actions: enabled when there is a step
// to take, and one key press takes one step.
void TestKeys::undoActionsFollowTheStack()
{
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    ScriptedPrompts &prompts = home.Prompts();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    auto *undo = window.findChild<QAction *>(QStringLiteral("UndoAction"));
    auto *redo = window.findChild<QAction *>(QStringLiteral("RedoAction"));
    QVERIFY(undo && redo);
    QVERIFY(!undo->isEnabled());
    QVERIFY(!redo->isEnabled());
    AddLayers(window, prompts, 2);
    QVERIFY(undo->isEnabled());
    QVERIFY(!redo->isEnabled());
    QTest::keyClick(&window, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(Bank().Count(), 1);
    QVERIFY(redo->isEnabled());
    QTest::keyClick(&window, Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(Bank().Count(), 2);
    QVERIFY(!redo->isEnabled());
}

ZK_TEST(TestKeys)
#include "tst_keys.moc"
