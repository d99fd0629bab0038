#include <QtTest>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "testmain.h"
#include "testsupport.h"
#include "zkslayout.h"

Q_DECLARE_METATYPE(QVector<int>)

namespace {

QByteArray Kit(const QByteArray &instruments)
{
    return "<?xml version=\"1.0\"?>\n<drumkit_info><name>Test Kit</name><instrumentList>\n" + instruments
        + "</instrumentList></drumkit_info>\n";
}

QByteArray Layer(const char *file, const char *min, const char *max)
{
    return QByteArray("<layer><filename>") + file + "</filename><min>" + min + "</min><max>" + max
        + "</max></layer>";
}

// A sample's file name of 70 characters before its extension, ending in `last`.
QString LongName(char last)
{
    return QString(69, QLatin1Char('n')) + QLatin1Char(last);
}

// Short hits of three strengths (the loudest in stereo), and four loud sounds of 9 s: three of them
// fit the budget, four do not.
bool WriteSounds(const QString &folder)
{
    const int long9s = 9 * kBankRate;
    return WriteBytes(folder + QStringLiteral("/soft.wav"), Wav16(1, kBankRate, Square(4000, 2000)))
        && WriteBytes(folder + QStringLiteral("/mid.wav"), Wav16(1, kBankRate, Square(4000, 8000)))
        && WriteBytes(folder + QStringLiteral("/loud.wav"), Wav16(2, kBankRate, Interleaved(Square(4000, 20000), Square(4000, 20000))))
        && WriteBytes(folder + QStringLiteral("/long1.wav"), Wav16(1, kBankRate, Square(long9s, 20000)))
        && WriteBytes(folder + QStringLiteral("/long2.wav"), Wav16(1, kBankRate, Square(long9s, 15000)))
        && WriteBytes(folder + QStringLiteral("/long3.wav"), Wav16(1, kBankRate, Square(long9s, 10000)))
        && WriteBytes(folder + QStringLiteral("/long4.wav"), Wav16(1, kBankRate, Square(long9s, 5000)))
        && WriteBytes(folder + QStringLiteral("/ghost.wav"), Wav16(1, kBankRate, Square(4000, 500)))
        && WriteBytes(folder + QStringLiteral("/hard.wav"), Wav16(1, kBankRate, Square(4000, 14000)))
        && WriteBytes(folder + QStringLiteral("/tiny.wav"), Wav16(1, kBankRate, Square(100, 8000)))
        && WriteBytes(folder + QStringLiteral("/bad.wav"), QByteArray(4000, 'x'))
        && WriteBytes(folder + QStringLiteral("/silent.wav"), Wav16(1, kBankRate, Square(4000, 0)))
        && WriteBytes(folder + QLatin1Char('/') + LongName('1') + QStringLiteral(".wav"),
                      Wav16(1, kBankRate, Square(4000, 2000)))
        && WriteBytes(folder + QLatin1Char('/') + LongName('2') + QStringLiteral(".flac.wav"),
                      Wav16(1, kBankRate, Square(4000, 9000)));
}

// The ranges of Gimme A Hand's "Cajon Thump": each overlaps the next a little.
QByteArray OverlappingRanges()
{
    return Layer("ghost.wav", "0", "0.206522") + Layer("soft.wav", "0.206522", "0.394928")
        + Layer("mid.wav", "0.391304", "0.601449") + Layer("hard.wav", "0.597826", "0.782609")
        + Layer("loud.wav", "0.786232", "1");
}

} // namespace

class TestImportKit : public QObject
{
    Q_OBJECT

private slots:
    void importsInstrument_data();
    void importsInstrument();
    void refusesArchiveEntryOutside();
    void keepTailsKeepsTheQuietEnd();
    void outOfDescriptors();
    void kitFileNotRegular_data();
    void kitFileNotRegular();
    void archivedKitStaysInside();
    void longBankNames_data();
    void longBankNames();
};

