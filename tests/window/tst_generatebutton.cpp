#include <QtTest>

#include <QAbstractItemView>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QSlider>

#include "fileprocessor.h"
#include "testmain.h"
#include "widgetsupport.h"
#include "windowfixture.h"
#include "zkslayout.h"
#include "zkwindow.h"

// The Generate command from the window: the save dialog, the bank that
// lands on disk, and what the user is told when it can't be written.
class TestGenerateButton : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void bankFromTheWindow();
    void enshortTargetName_data();
    void enshortTargetName();
    void cancelledSaveWritesNothing();
    void failedBankIsReported_data();
    void failedBankIsReported();
    void saveDialogCompletesTheName_data();
    void saveDialogCompletesTheName();
    void bankNameWithControlCharacter();
    void savedBankSummary_data();
    void savedBankSummary();
    void statusLineFollowsTheLayers();

private:
    void AddLayer(ZKWindow &window, int layer, const QString &file);
    // Clicks Generate, answers the save dialog with `target` (empty: cancel)
    // and records the message box, if any.
    SeenMessageBox Generate(ZKWindow &window, const QString &target);

    WindowFixture home;
};

void TestGenerateButton::initTestCase()
{
    QVERIFY(home.setUp());
}

void TestGenerateButton::init()
{
    home.startTest();
}

void TestGenerateButton::cleanup()
{
    home.endTest();
}

void TestGenerateButton::AddLayer(ZKWindow &window, int layer, const QString &file)
{
    AddLayerThroughDialog(&window, layer, file);
    QCOMPARE(Bank().Count(), layer);
}

SeenMessageBox TestGenerateButton::Generate(ZKWindow &window, const QString &target)
{
    SeenMessageBox seen;
    AnswerFileDialog(target);
    QPointer<QTimer> boxWatch = CloseNextMessageBox(&seen, 20000);
    window.findChild<QPushButton *>(QStringLiteral("GenerateButton"))->click();
    delete boxWatch;
    return seen;
}

