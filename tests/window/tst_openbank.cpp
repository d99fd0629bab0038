#include <QtTest>

#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTextDocument>
#include <QTextDocumentFragment>

#include <numeric>

#include "fileprocessor.h"
#include "layerrules.h"
#include "tailoption.h"
#include "tailtrim.h"
#include "testmain.h"
#include "widgetsupport.h"
#include "windowfixture.h"
#include "zksbank.h"
#include "zkslayout.h"
#include "zkwindow.h"

Q_DECLARE_METATYPE(QVector<int>)

namespace {

// A hit of `hitFrames` loud frames ringing out into `tailFrames` frames of
// silence.
QVector<qint16> HitWithTail(int hitFrames, int tailFrames)
{
    return Ramp(hitFrames) + QVector<qint16>(tailFrames, 0);
}

// The layer size the sound check gives a mono sound of `frames` frames.
qint32 MonoLayerSize(int frames)
{
    return LayerSizeFor(quint32(2 * frames), false);
}

// A message box text as its label shows it: markup rendered, plain text as
// it is.
QString AsShown(const QString &text)
{
    return Qt::mightBeRichText(text) ? QTextDocumentFragment::fromHtml(text).toPlainText() : text;
}

} // namespace

// Opening a bank in the window, by the button or by dropping it, and the
// "Trim tails" option: the bank comes back as rows that generate the same
// bank again, and trimming changes the space a layer takes, reversibly.
class TestOpenBank : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void roundTrip_data();
    void roundTrip();
    void askedBeforeReplacingLayers_data();
    void askedBeforeReplacingLayers();
    void refusedBankChangesNothing_data();
    void refusedBankChangesNothing();
    void dragsOfLocalFilesOnly_data();
    void dragsOfLocalFilesOnly();
    void onlyASingleBankOpens_data();
    void onlyASingleBankOpens();
    void editAfterOpening();

    void tailTrimmedOnAdd_data();
    void tailTrimmedOnAdd();
    void smallTrimSavingInMilliseconds();
    void toggleReappliesToEveryLayer();
    void turningOffRefusedWithoutRoom_data();
    void turningOffRefusedWithoutRoom();
    void openedBankTrimmedWithTheBoxOn();

private:
    // Writes each sound as a WAVE beside `bankPath` and generates the bank
    // of them as the window would: sizes from the sound check, no gate.
    // Returns the layers' sizes.
    QVector<qint32> MakeBank(const QString &bankPath, const QVector<QVector<qint16>> &sounds,
                             const QStringList &names, const QVector<int> &thresholds);
    QString MakeSound(const QString &name, const QVector<qint16> &samples);
    void Open(ZKWindow &window, const QString &bankPath);
    bool Drop(ZKWindow &window, const QList<QUrl> &urls);
    void Generate(ZKWindow &window, const QString &target);
    void SetTrim(ZKWindow &window, bool on);
    QString RowToolTip(ZKWindow &window, int layer);
    QString BarToolTip(ZKWindow &window);

    WindowFixture home;
};

void TestOpenBank::initTestCase()
{
    QVERIFY(home.setUp());
}

void TestOpenBank::init()
{
    home.startTest();
}

void TestOpenBank::cleanup()
{
    home.endTest();
}

QVector<qint32> TestOpenBank::MakeBank(const QString &bankPath, const QVector<QVector<qint16>> &sounds,
                                       const QStringList &names, const QVector<int> &thresholds)
{
    const QString folder = QFileInfo(bankPath).absolutePath() + QStringLiteral("/sources");
    QVector<LayerFile> layers;
    QVector<qint32> sizes;
    for (int i = 0; i < sounds.size(); ++i) {
        const QString path = QStringLiteral("%1/%2.wav").arg(folder).arg(i + 1);
        if (!WriteBytes(path, Wav16(1, kBankRate, sounds.at(i))))
            return {};
        layers << LayerFile{path, names.at(i), OpenAndCheckFile(path)};
        sizes << layers.last().size;
    }
    ThresholdTable table = {};
    for (int k = 1; k <= kMaxLayers; ++k)
        table[k] = thresholds.value(k - 1);
    if (GenerateZKS(MakeGeneratorArgs(layers, table, 0, bankPath)) != GENERATE_OK)
        return {};
    return sizes;
}

