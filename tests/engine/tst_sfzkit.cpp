#include <QtTest>

#include "testmain.h"
#include "testsupport.h"

#include "sfzkit.h"

#include <atomic>
#include <chrono>
#include <future>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

Q_DECLARE_METATYPE(QVector<int>)

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
    void includeChainDepth_data();
    void includeChainDepth();
    void fifoRefused_data();
    void fifoRefused();
    void definesBounded_data();
    void definesBounded();
    void keyRanges_data();
    void keyRanges();
    void bands_data();
    void bands();
    void releaseAndRoundRobinsLeftOut();
    void levelsAndFrames();
    void framesBounded_data();
    void framesBounded();
    void manyRegions_data();
    void manyRegions();
    void manyOpcodes();
    void tooManyRegions_data();
    void tooManyRegions();
    void cancelled();
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
    // Included again and again, not in a loop, a file still adds its text each time.
    QTest::newRow("more text than a kit holds")
        << QByteArray("#include \"big.sfz\"\n").repeated(17)
        << "kit.sfz, line 17: including big.sfz makes the kit's text larger than 16777216 bytes";
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
    WriteBytes(folder + QStringLiteral("/big.sfz"), QByteArray(1000000, ' '));
    WriteBytes(folder + QStringLiteral("/kit.sfz"), text);
    SfzKit kit;
    QString reason;
    QVERIFY(!ReadSfzKit(folder + QStringLiteral("/kit.sfz"), &kit, &reason));
    QCOMPARE(reason, error);
}

void TestSfzKit::includeChainDepth_data()
{
    QTest::addColumn<int>("first");    // the file kit.sfz includes: d1.sfz includes d2.sfz, ...
    QTest::addColumn<QString>("error"); // empty when the kit is read
    QTest::newRow("16 files deep") << 2 << QString();
    QTest::newRow("17 files deep")
        << 1 << "d16.sfz, line 1: including d17.sfz makes a chain of includes deeper than 16 files";
}

void TestSfzKit::includeChainDepth()
{
    QFETCH(int, first);
    QFETCH(QString, error);
    QTemporaryDir dir;
    for (int i = 1; i < 17; ++i)
        WriteBytes(dir.filePath(QStringLiteral("d%1.sfz").arg(i)),
                   QStringLiteral("#include \"d%1.sfz\"\n").arg(i + 1).toUtf8());
    WriteBytes(dir.filePath(QStringLiteral("d17.sfz")), "<region> sample=deep.wav key=36\n");
    const QString path = dir.filePath(QStringLiteral("kit.sfz"));
    WriteBytes(path, QStringLiteral("#include \"d%1.sfz\"\n").arg(first).toUtf8());
    SfzKit kit;
    QString reason;
    QCOMPARE(ReadSfzKit(path, &kit, &reason), error.isEmpty());
    QCOMPARE(reason, error);
    QCOMPARE(kit.regions.size(), error.isEmpty() ? 1 : 0);
}

void TestSfzKit::fifoRefused_data()
{
    QTest::addColumn<QString>("fifo");
    QTest::addColumn<QString>("error");
#ifdef Q_OS_UNIX
    QTest::newRow("the kit itself") << "kit.sfz" << "kit.sfz: can't be read (not a regular file)";
    QTest::newRow("an included file")
        << "part.sfz" << "kit.sfz, line 2: the included file part.sfz can't be read (not a regular file)";
#endif
}

void TestSfzKit::fifoRefused()
{
#ifdef Q_OS_UNIX
    QFETCH(QString, fifo);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kit.sfz"));
    if (fifo != QLatin1String("kit.sfz"))
        WriteBytes(path, "<region> sample=a.wav key=36\n#include \"part.sfz\"\n");
    const QByteArray fifoPath = QFile::encodeName(dir.filePath(fifo));
    QCOMPARE(::mkfifo(fifoPath.constData(), 0600), 0);
    auto reading = std::async(std::launch::async, [path] {
        SfzKit kit;
        QString reason;
        return ReadSfzKit(path, &kit, &reason) ? QString() : reason;
    });
    if (reading.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        // A writer coming and going lets a blocked open return, so the test ends either way.
        const int fd = ::open(fifoPath.constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        reading.wait();
        QFAIL("the reader waited for a writer to the FIFO");
    }
    QCOMPARE(reading.get(), error);
#else
    QSKIP("FIFOs are a Unix matter");
#endif
}

void TestSfzKit::definesBounded_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error"); // a pattern
    QTest::newRow("a define doubling itself")
        << QByteArray("#define $A $A$A\n").repeated(40) + "<region> sample=$A.wav key=36\n"
        << "^kit\\.sfz, line \\d+: #define expansion makes the kit's text larger than 16777216 characters$";
    QTest::newRow("more substitutions than any kit makes")
        << "#define $E e\n<region> key=36 sample=" + QByteArray("$E").repeated(1000001) + ".wav\n"
        << "^kit\\.sfz, line 2: more than 1000000 #define substitutions$";
    QTest::newRow("a name longer than any kit uses")
        << "#define $" + QByteArray(65, 'n') + " 36\n<region> sample=a.wav key=36\n"
        << "^kit\\.sfz, line 1: a #define name longer than 64 characters$";
}

