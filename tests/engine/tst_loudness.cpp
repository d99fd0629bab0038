#include <QtTest>

#include <cmath>
#include <limits>

#include "fileprocessor.h"
#include "loudness.h"
#include "layerrules.h"
#include "testmain.h"
#include "testsupport.h"
#include "zkslayout.h"

namespace {

const double kSilence = -std::numeric_limits<double>::infinity();
// A 1 kHz sine with a peak of half full scale: -6.02 dBFS peak, -9.03 dBFS
// RMS. Its integrated loudness is -9.03 LUFS as well: K-weighting lifts
// 1 kHz by the 0.691 dB that BS.1770's -0.691 offset takes off again (set at
// 997 Hz; 1000 Hz reads 0.01 dB more), so a one-channel sine reads its mean
// square in dB.
const double kSinePeak = 20 * std::log10(0.5);
const double kSineRms = 20 * std::log10(0.5 / std::sqrt(2.0));
const double kSineLufs = kSineRms;

double Dbfs(double amplitude)
{
    return 20 * std::log10(amplitude / 32768);
}

// Minus infinity only matches itself.
bool Near(double measured, double expected, double tolerance)
{
    return std::isinf(expected) ? measured == expected : std::abs(measured - expected) <= tolerance;
}

void CompareLevels(const LayerLevels &got, double peak, double attack, bool known, double lufs)
{
    QVERIFY2(Near(got.peakDbfs, peak, 0.01), qPrintable(QString::number(got.peakDbfs)));
    QVERIFY2(Near(got.attackDbfs, attack, 0.01), qPrintable(QString::number(got.attackDbfs)));
    QCOMPARE(got.loudnessKnown, known);
    if (known)
        QVERIFY2(Near(got.loudnessLufs, lufs, 0.1), qPrintable(QString::number(got.loudnessLufs)));
}

} // namespace

class TestLoudness : public QObject
{
    Q_OBJECT

private slots:
    void samples_data();
    void samples();
    void layerFile_data();
    void layerFile();
    void layerAudio_data();
    void layerAudio();
    void refused_data();
    void refused();
    void orderIgnoresLeadingSilence_data();
    void orderIgnoresLeadingSilence();
};

void TestLoudness::samples_data()
{
    QTest::addColumn<QByteArray>("audio");
    QTest::addColumn<double>("peak");
    QTest::addColumn<double>("attack");
    QTest::addColumn<bool>("known");
    QTest::addColumn<double>("lufs");

    QTest::newRow("-6 dBFS 1 kHz sine, 1 s")
        << Pcm(Sine1k(kBankRate, kSinePeak)) << kSinePeak << kSineRms << true << kSineLufs;
    QTest::newRow("exactly 0.4 s has a loudness")
        << Pcm(Sine1k(kShortestLoudnessFrames, kSinePeak)) << kSinePeak << kSineRms << true
        << kSineLufs;
    QTest::newRow("one frame short of 0.4 s has none")
        << Pcm(Sine1k(kShortestLoudnessFrames - 1, kSinePeak)) << kSinePeak << kSineRms << false
        << 0.0;
    // Shorter than the attack window: the RMS of what there is.
    QTest::newRow("20 ms click") << Pcm(Square(882, 16384)) << kSinePeak << kSinePeak << false
                                 << 0.0;
    QTest::newRow("attack is the first 50 ms only")
        << Pcm(Square(kAttackFrames, 10000) + Sine1k(kBankRate, kSinePeak)) << kSinePeak
        << Dbfs(10000) << true << kSineLufs;
    // More than 20 dB below the peak, the lead-in is not yet the hit.
    QTest::newRow("attack starts at the onset")
        << Pcm(Square(kAttackFrames, 1000) + Sine1k(kBankRate, kSinePeak)) << kSinePeak
        << kSineRms << true << kSineLufs;
    QTest::newRow("-32768 is full scale, from the onset") << Pcm({0, -32768, 0}) << 0.0 << Dbfs(32768 / std::sqrt(2.0))
                                          << false << 0.0;
    QTest::newRow("silence, 1 s") << Pcm(QVector<qint16>(kBankRate)) << kSilence << kSilence
                                  << true << kSilence;
    QTest::newRow("no samples") << QByteArray() << kSilence << kSilence << false << 0.0;
    QTest::newRow("a trailing odd byte is no sample") << QByteArray(1, '\x7f') << kSilence
                                                      << kSilence << false << 0.0;
}

