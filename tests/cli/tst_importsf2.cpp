#include <QtTest>

#include <QTemporaryDir>

#include "testmain.h"
#include "testsupport.h"

Q_DECLARE_METATYPE(QVector<int>)

// zkstool import-kit with a SoundFont: a bank per key of the chosen presets.
class TestImportSf2 : public QObject
{
    Q_OBJECT

private slots:
    void importsPresets_data();
    void importsPresets();
    void damagedFontWritesNothing();
    void presetOnlyForSoundFonts();
};

void TestImportSf2::importsPresets_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("lines");       // lines the report holds, or the error line
    QTest::addColumn<QStringList>("banks");       // the banks written, by name
    QTest::addColumn<QVector<int>>("thresholds"); // of the first bank

    const QStringList drumLines{"preset Drums (128:0): keys 36, 38",
                                "Drums - 36 Bass Drum 1: 2 layers, thresholds 64,1 -> Drums - 36 Bass Drum 1.zks",
                                "Drums - 38 Acoustic Snare: 1 layer, thresholds 1 -> Drums - 38 Acoustic Snare.zks"};
    const QStringList drumBanks{"Drums - 36 Bass Drum 1.zks", "Drums - 38 Acoustic Snare.zks"};
    QTest::newRow("the drum bank by default") << QStringList() << 0 << drumLines << drumBanks << QVector<int>{64, 1};
    QTest::newRow("a preset by bank and program")
        << QStringList{"--preset", "128:0"} << 0 << drumLines << drumBanks << QVector<int>{64, 1};
    QTest::newRow("a preset by name")
        << QStringList{"--preset", "MELODY"} << 0
        << QStringList{"preset Melody (0:0): keys 84", "Melody - c6 (84): 1 layer, thresholds 1 -> Melody - c6 (84).zks"}
        << QStringList{"Melody - c6 (84).zks"} << QVector<int>{1};
    QTest::newRow("the dry run lists presets and keys, writes nothing")
        << QStringList{"--dry-run"} << 0 << drumLines << QStringList() << QVector<int>();
    QTest::newRow("no such preset refused")
        << QStringList{"--preset", "9:9"} << 1
        << QStringList{"zkstool: KIT: no preset \"9:9\"; the file has Drums (128:0), Melody (0:0)"}
        << QStringList() << QVector<int>();
}

void TestImportSf2::importsPresets()
{
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, banks);
    QFETCH(QVector<int>, thresholds);
    QTemporaryDir tmp;
    const QString font = tmp.filePath(QStringLiteral("kit.sf2"));
    QVERIFY(WriteBytes(font, Sf2File(TwoPresetFont())));
    const QString out = tmp.filePath(QStringLiteral("out"));
    const ToolRun run = RunTool(QStringList{"import-kit", font, out} + options, tmp.path());
    QVERIFY2(run.exitCode == exitCode, qPrintable(Show(run)));
    const QStringList printed = QString(run.out + run.err).replace(font, QStringLiteral("KIT")).split(QLatin1Char('\n'));
    for (const QString &line : std::as_const(lines))
        QVERIFY2(printed.contains(line), qPrintable(line + QStringLiteral("\n") + Show(run)));
    QCOMPARE(QDir(out).entryList(QDir::Files, QDir::Name), banks);
    if (!banks.isEmpty())
        QCOMPARE(StoredThresholds(out + QLatin1Char('/') + banks.first()), thresholds);
}

// A file whose sample runs past the sample data is refused with the line
// that says so, and no folder or bank is made.
void TestImportSf2::damagedFontWritesNothing()
{
    Sf2TestFont broken = TwoPresetFont();
    broken.samples[2].end = 1 << 30;
    QTemporaryDir tmp;
    const QString font = tmp.filePath(QStringLiteral("kit.sf2"));
    QVERIFY(WriteBytes(font, Sf2File(broken)));
    const ToolRun run = RunTool({"import-kit", font, tmp.filePath(QStringLiteral("out"))}, tmp.path());
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err, "zkstool: " + font + ": sample 2 (tom) ends past the sample data\n");
    QCOMPARE(FolderTree(tmp.path()), QStringList{"kit.sf2"});
}

void TestImportSf2::presetOnlyForSoundFonts()
{
    QTemporaryDir tmp;
    const ToolRun run = RunTool({"import-kit", tmp.filePath("drums.sfz"), tmp.filePath("out"), "--preset", "Drums"},
                                tmp.path());
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.startsWith("zkstool: --preset chooses among a SoundFont's presets; KIT is no .sf2 file\n"),
             qPrintable(Show(run)));
    QCOMPARE(FolderTree(tmp.path()), QStringList());
}

ZK_TEST(TestImportSf2)
#include "tst_importsf2.moc"
