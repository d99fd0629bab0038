#include <QtTest>

#include <limits>

#include "fileprocessor.h"
#include "tailtrim.h"
#include "testmain.h"
#include "testsupport.h"
#include "zkslayout.h"

Q_DECLARE_METATYPE(QVector<int>)

namespace {

QVector<int> Samples(const QByteArray &pcm)
{
    QVector<int> samples;
    for (int i = 0; i + 1 < pcm.size(); i += 2)
        samples << int(qint16(ReadLE(pcm, i, 2)));
    return samples;
}

QByteArray Wave(quint16 channels, const QVector<int> &samples)
{
    return CanonicalWavHeader(channels, kBankRate, 16, quint32(samples.size() * 2)) + Pcm(samples);
}

// A hit whose magnitude falls by one per sample from 10000, alternating in
// sign: its last sample above -60 dBFS (33 and up) is sample 9967. Then
// `silentFrames` frames of silence. Stereo frames carry the hit in both
// channels, the right one inverted.
QVector<int> HitWithTail(int channels, int silentFrames)
{
    QVector<int> samples;
    for (int i = 0; i < 10000; ++i) {
        const int s = (i % 2 ? -1 : 1) * (10000 - i);
        samples << s;
        if (channels == 2)
            samples << -s;
    }
    samples.resize(samples.size() + silentFrames * channels);
    return samples;
}
constexpr int kHitLastLoud = 9967;

} // namespace

class TestTailTrim : public QObject
{
    Q_OBJECT

private slots:
    void level_data();
    void level();
    void trim_data();
    void trim();
    void silentTailGoes_data();
    void silentTailGoes();
    void fadeFallsLinearly();
    void trimFile_data();
    void trimFile();
    void trimFileRefused_data();
    void trimFileRefused();
    void untrimmedStaysTodaysBank();
};

void TestTailTrim::level_data()
{
    QTest::addColumn<double>("dbfs");
    QTest::addColumn<int>("level");
    QTest::newRow("-60 dBFS: 32.8, the gate's 33") << -60.0 << 33;
    QTest::newRow("-40 dBFS: 327.7") << -40.0 << 328;
    QTest::newRow("-20 dBFS: 3276.8") << -20.0 << 3277;
    QTest::newRow("-200 dBFS: only silence is quiet") << -200.0 << 1;
    QTest::newRow("0 dBFS: every sample is quiet") << 0.0 << 32769;
    QTest::newRow("not a number: only silence is quiet") << std::numeric_limits<double>::quiet_NaN()
                                                         << 1;
}

void TestTailTrim::level()
{
    QFETCH(double, dbfs);
    QFETCH(int, level);
    QCOMPARE(TailLevel(dbfs), level);
}

void TestTailTrim::trim_data()
{
    QTest::addColumn<int>("channels");
    QTest::addColumn<double>("dbfs");
    QTest::addColumn<QVector<int>>("input");
    QTest::addColumn<QVector<int>>("output");

    QTest::newRow("sound up to its last sample: unchanged")
        << 1 << -60.0 << QVector<int>{0, 5, 1000, -2000, 33} << QVector<int>{0, 5, 1000, -2000, 33};
    QTest::newRow("quiet tail shorter than the fade: faded where it is")
        << 1 << -60.0 << QVector<int>{1000, -500, 20, -20, 20}
        << QVector<int>{1000, -500, 13, -6, 0};
    QTest::newRow("33 and -33 are sound, 32 is quiet")
        << 1 << -60.0 << QVector<int>{32, -33, 32, 32} << QVector<int>{32, -33, 16, 0};
    QTest::newRow("-32768 is sound") << 1 << -60.0 << QVector<int>{-32768, 7}
                                     << QVector<int>{-32768, 0};
    QTest::newRow("-20 dBFS: 3000 is quiet")
        << 1 << -20.0 << QVector<int>{4000, 3000, 3000} << QVector<int>{4000, 1500, 0};
    QTest::newRow("stereo: the left channel decides, both fade")
        << 2 << -60.0 << QVector<int>{1000, 1000, 10, 5000, 10, 5000, 0, 5000}
        << QVector<int>{1000, 1000, 6, 3333, 3, 1666, 0, 0};
    QTest::newRow("stereo: a loud left under a quiet right is sound")
        << 2 << -60.0 << QVector<int>{0, 0, 1000, 0, 0, 1000} << QVector<int>{0, 0, 1000, 0, 0, 0};
    QTest::newRow("stereo: a sample after the last whole frame goes")
        << 2 << -60.0 << QVector<int>{1000, 1000, 1000, 1000, 7}
        << QVector<int>{1000, 1000, 1000, 1000};
    QTest::newRow("never sound: the fade alone") << 1 << -60.0 << QVector<int>{30, 30, 30}
                                                 << QVector<int>{20, 10, 0};
    QTest::newRow("empty stays empty") << 1 << -60.0 << QVector<int>{} << QVector<int>{};
}

