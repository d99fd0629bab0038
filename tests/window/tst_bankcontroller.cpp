#include <QtTest>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QUndoStack>

#include "bankcontroller.h"
#include "fileprocessor.h"
#include "intake.h"
#include "testmain.h"
#include "testsupport.h"
#include "widgetsupport.h"
#include "windowfixture.h"
#include "zkslayout.h"

// The bank's flows driven without a window: the queue of sounds, Generate
// and opening a bank ask through the prompts and change the bank through
// the controller's table alone.
class TestBankController : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void queueAddsInOrderAndNamesTheRefused();
    void generate_data();
    void generate();
    void openBank_data();
    void openBank();
    void importKit_data();
    void importKit();

private:
    QString MakeFile(const QString &name);
    // A controller whose conversions end later, on the event loop, as the
    // window's do.
    void UseQueuedConverter(BankController &controller);
    // Adds `names` (see MakeFile) and waits for them.
    bool Add(BankController &controller, const QStringList &names);
    QStringList Names(const BankController &controller) const;

    WindowFixture home;
};

void TestBankController::initTestCase()
{
    QVERIFY(home.setUp());
}

void TestBankController::init()
{
    home.startTest();
}

void TestBankController::cleanup()
{
    // Each test's controllers are gone by now; the working folder they
    // shared goes as the window's goes when it closes.
    RemoveWorkFolder();
    home.endTest();
}

// A name ending in ".wav" is a short sound, any other a text file.
QString TestBankController::MakeFile(const QString &name)
{
    const QString path = home.path() + QStringLiteral("/sounds/") + name;
    const QByteArray bytes = name.endsWith(QLatin1String(".wav")) ? Wav16(1, kBankRate, Ramp(1000))
                                                                  : QByteArray("not a sound\n");
    if (!WriteBytes(path, bytes))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestBankController::UseQueuedConverter(BankController &controller)
{
    controller.SetConverter([&controller](const QString &file, BankController::ConversionDone done) {
        QMetaObject::invokeMethod(
            &controller,
            [file, done]() {
                ConvertOptions options;
                options.workFolder = WorkFolder();
                done(TakeInSound(file, options));
            },
            Qt::QueuedConnection);
    });
}

bool TestBankController::Add(BankController &controller, const QStringList &names)
{
    QStringList files;
    for (const QString &name : names)
        files << MakeFile(name);
    controller.AddSounds(files);
    return QTest::qWaitFor([&controller]() { return !controller.IsConverting(); }, kGiveUpMs);
}

QStringList TestBankController::Names(const BankController &controller) const
{
    QStringList names;
    for (int layer = 1; layer <= controller.Bank().Count(); ++layer)
        names << controller.Bank().Name(layer);
    return names;
}

// Three sounds, the middle one no sound at all: the other two are added in
// their order as one step, and one box names the refused file.
void TestBankController::queueAddsInOrderAndNamesTheRefused()
{
    DialogPrompts unused(nullptr);
    BankController controller(unused);
    ScriptedPrompts prompts(controller);
    UseQueuedConverter(controller);
    QSignalSpy started(&controller, &BankController::conversionStarted);
    QSignalSpy ended(&controller, &BankController::conversionEnded);

    QVERIFY(Add(controller, {QStringLiteral("a.wav"), QStringLiteral("notes.txt"), QStringLiteral("b.wav")}));
    QCOMPARE(Names(controller), (QStringList{QStringLiteral("a.wav"), QStringLiteral("b.wav")}));
    QCOMPARE(started.count(), 3);
    QCOMPARE(ended.count(), 3);
    QCOMPARE(prompts.messages.size(), 1);
    const PromptMessage &box = prompts.messages.first();
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.title, QStringLiteral("ERROR"));
    QCOMPARE(box.text, QStringLiteral("Some files were not added"));
    QCOMPARE(box.detail, QStringLiteral("notes.txt: File Error (Format not recognised. Accepted: WAVE, "
                                        "AIFF, FLAC, Ogg, Opus and MP3.)"));
    QUndoStack &stack = *controller.Table().UndoStack();
    QCOMPARE(stack.count(), 1);
    QCOMPARE(stack.undoText(), QStringLiteral("Add sounds"));
}