void TestGenerateButton::bankFromTheWindow()
{
    // soft.wav: mono, starts with 100 near-silent samples. hard.wav: stereo,
    // its left channel starts quiet for 50 frames, its right is loud
    // throughout and must not reach the bank.
    QVector<qint16> soft(50000), hard(2 * 100000);
    for (int i = 0; i < soft.size(); ++i)
        soft[i] = i < 100 ? qint16(i % 2 ? -20 : 20) : qint16((i * 13) % 8000 - 4000);
    for (int i = 0; i < hard.size() / 2; ++i) {
        hard[2 * i] = i < 50 ? qint16(-32) : qint16((i * 7) % 16000 - 8000);
        hard[2 * i + 1] = 30000;
    }
    const QString sounds = home.path() + QStringLiteral("/sounds/");
    QVERIFY(WriteBytes(sounds + QStringLiteral("soft.wav"), Wav16(1, 44100, soft)));
    QVERIFY(WriteBytes(sounds + QStringLiteral("hard.wav"), Wav16(2, 44100, hard)));
    const QString banks = home.path() + QStringLiteral("/banks");
    QDir().mkpath(banks);

    ZKWindow window;
    window.show();
    AddLayer(window, 1, sounds + QStringLiteral("soft.wav"));
    AddLayer(window, 2, sounds + QStringLiteral("hard.wav"));
    QCOMPARE(Bank().Size(1), 100352); // (100000 & ~511) + 512
    QCOMPARE(Bank().Size(2), 200192);
    window.findChild<QSlider *>(QStringLiteral("horizontalSlider"))->setValue(1); // -60dB: 33

    const SeenMessageBox box = Generate(window, banks + QStringLiteral("/kit.zks"));
    QVERIFY2(!box.seen, qPrintable(box.text)); // success needs no box: the status line says it
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("StatusLine"))->text(),
             QStringLiteral("Saved kit.zks: 2 layers, 0.3\u00A0MB"));

    QFile file(banks + QStringLiteral("/kit.zks"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bank = file.readAll();
    QCOMPARE(bank.size(), 512 + 100352 + 200192);
    QCOMPARE(bank.left(32), QByteArray("Quadrel(tm) inc, California, USA"));
    QCOMPARE(bank.mid(36, 9), QByteArray::fromHex("0401010A1234567891"));
    QCOMPARE(bank.mid(45, 3), QByteArray::fromHex("785A46"));
    QCOMPARE(bank.mid(48, 8), QByteArray::fromHex("C400870187018701"));
    QCOMPARE(bank.mid(56, 16), QByteArray::fromHex("00020000008A0100008A0100008A0100"));
    QCOMPARE(bank.mid(72, 8), QByteArray::fromHex("4001010101010101"));
    QCOMPARE(bank.mid(80, 16), QByteArray::fromHex("88010E03000000000000000000000000"));
    QCOMPARE(bank.mid(96, 8), QByteArray(8, '\0'));
    const QByteArray names("\nkit.zks\nsoft.wav\nhard.wav\n\n\n\n\n\n\n");
    QCOMPARE(bank.mid(104, names.size()), names);
    QCOMPARE(bank.mid(104 + names.size(), 512 - 104 - names.size()),
             QByteArray(512 - 104 - names.size(), '~'));

    // Region 1: soft.wav without its first 100 samples, then zeros.
    const QByteArray softAudio = Pcm(soft.mid(100));
    QCOMPARE(bank.mid(512, softAudio.size()), softAudio);
    QCOMPARE(bank.mid(512 + softAudio.size(), 100352 - softAudio.size()),
             QByteArray(100352 - softAudio.size(), '\0'));
    // Region 2: hard.wav's left channel from frame 50, then zeros.
    QVector<qint16> left;
    for (int i = 50; i < hard.size() / 2; ++i)
        left << hard[2 * i];
    const QByteArray hardAudio = Pcm(left);
    QCOMPARE(bank.mid(100864, hardAudio.size()), hardAudio);
    QCOMPARE(bank.mid(100864 + hardAudio.size(), 200192 - hardAudio.size()),
             QByteArray(200192 - hardAudio.size(), '\0'));
    QCOMPARE(qint16(ReadLE(bank, 100864, 2)), qint16(-8000 + 50 * 7));

    QCOMPARE(QSettings().value(QStringLiteral("LastSaveFolder")).toString(), QDir(banks).canonicalPath());
    QString startedIn;
    RecordNextDialogFolder(&startedIn);
    window.findChild<QPushButton *>(QStringLiteral("GenerateButton"))->click();
    QCOMPARE(startedIn, QDir(banks).canonicalPath());
}

void TestGenerateButton::enshortTargetName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::newRow("folders") << "/home/drummer/kits/rock.zks" << "rock.zks";
    QTest::newRow("no folder") << "rock.zks" << "rock.zks";
    QTest::newRow("ends in a slash") << "/home/drummer/kits/" << "";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("backslashes are part of the name") << "C:\\kits\\rock.zks" << "C:\\kits\\rock.zks";
    QTest::newRow("long name kept whole") << "/k/" + QString(200, QLatin1Char('x')) + ".zks"
                                          << QString(200, QLatin1Char('x')) + ".zks";
}

void TestGenerateButton::enshortTargetName()
{
    QFETCH(QString, path);
    QFETCH(QString, name);
    QCOMPARE(ZKWindow::EnshortTargetName(path), name);
}

void TestGenerateButton::cancelledSaveWritesNothing()
{
    QVector<qint16> samples(4000, 1000);
    const QString sound = home.path() + QStringLiteral("/sounds/tom.wav");
    QVERIFY(WriteBytes(sound, Wav16(1, 44100, samples)));
    QDir(home.workingFolder()).mkdir(QStringLiteral("zks"));

    ZKWindow window;
    window.show();
    AddLayer(window, 1, sound);
    const SeenMessageBox box = Generate(window, QString());
    QVERIFY(!box.seen);
    QCOMPARE(QDir(home.workingFolder() + QStringLiteral("/zks"))
                 .entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList());
    QVERIFY(!QSettings().contains(QStringLiteral("LastSaveFolder")));
}

