#include <QtTest>

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QSemaphore>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextDocumentFragment>
#include <QTreeWidget>
#include <QUndoStack>

#include "drumkit.h"
#include "fileprocessor.h"
#include "kitdialog.h"
#include "kitsource.h"
#include "resultcodes.h"
#include "tailoption.h"
#include "testmain.h"
#include "widgetsupport.h"
#include "windowfixture.h"
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
    void statusLineSaysWhatWasImported_data();
    void statusLineSaysWhatWasImported();
    void generateSuggestsTheBankName();
    void chooserShowsWhatEachBankGets();
    void askedBeforeReplacingLayers_data();
    void askedBeforeReplacingLayers();
    void refusedKitChangesNothing_data();
    void refusedKitChangesNothing();
    void cancelledImportLeavesNothing();
    void stuckWorkerIsAbandoned();
    void droppedOrGivenKitOpensTheDialog_data();
    void droppedOrGivenKitOpensTheDialog();
    void trimTailsSwitchesImportedLayers_data();
    void trimTailsSwitchesImportedLayers();
    void rowToolTipSaysWhatTheImportDid();

private:
    // Writes the kit's drumkit.xml and its samples in a folder of its own.
    QString MakeKit(const QString &name, const QByteArray &xml = KitXml());
    void Import(ZKWindow &window, const QString &kitPath, int index, SeenKitDialog *seen);
    // One layer in the window, to be replaced or kept.
    void AddKickLayer(ZKWindow &window);

    WindowFixture home;
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
    QCOMPARE(Bank().Count(), 1);
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
    QCOMPARE(Bank().Count(), names.size());
    for (int i = 0; i < Bank().Count(); ++i) {
        QCOMPARE(Bank().Name(i + 1), names.at(i));
        QVERIFY(QFileInfo(Bank().Path(i + 1)).isFile());
        QCOMPARE(Bank().Threshold(i + 1), thresholds.at(i));
    }
    // The same plan zkstool import-kit makes, from the same engine function;
    // each row's untrimmed file is the layer --keep-tails makes.
    QTemporaryDir work;
    QString error;
    const std::unique_ptr<KitSource> kit = OpenKitSource(kitPath, work.path(), &error);
    QVERIFY2(kit, qPrintable(error));
    KitImportOptions options;
    options.trimTails = false;
    const PreparedInstrument prepared = kit->Prepare(index, work.path(), options, nullptr);
    QCOMPARE(prepared.thresholds, thresholds);
    for (int i = 0; i < Bank().Count(); ++i) {
        QCOMPARE(prepared.layers.at(i).name, Bank().Name(i + 1));
        QCOMPARE(Bank().SourceSize(i + 1), prepared.layers.at(i).size);
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
                                "<region> sample=snare.wav key=d2 cutoff=800\n"));
    ZKWindow window;
    window.show();
    SeenKitDialog seen;
    Import(window, kitPath, 0, &seen);
    QVERIFY(seen.seen);
    // What the kit left out is told with the instrument, as import-kit tells it.
    auto *status = window.findChild<QLabel *>(QStringLiteral("StatusLine"));
    QVERIFY(status);
    QCOMPARE(status->text(), QStringLiteral("Imported drums \u2013 Kick: 2 layers; ignored: cutoff \u00d71"));
    QCOMPARE(seen.rows, (QStringList{"Kick|2|0.09", "d2 (38)|1|0.05"}));
    QCOMPARE(Bank().Count(), 2);
    QCOMPARE(Bank().Name(1), QStringLiteral("loud.wav"));
    QCOMPARE(Bank().Name(2), QStringLiteral("soft.wav"));
    QCOMPARE(Bank().Threshold(1), 64);
    QCOMPARE(Bank().Threshold(2), 1);
}

