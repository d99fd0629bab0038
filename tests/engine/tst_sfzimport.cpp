#include <QtTest>

#include <QTemporaryDir>

#include "kitsource.h"
#include "sfzkit.h"
#include "tailtrim.h"
#include "testmain.h"
#include "testsupport.h"
#include "zkslayout.h"

Q_DECLARE_METATYPE(QVector<int>)

namespace {

// The first `count` samples of a prepared layer.
QVector<int> FirstSamples(const QString &path, int count, int *frames)
{
    PcmSound sound;
    QString error;
    if (!ReadPcmSound(path, &sound, &error))
        return {};
    *frames = int(sound.pcm.size() / 2);
    QVector<int> samples;
    for (int i = 0; i < count && i < *frames; ++i)
        samples << int(qint16(quint16(quint8(sound.pcm.at(2 * i))) | quint16(quint8(sound.pcm.at(2 * i + 1))) << 8));
    return samples;
}

// Ten bands of one sample, 12 velocities apart.
QByteArray TenBands()
{
    QByteArray text;
    for (int i = 0; i < 10; ++i)
        text += "<region> key=36 sample=a.wav lovel=" + QByteArray::number(12 * i + 1)
            + " hivel=" + QByteArray::number(i == 9 ? 127 : 12 * i + 12) + "\n";
    return text;
}

} // namespace

// An SFZ key made ready for a bank: bands summed from their regions, then
// the instrument rules.
class TestSfzImport : public QObject
{
    Q_OBJECT

private slots:
    void preparesKey_data();
    void preparesKey();
};

void TestSfzImport::preparesKey_data()
{
    QTest::addColumn<QByteArray>("sfz");
    QTest::addColumn<QVector<int>>("thresholds");
    QTest::addColumn<QVector<int>>("loudest");  // the first samples of the loudest layer
    QTest::addColumn<int>("loudestFrames");     // its length
    QTest::addColumn<QVector<int>>("softest");  // the first samples of the softest layer
    QTest::addColumn<QString>("note");          // one of the notes; empty: none
    QTest::addColumn<QString>("name");          // the loudest layer's name

    // a.wav: a square of 1000, b.wav of 2000, loud.wav of 20000 (stereo,
    // 20000 and 10000), ramp.wav a ramp from 1000, ramp22.wav the same at 22050 Hz.
    QTest::newRow("two microphones summed")
        << QByteArray("<group> key=36 lovel=64\n<region> sample=a.wav\n<region> sample=b.wav\n"
                      "<region> key=36 lovel=1 hivel=63 sample=a.wav volume=-6.0206\n")
        << QVector<int>{64, 1} << QVector<int>{3000, -3000, 3000} << 4000 << QVector<int>{500, -500, 500}
        << QString() << QStringLiteral("a.wav");
    QTest::newRow("stereo microphones mixed, then summed")
        << QByteArray("<region> key=36 lovel=64 sample=loud.wav\n<region> key=36 lovel=64 sample=loud.wav\n"
                      "<region> key=36 hivel=63 sample=b.wav\n")
        // (20000 + 10000) / 2 twice: 30000 clips nothing.
        << QVector<int>{64, 1} << QVector<int>{30000, -30000} << 4000 << QVector<int>{2000, -2000}
        << QString() << QStringLiteral("loud.wav");
    QTest::newRow("a clipping band scales the other")
        << QByteArray("<global> key=36\n<region> lovel=64 sample=loud.wav amplitude=200\n"
                      "<region> lovel=64 sample=loud.wav\n<region> hivel=63 sample=b.wav\n")
        // 30000 + 15000 = 45000, scaled to 32767: b's 2000 becomes 1456.
        << QVector<int>{64, 1} << QVector<int>{32767, -32767} << 4000 << QVector<int>{1456, -1456}
        << QStringLiteral("scaled by -2.8 dB so no layer clips") << QStringLiteral("loud.wav");
    QTest::newRow("offset and end")
        << QByteArray("<region> key=36 sample=ramp.wav offset=100 end=1099\n")
        << QVector<int>{1} << QVector<int>{1100, 1101, 1102} << 1000 << QVector<int>{1100, 1101, 1102}
        << QString() << QStringLiteral("ramp.wav");
    QTest::newRow("offset and end in the sample's own frames")
        << QByteArray("<region> key=36 sample=ramp22.wav offset=100 end=1099\n")
        << QVector<int>{1} << QVector<int>{} << 2000 << QVector<int>{} << QString() << QStringLiteral("ramp22.wav");
    QTest::newRow("ten bands reduced to eight")
        << TenBands() << QVector<int>{109, 85, 73, 61, 49, 25, 13, 1} << QVector<int>{1000, -1000} << 4000
        << QVector<int>{1000, -1000} << QStringLiteral("10 layers reduced to 8") << QStringLiteral("a.wav");
    QTest::newRow("a missing sample left out")
        << QByteArray("<region> key=36 sample=gone.wav\n<region> key=36 sample=b.wav\n")
        << QVector<int>{1} << QVector<int>{2000, -2000} << 4000 << QVector<int>{2000, -2000}
        << QStringLiteral("gone.wav: no such file") << QStringLiteral("b.wav");
    QTest::newRow("round robins after the first left out")
        << QByteArray("<region> key=36 seq_position=1 sample=a.wav\n<region> key=36 seq_position=2 sample=b.wav\n")
        << QVector<int>{1} << QVector<int>{1000, -1000} << 4000 << QVector<int>{1000, -1000}
        << QStringLiteral("1 round-robin region(s) left out") << QStringLiteral("a.wav");
}