void TestLoudness::samples()
{
    QFETCH(QByteArray, audio);
    QFETCH(double, peak);
    QFETCH(double, attack);
    QFETCH(bool, known);
    QFETCH(double, lufs);
    CompareLevels(MeasureSamples(audio), peak, attack, known, lufs);
}

void TestLoudness::layerFile_data()
{
    QTest::addColumn<QByteArray>("wave");
    QTest::addColumn<int>("gatePosition");
    QTest::addColumn<double>("peak");
    QTest::addColumn<double>("attack");
    QTest::addColumn<double>("lufs");

    const QVector<qint16> sine = Sine1k(kBankRate, kSinePeak);
    QTest::newRow("mono") << Wav16(1, kBankRate, sine) << 0 << kSinePeak << kSineRms << kSineLufs;
    QTest::newRow("stereo: the left channel counts")
        << Wav16(2, kBankRate, Interleaved(sine, Square(kBankRate, 32767))) << 0 << kSinePeak
        << kSineRms << kSineLufs;
    QTest::newRow("stereo: a silent left channel is silence")
        << Wav16(2, kBankRate, Interleaved(QVector<qint16>(kBankRate), sine)) << 0 << kSilence
        << kSilence << kSilence;

    // 100 ms at amplitude 60 before the hit: above the -60dB gate's 33,
    // below the -50dB gate's 103. The attack starts at the hit either way;
    // while the lead-in stays, the first 400 ms block holds 300 ms of the
    // sine, taking 0.14 LU off the eight blocks' mean.
    const QByteArray leadIn = Wav16(1, kBankRate, Square(4410, 60) + sine);
    const double withLeadIn = kSineLufs + 10 * std::log10((0.75 + 7) / 8);
    QTest::newRow("quiet lead-in, gate off") << leadIn << 0 << kSinePeak << kSineRms << withLeadIn;
    QTest::newRow("quiet lead-in, -60dB keeps it")
        << leadIn << 1 << kSinePeak << kSineRms << withLeadIn;
    QTest::newRow("quiet lead-in, -50dB cuts it")
        << leadIn << 2 << kSinePeak << kSineRms << kSineLufs;
    QTest::newRow("quiet lead-in, -30dB cuts it")
        << leadIn << 4 << kSinePeak << kSineRms << kSineLufs;

    QByteArray overstated = Wav16(1, kBankRate, sine);
    WriteLE(overstated, 40, quint32(4 * kBankRate), 4);
    QTest::newRow("header declares more than the file holds")
        << overstated << 0 << kSinePeak << kSineRms << kSineLufs;
}

void TestLoudness::layerFile()
{
    QFETCH(QByteArray, wave);
    QFETCH(int, gatePosition);
    QFETCH(double, peak);
    QFETCH(double, attack);
    QFETCH(double, lufs);
    QString label;
    quint16 gate = 0;
    QVERIFY(GateForPosition(gatePosition, &label, &gate));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("layer.wav"));
    QVERIFY(WriteBytes(path, wave));

    LayerLevels levels;
    QString reason = QStringLiteral("stale");
    QVERIFY(MeasureLayerFile(path, gate, &levels, &reason));
    QCOMPARE(reason, QString());
    CompareLevels(levels, peak, attack, true, lufs);
}

void TestLoudness::layerAudio_data()
{
    QTest::addColumn<QByteArray>("wave");
    QTest::addColumn<QByteArray>("audio");

    const QVector<qint16> lead = Square(4410, 60) + Sine1k(1000, kSinePeak);
    QTest::newRow("mono, its quiet lead-in kept") << Wav16(1, kBankRate, lead) << Pcm(lead);
    QTest::newRow("stereo: the left channel")
        << Wav16(2, kBankRate, Interleaved(lead, Square(lead.size(), 32767))) << Pcm(lead);
    QTest::newRow("no samples") << Wav16(1, kBankRate, {}) << QByteArray();
}

void TestLoudness::layerAudio()
{
    QFETCH(QByteArray, wave);
    QFETCH(QByteArray, audio);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("layer.wav"));
    QVERIFY(WriteBytes(path, wave));

    QByteArray got("stale");
    QString reason = QStringLiteral("stale");
    QVERIFY(ReadLayerAudio(path, &got, &reason));
    QCOMPARE(reason, QString());
    QCOMPARE(got, audio);
}

enum Fixture { NoFile, Folder, File };

