#include <QtTest>

#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>

#include "fileprocessor.h"
#include "resultcodes.h"
#include "testmain.h"
#include "widgetsupport.h"
#include "windowfixture.h"
#include "zkwindow.h"

// Adding and removing layers the way a user does it: click "+", pick a file
// in the dialog, read the box when the file is refused, click "X".
class TestLayers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void fillAndEmptyAllRows();
    void refusedFileChangesNothing_data();
    void refusedFileChangesNothing();
    void stereoCountsOneChannel();
    void longNamesKeepOneColumnGrid();
    void farTooLongRefusedBeforeConverting();
    void spaceLimit();
    void sizeTablesLimitFiveLayers_data();
    void sizeTablesLimitFiveLayers();
    void namesShownAsPlainText();
    void errorMessages_data();
    void errorMessages();
    void openDialogFilters();
    void lastFolderRemembered();

private:
    // A canonical 16-bit mono 44100 Hz sound with `dataBytes` bytes of audio.
    QString MakeSound(const QString &name, int dataBytes, const QString &folder = QString());
    // Clicks the add/remove button of `layer`, answering the open dialog with
    // `file` (empty: cancel) and recording the message box, if any.
    SeenMessageBox Click(ZKWindow &window, int layer, const QString &file = QString());
    QPushButton *Button(ZKWindow &window, const QString &name, int layer);
    QString Text(ZKWindow &window, const QString &name, int layer);
    bool Visible(ZKWindow &window, const QString &name, int layer);
    void CheckRows(ZKWindow &window, int count);

    WindowFixture home;
    QString sounds;
};

void TestLayers::initTestCase()
{
    QVERIFY(home.setUp());
    sounds = home.path() + QStringLiteral("/sounds");
    QDir().mkpath(sounds);
}

void TestLayers::init()
{
    home.startTest();
}

void TestLayers::cleanup()
{
    home.endTest();
}