void TestGenerateButton::failedBankIsReported_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    // The informative text: the bank's path, then why. "@layer" stands for
    // the path of layer 1's converted file.
    QTest::addColumn<QString>("reason");
    QTest::newRow("folder that does not exist") << "missing folder" << "File Error"
                                                << "No such file or directory";
    QTest::newRow("layer file gone") << "vanished layer" << "File Error"
                                     << "the layer file @layer could not be read";
    QTest::newRow("over the budget with the header")
        << "over budget" << "Not enough space!"
        << "the bank with its header takes 3146240 bytes; the device holds 3145728";
}

void TestGenerateButton::failedBankIsReported()
{
    QFETCH(QString, kind);
    QFETCH(QString, text);
    QFETCH(QString, reason);
    const QString sounds = home.path() + QStringLiteral("/sounds/");
    const QString banks = home.path() + QStringLiteral("/banks ") + QString::fromLatin1(QTest::currentDataTag());
    QDir().mkpath(banks);
    const QString existing = banks + QStringLiteral("/old.zks");
    QVERIFY(WriteBytes(existing, "the drummer's previous bank"));
    {
        QSettings(QStringLiteral("Quadrel"), QStringLiteral("QuadrelX8FileGenV21"))
            .setValue(QStringLiteral("LastSaveFolder"), banks);
    }

    ZKWindow window;
    window.show();
    if (kind == QLatin1String("over budget")) {
        // 3,072,000 + 73,728 bytes: the window's budget exactly, which
        // leaves no room for the header.
        QVERIFY(WriteBytes(sounds + QStringLiteral("big.wav"), Wav16(1, 44100, QVector<qint16>(3071488 / 2, 500))));
        QVERIFY(WriteBytes(sounds + QStringLiteral("rest.wav"), Wav16(1, 44100, QVector<qint16>(73216 / 2, 500))));
        AddLayer(window, 1, sounds + QStringLiteral("big.wav"));
        AddLayer(window, 2, sounds + QStringLiteral("rest.wav"));
        QCOMPARE(Bank().UsedSpace(), 3145728);
    } else {
        QVERIFY(WriteBytes(sounds + QStringLiteral("ride.wav"), Wav16(1, 44100, QVector<qint16>(3000, 700))));
        AddLayer(window, 1, sounds + QStringLiteral("ride.wav"));
        if (kind == QLatin1String("vanished layer"))
            QVERIFY(QFile::remove(Bank().Path(1)));
    }

    const QString target = kind == QLatin1String("missing folder")
        ? home.path() + QStringLiteral("/no such folder/new.zks")
        : existing;
    reason.replace(QStringLiteral("@layer"), Bank().Path(1));
    const SeenMessageBox box = Generate(window, target);
    QVERIFY(box.seen);
    QCOMPARE(box.title, QStringLiteral("ERROR"));
    QCOMPARE(box.text, text);
    QCOMPARE(box.informative, QStringLiteral("The bank was not saved. ") + target + QStringLiteral(": ") + reason);
    QCOMPARE(box.informativeFormat, int(Qt::PlainText));
    QCOMPARE(box.icon, int(QMessageBox::Critical));
    QVERIFY(!box.waitCursor);

    QFile old(existing);
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("the drummer's previous bank"));
    QVERIFY(!QFileInfo::exists(target) || target == existing);
    QCOMPARE(QDir(banks).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{"old.zks"});
    QCOMPARE(QSettings().value(QStringLiteral("LastSaveFolder")).toString(), banks);
}

void TestGenerateButton::saveDialogCompletesTheName_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("existing");  // an old "mykit.zks" is there
    QTest::addColumn<QString>("answer"); // to the question about replacing it
    QTest::addColumn<bool>("written");   // a new bank is at mykit.zks
    QTest::newRow("no suffix: .zks added") << "mykit" << false << "" << true;
    QTest::newRow("suffix typed: kept") << "mykit.zks" << false << "" << true;
    QTest::newRow("completed name exists: No keeps the old bank") << "mykit" << true << "no" << false;
    QTest::newRow("completed name exists: Yes replaces it") << "mykit" << true << "yes" << true;
}

