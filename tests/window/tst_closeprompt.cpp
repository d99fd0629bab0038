#include <QtTest>

#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSlider>

#include "testmain.h"
#include "widgetsupport.h"
#include "windowfixture.h"
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
    void realBox();
    void noQuestion_data();
    void noQuestion();

private:
    WindowFixture home;
};

void TestClosePrompt::initTestCase()
{
    QVERIFY(home.setUp());
    QVERIFY(home.WriteLayerSounds(2));
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
    QTest::addColumn<PromptAnswer>("answer");
    QTest::addColumn<QString>("bankName"); // answers the save question; empty: cancelled
    QTest::addColumn<bool>("closed");
    QTest::newRow("Generate") << PromptAnswer::Generate << "kit.zks" << true;
    QTest::newRow("Generate, save dialog cancelled") << PromptAnswer::Generate << QString() << false;
    QTest::newRow("Discard") << PromptAnswer::Discard << QString() << true;
    QTest::newRow("Cancel") << PromptAnswer::Cancel << QString() << false;
}

void TestClosePrompt::answers()
{
    QFETCH(PromptAnswer, answer);
    QFETCH(QString, bankName);
    QFETCH(bool, closed);
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    ScriptedPrompts &prompts = home.Prompts();
    for (int n = 1; n <= 2; ++n)
        QVERIFY(AddLayerAnswered(window, prompts, n, home.LayerSound(n)).isEmpty());

    const QString bank = bankName.isEmpty() ? QString() : home.path() + QLatin1Char('/') + bankName;
    prompts.answers << answer;
    prompts.saveAnswers << bank;
    QCOMPARE(window.close(), closed);

    QCOMPARE(prompts.asked.size(), 1);
    QCOMPARE(prompts.asked.at(0).text, QStringLiteral("Generate the bank before closing?"));
    QCOMPARE(prompts.asked.at(0).answers,
             (QVector<PromptAnswer>{PromptAnswer::Generate, PromptAnswer::Discard, PromptAnswer::Cancel}));
    QCOMPARE(prompts.asked.at(0).defaultAnswer, PromptAnswer::Generate);
    // Only Generate asks where.
    QCOMPARE(prompts.saveQuestions.size(), answer == PromptAnswer::Generate ? 1 : 0);
    QCOMPARE(window.isVisible(), !closed);
    if (!bank.isEmpty())
        QVERIFY(QFileInfo(bank).size() > 0);
    // The layers stay with a window left open.
    QCOMPARE(Bank().Count(), 2);
}

// The question as the real dialogs put it.
void TestClosePrompt::realBox()
{
    ZKWindow window;
    window.show();
    QVERIFY(!AddLayerThroughDialog(&window, 1, home.LayerSound(1)).seen);

    QString title, text, defaultButton;
    QStringList buttons;
    QPointer<QTimer> watch = OnNextModalOf("QMessageBox", [&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        title = box->windowTitle();
        text = box->text();
        for (QAbstractButton *button : box->buttons())
            buttons << button->text().remove(QLatin1Char('&'));
        buttons.sort();
        defaultButton = box->defaultButton()->text();
        box->button(QMessageBox::Cancel)->click();
    }, kGiveUpMs);
    QVERIFY(!window.close());
    delete watch;

    QCOMPARE(title, QStringLiteral("QUESTION"));
    QCOMPARE(text, QStringLiteral("Generate the bank before closing?"));
    QCOMPARE(buttons, (QStringList{"Cancel", "Discard", "Generate"}));
    QCOMPARE(defaultButton, QStringLiteral("Generate"));
    QVERIFY(window.isVisible());
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
        ScriptedPrompts makerPrompts(maker);
        maker.show();
        for (int n = 1; n <= 2; ++n)
            QVERIFY(AddLayerAnswered(maker, makerPrompts, n, home.LayerSound(n)).isEmpty());
        makerPrompts.saveAnswers << bank;
        maker.findChild<QPushButton *>(QStringLiteral("GenerateButton"))->click();
        QVERIFY(QFileInfo::exists(bank));
    }

    ZKWindow window;
    ScriptedPrompts prompts(window);
    window.show();
    if (state.startsWith(QLatin1String("generated"))) {
        QVERIFY(AddLayerAnswered(window, prompts, 1, home.LayerSound(1)).isEmpty());
        prompts.saveAnswers << bank;
        window.findChild<QPushButton *>(QStringLiteral("GenerateButton"))->click();
        QVERIFY(QFileInfo::exists(bank));
        if (state.endsWith(QLatin1String("gate moved")))
            window.findChild<QSlider *>(QStringLiteral("horizontalSlider"))->setValue(3);
    } else if (state == QLatin1String("removed")) {
        QVERIFY(AddLayerAnswered(window, prompts, 1, home.LayerSound(1)).isEmpty());
        window.findChild<QPushButton *>(QStringLiteral("Del_Br_Button_1"))->click();
    } else if (state.startsWith(QLatin1String("opened"))) {
        QVERIFY(AddLayerAnswered(window, prompts, 1, home.LayerSound(2)).isEmpty());
        // Its layers replace the one not written.
        prompts.answers << PromptAnswer::Yes;
        window.OpenFiles({bank});
        QTRY_COMPARE(Bank().Count(), 2);
        if (state.endsWith(QLatin1String("layer removed")))
            window.findChild<QPushButton *>(QStringLiteral("Del_Br_Button_2"))->click();
    }

    const int askedBefore = prompts.asked.size();
    QCOMPARE(window.close(), !asked);
    QCOMPARE(prompts.asked.size() - askedBefore, asked ? 1 : 0);
    if (asked)
        QCOMPARE(prompts.asked.last().text, QStringLiteral("Generate the bank before closing?"));
}

ZK_TEST(TestClosePrompt)
#include "tst_closeprompt.moc"