void TestImportKit::importsInstrument_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("line");         // a line of the report
    QTest::addColumn<QVector<int>>("thresholds"); // of "Test Kit - Kick.zks"; empty: not written
    QTest::addColumn<QStringList>("names");       // its layers' names; empty: not looked at

    QTest::newRow("velocity layers, softest first")
        << Kit("<instrument><name>Kick</name>" + Layer("soft.wav", "0", "0.3") + Layer("mid.wav", "0.3", "0.7")
               + Layer("loud.wav", "0.7", "1") + "</instrument>")
        << QStringList() << 0 << "Kick: 3 layers, thresholds 89,39,1 -> Test Kit - Kick.zks"
        << QVector<int>{89, 39, 1} << QStringList();
    QTest::newRow("a missing sample left out")
        << Kit("<instrument><name>Kick</name>" + Layer("gone.wav", "0.5", "1") + Layer("soft.wav", "0", "0.5")
               + "</instrument>")
        << QStringList() << 0 << "Kick: 1 layer, thresholds 1 -> Test Kit - Kick.zks (gone.wav: no such file)"
        << QVector<int>{1} << QStringList();
    QTest::newRow("an instrument with no usable sample skipped")
        << Kit("<instrument><name>Kick</name><filename>soft.wav</filename></instrument>"
               "<instrument><name>Tom</name><filename>gone.wav</filename></instrument>")
        << QStringList() << 1 << "Tom: skipped, no usable sample (gone.wav: no such file)" << QVector<int>{1}
        << QStringList();
    QTest::newRow("over the budget, shortened")
        << Kit("<instrument><name>Kick</name>" + Layer("long1.wav", "0.75", "1") + Layer("long2.wav", "0.5", "0.75")
               + Layer("long3.wav", "0.25", "0.5") + Layer("long4.wav", "0", "0.25") + "</instrument>")
        << QStringList() << 0
        << "Kick: 4 layers, thresholds 96,64,32,1 -> Test Kit - Kick.zks (layers cut to 8.91 s)"
        << QVector<int>{96, 64, 32, 1} << QStringList();
    // 2 x 20000 would clip: the whole instrument is scaled by 32767 / 40000.
    QTest::newRow("gain, stereo mixed, pitch")
        << Kit("<instrument><name>Kick</name><gain>2</gain><layer><filename>loud.wav</filename>"
               "<min>0.5</min><max>1</max><pitch>1.5</pitch></layer>" + Layer("soft.wav", "0", "0.5")
               + "</instrument>")
        << QStringList() << 0
        << "Kick: 2 layers, thresholds 64,1 -> Test Kit - Kick.zks (pitch 1.5 of loud.wav not applied; "
           "scaled by -1.7 dB so no layer clips)"
        << QVector<int>{64, 1} << QStringList();
    QTest::newRow("unknown channel")
        << Kit("<instrument><name>Kick</name><filename>soft.wav</filename></instrument>")
        << QStringList{"--channel", "right"} << 2 << QString() << QVector<int>() << QStringList();
    // Longer than any layer: cut, not refused.
    QTest::newRow("a sample too long for a layer")
        << Kit("<instrument><name>Kick</name><filename>long40.wav</filename></instrument>")
        << QStringList() << 0 << "Kick: 1 layer, thresholds 1 -> Test Kit - Kick.zks (layers cut to 35.62 s)"
        << QVector<int>{1} << QStringList();
    QTest::newRow("a FIFO as a sample")
        << Kit("<instrument><name>Kick</name><filename>soft.wav</filename></instrument>"
               "<instrument><name>Tom</name><filename>pipe.wav</filename></instrument>")
        << QStringList() << 1 << "Tom: skipped, no usable sample (pipe.wav: not a regular file)"
        << QVector<int>{1} << QStringList();
    QTest::newRow("dry run")
        << Kit("<instrument><name>Kick</name>" + Layer("soft.wav", "0", "0.5") + Layer("loud.wav", "0.5", "1")
               + "</instrument>")
        << QStringList{"--dry-run"} << 0 << "Kick: 2 layers, thresholds 64,1 -> Test Kit - Kick.zks"
        << QVector<int>() << QStringList();
    // Planned once, on the file's order: the layer listed last plays only
    // the hits no earlier range holds.
    QTest::newRow("nested, the widest listed last")
        << Kit("<instrument><name>Kick</name>" + Layer("soft.wav", "0", "0.3") + Layer("mid.wav", "0.3", "0.6")
               + Layer("hard.wav", "0.6", "0.8") + Layer("loud.wav", "0", "1") + "</instrument>")
        << QStringList() << 0 << "Kick: 4 layers, thresholds 102,77,39,1 -> Test Kit - Kick.zks"
        << QVector<int>{102, 77, 39, 1} << QStringList{"loud.wav", "hard.wav", "mid.wav", "soft.wav"};
    QTest::newRow("overlapping ranges")
        << Kit("<instrument><name>Kick</name>" + OverlappingRanges() + "</instrument>") << QStringList() << 0
        << "Kick: 5 layers, thresholds 100,77,51,27,1 -> Test Kit - Kick.zks" << QVector<int>{100, 77, 51, 27, 1}
        << QStringList{"loud.wav", "hard.wav", "mid.wav", "soft.wav", "ghost.wav"};
    QTest::newRow("long sample names shortened, kept apart")
        << Kit("<instrument><name>Kick</name>" + Layer(qPrintable(LongName('2') + ".flac.wav"), "0.5", "1")
               + Layer(qPrintable(LongName('1') + ".wav"), "0", "0.5") + "</instrument>")
        << QStringList() << 0 << "Kick: 2 layers, thresholds 64,1 -> Test Kit - Kick.zks" << QVector<int>{64, 1}
        << QStringList{QString(56, QLatin1Char('n')) + ".wav", QString(52, QLatin1Char('n')) + " (2).wav"};
    QTest::newRow("a round robin serves for a corrupt sample")
        << Kit("<instrument><name>Kick</name>" + Layer("bad.wav", "0", "1") + Layer("soft.wav", "0", "1")
               + "</instrument>")
        << QStringList() << 0
        << "Kick: 1 layer, thresholds 1 -> Test Kit - Kick.zks (bad.wav: Format not recognised.; "
           "soft.wav serves in place of bad.wav)"
        << QVector<int>{1} << QStringList{"soft.wav"};
    QTest::newRow("a gain that is not finite counts as 1")
        << Kit("<instrument><name>Kick</name><gain>1e308</gain><layer><filename>soft.wav</filename>"
               "<min>0</min><max>1</max><gain>1e308</gain></layer></instrument>")
        << QStringList() << 0
        << "Kick: 1 layer, thresholds 1 -> Test Kit - Kick.zks (soft.wav: gain inf is not finite, 1 used)"
        << QVector<int>{1} << QStringList{"soft.wav"};
    // 20000 x 1.6384 = 32768: scaled by -0.0003 dB, not worth a line.
    QTest::newRow("a scale too slight to show")
        << Kit("<instrument><name>Kick</name><gain>1.6384</gain><filename>loud.wav</filename></instrument>")
        << QStringList() << 0 << "Kick: 1 layer, thresholds 1 -> Test Kit - Kick.zks" << QVector<int>{1}
        << QStringList{"loud.wav"};
    QTest::newRow("a sample too short for a layer padded")
        << Kit("<instrument><name>Kick</name><filename>tiny.wav</filename></instrument>") << QStringList() << 0
        << "Kick: 1 layer, thresholds 1 -> Test Kit - Kick.zks (tiny.wav: shorter than a layer may be, "
           "padded with silence)"
        << QVector<int>{1} << QStringList{"tiny.wav"};
    QTest::newRow("a silent sample left out")
        << Kit("<instrument><name>Kick</name>" + Layer("silent.wav", "0.5", "1") + Layer("soft.wav", "0", "0.5")
               + "</instrument>")
        << QStringList() << 0 << "Kick: 1 layer, thresholds 1 -> Test Kit - Kick.zks (silent.wav: silent, left out)"
        << QVector<int>{1} << QStringList{"soft.wav"};
    // A placeholder, as some kits fill their unused places: nothing went wrong.
    QTest::newRow("only silence, no bank, not skipped")
        << Kit("<instrument><name>Kick</name><filename>silent.wav</filename></instrument>") << QStringList() << 0
        << "Kick: plays only silence" << QVector<int>() << QStringList();
    QTest::newRow("summary of a skipped instrument")
        << Kit("<instrument><name>Kick</name><filename>soft.wav</filename></instrument>"
               "<instrument><name>Tom</name>" + Layer("gone.wav", "0", "0.5") + Layer("bad.wav", "0.5", "1")
               + "</instrument>")
        << QStringList() << 1 << "import-kit: 1 bank written, 1 skipped; 1 layer, 1 left out; " << QVector<int>{1}
        << QStringList();
    QTest::newRow("jobs above the machine's lowered")
        << Kit("<instrument><name>Kick</name><filename>soft.wav</filename></instrument>")
        << QStringList{"--jobs", "100000"} << 0 << "Kick: 1 layer, thresholds 1 -> Test Kit - Kick.zks"
        << QVector<int>{1} << QStringList();
    QTest::newRow("no jobs")
        << Kit("<instrument><name>Kick</name><filename>soft.wav</filename></instrument>")
        << QStringList{"--jobs", "0"} << 2 << QString() << QVector<int>() << QStringList();
}

