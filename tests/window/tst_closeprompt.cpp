#include <QtTest>

#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSlider>

#include "testmain.h"
#include "widgetsupport.h"
#include "zkwindow.h"

// Closing with changes not written asks whether to generate the bank first.
class TestClosePrompt : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void answers_data();
    void answers();
    void noQuestion_data();
    void noQuestion();

private:
    QString Sound(int n) const { return home.path() + QStringLiteral("/sounds/layer%1.wav").arg(n); }
    TestHome home;
};

void TestClosePrompt::initTestCase()
{
    QVERIFY(home.setUp());
    QVector<qint16> samples(3000);
    for (int i = 0; i < samples.size(); ++i)
        samples[i] = qint16(i % 200 * 100 - 10000);
    for (int n = 1; n <= 2; ++n)
        QVERIFY(WriteBytes(Sound(n), Wav16(1, 44100, samples)));
}

void TestClosePrompt::init()
{
    home.startTest();
}

void TestClosePrompt::cleanup()
{
    home.endTest();
}

void TestClosePrompt::answers_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("bankName"); // typed in the save dialog; empty: cancelled
    QTest::addColumn<bool>("closed");
    QTest::newRow("Generate") << "Generate" << "kit.zks" << true;
    QTest::newRow("Generate, save dialog cancelled") << "Generate" << QString() << false;
    QTest::newRow("Discard") << "Discard" << QString() << true;
    QTest::newRow("Cancel") << "Cancel" << QString() << false;
}

void TestClosePrompt::answers()
{
    QFETCH(QString, answer);
    QFETCH(QString, bankName);
    QFETCH(bool, closed);
    ZKWindow window;
    window.show();
    for (int n = 1; n <= 2; ++n)
        QVERIFY(!AddLayerThroughDialog(&window, n, Sound(n)).seen);

    QString title, text;
    QStringList buttons;
    QPointer<QTimer> watch = OnNextModalOf("QMessageBox", [&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        title = box->windowTitle();
        text = box->text();
        QAbstractButton *chosen = nullptr;
        for (QAbstractButton *button : box->buttons()) {
            const QString shown = button->text().remove(QLatin1Char('&'));
            buttons << shown;
            if (shown == answer)
                chosen = button;
        }
        buttons.sort();
        if (chosen)
            chosen->click();
        else
            box->close();
    }, kGiveUpMs);
    const QString bank = bankName.isEmpty() ? QString() : home.path() + QLatin1Char('/') + bankName;
    if (answer == QLatin1String("Generate"))
        AnswerFileDialog(bank);
    QCOMPARE(window.close(), closed);
    delete watch;

    QCOMPARE(title, QStringLiteral("QUESTION"));
    QCOMPARE(text, QStringLiteral("Generate the bank before closing?"));
    QCOMPARE(buttons, (QStringList{"Cancel", "Discard", "Generate"}));
    QCOMPARE(window.isVisible(), !closed);
    if (!bank.isEmpty())
        QVERIFY(QFileInfo(bank).size() > 0);
    // The layers stay with a window left open.
    QCOMPARE(Bank().Count(), 2);
}

void TestClosePrompt::noQuestion_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<bool>("asked");
    QTest::newRow("empty window") << "empty" << false;
    QTest::newRow("right after Generate") << "generated" << false;
    QTest::newRow("changed after Generate") << "generated, gate moved" << true;
    QTest::newRow("every layer removed") << "removed" << false;
    QTest::newRow("bank just opened over layers not written") << "opened" << false;
    QTest::newRow("opened bank changed") << "opened, layer removed" << true;
}

void TestClosePrompt::noQuestion()
{
    QFETCH(QString, state);
    QFETCH(bool, asked);
    const QString bank = home.path() + QStringLiteral("/written.zks");
    if (state.startsWith(QLatin1String("opened"))) {
        ZKWindow maker;
        maker.show();
        for (int n = 1; n <= 2; ++n)
            QVERIFY(!AddLayerThroughDialog(&maker, n, Sound(n)).seen);
        AnswerFileDialog(bank);
        maker.findChild<QPushButton *>(QStringLiteral("GenerateButton"))->click();
        QVERIFY(QFileInfo::exists(bank));
    }

    ZKWindow window;
    window.show();
    if (state.startsWith(QLatin1String("generated"))) {
        QVERIFY(!AddLayerThroughDialog(&window, 1, Sound(1)).seen);
        AnswerFileDialog(bank);
        window.findChild<QPushButton *>(QStringLiteral("GenerateButton"))->click();
        QVERIFY(QFileInfo::exists(bank));
        if (state.endsWith(QLatin1String("gate moved")))
            window.findChild<QSlider *>(QStringLiteral("horizontalSlider"))->setValue(3);
    } else if (state == QLatin1String("removed")) {
        QVERIFY(!AddLayerThroughDialog(&window, 1, Sound(1)).seen);
        window.findChild<QPushButton *>(QStringLiteral("Del_Br_Button_1"))->click();
    } else if (state.startsWith(QLatin1String("opened"))) {
        QVERIFY(!AddLayerThroughDialog(&window, 1, Sound(2)).seen);
        // Its layers replace the one not written.
        QPointer<QTimer> replace = OnNextModalOf("QMessageBox", [](QWidget *modal) {
            qobject_cast<QMessageBox *>(modal)->button(QMessageBox::Yes)->click();
        }, kGiveUpMs);
        window.OpenFiles({bank});
        QTRY_COMPARE(Bank().Count(), 2);
        delete replace;
        if (state.endsWith(QLatin1String("layer removed")))
            window.findChild<QPushButton *>(QStringLiteral("Del_Br_Button_2"))->click();
    }

    SeenMessageBox box;
    QPointer<QTimer> watch = OnNextModalOf("QMessageBox", [&box](QWidget *modal) {
        auto *question = qobject_cast<QMessageBox *>(modal);
        box.seen = true;
        box.text = question->text();
        question->button(QMessageBox::Cancel)->click();
    }, asked ? kGiveUpMs : 500);
    QCOMPARE(window.close(), !asked);
    delete watch;
    QCOMPARE(box.seen, asked);
    if (asked)
        QCOMPARE(box.text, QStringLiteral("Generate the bank before closing?"));
}

ZK_TEST(TestClosePrompt)
#include "tst_closeprompt.moc"
