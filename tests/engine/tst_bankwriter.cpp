#include <QtTest>

#include <QDateTime>
#include <QScopeGuard>

#include <cerrno>
#include <system_error>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#endif

#include "fileprocessor.h"
#include "testmain.h"
#include "testsupport.h"
#include "zksbank.h"
#include "zkslayout.h"

Q_DECLARE_METATYPE(QVector<int>)

namespace {

constexpr quint32 kLargestTag = 32767u * 32767u;

// A mono 16-bit WAVE whose samples count up from `first`, none of them
// silent, so every byte of a region can be traced back to its source.
QByteArray RampWav(int dataBytes, int first = 1000)
{
    return CanonicalWavHeader(1, 44100, 16, quint32(dataBytes)) + Pcm(Ramp(dataBytes / 2, first));
}

QByteArray LE32(quint32 value)
{
    QByteArray bytes;
    AppendLE(bytes, value, 4);
    return bytes;
}

quint32 TagOf(const QByteArray &bank)
{
    return ReadLE(bank, 32, 4);
}

GeneratorArgs Args(const QString &target, const QVector<int> &sizes,
                   const QVector<int> &thresholds = {})
{
    GeneratorArgs args;
    args.TargetPath = target;
    args.TargetName = QFileInfo(target).fileName();
    args.LayerCount = sizes.size();
    for (int i = 0; i < 8; ++i) {
        args.LayerSize[i] = i < sizes.size() ? sizes.at(i) : 0;
        args.Threshold[i] = i < thresholds.size() ? thresholds.at(i) : 1;
    }
    return args;
}

// The seconds since the epoch around one call, to match a bank's tag to the
// second it was generated in.
struct Window {
    qint64 from = 0;
    qint64 to = 0;
};

bool TagFromWindow(quint32 tag, Window w)
{
    for (qint64 t = w.from; t <= w.to; ++t) {
        if (RandomTag(t) == tag)
            return true;
    }
    return false;
}

} // namespace

class TestBankWriter : public QObject
{
    Q_OBJECT

private slots:
    void workedExample();
    void header_data();
    void header();
    void nameBlock_data();
    void nameBlock();
    void layer_data();
    void layer();
    void shortLayerAfterLongOne();
    void budgetBoundary();
    void argsFromLayers();
    void largeLayersReadBack_data();
    void largeLayersReadBack();
    void failures_data();
    void failures();
    void writeFailure_data();
    void writeFailure();
    void randomTag_data();
    void randomTag();
    void randomTagRange();
    void sameSecondSameTag();
};

void TestBankWriter::workedExample()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray soft = RampWav(100000);
    const QByteArray hard = RampWav(200000, -5000);
    QVERIFY(WriteBytes(dir.filePath("soft.wav"), soft));
    QVERIFY(WriteBytes(dir.filePath("hard.wav"), hard));

    // The layer sizes come from the sound check, as when the layers were added.
    const int softSize = OpenAndCheckFile(dir.filePath("soft.wav"));
    const int hardSize = OpenAndCheckFile(dir.filePath("hard.wav"));
    QCOMPARE(softSize, 100352);
    QCOMPARE(hardSize, 200192);

    GeneratorArgs args
        = Args(dir.filePath("kit.zks"), {softSize, hardSize}, {64, 1, 1, 1, 1, 1, 1, 1});
    args.LayerPath[0] = dir.filePath("soft.wav");
    args.LayerPath[1] = dir.filePath("hard.wav");
    args.LayerName[0] = QStringLiteral("soft.wav");
    args.LayerName[1] = QStringLiteral("hard.wav");

    QTest::ignoreMessage(QtDebugMsg, "Quantity Of Files 2");
    Window when;
    when.from = QDateTime::currentSecsSinceEpoch();
    QCOMPARE(GenerateZKS(args), qint32(GENERATE_OK));
    when.to = QDateTime::currentSecsSinceEpoch();

    const QByteArray bank = ReadAll(args.TargetPath);
    QCOMPARE(bank.size(), 301056);

    const QByteArray expected = QByteArray("Quadrel(tm) inc, California, USA") + bank.mid(32, 4)
        + QByteArray::fromHex("04 01 01 0A 12 34 56 78 91"
                              "78 5A 46"
                              "C4 00 87 01 87 01 87 01"
                              "00 02 00 00 00 8A 01 00 00 8A 01 00 00 8A 01 00"
                              "40 01 01 01 01 01 01 01"
                              "88 01 0E 03 00 00 00 00 00 00 00 00 00 00 00 00"
                              "00 00 00 00 00 00 00 00")
        + QByteArray("\nkit.zks\nsoft.wav\nhard.wav\n\n\n\n\n\n\n") + QByteArray(375, '~');
    QCOMPARE(expected.size(), 512);
    QCOMPARE(bank.left(512), expected);
    QVERIFY2(TagFromWindow(TagOf(bank), when), "the tag is not the one seeded by the time");

    // Gate 0: each region is the audio as it was, then zeros.
    QCOMPARE(bank.mid(512, 100000), soft.mid(44));
    QCOMPARE(bank.mid(100512, 352), QByteArray(352, '\0'));
    QCOMPARE(bank.mid(100864, 200000), hard.mid(44));
    QCOMPARE(bank.mid(300864), QByteArray(192, '\0'));
}

