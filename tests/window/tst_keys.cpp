#include <QtTest>

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

#include "audiooutput.h"
#include "testmain.h"
#include "widgetsupport.h"
#include "zkwindow.h"

namespace {

bool AudioOutputPresent() { return true; }

} // namespace

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

private:
    void AddLayers(ZKWindow &window, int count);
    TestHome home;
};

void TestKeys::initTestCase()
{
    QVERIFY(home.setUp());
    QVector<qint16> samples(3000);
    for (int i = 0; i < samples.size(); ++i)
        samples[i] = qint16(i % 200 * 100 - 10000);
    for (int n = 1; n <= 3; ++n)
        QVERIFY(WriteBytes(home.path() + QStringLiteral("/sounds/layer%1.wav").arg(n), Wav16(1, 44100, samples)));
}

void TestKeys::init()
{
    home.startTest();
    SetAudioOutputCheck(AudioOutputPresent);
}

void TestKeys::cleanup()
{
    home.endTest();
}

void TestKeys::AddLayers(ZKWindow &window, int count)
{
    for (int n = 1; n <= count; ++n) {
        AddLayerThroughDialog(&window, n, home.path() + QStringLiteral("/sounds/layer%1.wav").arg(n));
        QCOMPARE(Bank().Count(), n);
    }
    // Keys go to the active window, which the dialogs were for a while.
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
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
    ZKWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    AddLayers(window, 2);
    auto *target = window.findChild<QPushButton *>(button);
    QVERIFY(target);
    QVERIFY2(target->toolTip().contains(keys.toString()), qPrintable(target->toolTip()));
    QSignalSpy clicked(target, &QAbstractButton::clicked);
    // Whatever the button opens is closed again.
    QPointer<QTimer> watch = OnNextModal([](QWidget *modal) { modal->close(); }, 3000);
    QTest::keySequence(&window, keys);
    delete watch;
    QCOMPARE(clicked.count(), 1);
}

void TestKeys::deleteRemovesTheLastLayer()
{
    ZKWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    // No layer: nothing to remove, nothing asked.
    QTest::keyClick(&window, Qt::Key_Delete);
    QCOMPARE(Bank().Count(), 0);
    AddLayers(window, 3);
    QTest::keyClick(&window, Qt::Key_Delete);
    QCOMPARE(Bank().Count(), 2);
    QCOMPARE(Bank().Name(2), QStringLiteral("layer2.wav"));
}

void TestKeys::pPlaysTheSelectedLayer()
{
    ZKWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    AddLayers(window, 3);
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
    ZKWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    AddLayers(window, 3);
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
    ZKWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    AddLayers(window, 2);
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
    ZKWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    AddLayers(window, 3);
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
    ZKWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    AddLayers(window, 3);
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
    ZKWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    SeenMessageBox seen;
    QPointer<QTimer> watch = CloseNextMessageBox(&seen, 3000);
    QTest::keyClick(&window, Qt::Key_F1);
    delete watch;
    QVERIFY(seen.seen);
    QTextDocument shown;
    shown.setHtml(seen.text);
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

ZK_TEST(TestKeys)
#include "tst_keys.moc"