// The dialog is driven through accept(), as a user pressing Save, so its
// own completion of the name and its question are what is tested.
void TestGenerateButton::saveDialogCompletesTheName()
{
    QFETCH(QString, typed);
    QFETCH(bool, existing);
    QFETCH(QString, answer);
    QFETCH(bool, written);
    const QString banks = home.path() + QStringLiteral("/banks ") + QString::fromLatin1(QTest::currentDataTag());
    QDir().mkpath(banks);
    const QString bank = banks + QStringLiteral("/mykit.zks");
    if (existing)
        QVERIFY(WriteBytes(bank, "the drummer's previous bank"));
    QVERIFY(WriteBytes(home.path() + QStringLiteral("/sounds/snare.wav"),
                       Wav16(1, 44100, QVector<qint16>(3000, 900))));

    ZKWindow window;
    window.show();
    AddLayer(window, 1, home.path() + QStringLiteral("/sounds/snare.wav"));
    QString question;
    OnNextModalOf("QFileDialog", [&](QWidget *modal) {
        auto *dialog = static_cast<QFileDialog *>(modal);
        dialog->setDirectory(banks);
        for (QAbstractItemView *view : dialog->findChildren<QAbstractItemView *>())
            view->selectionModel()->clear();
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(typed);
        if (!answer.isEmpty()) {
            OnNextModalOf("QMessageBox", [&](QWidget *box) {
                auto *m = static_cast<QMessageBox *>(box);
                question = m->text();
                m->button(answer == QLatin1String("yes") ? QMessageBox::Yes : QMessageBox::No)->click();
            });
        }
        static_cast<QDialog *>(dialog)->accept(); // the dialog's own checks run
        if (dialog->isVisible()) // No: the dialog stays; the user cancels
            dialog->reject();
    });
    window.findChild<QPushButton *>(QStringLiteral("GenerateButton"))->click();

    QCOMPARE(question.contains(QLatin1String("already exists")), existing);
    QVERIFY(!QFileInfo::exists(banks + QStringLiteral("/mykit")));
    QFile file(bank);
    QCOMPARE(file.open(QIODevice::ReadOnly), written || existing);
    const QByteArray bytes = file.readAll();
    QCOMPARE(bytes.startsWith(kBankMakerLine), written);
    if (!written)
        QCOMPARE(bytes, QByteArray(existing ? "the drummer's previous bank" : ""));
}

void TestGenerateButton::bankNameWithControlCharacter()
{
    QVERIFY(WriteBytes(home.path() + QStringLiteral("/sounds/hat.wav"),
                       Wav16(1, 44100, QVector<qint16>(3000, 900))));
    const QString banks = home.path() + QStringLiteral("/line feed banks");
    QDir().mkpath(banks);
    ZKWindow window;
    window.show();
    AddLayer(window, 1, home.path() + QStringLiteral("/sounds/hat.wav"));

    const SeenMessageBox box = Generate(window, banks + QStringLiteral("/k\nz.zks"));
    QVERIFY(box.seen);
    QCOMPARE(box.title, QStringLiteral("ERROR"));
    QCOMPARE(box.text, QStringLiteral("File Error"));
    QCOMPARE(box.informative,
             QStringLiteral("the name holds a control character, which the device would misread"));
    QCOMPARE(QDir(banks).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
             QStringList());
    QVERIFY(!QSettings().contains(QStringLiteral("LastSaveFolder")));
}

void TestGenerateButton::savedBankSummary_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("layers");
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("line");
    QTest::newRow("five layers") << "kit.zks" << 5 << qint64(1300000) << "Saved kit.zks: 5 layers, 1.3\u00A0MB";
    QTest::newRow("one layer") << "hat.zks" << 1 << qint64(6656) << "Saved hat.zks: 1 layer, 0.0\u00A0MB";
    QTest::newRow("half a tenth rounds up") << "a.zks" << 2 << qint64(1250000) << "Saved a.zks: 2 layers, 1.3\u00A0MB";
    QTest::newRow("just below half") << "a.zks" << 2 << qint64(1249999) << "Saved a.zks: 2 layers, 1.2\u00A0MB";
    QTest::newRow("the whole budget") << "full.zks" << 8 << qint64(3145728) << "Saved full.zks: 8 layers, 3.1\u00A0MB";
    QTest::newRow("a name with %1 in it") << "mix %1 %2.zks" << 3 << qint64(2000000)
                                          << "Saved mix %1 %2.zks: 3 layers, 2.0\u00A0MB";
}