void TestImportKit::importsInstrument()
{
    QFETCH(QByteArray, xml);
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    QFETCH(QString, line);
    QFETCH(QVector<int>, thresholds);
    QFETCH(QStringList, names);
    QTemporaryDir tmp;
    const QString kit = tmp.filePath(QStringLiteral("kit"));
    QVERIFY(WriteSounds(kit));
    QVERIFY(WriteBytes(kit + QStringLiteral("/drumkit.xml"), xml));
    if (xml.contains("long40.wav"))
        QVERIFY(WriteBytes(kit + QStringLiteral("/long40.wav"), Wav16(1, kBankRate, Square(40 * kBankRate, 9000))));
#ifdef Q_OS_UNIX
    if (xml.contains("pipe.wav"))
        QCOMPARE(::mkfifo(QFile::encodeName(kit + QStringLiteral("/pipe.wav")).constData(), 0600), 0);
#else
    if (xml.contains("pipe.wav"))
        QSKIP("FIFOs are Unix's");
#endif
    const QString out = tmp.filePath(QStringLiteral("out"));
    const ToolRun run = RunTool(QStringList{"import-kit", kit, out} + options, tmp.path());
    QVERIFY2(run.exitCode == exitCode, qPrintable(Show(run)));
    // A line ending in "; " is the start of one: what follows is times and sizes.
    bool found = line.isEmpty();
    for (const QString &printed : run.out.split(QLatin1Char('\n')))
        found = found || printed == line || (line.endsWith(QLatin1String("; ")) && printed.startsWith(line));
    QVERIFY2(found, qPrintable(Show(run)));
    // Every line names the kit's own files, never a temporary one.
    QVERIFY2(!run.out.contains(QDir::tempPath()), qPrintable(Show(run)));
    if (options.contains(QStringLiteral("100000")))
        QVERIFY2(run.err.contains(QStringLiteral("--jobs 100000 is more than this machine can use")),
                 qPrintable(Show(run)));
    const QString bank = out + QStringLiteral("/Test Kit - Kick.zks");
    QCOMPARE(QFileInfo::exists(bank), !thresholds.isEmpty());
    if (thresholds.isEmpty())
        return;
    const QJsonArray stored = InfoJson(bank).value("thresholds").toArray();
    QVector<int> read;
    for (int k = 0; k < thresholds.size(); ++k)
        read << stored[k].toInt();
    QCOMPARE(read, thresholds);
    const QJsonArray layers = InfoJson(bank).value("layers").toArray();
    QCOMPARE(layers.size(), thresholds.size());
    if (names.isEmpty())
        return;
    QStringList named;
    for (const QJsonValue &layer : layers)
        named << layer.toObject().value("name").toString();
    QCOMPARE(named, names);
}