void TestBankWriter::header_data()
{
    QTest::addColumn<QVector<int>>("sizes");
    QTest::addColumn<QVector<int>>("thresholds");
    QTest::addColumn<QByteArray>("tables"); // bytes 45..103, as hex

    QTest::newRow("N = 0: header only")
        << QVector<int>{} << QVector<int>{1, 1, 1, 1, 1, 1, 1, 1}
        << QByteArray("78 5A 46"
                      "0000 0000 0000 0000"
                      "00020000 00020000 00020000 00020000"
                      "01 01 01 01 01 01 01 01"
                      "0000 0000 0000 0000 0000 0000 0000 0000");
    QTest::newRow("N = 1: four-slot entries repeat slot 1")
        << QVector<int>{1024} << QVector<int>{1, 1, 1, 1, 1, 1, 1, 1}
        << QByteArray("78 5A 46"
                      "0200 0200 0200 0200"
                      "00020000 00020000 00020000 00020000"
                      "01 01 01 01 01 01 01 01"
                      "0400 0000 0000 0000 0000 0000 0000 0000");
    QTest::newRow("N = 3: constant four-slot thresholds, entry 4 repeats 3")
        << QVector<int>{1024, 1536, 2048} << QVector<int>{85, 43, 1, 1, 1, 1, 1, 1}
        << QByteArray("78 5A 46"
                      "0200 0300 0400 0400"
                      "00020000 00060000 000C0000 000C0000"
                      "55 2B 01 01 01 01 01 01"
                      "0400 0600 0800 0000 0000 0000 0000 0000");
    QTest::newRow("N = 4: thresholds 200, -1, -2, 0 stored as 72, 127, 126, 0")
        << QVector<int>{512, 1024, 1536, 2048} << QVector<int>{200, -1, -2, 0, 1, 1, -1, 1}
        << QByteArray("48 7F 7E"
                      "0100 0200 0300 0400"
                      "00020000 00040000 00080000 000E0000"
                      "48 7F 7E 00 01 01 7F 01"
                      "0200 0400 0600 0800 0000 0000 0000 0000");
    QTest::newRow("N = 8: four-slot tables hold slots 1..4 only")
        << QVector<int>{512, 1024, 1536, 2048, 2560, 3072, 3584, 4096}
        << QVector<int>{113, 97, 81, 65, 49, 33, 17, 1}
        << QByteArray("71 61 51"
                      "0100 0200 0300 0400"
                      "00020000 00040000 00080000 000E0000"
                      "71 61 51 41 31 21 11 01"
                      "0200 0400 0600 0800 0A00 0C00 0E00 1000");
    QTest::newRow("largest layer 3,141,632 in both size tables")
        << QVector<int>{3141632} << QVector<int>{1, 1, 1, 1, 1, 1, 1, 1}
        << QByteArray("78 5A 46"
                      "F817 F817 F817 F817"
                      "00020000 00020000 00020000 00020000"
                      "01 01 01 01 01 01 01 01"
                      "F00F 0000 0000 0000 0000 0000 0000 0000");
    QTest::newRow("layer 0x200000 loses its top bit in the size units")
        << QVector<int>{0x200000, 512} << QVector<int>{64, 1, 1, 1, 1, 1, 1, 1}
        << QByteArray("78 5A 46"
                      "0010 0100 0100 0100"
                      "00020000 00022000 00022000 00022000"
                      "40 01 01 01 01 01 01 01"
                      "0000 0200 0000 0000 0000 0000 0000 0000");
}