void TestLoudness::refused_data()
{
    QTest::addColumn<int>("fixture");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("reason");

    const QString notWave = QStringLiteral("not a 16-bit 44100 Hz mono or stereo WAVE");
    const QByteArray samples(1024, '\x40');
    QTest::newRow("no such file") << int(NoFile) << QByteArray() << "no such file";
    QTest::newRow("a folder") << int(Folder) << QByteArray() << "the file could not be opened";
    QTest::newRow("empty file") << int(File) << QByteArray() << notWave;
    QTest::newRow("text") << int(File) << QByteArray(100, 'x') << notWave;
    QTest::newRow("shorter than a header")
        << int(File) << Wav16(1, kBankRate, Sine1k(100, kSinePeak)).left(40) << notWave;
    QTest::newRow("24-bit") << int(File) << CanonicalWavHeader(1, kBankRate, 24, 1024) + samples
                            << notWave;
    QTest::newRow("48000 Hz") << int(File) << CanonicalWavHeader(1, 48000, 16, 1024) + samples
                              << notWave;
    QTest::newRow("109636 Hz, 44100 in the low 16 bits")
        << int(File) << CanonicalWavHeader(1, 109636, 16, 1024) + samples << notWave;
    QTest::newRow("three channels")
        << int(File) << CanonicalWavHeader(3, kBankRate, 16, 1024) + samples << notWave;
    QTest::newRow("float samples")
        << int(File) << CanonicalWavHeader(1, kBankRate, 16, 1024, 3) + samples << notWave;
}

void TestLoudness::refused()
{
    QFETCH(int, fixture);
    QFETCH(QByteArray, contents);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("layer.wav"));
    if (fixture == Folder)
        QVERIFY(QDir().mkdir(path));
    if (fixture == File)
        QVERIFY(WriteBytes(path, contents));

    LayerLevels levels;
    levels.peakDbfs = 1;
    levels.attackDbfs = 2;
    levels.loudnessLufs = 3;
    levels.loudnessKnown = true;
    QString got;
    QVERIFY(!MeasureLayerFile(path, 0, &levels, &got));
    QCOMPARE(got, reason);
    QCOMPARE(levels.peakDbfs, 1.0);
    QCOMPARE(levels.attackDbfs, 2.0);
    QCOMPARE(levels.loudnessLufs, 3.0);
    QVERIFY(levels.loudnessKnown);

    QByteArray audio("kept");
    got.clear();
    QVERIFY(!ReadLayerAudio(path, &audio, &got));
    QCOMPARE(got, reason);
    QCOMPARE(audio, QByteArray("kept"));
    if (fixture == File)
        QCOMPARE(QFileInfo(path).size(), qint64(contents.size()));
}

void TestLoudness::orderIgnoresLeadingSilence_data()
{
    QTest::addColumn<int>("gatePosition");
    for (int position = 0; position < kGateLevels; ++position) {
        QString label;
        quint16 amplitude = 0;
        QVERIFY(GateForPosition(position, &label, &amplitude));
        QTest::newRow(qPrintable(label)) << position;
    }
}

// Four hits, loudest first, each a 200 Hz tone decaying over 150 ms; every
// hit is given 0, 20 and 90 ms of silence before it in turn, so a loud hit
// often starts later than a soft one.
void TestLoudness::orderIgnoresLeadingSilence()
{
    QFETCH(int, gatePosition);
    QString label;
    quint16 gate = 0;
    QVERIFY(GateForPosition(gatePosition, &label, &gate));
    const QVector<double> peaks{24000, 9000, 3000, 900};
    const QVector<int> leadMs{0, 20, 90};
    QTemporaryDir dir;
    for (int shift = 0; shift < leadMs.size(); ++shift) {
        QVector<double> attack;
        for (int hit = 0; hit < peaks.size(); ++hit) {
            QVector<qint16> samples(leadMs.at((hit + shift) % leadMs.size()) * kBankRate / 1000);
            for (int i = 0; i < kBankRate / 2; ++i)
                samples << qint16(std::lround(peaks.at(hit) * std::exp(-i / (0.15 * kBankRate))
                                              * std::sin(2 * M_PI * 200 * i / kBankRate)));
            const QString path = dir.filePath(QStringLiteral("hit%1-%2.wav").arg(hit).arg(shift));
            QVERIFY(WriteBytes(path, Wav16(1, kBankRate, samples)));
            LayerLevels levels;
            QVERIFY(MeasureLayerFile(path, gate, &levels));
            attack << levels.attackDbfs;
        }
        QCOMPARE(LoudestFirst(attack), (QVector<int>{0, 1, 2, 3}));
    }
}

ZK_TEST(TestLoudness)
#include "tst_loudness.moc"