void TestImportKit::refusesArchiveEntryOutside()
{
    QTemporaryDir tmp;
    QVERIFY(WriteBytes(tmp.filePath(QStringLiteral("src/x")), "outside"));
    QVERIFY(WriteBytes(tmp.filePath(QStringLiteral("src/Kit/drumkit.xml")),
                       Kit("<instrument><name>Kick</name><filename>x</filename></instrument>")));
    const QString archive = tmp.filePath(QStringLiteral("Bad.h2drumkit"));
    QCOMPARE(QProcess::execute(QStringLiteral("tar"),
                               {QStringLiteral("-czPf"), archive, QStringLiteral("-C"),
                                tmp.filePath(QStringLiteral("src/Kit")), QStringLiteral("drumkit.xml"),
                                QStringLiteral("../x")}),
             0);
    const QStringList before = FolderTree(tmp.path());
    const ToolRun run = RunTool({"import-kit", archive, tmp.filePath(QStringLiteral("out"))}, tmp.path());
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QStringLiteral("the entry \"../x\" would land outside the kit's folder")),
             qPrintable(Show(run)));
    QCOMPARE(FolderTree(tmp.path()), before);
}

// Tails are trimmed by default; --keep-tails keeps the whole sound.
void TestImportKit::keepTailsKeepsTheQuietEnd()
{
    QTemporaryDir tmp;
    const QString kit = tmp.filePath(QStringLiteral("kit"));
    QVector<qint16> hit = Square(4000, 8000);
    for (int i = 0; i < kBankRate; ++i)
        hit << qint16(i % 2 ? -5 : 5);
    QVERIFY(WriteBytes(kit + QStringLiteral("/tail.wav"), Wav16(1, kBankRate, hit)));
    QVERIFY(WriteBytes(kit + QStringLiteral("/drumkit.xml"),
                       Kit("<instrument><name>Kick</name><filename>tail.wav</filename></instrument>")));
    QVector<qint64> sizes;
    for (const QStringList &options : {QStringList(), QStringList{"--keep-tails"}}) {
        const QString out = tmp.filePath(options.isEmpty() ? QStringLiteral("trimmed") : QStringLiteral("kept"));
        const ToolRun run = RunTool(QStringList{"import-kit", kit, out} + options, tmp.path());
        QVERIFY2(run.exitCode == 0, qPrintable(Show(run)));
        const QJsonArray layers = InfoJson(out + QStringLiteral("/Test Kit - Kick.zks")).value("layers").toArray();
        QCOMPARE(layers.size(), 1);
        sizes << qint64(layers.first().toObject().value("size").toDouble());
    }
    // 4000 frames and a 10 ms fade, or all 48100 frames: layer sizes step by 512 bytes.
    QCOMPARE(sizes, (QVector<qint64>{(2 * (4000 + 441) / 512) * 512 + 512, (2 * 48100 / 512) * 512 + 512}));
}