void TestBankController::generate_data()
{
    QTest::addColumn<QString>("target"); // the save answer, in the home; empty: cancelled
    QTest::addColumn<bool>("written");
    QTest::newRow("cancelled") << QString() << false;
    QTest::newRow("written") << QStringLiteral("banks/kit.zks") << true;
    QTest::newRow("folder missing") << QStringLiteral("none/kit.zks") << false;
}

// Generate writes what BankDocument::Write writes, tells the name and size
// and marks the layers saved; cancelled or refused, it writes nothing and
// the layers stay unsaved.
void TestBankController::generate()
{
    QFETCH(QString, target);
    QFETCH(bool, written);
    DialogPrompts unused(nullptr);
    BankController controller(unused);
    ScriptedPrompts prompts(controller);
    QVERIFY(Add(controller, {QStringLiteral("kick.wav"), QStringLiteral("snare.wav")}));
    QVERIFY(QDir(home.path()).mkpath(QStringLiteral("banks")));
    const QString path = target.isEmpty() ? QString() : home.path() + QLatin1Char('/') + target;
    prompts.saveAnswers << path;
    QSignalSpy saved(&controller, &BankController::bankSaved);

    controller.Generate();
    QCOMPARE(prompts.saveQuestions.size(), 1);
    QCOMPARE(prompts.saveQuestions.first().filters, QStringLiteral("QuadrelSound (*.zks)"));
    QCOMPARE(controller.Table().ChangedSinceSaved(), !written);
    QCOMPARE(QFileInfo::exists(path), written);
    if (!written) {
        QCOMPARE(prompts.messages.size(), target.isEmpty() ? 0 : 1);
        if (!target.isEmpty())
            QCOMPARE(saved.count(), 1); // the line no longer tells of an older bank
        return;
    }
    QVERIFY(prompts.messages.isEmpty());
    // Of the same name: the bank holds it.
    QVERIFY(QDir(home.path()).mkpath(QStringLiteral("expected")));
    const QString expected = home.path() + QStringLiteral("/expected/kit.zks");
    QVERIFY(controller.Bank().Write(expected).IsEmpty());
    QCOMPARE(WithoutTag(ReadAll(path)), WithoutTag(ReadAll(expected)));
    QCOMPARE(saved.count(), 2);
    QCOMPARE(saved.last().at(0).toString(), QStringLiteral("kit.zks"));
    QCOMPARE(saved.last().at(1).toInt(), 2);
    QCOMPARE(saved.last().at(2).toLongLong(), QFileInfo(path).size());
}

void TestBankController::openBank_data()
{
    QTest::addColumn<bool>("aBank"); // else a text file named .zks
    QTest::addColumn<PromptAnswer>("answer"); // to replacing the layers
    QTest::addColumn<bool>("opened");
    QTest::newRow("not a bank") << false << PromptAnswer::Yes << false;
    QTest::newRow("a bank, No") << true << PromptAnswer::No << false;
    QTest::newRow("a bank, Yes") << true << PromptAnswer::Yes << true;
}