QString TestLayers::MakeSound(const QString &name, int dataBytes, const QString &folder)
{
    QVector<qint16> samples(dataBytes / 2);
    for (int i = 0; i < samples.size(); ++i)
        samples[i] = qint16((i * 37) % 20000 - 10000);
    const QString path = (folder.isEmpty() ? sounds : folder) + QLatin1Char('/') + name;
    if (!WriteBytes(path, Wav16(1, 44100, samples)))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

SeenMessageBox TestLayers::Click(ZKWindow &window, int layer, const QString &file)
{
    QPushButton *button = Button(window, QStringLiteral("Del_Br_Button"), layer);
    if (button->text() == QLatin1String("+"))
        return AddLayerThroughDialog(&window, layer, file);
    button->click();
    return SeenMessageBox();
}

QPushButton *TestLayers::Button(ZKWindow &window, const QString &name, int layer)
{
    return window.findChild<QPushButton *>(name + QStringLiteral("_%1").arg(layer));
}

QString TestLayers::Text(ZKWindow &window, const QString &name, int layer)
{
    auto *w = window.findChild<QWidget *>(name + QStringLiteral("_%1").arg(layer));
    if (auto *label = qobject_cast<QLabel *>(w))
        return label->text();
    return qobject_cast<QAbstractButton *>(w)->text();
}

bool TestLayers::Visible(ZKWindow &window, const QString &name, int layer)
{
    return window.findChild<QWidget *>(name + QStringLiteral("_%1").arg(layer))->isVisible();
}

// The row states that belong to `count` filled layers.
void TestLayers::CheckRows(ZKWindow &window, int count)
{
    QCOMPARE(Bank().Count(), count);
    for (int n = 1; n <= 8; ++n) {
        const QByteArray where = "layer " + QByteArray::number(n);
        QVERIFY2(Visible(window, QStringLiteral("Filename"), n) == (n <= count + 1), where);
        QVERIFY2(Visible(window, QStringLiteral("Del_Br_Button"), n) == (n <= count + 1), where);
        QVERIFY2(Visible(window, QStringLiteral("Play_Button"), n) == (n <= count), where);
        QVERIFY2(Visible(window, QStringLiteral("ThrOfLayer"), n) == (n <= count), where);
        QCOMPARE(Text(window, QStringLiteral("Del_Br_Button"), n),
                 n <= count ? QStringLiteral("X") : QStringLiteral("+"));
        QVERIFY2(Button(window, QStringLiteral("Del_Br_Button"), n)->isEnabled() == (n >= count), where);
        if (n <= count)
            QCOMPARE(Text(window, QStringLiteral("Filename"), n), Bank().Name(n));
        else
            QCOMPARE(Text(window, QStringLiteral("Filename"), n),
                     n == 1 ? QStringLiteral("Create a Layer") : QStringLiteral("Add a Layer"));
    }
    QCOMPARE(window.findChild<QWidget *>(QStringLiteral("GenerateButton"))->isVisible(), count >= 1);
    QVERIFY(!window.findChild<QWidget *>(QStringLiteral("ThresholdSlider"))->isVisible());
    // The bar shows the bank's own figure, whose rule the bank's tests check.
    QCOMPARE(window.findChild<QProgressBar *>(QStringLiteral("AvailableSpace"))->value(),
             Bank().AvailablePercent());
}

void TestLayers::fillAndEmptyAllRows()
{
    ZKWindow window;
    window.show();
    const QStringList defaults[9] = {
        {}, {"1"}, {"64", "1"}, {"85", "43", "1"}, {"94", "63", "32", "1"},
        {"101", "76", "51", "26", "1"}, {"106", "85", "64", "43", "22", "1"},
        {"109", "91", "73", "55", "37", "19", "1"}, {"113", "97", "81", "65", "49", "33", "17", "1"},
    };
    qint32 used = 0;
    for (int n = 1; n <= 8; ++n) {
        const QString file = MakeSound(QStringLiteral("hit %1.wav").arg(n), 10000 * n);
        const SeenMessageBox box = Click(window, n, file);
        QVERIFY2(!box.seen, qPrintable(box.text));
        used += (10000 * n & ~511) + 512;
        QCOMPARE(Bank().UsedSpace(), used);
        QCOMPARE(Bank().Name(n), QStringLiteral("hit %1.wav").arg(n));
        QVERIFY(QFileInfo(Bank().Path(n)).isFile());
        CheckRows(window, n);
        for (int k = 1; k <= n; ++k)
            QCOMPARE(Text(window, QStringLiteral("ThrOfLayer"), k), defaults[n].at(k - 1));
    }
    QCOMPARE(Text(window, QStringLiteral("Filename"), 8), QStringLiteral("hit 8.wav"));

    for (int n = 8; n >= 1; --n) {
        const QString converted = Bank().Path(n);
        Click(window, n);
        used -= (10000 * n & ~511) + 512;
        QCOMPARE(Bank().UsedSpace(), used);
        QVERIFY(Bank().Path(n).isEmpty());
        QVERIFY(QFileInfo(converted).isFile()); // kept until the window closes
        CheckRows(window, n - 1);
        for (int k = 1; k < n; ++k)
            QCOMPARE(Text(window, QStringLiteral("ThrOfLayer"), k), defaults[n - 1].at(k - 1));
    }
    QCOMPARE(Bank().Threshold(1), 1);
    QCOMPARE(window.findChild<QProgressBar *>(QStringLiteral("AvailableSpace"))->value(), 100);
}

void TestLayers::refusedFileChangesNothing_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("detail"); // the box's informative text
    QTest::newRow("cancelled dialog") << "cancel" << "WARNING" << "No File Choosen" << "";
    // The converter's own reason, about the file by name.
    QTest::newRow("not a sound") << "text" << "ERROR" << "File Error"
                                 << "notes.wav: Format not recognised. Accepted: WAVE, AIFF, FLAC, Ogg, Opus and MP3.";
    QTest::newRow("not a sound, named like markup")
        << "markup" << "ERROR" << "File Error" << "<h1>notes.wav: Format not recognised. Accepted: WAVE, AIFF, FLAC, Ogg, Opus and MP3.";
    QTest::newRow("name of 61 characters") << "long name" << "ERROR" << "Filename is toooo long!"
                                           << "the name has 61 characters; at most 60 are allowed";
    QTest::newRow("sound too long") << "too long" << "ERROR" << "File too big!"
                                    << "the sound lasts 40.0\u00A0s; a layer holds at most 35.6\u00A0s of "
                                       "mono sound";
    // The check counts the one channel the bank keeps.
    QTest::newRow("stereo sound too long") << "stereo" << "ERROR" << "File too big!"
                                           << "the sound lasts 40.0\u00A0s; a layer holds at most "
                                              "35.6\u00A0s of stereo sound";
    // As many decimals as it takes to tell the two lengths apart.
    QTest::newRow("one sample too long") << "sample over" << "ERROR" << "File too big!"
                                         << "the sound lasts 35.61941\u00A0s; a layer holds at most "
                                            "35.61940\u00A0s of mono sound";
    QTest::newRow("no sound at all") << "empty" << "ERROR" << "File too big!"
                                     << "the sound lasts 0.00\u00A0s; a layer needs at least 0.01\u00A0s of "
                                        "mono sound";
    QTest::newRow("line feed in the name")
        << "line feed" << "ERROR" << "File Error"
        << "the name holds a control character, which the device would misread";
}