// Run out of file descriptors, import-kit says so and stops as build-all
// does: no instrument is skipped for a reason not its own, no working folder
// stays, and the banks written are whole.
void TestImportKit::outOfDescriptors()
{
#ifndef Q_OS_UNIX
    QSKIP("The limit is set with the shell's ulimit");
#elif defined(ZK_SANITIZED)
    // The sanitizers' runtime opens files of its own, and fails first.
    QSKIP("Runs in the build without the sanitizers");
#else
    QTemporaryDir tmp;
    const QString kit = tmp.filePath(QStringLiteral("kit"));
    const QString out = tmp.filePath(QStringLiteral("out"));
    const QString temp = tmp.filePath(QStringLiteral("temp"));
    QVERIFY(QDir().mkpath(temp));
    QByteArray instruments;
    for (int k = 1; k <= 12; ++k) {
        QVERIFY(WriteBytes(kit + QStringLiteral("/s%1.wav").arg(k), Wav16(1, kBankRate, Square(14400, 8000))));
        instruments += "<instrument><name>I" + QByteArray::number(k) + "</name><filename>s" + QByteArray::number(k)
            + ".wav</filename></instrument>";
    }
    QVERIFY(WriteBytes(kit + QStringLiteral("/drumkit.xml"), Kit(instruments)));
    const QString problem = StopForWantOfDescriptorsProblem({"import-kit", "--jobs", "8", kit, out}, temp, out);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
#endif
}