void TestSfzKit::definesBounded()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kit.sfz"));
    WriteBytes(path, text);
    SfzKit kit;
    QString reason;
    QVERIFY(!ReadSfzKit(path, &kit, &reason));
    QVERIFY2(QRegularExpression(error).match(reason).hasMatch(), qPrintable(reason));
}

void TestSfzKit::keyRanges_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("regions");
    QTest::addColumn<QVector<int>>("keys");
    QTest::addColumn<int>("center");   // the first region's pitch_keycenter
    QTest::addColumn<int>("unplayed"); // regions no key or velocity plays

    // Opcodes apply from the outermost header inward, and at one level in
    // the order written; key= sets both ends and the pitch centre.
    QTest::newRow("a group's key over a master's range")
        << QByteArray("<master> lokey=38 hikey=38\n<group> key=c2\n<region> sample=k1.wav\n"
                      "<region> sample=k2.wav\n")
        << QStringList{"36-36:1-127:k1.wav", "36-36:1-127:k2.wav"} << QVector<int>{36} << 36 << 0;
    QTest::newRow("a region's key over a group's range")
        << QByteArray("<group> lokey=36 hikey=36\n<region> sample=s.wav key=38\n")
        << QStringList{"38-38:1-127:s.wav"} << QVector<int>{38} << 38 << 0;
    QTest::newRow("a region's range over a group's key")
        << QByteArray("<group> key=36\n<region> sample=t.wav lokey=40 hikey=42\n")
        << QStringList{"40-42:1-127:t.wav"} << QVector<int>{40, 41, 42} << 36 << 0;
    QTest::newRow("one level, in the order written")
        << QByteArray("<region> sample=a.wav key=36 lokey=34 pitch_keycenter=35\n"
                      "<region> sample=b.wav lokey=30 key=37\n")
        << QStringList{"34-36:1-127:a.wav", "37-37:1-127:b.wav"} << QVector<int>{34, 35, 36, 37} << 35
        << 0;
    QTest::newRow("a top key below the bottom key plays none")
        << QByteArray("<group> key=40\n<region> sample=a.wav hikey=38\n<region> sample=b.wav key=41\n")
        << QStringList{"41-41:1-127:b.wav"} << QVector<int>{41} << 41 << 1;
    QTest::newRow("a top velocity below the bottom one plays none")
        << QByteArray("<region> sample=a.wav key=36 lovel=100 hivel=50\n<region> sample=b.wav key=37\n")
        << QStringList{"37-37:1-127:b.wav"} << QVector<int>{37} << 37 << 1;
    QTest::newRow("key -1: played by no key")
        << QByteArray("<region> sample=cc.wav key=-1\n<region> sample=b.wav hikey=-1\n"
                      "<region> sample=low.wav lokey=-1 hikey=1\n")
        << QStringList{"0-1:1-127:low.wav"} << QVector<int>{0, 1} << 60 << 2;
    QTest::newRow("only later round robins")
        << QByteArray("<group> key=40 seq_length=3\n<region> sample=rr2.wav seq_position=2\n"
                      "<region> sample=rr3.wav seq_position=3\n")
        << QStringList{"40-40:1-127:rr2.wav", "40-40:1-127:rr3.wav"} << QVector<int>{40} << 40 << 0;
}

void TestSfzKit::keyRanges()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, regions);
    QFETCH(QVector<int>, keys);
    QFETCH(int, center);
    QFETCH(int, unplayed);
    QTemporaryDir dir;
    const SfzKit kit = Read(dir, text);
    QCOMPARE(Summary(kit), regions);
    QCOMPARE(SfzKeys(kit), keys);
    QCOMPARE(kit.regions.first().pitchKeyCenter, center);
    QCOMPARE(kit.unplayedRegions, unplayed);
    // A key is listed exactly when a hit on it plays something.
    for (int key = 0; key <= 127; ++key)
        QVERIFY2(SfzKeyBands(kit, key, nullptr).isEmpty() != keys.contains(key), qPrintable(QString::number(key)));
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
    QTest::newRow("the first round robin present")
        << QByteArray("<group> key=38 seq_length=3\n<region> sample=rr3.wav seq_position=3\n"
                      "<region> sample=rr2.wav seq_position=2\n")
        << QStringList({"1:rr2.wav"});
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