void TestLayers::refusedFileChangesNothing()
{
    QFETCH(QString, kind);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QString, detail);

    ZKWindow window;
    window.show();
    QVERIFY(!Click(window, 1, MakeSound(QStringLiteral("first.wav"), 20000)).seen);
    const qint32 used = Bank().UsedSpace();
    const QString firstPath = Bank().Path(1);

    QString file;
    if (kind == QLatin1String("text") || kind == QLatin1String("markup")) {
        file = sounds + (kind == QLatin1String("text") ? QStringLiteral("/notes.wav")
                                                       : QStringLiteral("/<h1>notes.wav"));
        QVERIFY(WriteBytes(file, "These are my notes, not a sound.\n"));
    } else if (kind == QLatin1String("stereo")) {
        file = sounds + QStringLiteral("/forty seconds.wav");
        QVERIFY(WriteSilentWave(file, 2, 44100, 40 * 44100));
    } else if (kind == QLatin1String("sample over")) {
        file = sounds + QStringLiteral("/one sample over.wav");
        QVERIFY(WriteSilentWave(file, 1, 44100, kLargestLayerSize / 2));
    } else if (kind == QLatin1String("long name")) {
        file = MakeSound(QString(57, QLatin1Char('n')) + QStringLiteral(".wav"), 2000);
    } else if (kind == QLatin1String("too long")) {
        file = MakeSound(QStringLiteral("forty seconds.wav"), 40 * 44100 * 2);
    } else if (kind == QLatin1String("empty")) {
        file = MakeSound(QStringLiteral("silence of no length.wav"), 0);
    } else if (kind == QLatin1String("line feed")) {
        file = MakeSound(QStringLiteral("line\nfeed.wav"), 2000);
    }
    window.findChild<QPushButton *>(QStringLiteral("ThrOfLayer_1"))->setChecked(true);
    const SeenMessageBox box = Click(window, 2, file);
    QVERIFY(box.seen);
    QCOMPARE(box.title, title);
    QCOMPARE(box.text, text);
    QCOMPARE(box.informative, detail);
    QCOMPARE(box.informativeFormat, detail.isEmpty() ? -1 : int(Qt::PlainText));
    QCOMPARE(box.icon, int(QMessageBox::Critical));
    QCOMPARE(box.buttons, 1);
    QVERIFY(!box.waitCursor);

    CheckRows(window, 1);
    QCOMPARE(Bank().UsedSpace(), used);
    QCOMPARE(Bank().Path(1), firstPath);
    QCOMPARE(Text(window, QStringLiteral("Filename"), 2), QStringLiteral("Add a Layer"));
    // A single layer is marked by no threshold button.
    for (int n = 1; n <= kMaxLayers; ++n)
        QVERIFY(!window.findChild<QPushButton *>(QStringLiteral("ThrOfLayer_%1").arg(n))->isChecked());
}

