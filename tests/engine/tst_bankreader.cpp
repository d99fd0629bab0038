#include <QtTest>

#include <QScopeGuard>

#ifdef Q_OS_LINUX
#include <sys/mount.h>
#endif
#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

#include "bankreader.h"
#include "fileprocessor.h"
#include "layerrules.h"
#include "testmain.h"
#include "testsupport.h"
#include "zksbank.h"
#include "zkslayout.h"

Q_DECLARE_METATYPE(QVector<int>)

namespace {

// Writes each sound as a converted layer file and generates a bank of them,
// as the window does: layer sizes from the sound check, the given gate and
// thresholds of all eight slots.
bool MakeBank(const QString &bankPath, const QByteArrayList &sounds, const QStringList &names,
              const QVector<int> &thresholds, int gate, QVector<LayerFile> *sources = nullptr)
{
    const QString folder = QFileInfo(bankPath).dir().filePath(QStringLiteral("sources"));
    QVector<LayerFile> layers;
    for (int i = 0; i < sounds.size(); ++i) {
        const QString path = QStringLiteral("%1/%2.wav").arg(folder).arg(i + 1);
        const QByteArray &pcm = sounds.at(i);
        if (!WriteBytes(path, CanonicalWavHeader(1, kBankRate, 16, quint32(pcm.size())) + pcm))
            return false;
        layers << LayerFile{path, names.value(i), OpenAndCheckFile(path)};
    }
    ThresholdTable table = {};
    for (int k = 1; k <= kMaxLayers; ++k)
        table[k] = thresholds.value(k - 1);
    if (sources)
        *sources = layers;
    return GenerateZKS(MakeGeneratorArgs(layers, table, quint16(gate), bankPath)) == GENERATE_OK;
}

} // namespace

class TestBankReader : public QObject
{
    Q_OBJECT

private slots:
    void dropPadding_data();
    void dropPadding();
    void roundTrip_data();
    void roundTrip();
    void refused_data();
    void refused();
    void workFolderRefused_data();
    void workFolderRefused();
    void writeFailureLeavesNothing();
    void regionsFromTheFileRead();
    void discardedLikeConverted();
};

void TestBankReader::dropPadding_data()
{
    QTest::addColumn<QByteArray>("region");
    QTest::addColumn<QByteArray>("audio");
    QTest::newRow("nothing") << QByteArray() << QByteArray();
    QTest::newRow("zeros only") << QByteArray(512, '\0') << QByteArray();
    QTest::newRow("no padding") << QByteArray("\x01\x02") << QByteArray("\x01\x02");
    QTest::newRow("a sample whose high byte is zero stays whole")
        << QByteArray("\x05\0\0\0", 4) << QByteArray("\x05\0", 2);
    QTest::newRow("a sample whose low byte is zero stays whole")
        << QByteArray("\x07\x00\x00\x05\0\0", 6) << QByteArray("\x07\x00\x00\x05", 4);
}

void TestBankReader::dropPadding()
{
    QFETCH(QByteArray, region);
    QFETCH(QByteArray, audio);
    QCOMPARE(DropPadding(region), audio);
}