QString TestOpenBank::MakeSound(const QString &name, const QVector<qint16> &samples)
{
    const QString path = home.path() + QStringLiteral("/sounds/") + name;
    if (!WriteBytes(path, Wav16(1, kBankRate, samples)))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestOpenBank::Open(ZKWindow &window, const QString &bankPath)
{
    AnswerFileDialog(bankPath);
    window.findChild<QPushButton *>(QStringLiteral("OpenBankButton"))->click();
}

// Drops `urls` on the window as a file manager would; true when the window
// took the drop. Whatever the drop starts has run when this returns.
bool TestOpenBank::Drop(ZKWindow &window, const QList<QUrl> &urls)
{
    QMimeData data;
    data.setUrls(urls);
    // Qt hands a drop to the widget that took the drag when it entered.
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
    QCoreApplication::sendPostedEvents();
    return drop.isAccepted();
}

void TestOpenBank::Generate(ZKWindow &window, const QString &target)
{
    AnswerFileDialog(target);
    window.findChild<QPushButton *>(QStringLiteral("GenerateButton"))->click();
}

void TestOpenBank::SetTrim(ZKWindow &window, bool on)
{
    auto *box = window.findChild<QCheckBox *>(QStringLiteral("TrimTailsBox"));
    if (box->isChecked() != on)
        box->click();
}

// The trimming line of a row's tool tip (which also gives the layer's
// levels), or nothing.
QString TestOpenBank::RowToolTip(ZKWindow &window, int layer)
{
    const QStringList lines = window.findChild<QLabel *>(QStringLiteral("Filename_%1").arg(layer))
                                  ->toolTip()
                                  .split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String("Trimming")))
            return line;
    }
    return QString();
}

// The trimming line of the space bar's tool tip (which first says the
// seconds left), or nothing.
QString TestOpenBank::BarToolTip(ZKWindow &window)
{
    const QStringList lines =
        window.findChild<QProgressBar *>(QStringLiteral("AvailableSpace"))->toolTip().split(QLatin1Char('\n'));
    return lines.value(1);
}

void TestOpenBank::roundTrip_data()
{
    QTest::addColumn<QVector<int>>("lengths"); // samples of each layer
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QVector<int>>("thresholds"); // all eight slots

    for (int n = 1; n <= kMaxLayers; ++n) {
        QVector<int> lengths;
        QStringList names;
        for (int k = 1; k <= n; ++k) {
            lengths << 700 * k + 13;
            names << QStringLiteral("layer %1.wav").arg(k);
        }
        QTest::addRow("%d layers", n) << lengths << names << DefaultSpread(n);
    }
    QTest::newRow("edited thresholds") << QVector<int>{900, 800, 700}
                                       << QStringList{"soft.wav", "mid.wav", "hard.wav"}
                                       << QVector<int>{100, 42, 1, 1, 1, 1, 1, 1};
    QTest::newRow("names of 60 characters")
        << QVector<int>{900, 800} << QStringList{QString(56, 'a') + ".wav", QString(60, 'b')}
        << DefaultSpread(2);
    QTest::newRow("non-ASCII names")
        << QVector<int>{900, 800, 700, 600}
        << QStringList{QStringLiteral("\u00DCberkick.wav"), QStringLiteral("\u9F13.wav"),
                       QStringLiteral("\U0001F941 snare.wav"), QString(60, QChar(0x9F13))}
        << DefaultSpread(4);
}

