#include <QtTest>

#include <QCryptographicHash>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>

#include "explain.h"
#include "fileprocessor.h"
#include "layerrules.h"
#include "testmain.h"
#include "widgetsupport.h"
#include "windowfixture.h"
#include "zkslayout.h"
#include "zkwindow.h"

namespace {

QByteArray Digest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("unreadable");
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1).toHex();
}

// The layers as the bank would get them and as the rows and the space bar
// show them, with a digest of each layer's sound; paths left out, as two
// windows make their files in folders of their own.
QStringList LayerTable(ZKWindow &window)
{
    QStringList table;
    for (int layer = 1; layer <= Bank().Count(); ++layer) {
        const auto *label = window.findChild<QLabel *>(QStringLiteral("Filename_%1").arg(layer));
        table << QStringLiteral("%1 %2 threshold %3 sound %4 row \"%5\" \"%6\"")
                     .arg(Bank().Name(layer))
                     .arg(Bank().Size(layer))
                     .arg(Bank().Threshold(layer))
                     .arg(QString::fromLatin1(Digest(Bank().Path(layer))), label->text(),
                          label->toolTip());
    }
    const auto *bar = window.findChild<QProgressBar *>(QStringLiteral("AvailableSpace"));
    table << QStringLiteral("count %1 used %2 bar %3 \"%4\"")
                 .arg(Bank().Count())
                 .arg(Bank().UsedSpace())
                 .arg(bar->value())
                 .arg(bar->toolTip());
    return table;
}

// The working folder's entries that hold one of `names`.
QStringList EntriesNamed(const QString &work, const QStringList &names)
{
    QStringList found;
    for (const QString &entry : FolderTree(work)) {
        for (const QString &name : names) {
            if (entry.contains(name))
                found << entry;
        }
    }
    return found;
}

} // namespace

// Sounds dropped on the window or chosen together become layers one after
// another; the refused ones are named in one box and the others stay.
class TestDropFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void droppedSoundsAreAppended_data();
    void droppedSoundsAreAppended();
    void soundDroppedOnFilledRowReplacesIt();
    void replacementRefusedForSpaceKeepsTheLayer();
    void cancelPartWayThroughTheQueue_data();
    void cancelPartWayThroughTheQueue();
    void webAddressRefusedAtDragEnter();
    void nothingDroppedWhileConverting_data();
    void nothingDroppedWhileConverting();
    void severalChosenInTheDialog();

private:
    QString MakeSound(const QString &name, int frames);
    // A window with `filled` layers of one sound, from the "+" dialog.
    void FillRows(ZKWindow &window, int filled);
    QStringList MakeFiles(const QStringList &names);
    // Drops `files` at `position`; true when the window took the drop.
    // Returns once the sounds were dealt with, the messages shown meanwhile
    // (the one about refused files) in `shown`.
    bool Drop(ZKWindow &window, const QStringList &files, const QPoint &position,
              QVector<PromptMessage> *shown);

    WindowFixture home;
};

void TestDropFiles::initTestCase()
{
    QVERIFY(home.setUp());
}

void TestDropFiles::init()
{
    home.startTest();
}

void TestDropFiles::cleanup()
{
    home.endTest();
}