// The status line names the kit, the instrument and its layers, with the
// note the engine gave, as zkstool prints it; several notes go in a box's
// details. The line goes once the rows change.
void TestImportKitWindow::statusLineSaysWhatWasImported_data()
{
    QTest::addColumn<QByteArray>("instrument");
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("notes");
    const QByteArray head = "<instrument><id>0</id><name>Kick</name>";
    QTest::newRow("no note") << head + "<layer><filename>loud.wav</filename><min>0.5</min><max>1</max></layer>"
                                       "<layer><filename>soft.wav</filename><min>0</min><max>0.5</max></layer>"
                             << "Imported Test Kit \u2013 Kick: 2 layers" << 0;
    QTest::newRow("one note") << head + "<layer><filename>loud.wav</filename><min>0.5</min><max>1</max></layer>"
                                        "<layer><filename>loud.wav</filename><min>0.5</min><max>1</max></layer>"
                                        "<layer><filename>soft.wav</filename><min>0</min><max>0.5</max></layer>"
                              << "Imported Test Kit \u2013 Kick: 2 layers" << 1;
    QTest::newRow("long name") << QByteArray("<instrument><id>0</id><name>") + QByteArray(90, 'K') + "</name>"
                                      "<layer><filename>loud.wav</filename><min>0.5</min><max>1</max></layer>"
                                      "<layer><filename>loud.wav</filename><min>0.5</min><max>1</max></layer>"
                                      "<layer><filename>soft.wav</filename><min>0</min><max>0.5</max></layer>"
                               << "Imported Test Kit \u2013 " + QString(90, 'K') + ": 2 layers" << 1;
    QTest::newRow("notes") << head + "<layer><filename>gone.wav</filename><min>0.5</min><max>1</max></layer>"
                                     "<layer><filename>lost.wav</filename><min>0</min><max>0.5</max></layer>"
                                     "<layer><filename>soft.wav</filename><min>0</min><max>1</max></layer>"
                           << "Imported Test Kit \u2013 Kick: 1 layer" << 2;
}

void TestImportKitWindow::statusLineSaysWhatWasImported()
{
    QFETCH(QByteArray, instrument);
    QFETCH(QString, line);
    QFETCH(int, notes);
    const QString kitPath = MakeKit(QStringLiteral("kit"),
                                    "<?xml version=\"1.0\"?>\n<drumkit_info>\n<name>Test Kit</name>\n"
                                    "<instrumentList>\n" + instrument + "</instrument>\n</instrumentList>\n"
                                    "</drumkit_info>\n");
    // The engine's notes, word for word.
    QTemporaryDir work;
    QString error;
    const std::unique_ptr<KitSource> kit = OpenKitSource(kitPath, work.path(), &error);
    QVERIFY2(kit, qPrintable(error));
    const QStringList expected = kit->Prepare(0, work.path(), KitImportOptions(), nullptr).notes;
    QVERIFY2(notes == 2 ? expected.size() >= 2 : expected.size() == notes, qPrintable(expected.join('\n')));

    ZKWindow window;
    window.show();
    SeenMessageBox box;
    QPointer<QTimer> watch = CloseNextMessageBox(&box, notes > 1 ? 20000 : 2000);
    SeenKitDialog seen;
    Import(window, kitPath, 0, &seen);
    if (notes > 1)
        QTRY_VERIFY_WITH_TIMEOUT(box.seen, kGiveUpMs);
    delete watch;

    auto *status = window.findChild<QLabel *>(QStringLiteral("StatusLine"));
    QVERIFY(status);
    const QString shown = notes == 1 ? line + QStringLiteral("; ") + expected.first() : line;
    // The window grows for a long line, or, where the screen has no room, elides it.
    QTRY_VERIFY2_WITH_TIMEOUT(status->fontMetrics().horizontalAdvance(status->text())
                                  <= status->contentsRect().width(),
                              qPrintable(status->text()), kGiveUpMs);
    if (status->text() != shown)
        QCOMPARE(status->toolTip(), shown);
    else
        QVERIFY(status->toolTip().isEmpty());
    QCOMPARE(box.seen, notes > 1);
    if (notes > 1) {
        QCOMPARE(box.text, line);
        QCOMPARE(box.informative, expected.join(QLatin1Char('\n')));
    }
    // A change of the rows is no longer what was imported.
    const int count = Bank().Count();
    window.findChild<QPushButton *>(QStringLiteral("Del_Br_Button_%1").arg(count))->click();
    QCOMPARE(Bank().Count(), count - 1);
    QVERIFY2(!status->text().startsWith(QStringLiteral("Imported")), qPrintable(status->text()));
}