void TestBankWriter::header()
{
    QFETCH(QVector<int>, sizes);
    QFETCH(QVector<int>, thresholds);
    QFETCH(QByteArray, tables);

    GeneratorArgs args = Args(QStringLiteral("/banks/t.zks"), sizes, thresholds);
    const QByteArray header = BuildZKSHeader(args, 0x89ABCDEF);

    QCOMPARE(header.size(), 512);
    QCOMPARE(header.left(32), QByteArray("Quadrel(tm) inc, California, USA"));
    QCOMPARE(header.mid(32, 4), QByteArray::fromHex("EF CD AB 89"));
    QCOMPARE(header.mid(36, 9), QByteArray::fromHex("04 01 01 0A 12 34 56 78 91"));
    QCOMPARE(header.mid(45, 51), QByteArray::fromHex(tables));
    QCOMPARE(header.mid(96, 8), QByteArray(8, '\0'));
    QCOMPARE(header.mid(104, 15), QByteArray("\nt.zks\n\n\n\n\n\n\n\n\n"));
    QCOMPARE(header.mid(119), QByteArray(393, '~'));
}

void TestBankWriter::nameBlock_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QByteArray>("block"); // from offset 104 up to the fill
    QTest::addColumn<int>("headerSize");

    QTest::newRow("UTF-8 names")
        << QStringLiteral("\u00DCberkit.zks")
        << QStringList{QStringLiteral("\u9F13.wav"), QStringLiteral("\U0001F941.wav"),
                       QStringLiteral("caf\u00E9.wav")}
        << QByteArray("\n\xC3\x9C" "berkit.zks\n\xE9\xBC\x93.wav\n\xF0\x9F\xA5\x81.wav\n"
                      "caf\xC3\xA9.wav\n\n\n\n\n\n")
        << 512;
    QTest::newRow("names of 397 bytes: one byte of fill")
        << QString(397, 'a') << QStringList() << "\n" + QByteArray(397, 'a') + "\n\n\n\n\n\n\n\n\n"
        << 512;
    QTest::newRow("name block ending on 512: a whole block of fill")
        << QString(398, 'a') << QStringList() << "\n" + QByteArray(398, 'a') + "\n\n\n\n\n\n\n\n\n"
        << 1024;
    QTest::newRow("long target name, written whole")
        << QString(1000, 'k') << QStringList{QStringLiteral("x.wav")}
        << "\n" + QByteArray(1000, 'k') + "\nx.wav\n\n\n\n\n\n\n\n" << 1536;
}

void TestBankWriter::nameBlock()
{
    QFETCH(QString, target);
    QFETCH(QStringList, names);
    QFETCH(QByteArray, block);
    QFETCH(int, headerSize);

    QVector<int> sizes(names.size(), 512);
    GeneratorArgs args = Args(QString(), sizes);
    args.TargetName = target;
    for (int i = 0; i < names.size(); ++i)
        args.LayerName[i] = names.at(i);
    const QByteArray header = BuildZKSHeader(args, 0);

    QCOMPARE(header.size(), headerSize);
    QCOMPARE(header.mid(104, block.size()), block);
    const int fill = headerSize - 104 - block.size();
    QCOMPARE(header.mid(104 + block.size()), QByteArray(fill, '~'));
    // The first region starts right after the header.
    QCOMPARE(header.mid(56, 4), LE32(quint32(headerSize)));
}