void TestSfzImport::preparesKey()
{
    QFETCH(QByteArray, sfz);
    QFETCH(QVector<int>, thresholds);
    QFETCH(QVector<int>, loudest);
    QFETCH(int, loudestFrames);
    QFETCH(QVector<int>, softest);
    QFETCH(QString, note);
    QFETCH(QString, name);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString kitFolder = dir.filePath(QStringLiteral("kit"));
    const QString work = dir.filePath(QStringLiteral("work"));
    QVERIFY(QDir().mkpath(kitFolder) && QDir().mkpath(work));
    QVERIFY(WriteBytes(kitFolder + QStringLiteral("/a.wav"), Wav16(1, kBankRate, Square(4000, 1000))));
    QVERIFY(WriteBytes(kitFolder + QStringLiteral("/b.wav"), Wav16(1, kBankRate, Square(4000, 2000))));
    QVERIFY(WriteBytes(kitFolder + QStringLiteral("/loud.wav"),
                       Wav16(2, kBankRate, Interleaved(Square(4000, 20000), Square(4000, 10000)))));
    QVERIFY(WriteBytes(kitFolder + QStringLiteral("/ramp.wav"), Wav16(1, kBankRate, Ramp(4000))));
    QVERIFY(WriteBytes(kitFolder + QStringLiteral("/ramp22.wav"), Wav16(1, kBankRate / 2, Ramp(4000))));
    const QString path = kitFolder + QStringLiteral("/kit.sfz");
    QVERIFY(WriteBytes(path, sfz));
    QString error;
    const std::unique_ptr<KitSource> kit = OpenKitSource(path, work, &error);
    QVERIFY2(kit, qPrintable(error));
    const int key36 = int(kit->Instruments().indexOf(QStringLiteral("c2 (36)")));
    QVERIFY(key36 >= 0);
    QCOMPARE(kit->BankNames().at(key36), QStringLiteral("kit - c2 (36).zks"));

    const PreparedInstrument prepared = kit->Prepare(key36, work, KitImportOptions(), nullptr);
    QVERIFY2(prepared.failure.isEmpty(), qPrintable(prepared.failure));
    QCOMPARE(prepared.thresholds, thresholds);
    QCOMPARE(prepared.layers.size(), thresholds.size());
    int frames = 0;
    QCOMPARE(FirstSamples(prepared.layers.first().path, loudest.size(), &frames), loudest);
    QCOMPARE(frames, loudestFrames);
    QCOMPARE(prepared.layers.first().name, name);
    QCOMPARE(FirstSamples(prepared.layers.last().path, softest.size(), &frames), softest);
    if (note.isEmpty())
        QVERIFY2(prepared.notes.isEmpty(), qPrintable(prepared.notes.join(QStringLiteral("; "))));
    else
        QVERIFY2(prepared.notes.contains(note), qPrintable(prepared.notes.join(QStringLiteral("; "))));
}

ZK_TEST(TestSfzImport)
#include "tst_sfzimport.moc"