// Whatever their names, the eight rows share one grid: every name and every
// threshold button starts and ends where the others do.
void TestLayers::longNamesKeepOneColumnGrid()
{
    ZKWindow window;
    window.show();
    for (int layer = 1; layer <= kMaxLayers; ++layer) {
        const QString name = layer == 4 ? QString(52, QLatin1Char('n')) + QStringLiteral(".wav")
                                        : QStringLiteral("hit %1.wav").arg(layer);
        QVERIFY(!Click(window, layer, MakeSound(name, 2000)).seen);
    }
    SettleLayout();
    const auto horizontal = [&](const QString &name, int layer) {
        const QWidget *widget = window.findChild<QWidget *>(QStringLiteral("%1_%2").arg(name).arg(layer));
        const QRect r = widget->geometry();
        return QStringLiteral("%1..%2").arg(r.left()).arg(r.right());
    };
    for (const QString &name : {QStringLiteral("Filename"), QStringLiteral("ThrOfLayer"),
                                QStringLiteral("HitRange"), QStringLiteral("Del_Br_Button"),
                                QStringLiteral("Play_Button")}) {
        for (int layer = 2; layer <= kMaxLayers; ++layer)
            QCOMPARE(name + QLatin1Char(' ') + horizontal(name, layer),
                     name + QLatin1Char(' ') + horizontal(name, 1));
    }
}

// The bank keeps one channel, so 20 s of stereo fits a layer as 20 s of
// mono does.
void TestLayers::stereoCountsOneChannel()
{
    ZKWindow window;
    window.show();
    const QString file = sounds + QStringLiteral("/twenty seconds stereo.wav");
    QVERIFY(WriteSilentWave(file, 2, 44100, 20 * 44100));
    const SeenMessageBox box = Click(window, 1, file);
    QVERIFY2(!box.seen, qPrintable(box.text + QLatin1Char(' ') + box.informative));
    QCOMPARE(Bank().Count(), 1);
    QCOMPARE(Bank().Size(1), (20 * 44100 * 2 & ~511) + 512);
}

// A sound far too long for any layer is refused from its header: the
// converters never see it.
void TestLayers::farTooLongRefusedBeforeConverting()
{
    ZKWindow window;
    window.show();
    const QString file = sounds + QStringLiteral("/ten minutes.wav");
    QVERIFY(WriteSilentWave(file, 1, 8000, 600 * 8000));
    auto converted = std::make_shared<std::atomic<int>>(0);
    SetSoundConverter([converted](const QString &chosen, const ConvertOptions &options, QString *reason) {
        ++*converted;
        return ConvertFile(chosen, options, reason);
    });
    const SeenMessageBox box = Click(window, 1, file);
    SetSoundConverter(nullptr);
    QVERIFY(box.seen);
    QCOMPARE(box.text, QStringLiteral("File too big!"));
    QCOMPARE(box.informative, QStringLiteral("the sound lasts 600.0\u00A0s; a layer holds "
                                             "at most 35.6\u00A0s of mono sound"));
    QCOMPARE(converted->load(), 0);
    QCOMPARE(Bank().Count(), 0);
    QCOMPARE(Bank().UsedSpace(), 0);
}

