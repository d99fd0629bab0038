#include <QtTest>

#include "testmain.h"
#include "testsupport.h"

#include "sfzkit.h"

namespace {

// Reads `text` as kit.sfz in `folder`, failing the test when it is refused.
SfzKit Read(const QTemporaryDir &folder, const QByteArray &text)
{
    const QString path = folder.filePath(QStringLiteral("kit.sfz"));
    WriteBytes(path, text);
    SfzKit kit;
    QString error;
    if (!ReadSfzKit(path, &kit, &error))
        qWarning("refused: %s", qPrintable(error));
    return kit;
}

// "36:1-127:kick.wav" for each region, to compare in one line.
QStringList Summary(const SfzKit &kit)
{
    QStringList lines;
    for (const SfzRegion &r : kit.regions) {
        lines << QStringLiteral("%1-%2:%3-%4:%5")
                     .arg(r.loKey)
                     .arg(r.hiKey)
                     .arg(r.loVel)
                     .arg(r.hiVel)
                     .arg(QFileInfo(r.sample).fileName());
    }
    return lines;
}

// "1:a.wav+b.wav" for each band of `key`.
QStringList Bands(const SfzKit &kit, int key, int *leftOut = nullptr)
{
    QStringList lines;
    for (const SfzBand &band : SfzKeyBands(kit, key, leftOut)) {
        QStringList names;
        for (const SfzRegion &r : band.regions)
            names << QFileInfo(r.sample).fileName();
        lines << QStringLiteral("%1:%2").arg(band.threshold).arg(names.join(QLatin1Char('+')));
    }
    return lines;
}

} // namespace

class TestSfzKit : public QObject
{
    Q_OBJECT

private slots:
    void keyNumbers_data();
    void keyNumbers();
    void inheritance();
    void valuesWithSpacesAndBackslashes();
    void definesAndIncludes();
    void includesRefused_data();
    void includesRefused();
    void bands_data();
    void bands();
    void releaseAndRoundRobinsLeftOut();
    void levelsAndFrames();
    void keyNamesAndIgnoredOpcodes();
    void lineEndsAndByteOrderMark();
};

void TestSfzKit::keyNumbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("key");
    QTest::newRow("number") << "36" << 36;
    QTest::newRow("middle c") << "c4" << 60;
    QTest::newRow("sharp") << "c#2" << 37;
    QTest::newRow("flat, upper case") << "Eb3" << 51;
    QTest::newRow("b natural") << "b1" << 35;
    QTest::newRow("b flat") << "bb1" << 34;
    QTest::newRow("lowest") << "c-1" << 0;
    QTest::newRow("highest") << "g9" << 127;
    QTest::newRow("above the range") << "g#9" << -1;
    QTest::newRow("number above") << "128" << -1;
    QTest::newRow("not a note") << "h2" << -1;
    QTest::newRow("empty") << "" << -1;
}

void TestSfzKit::keyNumbers()
{
    QFETCH(QString, text);
    QFETCH(int, key);
    QCOMPARE(SfzKeyNumber(text), key);
    if (key >= 0 && text.at(0).isLetter())
        QCOMPARE(SfzKeyNumber(SfzNoteName(key).section(QLatin1Char(' '), 0, 0)), key);
}

void TestSfzKit::inheritance()
{
    QTemporaryDir dir;
    const SfzKit kit = Read(dir, "<control> default_path=samples/\n"
                                 "<global> lovel=10 volume=-6\n"
                                 "<master> key=36\n"
                                 "<group> hivel=50\n"
                                 "<region> sample=a.wav\n"
                                 "<region> sample=b.wav lovel=51 hivel=127\n"
                                 "<group> hivel=90\n"
                                 "<region> sample=c.wav\n"
                                 "<master> key=38\n"
                                 "<region> sample=d.wav\n"
                                 "<global>\n"
                                 "<region> sample=e.wav key=40\n");
    QCOMPARE(Summary(kit), QStringList({"36-36:10-50:a.wav", "36-36:51-127:b.wav", "36-36:10-90:c.wav",
                                        "38-38:10-127:d.wav", "40-40:1-127:e.wav"}));
    QCOMPARE(kit.regions.at(0).volumeDb, -6.0);
    QCOMPARE(kit.regions.at(4).volumeDb, 0.0);
    QCOMPARE(kit.regions.at(0).sample, QDir(dir.path()).filePath(QStringLiteral("samples/a.wav")));
    QCOMPARE(kit.regions.at(0).line, 5);
    QCOMPARE(kit.name, QStringLiteral("kit"));
}