QString TestDropFiles::MakeSound(const QString &name, int frames)
{
    const QString path = home.path() + QStringLiteral("/sounds/") + name;
    if (!WriteBytes(path, Wav16(1, kBankRate, Ramp(frames))))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestDropFiles::FillRows(ZKWindow &window, int filled)
{
    const QString first = MakeSound(QStringLiteral("first.wav"), 1000);
    for (int layer = 1; layer <= filled; ++layer)
        AddLayerAnswered(window, *ScriptedPrompts::Of(window), layer, first);
}

// A name ending in ".wav" is a short sound, any other a text file.
QStringList TestDropFiles::MakeFiles(const QStringList &names)
{
    QStringList paths;
    for (const QString &name : names) {
        if (name.endsWith(QLatin1String(".wav"))) {
            paths << MakeSound(name, 1000);
        } else {
            paths << home.path() + QStringLiteral("/sounds/") + name;
            WriteBytes(paths.last(), QByteArray("not a sound\n"));
        }
    }
    return paths;
}

bool TestDropFiles::Drop(ZKWindow &window, const QStringList &files, const QPoint &position,
                         QVector<PromptMessage> *shown)
{
    const ScriptedPrompts &prompts = *ScriptedPrompts::Of(window);
    const int before = prompts.messages.size();
    const bool taken = SendDrop(window, files, position);
    const bool done = WaitForConversion(&window);
    *shown = prompts.messages.mid(before);
    return taken && done;
}

void TestDropFiles::droppedSoundsAreAppended_data()
{
    QTest::addColumn<int>("filled"); // layers added before the drop
    QTest::addColumn<int>("row");    // dropped on this row's name
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("layers"); // after the drop, from layer 1
    QTest::addColumn<QStringList>("refused"); // the box's lines
    QTest::newRow("one, on the empty row") << 0 << 1 << QStringList{"a.wav"} << QStringList{"a.wav"}
                                          << QStringList{};
    QTest::newRow("several, in their order")
        << 1 << 2 << QStringList{"c.wav", "b.wav"} << QStringList{"first.wav", "c.wav", "b.wav"}
        << QStringList{};
    QTest::newRow("several on a filled row: appended")
        << 1 << 1 << QStringList{"c.wav", "b.wav"} << QStringList{"first.wav", "c.wav", "b.wav"}
        << QStringList{};
    QTest::newRow("good and bad")
        << 0 << 1 << QStringList{"a.wav", "notes.txt", "b.wav"} << QStringList{"a.wav", "b.wav"}
        << QStringList{"notes.txt: File Error (Format not recognised. Accepted: WAVE, AIFF, FLAC, Ogg, Opus and MP3.)"};
    QTest::newRow("more than the free rows")
        << 6 << 7 << QStringList{"a.wav", "b.wav", "c.wav", "d.wav"}
        << QStringList{"first.wav", "first.wav", "first.wav", "first.wav", "first.wav", "first.wav",
                       "a.wav", "b.wav"}
        << QStringList{"c.wav: no free layer", "d.wav: no free layer"};
}

void TestDropFiles::droppedSoundsAreAppended()
{
    QFETCH(int, filled);
    QFETCH(int, row);
    QFETCH(QStringList, names);
    QFETCH(QStringList, layers);
    QFETCH(QStringList, refused);
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    FillRows(window, filled);
    QCOMPARE(Bank().Count(), filled);

    QVector<PromptMessage> seen;
    QVERIFY(Drop(window, MakeFiles(names), OverRow(window, row), &seen));
    QStringList names_;
    for (int i = 0; i < Bank().Count(); ++i)
        names_ << Bank().Name(i + 1);
    QCOMPARE(names_, layers);
    QCOMPARE(seen.size(), refused.isEmpty() ? 0 : 1);
    if (!seen.isEmpty()) {
        QCOMPARE(seen.at(0).title, QStringLiteral("ERROR"));
        QCOMPARE(seen.at(0).text, QStringLiteral("Some files were not added"));
        QCOMPARE(seen.at(0).detail.split(QLatin1Char('\n')), refused);
    }
    SettleLayout();
    const QStringList cut = TextsNotShownWhole(&window);
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1Char('\n'))));
}

void TestDropFiles::soundDroppedOnFilledRowReplacesIt()
{
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    ScriptedPrompts &prompts = home.Prompts();
    AddLayerAnswered(window, prompts, 1, MakeSound(QStringLiteral("kick.wav"), 5000));
    AddLayerAnswered(window, prompts, 2, MakeSound(QStringLiteral("snare.wav"), 3000));
    const qint32 threshold = Bank().Threshold(1);
    const qint32 used = Bank().UsedSpace();
    const qint32 oldSize = Bank().Size(1);

    QVector<PromptMessage> seen;
    QVERIFY(Drop(window, {MakeSound(QStringLiteral("tom.wav"), 1000)}, OverRow(window, 1), &seen));
    QVERIFY(seen.isEmpty());
    QCOMPARE(Bank().Count(), 2);
    QCOMPARE(Bank().Name(1), QStringLiteral("tom.wav"));
    QCOMPARE(Bank().Name(2), QStringLiteral("snare.wav"));
    QCOMPARE(Bank().Threshold(1), threshold);
    QCOMPARE(Bank().UsedSpace(), used - oldSize + Bank().Size(1));

    // A file that is refused leaves the layer it was dropped on.
    QVERIFY(Drop(window, MakeFiles({"notes.txt"}), OverRow(window, 1), &seen));
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen.at(0).text, QStringLiteral("File Error"));
    QCOMPARE(Bank().Name(1), QStringLiteral("tom.wav"));
    QCOMPARE(Bank().Count(), 2);
}

