#include <QtTest>

#include "fileprocessor.h"
#include "kitpipeline.h"
#include "resultcodes.h"
#include "tailtrim.h"
#include "testmain.h"
#include "testsupport.h"
#include "zkslayout.h"

Q_DECLARE_METATYPE(QVector<int>)
Q_DECLARE_METATYPE(QVector<double>)

// The kit pipeline's steps on plain values: the trimmed layer and its size,
// the verdict on a kit's sizes, the loudness order and the spread.
class TestKitPipeline : public QObject
{
    Q_OBJECT

private slots:
    void trimmedLayer_data();
    void trimmedLayer();
    void layerFilesVerdict_data();
    void layerFilesVerdict();
    void loudnessOrder_data();
    void loudnessOrder();
};

void TestKitPipeline::trimmedLayer_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("sourceSize"); // -1: the sound check's size of `file`
    QTest::addColumn<int>("trimmedSize"); // 0: the source stays
    QTest::addColumn<bool>("withFolder");

    const QVector<qint16> hit = Ramp(3000);
    const QVector<qint16> tail(2 * kBankRate, 0);
    const qint32 kept = LayerSizeFor(quint32(2 * (3000 + kTailFadeFrames)), false);
    QTest::newRow("quiet tail") << Wav16(1, kBankRate, hit + tail) << -1 << kept << true;
    // A layer read back from a bank: its stored size is what it is, and the
    // copy is measured, not its saving taken from that size.
    QTest::newRow("stored size larger than its sound")
        << Wav16(1, kBankRate, hit + tail) << 200 * 1024 << kept << true;
    QTest::newRow("stereo, quiet tail")
        << Wav16(2, kBankRate, Interleaved(hit + tail, hit + tail)) << -1 << kept << true;
    QTest::newRow("sound to the end") << Wav16(1, kBankRate, hit) << -1 << 0 << true;
    QTest::newRow("no folder") << Wav16(1, kBankRate, hit + tail) << -1 << 0 << false;
    QTest::newRow("not a sound") << QByteArray("RIFF, but no more") << 4096 << 0 << true;
}

void TestKitPipeline::trimmedLayer()
{
    QFETCH(QByteArray, file);
    QFETCH(int, sourceSize);
    QFETCH(int, trimmedSize);
    QFETCH(bool, withFolder);
    QTemporaryDir tmp;
    const QString source = tmp.filePath(QStringLiteral("sources/hit.wav"));
    QVERIFY(WriteBytes(source, file));
    if (sourceSize < 0)
        sourceSize = MeasuredLayerSize(source);
    const QString folder = tmp.filePath(QStringLiteral("trimmed"));
    QVERIFY(QDir().mkpath(folder));

    const SizedFile layer = TrimmedLayer(source, sourceSize, withFolder ? folder : QString(), kDefaultTailDbfs);
    if (trimmedSize == 0) {
        QCOMPARE(layer.path, source);
        QCOMPARE(layer.size, qint32(sourceSize));
        QVERIFY(!withFolder || !QFileInfo::exists(folder));
    } else {
        QCOMPARE(layer.path, folder + QStringLiteral("/hit.wav"));
        QCOMPARE(layer.size, qint32(trimmedSize));
        QCOMPARE(MeasuredLayerSize(layer.path), layer.size);
    }
    QCOMPARE(ReadAll(source), file);
}

void TestKitPipeline::layerFilesVerdict_data()
{
    QTest::addColumn<QVector<int>>("sizes");
    QTest::addColumn<int>("verdict");

    QTest::newRow("none") << QVector<int>{} << 0;
    QTest::newRow("the whole budget") << QVector<int>{kBankBudget - 1024, 1024} << 0;
    QTest::newRow("over the budget") << QVector<int>{kBankBudget - 1024, 1536} << int(RESULT_NO_SPACE);
    QTest::newRow("five layers, one beyond the size table")
        << QVector<int>{kSizeUnitsLimit, 512, 512, 512, 512} << int(RESULT_TOO_BIG);
    QTest::newRow("four layers, the same sizes")
        << QVector<int>{kSizeUnitsLimit, 512, 512, 512} << 0;
}

void TestKitPipeline::layerFilesVerdict()
{
    QFETCH(QVector<int>, sizes);
    QFETCH(int, verdict);
    QVector<SizedFile> layers;
    for (int size : sizes)
        layers << SizedFile{QStringLiteral("layer.wav"), size};
    QCOMPARE(LayerFilesVerdict(layers), verdict);
}

void TestKitPipeline::loudnessOrder_data()
{
    QTest::addColumn<QVector<double>>("attack");
    QTest::addColumn<bool>("spread");
    QTest::addColumn<QVector<int>>("order");
    QTest::addColumn<QVector<int>>("thresholds"); // layers 1..count

    QTest::newRow("spread") << QVector<double>{-20, -2, -11} << true << QVector<int>{1, 2, 0}
                            << QVector<int>{85, 43, 1};
    QTest::newRow("kept thresholds") << QVector<double>{-20, -2, -11} << false
                                     << QVector<int>{1, 2, 0} << QVector<int>{100, 50, 1};
    QTest::newRow("equal levels keep their order")
        << QVector<double>{-6, -6} << true << QVector<int>{0, 1} << QVector<int>{64, 1};
}

void TestKitPipeline::loudnessOrder()
{
    QFETCH(QVector<double>, attack);
    QFETCH(bool, spread);
    QFETCH(QVector<int>, order);
    QFETCH(QVector<int>, thresholds);
    ThresholdTable table = {0, 100, 50, 1};
    QCOMPARE(LoudnessOrder(attack, spread, table), order);
    for (int n = 1; n <= thresholds.size(); ++n)
        QCOMPARE(int(table[n]), thresholds.at(n - 1));
}

ZK_TEST(TestKitPipeline)
#include "tst_kitpipeline.moc"