void TestSfzKit::valuesWithSpacesAndBackslashes()
{
    QTemporaryDir dir;
    const SfzKit kit = Read(dir, "<region>sample=Snare Hits\\snare 01.wav lovel=64 key=38<region> "
                                 "key=36 sample=kick one.wav\n");
    QCOMPARE(kit.regions.size(), 2);
    QCOMPARE(kit.regions.at(0).sample, QDir(dir.path()).filePath(QStringLiteral("Snare Hits/snare 01.wav")));
    QCOMPARE(kit.regions.at(0).loVel, 64);
    QCOMPARE(kit.regions.at(0).loKey, 38);
    QCOMPARE(QFileInfo(kit.regions.at(1).sample).fileName(), QStringLiteral("kick one.wav"));
}

void TestSfzKit::definesAndIncludes()
{
    QTemporaryDir dir;
    WriteBytes(dir.filePath(QStringLiteral("parts/kick.sfz")),
               "#define $KICK2 37\n<region> sample=k1.wav key=$KICK\n#include \"parts/inner.sfz\"\n");
    WriteBytes(dir.filePath(QStringLiteral("parts/inner.sfz")), "<region> sample=k2.wav key=$KICK2\n");
    const SfzKit kit = Read(dir, "#define $KICK 36\n#define $DIR parts\n#include \"$DIR/kick.sfz\"\n"
                                 "<region> sample=s.wav key=$KICK2 // a comment\n"
                                 "/* a region\n<region> sample=gone.wav */\n");
    QCOMPARE(Summary(kit), QStringList({"36-36:1-127:k1.wav", "37-37:1-127:k2.wav", "37-37:1-127:s.wav"}));
}

void TestSfzKit::includesRefused_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error");
    QTest::newRow("loop") << QByteArray("#include \"a.sfz\"\n") << "b.sfz, line 1: including a.sfz again would loop";
    QTest::newRow("outside the kit") << QByteArray("#include \"../outside.sfz\"\n")
                                     << "kit.sfz, line 1: the included file ../outside.sfz lies outside the kit's folder";
    QTest::newRow("missing") << QByteArray("\n#include \"none.sfz\"\n")
                             << "kit.sfz, line 2: the included file none.sfz does not exist";
}

void TestSfzKit::includesRefused()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    QTemporaryDir root;
    const QString folder = root.filePath(QStringLiteral("kit"));
    WriteBytes(root.filePath(QStringLiteral("outside.sfz")), "<region> sample=x.wav\n");
    WriteBytes(folder + QStringLiteral("/a.sfz"), "<region> sample=a.wav\n#include \"b.sfz\"\n");
    WriteBytes(folder + QStringLiteral("/b.sfz"), "#include \"a.sfz\"\n");
    WriteBytes(folder + QStringLiteral("/kit.sfz"), text);
    SfzKit kit;
    QString reason;
    QVERIFY(!ReadSfzKit(folder + QStringLiteral("/kit.sfz"), &kit, &reason));
    QCOMPARE(reason, error);
}

void TestSfzKit::bands_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("bands");
    QTest::newRow("soft to loud")
        << QByteArray("<group> key=38\n<region> sample=p.wav hivel=40\n<region> sample=m.wav lovel=41 hivel=90\n"
                      "<region> sample=f.wav lovel=91\n")
        << QStringList({"1:p.wav", "41:m.wav", "91:f.wav"});
    QTest::newRow("two microphones per band")
        << QByteArray("<group> key=38\n<region> sample=close1.wav hivel=63\n<region> sample=oh1.wav hivel=63\n"
                      "<region> sample=close2.wav lovel=64\n<region> sample=oh2.wav lovel=64\n")
        << QStringList({"1:close1.wav+oh1.wav", "64:close2.wav+oh2.wav"});
    QTest::newRow("a room microphone over every band")
        << QByteArray("<group> key=38\n<region> sample=soft.wav hivel=63\n<region> sample=hard.wav lovel=64\n"
                      "<region> sample=room.wav\n")
        << QStringList({"1:soft.wav+room.wav", "64:hard.wav+room.wav"});
    QTest::newRow("a gap plays the band below")
        << QByteArray("<group> key=38\n<region> sample=p.wav lovel=10 hivel=30\n<region> sample=f.wav lovel=100\n")
        << QStringList({"10:p.wav", "100:f.wav"});
    QTest::newRow("another key's regions")
        << QByteArray("<region> sample=p.wav key=38\n<region> sample=k.wav lokey=30 hikey=37\n")
        << QStringList({"1:p.wav"});
}