void TestTailTrim::trim()
{
    QFETCH(int, channels);
    QFETCH(double, dbfs);
    QFETCH(QVector<int>, input);
    QFETCH(QVector<int>, output);
    QCOMPARE(Samples(TrimQuietTail(Pcm(input), channels, dbfs)), output);
}

void TestTailTrim::silentTailGoes_data()
{
    QTest::addColumn<int>("channels");
    QTest::newRow("mono") << 1;
    QTest::newRow("stereo") << 2;
}

// A hit with five seconds of silence after it keeps all of its sound and
// 10 ms of its tail, faded.
void TestTailTrim::silentTailGoes()
{
    QFETCH(int, channels);
    const QVector<int> input = HitWithTail(channels, 5 * kBankRate);
    const QVector<int> output = Samples(TrimQuietTail(Pcm(input), channels));

    const int kept = (kHitLastLoud + 1) * channels;
    QCOMPARE(output.size(), kept + kTailFadeFrames * channels);
    QCOMPARE(output.mid(0, kept), input.mid(0, kept));
    for (int i = kept; i < input.size(); ++i)
        QVERIFY(qAbs(input.at(i)) < 33);
    for (int i = kept; i < output.size(); ++i)
        QVERIFY(qAbs(output.at(i)) <= qAbs(input.at(i)));
    QCOMPARE(output.mid(output.size() - channels), QVector<int>(channels, 0));
}

void TestTailTrim::fadeFallsLinearly()
{
    // At -20 dBFS a tail of 3000 is quiet: the fade over it is easy to see.
    QVector<int> input(1 + 1000, 3000);
    input[0] = 20000;
    const QVector<int> output = Samples(TrimQuietTail(Pcm(input), 1, -20.0));

    QCOMPARE(output.size(), 1 + kTailFadeFrames);
    QCOMPARE(output.first(), 20000);
    QCOMPARE(output.last(), 0);
    for (int i = 1; i <= kTailFadeFrames; ++i) {
        QCOMPARE(output.at(i), 3000 * (kTailFadeFrames - i) / kTailFadeFrames);
        // 3000 over 441 steps: each falls by 6 or 7.
        const int step = (i == 1 ? 3000 : output.at(i - 1)) - output.at(i);
        QVERIFY2(step == 6 || step == 7, qPrintable(QString::number(step)));
    }
}

void TestTailTrim::trimFile_data()
{
    QTest::addColumn<int>("channels");
    QTest::addColumn<QVector<int>>("samples");
    QTest::addColumn<bool>("unchanged");

    QTest::newRow("mono hit with 5 s of silence") << 1 << HitWithTail(1, 5 * kBankRate) << false;
    QTest::newRow("stereo hit with 5 s of silence") << 2 << HitWithTail(2, 5 * kBankRate) << false;
    QTest::newRow("sound to the end: the same bytes") << 1 << HitWithTail(1, 0).mid(0, 5000)
                                                       << true;
    QTest::newRow("all quiet: the fade, still a layer") << 1 << QVector<int>(20000, 20) << false;
}

void TestTailTrim::trimFile()
{
    QFETCH(int, channels);
    QFETCH(QVector<int>, samples);
    QFETCH(bool, unchanged);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString converted = dir.filePath("1/hit.wav");
    const QString trimmed = dir.filePath("2/hit.wav");
    const QByteArray original = Wave(quint16(channels), samples);
    QVERIFY(WriteBytes(converted, original));
    QVERIFY(QDir().mkpath(dir.filePath("2")));

    qint64 saved = -1;
    QString error;
    QVERIFY2(TrimTailFile(converted, trimmed, kDefaultTailDbfs, &saved, &error),
             qPrintable(error));

    QCOMPARE(ReadAll(converted), original);
    const QByteArray expected
        = Wave(quint16(channels), Samples(TrimQuietTail(Pcm(samples), channels)));
    QCOMPARE(ReadAll(trimmed), unchanged ? original : expected);

    const int before = OpenAndCheckFile(converted);
    const int after = OpenAndCheckFile(trimmed);
    QVERIFY(before > 0);
    QVERIFY(after > 0);
    QCOMPARE(saved, qint64(before - after));
    QCOMPARE(saved == 0, unchanged);
}

