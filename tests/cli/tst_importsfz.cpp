#include <QtTest>

#include <QTemporaryDir>

#include "testmain.h"
#include "testsupport.h"
#include "zkslayout.h"

Q_DECLARE_METATYPE(QVector<int>)

// zkstool import-kit with an .sfz file: a bank per key.
class TestImportSfz : public QObject
{
    Q_OBJECT

private slots:
    void importsKeys_data();
    void importsKeys();
};

void TestImportSfz::importsKeys_data()
{
    QTest::addColumn<QByteArray>("sfz");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("lines");       // lines the report holds
    QTest::addColumn<QStringList>("banks");       // the banks written, by name
    QTest::addColumn<QVector<int>>("thresholds"); // of the first bank

    const QByteArray twoKeys = "<control> label_key36=Kick\n"
                               "<group> key=36\n<region> lovel=90 sample=loud.wav\n<region> hivel=89 sample=soft.wav\n"
                               "<group> key=d2 amp_veltrack=0\n<region> sample=soft.wav pitch_keycenter=38\n";
    QTest::newRow("two keys, two banks")
        << twoKeys << 0
        << QStringList{"ignored: amp_veltrack \u00d71, pitch_keycenter \u00d71",
                       "Kick: 2 layers, thresholds 90,1 -> drums - Kick.zks",
                       "d2 (38): 1 layer, thresholds 1 -> drums - d2 (38).zks",
                       "import-kit: 2 banks written, 0 skipped; 3 layers, "}
        << QStringList{"drums - Kick.zks", "drums - d2 (38).zks"} << QVector<int>{90, 1};
    QTest::newRow("a group's key over a master's range: each bank holds its key's regions")
        << QByteArray("<control> label_key36=Kick label_key38=Snare\n<master> lokey=38 hikey=38\n"
                      "<group> key=c2\n<region> sample=loud.wav\n<master> key=38\n<region> sample=soft.wav\n")
        << 0
        << QStringList{"Kick: 1 layer, thresholds 1 -> drums - Kick.zks",
                       "Snare: 1 layer, thresholds 1 -> drums - Snare.zks"}
        << QStringList{"drums - Kick.zks", "drums - Snare.zks"} << QVector<int>{1};
    QTest::newRow("regions no key or velocity plays left out")
        << QByteArray("<region> key=36 sample=soft.wav\n<region> key=36 lovel=100 hivel=20 sample=loud.wav\n"
                      "<region> key=-1 sample=loud.wav\n")
        << 0
        << QStringList{"no key or velocity in range: 2 region(s) left out",
                       "c2 (36): 1 layer, thresholds 1 -> drums - c2 (36).zks"}
        << QStringList{"drums - c2 (36).zks"} << QVector<int>{1};
    QTest::newRow("a release trigger left out")
        << QByteArray("<region> key=36 sample=soft.wav\n<region> key=36 trigger=release sample=loud.wav\n") << 0
        << QStringList{"release: 1 region(s) left out", "c2 (36): 1 layer, thresholds 1 -> drums - c2 (36).zks"}
        << QStringList{"drums - c2 (36).zks"} << QVector<int>{1};
    QTest::newRow("CRLF and a byte-order mark")
        << QByteArray("\xef\xbb\xbf<region> key=36 lovel=64 sample=loud.wav\r\n<region> key=36 hivel=63 sample=soft.wav\r\n")
        << 0 << QStringList{"c2 (36): 2 layers, thresholds 64,1 -> drums - c2 (36).zks"}
        << QStringList{"drums - c2 (36).zks"} << QVector<int>{64, 1};
    QTest::newRow("a missing sample reported, its key skipped")
        << QByteArray("<region> key=36 sample=soft.wav\n<region> key=38 sample=gone.wav\n") << 1
        << QStringList{"d2 (38): skipped, no usable sample (gone.wav: no such file)",
                       "import-kit: 1 bank written, 1 skipped; 1 layer, "}
        << QStringList{"drums - c2 (36).zks"} << QVector<int>{1};
    // Clamped to the sample: a region left empty is left out, one that ends
    // past the sample plays it to its end.
    QTest::newRow("offsets and ends beyond the sample")
        << QByteArray("<region> key=36 lovel=64 sample=loud.wav offset=9223372036854775807 end=9223372036854775807\n"
                      "<region> key=36 hivel=63 sample=soft.wav offset=2000 end=9223372036854775807\n")
        << 0
        // The reader holds them below 2^40 frames.
        << QStringList{"c2 (36): 1 layer, thresholds 1 -> drums - c2 (36).zks (loud.wav: offset 1099511627776 "
                       "and end 1099511627776 leave none of its sound, left out)"}
        << QStringList{"drums - c2 (36).zks"} << QVector<int>{1};
    QTest::newRow("a key whose only region is empty skipped")
        << QByteArray("<region> key=36 sample=soft.wav\n<region> key=38 sample=soft.wav offset=4000\n") << 1
        << QStringList{"d2 (38): skipped, no usable sample (soft.wav: offset 4000 and end -1 leave none of its "
                       "sound, left out)"}
        << QStringList{"drums - c2 (36).zks"} << QVector<int>{1};
}

void TestImportSfz::importsKeys()
{
    QFETCH(QByteArray, sfz);
    QFETCH(int, exitCode);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, banks);
    QFETCH(QVector<int>, thresholds);
    QTemporaryDir tmp;
    const QString kit = tmp.filePath(QStringLiteral("kit"));
    QVERIFY(WriteBytes(kit + QStringLiteral("/soft.wav"), Wav16(1, kBankRate, Square(4000, 2000))));
    QVERIFY(WriteBytes(kit + QStringLiteral("/loud.wav"),
                       Wav16(2, kBankRate, Interleaved(Square(4000, 20000), Square(4000, 20000)))));
    QVERIFY(WriteBytes(kit + QStringLiteral("/drums.sfz"), sfz));
    const QString out = tmp.filePath(QStringLiteral("out"));
    const ToolRun run = RunTool({"import-kit", kit + QStringLiteral("/drums.sfz"), out}, tmp.path());
    QVERIFY2(run.exitCode == exitCode, qPrintable(Show(run)));
    for (const QString &line : std::as_const(lines)) {
        bool found = false;
        for (const QString &printed : run.out.split(QLatin1Char('\n')))
            found = found || printed == line || (line.endsWith(QLatin1String(", ")) && printed.startsWith(line));
        QVERIFY2(found, qPrintable(line + QStringLiteral("\n") + Show(run)));
    }
    QCOMPARE(QDir(out).entryList(QDir::Files, QDir::Name), banks);
    QCOMPARE(StoredThresholds(out + QLatin1Char('/') + banks.first()), thresholds);
}

ZK_TEST(TestImportSfz)
#include "tst_importsfz.moc"