// A sound too big for the space its layer's old sound gives back: the old
// layer stays as it was, and nothing of the new sound is kept.
void TestDropFiles::replacementRefusedForSpaceKeepsTheLayer()
{
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    ScriptedPrompts &prompts = home.Prompts();
    AddLayerAnswered(window, prompts, 1, MakeSound(QStringLiteral("kick.wav"), 10 * kBankRate));
    AddLayerAnswered(window, prompts, 2, MakeSound(QStringLiteral("snare.wav"), 20 * kBankRate));
    QCOMPARE(Bank().Count(), 2);
    const QStringList before = LayerTable(window);
    const QString path = Bank().Path(1);
    const QString work = WorkFolder();
    const QStringList files = FolderTree(work);
    const QString tom = MakeSound(QStringLiteral("tom.wav"), 16 * kBankRate);
    const qint32 leftWithout = Bank().UsedSpace() - Bank().Size(1);
    QVERIFY(leftWithout + OpenAndCheckFile(tom) > kBankBudget);

    QVector<PromptMessage> seen;
    QVERIFY(Drop(window, {tom}, OverRow(window, 1), &seen));
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen.at(0).text, QStringLiteral("Not enough space!"));
    QCOMPARE(seen.at(0).detail, NoSpaceDetail(OpenAndCheckFile(tom), leftWithout));
    QCOMPARE(LayerTable(window), before);
    QCOMPARE(Bank().Path(1), path);
    QCOMPARE(FolderTree(work), files);
}

void TestDropFiles::cancelPartWayThroughTheQueue_data()
{
    QTest::addColumn<int>("filled");          // layers added before the drop
    QTest::addColumn<QStringList>("names");   // dropped, in this order
    QTest::addColumn<QString>("cancelled");   // its conversion is cancelled
    QTest::addColumn<QStringList>("added");   // of `names`, what stays
    QTest::addColumn<QStringList>("refused"); // the box's lines
    QTest::newRow("on the second of four")
        << 1 << QStringList{"a.wav", "b.wav", "c.wav", "d.wav"} << "b.wav" << QStringList{"a.wav"}
        << QStringList{};
    QTest::newRow("on the first") << 2 << QStringList{"a.wav", "b.wav"} << "a.wav" << QStringList{}
                                  << QStringList{};
    QTest::newRow("on the last") << 0 << QStringList{"a.wav", "b.wav", "c.wav"} << "c.wav"
                                 << QStringList{"a.wav", "b.wav"} << QStringList{};
    QTest::newRow("after a refused file")
        << 0 << QStringList{"a.wav", "notes.txt", "b.wav", "c.wav"} << "b.wav"
        << QStringList{"a.wav"} << QStringList{"notes.txt: File Error (Format not recognised. Accepted: WAVE, AIFF, FLAC, Ogg, Opus and MP3.)"};
}

// Cancel stops the sound being converted and those still waiting; the
// layers added before it stay as a queue of those alone would have left
// them, and the box names only the files refused before it.
void TestDropFiles::cancelPartWayThroughTheQueue()
{
    QFETCH(int, filled);
    QFETCH(QStringList, names);
    QFETCH(QString, cancelled);
    QFETCH(QStringList, added);
    QFETCH(QStringList, refused);
    const QStringList files = MakeFiles(names);
    QStringList addedFiles;
    for (const QString &file : files) {
        if (added.contains(QFileInfo(file).fileName()))
            addedFiles << file;
    }
    QStringList expected;
    {
        ZKWindow alone;
        ScriptedPrompts alonePrompts(alone);
        alone.show();
        FillRows(alone, filled);
        QVector<PromptMessage> seen;
        if (!addedFiles.isEmpty())
            QVERIFY(Drop(alone, addedFiles, OverRow(alone, filled + 1), &seen));
        expected = LayerTable(alone);
    }

    ZKWindow window;
    ScriptedPrompts prompts(window);
    window.show();
    FillRows(window, filled);
    const QString work = WorkFolder();
    const QStringList notAdded = names.mid(names.indexOf(cancelled));
    HeldConverter converter(HeldConverter::Heeded, -1, cancelled);
    CancelWhenHeld(&window, converter);
    QVector<PromptMessage> seen;
    QVERIFY(Drop(window, files, OverRow(window, filled + 1), &seen));

    QVERIFY(converter.sawCancel());
    QVERIFY(!converter.gaveUp());
    QCOMPARE(LayerTable(window), expected);
    QCOMPARE(EntriesNamed(work, added).isEmpty(), added.isEmpty());
    QCOMPARE(EntriesNamed(work, notAdded), QStringList());
    QCOMPARE(seen.size(), refused.isEmpty() ? 0 : 1);
    if (!seen.isEmpty()) {
        QCOMPARE(seen.at(0).text, QStringLiteral("Some files were not added"));
        QCOMPARE(seen.at(0).detail.split(QLatin1Char('\n')), refused);
    }
    QCOMPARE(window.findChild<QProgressDialog *>(), nullptr);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QVERIFY(window.findChild<QPushButton *>(QStringLiteral("Del_Br_Button_%1").arg(Bank().Count() + 1))
                ->isEnabled());
}