void TestBankWriter::layer_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("layerSize");
    QTest::addColumn<int>("gate");
    QTest::addColumn<QByteArray>("audio"); // the region before its zero padding

    const auto mono = [](const QVector<int> &s) {
        return Wav16(1, 44100, QVector<qint16>(s.begin(), s.end()));
    };
    const auto stereo = [](const QVector<int> &s) {
        return Wav16(2, 44100, QVector<qint16>(s.begin(), s.end()));
    };

    QTest::newRow("gate 0 never cuts") << mono({0, 0, 1, -1, 0}) << 512 << 0
                                       << Pcm({0, 0, 1, -1, 0});
    QTest::newRow("stereo keeps the left samples")
        << stereo({100, -100, 200, -200, 300, -300}) << 512 << 0 << Pcm({100, 200, 300});
    QTest::newRow("stereo ending inside a frame: half its bytes")
        << CanonicalWavHeader(2, 44100, 16, 10) + Pcm({100, -100, 200, -200, 300}) << 512 << 0
        << Pcm({100, 200}) + Pcm({200}).left(1);
    QTest::newRow("stereo: the gate judges the left samples")
        << stereo({0, 30000, 5, 30000, 400, 0, 0, 0}) << 512 << 328 << Pcm({400, 0});
    QTest::newRow("first sample -32768 reaches gate 1035")
        << mono({-32768, 0, 0}) << 512 << 1035 << Pcm({-32768, 0, 0});
    QTest::newRow("cut of exactly one sample")
        << mono({1034, 1035, 0, 7}) << 512 << 1035 << Pcm({1035, 0, 7});
    QTest::newRow("negative samples by magnitude")
        << mono({-1034, -1035, 3}) << 512 << 1035 << Pcm({-1035, 3});
    QTest::newRow("a sample equal to the gate reaches it")
        << mono({32, -33, 0}) << 512 << 33 << Pcm({-33, 0});
    QTest::newRow("all samples below the gate: all zeros")
        << mono({0, 1034, -1034, 500}) << 512 << 1035 << QByteArray();
    QTest::newRow("file holds less than it declares: padded")
        << CanonicalWavHeader(1, 44100, 16, 2000) + Pcm({10, 20, 30}) << 2048 << 0 << Pcm({10, 20, 30});
    QTest::newRow("declared size 0xFFFFFFFF: what is there")
        << CanonicalWavHeader(1, 44100, 16, 0xFFFFFFFFu) + Pcm({1, 2, 3}) << 512 << 0 << Pcm({1, 2, 3});
    QTest::newRow("mono file holds more than its region: cut at the layer size")
        << RampWav(1200) << 512 << 0 << RampWav(1200).mid(44, 512);

    QVector<int> frames;
    QVector<int> lefts;
    for (int i = 0; i < 400; ++i) {
        frames << i + 1 << -(i + 1);
        lefts << i + 1;
    }
    QTest::newRow("stereo file holds more than its region: cut at the layer size")
        << stereo(frames) << 512 << 0 << Pcm(lefts.mid(0, 256));

    QVector<int> quietStart(10, 0);
    for (int i = 0; i < 590; ++i)
        quietStart << 2000 + i;
    QTest::newRow("more than its region, quiet start: cut, then padded")
        << mono(quietStart) << 512 << 1035 << Pcm(quietStart.mid(10, 246));
}

void TestBankWriter::layer()
{
    QFETCH(QByteArray, file);
    QFETCH(int, layerSize);
    QFETCH(int, gate);
    QFETCH(QByteArray, audio);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(WriteBytes(dir.filePath("layer.wav"), file));
    GeneratorArgs args = Args(dir.filePath("bank.zks"), {layerSize});
    args.LayerPath[0] = dir.filePath("layer.wav");
    args.LayerName[0] = QStringLiteral("layer.wav");
    args.SilenceGate = quint16(gate);

    QCOMPARE(GenerateZKS(args), qint32(GENERATE_OK));
    const QByteArray bank = ReadAll(args.TargetPath);
    QCOMPARE(bank.size(), 512 + layerSize);
    QVERIFY(audio.size() <= layerSize);
    QCOMPARE(bank.mid(512, audio.size()), audio);
    QCOMPARE(bank.mid(512 + audio.size()), QByteArray(layerSize - audio.size(), '\0'));
}

// Each region holds its own layer only, whatever the layer before it held.
void TestBankWriter::shortLayerAfterLongOne()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(WriteBytes(dir.filePath("long.wav"), RampWav(4000)));
    QVERIFY(WriteBytes(dir.filePath("short.wav"),
                       CanonicalWavHeader(1, 44100, 16, 2000) + Pcm({5, 6})));
    GeneratorArgs args = Args(dir.filePath("bank.zks"), {4096, 1024});
    args.LayerPath[0] = dir.filePath("long.wav");
    args.LayerPath[1] = dir.filePath("short.wav");

    QCOMPARE(GenerateZKS(args), qint32(GENERATE_OK));
    const QByteArray bank = ReadAll(args.TargetPath);
    QCOMPARE(bank.size(), 512 + 4096 + 1024);
    QCOMPARE(bank.mid(512, 4000), RampWav(4000).mid(44));
    QCOMPARE(bank.mid(512 + 4000, 96), QByteArray(96, '\0'));
    QCOMPARE(bank.mid(512 + 4096), Pcm({5, 6}) + QByteArray(1020, '\0'));
}

