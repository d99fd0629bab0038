#include <QtTest>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

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

QJsonObject InfoJson(const QString &bank)
{
    return QJsonDocument::fromJson(RunTool({"info", bank, "--json"}).out.toUtf8()).object();
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

ZK_TEST(TestImportKit)
#include "tst_importkit.moc"