void TestBankReader::roundTrip_data()
{
    QTest::addColumn<QByteArrayList>("sounds");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QVector<int>>("thresholds"); // all eight slots
    QTest::addColumn<int>("gate");

    for (int n = 1; n <= kMaxLayers; ++n) {
        QByteArrayList sounds;
        QStringList names;
        for (int k = 1; k <= n; ++k) {
            sounds << Pcm(Ramp(700 * k + 13, 1000 * k));
            names << QStringLiteral("layer %1.wav").arg(k);
        }
        QTest::addRow("%d layers", n) << sounds << names << DefaultSpread(n) << 0;
    }
    QTest::newRow("edited thresholds, unused slots at 0 and below")
        << QByteArrayList{Pcm(Ramp(900)), Pcm(Ramp(800)), Pcm(Ramp(700))}
        << QStringList{"soft.wav", "mid.wav", "hard.wav"}
        << QVector<int>{100, 50, 1, 0, -1, -2, -3, -4} << 0;
    QTest::newRow("names of 60 characters")
        << QByteArrayList{Pcm(Ramp(900)), Pcm(Ramp(800))}
        << QStringList{QString(56, 'a') + ".wav", QString(60, 'b')} << DefaultSpread(2) << 0;
    QTest::newRow("non-ASCII names")
        << QByteArrayList{Pcm(Ramp(900)), Pcm(Ramp(800)), Pcm(Ramp(700)), Pcm(Ramp(600))}
        << QStringList{QStringLiteral("\u00DCberkick.wav"), QStringLiteral("\u9F13.wav"),
                       QStringLiteral("\U0001F941 snare.wav"), QString(60, QChar(0x9F13))}
        << DefaultSpread(4) << 0;
    QTest::newRow("names unusable as file names")
        << QByteArrayList{Pcm(Ramp(900)), Pcm(Ramp(800)), Pcm(Ramp(700)),
                          Pcm(Ramp(600)), Pcm(Ramp(500)), Pcm(Ramp(400))}
        << QStringList{"../../etc/passwd", "a:b*c?.wav", "", "CON", "kick.wav", "KICK.wav"}
        << DefaultSpread(6) << 0;

    // Quiet starts (below 1035) that the gate cuts: the regions hold less
    // sound and more padding than the files they were made from.
    QVector<int> quiet;
    for (int i = 0; i < 300; ++i)
        quiet << (i % 2 ? -1 : 1) * (i % 100);
    QTest::newRow("gate-cut bank")
        << QByteArrayList{Pcm(quiet) + Pcm(Ramp(900)), Pcm(quiet) + Pcm(Ramp(900))}
        << QStringList{"soft.wav", "hard.wav"} << DefaultSpread(2) << 1035;
    QTest::newRow("sound ending in silence before the padding")
        << QByteArrayList{Pcm(Ramp(900)) + QByteArray(600, '\0'),
                          Pcm({1000, 5}) + QByteArray(700, '\0'), QByteArray(2000, '\0')}
        << QStringList{"ring.wav", "tick.wav", "silence.wav"} << DefaultSpread(3) << 0;

    // Where the size tables stop: layers 5..8 are described by 13-bit
    // 256-byte units alone, which just hold 0x1FFE00; up to four layers a
    // layer may pass 2 MiB.
    const int nearLimit = (0x1FFE00 - 512) / 2;
    QTest::newRow("five layers, layer 5 near the size-table limit")
        << QByteArrayList{Pcm(Ramp(500)), Pcm(Ramp(500)), Pcm(Ramp(500)), Pcm(Ramp(500)),
                          Pcm(Ramp(nearLimit))}
        << QStringList{"1.wav", "2.wav", "3.wav", "4.wav", "5.wav"} << DefaultSpread(5) << 0;
    QTest::newRow("five layers, layer 1 near the size-table limit")
        << QByteArrayList{Pcm(Ramp(nearLimit)), Pcm(Ramp(500)), Pcm(Ramp(500)), Pcm(Ramp(500)),
                          Pcm(Ramp(500))}
        << QStringList{"1.wav", "2.wav", "3.wav", "4.wav", "5.wav"} << DefaultSpread(5) << 0;
    QTest::newRow("eight layers, layer 8 near the size-table limit")
        << QByteArrayList{Pcm(Ramp(500)), Pcm(Ramp(500)), Pcm(Ramp(500)), Pcm(Ramp(500)),
                          Pcm(Ramp(500)), Pcm(Ramp(500)), Pcm(Ramp(500)), Pcm(Ramp(nearLimit))}
        << QStringList{"1.wav", "2.wav", "3.wav", "4.wav", "5.wav", "6.wav", "7.wav", "8.wav"}
        << DefaultSpread(8) << 0;
    QTest::newRow("four layers, layer 4 past 2 MiB")
        << QByteArrayList{Pcm(Ramp(500)), Pcm(Ramp(500)), Pcm(Ramp(500)),
                          Pcm(Ramp((0x201000 - 512) / 2))}
        << QStringList{"1.wav", "2.wav", "3.wav", "4.wav"} << DefaultSpread(4) << 0;
}