void TestTailTrim::trimFileRefused_data()
{
    QTest::addColumn<QString>("converted"); // in the test folder
    QTest::addColumn<QByteArray>("content"); // written there unless empty
    QTest::addColumn<QString>("trimmed"); // in the test folder; empty: no path
    QTest::addColumn<QString>("error"); // pattern

    const QByteArray hit = Wave(1, HitWithTail(1, 1000));
    QTest::newRow("no such file") << "none.wav" << QByteArray() << "old.wav" << "^no such file$";
    QTest::newRow("a folder") << "folder" << QByteArray() << "old.wav" << "^not a regular file$";
    QTest::newRow("not a WAVE") << "text.wav" << QByteArray("RIFF, but only text follows here")
                                << "old.wav" << "^not a canonical WAVE file$";
    QTest::newRow("8-bit") << "bits8.wav"
                           << CanonicalWavHeader(1, kBankRate, 8, 4) + "\x80\x90\xa0\xb0"
                           << "old.wav" << "^not 16-bit PCM in one or two channels$";
    QTest::newRow("float") << "float.wav"
                           << CanonicalWavHeader(1, kBankRate, 32, 4, 3) + QByteArray(4, '\0')
                           << "old.wav" << "^not 16-bit PCM in one or two channels$";
    QTest::newRow("three channels") << "three.wav" << Wave(3, {1000, 1000, 1000}) << "old.wav"
                                    << "^not 16-bit PCM in one or two channels$";
    QTest::newRow("cut short")
        << "short.wav" << CanonicalWavHeader(1, kBankRate, 16, 2000) + QByteArray(1000, '\x10')
        << "old.wav" << "^the file holds 1000 of the 2000 bytes of sound its header declares$";
    QTest::newRow("onto the converted file")
        << "hit.wav" << hit << "hit.wav" << "^the trimmed copy would replace the converted file$";
    QTest::newRow("through a link onto the converted file")
        << "hit.wav" << hit << "link.wav" << "^the trimmed copy would replace the converted file$";
    QTest::newRow("no path for the trimmed copy")
        << "hit.wav" << hit << QString() << "^no file name for the trimmed copy$";
    QTest::newRow("into a missing folder")
        << "hit.wav" << hit << "missing/out.wav" << "/missing/out\\.wav: .+$";
}

void TestTailTrim::trimFileRefused()
{
    QFETCH(QString, converted);
    QFETCH(QByteArray, content);
    QFETCH(QString, trimmed);
    QFETCH(QString, error);

    // The test folder is the working folder too: an empty path makes nothing
    // there either.
    FreshWorkingFolder work;
    const QDir dir(work.path());
    QVERIFY(dir.mkdir("folder"));
    QVERIFY(WriteBytes(dir.filePath("old.wav"), "an earlier trimmed copy"));
    if (!content.isEmpty())
        QVERIFY(WriteBytes(dir.filePath(converted), content));
    QVERIFY(QFile::link(dir.filePath("hit.wav"), dir.filePath("link.wav")));
    const QMap<QString, QByteArray> before = Snapshot(dir.path());

    qint64 saved = 123;
    QString reason;
    const QString target = trimmed.isEmpty() ? QString() : dir.filePath(trimmed);
    QVERIFY(!TrimTailFile(dir.filePath(converted), target, kDefaultTailDbfs, &saved, &reason));
    QVERIFY2(QRegularExpression(error).match(reason).hasMatch(), qPrintable(reason));
    QCOMPARE(saved, qint64(0));
    QCOMPARE(Snapshot(dir.path()), before);
}

// Not trimming leaves the converted file, and so the bank made from it, as
// they were; the trimmed copy makes a bank smaller by the bytes reported.
void TestTailTrim::untrimmedStaysTodaysBank()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString converted = dir.filePath("1/hit.wav");
    const QString trimmed = dir.filePath("2/hit.wav");
    QVERIFY(WriteBytes(converted, Wave(1, HitWithTail(1, kBankRate))));
    QVERIFY(QDir().mkpath(dir.filePath("2")));

    // Each bank goes into a folder of its own: its file name is stored too.
    const auto generate = [&](const QString &layer, const QString &folder) {
        const QVector<LayerFile> layers{
            {layer, QStringLiteral("hit.wav"), OpenAndCheckFile(layer)}};
        ThresholdTable thresholds = {};
        DefaultThresholds(thresholds, 1);
        const QString bank = dir.filePath(folder + QStringLiteral("/kit.zks"));
        return QDir().mkpath(dir.filePath(folder))
                && GenerateZKS(MakeGeneratorArgs(layers, thresholds, 0, bank)) == GENERATE_OK
            ? ReadAll(bank).remove(kBankTagOffset, 4)
            : QByteArray();
    };
    const QByteArray today = generate(converted, "today");
    QVERIFY(!today.isEmpty());

    qint64 saved = 0;
    QVERIFY(TrimTailFile(converted, trimmed, kDefaultTailDbfs, &saved));
    QCOMPARE(generate(converted, "off"), today);

    const QByteArray smaller = generate(trimmed, "on");
    QVERIFY(saved > 0);
    QCOMPARE(qint64(smaller.size()), today.size() - saved);
    const QByteArray audio = ReadAll(trimmed).mid(kWavHeaderSize);
    QCOMPARE(smaller.mid(kBankBlock - 4, audio.size()), audio);
}

ZK_TEST(TestTailTrim)
#include "tst_tailtrim.moc"