void TestImportKit::kitFileNotRegular_data()
{
    QTest::addColumn<QString>("given"); // relative to the test's folder
    QTest::addColumn<QString>("fifo");
    QTest::newRow("a kit folder whose drumkit.xml is a FIFO") << "kit" << "kit/drumkit.xml";
    QTest::newRow("a .h2drumkit that is a FIFO") << "Kit.h2drumkit" << "Kit.h2drumkit";
}

void TestImportKit::kitFileNotRegular()
{
#ifndef Q_OS_UNIX
    QSKIP("FIFOs are Unix's");
#else
    QFETCH(QString, given);
    QFETCH(QString, fifo);
    QTemporaryDir tmp;
    QVERIFY(QDir().mkpath(tmp.filePath(QStringLiteral("kit"))));
    QCOMPARE(::mkfifo(QFile::encodeName(tmp.filePath(fifo)).constData(), 0600), 0);
    QProcess tool;
    StartTool(tool, {"import-kit", tmp.filePath(given), tmp.filePath(QStringLiteral("out"))}, tmp.path());
    const bool inTime = tool.waitForFinished(30000);
    if (!inTime) {
        // A tool blocked opening the FIFO is let go, so the test fails
        // rather than waits.
        const int writer = ::open(QFile::encodeName(tmp.filePath(fifo)).constData(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            ::close(writer);
        tool.kill();
        tool.waitForFinished();
    }
    QVERIFY2(inTime, "the tool waited on the FIFO");
    const QString errors = QString::fromUtf8(tool.readAllStandardError());
    QCOMPARE(tool.exitCode(), 1);
    QVERIFY2(errors.contains(QLatin1String("not a regular file")), qPrintable(errors));
    // Nothing written, and the tool's temporary folder gone.
    QStringList left{QStringLiteral("kit"), fifo};
    left.sort();
    QCOMPARE(FolderTree(tmp.path()), left);
#endif
}

void TestImportKit::archivedKitStaysInside()
{
    // A pax archive as tar makes it: a name outside ASCII, read under the C
    // locale; a second name for a sample, stored as a hard link; a sample
    // named outside the archive, which exists. No <name>: the banks take the
    // archive's.
    QTemporaryDir tmp;
    QVERIFY(WriteSounds(tmp.filePath(QStringLiteral("src/Kit"))));
    QVERIFY(QFile::rename(tmp.filePath(QStringLiteral("src/Kit/soft.wav")),
                          tmp.filePath(QStringLiteral("src/Kit/soft \u00fc.wav"))));
    QVERIFY(WriteBytes(tmp.filePath(QStringLiteral("private-memo.wav")), Wav16(1, kBankRate, Square(4000, 9000))));
#ifdef Q_OS_UNIX
    QCOMPARE(::link(QFile::encodeName(tmp.filePath(QStringLiteral("src/Kit/soft \u00fc.wav"))).constData(),
                    QFile::encodeName(tmp.filePath(QStringLiteral("src/Kit/again.wav"))).constData()),
             0);
#else
    QVERIFY(QFile::copy(tmp.filePath(QStringLiteral("src/Kit/soft \u00fc.wav")),
                        tmp.filePath(QStringLiteral("src/Kit/again.wav"))));
#endif
    QVERIFY(WriteBytes(tmp.filePath(QStringLiteral("src/Kit/drumkit.xml")),
                       "<drumkit_info><instrumentList>"
                       "<instrument><name>Kick</name><filename>soft \xc3\xbc.wav</filename></instrument>"
                       "<instrument><name>Snare</name><filename>again.wav</filename></instrument>"
                       "<instrument><name>Memo</name><filename>"
                           + QFile::encodeName(tmp.filePath(QStringLiteral("private-memo.wav")))
                           + "</filename></instrument>"
                             "<instrument><name>Memo2</name><filename>../../../../../../../../../.."
                           + QFile::encodeName(tmp.filePath(QStringLiteral("private-memo.wav")))
                           + "</filename></instrument>"
                             "</instrumentList></drumkit_info>"));
    const QString archive = tmp.filePath(QStringLiteral("Pax Kit.h2drumkit"));
    QCOMPARE(QProcess::execute(QStringLiteral("tar"), {QStringLiteral("--format=pax"), QStringLiteral("-czf"), archive,
                                                        QStringLiteral("-C"), tmp.filePath(QStringLiteral("src")),
                                                        QStringLiteral("Kit")}),
             0);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    env.insert(QStringLiteral("TMPDIR"), tmp.filePath(QStringLiteral("temp")));
    QVERIFY(QDir().mkpath(tmp.filePath(QStringLiteral("temp"))));
    const QString out = tmp.filePath(QStringLiteral("out"));
    const ToolRun run = RunCommand(QCoreApplication::applicationDirPath() + QStringLiteral("/zkstool"),
                                   {"import-kit", archive, out}, env);
    QVERIFY2(run.exitCode == 1, qPrintable(Show(run)));
    const QStringList lines = run.out.split(QLatin1Char('\n'));
    for (const QString &line :
         {QStringLiteral("Kick: 1 layer, thresholds 1 -> Pax Kit - Kick.zks"),
          QStringLiteral("Snare: 1 layer, thresholds 1 -> Pax Kit - Snare.zks"),
          QStringLiteral("Memo: skipped, no usable sample (private-memo.wav: outside the kit's archive)"),
          QStringLiteral("Memo2: skipped, no usable sample (private-memo.wav: outside the kit's archive)")})
        QVERIFY2(lines.contains(line), qPrintable(line + QStringLiteral("\n") + Show(run)));
    QCOMPARE(FolderTree(out), (QStringList{QStringLiteral("Pax Kit - Kick.zks"), QStringLiteral("Pax Kit - Snare.zks")}));
    QCOMPARE(FolderTree(tmp.filePath(QStringLiteral("temp"))), QStringList());
}

void TestImportKit::longBankNames_data()
{
    QTest::addColumn<int>("bytes"); // of the bank's name
    QTest::addColumn<QStringList>("options");
    QTest::newRow("241 bytes") << 241 << QStringList();
    QTest::newRow("255 bytes") << 255 << QStringList();
    QTest::newRow("255 bytes, --force") << 255 << QStringList{"--force"};
}

void TestImportKit::longBankNames()
{
    QFETCH(int, bytes);
    QFETCH(QStringList, options);
    // "<kit> - Kick.zks": the kit's name takes all but 11 bytes.
    const QByteArray name(bytes - 11, 'k');
    QTemporaryDir tmp;
    const QString kit = tmp.filePath(QStringLiteral("kit"));
    QVERIFY(WriteSounds(kit));
    QVERIFY(WriteBytes(kit + QStringLiteral("/drumkit.xml"),
                       "<drumkit_info><name>" + name + "</name><instrumentList><instrument><name>Kick</name>"
                       "<filename>soft.wav</filename></instrument></instrumentList></drumkit_info>"));
    const QString out = tmp.filePath(QStringLiteral("out"));
    const ToolRun run = RunTool(QStringList{"import-kit", kit, out} + options, tmp.path());
    QVERIFY2(run.exitCode == 0, qPrintable(Show(run)));
    const QString bank = QString::fromLatin1(name) + QStringLiteral(" - Kick.zks");
    QCOMPARE(QFile::encodeName(bank).size(), bytes);
    QCOMPARE(FolderTree(out), QStringList{bank});
}

ZK_TEST(TestImportKit)
#include "tst_importkit.moc"
