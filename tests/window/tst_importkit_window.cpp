#include <QtTest>

#include <QDialog>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTextDocumentFragment>
#include <QTreeWidget>

#include "drumkit.h"
#include "fileprocessor.h"
#include "kitdialog.h"
#include "kitimport.h"
#include "resultcodes.h"
#include "tailoption.h"
#include "testmain.h"
#include "widgetsupport.h"
#include "zkwindow.h"

namespace {

// A kit of two instruments: a kick of a loud and a soft layer, a snare of
// one sample; `snareSample` names the snare's file.
QByteArray KitXml(const QByteArray &snareSample = "snare.wav")
{
    return "<?xml version=\"1.0\"?>\n<drumkit_info>\n<name>Test Kit</name>\n<instrumentList>\n"
           "<instrument><id>0</id><name>Kick</name>"
           "<layer><filename>loud.wav</filename><min>0.5</min><max>1</max></layer>"
           "<layer><filename>soft.wav</filename><min>0</min><max>0.5</max></layer></instrument>\n"
           "<instrument><id>1</id><name>Snare</name><filename>"
        + snareSample + "</filename></instrument>\n</instrumentList>\n</drumkit_info>\n";
}

} // namespace

// "Import Kit": a kit's instruments listed, the chosen one in the rows with
// the plan zkstool import-kit makes, asked first when there are layers, and
// a kit that gives no layers refused with nothing changed.
class TestImportKitWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void importFillsTheRows_data();
    void importFillsTheRows();
    void sfzKeyFillsTheRows();
    void soundFontKeyFillsTheRows();
    void askedBeforeReplacingLayers_data();
    void askedBeforeReplacingLayers();
    void refusedKitChangesNothing_data();
    void refusedKitChangesNothing();
    void cancelledImportLeavesNothing();
    void stuckWorkerIsAbandoned();
    void droppedOrGivenKitOpensTheDialog_data();
    void droppedOrGivenKitOpensTheDialog();

private:
    // Writes the kit's drumkit.xml and its samples in a folder of its own.
    QString MakeKit(const QString &name, const QByteArray &xml = KitXml());
    void Import(ZKWindow &window, const QString &kitPath, int index, SeenKitDialog *seen);
    // One layer in the window, to be replaced or kept.
    void AddKickLayer(ZKWindow &window);

    TestHome home;
};

void TestImportKitWindow::initTestCase()
{
    QVERIFY(home.setUp());
}

void TestImportKitWindow::init()
{
    home.startTest();
}

void TestImportKitWindow::cleanup()
{
    home.endTest();
}

QString TestImportKitWindow::MakeKit(const QString &name, const QByteArray &xml)
{
    const QString folder = home.path() + QLatin1Char('/') + name;
    if (!WriteBytes(folder + QStringLiteral("/loud.wav"), Wav16(1, kBankRate, Ramp(4000)))
        || !WriteBytes(folder + QStringLiteral("/soft.wav"), Wav16(1, kBankRate, Ramp(3000)))
        || !WriteBytes(folder + QStringLiteral("/snare.wav"), Wav16(1, kBankRate, Ramp(2205)))
        || !WriteBytes(folder + QStringLiteral("/drumkit.xml"), xml))
        qFatal("cannot write the kit in %s", qPrintable(folder));
    return folder + QStringLiteral("/drumkit.xml");
}

void TestImportKitWindow::Import(ZKWindow &window, const QString &kitPath, int index,
                                 SeenKitDialog *seen)
{
    AnswerFileDialog(kitPath);
    QPointer<QTimer> watch = ChooseInstrument(index, seen);
    window.findChild<QPushButton *>(QStringLiteral("ImportKitButton"))->click();
    delete watch;
}

void TestImportKitWindow::AddKickLayer(ZKWindow &window)
{
    const QString sound = home.path() + QStringLiteral("/sounds/kick.wav");
    QVERIFY(WriteBytes(sound, Wav16(1, kBankRate, Ramp(5000))));
    AddLayerThroughDialog(&window, 1, sound);
    QCOMPARE(SlotCount, 1);
}