// The chooser greys a place with no sample and starts on the first that
// makes a bank, names an unnamed one as zkstool does, shows the layers a
// bank gets (eight of more, a round robin left out), and keeps a long name
// whole in its tool tip.
// The next Import Kit opens where this kit is.
void TestImportKitWindow::chooserShowsWhatEachBankGets()
{
    QByteArray layers;
    for (int i = 0; i < 10; ++i)
        layers += "<layer><filename>loud.wav</filename><min>" + QByteArray::number(i / 10.0)
            + "</min><max>" + QByteArray::number((i + 1) / 10.0) + "</max></layer>";
    const QByteArray longName(120, 'x');
    const QString kitPath = MakeKit(QStringLiteral("kits/kit"),
        "<?xml version=\"1.0\"?>\n<drumkit_info>\n<name>Test Kit</name>\n<instrumentList>\n"
        "<instrument><id>0</id><name>Empty</name></instrument>\n"
        "<instrument><id>1</id><name>Big</name>" + layers + "</instrument>\n"
        "<instrument><id>2</id><filename>snare.wav</filename></instrument>\n"
        "<instrument><id>3</id><name>" + longName + "</name><filename>snare.wav</filename></instrument>\n"
        "<instrument><id>4</id><name>Robin</name>"
        "<layer><filename>loud.wav</filename><min>0.5</min><max>1</max></layer>"
        "<layer><filename>soft.wav</filename><min>0.5</min><max>1</max></layer>"
        "<layer><filename>soft.wav</filename><min>0</min><max>0.5</max></layer></instrument>\n"
        "</instrumentList>\n</drumkit_info>\n");
    QTemporaryDir work;
    QString error;
    const std::unique_ptr<KitSource> kit = OpenKitSource(kitPath, work.path(), &error);
    QVERIFY2(kit, qPrintable(error));
    QCOMPARE(kit->Instruments().size(), 5);

    ZKWindow window;
    window.show();
    SeenKitDialog seen;
    Import(window, kitPath, -1, &seen);
    QVERIFY(seen.seen);
    QCOMPARE(seen.rows, (QStringList{"Empty|no sample|", "Big|10 \u2192 8|0.09",
                                     kit->Instruments().at(2) + "|1|0.05", QString(longName) + "|1|0.05",
                                     "Robin|3 \u2192 2|0.09"}));
    QCOMPARE(seen.enabled, (QVector<bool>{false, true, true, true, true}));
    QCOMPARE(seen.current, 1);
    QCOMPARE(seen.toolTips.at(3), QString(longName));
    QCOMPARE(Bank().Count(), 0);

    QString folder;
    QPointer<QTimer> watch = RecordNextDialogFolder(&folder);
    window.findChild<QPushButton *>(QStringLiteral("ImportKitButton"))->click();
    delete watch;
    QCOMPARE(folder, QDir(home.path() + QStringLiteral("/kits")).canonicalPath());
}

// Generate offers the bank zkstool import-kit would write, in the folder of
// the last bank written.
void TestImportKitWindow::generateSuggestsTheBankName()
{
    const QString kitPath = MakeKit(QStringLiteral("kit"));
    const QString banks = home.path() + QStringLiteral("/banks");
    QVERIFY(QDir().mkpath(banks));
    QSettings().setValue(QStringLiteral("LastSaveFolder"), banks);
    ZKWindow window;
    window.show();
    SeenKitDialog seen;
    Import(window, kitPath, 0, &seen);
    QCOMPARE(Bank().Count(), 2);

    QString folder;
    QString file;
    QPointer<QTimer> watch = RecordNextDialogFolder(&folder, &file);
    window.findChild<QPushButton *>(QStringLiteral("GenerateButton"))->click();
    delete watch;
    QCOMPARE(folder, QDir(banks).canonicalPath());
    QCOMPARE(file, QStringLiteral("Test Kit - Kick.zks"));
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
    QCOMPARE(Bank().Count(), 2);
    QCOMPARE(Bank().Name(1), QStringLiteral("hard.wav"));
    QCOMPARE(Bank().Name(2), QStringLiteral("soft.wav"));
    QCOMPARE(Bank().Threshold(1), 64);
    QCOMPARE(Bank().Threshold(2), 1);
}