void TestBankReader::roundTrip()
{
    QFETCH(QByteArrayList, sounds);
    QFETCH(QStringList, names);
    QFETCH(QVector<int>, thresholds);
    QFETCH(int, gate);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString original = dir.filePath("first/kit.zks");
    const QString work = dir.filePath("work");
    QVERIFY(QDir().mkpath(dir.filePath("first")) && QDir().mkpath(work));
    QVector<LayerFile> sources;
    QVERIFY(MakeBank(original, sounds, names, thresholds, gate, &sources));

    QVector<BankLayer> layers;
    ThresholdTable stored = {};
    QVector<BankProblem> problems;
    QVERIFY2(ReadBankLayers(original, work, &layers, stored, &problems),
             qPrintable(ProblemTexts(problems).join('\n')));

    ZksBank bank;
    QString error;
    QVERIFY(ReadZksBank(original, &bank, &error));
    const QStringList fileNames = WaveNamesFor(bank.regions);
    const QByteArray bankBytes = ReadAll(original);
    QCOMPARE(layers.size(), sounds.size());
    QSet<QString> folders;
    for (int i = 0; i < layers.size(); ++i) {
        const LayerFile &file = layers.at(i).file;
        QCOMPARE(file.name, names.at(i));
        QCOMPARE(file.size, sources.at(i).size);
        QCOMPARE(layers.at(i).threshold, thresholds.at(i) & 0x7F);

        // <work>/<n>/<safe name>, a folder of its own.
        const QFileInfo info(file.path);
        QCOMPARE(info.fileName(), fileNames.at(i));
        QDir folder = info.dir();
        bool numbered = false;
        folder.dirName().toInt(&numbered);
        QVERIFY(numbered);
        folders.insert(folder.dirName());
        QVERIFY(folder.cdUp());
        QCOMPARE(folder.absolutePath(), QDir(work).absolutePath());

        // A canonical mono WAVE of the region's sound, its padding dropped.
        const QByteArray wave = ReadAll(file.path);
        const QByteArray audio = wave.mid(kWavHeaderSize);
        QCOMPARE(wave.left(kWavHeaderSize),
                 CanonicalWavHeader(1, kBankRate, 16, quint32(audio.size())));
        const ZksRegion &region = bank.regions.at(i);
        QCOMPARE(audio + QByteArray(file.size - audio.size(), '\0'),
                 bankBytes.mid(int(region.offset), int(region.size)));
        QVERIFY(audio.isEmpty() || ReadLE(audio, audio.size() - 2, 2) != 0);
    }
    QCOMPARE(folders.size(), layers.size());
    for (int k = 1; k <= kMaxLayers; ++k)
        QCOMPARE(stored[k], thresholds.at(k - 1) & 0x7F);

    QVector<LayerFile> files;
    for (const BankLayer &layer : qAsConst(layers))
        files << layer.file;
    const QString again = dir.filePath("again/kit.zks");
    QVERIFY(QDir().mkpath(dir.filePath("again")));
    QCOMPARE(GenerateZKS(MakeGeneratorArgs(files, stored, 0, again)), qint32(GENERATE_OK));
    const QByteArray regenerated = ReadAll(again);
    QCOMPARE(regenerated.size(), bankBytes.size());
    QVERIFY(WithoutTag(regenerated) == WithoutTag(bankBytes));
}

void TestBankReader::refused_data()
{
    QTest::addColumn<QString>("bank"); // in the test folder
    QTest::addColumn<QString>("error"); // pattern, on the problems' words one a line
    QTest::addColumn<bool>("damaged"); // the problems are the bank's own list
    QTest::addColumn<int>("kind");      // the first problem's
    QTest::addColumn<int>("pastTheEnd"); // the layer a problem says lies past the end; 0: none

    const int notABank = int(BankProblem::Kind::NotABank);
    const int pastTheEnd = int(BankProblem::Kind::PastTheEnd);
    const int unreadable = int(BankProblem::Kind::Unreadable);
    const int damaged = int(BankProblem::Kind::Damaged);
    QTest::newRow("cut short") << "short.zks" << "layer 2 .* runs past the end of the file" << true
                               << pastTheEnd << 2;
    QTest::newRow("wrong signature")
        << "signature.zks" << "^the signature at offset 36 is " << true << notABank << 0;
    QTest::newRow("wrong signature, cut short: one problem a line")
        << "both.zks" << "^the signature at offset 36 is .*\nlayer 2 .* runs past the end" << true
        << notABank << 2;
    QTest::newRow("empty file") << "empty.zks" << "ends inside the 104-byte fixed part" << true
                                << damaged << 0;
    QTest::newRow("header past the end") << "header.zks" << "ends inside the header" << true
                                         << notABank << 0;
    QTest::newRow("no such file") << "none.zks" << "^no such file$" << false << unreadable << 0;
    QTest::newRow("a folder") << "folder.zks" << "^not a regular file$" << false << unreadable << 0;
#ifdef Q_OS_UNIX
    QTest::newRow("a FIFO, refused without waiting for a writer")
        << "fifo.zks" << "^not a regular file$" << false << unreadable << 0;
#endif
    QTest::newRow("no layers") << "nolayers.zks" << "^the bank holds no layers$" << true << damaged << 0;
    QTest::newRow("five layers, layer 5 of 2 MiB or more: its size units wrapped")
        << "wrapped.zks"
        << "^layer 5 takes 2099200 bytes, but in a bank of five or more layers each layer stays "
           "below 2097152 bytes$"
        << true << damaged << 0;
}