void TestImportKitWindow::importFillsTheRows_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QVector<int>>("thresholds");
    QTest::newRow("two layers") << 0 << QStringList{"loud.wav", "soft.wav"} << QVector<int>{64, 1};
    QTest::newRow("one sample") << 1 << QStringList{"snare.wav"} << QVector<int>{1};
}

void TestImportKitWindow::importFillsTheRows()
{
    QFETCH(int, index);
    QFETCH(QStringList, names);
    QFETCH(QVector<int>, thresholds);
    const QString kitPath = MakeKit(QStringLiteral("kit"));

    ZKWindow window;
    window.show();
    auto *button = window.findChild<QPushButton *>(QStringLiteral("ImportKitButton"));
    QVERIFY(button);
    QVERIFY(!button->toolTip().isEmpty());
    SeenKitDialog seen;
    Import(window, kitPath, index, &seen);

    QVERIFY(seen.seen);
    QCOMPARE(seen.rows, (QStringList{"Kick|2|0.09", "Snare|1|0.05"}));
    QCOMPARE(SlotCount, names.size());
    for (int i = 0; i < SlotCount; ++i) {
        QCOMPARE(SlotName[i], names.at(i));
        QVERIFY(QFileInfo(SlotPath[i]).isFile());
        QCOMPARE(SlotThreshold[i + 1], thresholds.at(i));
    }
    // The same plan zkstool import-kit makes, from the same engine function.
    QTemporaryDir work;
    KitForImport kit;
    QString error;
    QVERIFY2(ReadKitForImport(kitPath, work.path(), &kit, &error), qPrintable(error));
    const PreparedInstrument prepared
        = PrepareKitInstrument(kit, index, work.path(), KitImportOptions(), nullptr);
    QCOMPARE(prepared.thresholds, thresholds);
    for (int i = 0; i < SlotCount; ++i) {
        QCOMPARE(prepared.layers.at(i).name, SlotName[i]);
        QCOMPARE(SlotSourceSize[i], prepared.layers.at(i).size);
    }
    // Nothing of the import is left in the working folder but the layers.
    for (const QString &entry : FolderTree(WorkFolder()))
        QVERIFY2(!entry.startsWith(QLatin1String("kit-")), qPrintable(entry));
    // The imported layers are in no bank yet: closing asks before they go.
    SeenMessageBox question;
    QPointer<QTimer> watch = AnswerNextMessageBox(&question, QMessageBox::Cancel);
    QVERIFY(!window.close());
    delete watch;
    QCOMPARE(question.text, QStringLiteral("Generate the bank before closing?"));
}

// An SFZ kit lists its keys (the label where it gives one, else the note)
// and the chosen key fills the rows with its velocity bands.
void TestImportKitWindow::sfzKeyFillsTheRows()
{
    MakeKit(QStringLiteral("sfz"));
    const QString kitPath = home.path() + QStringLiteral("/sfz/drums.sfz");
    QVERIFY(WriteBytes(kitPath, "<control> label_key36=Kick\n"
                                "<group> key=36\n<region> sample=soft.wav hivel=63\n"
                                "<region> sample=loud.wav lovel=64\n"
                                "<region> sample=snare.wav key=d2\n"));
    ZKWindow window;
    window.show();
    SeenKitDialog seen;
    Import(window, kitPath, 0, &seen);
    QVERIFY(seen.seen);
    QCOMPARE(seen.rows, (QStringList{"Kick|2|0.09", "d2 (38)|1|0.05"}));
    QCOMPARE(SlotCount, 2);
    QCOMPARE(SlotName[0], QStringLiteral("loud.wav"));
    QCOMPARE(SlotName[1], QStringLiteral("soft.wav"));
    QCOMPARE(SlotThreshold[1], 64);
    QCOMPARE(SlotThreshold[2], 1);
}