void TestLayers::spaceLimit()
{
    ZKWindow window;
    window.show();
    // One layer of 3,072,000 bytes, then the budget has 73,728 bytes left.
    QVERIFY(!Click(window, 1, MakeSound(QStringLiteral("long.wav"), 3071488)).seen);
    QCOMPARE(Bank().UsedSpace(), 3072000);

    const SeenMessageBox refused = Click(window, 2, MakeSound(QStringLiteral("one block too many.wav"), 73728));
    QVERIFY(refused.seen);
    QCOMPARE(refused.text, QStringLiteral("Not enough space!"));
    QCOMPARE(refused.informative,
             QStringLiteral("the sound needs 74.2\u00A0KB (0.842\u00A0s); 73.7\u00A0KB (0.836\u00A0s) are left"));
    QCOMPARE(refused.title, QStringLiteral("ERROR"));
    CheckRows(window, 1);
    QCOMPARE(Bank().UsedSpace(), 3072000);

    QVERIFY(!Click(window, 2, MakeSound(QStringLiteral("exactly.wav"), 73216)).seen);
    CheckRows(window, 2);
    QCOMPARE(Bank().UsedSpace(), 3145728);
    QCOMPARE(Bank().AvailablePercent(), 0);
    QCOMPARE(Text(window, QStringLiteral("Filename"), 2), QStringLiteral("exactly.wav"));
}

void TestLayers::sizeTablesLimitFiveLayers_data()
{
    // Sound data bytes per layer; 0x1FFDFE bytes make the largest layer a
    // bank of five or more can describe (0x1FFE00), 0x1FFE00 one block more.
    QTest::addColumn<QVector<int>>("sounds");
    QTest::addColumn<int>("refused"); // the layer whose "+" is refused, or 0
    QTest::newRow("largest as layer 5") << QVector<int>{1000, 1000, 1000, 1000, 0x1FFDFE} << 0;
    QTest::newRow("one block more as layer 5") << QVector<int>{1000, 1000, 1000, 1000, 0x1FFE00} << 5;
    QTest::newRow("one block more as layer 1, fifth layer refused")
        << QVector<int>{0x1FFE00, 1000, 1000, 1000, 1000} << 5;
    QTest::newRow("largest as layer 1 of five") << QVector<int>{0x1FFDFE, 1000, 1000, 1000, 1000} << 0;
    QTest::newRow("2 MiB in a four-layer bank") << QVector<int>{1000, 1000, 1000, 0x200000} << 0;
}

void TestLayers::sizeTablesLimitFiveLayers()
{
    QFETCH(QVector<int>, sounds);
    QFETCH(int, refused);
    ZKWindow window;
    window.show();
    for (int n = 1; n <= sounds.size(); ++n) {
        const qint32 used = Bank().UsedSpace();
        const SeenMessageBox box
            = Click(window, n, MakeSound(QStringLiteral("layer %1.wav").arg(n), sounds.at(n - 1)));
        if (n == refused) {
            QVERIFY(box.seen);
            QCOMPARE(box.title, QStringLiteral("ERROR"));
            QCOMPARE(box.text, QStringLiteral("File too big!"));
            QCOMPARE(box.informative,
                     QStringLiteral("a bank of 5 or more layers holds layers below 2097.2\u00A0KB each"));
            CheckRows(window, n - 1);
            QCOMPARE(Bank().UsedSpace(), used);
            return;
        }
        QVERIFY2(!box.seen, qPrintable(box.text));
        CheckRows(window, n);
    }
    QCOMPARE(refused, 0);
}

void TestLayers::namesShownAsPlainText()
{
    ZKWindow window;
    window.show();
    const QString name = QStringLiteral("<h1><font color=red>Drop here<br>x.wav");
    QVERIFY(!Click(window, 1, MakeSound(name, 2000)).seen);
    auto *label = window.findChild<QLabel *>(QStringLiteral("Filename_1"));
    QCOMPARE(label->text(), name);
    QCOMPARE(label->textFormat(), Qt::PlainText);
    // One line of ordinary text, no taller than the row below it.
    QCOMPARE(label->sizeHint().height(),
             window.findChild<QLabel *>(QStringLiteral("Filename_2"))->sizeHint().height());
}