void TestBankWriter::budgetBoundary()
{
    // Header and layers filling the budget to the byte are accepted.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(WriteBytes(dir.filePath("a.wav"), RampWav(3141630)));
    QVERIFY(WriteBytes(dir.filePath("b.wav"), RampWav(3072)));
    GeneratorArgs args = Args(dir.filePath("full.zks"), {3141632, 3584});
    args.LayerPath[0] = dir.filePath("a.wav");
    args.LayerPath[1] = dir.filePath("b.wav");

    QCOMPARE(GenerateZKS(args), qint32(GENERATE_OK));
    QCOMPARE(QFileInfo(args.TargetPath).size(), qint64(kBankBudget));
}

void TestBankWriter::failures_data()
{
    QTest::addColumn<QString>("target"); // relative to the test folder; empty: no path
    QTest::addColumn<int>("count");
    QTest::addColumn<QVector<int>>("sizes");
    QTest::addColumn<QStringList>("layers"); // relative to the test folder
    QTest::addColumn<int>("expected");
    QTest::addColumn<QString>("trace"); // pattern of a debug line that must appear, or empty
    // Why, as the second form of GenerateZKS tells it; "@" stands for the test folder.
    // Empty: the system's words, whatever they are.
    QTest::addColumn<QString>("reason");

    const QStringList both{QStringLiteral("one.wav"), QStringLiteral("two.wav")};

    QTest::newRow("fits the window's budget, not with the header")
        << "bank.zks" << 2 << QVector<int>{3141632, 4096} << both << int(GENERATE_NO_SPACE)
        << QStringLiteral("^Space is not enough$")
        << "the bank with its header takes 3146240 bytes; the device holds 3145728";
    QTest::newRow("empty path") << QString() << 2 << QVector<int>{1024, 1024} << both
                                << int(GENERATE_TARGET_FAILED)
                                << QStringLiteral("^Unable to open  \"\"$")
                                << "the bank has no file name";
    QTest::newRow("missing folder")
        << "missing/bank.zks" << 2 << QVector<int>{1024, 1024} << both
        << int(GENERATE_TARGET_FAILED)
        << QStringLiteral("^Unable to open  \".*/missing/bank\\.zks\"$")
        << "No such file or directory";
    QTest::newRow("target names a folder") << "album.zks" << 2 << QVector<int>{1024, 1024} << both
                                           << int(GENERATE_TARGET_FAILED) << QString()
                                           << QString();
    QTest::newRow("first layer file vanished")
        << "bank.zks" << 2 << QVector<int>{1024, 1024}
        << QStringList{QStringLiteral("gone.wav"), QStringLiteral("two.wav")}
        << int(GENERATE_LAYER_FAILED) << QStringLiteral("^Unable to open  \".*/gone\\.wav\"$")
        << "the layer file @/gone.wav could not be read";
    QTest::newRow("second layer file vanished after the first was written")
        << "bank.zks" << 2 << QVector<int>{1024, 1024}
        << QStringList{QStringLiteral("one.wav"), QStringLiteral("gone.wav")}
        << int(GENERATE_LAYER_FAILED) << QString()
        << "the layer file @/gone.wav could not be read";
    QTest::newRow("layer file shorter than a header")
        << "bank.zks" << 2 << QVector<int>{1024, 1024}
        << QStringList{QStringLiteral("one.wav"), QStringLiteral("stub.wav")}
        << int(GENERATE_LAYER_FAILED) << QStringLiteral("^Unable to read  \".*/stub\\.wav\"$")
        << "the layer file @/stub.wav could not be read";
    QTest::newRow("layer count 9") << "bank.zks" << 9 << QVector<int>{1024, 1024} << both
                                   << int(GENERATE_LAYER_FAILED) << QString()
                                   << "a bank holds 0 to 8 layers, not 9";
    QTest::newRow("layer count -1") << "bank.zks" << -1 << QVector<int>{} << QStringList()
                                    << int(GENERATE_LAYER_FAILED) << QString()
                                    << "a bank holds 0 to 8 layers, not -1";
    QTest::newRow("negative layer size")
        << "bank.zks" << 2 << QVector<int>{4096, -1024} << both << int(GENERATE_LAYER_FAILED)
        << QString()
        << "layer 2 has -1024 bytes; a layer holds 0 or more whole 512-byte blocks";
    const QStringList five{QStringLiteral("one.wav"), QStringLiteral("two.wav"),
                           QStringLiteral("one.wav"), QStringLiteral("two.wav"),
                           QStringLiteral("one.wav")};
    QTest::newRow("layer 5 of 0x200000 bytes in a five-layer bank")
        << "bank.zks" << 5 << QVector<int>{1024, 1024, 1024, 1024, 0x200000} << five
        << int(GENERATE_LAYER_FAILED) << QString()
        << "a bank of 5 or more layers holds layers below 2097.2\u00A0KB each";
    QTest::newRow("layer 1 of 0x200000 bytes in a five-layer bank")
        << "bank.zks" << 5 << QVector<int>{0x200000, 1024, 1024, 1024, 1024} << five
        << int(GENERATE_LAYER_FAILED) << QString()
        << "a bank of 5 or more layers holds layers below 2097.2\u00A0KB each";
    QTest::newRow("layer name with a line feed")
        << "bank.zks" << 2 << QVector<int>{1024, 1024}
        << QStringList{QStringLiteral("one.wav"), QStringLiteral("line\nfeed.wav")}
        << int(GENERATE_LAYER_FAILED) << QString()
        << "layer 2: the name holds a control character, which the device would misread";
    QTest::newRow("layer name with a DEL")
        << "bank.zks" << 2 << QVector<int>{1024, 1024}
        << QStringList{QStringLiteral("one\x7f.wav"), QStringLiteral("two.wav")}
        << int(GENERATE_LAYER_FAILED) << QString()
        << "layer 1: the name holds a control character, which the device would misread";
    QTest::newRow("bank name with a line feed") << "k\nz.zks" << 2 << QVector<int>{1024, 1024}
                                                << both << int(GENERATE_TARGET_FAILED) << QString()
                                                << "the name holds a control character, which "
                                                   "the device would misread";
    QTest::newRow("layer size not in whole blocks")
        << "bank.zks" << 2 << QVector<int>{1024, 1000} << both << int(GENERATE_LAYER_FAILED)
        << QString()
        << "layer 2 has 1000 bytes; a layer holds 0 or more whole 512-byte blocks";
}