// A SoundFont's chosen presets listed with their keys below them; the key
// chosen fills the rows with its velocity layers.
void TestImportKitWindow::soundFontKeyFillsTheRows()
{
    const QString kitPath = home.path() + QStringLiteral("/fonts/Kit.SF2");
    QVERIFY(WriteBytes(kitPath, Sf2File(TwoPresetFont())));
    ZKWindow window;
    window.show();
    SeenKitDialog seen;
    Import(window, kitPath, 0, &seen);
    QVERIFY(seen.seen);
    QCOMPARE(seen.rows, (QStringList{"Drums (128:0)||", "  Drums - 36 Bass Drum 1|2|0.50",
                                     "  Drums - 38 Acoustic Snare|1|0.75"}));
    QCOMPARE(SlotCount, 2);
    QCOMPARE(SlotName[0], QStringLiteral("hard.wav"));
    QCOMPARE(SlotName[1], QStringLiteral("soft.wav"));
    QCOMPARE(SlotThreshold[1], 64);
    QCOMPARE(SlotThreshold[2], 1);
}

void TestImportKitWindow::askedBeforeReplacingLayers_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("yes") << true;
    QTest::newRow("no") << false;
}

void TestImportKitWindow::askedBeforeReplacingLayers()
{
    QFETCH(bool, yes);
    const QString kitPath = MakeKit(QStringLiteral("kit"));
    ZKWindow window;
    window.show();
    AddKickLayer(window);
    const QString kept = SlotPath[0];
    const QStringList workBefore = FolderTree(WorkFolder());

    SeenMessageBox question;
    QPointer<QTimer> answer = AnswerNextMessageBox(&question, yes ? QMessageBox::Yes : QMessageBox::No);
    SeenKitDialog seen;
    Import(window, kitPath, 0, &seen);
    delete answer;

    QVERIFY(question.seen);
    QCOMPARE(question.title, QStringLiteral("QUESTION"));
    QVERIFY2(question.text.contains(QStringLiteral("Kick")), qPrintable(question.text));
    if (yes) {
        QCOMPARE(SlotCount, 2);
        QCOMPARE(SlotName[0], QStringLiteral("loud.wav"));
        QVERIFY(QFileInfo::exists(kept)); // for undo
    } else {
        QCOMPARE(SlotCount, 1);
        QCOMPARE(SlotName[0], QStringLiteral("kick.wav"));
        QCOMPARE(SlotPath[0], kept);
        QCOMPARE(FolderTree(WorkFolder()), workBefore);
    }
}

void TestImportKitWindow::refusedKitChangesNothing_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("index"); // the instrument chosen; -1: no dialog
    QTest::addColumn<QString>("sentence");
    QTest::newRow("not xml") << "drumkit.xml" << QByteArray("just some text\n") << -1
                             << "drumkit.xml is not a drum kit that can be read.";
    QTest::newRow("not an archive") << "kit.h2drumkit" << QByteArray(3000, 'x') << -1
                                    << "kit.h2drumkit is not a drum kit that can be read.";
    QTest::newRow("missing sample") << "drumkit.xml" << KitXml("gone.wav") << 1
                                    << "Snare gives no layers: no usable sample.";
}

void TestImportKitWindow::refusedKitChangesNothing()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(int, index);
    QFETCH(QString, sentence);
    MakeKit(QStringLiteral("kit"), KitXml());
    const QString kitPath = home.path() + QStringLiteral("/kit/") + file;
    QVERIFY(WriteBytes(kitPath, content));
    ZKWindow window;
    window.show();
    AddKickLayer(window);
    const QString kept = SlotPath[0];
    const QStringList workBefore = FolderTree(WorkFolder());

    SeenMessageBox refusal;
    QPointer<QTimer> answer = AnswerNextMessageBox(&refusal, QMessageBox::Ok);
    SeenKitDialog seen;
    Import(window, kitPath, index, &seen);
    delete answer;

    QCOMPARE(seen.seen, index >= 0);
    QVERIFY(refusal.seen);
    QCOMPARE(refusal.title, MessageFor(RESULT_FILE_ERROR).title);
    QCOMPARE(QTextDocumentFragment::fromHtml(refusal.informative).toPlainText().replace(QChar::Nbsp, QLatin1Char(' ')), sentence);
    QCOMPARE(SlotCount, 1);
    QCOMPARE(SlotPath[0], kept);
    QCOMPARE(FolderTree(WorkFolder()), workBefore);
}

