#include <QtTest>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include "bankbuild.h"
#include "explain.h"
#include "fileprocessor.h"
#include "intake.h"
#include "kitpipeline.h"
#include "layeranalysis.h"
#include "loudness.h"
#include "resultcodes.h"
#include "soundinfo.h"
#include "testmain.h"
#include "testsupport.h"
#include "workerpool.h"
#include "zkslayout.h"

// The way from chosen sounds to a bank that the window and zkstool share:
// the intake's verdict, the bank's assembly, and the pool that runs many
// banks at once.
class TestPipeline : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void takeIn_data();
    void takeIn();
    void takeInCancelled();
    void takeInWithoutConverting_data();
    void takeInWithoutConverting();
    void assemblesAsTheWindow_data();
    void assemblesAsTheWindow();
    void poolTellsInOrder();
    void poolStops_data();
    void poolStops();
    void outOfDescriptorsJudged();
};

void TestPipeline::cleanup()
{
    RemoveWorkFolder();
}

void TestPipeline::takeIn_data()
{
    QTest::addColumn<QString>("kind");   // of the chosen file
    QTest::addColumn<bool>("standIn");   // converted by a stand-in giving 8-bit samples
    QTest::addColumn<int>("code");       // the refusal's; 0: a layer
    QTest::addColumn<QString>("detail"); // pattern
    QTest::addColumn<bool>("converted"); // the converter was asked

    QTest::newRow("a sound at the bank's rate") << "sound" << false << 0 << QString() << true;
    QTest::newRow("far too long: refused from its header, nothing converted")
        << "long" << false << int(RESULT_TOO_BIG) << "^the sound lasts 40\\.0\\Ws" << false;
    QTest::newRow("no sound at all")
        << "text" << false << int(RESULT_OPEN_FAILED) << "^Format not recognised\\. Accepted: " << true;
    QTest::newRow("converted, but refused by the sound check")
        << "sound" << true << int(RESULT_FILE_ERROR) << "^the converted sound is not 16-bit PCM" << true;
}

void TestPipeline::takeIn()
{
    QFETCH(QString, kind);
    QFETCH(bool, standIn);
    QFETCH(int, code);
    QFETCH(QString, detail);
    QFETCH(bool, converted);

    QTemporaryDir tmp;
    const QString chosen = tmp.filePath(QStringLiteral("hit.wav"));
    if (kind == QLatin1String("long"))
        QVERIFY(WriteSilentWave(chosen, 1, kBankRate, 40 * qint64(kBankRate)));
    else if (kind == QLatin1String("text"))
        QVERIFY(WriteBytes(chosen, QByteArray("kick, snare, hats\n").repeated(100)));
    else
        QVERIFY(WriteBytes(chosen, Wav16(1, kBankRate, Ramp(9000))));

    ConvertOptions options;
    options.inProcess = true;
    options.workFolder = WorkFolder();
    int asked = 0;
    const SoundConverter convert = [&](const QString &file, const ConvertOptions &given, QString *reason) {
        ++asked;
        if (!standIn)
            return ConvertFile(file, given, reason);
        const QString result = NewResultFolder(given.workFolder) + QStringLiteral("/hit.wav");
        WriteBytes(result, CanonicalWavHeader(1, kBankRate, 8, 20000) + QByteArray(20000, '\x80'));
        return result;
    };
    const IntakeVerdict verdict = TakeInSound(chosen, options, convert);

    QCOMPARE(asked, converted ? 1 : 0);
    QCOMPARE(verdict.chosen, chosen);
    QVERIFY(!verdict.cancelled);
    QCOMPARE(verdict.refusal.code, code);
    QCOMPARE(verdict.IsLayer(), code == 0);
    if (code == 0) {
        QCOMPARE(verdict.layer.name, QStringLiteral("hit.wav"));
        QCOMPARE(verdict.layer.size, LayerSizeFor(2 * 9000, false));
        QCOMPARE(OpenAndCheckFile(verdict.layer.path), verdict.layer.size);
        QVERIFY(verdict.layer.path.startsWith(WorkFolder() + QLatin1Char('/')));
        return;
    }
    // About the file as the caller named it; and nothing of it stays.
    QCOMPARE(verdict.refusal.subject, chosen);
    QVERIFY2(QRegularExpression(detail).match(verdict.refusal.detail).hasMatch(),
             qPrintable(verdict.refusal.detail));
    QVERIFY(verdict.layer.path.isEmpty());
    QCOMPARE(FolderTree(WorkFolder()), QStringList());
}