void TestBankReader::refused()
{
    QFETCH(QString, bank);
    QFETCH(QString, error);
    QFETCH(bool, damaged);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString good = dir.filePath("good.zks");
    QVERIFY(MakeBank(good, {Pcm(Ramp(900)), Pcm(Ramp(800))}, {"soft.wav", "hard.wav"},
                     DefaultSpread(2), 0));
    QByteArray bytes = ReadAll(good);
    QVERIFY(WriteBytes(dir.filePath("short.zks"), bytes.left(bytes.size() - 1000)));
    bytes[40] = 'X';
    QVERIFY(WriteBytes(dir.filePath("signature.zks"), bytes));
    QVERIFY(WriteBytes(dir.filePath("both.zks"), bytes.left(bytes.size() - 1000)));
    QVERIFY(WriteBytes(dir.filePath("empty.zks"), QByteArray()));
    // Everything up to the name block, of a header that says it is longer.
    QVERIFY(WriteBytes(dir.filePath("header.zks"), ReadAll(good).left(kBankFixedHeader + 40)));
    QVERIFY(QDir(dir.path()).mkdir("folder.zks"));
#ifdef Q_OS_UNIX
    QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath("fifo.zks")).constData(), 0600), 0);
#endif
    QVERIFY(MakeBank(dir.filePath("nolayers.zks"), {}, {}, {}, 0));
    // Layer 5 grown by 2 MiB: its 13-bit size units read the same.
    const QString wrapped = dir.filePath("wrapped.zks");
    QVERIFY(MakeBank(wrapped, QByteArrayList{Pcm(Ramp(900)), Pcm(Ramp(900)), Pcm(Ramp(900)), Pcm(Ramp(900)), Pcm(Ramp(900))}, {"1", "2", "3", "4", "5"},
                     DefaultSpread(5), 0));
    QVERIFY(WriteBytes(wrapped, ReadAll(wrapped) + QByteArray(0x200000, '\0')));
    const QString work = dir.filePath("work");
    QVERIFY(QDir().mkpath(work));

    const QVector<BankLayer> earlier{{{"/w/1/kept.wav", "kept.wav", 1024}, 7}};
    QVector<BankLayer> layers = earlier;
    ThresholdTable thresholds = {0, 9, 9, 9, 9, 9, 9, 9, 9};
    QVector<BankProblem> problems;
    QVERIFY(!ReadBankLayers(dir.filePath(bank), work, &layers, thresholds, &problems));

    const QString reason = ProblemTexts(problems).join('\n');
    QVERIFY2(QRegularExpression(error).match(reason).hasMatch(), qPrintable(reason));
    QFETCH(int, kind);
    QCOMPARE(int(problems.at(0).kind), kind);
    QFETCH(int, pastTheEnd);
    int pastTheEndLayer = 0;
    for (const BankProblem &problem : std::as_const(problems)) {
        if (problem.kind == BankProblem::Kind::PastTheEnd)
            pastTheEndLayer = problem.layer;
    }
    QCOMPARE(pastTheEndLayer, pastTheEnd);
    if (damaged) {
        ZksBank read;
        QString unused;
        QVERIFY(ReadZksBank(dir.filePath(bank), &read, &unused));
        QCOMPARE(problems, read.problems);
    } else {
        QCOMPARE(problems.size(), 1);
    }
    QCOMPARE(FolderTree(work), QStringList());
    QCOMPARE(layers.size(), 1);
    QCOMPARE(layers.at(0).file.path, earlier.at(0).file.path);
    for (int k = 1; k <= kMaxLayers; ++k)
        QCOMPARE(thresholds[k], 9);
}

void TestBankReader::workFolderRefused_data()
{
    QTest::addColumn<QString>("work"); // in the test folder; empty: no path
    QTest::addColumn<QString>("error"); // pattern
    QTest::newRow("no working folder") << QString() << "^no working folder to put the layers in$";
    QTest::newRow("missing working folder")
        << "missing" << "^no folder could be made in .*/missing$";
}