void TestOpenBank::roundTrip()
{
    QFETCH(QVector<int>, lengths);
    QFETCH(QStringList, names);
    QFETCH(QVector<int>, thresholds);
    const QString folder = home.path() + QStringLiteral("/round trip/") + QString::fromLatin1(QTest::currentDataTag());
    const QString original = folder + QStringLiteral("/kit.zks");
    QVector<QVector<qint16>> sounds;
    for (int length : lengths)
        sounds << Ramp(length, 100 * sounds.size() + 1000);
    const QVector<qint32> sizes = MakeBank(original, sounds, names, thresholds);
    QCOMPARE(sizes.size(), lengths.size());

    ZKWindow window;
    window.show();
    // A gate left on from earlier work would cut the bank's sounds again.
    window.findChild<QSlider *>(QStringLiteral("horizontalSlider"))->setValue(3);
    Open(window, original);

    QCOMPARE(Bank().Count(), names.size());
    for (int i = 0; i < Bank().Count(); ++i) {
        QCOMPARE(Bank().Name(i + 1), names.at(i));
        QCOMPARE(Bank().Size(i + 1), sizes.at(i));
        QVERIFY(Bank().Path(i + 1).startsWith(WorkFolder() + QLatin1Char('/')));
    }
    for (int layer = 1; layer <= kMaxLayers; ++layer)
        QCOMPARE(Bank().Threshold(layer), thresholds.at(layer - 1));
    if (Bank().Count() >= 2)
        QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("ThrOfLayer_1"))->text(),
                 QString::number(thresholds.at(0)));
    QCOMPARE(Bank().GateLevel(), quint16(0));
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("label_2"))->text(), QStringLiteral("Don't"));
    QCOMPARE(Bank().UsedSpace(), std::accumulate(sizes.cbegin(), sizes.cend(), 0));
    QVERIFY(window.findChild<QPushButton *>(QStringLiteral("GenerateButton"))->isVisible());

    // The bank's own name is part of it: the same name, in another folder.
    const QString again = folder + QStringLiteral("/again/kit.zks");
    QVERIFY(QDir().mkpath(QFileInfo(again).absolutePath()));
    Generate(window, again);
    const QByteArray before = ReadAll(original);
    const QByteArray after = ReadAll(again);
    QVERIFY(!before.isEmpty());
    QCOMPARE(after.size(), before.size());
    QVERIFY(WithoutTag(after) == WithoutTag(before));
}

void TestOpenBank::askedBeforeReplacingLayers_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("No keeps the layers") << false;
    QTest::newRow("Yes opens the bank") << true;
}

void TestOpenBank::askedBeforeReplacingLayers()
{
    QFETCH(bool, yes);
    const QString bank = home.path() + QStringLiteral("/replace/kit.zks");
    QVERIFY(!MakeBank(bank, {Ramp(900), Ramp(800), Ramp(700)}, {"low.wav", "mid.wav", "top.wav"},
                      DefaultSpread(3))
                 .isEmpty());

    ZKWindow window;
    window.show();
    AddLayerThroughDialog(&window, 1, MakeSound(QStringLiteral("kick.wav"), Ramp(5000)));
    AddLayerThroughDialog(&window, 2, MakeSound(QStringLiteral("snare.wav"), Ramp(3000)));
    QCOMPARE(Bank().Count(), 2);
    const QString kept[2] = {Bank().Path(1), Bank().Path(2)};
    const QStringList workBefore = FolderTree(WorkFolder());
    window.findChild<QPushButton *>(QStringLiteral("ThrOfLayer_1"))->click();
    // The strip, the checked threshold button and the slider name one layer.
    const auto agree = [&](int layer, bool slider) {
        QVERIFY(window.findChild<QLabel *>(QStringLiteral("LayerViewCaption"))
                    ->text()
                    .startsWith(QStringLiteral("Layer %1:").arg(layer)));
        for (int n = 1; n <= kMaxLayers; ++n) {
            auto *button = window.findChild<QPushButton *>(QStringLiteral("ThrOfLayer_%1").arg(n));
            QCOMPARE(button->isVisible() && button->isChecked(), n == layer);
        }
        QCOMPARE(window.findChild<QSlider *>(QStringLiteral("ThresholdSlider"))->isVisible(), slider);
    };
    agree(1, true);

    SeenMessageBox question;
    QPointer<QTimer> watch = AnswerNextMessageBox(&question, yes ? QMessageBox::Yes : QMessageBox::No);
    Open(window, bank);
    delete watch;

    QVERIFY(question.seen);
    QCOMPARE(question.title, QStringLiteral("QUESTION"));
    QVERIFY2(question.text.contains(QStringLiteral("kit.zks")), qPrintable(question.text));
    QCOMPARE(question.defaultButton, int(QMessageBox::No));
    agree(yes ? 3 : 1, !yes);
    if (yes) {
        QCOMPARE(Bank().Count(), 3);
        QCOMPARE(Bank().Name(1), QStringLiteral("low.wav"));
        QCOMPARE(Bank().Name(3), QStringLiteral("top.wav"));
        // The replaced layers stay in the working folder: undo brings them
        // back.
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(Bank().Count(), 2);
        QCOMPARE(Bank().Path(1), kept[0]);
        QCOMPARE(Bank().Path(2), kept[1]);
        QVERIFY(QFileInfo::exists(kept[0]));
        QVERIFY(QFileInfo::exists(kept[1]));
    } else {
        QCOMPARE(Bank().Count(), 2);
        QCOMPARE(Bank().Name(1), QStringLiteral("kick.wav"));
        QCOMPARE(Bank().Name(2), QStringLiteral("snare.wav"));
        QCOMPARE(Bank().Path(1), kept[0]);
        QCOMPARE(Bank().Size(2), MonoLayerSize(3000));
        // Nothing of the bank is left behind.
        QCOMPARE(FolderTree(WorkFolder()), workBefore);
    }
}

