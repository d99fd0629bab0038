#include <QtTest>

#include "fileprocessor.h"
#include "layerrules.h"
#include "testmain.h"
#include "testsupport.h"
#include "waveformsummary.h"
#include "zkslayout.h"

Q_DECLARE_METATYPE(QVector<int>)

namespace {

QVector<int> Ints(const QVector<qint16> &values)
{
    return QVector<int>(values.begin(), values.end());
}

// Four whole blocks of four frames and a short one of two.
const QVector<int> kBlocks{1, -1, 2, -2, 10, -10, 0, 0, 3, 3, 3, 3, -5, -6, -7, -8, 20, -20};

} // namespace

class TestWaveformSummary : public QObject
{
    Q_OBJECT

private slots:
    void summary_data();
    void summary();
    void envelope_data();
    void envelope();
    void gateCut_data();
    void gateCut();
};

void TestWaveformSummary::summary_data()
{
    QTest::addColumn<QByteArray>("audio");
    QTest::addColumn<int>("blockFrames");
    QTest::addColumn<int>("storedBlockFrames");
    QTest::addColumn<QVector<int>>("minima");
    QTest::addColumn<QVector<int>>("maxima");
    QTest::addColumn<int>("frames");

    const QVector<int> ten{0, 5, -3, 7, -10, 2, 4, 1, 100, -100};
    QTest::newRow("blocks of 4, the last one short")
        << Pcm(ten) << 4 << 4 << QVector<int>{-3, -10, -100} << QVector<int>{7, 4, 100} << 10;
    QTest::newRow("one block holds all")
        << Pcm(ten) << 256 << 256 << QVector<int>{-100} << QVector<int>{100} << 10;
    QTest::newRow("blocks of 1") << Pcm({3, -4}) << 1 << 1 << QVector<int>{3, -4}
                                 << QVector<int>{3, -4} << 2;
    QTest::newRow("block size 0 counts as 1") << Pcm({3, -4}) << 0 << 1 << QVector<int>{3, -4}
                                              << QVector<int>{3, -4} << 2;
    QTest::newRow("full scale both ways") << Pcm({-32768, 0, 32767}) << 4 << 4
                                          << QVector<int>{-32768} << QVector<int>{32767} << 3;
    QTest::newRow("a trailing odd byte is no sample")
        << Pcm({7, 8}) + QByteArray(1, '\x80') << 4 << 4 << QVector<int>{7} << QVector<int>{8}
        << 2;
    QTest::newRow("no samples") << QByteArray() << 4 << 4 << QVector<int>{} << QVector<int>{} << 0;
}

void TestWaveformSummary::summary()
{
    QFETCH(QByteArray, audio);
    QFETCH(int, blockFrames);
    QFETCH(int, storedBlockFrames);
    QFETCH(QVector<int>, minima);
    QFETCH(QVector<int>, maxima);
    QFETCH(int, frames);
    const WaveSummary summary = SummarizeSamples(audio, blockFrames);
    QCOMPARE(summary.blockFrames, storedBlockFrames);
    QCOMPARE(Ints(summary.minima), minima);
    QCOMPARE(Ints(summary.maxima), maxima);
    QCOMPARE(summary.frames, qint64(frames));
}

void TestWaveformSummary::envelope_data()
{
    QTest::addColumn<qint64>("firstFrame");
    QTest::addColumn<qint64>("endFrame");
    QTest::addColumn<int>("pixels");
    QTest::addColumn<QVector<int>>("minima");
    QTest::addColumn<QVector<int>>("maxima");

    QTest::newRow("a pixel per block") << qint64(0) << qint64(20) << 5
                                       << QVector<int>{-2, -10, 3, -8, -20}
                                       << QVector<int>{2, 10, 3, -5, 20};
    QTest::newRow("two blocks per pixel") << qint64(0) << qint64(16) << 2 << QVector<int>{-10, -8}
                                          << QVector<int>{10, 3};
    QTest::newRow("all in one pixel") << qint64(0) << qint64(18) << 1 << QVector<int>{-20}
                                      << QVector<int>{20};
    QTest::newRow("a pixel shows every block it touches")
        << qint64(2) << qint64(10) << 2 << QVector<int>{-10, -10} << QVector<int>{10, 10};
    QTest::newRow("zoomed in: pixels share a block")
        << qint64(6) << qint64(10) << 8 << QVector<int>{-10, -10, -10, -10, 3, 3, 3, 3}
        << QVector<int>{10, 10, 10, 10, 3, 3, 3, 3};
    QTest::newRow("past the end is empty") << qint64(16) << qint64(24) << 4
                                           << QVector<int>{-20, 0, 0, 0} << QVector<int>{20, 0, 0, 0};
    QTest::newRow("before the start is empty")
        << qint64(-4) << qint64(4) << 2 << QVector<int>{0, -2} << QVector<int>{0, 2};
    QTest::newRow("empty range") << qint64(5) << qint64(5) << 3 << QVector<int>{0, 0, 0}
                                 << QVector<int>{0, 0, 0};
    QTest::newRow("reversed range") << qint64(9) << qint64(5) << 2 << QVector<int>{0, 0}
                                    << QVector<int>{0, 0};
    QTest::newRow("no pixels") << qint64(0) << qint64(18) << 0 << QVector<int>{} << QVector<int>{};
}

void TestWaveformSummary::envelope()
{
    QFETCH(qint64, firstFrame);
    QFETCH(qint64, endFrame);
    QFETCH(int, pixels);
    QFETCH(QVector<int>, minima);
    QFETCH(QVector<int>, maxima);
    const WaveSummary summary = SummarizeSamples(Pcm(kBlocks), 4);
    QVector<qint16> low(11, 99), high(11, 99); // a previous strip's values are replaced
    EnvelopeForWidth(summary, firstFrame, endFrame, pixels, &low, &high);
    QCOMPARE(Ints(low), minima);
    QCOMPARE(Ints(high), maxima);
}

void TestWaveformSummary::gateCut_data()
{
    QTest::addColumn<QByteArray>("audio");
    QTest::addColumn<int>("gatePosition");
    QTest::addColumn<int>("frames");

    // Rises through every gate before the hit.
    const QByteArray leadIn = Pcm({0, 20, -40, 100, -200, 500, -1000, 2000, 30000, 5});
    QTest::newRow("Don't") << leadIn << 0 << 0;
    QTest::newRow("-60dB") << leadIn << 1 << 2;
    QTest::newRow("-50dB") << leadIn << 2 << 4;
    QTest::newRow("-40dB") << leadIn << 3 << 5;
    QTest::newRow("-30dB") << leadIn << 4 << 7;
    QTest::newRow("never reaches the gate") << Pcm({10, -20, 1034}) << 4 << 3;
    QTest::newRow("-32768 passes every gate") << Pcm({-32768, 0}) << 4 << 0;
    QTest::newRow("no samples") << QByteArray() << 4 << 0;
}

void TestWaveformSummary::gateCut()
{
    QFETCH(QByteArray, audio);
    QFETCH(int, gatePosition);
    QFETCH(int, frames);
    QString label;
    quint16 gate = 0;
    QVERIFY(GateForPosition(gatePosition, &label, &gate));
    QCOMPARE(GateCutFrames(audio, gate), qint64(frames));
    QCOMPARE(GateCutFrames(audio, gate), (audio.size() - CutLeadingSilence(audio, gate).size()) / 2);
}

ZK_TEST(TestWaveformSummary)
#include "tst_waveformsummary.moc"