// Cancelled once the converter had made its file: no verdict, no file.
void TestPipeline::takeInCancelled()
{
    QTemporaryDir tmp;
    const QString chosen = tmp.filePath(QStringLiteral("hit.wav"));
    QVERIFY(WriteBytes(chosen, Wav16(1, kBankRate, Ramp(9000))));
    std::atomic<bool> cancelled(false);
    ConvertOptions options;
    options.inProcess = true;
    options.workFolder = WorkFolder();
    options.cancelled = &cancelled;
    const IntakeVerdict verdict = TakeInSound(chosen, options, [&](const QString &file, const ConvertOptions &given, QString *reason) {
        const QString result = ConvertFile(file, given, reason);
        cancelled = true;
        return result;
    });
    QVERIFY(verdict.cancelled);
    QVERIFY(!verdict.IsLayer());
    QVERIFY(verdict.refusal.IsEmpty());
    QCOMPARE(FolderTree(WorkFolder()), QStringList());
}

void TestPipeline::takeInWithoutConverting_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("rate");
    QTest::addColumn<bool>("known");
    QTest::addColumn<int>("code");

    QTest::newRow("16-bit at 44100 Hz") << "hit.wav" << int(kBankRate) << true << 0;
    QTest::newRow("another rate: only converting tells") << "hit.wav" << 48000 << false << 0;
    QTest::newRow("name too long") << QString(57, QLatin1Char('n')) + ".wav" << int(kBankRate) << true
                                   << int(RESULT_NAME_TOO_LONG);
}

void TestPipeline::takeInWithoutConverting()
{
    QFETCH(QString, name);
    QFETCH(int, rate);
    QFETCH(bool, known);
    QFETCH(int, code);
    QTemporaryDir tmp;
    const QString chosen = tmp.filePath(name);
    QVERIFY(WriteBytes(chosen, Wav16(2, quint32(rate), Interleaved(Ramp(4000), Ramp(4000)))));

    IntakeVerdict verdict;
    QCOMPARE(TakeInWithoutConverting(chosen, &verdict), known);
    if (!known)
        return;
    QCOMPARE(verdict.refusal.code, code);
    if (code == 0) {
        // The converted file would keep the very samples: the same size.
        QCOMPARE(verdict.layer.path, chosen);
        QCOMPARE(verdict.layer.size, LayerSizeFor(4 * 4000, true));
    } else {
        QCOMPARE(verdict.refusal.subject, chosen);
        QCOMPARE(verdict.refusal.detail, NameTooLongDetail(name));
    }
}

void TestPipeline::assemblesAsTheWindow_data()
{
    QTest::addColumn<bool>("byLoudness");
    QTest::newRow("in the order given") << false;
    QTest::newRow("ordered by loudness, thresholds spread") << true;
}

// zkstool's BuildBank and the window's way (each sound taken in, ordered by
// the shared loudness order, written through MakeGeneratorArgs and
// GenerateZKS) make the same bank.
void TestPipeline::assemblesAsTheWindow()
{
    QFETCH(bool, byLoudness);
    QTemporaryDir tmp;
    QStringList files;
    const int amplitudes[] = {3000, 20000, 9000};
    for (int k = 0; k < 3; ++k) {
        files << tmp.filePath(QStringLiteral("hit%1.wav").arg(k + 1));
        QVERIFY(WriteBytes(files.constLast(), Wav16(1, kBankRate, Square(6000 + 1000 * k, qint16(amplitudes[k])))));
    }
    QString label;
    quint16 gate = 0;
    QVERIFY(GateForPosition(2, &label, &gate));
    QVERIFY(QDir().mkpath(tmp.filePath("window")) && QDir().mkpath(tmp.filePath("tool")));

    ConvertOptions options;
    options.inProcess = true;
    QVector<LayerFile> layers;
    QVector<double> attack;
    // Measured as the window's rows are.
    LayerAnalysis analysis;
    for (const QString &file : files) {
        const IntakeVerdict verdict = TakeInSound(file, options);
        QVERIFY2(verdict.IsLayer(), qPrintable(verdict.refusal.Line()));
        layers << verdict.layer;
        LayerLevels levels;
        QVERIFY(analysis.levels(verdict.layer.path, gate, &levels));
        attack << levels.attackDbfs;
    }
    ThresholdTable thresholds = {};
    DefaultThresholds(thresholds, 3);
    if (byLoudness) {
        QVector<LayerFile> ordered;
        for (int from : LoudnessOrder(attack, true, thresholds))
            ordered << layers.at(from);
        QCOMPARE(ordered.constFirst().name, QStringLiteral("hit2.wav"));
        layers = ordered;
    }
    const QString windowBank = tmp.filePath("window/kit.zks");
    QCOMPARE(GenerateZKS(MakeGeneratorArgs(layers, thresholds, gate, windowBank)), qint32(GENERATE_OK));

    BankRequest request;
    request.files = files;
    request.target = tmp.filePath("tool/kit.zks");
    request.gate = gate;
    DefaultThresholds(request.thresholds, 3);
    request.orderByLoudness = byLoudness;
    const BankResult result = BuildBank(request);
    QVERIFY2(result.outcome == BankResult::Outcome::Built, qPrintable(result.refusal.Line()));
    QCOMPARE(result.layers, 3);
    QVERIFY(WithoutTag(ReadAll(request.target)) == WithoutTag(ReadAll(windowBank)));
}