void TestOpenBank::refusedBankChangesNothing_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("problem"); // part of the details
    QTest::addColumn<QString>("sentence"); // the plain sentence before them
    QTest::newRow("wrong signature") << "signature" << "broken.zks" << "the signature at offset 36"
                                     << "broken.zks is not a bank file.";
    QTest::newRow("cut short") << "cut short" << "broken.zks" << "past the end"
                               << "This bank is damaged: layer 2 ends past the end of the file.";
    QTest::newRow("no layers") << "no layers" << "broken.zks" << "the bank holds no layers"
                               << "This bank is damaged: the bank holds no layers.";
    QTest::newRow("name with a tab") << "tab" << "broken.zks" << "the name of layer 2 holds a control character"
                                     << "";
    QTest::newRow("a folder") << "folder" << "broken.zks" << "not a regular file"
                              << "broken.zks: not a regular file.";
    QTest::newRow("gone") << "gone" << "broken.zks" << "no such file" << "broken.zks: no such file.";
    QTest::newRow("markup in the bank's name") << "signature" << "<i>broken &amp; old.zks"
                                               << "the signature at offset 36"
                                               << "<i>broken &amp; old.zks is not a bank file.";
    QTest::newRow("a text file") << "text" << "kit.zks" << "the signature at offset 36"
                                 << "kit.zks is not a bank file.";
}

void TestOpenBank::refusedBankChangesNothing()
{
    QFETCH(QString, kind);
    QFETCH(QString, name);
    QFETCH(QString, problem);
    const QString folder = home.path() + QStringLiteral("/refused/") + QString::fromLatin1(QTest::currentDataTag());
    const QString bank = folder + QLatin1Char('/') + name;
    if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(bank));
    } else if (kind == QLatin1String("no layers")) {
        GeneratorArgs args;
        args.TargetName = name;
        QVERIFY(WriteBytes(bank, BuildZKSHeader(args, 1234)));
    } else if (kind == QLatin1String("text")) {
        QVERIFY(WriteBytes(bank, QByteArray("Kit notes: kick, snare, hats.\n").repeated(40)));
    } else if (kind != QLatin1String("gone")) {
        QVERIFY(!MakeBank(bank, {Ramp(900), Ramp(800)}, {"one.wav", "two.wav"}, DefaultSpread(2)).isEmpty());
        QByteArray bytes = ReadAll(bank);
        if (kind == QLatin1String("signature"))
            bytes[kBankSignatureOffset] = '\x05';
        else if (kind == QLatin1String("cut short"))
            bytes.chop(1000);
        else
            bytes.replace("two.wav", "tw\t.wav");
        QVERIFY(WriteBytes(bank, bytes));
    }

    ZKWindow window;
    window.show();
    AddLayerThroughDialog(&window, 1, MakeSound(QStringLiteral("kick.wav"), Ramp(5000)));
    window.findChild<QSlider *>(QStringLiteral("horizontalSlider"))->setValue(2);
    const QString path = Bank().Path(1);
    const QStringList workBefore = FolderTree(WorkFolder());

    SeenMessageBox box;
    QPointer<QTimer> watch = AnswerNextMessageBox(&box, QMessageBox::Ok);
    const bool taken = Drop(window, {QUrl::fromLocalFile(bank)});
    delete watch;
    QVERIFY(taken);

    QVERIFY(box.seen);
    QCOMPARE(box.title, QStringLiteral("ERROR"));
    QCOMPARE(box.text, QStringLiteral("File Error"));
    QFETCH(QString, sentence);
    if (sentence.isEmpty())
        QVERIFY2(AsShown(box.informative).startsWith(QStringLiteral("This bank is damaged: ")),
                 qPrintable(box.informative));
    else
        QCOMPARE(AsShown(box.informative), sentence);
    QVERIFY2(box.detailed.contains(problem), qPrintable(box.detailed));
    QCOMPARE(Bank().Count(), 1);
    QCOMPARE(Bank().Name(1), QStringLiteral("kick.wav"));
    QCOMPARE(Bank().Path(1), path);
    QCOMPARE(Bank().Size(1), MonoLayerSize(5000));
    QCOMPARE(Bank().UsedSpace(), MonoLayerSize(5000));
    QCOMPARE(Bank().GateLevel(), quint16(103));
    QCOMPARE(FolderTree(WorkFolder()), workBefore);
}