// A bank refused, or not wanted, changes neither the layers nor the steps;
// one opened takes the rows' place as saved layers.
void TestBankController::openBank()
{
    QFETCH(bool, aBank);
    QFETCH(PromptAnswer, answer);
    QFETCH(bool, opened);
    DialogPrompts unused(nullptr);
    BankController controller(unused);
    ScriptedPrompts prompts(controller);
    QVERIFY(Add(controller, {QStringLiteral("a.wav")}));
    const QString bank = home.path() + QStringLiteral("/two.zks");
    if (aBank) {
        BankController other(prompts);
        QVERIFY(Add(other, {QStringLiteral("b.wav"), QStringLiteral("c.wav")}));
        QVERIFY(other.Bank().Write(bank).IsEmpty());
    } else {
        QVERIFY(WriteBytes(bank, QByteArray("not a bank\n")));
    }
    prompts.answers << answer;
    const QUndoStack &stack = *controller.Table().UndoStack();
    const int steps = stack.count();

    controller.OpenBank(bank);
    QCOMPARE(prompts.asked.size(), aBank ? 1 : 0);
    QCOMPARE(prompts.messages.size(), aBank ? 0 : 1);
    if (!aBank)
        QCOMPARE(prompts.messages.first().text, QStringLiteral("File Error"));
    if (!opened) {
        QCOMPARE(Names(controller), QStringList{QStringLiteral("a.wav")});
        QCOMPARE(stack.count(), steps);
        QVERIFY(controller.Table().ChangedSinceSaved());
        return;
    }
    QCOMPARE(Names(controller), (QStringList{QStringLiteral("b.wav"), QStringLiteral("c.wav")}));
    QCOMPARE(stack.count(), steps + 1);
    QVERIFY(!controller.Table().ChangedSinceSaved());
}

void TestBankController::importKit_data()
{
    QTest::addColumn<int>("cancelAt"); // the kit work cancelled, from 0; -1: none
    QTest::newRow("imported") << -1;
    QTest::newRow("reading cancelled") << 0;
    QTest::newRow("importing cancelled") << 1;
}

// The kit is read and the chosen instrument prepared through the kit worker
// the window hands in; a cancel at either step changes nothing.
void TestBankController::importKit()
{
    QFETCH(int, cancelAt);
    const QString folder = home.path() + QStringLiteral("/sfz");
    QVERIFY(WriteBytes(folder + QStringLiteral("/loud.wav"), Wav16(1, kBankRate, Ramp(4000))));
    QVERIFY(WriteBytes(folder + QStringLiteral("/soft.wav"), Wav16(1, kBankRate, Ramp(3000))));
    const QString kitPath = folder + QStringLiteral("/drums.sfz");
    QVERIFY(WriteBytes(kitPath, "<control> label_key36=Kick\n"
                                "<group> key=36\n<region> sample=soft.wav hivel=63\n"
                                "<region> sample=loud.wav lovel=64\n"));
    DialogPrompts unused(nullptr);
    BankController controller(unused);
    ScriptedPrompts prompts(controller);
    QStringList labels;
    controller.SetKitWorker([&labels, cancelAt](const QString &label, const BankController::KitWorkBody &work) {
        labels << label;
        if (labels.size() - 1 == cancelAt)
            return false;
        const std::atomic<bool> notCancelled{false};
        work(&notCancelled);
        return true;
    });
    prompts.instrumentAnswers << 0;
    QSignalSpy imported(&controller, &BankController::imported);

    controller.ImportKit(kitPath);
    QCOMPARE(labels.first(), QStringLiteral("Reading drums.sfz\u2026"));
    QCOMPARE(prompts.instrumentLists.size(), cancelAt == 0 ? 0 : 1);
    QVERIFY(prompts.messages.isEmpty());
    if (cancelAt >= 0) {
        QCOMPARE(labels.size(), cancelAt + 1);
        QCOMPARE(controller.Bank().Count(), 0);
        QCOMPARE(imported.count(), 0);
        return;
    }
    QCOMPARE(labels, (QStringList{QStringLiteral("Reading drums.sfz\u2026"), QStringLiteral("Importing Kick\u2026")}));
    QCOMPARE(Names(controller), (QStringList{QStringLiteral("loud.wav"), QStringLiteral("soft.wav")}));
    QCOMPARE(imported.count(), 1);
    QCOMPARE(imported.first().at(0).toString(), QStringLiteral("Imported drums \u2013 Kick: 2 layers"));
    // Generate then suggests the instrument's bank name.
    controller.Generate();
    QCOMPARE(prompts.suggestedNames, QStringList{QStringLiteral("drums - Kick.zks")});
}

ZK_TEST(TestBankController)
#include "tst_bankcontroller.moc"