void TestBankWriter::failures()
{
    QFETCH(QString, target);
    QFETCH(int, count);
    QFETCH(QVector<int>, sizes);
    QFETCH(QStringList, layers);
    QFETCH(int, expected);
    QFETCH(QString, trace);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(WriteBytes(dir.filePath("bank.zks"), QByteArray("an earlier bank ") + RampWav(4096)));
    QVERIFY(WriteBytes(dir.filePath("one.wav"), RampWav(1000)));
    QVERIFY(WriteBytes(dir.filePath("two.wav"), RampWav(1000)));
    QVERIFY(WriteBytes(dir.filePath("stub.wav"), RampWav(1000).left(20)));
    // Files that really bear such names: only the names are at fault.
    QVERIFY(WriteBytes(dir.filePath("line\nfeed.wav"), RampWav(1000)));
    QVERIFY(WriteBytes(dir.filePath("one\x7f.wav"), RampWav(1000)));
    QVERIFY(QDir(dir.path()).mkdir("album.zks"));
    // Working in the test folder shows that a relative or empty path
    // creates nothing either.
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    const auto restore = qScopeGuard([&previous] { QDir::setCurrent(previous); });
    const QMap<QString, QByteArray> before = Snapshot(dir.path());

    GeneratorArgs args = Args(target.isEmpty() ? QString() : dir.filePath(target), sizes);
    args.LayerCount = count;
    for (int i = 0; i < layers.size(); ++i) {
        args.LayerPath[i] = dir.filePath(layers.at(i));
        args.LayerName[i] = layers.at(i);
    }

    if (!trace.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(trace));
    QString why;
    QCOMPARE(GenerateZKS(args, &why), qint32(expected));
    QCOMPARE(Snapshot(dir.path()), before);
    if (reason.isEmpty())
        QVERIFY(!why.isEmpty());
    else
        QCOMPARE(why, reason.replace(QLatin1Char('@'), dir.path()));
}