void TestOpenBank::dragsOfLocalFilesOnly_data()
{
    QTest::addColumn<QList<QUrl>>("urls");
    QTest::addColumn<bool>("accepted");
    const QUrl bank = QUrl::fromLocalFile(QStringLiteral("/kits/kit.zks"));
    const QUrl sound = QUrl::fromLocalFile(QStringLiteral("/sounds/kick.wav"));
    const QUrl web(QStringLiteral("https://example.com/kit.zks"));
    QTest::newRow("a bank") << QList<QUrl>{bank} << true;
    QTest::newRow("a sound") << QList<QUrl>{sound} << true;
    QTest::newRow("several files") << QList<QUrl>{bank, sound} << true;
    QTest::newRow("a web address") << QList<QUrl>{web} << false;
    QTest::newRow("a file and a web address") << QList<QUrl>{bank, web} << false;
    QTest::newRow("no files") << QList<QUrl>{} << false;
}

void TestOpenBank::dragsOfLocalFilesOnly()
{
    QFETCH(QList<QUrl>, urls);
    QFETCH(bool, accepted);
    ZKWindow window;
    window.show();
    QVERIFY(window.acceptDrops());
    QMimeData data;
    if (urls.isEmpty())
        data.setText(QStringLiteral("/kits/kit.zks"));
    else
        data.setUrls(urls);
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    // The drag leaves again, as it does when let go elsewhere.
    QDragLeaveEvent leave;
    QApplication::sendEvent(&window, &leave);
    QCOMPARE(enter.isAccepted(), accepted);
}

void TestOpenBank::onlyASingleBankOpens_data()
{
    // Anything but a single bank is taken as sounds to add: a bank among
    // them is refused as a sound, in the one box that lists refusals. Files
    // dropped and files named on the command line (as a file manager starts
    // the program) are taken alike.
    QTest::addColumn<bool>("commandLine");
    QTest::addColumn<QStringList>("files"); // in the bank's folder
    QTest::addColumn<bool>("opens");
    QTest::addColumn<int>("layers");
    QTest::addColumn<bool>("refusals");
    for (const bool commandLine : {false, true}) {
        const char *way = commandLine ? "command line" : "drop";
        const auto row = [&](const char *name) -> QTestData & { return QTest::addRow("%s: %s", way, name) << commandLine; };
        row("the bank") << QStringList{"kit.zks"} << true << 2 << false;
        row("the bank, its suffix in capitals") << QStringList{"KIT.ZKS"} << true << 2 << false;
        row("two banks") << QStringList{"kit.zks", "kit.zks"} << false << 0 << true;
        row("a sound") << QStringList{"1.wav"} << false << 1 << false;
        row("the bank and a sound") << QStringList{"kit.zks", "1.wav"} << false << 1 << true;
    }
}

void TestOpenBank::onlyASingleBankOpens()
{
    QFETCH(bool, commandLine);
    QFETCH(QStringList, files);
    QFETCH(bool, opens);
    QFETCH(int, layers);
    QFETCH(bool, refusals);
    const QString folder = home.path() + QStringLiteral("/drops/")
        + QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(':'), QLatin1Char('-'));
    QVERIFY(!MakeBank(folder + QStringLiteral("/kit.zks"), {Ramp(900), Ramp(800)}, {"a.wav", "b.wav"},
                      DefaultSpread(2))
                 .isEmpty());
    QVERIFY(QFile::copy(folder + QStringLiteral("/kit.zks"), folder + QStringLiteral("/KIT.ZKS")));
    QVERIFY(QFile::copy(folder + QStringLiteral("/sources/1.wav"), folder + QStringLiteral("/1.wav")));
    QList<QUrl> urls;
    QStringList paths;
    for (const QString &file : files) {
        paths << folder + QLatin1Char('/') + file;
        urls << QUrl::fromLocalFile(paths.last());
    }

    ZKWindow window;
    window.show();
    SeenMessageBox box;
    QPointer<QTimer> watch = AnswerNextMessageBox(&box, QMessageBox::Ok);
    if (commandLine) {
        window.OpenFiles(paths);
        QCoreApplication::sendPostedEvents();
    } else {
        QVERIFY(Drop(window, urls));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!window.IsConverting(), 60000);
    QTRY_COMPARE_WITH_TIMEOUT(box.seen, refusals, 5000);
    delete watch;
    QCOMPARE(Bank().Count(), layers);
    // Only an opened bank brings its layers' names back.
    QCOMPARE(Bank().Name(1) == QLatin1String("a.wav"), opens);
}