void TestDropFiles::webAddressRefusedAtDragEnter()
{
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    QMimeData data;
    data.setUrls({QUrl(QStringLiteral("https://example.org/a.wav"))});
    QDragEnterEvent enter(OverRow(window, 1), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    QVERIFY(!enter.isAccepted());
}

void TestDropFiles::nothingDroppedWhileConverting_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("sounds") << "b.wav";
    QTest::newRow("a bank") << "kit.zks";
}

// A drop while a sound converts is refused: a bank opened then would
// replace the rows the converted sound is meant for.
void TestDropFiles::nothingDroppedWhileConverting()
{
    QFETCH(QString, name);
    const QString kick = MakeSound(QStringLiteral("kick.wav"), 1000);
    const QString file = home.path() + QStringLiteral("/sounds/") + name;
    if (name.endsWith(QLatin1String(".zks"))) {
        const ToolRun made = RunTool({QStringLiteral("build"), QStringLiteral("-o"), file, kick,
                                      MakeSound(QStringLiteral("snare.wav"), 2000)});
        QVERIFY2(made.exitCode == 0, qPrintable(Show(made)));
    } else {
        MakeSound(name, 1000);
    }
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    ScriptedPrompts &prompts = home.Prompts();
    FillRows(window, 1);
    HeldConverter converter;
    prompts.openAnswers << QStringList{kick};
    window.findChild<QPushButton *>(QStringLiteral("Del_Br_Button_2"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(converter.held(), kGiveUpMs);

    QVERIFY(!SendDrop(window, {file}, OverRow(window, 1)));
    converter.release();
    QVERIFY(WaitForConversion(&window));
    QVERIFY2(prompts.messages.isEmpty(), qPrintable(prompts.messages.value(0).text));
    QCOMPARE(Bank().Count(), 2);
    QCOMPARE(Bank().Name(1), QStringLiteral("first.wav"));
    QCOMPARE(Bank().Name(2), QStringLiteral("kick.wav"));
}

void TestDropFiles::severalChosenInTheDialog()
{
    ZKWindow window;
    window.show();
    const QStringList files = MakeFiles({"a.wav", "b.wav"});
    OnNextModalOf("QFileDialog", [files](QWidget *modal) {
        auto *dialog = static_cast<QFileDialog *>(modal);
        dialog->setDirectory(QFileInfo(files.first()).absolutePath());
        if (auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            edit->setText(QStringLiteral("\"a.wav\" \"b.wav\""));
        static_cast<QDialog *>(dialog)->done(QDialog::Accepted);
    });
    SeenMessageBox seen;
    QPointer<QTimer> watch = CloseNextMessageBox(&seen, 300000);
    window.findChild<QPushButton *>(QStringLiteral("Del_Br_Button_1"))->click();
    QVERIFY(WaitForConversion(&window));
    delete watch;
    QVERIFY(!seen.seen);
    QCOMPARE(Bank().Count(), 2);
    QCOMPARE(Bank().Name(1), QStringLiteral("a.wav"));
    QCOMPARE(Bank().Name(2), QStringLiteral("b.wav"));
}

ZK_TEST(TestDropFiles)
#include "tst_dropfiles.moc"