void TestGenerateButton::savedBankSummary()
{
    QFETCH(QString, name);
    QFETCH(int, layers);
    QFETCH(qint64, bytes);
    QFETCH(QString, line);
    QCOMPARE(SavedBankSummary(name, layers, bytes), line);
}

// The line tells of the bank just written; once anything the bank would
// hold changes (a layer added or removed, a threshold, the gate, trimming)
// it says the changes are not saved yet, and it goes when a later bank could
// not be written. A cancelled save leaves it.
void TestGenerateButton::statusLineFollowsTheLayers()
{
    const QString sounds = home.path() + QStringLiteral("/sounds/");
    for (const char *name : {"kick.wav", "snare.wav"})
        QVERIFY(WriteBytes(sounds + QLatin1String(name), Wav16(1, 44100, QVector<qint16>(60000, 900))));
    const QString banks = home.path() + QStringLiteral("/status banks");
    QDir().mkpath(banks);
    ZKWindow window;
    window.show();
    auto *status = window.findChild<QLabel *>(QStringLiteral("StatusLine"));
    const auto saved = [&](const QString &name, int layers) {
        QFileInfo bank(banks + QLatin1Char('/') + name);
        return SavedBankSummary(name, layers, bank.size());
    };

    AddLayer(window, 1, sounds + QStringLiteral("kick.wav"));
    QCOMPARE(status->text(), QString());
    QVERIFY(!Generate(window, banks + QStringLiteral("/one.zks")).seen);
    QCOMPARE(status->text(), saved(QStringLiteral("one.zks"), 1));
    QCOMPARE(status->text(), QStringLiteral("Saved one.zks: 1 layer, 0.1\u00A0MB"));
    SettleLayout();
    const QStringList cut = TextsNotShownWhole(&window);
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1Char('\n'))));

    AddLayer(window, 2, sounds + QStringLiteral("snare.wav"));
    QCOMPARE(status->text(), QStringLiteral("Changes since one.zks was saved are not saved yet"));
    QVERIFY(!Generate(window, banks + QStringLiteral("/two.zks")).seen);
    QCOMPARE(status->text(), saved(QStringLiteral("two.zks"), 2));

    QVERIFY(!Generate(window, QString()).seen); // cancelled
    QCOMPARE(status->text(), saved(QStringLiteral("two.zks"), 2));

    window.findChild<QSlider *>(QStringLiteral("horizontalSlider"))->setValue(2);
    QCOMPARE(status->text(), UnsavedChangesSummary(QStringLiteral("two.zks")));
    QVERIFY(!Generate(window, banks + QStringLiteral("/gate.zks")).seen);
    QCOMPARE(status->text(), saved(QStringLiteral("gate.zks"), 2));
    window.findChild<QPushButton *>(QStringLiteral("ThrOfLayer_1"))->click();
    auto *threshold = window.findChild<QSlider *>(QStringLiteral("ThresholdSlider"));
    threshold->triggerAction(QAbstractSlider::SliderSingleStepSub);
    QCOMPARE(status->text(), UnsavedChangesSummary(QStringLiteral("gate.zks")));
    QVERIFY(!Generate(window, banks + QStringLiteral("/threshold.zks")).seen);
    window.findChild<QCheckBox *>(QStringLiteral("TrimTailsBox"))->click();
    QCOMPARE(status->text(), UnsavedChangesSummary(QStringLiteral("threshold.zks")));
    QVERIFY(!Generate(window, banks + QStringLiteral("/trim.zks")).seen);

    window.findChild<QPushButton *>(QStringLiteral("Del_Br_Button_2"))->click();
    QCOMPARE(Bank().Count(), 1);
    QCOMPARE(status->text(), UnsavedChangesSummary(QStringLiteral("trim.zks")));

    QVERIFY(!Generate(window, banks + QStringLiteral("/one again.zks")).seen);
    QCOMPARE(status->text(), saved(QStringLiteral("one again.zks"), 1));
    const SeenMessageBox failed = Generate(window, home.path() + QStringLiteral("/no such folder/x.zks"));
    QVERIFY(failed.seen);
    QCOMPARE(failed.text, QStringLiteral("File Error"));
    QCOMPARE(status->text(), QString());
}

ZK_TEST(TestGenerateButton)
#include "tst_generatebutton.moc"