// The opened layers are layers like any others: the last one can go, a new
// one can follow, and the bank made of them keeps the opened sounds.
void TestOpenBank::editAfterOpening()
{
    const QString folder = home.path() + QStringLiteral("/edit");
    const QString original = folder + QStringLiteral("/kit.zks");
    QVERIFY(!MakeBank(original, {Ramp(900), Ramp(800, 3000), Ramp(700)}, {"low.wav", "mid.wav", "top.wav"},
                      {120, 60, 1, 1, 1, 1, 1, 1})
                 .isEmpty());

    ZKWindow window;
    window.show();
    Open(window, original);
    QCOMPARE(Bank().Count(), 3);
    window.findChild<QPushButton *>(QStringLiteral("Del_Br_Button_3"))->click();
    QCOMPARE(Bank().Count(), 2);
    AddLayerThroughDialog(&window, 3, MakeSound(QStringLiteral("rim.wav"), Ramp(2000, 5000)));
    QCOMPARE(Bank().Count(), 3);
    const QString edited = folder + QStringLiteral("/edited.zks");
    Generate(window, edited);

    ZksBank before, after;
    QString error;
    QVERIFY2(ReadZksBank(original, &before, &error), qPrintable(error));
    QVERIFY2(ReadZksBank(edited, &after, &error), qPrintable(error));
    QVERIFY2(after.problems.isEmpty(), qPrintable(ProblemTexts(after.problems).join(QLatin1Char('\n'))));
    QCOMPARE(after.layerCount, 3);
    QCOMPARE(after.layerNames[0], QStringLiteral("low.wav"));
    QCOMPARE(after.layerNames[1], QStringLiteral("mid.wav"));
    QCOMPARE(after.layerNames[2], QStringLiteral("rim.wav"));
    QCOMPARE(after.regions.at(2).size, qint64(MonoLayerSize(2000)));
    // A changed layer count brings the default spread, as adding always does.
    QCOMPARE(after.regions.at(0).threshold, 85);
    for (int i = 0; i < 2; ++i) {
        QByteArray was, is;
        QVERIFY(ReadZksRegion(before, before.regions.at(i), &was, &error));
        QVERIFY(ReadZksRegion(after, after.regions.at(i), &is, &error));
        QVERIFY(is == was);
    }
}

// A saving below a tenth of a second reads in milliseconds, never "0.0 s".
void TestOpenBank::smallTrimSavingInMilliseconds()
{
    const QString sound = MakeSound(QStringLiteral("tap.wav"), HitWithTail(11025, 2205));
    ZKWindow window;
    window.show();
    SetTrim(window, true);
    AddLayerThroughDialog(&window, 1, sound);
    QCOMPARE(Bank().Count(), 1);
    // 26624 bytes whole, 23040 trimmed: 3584 bytes, 40.6 ms of sound.
    QCOMPARE(RowToolTip(window, 1), QStringLiteral("Trimming saves 3.6\u00A0KB (41\u00A0ms)"));
}

void TestOpenBank::tailTrimmedOnAdd_data()
{
    QTest::addColumn<bool>("trim");
    QTest::newRow("off, as it starts") << false;
    QTest::newRow("on") << true;
}