void TestImportKitWindow::cancelledImportLeavesNothing()
{
    // Minutes of sound to resample: still converting when Cancel is pressed.
    const QString kitPath = MakeKit(QStringLiteral("kit"));
    QVERIFY(WriteSilentWave(home.path() + QStringLiteral("/kit/loud.wav"), 2, 48000, 48000 * 240));
    ZKWindow window;
    window.show();
    AddKickLayer(window);
    const QString kept = SlotPath[0];
    const QStringList workBefore = FolderTree(WorkFolder());

    bool cancelled = false;
    const auto cancelWhenShown = [&window, &cancelled]() {
        auto *timer = new QTimer(&window);
        QObject::connect(timer, &QTimer::timeout, timer, [&window, &cancelled, timer]() {
            auto *progress = window.findChild<QProgressDialog *>();
            if (!progress || !progress->isVisible())
                return;
            timer->stop();
            timer->deleteLater();
            progress->findChild<QPushButton *>()->click();
            cancelled = true;
        });
        timer->start(10);
    };
    SeenMessageBox box;
    QPointer<QTimer> noBox = AnswerNextMessageBox(&box, QMessageBox::Ok);
    SeenKitDialog seen;
    AnswerFileDialog(kitPath);
    QPointer<QTimer> watch = ChooseInstrument(0, &seen, cancelWhenShown);
    window.findChild<QPushButton *>(QStringLiteral("ImportKitButton"))->click();
    delete watch;
    delete noBox;

    QVERIFY(seen.seen);
    QVERIFY(cancelled);
    QVERIFY2(!box.seen, qPrintable(box.informative));
    QCOMPARE(SlotCount, 1);
    QCOMPARE(SlotPath[0], kept);
    QCOMPARE(FolderTree(WorkFolder()), workBefore);
}

// A worker stuck in the system (a file that never answers) does not hold
// the window once Cancel is pressed: it is left to end on its own.
void TestImportKitWindow::stuckWorkerIsAbandoned()
{
    QWidget parent;
    parent.show();
    const auto release = std::make_shared<QSemaphore>();
    const auto ended = std::make_shared<std::atomic<bool>>(false);
    QTimer cancel;
    QObject::connect(&cancel, &QTimer::timeout, &parent, [&parent, &cancel]() {
        auto *progress = parent.findChild<QProgressDialog *>();
        if (!progress || !progress->isVisible())
            return;
        cancel.stop();
        progress->findChild<QPushButton *>()->click();
    });
    cancel.start(10);
    const bool done = RunKitWork(&parent, QStringLiteral("Reading"), [release, ended](const std::atomic<bool> *) {
        // Deaf to the cancel flag, as a call blocked in the system is.
        release->tryAcquire(1, 30000);
        *ended = true;
    });
    const bool endedFirst = *ended;
    release->release();
    QTRY_VERIFY_WITH_TIMEOUT(*ended, kGiveUpMs);
    QVERIFY(!done);
    QVERIFY2(!endedFirst, "the window waited for the stuck worker");
}

void TestImportKitWindow::droppedOrGivenKitOpensTheDialog_data()
{
    QTest::addColumn<bool>("drop");
    QTest::newRow("dropped") << true;
    QTest::newRow("command line") << false;
}

void TestImportKitWindow::droppedOrGivenKitOpensTheDialog()
{
    QFETCH(bool, drop);
    const QString kitPath = MakeKit(QStringLiteral("kit"));
    ZKWindow window;
    window.show();
    SeenKitDialog seen;
    QPointer<QTimer> watch = ChooseInstrument(1, &seen);
    if (drop) {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(kitPath)});
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent dropped(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &dropped);
        QVERIFY(dropped.isAccepted());
    } else {
        window.OpenFiles({kitPath});
    }
    QTRY_VERIFY_WITH_TIMEOUT(seen.seen && SlotCount == 1, kGiveUpMs);
    delete watch;
    QCOMPARE(SlotName[0], QStringLiteral("snare.wav"));
}

ZK_TEST(TestImportKitWindow)
#include "tst_importkit_window.moc"