void TestLayers::errorMessages_data()
{
    AddResultMessageRows();
}

void TestLayers::errorMessages()
{
    QFETCH(int, code);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(bool, warning);
    ZKWindow window;
    window.show();
    SeenMessageBox box;
    CloseNextMessageBox(&box);
    // Reached by name, as the slot is bound to no signal.
    QVERIFY(QMetaObject::invokeMethod(&window, "ErrorMessage", Q_ARG(int, code)));
    QVERIFY(box.seen);
    QCOMPARE(box.title, title);
    QCOMPARE(box.text, text);
    QCOMPARE(box.icon, int(warning ? QMessageBox::Warning : QMessageBox::Critical));
    QCOMPARE(box.buttons, 1);
    QCOMPARE(box.informative, QString()); // the plain box: nothing below the text
}

void TestLayers::openDialogFilters()
{
    ZKWindow window;
    QStringList filters;
    QString selected;
    QString caption;
    OnNextModalOf("QFileDialog", [&](QWidget *modal) {
        auto *dialog = static_cast<QFileDialog *>(modal);
        filters = dialog->nameFilters();
        selected = dialog->selectedNameFilter();
        caption = dialog->windowTitle();
        dialog->reject();
    });
    QCOMPARE(window.getWavFromUser(), QString());
    QCOMPARE(caption, QStringLiteral("Open File"));
    QVERIFY(filters.size() >= 3);
    QCOMPARE(filters.first(), QStringLiteral("Wave File (*.wav )"));
    // The dialog opens on every sound format at once, not on WAVE alone.
    QCOMPARE(selected, filters.at(1));
    QVERIFY(selected.startsWith(QStringLiteral("Sound files (")));
    QVERIFY(filters.last().contains(QStringLiteral("(*)")));
    for (const char *pattern : {"*.wav", "*.flac", "*.ogg", "*.aiff", "*.mp3", "*.opus"})
        QVERIFY2(selected.contains(QLatin1String(pattern)), pattern);
    // The very files zkstool build-all gathers from a folder.
    QStringList patterns;
    for (const QString &suffix : SoundFileSuffixes())
        patterns << QStringLiteral("*.") + suffix;
    QCOMPARE(selected, QStringLiteral("Sound files (%1)").arg(patterns.join(QLatin1Char(' '))));
}

void TestLayers::lastFolderRemembered()
{
    QDir(home.workingFolder()).mkdir(QStringLiteral("wav"));
    const QString elsewhere = home.path() + QStringLiteral("/elsewhere");
    QDir().mkpath(elsewhere);
    const QString file = MakeSound(QStringLiteral("snare.wav"), 4000, elsewhere);

    auto startFolderOfNextDialog = [](ZKWindow &window) {
        QString where;
        RecordNextDialogFolder(&where);
        window.getWavFromUser();
        return where;
    };
    {
        ZKWindow window;
        AnswerFileDialog(file);
        QCOMPARE(window.getWavFromUser(), file);
        QCOMPARE(startFolderOfNextDialog(window), QDir(elsewhere).canonicalPath());
    }
    QCOMPARE(QSettings().value(QStringLiteral("LastFolder")).toString(), QDir(elsewhere).canonicalPath());
    {
        ZKWindow window; // a new run reads the same store
        QCOMPARE(startFolderOfNextDialog(window), QDir(elsewhere).canonicalPath());
    }
    QVERIFY(QDir(elsewhere).removeRecursively());
    {
        ZKWindow window;
        QCOMPARE(startFolderOfNextDialog(window),
                 QDir(home.workingFolder() + QStringLiteral("/wav")).canonicalPath());
    }
}

ZK_TEST(TestLayers)
#include "tst_layers.moc"