// Results come in the jobs' order on the calling thread, however the jobs
// finish: here the first ends last.
void TestPipeline::poolTellsInOrder()
{
    const int count = 6;
    std::atomic<int> othersEnded(0);
    QVector<int> told;
    PoolCalls calls;
    calls.run = [&](int i) {
        if (i == 0) {
            while (othersEnded < count - 1)
                std::this_thread::yield();
        } else {
            ++othersEnded;
        }
        return JobEnd();
    };
    const auto caller = std::this_thread::get_id();
    bool elsewhere = false;
    calls.tell = [&](int i) {
        elsewhere = elsewhere || std::this_thread::get_id() != caller;
        told << i;
    };
    QCOMPARE(RunInOrder(count, 3, nullptr, calls), PoolEnd::Whole);
    QCOMPARE(told, (QVector<int>{0, 1, 2, 3, 4, 5}));
    QVERIFY(!elsewhere);
}

void TestPipeline::poolStops_data()
{
    QTest::addColumn<int>("stopAt");        // the job that sets the stop flag; -1: none
    QTest::addColumn<int>("interruptedAt"); // the job that ends interrupted; -1: none
    QTest::addColumn<int>("outAt");         // the job that runs out of descriptors; -1: none
    QTest::addColumn<QVector<int>>("ran");
    QTest::addColumn<QVector<int>>("told");
    QTest::addColumn<int>("end");

    QTest::newRow("out of descriptors")
        << -1 << -1 << 3 << QVector<int>{0, 1, 2, 3} << QVector<int>{0, 1, 2} << int(PoolEnd::OutOfDescriptors);
    QTest::newRow("stopped, the job that saw it done")
        << 2 << -1 << -1 << QVector<int>{0, 1, 2} << QVector<int>{0, 1, 2} << int(PoolEnd::Interrupted);
    QTest::newRow("stopped part way through a job")
        << 2 << 2 << -1 << QVector<int>{0, 1, 2} << QVector<int>{0, 1} << int(PoolEnd::Interrupted);
    QTest::newRow("stopped and out of descriptors: the stop is told")
        << 1 << -1 << 1 << QVector<int>{0, 1} << QVector<int>{0} << int(PoolEnd::Interrupted);
    QTest::newRow("stopped after the last job: whole")
        << 5 << -1 << -1 << QVector<int>{0, 1, 2, 3, 4, 5} << QVector<int>{0, 1, 2, 3, 4, 5}
        << int(PoolEnd::Whole);
}

void TestPipeline::poolStops()
{
    QFETCH(int, stopAt);
    QFETCH(int, interruptedAt);
    QFETCH(int, outAt);
    QFETCH(QVector<int>, ran);
    QFETCH(QVector<int>, told);
    QFETCH(int, end);

    std::atomic<bool> stop(false);
    QVector<int> running;
    QVector<int> telling;
    PoolCalls calls;
    // One thread: which jobs start at all is certain.
    calls.run = [&](int i) {
        running << i;
        JobEnd ended;
        stop = stop || i == stopAt;
        ended.interrupted = i == interruptedAt;
        ended.outOfDescriptors = i == outAt;
        return ended;
    };
    calls.tell = [&](int i) { telling << i; };
    QCOMPARE(int(RunInOrder(6, 1, &stop, calls)), end);
    QCOMPARE(running, ran);
    QCOMPARE(telling, told);
}

void TestPipeline::outOfDescriptorsJudged()
{
    const QString emfile = QString::fromLocal8Bit(std::strerror(EMFILE));
    QVERIFY(JobEnd::FailedWith(RefusalFor(RESULT_OPEN_FAILED, "kick.wav", emfile)).outOfDescriptors);
    QVERIFY(JobEnd::FailedWith(RefusalSaying("kit", "no usable sample", "s1.wav: " + emfile)).outOfDescriptors);
    QVERIFY(!JobEnd::FailedWith(RefusalFor(RESULT_OPEN_FAILED, "kick.wav", "no such file")).outOfDescriptors);
}

ZK_TEST(TestPipeline)
#include "tst_pipeline.moc"