// A quarter-second hit with five seconds of silence after it.
void TestOpenBank::tailTrimmedOnAdd()
{
    QFETCH(bool, trim);
    const int hit = 11025;
    const int tail = 5 * kBankRate;
    const QString sound = MakeSound(QStringLiteral("ring.wav"), HitWithTail(hit, tail));
    const qint32 whole = MonoLayerSize(hit + tail);
    const qint32 trimmed = MonoLayerSize(hit + kTailFadeFrames);
    const qint32 size = trim ? trimmed : whole;

    ZKWindow window;
    window.show();
    QVERIFY(!window.findChild<QCheckBox *>(QStringLiteral("TrimTailsBox"))->isChecked());
    if (trim)
        SetTrim(window, true);
    AddLayerThroughDialog(&window, 1, sound);
    QCOMPARE(Bank().Count(), 1);
    QCOMPARE(Bank().Name(1), QStringLiteral("ring.wav"));
    QCOMPARE(Bank().Size(1), size);
    QCOMPARE(Bank().UsedSpace(), size);
    QCOMPARE(window.findChild<QProgressBar *>(QStringLiteral("AvailableSpace"))->value(),
             AvailablePercentFor(size));
    QCOMPARE(RowToolTip(window, 1), trim ? QStringLiteral("Trimming saves 440.3\u00A0KB (5.0\u00A0s)") : QString());
    QCOMPARE(BarToolTip(window), trim ? QStringLiteral("Trimming saves 440.3\u00A0KB in all") : QString());

    const QString bank = home.path() + QStringLiteral("/window %1/kit.zks").arg(trim);
    QVERIFY(QDir().mkpath(QFileInfo(bank).absolutePath()));
    Generate(window, bank);
    ZksBank read;
    QString error;
    QVERIFY2(ReadZksBank(bank, &read, &error), qPrintable(error));
    QVERIFY2(read.problems.isEmpty(), qPrintable(ProblemTexts(read.problems).join(QLatin1Char('\n'))));
    QCOMPARE(read.fourSlotBlocks[0], quint16(size / kBankBlock));
    QCOMPARE(read.sizeUnits[0], quint16(size / 256));
    QCOMPARE(read.fileSize, qint64(kBankBlock + size));
    if (!trim) {
        // Today's bank: the user's own file, as it always went in.
        const QString today = home.path() + QStringLiteral("/kit.zks");
        ThresholdTable thresholds = {};
        DefaultThresholds(thresholds, 1);
        QCOMPARE(GenerateZKS(MakeGeneratorArgs({{sound, QStringLiteral("ring.wav"), whole}}, thresholds, 0,
                                               today)),
                 GENERATE_OK);
        QVERIFY(WithoutTag(ReadAll(bank)) == WithoutTag(ReadAll(today)));
    }
}

void TestOpenBank::toggleReappliesToEveryLayer()
{
    ZKWindow window;
    window.show();
    SetTrim(window, true);
    AddLayerThroughDialog(&window, 1, MakeSound(QStringLiteral("long.wav"), HitWithTail(5000, 3 * kBankRate)));
    AddLayerThroughDialog(&window, 2, MakeSound(QStringLiteral("short.wav"), HitWithTail(3000, kBankRate)));
    AddLayerThroughDialog(&window, 3, MakeSound(QStringLiteral("tone.wav"), Ramp(4000)));
    QCOMPARE(Bank().Count(), 3);
    const qint32 whole[3] = {MonoLayerSize(5000 + 3 * kBankRate), MonoLayerSize(3000 + kBankRate),
                             MonoLayerSize(4000)};
    const qint32 trimmed[3] = {MonoLayerSize(5000 + kTailFadeFrames), MonoLayerSize(3000 + kTailFadeFrames),
                               MonoLayerSize(4000)};
    const QString tone = Bank().Path(3);
    // 274944 + 94208 bytes whole, 11264 + 7168 trimmed.
    const QString savedInAll = QStringLiteral("Trimming saves 350.7\u00A0KB in all");
    const auto check = [&](bool on) {
        const qint32 *sizes = on ? trimmed : whole;
        for (int i = 0; i < 3; ++i)
            QCOMPARE(Bank().Size(i + 1), sizes[i]);
        QCOMPARE(Bank().UsedSpace(), sizes[0] + sizes[1] + sizes[2]);
        QCOMPARE(Bank().Name(1), QStringLiteral("long.wav"));
        QCOMPARE(QFileInfo(Bank().Path(1)).fileName(), QStringLiteral("long.wav"));
        QCOMPARE(Bank().Path(1) != Bank().Source(1), on);
        QCOMPARE(Bank().Path(3), tone); // nothing to trim: no copy
        QCOMPARE(RowToolTip(window, 1).startsWith(QStringLiteral("Trimming saves")), on);
        QCOMPARE(RowToolTip(window, 3), QString());
        QCOMPARE(BarToolTip(window), on ? savedInAll : QString());
    };

    check(true);
    const QString copy = Bank().Path(1);
    SetTrim(window, false);
    check(false);
    QVERIFY(QFileInfo::exists(copy)); // kept for undo, and for the option's return
    SetTrim(window, true);
    check(true);
    QCOMPARE(Bank().Path(1), copy);
    // One untrimmed file and one trimmed copy per layer, however often the
    // option changed.
    QCOMPARE(FolderTree(WorkFolder()).filter(QStringLiteral("long.wav")).size(), 2);
}