void TestSfzKit::framesBounded_data()
{
    QTest::addColumn<QByteArray>("opcodes");
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<qint64>("end");
    const qint64 most = qint64(1) << 40;
    QTest::newRow("within") << QByteArray("offset=48000 end=96000") << qint64(48000) << qint64(96000);
    QTest::newRow("the largest 64-bit number")
        << QByteArray("offset=9223372036854775807 end=9223372036854775807") << most << most;
    QTest::newRow("beyond 64 bits")
        << QByteArray("offset=99999999999999999999999 end=99999999999999999999999") << most << most;
    QTest::newRow("negative") << QByteArray("offset=-5 end=-9223372036854775808") << qint64(0) << qint64(-1);
    QTest::newRow("not a number") << QByteArray("offset=12abc end=x") << qint64(0) << qint64(-1);
}

void TestSfzKit::framesBounded()
{
    QFETCH(QByteArray, opcodes);
    QFETCH(qint64, offset);
    QFETCH(qint64, end);
    QTemporaryDir dir;
    const SfzKit kit = Read(dir, "<region> sample=a.wav key=36 " + opcodes + "\n");
    QCOMPARE(kit.regions.size(), 1);
    QCOMPARE(kit.regions.first().offset, offset);
    QCOMPARE(kit.regions.first().end, end);
}

void TestSfzKit::manyRegions_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("opcodes"); // each region's, beside its sample
    QTest::addColumn<int>("keys"); // each with one band holding every region
    QTest::newRow("10,000 regions without a key") << 10000 << QByteArray() << 128;
    QTest::newRow("100,000 regions on one key") << 100000 << QByteArray(" key=36") << 1;
}

void TestSfzKit::manyRegions()
{
    QFETCH(int, count);
    QFETCH(QByteArray, opcodes);
    QFETCH(int, keys);
    QByteArray text;
    for (int i = 0; i < count; ++i)
        text += "<region> sample=s" + QByteArray::number(i) + ".wav" + opcodes + "\n";
    QTemporaryDir dir;
    const SfzKit kit = Read(dir, text);
    QCOMPARE(SfzKeys(kit).size(), keys);
    // As an import goes through them: every key's bands.
    for (int key : SfzKeys(kit)) {
        int leftOut = -1;
        const QVector<SfzBand> bands = SfzKeyBands(kit, key, &leftOut);
        QCOMPARE(bands.size(), 1);
        QCOMPARE(bands.first().regions.size(), count);
        QCOMPARE(QFileInfo(bands.first().regions.last().sample).fileName(), QStringLiteral("s%1.wav").arg(count - 1));
        QCOMPARE(leftOut, 0);
    }
}

void TestSfzKit::manyOpcodes()
{
    // A group of 100,000 opcodes, most of them made up, over 10,000 regions.
    QByteArray group = "<group> key=36";
    for (int i = 0; i < 50000; ++i)
        group += " made_up" + QByteArray::number(i) + "=1 lovel=" + QByteArray::number(1 + i % 100);
    QByteArray text = group + "\n";
    for (int i = 0; i < 10000; ++i)
        text += "<region> sample=s" + QByteArray::number(i) + ".wav\n";
    QTemporaryDir dir;
    const SfzKit kit = Read(dir, text);
    QCOMPARE(kit.regions.size(), 10000);
    QCOMPARE(kit.regions.last().loVel, 100);
    QCOMPARE(SfzKeys(kit), QVector<int>{36});
    // Reported by name up to a point, then together.
    QCOMPARE(kit.ignored.size(), 65);
    QCOMPARE(kit.ignored.value(QStringLiteral("made_up0")), 1);
    QCOMPARE(kit.ignored.value(QStringLiteral("(other opcodes)")), 50000 - 64);
}

void TestSfzKit::tooManyRegions_data()
{
    QTest::addColumn<int>("count"); // regions, each over all 128 keys
    QTest::addColumn<QString>("error");
    QTest::newRow("as many as a kit may have") << 31250 << QString();
    QTest::newRow("one more")
        << 31251
        << "kit.sfz: 31251 regions playing 4000128 keys in all are more than a drum kit holds (at most 4000000)";
}

void TestSfzKit::tooManyRegions()
{
    QFETCH(int, count);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kit.sfz"));
    WriteBytes(path, QByteArray("<region> sample=a.wav\n").repeated(count));
    SfzKit kit;
    QString reason;
    QCOMPARE(ReadSfzKit(path, &kit, &reason), error.isEmpty());
    QCOMPARE(reason, error);
    // A refused kit holds nothing half read.
    QCOMPARE(SfzKeys(kit).size(), error.isEmpty() ? 128 : 0);
}

void TestSfzKit::cancelled()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kit.sfz"));
    WriteBytes(path, "<region> sample=a.wav key=36\n");
    const std::atomic<bool> cancelled{true};
    SfzKit kit;
    QString reason;
    QVERIFY(!ReadSfzKit(path, &kit, &reason, &cancelled));
    QCOMPARE(reason, QStringLiteral("cancelled"));
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