void TestBankWriter::writeFailure_data()
{
    QTest::addColumn<QString>("limit");
    QTest::addColumn<int>("error"); // the system's error, told as the reason
    QTest::newRow("disk full part way") << "tmpfs" << ENOSPC;
    QTest::newRow("file size limit part way") << "rlimit" << EFBIG;
}

void TestBankWriter::writeFailure()
{
#ifndef Q_OS_LINUX
    QSKIP("Needs Linux to make a write fail part way");
#else
    QFETCH(QString, limit);
    QFETCH(int, error);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(WriteBytes(dir.filePath("soft.wav"), RampWav(100000)));
    QVERIFY(WriteBytes(dir.filePath("hard.wav"), RampWav(200000)));
    const QString banks = dir.filePath("banks");
    QVERIFY(QDir().mkpath(banks));

    // A small disk that holds the old bank but not a second copy beside it.
    bool mounted = false;
    const auto unmount = qScopeGuard([&] {
        if (mounted)
            umount2(QFile::encodeName(banks).constData(), MNT_DETACH);
    });
    if (limit == QLatin1String("tmpfs")) {
        mounted = mount("tmpfs", QFile::encodeName(banks).constData(), "tmpfs", 0, "size=400k")
            == 0;
        if (!mounted)
            QSKIP("Cannot mount a small tmpfs here (needs root)");
    }

    const QString target = banks + QStringLiteral("/kit.zks");
    const QByteArray old = QByteArray(301056, 'o');
    QVERIFY(WriteBytes(target, old));
    const QMap<QString, QByteArray> before = Snapshot(banks);

    GeneratorArgs args = Args(target, {100352, 200192});
    args.LayerPath[0] = dir.filePath("soft.wav");
    args.LayerPath[1] = dir.filePath("hard.wav");

    qint32 result = GENERATE_OK;
    QString reason;
    if (limit == QLatin1String("rlimit")) {
        // Writes past 64 KiB fail with EFBIG instead of raising SIGXFSZ.
        rlimit saved{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        const auto restore = qScopeGuard([&] {
            setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, previousHandler);
        });
        rlimit small = saved;
        small.rlim_cur = 64 * 1024;
        if (setrlimit(RLIMIT_FSIZE, &small) != 0)
            QSKIP("Cannot lower the file size limit here");
        result = GenerateZKS(args, &reason);
    } else {
        result = GenerateZKS(args, &reason);
    }
    QCOMPARE(result, qint32(GENERATE_TARGET_FAILED));
    QCOMPARE(reason, QString::fromStdString(std::generic_category().message(error)));
    QCOMPARE(Snapshot(banks), before);
#endif
}

void TestBankWriter::randomTag_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<quint32>("tag");
    // The classic rand() formula: seed 1 draws 16838, then 5758.
    QTest::newRow("seed 1") << qint64(1) << quint32(16838u * 5758u);
    QTest::newRow("seed 0 draws 0 first") << qint64(0) << 0u;
}

void TestBankWriter::randomTag()
{
    QFETCH(qint64, seconds);
    QFETCH(quint32, tag);
    QCOMPARE(RandomTag(seconds), tag);
}

void TestBankWriter::randomTagRange()
{
    QSet<quint32> seen;
    quint32 largest = 0;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    for (qint64 t = now - 100000; t <= now + 100000; ++t) {
        const quint32 tag = RandomTag(t);
        largest = qMax(largest, tag);
        seen.insert(tag);
    }
    for (qint64 t : {qint64(0xFFFFFFFF), qint64(0x80000000), qint64(0x7FFFFFFF)})
        largest = qMax(largest, RandomTag(t));
    QVERIFY2(largest <= kLargestTag, qPrintable(QString::number(largest)));
    // Neighbouring seconds give different tags.
    QVERIFY(seen.size() > 190000);
}