void TestBankReader::workFolderRefused()
{
    QFETCH(QString, work);
    QFETCH(QString, error);

    // The test folder is the current folder too, where an empty path would
    // lead.
    FreshWorkingFolder here;
    const QString bank = QDir(here.path()).filePath("kit.zks");
    QVERIFY(MakeBank(bank, {Pcm(Ramp(900))}, {"one.wav"}, DefaultSpread(1), 0));
    const QStringList before = FolderTree(here.path());

    QVector<BankLayer> layers;
    ThresholdTable thresholds = {};
    QVector<BankProblem> problems;
    QVERIFY(!ReadBankLayers(bank, work.isEmpty() ? QString() : QDir(here.path()).filePath(work),
                            &layers, thresholds, &problems));
    const QString reason = ProblemTexts(problems).join('\n');
    QVERIFY2(QRegularExpression(error).match(reason).hasMatch(), qPrintable(reason));
    QVERIFY(layers.isEmpty());
    QCOMPARE(FolderTree(here.path()), before);
}

// A disk that fills while the layers are written keeps none of them.
void TestBankReader::writeFailureLeavesNothing()
{
#ifndef Q_OS_LINUX
    QSKIP("Needs Linux to make a write fail part way");
#else
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString bank = dir.filePath("kit.zks");
    QVERIFY(MakeBank(bank, {Pcm(Ramp(20000)), Pcm(Ramp(20000)), Pcm(Ramp(20000))},
                     {"one.wav", "two.wav", "three.wav"}, DefaultSpread(3), 0));
    const QString work = dir.filePath("work");
    QVERIFY(QDir().mkpath(work));
    bool mounted = false;
    const auto unmount = qScopeGuard([&] {
        if (mounted)
            umount2(QFile::encodeName(work).constData(), MNT_DETACH);
    });
    mounted = mount("tmpfs", QFile::encodeName(work).constData(), "tmpfs", 0, "size=64k") == 0;
    if (!mounted)
        QSKIP("Cannot mount a small tmpfs here (needs root)");

    QVector<BankLayer> layers;
    ThresholdTable thresholds = {};
    QVector<BankProblem> problems;
    QVERIFY(!ReadBankLayers(bank, work, &layers, thresholds, &problems));
    const QString reason = ProblemTexts(problems).join('\n');
    QVERIFY2(reason.contains(QRegularExpression("/work/\\d+/\\w+\\.wav: .+")), qPrintable(reason));
    QVERIFY(layers.isEmpty());
    QCOMPARE(FolderTree(work), QStringList());
#endif
}

void TestBankReader::discardedLikeConverted()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString bank = dir.filePath("kit.zks");
    QVERIFY(MakeBank(bank, {Pcm(Ramp(900)), Pcm(Ramp(800))}, {"soft.wav", "soft.wav"},
                     DefaultSpread(2), 0));
    const auto cleanup = qScopeGuard([] { RemoveWorkFolder(); });

    QVector<BankLayer> layers;
    ThresholdTable thresholds = {};
    QVector<BankProblem> problems;
    QVERIFY2(ReadBankLayers(bank, WorkFolder(), &layers, thresholds, &problems),
             qPrintable(ProblemTexts(problems).join('\n')));
    QCOMPARE(layers.size(), 2);
    QCOMPARE(FolderTree(WorkFolder()).size(), 4);
    for (const BankLayer &layer : qAsConst(layers))
        DiscardConverted(layer.file.path);
    QCOMPARE(FolderTree(WorkFolder()), QStringList());
}

// The regions come from the file whose header was read, even when another
// file takes its name in between.
void TestBankReader::regionsFromTheFileRead()
{
    QTemporaryDir dir;
    const QString bankPath = dir.filePath("kit.zks");
    const QString other = dir.filePath("other.zks");
    QVERIFY(MakeBank(bankPath, {Pcm(Ramp(900))}, {"a.wav"}, DefaultSpread(1), 0));
    QVERIFY(MakeBank(other, {Pcm(Ramp(300))}, {"b.wav"}, DefaultSpread(1), 0));
    const QByteArray bytes = ReadAll(bankPath);
    ZksBank bank;
    QString error;
    QVERIFY2(ReadZksBank(bankPath, &bank, &error), qPrintable(error));
    QVERIFY(QFile::remove(bankPath));
    QVERIFY(QFile::rename(other, bankPath));
    QByteArray audio;
    QVERIFY2(ReadZksRegion(bank, bank.regions.at(0), &audio, &error), qPrintable(error));
    QCOMPARE(audio, bytes.mid(int(bank.regions.at(0).offset), int(bank.regions.at(0).inFile)));
}

ZK_TEST(TestBankReader)
#include "tst_bankreader.moc"