// Asked right after the choice, before anything is prepared: a No to an
// instrument that would fail shows no error.
void TestImportKitWindow::askedBeforeReplacingLayers_data()
{
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<int>("index");
    QTest::newRow("yes") << true << KitXml() << 0;
    QTest::newRow("no") << false << KitXml() << 0;
    QTest::newRow("no to a failing one") << false << KitXml("gone.wav") << 1;
}

void TestImportKitWindow::askedBeforeReplacingLayers()
{
    QFETCH(bool, yes);
    QFETCH(QByteArray, xml);
    QFETCH(int, index);
    const QString kitPath = MakeKit(QStringLiteral("kit"), xml);
    ZKWindow window;
    window.show();
    AddKickLayer(window);
    const QString kept = Bank().Path(1);
    const QStringList workBefore = FolderTree(WorkFolder());

    SeenMessageBox question;
    QPointer<QTimer> answer = AnswerNextMessageBox(&question, yes ? QMessageBox::Yes : QMessageBox::No);
    SeenKitDialog seen;
    Import(window, kitPath, index, &seen);
    delete answer;

    QVERIFY(question.seen);
    QCOMPARE(question.title, QStringLiteral("QUESTION"));
    QCOMPARE(question.text, QStringLiteral("Replace your layer with Test Kit \u2013 %1?")
                                .arg(index == 0 ? QStringLiteral("Kick") : QStringLiteral("Snare")));
    if (yes) {
        QCOMPARE(Bank().Count(), 2);
        QCOMPARE(Bank().Name(1), QStringLiteral("loud.wav"));
        QVERIFY(QFileInfo::exists(kept)); // for undo
    } else {
        QCOMPARE(Bank().Count(), 1);
        QCOMPARE(Bank().Name(1), QStringLiteral("kick.wav"));
        QCOMPARE(Bank().Path(1), kept);
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
    // A chooser of greyed rows only is not shown.
    QTest::newRow("no instrument names a sample")
        << "drumkit.xml"
        << QByteArray("<drumkit_info><name>Test Kit</name><instrumentList><instrument><name>A</name></instrument>"
                      "<instrument><name>B</name></instrument></instrumentList></drumkit_info>\n")
        << -1 << "drumkit.xml has no instrument that can make a bank.";
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
    const QString kept = Bank().Path(1);
    const QStringList workBefore = FolderTree(WorkFolder());

    // A chosen instrument is asked about first; Yes, then the refusal.
    SeenMessageBox question;
    SeenMessageBox refusal;
    QPointer<QTimer> refused;
    QPointer<QTimer> answer = index < 0
        ? AnswerNextMessageBox(&refusal, QMessageBox::Ok)
        : AnswerNextMessageBox(&question, QMessageBox::Yes, 20000, [&refused, &refusal]() {
              refused = AnswerNextMessageBox(&refusal, QMessageBox::Ok);
          });
    SeenKitDialog seen;
    Import(window, kitPath, index, &seen);
    if (index >= 0)
        QTRY_VERIFY_WITH_TIMEOUT(refusal.seen, kGiveUpMs);
    delete answer;
    delete refused;

    QCOMPARE(seen.seen, index >= 0);
    QCOMPARE(question.title, index < 0 ? QString() : QStringLiteral("QUESTION"));
    QVERIFY(refusal.seen);
    QCOMPARE(refusal.title, MessageFor(RESULT_FILE_ERROR).title);
    QCOMPARE(QTextDocumentFragment::fromHtml(refusal.informative).toPlainText().replace(QChar::Nbsp, QLatin1Char(' ')), sentence);
    QCOMPARE(Bank().Count(), 1);
    QCOMPARE(Bank().Path(1), kept);
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
    const QString kept = Bank().Path(1);
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
    // Yes to replacing the layer, then no box at all.
    SeenMessageBox question;
    SeenMessageBox box;
    QPointer<QTimer> noBox;
    QPointer<QTimer> yes = AnswerNextMessageBox(&question, QMessageBox::Yes, 20000, [&noBox, &box]() {
        noBox = AnswerNextMessageBox(&box, QMessageBox::Ok);
    });
    SeenKitDialog seen;
    AnswerFileDialog(kitPath);
    QPointer<QTimer> watch = ChooseInstrument(0, &seen, cancelWhenShown);
    window.findChild<QPushButton *>(QStringLiteral("ImportKitButton"))->click();
    delete watch;
    delete yes;
    delete noBox;

    QVERIFY(seen.seen);
    QVERIFY(cancelled);
    QVERIFY2(!box.seen, qPrintable(box.informative));
    QCOMPARE(Bank().Count(), 1);
    QCOMPARE(Bank().Path(1), kept);
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
    QTest::addColumn<bool>("folder"); // the kit's folder, not its drumkit.xml
    QTest::newRow("dropped") << true << false;
    QTest::newRow("command line") << false << false;
    QTest::newRow("folder dropped") << true << true;
    QTest::newRow("folder on the command line") << false << true;
}

void TestImportKitWindow::droppedOrGivenKitOpensTheDialog()
{
    QFETCH(bool, drop);
    QFETCH(bool, folder);
    const QString xmlPath = MakeKit(QStringLiteral("kit"));
    const QString kitPath = folder ? QFileInfo(xmlPath).path() : xmlPath;
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
    QTRY_VERIFY_WITH_TIMEOUT(seen.seen && Bank().Count() == 1, kGiveUpMs);
    delete watch;
    QCOMPARE(Bank().Name(1), QStringLiteral("snare.wav"));
}

void TestImportKitWindow::trimTailsSwitchesImportedLayers_data()
{
    QTest::addColumn<bool>("trimFirst"); // "Trim tails" on when importing
    QTest::newRow("imported trimmed") << true;
    QTest::newRow("imported whole") << false;
}

// "Trim tails" gives an imported layer the bytes import-kit writes, with
// the option on and with --keep-tails off, however often it is switched:
// here the whole sounds are over the budget and cut where the first one
// still sounds, while the trimmed ones fit whole, so a trim of the cut
// sound would not do.
void TestImportKitWindow::trimTailsSwitchesImportedLayers()
{
    QFETCH(bool, trimFirst);
    const QString folder = home.path() + QStringLiteral("/kit");
    QVector<qint16> tail = Sine1k(kBankRate, -6);
    for (int i = 0; i < 30 * kBankRate; ++i)
        tail << qint16(i % 2 ? -5 : 5); // below -60 dBFS: trimmed
    QVERIFY(WriteBytes(folder + QStringLiteral("/long.wav"), Wav16(1, kBankRate, Sine1k(25 * kBankRate, -6))));
    QVERIFY(WriteBytes(folder + QStringLiteral("/tail.wav"), Wav16(1, kBankRate, tail)));
    const QString kitPath = folder + QStringLiteral("/drumkit.xml");
    QVERIFY(WriteBytes(kitPath, "<drumkit_info><name>Test Kit</name><instrumentList><instrument><name>Gong</name>"
                                "<layer><filename>long.wav</filename><min>0.5</min><max>1</max></layer>"
                                "<layer><filename>tail.wav</filename><min>0</min><max>0.5</max></layer>"
                                "</instrument></instrumentList></drumkit_info>\n"));
    // The bytes import-kit writes either way.
    QTemporaryDir work;
    QString error;
    const std::unique_ptr<KitSource> kit = OpenKitSource(kitPath, work.path(), &error);
    QVERIFY2(kit, qPrintable(error));
    QVector<QByteArray> trimmed;
    QVector<QByteArray> whole;
    for (bool trim : {true, false}) {
        KitImportOptions options;
        options.trimTails = trim;
        const PreparedInstrument prepared = kit->Prepare(0, work.path(), options, nullptr);
        QCOMPARE(prepared.layers.size(), 2);
        QCOMPARE(prepared.notes.join(';').contains("cut to"), !trim);
        for (const LayerFile &layer : prepared.layers)
            (trim ? trimmed : whole) << ReadAll(layer.path);
    }
    QVERIFY(whole.at(0).size() < trimmed.at(0).size());
    const auto rows = []() { return QVector<QByteArray>{ReadAll(Bank().Path(1)), ReadAll(Bank().Path(2))}; };

    ZKWindow window;
    window.show();
    auto *trimBox = window.findChild<QCheckBox *>(QStringLiteral("TrimTailsBox"));
    if (trimBox->isChecked() != trimFirst)
        trimBox->click();
    SeenMessageBox notes;
    QPointer<QTimer> watch = CloseNextMessageBox(&notes, 2000);
    SeenKitDialog seen;
    Import(window, kitPath, 0, &seen);
    delete watch;
    QCOMPARE(Bank().Count(), 2);
    QVERIFY(rows() == (trimFirst ? trimmed : whole));
    trimBox->click();
    QVERIFY(rows() == (trimFirst ? whole : trimmed));
    trimBox->click();
    QVERIFY(rows() == (trimFirst ? trimmed : whole));
}

// A row's tool tip says what the import did to its layer; the line goes
// with the layer when the rows are reordered, undone and redone, and is
// gone with a replaced sound. An added sound has none.
void TestImportKitWindow::rowToolTipSaysWhatTheImportDid()
{
    const QString folder = home.path() + QStringLiteral("/kit");
    // The kit's loud layer is the quieter sound: ordering by loudness swaps them.
    QVERIFY(WriteBytes(folder + QStringLiteral("/hard.wav"), Wav16(1, kBankRate, Sine1k(4410, -20))));
    QVERIFY(WriteBytes(folder + QStringLiteral("/soft.wav"),
                       Wav16(2, 48000, Interleaved(Sine1k(4800, -3), Sine1k(4800, -3)))));
    const QString kitPath = folder + QStringLiteral("/drumkit.xml");
    QVERIFY(WriteBytes(kitPath, "<drumkit_info><name>Test Kit</name><instrumentList><instrument><name>Kick</name>"
                                "<layer><filename>hard.wav</filename><min>0.5</min><max>1</max><gain>0.5</gain></layer>"
                                "<layer><filename>soft.wav</filename><min>0</min><max>0.5</max></layer>"
                                "</instrument></instrumentList></drumkit_info>\n"));
    const QString hard = QStringLiteral("From hard.wav (gain -6.0\u00A0dB)");
    const QString soft = QStringLiteral("From soft.wav: mixed to mono, resampled from 48000\u00A0Hz");
    ZKWindow window;
    window.show();
    const auto imported = [&window](int layer) {
        const QStringList lines
            = window.findChild<QLabel *>(QStringLiteral("Filename_%1").arg(layer))->toolTip().split(QLatin1Char('\n'));
        for (const QString &line : lines) {
            if (line.startsWith(QLatin1String("From ")))
                return line;
        }
        return QString();
    };
    SeenKitDialog seen;
    Import(window, kitPath, 0, &seen);
    QCOMPARE(Bank().Count(), 2);
    QCOMPARE(imported(1), hard);
    QCOMPARE(imported(2), soft);

    SeenMessageBox question;
    QPointer<QTimer> yes = AnswerNextMessageBox(&question, QMessageBox::Yes);
    window.findChild<QPushButton *>(QStringLiteral("OrderByLoudnessButton"))->click();
    delete yes;
    QCOMPARE(Bank().Name(1), QStringLiteral("soft.wav"));
    QCOMPARE(imported(1), soft);
    QCOMPARE(imported(2), hard);

    const QString sound = home.path() + QStringLiteral("/sounds/kick.wav");
    QVERIFY(WriteBytes(sound, Wav16(1, kBankRate, Ramp(5000))));
    QVERIFY(SendDrop(window, {sound}, OverRow(window, 1)));
    QVERIFY(WaitForConversion(&window));
    QCOMPARE(Bank().Name(1), QStringLiteral("kick.wav"));
    QCOMPARE(imported(1), QString());
    QCOMPARE(imported(2), hard);
    auto *steps = window.findChild<QUndoStack *>();
    steps->undo();
    QCOMPARE(imported(1), soft);
    steps->undo();
    QCOMPARE(imported(1), hard);
    QCOMPARE(imported(2), soft);
    steps->redo();
    QCOMPARE(imported(1), soft);

    window.findChild<QPushButton *>(QStringLiteral("Del_Br_Button_2"))->click();
    QCOMPARE(Bank().Count(), 1);
    QVERIFY(!AddLayerThroughDialog(&window, 2, sound).seen);
    QCOMPARE(Bank().Count(), 2);
    QCOMPARE(imported(2), QString());
    QCOMPARE(imported(1), soft);
}

ZK_TEST(TestImportKitWindow)
#include "tst_importkit_window.moc"