void TestSfzKit::bands()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, bands);
    QTemporaryDir dir;
    const SfzKit kit = Read(dir, text);
    QCOMPARE(Bands(kit, 38), bands);
}

void TestSfzKit::releaseAndRoundRobinsLeftOut()
{
    QTemporaryDir dir;
    const SfzKit kit = Read(dir, "<group> key=40 seq_length=3\n"
                                 "<region> sample=rr1.wav seq_position=1\n"
                                 "<region> sample=rr2.wav seq_position=2\n"
                                 "<region> sample=rr3.wav seq_position=3\n"
                                 "<group> key=41\n"
                                 "<region> sample=r2.wav lorand=0.5 hirand=1\n"
                                 "<region> sample=r1.wav lorand=0 hirand=0.5\n"
                                 "<region> sample=release.wav trigger=release\n");
    int leftOut = 0;
    QCOMPARE(Bands(kit, 40, &leftOut), QStringList({"1:rr1.wav"}));
    QCOMPARE(leftOut, 2);
    QCOMPARE(Bands(kit, 41, &leftOut), QStringList({"1:r1.wav"}));
    QCOMPARE(leftOut, 1);
    QCOMPARE(kit.releaseRegions, 1);
    QCOMPARE(SfzKeys(kit), QVector<int>({40, 41}));
}

void TestSfzKit::levelsAndFrames()
{
    QTemporaryDir dir;
    const SfzKit kit = Read(dir, "<region> sample=a.wav volume=-6.0206 amplitude=50 offset=100 end=900\n"
                                 "<region> sample=b.wav offset=-3 end=0\n");
    QCOMPARE(kit.regions.size(), 2);
    QVERIFY(qAbs(kit.regions.at(0).Gain() - 0.25) < 1e-4);
    QCOMPARE(kit.regions.at(0).offset, qint64(100));
    QCOMPARE(kit.regions.at(0).end, qint64(900));
    // Values that make no sense leave the defaults.
    QCOMPARE(kit.regions.at(1).offset, qint64(0));
    QCOMPARE(kit.regions.at(1).end, qint64(-1));
    QCOMPARE(kit.regions.at(1).Gain(), 1.0);
}

void TestSfzKit::keyNamesAndIgnoredOpcodes()
{
    QTemporaryDir dir;
    const SfzKit kit = Read(dir, "<control> label_key36=Kick label_key38=Snare\n"
                                 "<group> amp_veltrack=100 pitch_keycenter=36\n"
                                 "<region> sample=k.wav key=36 pitch_keycenter=36\n"
                                 "<region> sample=t.wav key=c3 note_name=Tom\n");
    QCOMPARE(kit.keyNames.value(36), QStringLiteral("Kick"));
    QCOMPARE(kit.keyNames.value(38), QStringLiteral("Snare"));
    QCOMPARE(kit.keyNames.value(48), QStringLiteral("Tom"));
    QCOMPARE(SfzIgnoredLine(kit), QStringLiteral("ignored: amp_veltrack \u00d71, pitch_keycenter \u00d72"));
    QCOMPARE(SfzNoteName(36), QStringLiteral("c2 (36)"));
    QCOMPARE(SfzNoteName(61), QStringLiteral("c#4 (61)"));
}

void TestSfzKit::lineEndsAndByteOrderMark()
{
    QTemporaryDir dir;
    const SfzKit kit = Read(dir, "\xEF\xBB\xBF<region> sample=a.wav key=36\r\n<region>\r\nsample=b b.wav\r\nkey=37\r\n");
    QCOMPARE(Summary(kit), QStringList({"36-36:1-127:a.wav", "37-37:1-127:b b.wav"}));
    QCOMPARE(kit.regions.at(1).line, 2);
}

ZK_TEST(TestSfzKit)
#include "tst_sfzkit.moc"