void TestOpenBank::turningOffRefusedWithoutRoom_data()
{
    QTest::addColumn<QVector<int>>("hits");  // loud frames of each layer
    QTest::addColumn<QVector<int>>("tails"); // silent frames after them
    QTest::addColumn<QString>("text");
    // The first layer's silence, trimmed away, is what lets the second one
    // in.
    QTest::newRow("over the budget") << QVector<int>{5000, 1000000} << QVector<int>{600000, 0}
                                     << "Not enough space!";
    // Five layers and the first one of 2 MiB untrimmed: more than the size
    // tables describe.
    QTest::newRow("five layers, one of 2 MiB")
        << QVector<int>{5000, 2000, 2000, 2000, 2000} << QVector<int>{0x100000, 0, 0, 0, 0}
        << "File too big!";
}

void TestOpenBank::turningOffRefusedWithoutRoom()
{
    QFETCH(QVector<int>, hits);
    QFETCH(QVector<int>, tails);
    QFETCH(QString, text);
    ZKWindow window;
    window.show();
    SetTrim(window, true);
    for (int i = 0; i < hits.size(); ++i) {
        AddLayerThroughDialog(&window, i + 1, MakeSound(QStringLiteral("%1.wav").arg(i + 1),
                                                        HitWithTail(hits.at(i), tails.at(i))));
        QCOMPARE(Bank().Count(), i + 1);
    }
    const qint32 used = Bank().UsedSpace();
    const QString first = Bank().Path(1);
    QVERIFY(first != Bank().Source(1));

    SeenMessageBox box;
    QPointer<QTimer> watch = CloseNextMessageBox(&box);
    window.findChild<QCheckBox *>(QStringLiteral("TrimTailsBox"))->click();
    delete watch;
    QVERIFY(box.seen);
    QCOMPARE(box.title, QStringLiteral("ERROR"));
    QCOMPARE(box.text, text);
    QVERIFY(window.findChild<QCheckBox *>(QStringLiteral("TrimTailsBox"))->isChecked());
    QCOMPARE(Bank().UsedSpace(), used);
    QCOMPARE(Bank().Path(1), first);
    QCOMPARE(Bank().Size(1), MonoLayerSize(hits.at(0) + kTailFadeFrames));
    QVERIFY(QFileInfo::exists(first));
}

// Opened with the box on, a layer whose sound fades into a hiss below
// -60 dBFS is trimmed; turned off, the bank's own layer is back.
void TestOpenBank::openedBankTrimmedWithTheBoxOn()
{
    QVector<qint16> hiss = Ramp(4000);
    for (int i = 0; i < 2 * kBankRate; ++i)
        hiss << qint16(i % 2 ? -5 : 5);
    const QString original = home.path() + QStringLiteral("/hiss/kit.zks");
    const QVector<qint32> sizes = MakeBank(original, {hiss, Ramp(3000)}, {"hiss.wav", "tone.wav"}, DefaultSpread(2));
    QCOMPARE(sizes.size(), 2);

    ZKWindow window;
    window.show();
    SetTrim(window, true);
    Open(window, original);
    QCOMPARE(Bank().Count(), 2);
    QCOMPARE(Bank().Size(1), MonoLayerSize(4000 + kTailFadeFrames));
    QCOMPARE(Bank().Size(2), sizes.at(1));
    QCOMPARE(Bank().UsedSpace(), Bank().Size(1) + Bank().Size(2));
    QVERIFY(RowToolTip(window, 1).startsWith(QStringLiteral("Trimming saves")));

    SetTrim(window, false);
    QCOMPARE(Bank().Size(1), sizes.at(0));
    const QString again = home.path() + QStringLiteral("/hiss/again/kit.zks");
    QVERIFY(QDir().mkpath(QFileInfo(again).absolutePath()));
    Generate(window, again);
    QVERIFY(WithoutTag(ReadAll(again)) == WithoutTag(ReadAll(original)));
}

ZK_TEST(TestOpenBank)
#include "tst_openbank.moc"