void TestBankWriter::argsFromLayers()
{
    const QVector<LayerFile> layers{{"/w/1/hard.wav", "hard.wav", 1024}, {"/w/2/soft.wav", "soft.wav", 2048}};
    ThresholdTable thresholds = {0, 64, 1, 0, -1, -2, -3, -4, -5};
    const GeneratorArgs args = MakeGeneratorArgs(layers, thresholds, 328, "/banks/kit.zks");
    QCOMPARE(args.TargetPath, QStringLiteral("/banks/kit.zks"));
    QCOMPARE(args.TargetName, QStringLiteral("kit.zks"));
    QCOMPARE(args.LayerCount, 2);
    QCOMPARE(args.SilenceGate, quint16(328));
    QCOMPARE(args.LayerName[1], QStringLiteral("soft.wav"));
    QCOMPARE(args.LayerPath[0], QStringLiteral("/w/1/hard.wav"));
    QCOMPARE(args.LayerSize[1], 2048);
    // Unused slots are empty, but every slot's threshold goes into the bank.
    for (int i = 2; i < 8; ++i) {
        QVERIFY(args.LayerPath[i].isEmpty() && args.LayerName[i].isEmpty());
        QCOMPARE(args.LayerSize[i], 0);
    }
    for (int i = 0; i < 8; ++i)
        QCOMPARE(args.Threshold[i], thresholds[i + 1]);
}

void TestBankWriter::largeLayersReadBack_data()
{
    QTest::addColumn<QVector<int>>("sizes");
    const int largest = 0x1FFE00; // the largest layer a bank of five or more holds
    QTest::newRow("largest layer as layer 5 of five")
        << QVector<int>{1024, 1024, 1024, 1024, largest};
    QTest::newRow("largest layer as layer 1 of five")
        << QVector<int>{largest, 1024, 1024, 1024, 1024};
    QTest::newRow("2 MiB and more as layer 4 of four")
        << QVector<int>{1024, 1024, 1024, 0x200000 + 4096};
}

// Banks at the edge of what the size tables describe read back with every
// layer where it was written.
void TestBankWriter::largeLayersReadBack()
{
    QFETCH(QVector<int>, sizes);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    GeneratorArgs args = Args(dir.filePath("big.zks"), sizes);
    for (int i = 0; i < sizes.size(); ++i) {
        args.LayerPath[i] = dir.filePath(QStringLiteral("%1.wav").arg(i + 1));
        args.LayerName[i] = QStringLiteral("layer %1").arg(i + 1);
        args.Threshold[i] = sizes.size() - i;
        QVERIFY(WriteBytes(args.LayerPath[i], RampWav(sizes.at(i) - 512, 1000 * (i + 1))));
    }
    QCOMPARE(GenerateZKS(args), qint32(GENERATE_OK));

    ZksBank bank;
    QString error;
    QVERIFY(ReadZksBank(args.TargetPath, &bank, &error));
    QVERIFY2(bank.problems.isEmpty(), qPrintable(ProblemTexts(bank.problems).join('\n')));
    QCOMPARE(bank.regions.size(), sizes.size());
    for (int i = 0; i < sizes.size(); ++i) {
        QCOMPARE(bank.regions.at(i).size, qint64(sizes.at(i)));
        QByteArray audio;
        QVERIFY(ReadZksRegion(bank, bank.regions.at(i), &audio, &error));
        QCOMPARE(audio.left(8), RampWav(8, 1000 * (i + 1)).mid(44));
    }
}

void TestBankWriter::sameSecondSameTag()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(WriteBytes(dir.filePath("a.wav"), RampWav(1000)));
    GeneratorArgs args = Args(dir.filePath("first.zks"), {1024});
    args.LayerPath[0] = dir.filePath("a.wav");

    // Two banks in one second; a second boundary in between only means
    // another try.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const qint64 start = QDateTime::currentSecsSinceEpoch();
        args.TargetPath = dir.filePath("first.zks");
        QCOMPARE(GenerateZKS(args), qint32(GENERATE_OK));
        args.TargetPath = dir.filePath("second.zks");
        QCOMPARE(GenerateZKS(args), qint32(GENERATE_OK));
        if (QDateTime::currentSecsSinceEpoch() != start)
            continue;
        const QByteArray first = ReadAll(dir.filePath("first.zks"));
        const QByteArray second = ReadAll(dir.filePath("second.zks"));
        QCOMPARE(TagOf(first), RandomTag(start));
        QCOMPARE(second, first);
        return;
    }
    QSKIP("Every attempt crossed a second boundary");
}

ZK_TEST(TestBankWriter)
#include "tst_bankwriter.moc"
