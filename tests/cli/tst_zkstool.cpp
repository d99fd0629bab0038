#include <QtTest>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <cmath>

#ifdef Q_OS_UNIX
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "fileprocessor.h"
#include "layerrules.h"
#include "resultcodes.h"
#include "soundinfo.h"
#include "testmain.h"
#include "testsupport.h"
#include "zksbank.h"
#include "zkslayout.h"

namespace {

// --- what the help and the manual page say of the options -----------------

// While it lives, the programs a test starts skip AddressSanitizer's leak
// check at their exit (the last setting in ASAN_OPTIONS wins); a build
// without the sanitizer ignores the variable.
class LeakChecksOffAtExit
{
public:
    LeakChecksOffAtExit()
        : had_(qEnvironmentVariableIsSet("ASAN_OPTIONS")), previous_(qgetenv("ASAN_OPTIONS"))
    {
        qputenv("ASAN_OPTIONS", previous_ + (previous_.isEmpty() ? "" : ":") + "detect_leaks=0");
    }
    ~LeakChecksOffAtExit()
    {
        if (had_)
            qputenv("ASAN_OPTIONS", previous_);
        else
            qunsetenv("ASAN_OPTIONS");
    }
    Q_DISABLE_COPY(LeakChecksOffAtExit)

private:
    const bool had_;
    const QByteArray previous_;
};

// The option names ("-o", "--gate") a piece of text mentions, sorted. A
// longer word after one dash is left out: the parser would read "-order" as
// "-o" given "rder".
QStringList OptionNames(const QString &text)
{
    QStringList names;
    QRegularExpressionMatchIterator found =
        QRegularExpression(QStringLiteral("(?<![\\w-])(-[A-Za-z](?![\\w-])|--[A-Za-z][\\w-]*)"))
            .globalMatch(text);
    while (found.hasNext())
        names << found.next().captured(1);
    names.removeDuplicates();
    names.sort();
    return names;
}

// One option line of the help or the manual page: the names it gives one
// option ("-o", "--output").
using OptionGroups = QVector<QStringList>;

QStringList Flattened(const OptionGroups &groups)
{
    QStringList names;
    for (const QStringList &group : groups)
        names << group;
    names.removeDuplicates();
    names.sort();
    return names;
}

// What `zkstool --help` says of a command: the options its usage lines show,
// and the option lines of its section (a line at the left margin that starts
// with the command's name, up to the next such line).
void HelpOptions(const QString &help, const QString &command, QStringList *usage,
                 OptionGroups *lines)
{
    const QStringList all = help.split('\n');
    const int blank = int(all.indexOf(QString()));
    QString entry;
    for (const QString &line : all.mid(0, blank)) {
        if (line.contains("zkstool "))
            entry = line.section("zkstool ", 1).section(' ', 0, 0);
        if (entry == command)
            *usage << OptionNames(line);
    }
    bool inside = false;
    for (const QString &line : all.mid(blank + 1)) {
        if (!line.isEmpty() && !line.at(0).isSpace())
            inside = line.section(' ', 0, 0) == command;
        else if (inside && line.startsWith(QString(9, ' ') + '-'))
            *lines << OptionNames(line.trimmed().section("  ", 0, 0));
    }
    usage->removeDuplicates();
}

// What the manual page's source says of a command: the options of its
// synopsis, and the tagged paragraphs of its part of OPTIONS.
void ManualOptions(QString page, const QString &command, QStringList *synopsis,
                   OptionGroups *tags)
{
    page.replace("\\-", "-");
    page.remove(QRegularExpression(QStringLiteral("\\\\f[BIRP]"))); // font changes
    const QStringList lines = page.split('\n');
    const int start = int(lines.indexOf(".SH SYNOPSIS"));
    bool inside = false;
    for (int i = start + 1; i < lines.size() && !lines.at(i).startsWith(".SH"); ++i) {
        const QString &line = lines.at(i);
        if (line == ".br")
            inside = false;
        else if (line.startsWith(".B zkstool "))
            inside = line.section(' ', 2, 2) == command;
        if (inside)
            *synopsis << OptionNames(line);
    }
    synopsis->removeDuplicates();
    inside = false;
    for (int i = 0; i + 1 < lines.size(); ++i) {
        if (lines.at(i).startsWith(".SS") || lines.at(i).startsWith(".SH"))
            inside = lines.at(i) == ".SS " + command;
        else if (inside && lines.at(i) == ".TP")
            *tags << OptionNames(lines.at(i + 1));
    }
}

// --- an independent bank writer, straight from the file layout -----------

struct TestLayer {
    QByteArray name;
    qint64 size = 0;    // layer size, a multiple of 512
    QByteArray audio;   // what the region holds before its zero padding
    int threshold = 1;
};

QByteArray MakeBank(const QByteArray &bankName, const QVector<TestLayer> &layers,
                    quint32 tag = 123456789)
{
    const int n = layers.size();
    QByteArray b("Quadrel(tm) inc, California, USA");
    AppendLE(b, tag, 4);
    b.append(QByteArray::fromHex("040101 0A12345678 91"));
    for (int k = 0; k < 3; ++k)
        b.append(char(n >= 4 ? layers[k].threshold & 0x7F : QVector<int>{120, 90, 70}[k]));
    quint16 blocks = 0;
    for (int k = 0; k < 4; ++k) {
        if (k < n)
            blocks = quint16((layers[k].size >> 9) & 0x1FFF);
        AppendLE(b, blocks, 2);
    }
    b.append(QByteArray(16, '\0')); // offsets, set below
    for (int k = 0; k < 8; ++k)
        b.append(char(k < n ? layers[k].threshold & 0x7F : 1));
    for (int k = 0; k < 8; ++k)
        AppendLE(b, k < n ? quint32((layers[k].size >> 8) & 0x1FFF) : 0, 2);
    b.append(QByteArray(8, '\0'));
    b.append('\n').append(bankName).append('\n');
    for (int k = 0; k < 8; ++k)
        b.append(k < n ? layers[k].name : QByteArray()).append('\n');
    b.append(QByteArray(512 - b.size() % 512, '~'));
    quint32 offset = quint32(b.size());
    for (int k = 0; k < 4; ++k) {
        if (k > 0 && k < n)
            offset += quint32(layers[k - 1].size);
        WriteLE(b, 56 + 4 * k, offset, 4);
    }
    for (const TestLayer &l : layers)
        b.append(l.audio).append(QByteArray(int(l.size - l.audio.size()), '\0'));
    return b;
}

// Samples that never end on zero, so trimming the padding is exact.
QVector<qint16> Samples(int count, quint32 seed, int quietLead = 0)
{
    QRandomGenerator random(seed);
    QVector<qint16> s;
    for (int i = 0; i < count; ++i) {
        const int range = i < quietLead ? 20 : 20000;
        qint16 v = qint16(random.bounded(-range, range + 1));
        if (i >= quietLead && qAbs(v) < 2000)
            v = qint16(v < 0 ? v - 2000 : v + 2000);
        s << v;
    }
    return s;
}

TestLayer Layer(const QByteArray &name, int audioBytes, quint32 seed, int threshold = 1)
{
    TestLayer l;
    l.name = name;
    l.audio = Pcm(Samples(audioBytes / 2, seed));
    l.size = (audioBytes & ~511) + 512;
    l.threshold = threshold;
    return l;
}

// A sound two-layer bank: header 512, layer 1 at 512 (1024 bytes), layer 2
// at 1536 (1536 bytes); 3072 bytes in all.
QByteArray TwoLayerBank()
{
    return MakeBank("kit.zks", {Layer("soft.wav", 600, 1, 64), Layer("hard.wav", 1100, 2, 1)});
}

// The audio the generator keeps: leading samples quieter than the gate go.
QByteArray AfterGate(const QVector<qint16> &samples, quint16 gate)
{
    int first = 0;
    if (gate > 0 && !samples.isEmpty() && qAbs(int(samples[0])) < gate) {
        first = 1;
        while (first < samples.size() && qAbs(int(samples[first])) < gate)
            ++first;
    }
    return Pcm(samples.mid(first));
}

QVector<qint16> LeftChannel(const QVector<qint16> &frames)
{
    QVector<qint16> left;
    for (int i = 0; i + 1 < frames.size(); i += 2)
        left << frames[i];
    return left;
}

bool AnyProblemContains(const QStringList &problems, const QString &words)
{
    for (const QString &p : problems) {
        if (p.contains(words))
            return true;
    }
    return false;
}

QJsonObject InfoJson(const QString &bank, ToolRun *run)
{
    *run = RunTool({QStringLiteral("info"), bank, QStringLiteral("--json")});
    return QJsonDocument::fromJson(run->out.toUtf8()).object();
}

// How zkstool shows a name it refuses: control and format characters as
// \uXXXX escapes.
QString Shown(const QString &text)
{
    QString shown;
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            shown += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

// The conversion traces its steps under --verbose, naming the file it
// writes in the working folder.
bool RanConverter(const ToolRun &run)
{
    return run.err.contains(QStringLiteral("tempWav2.wav"));
}

#ifdef Q_OS_LINUX
// --- watching processes through /proc --------------------------------------

QList<qint64> Processes()
{
    QList<qint64> pids;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (number)
            pids << pid;
    }
    return pids;
}

// Living children: a zombie has ended and only waits to be collected.
QList<qint64> ChildrenOf(qint64 parentPid)
{
    QList<qint64> children;
    for (qint64 pid : Processes()) {
        qint64 parent = 0;
        char state = 0;
        if (ProcessStatus(pid, &parent, &state) && parent == parentPid && state != 'Z')
            children << pid;
    }
    return children;
}

// Living processes whose command line mentions `text`.
QList<qint64> ProcessesMentioning(const QString &text)
{
    QList<qint64> found;
    for (qint64 pid : Processes()) {
        QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(text.toUtf8()))
            found << pid;
    }
    return found;
}
#endif

} // namespace

Q_DECLARE_METATYPE(QVector<int>)

class TestZksTool : public QObject
{
    Q_OBJECT

private slots:
    void messageTable_data();
    void messageTable();

    void readsSoundBank_data();
    void readsSoundBank();
    void damagedBank_data();
    void damagedBank();
    void infoReportsDamage_data();
    void infoReportsDamage();
    void infoPrintsHeader();
    void infoShowsLevels();
    void infoRefusesUnreadable_data();
    void infoRefusesUnreadable();
    void survivesHostileBytes();

    void waveNames_data();
    void waveNames();
    void extractWritesOnlyInsideFolder();
    void extractKeepsExisting_data();
    void extractKeepsExisting();
    void extractTrim_data();
    void extractTrim();
    void extractSalvagesCutBank();
    void extractNeverReplacesBank_data();
    void extractNeverReplacesBank();

    void generatorReadsBack_data();
    void generatorReadsBack();

    void predictedDataSize_data();
    void predictedDataSize();
    void readSoundInfo_data();
    void readSoundInfo();
    void largestCheckedDataSize();
    void cancelledConversion();

    void commandLineRefusals_data();
    void commandLineRefusals();
    void buildRefusesFile_data();
    void buildRefusesFile();
    void buildRoundTrip_data();
    void buildRoundTrip();
    void buildRefusesControlCharacters_data();
    void buildRefusesControlCharacters();
    void buildOrdersByLoudness();
    void buildOrderIgnoresLeadingSilence_data();
    void buildOrderIgnoresLeadingSilence();
    void buildTakesStereoAsLongAsMono();
    void buildTrimsTails();
    void buildTakesBanks();
    void buildLayerSizeTables_data();
    void buildLayerSizeTables();
    void buildRefusesFarTooLong_data();
    void buildRefusesFarTooLong();
    void buildInterrupted_data();
    void buildInterrupted();
    void generatorKeepsExisting_data();
    void generatorKeepsExisting();
    void buildKeepsBankMadeMeanwhile();
    void buildNamesBankLayers();
    void buildIntoClosedPipe();
    void buildRefusesBytesARebuildChanges_data();
    void buildRefusesBytesARebuildChanges();
    void buildDropsByteOrderMarks_data();
    void everyOptionDescribed_data();
    void everyOptionDescribed();
    void buildDropsByteOrderMarks();
    void buildTargets_data();
    void buildTargets();
    void debugLinesFollowLoggingRules_data();
    void debugLinesFollowLoggingRules();
};

// --- the shared message table ----------------------------------------------

void TestZksTool::messageTable_data()
{
    AddResultMessageRows();
}

void TestZksTool::messageTable()
{
    QFETCH(int, code);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(bool, warning);
    const ResultMessage m = MessageFor(code);
    QCOMPARE(m.title, title);
    QCOMPARE(m.text, text);
    QCOMPARE(m.warning, warning);
}

// --- reading banks ------------------------------------------------------------

void TestZksTool::readsSoundBank_data()
{
    QTest::addColumn<QByteArray>("bankName");
    QTest::addColumn<int>("count");
    QTest::addColumn<QVector<int>>("sizes");
    QTest::addColumn<qint64>("headerLength");
    // What the reader says the window would not make again: the bank is read all the same.
    QTest::addColumn<QStringList>("problems");

    QTest::newRow("no layers") << QByteArray("empty.zks") << 0 << QVector<int>{} << qint64(512)
                               << QStringList{"the bank holds no layers"};
    QTest::newRow("one layer") << QByteArray("one.zks") << 1 << QVector<int>{1024} << qint64(512) << QStringList();
    QTest::newRow("three layers: constant four-slot thresholds")
        << QByteArray("three.zks") << 3 << QVector<int>{1024, 2048, 512} << qint64(512) << QStringList();
    QTest::newRow("four layers") << QByteArray("four.zks") << 4
                                 << QVector<int>{512, 1024, 1536, 2048} << qint64(512) << QStringList();
    QTest::newRow("eight layers") << QByteArray("eight.zks") << 8
                                  << QVector<int>{512, 1024, 1536, 2048, 2560, 3072, 3584, 4096}
                                  << qint64(512) << QStringList();
    QTest::newRow("long bank name: header of 1024")
        << QByteArray(400, 'n') << 2 << QVector<int>{512, 512} << qint64(1024) << QStringList();
    QTest::newRow("names end on 512: full block of fill")
        << QByteArray(378, 'n') << 2 << QVector<int>{512, 512} << qint64(1024) << QStringList();
    QTest::newRow("largest layer in slot 1") << QByteArray("big.zks") << 1
                                             << QVector<int>{0x2FF000} << qint64(512) << QStringList();
    QTest::newRow("largest layer in slot 5: size units wrap")
        << QByteArray("wrap.zks") << 5 << QVector<int>{512, 512, 512, 512, 0x2FF000}
        << qint64(512)
        << QStringList{"layer 5 takes 3141632 bytes, but in a bank of five or more layers each "
                       "layer stays below 2097152 bytes"};
    QTest::newRow("four layers, 2 MiB in slot 1: the block counts describe it")
        << QByteArray("big4.zks") << 4 << QVector<int>{0x200000, 512, 512, 512} << qint64(512) << QStringList();
}

void TestZksTool::readsSoundBank()
{
    QFETCH(QByteArray, bankName);
    QFETCH(int, count);
    QFETCH(QVector<int>, sizes);
    QFETCH(qint64, headerLength);
    QFETCH(QStringList, problems);

    QVector<TestLayer> layers;
    ThresholdTable spread;
    DefaultThresholds(spread, count);
    for (int k = 1; k <= count; ++k) {
        TestLayer l = Layer("layer" + QByteArray::number(k) + ".wav",
                            qMin(sizes[k - 1] - 2, 4000), quint32(k), spread[k]);
        l.size = sizes[k - 1];
        layers << l;
    }
    const QByteArray bytes = MakeBank(bankName, layers, 0xCAFE);
    const ZksBank bank = ParseZksBank(bytes, bytes.size());

    QCOMPARE(ProblemTexts(bank.problems), problems);
    QCOMPARE(bank.makerLine, QByteArray("Quadrel(tm) inc, California, USA"));
    QCOMPARE(bank.randomTag, quint32(0xCAFE));
    QVERIFY(bank.signatureOk);
    QCOMPARE(bank.bankName, QString::fromUtf8(bankName));
    QCOMPARE(bank.headerLength, headerLength);
    QCOMPARE(bank.layerCount, count);
    QCOMPARE(bank.regions.size(), count);
    qint64 offset = headerLength;
    for (int k = 1; k <= count; ++k) {
        const ZksRegion &r = bank.regions[k - 1];
        QCOMPARE(r.layer, k);
        QCOMPARE(r.name, QString::fromLatin1(layers[k - 1].name));
        QCOMPARE(r.threshold, spread[k]);
        QCOMPARE(r.offset, offset);
        QCOMPARE(r.size, qint64(sizes[k - 1]));
        QCOMPARE(r.inFile, r.size);
        QCOMPARE(bytes.mid(int(r.offset), layers[k - 1].audio.size()), layers[k - 1].audio);
        offset += r.size;
    }
    QCOMPARE(offset, qint64(bytes.size()));
}

void TestZksTool::damagedBank_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("problem");

    const QByteArray good = TwoLayerBank(); // H 512, layers at 512 and 1536, 3072 bytes
    QByteArray b;

    QTest::newRow("empty file") << QByteArray() << "ends inside the 104-byte fixed part";
    QTest::newRow("cut in the fixed header") << good.left(60)
                                            << "ends inside the 104-byte fixed part";
    QTest::newRow("cut in the name block") << good.left(115) << "ends inside the name block";
    QTest::newRow("cut in the fill") << good.left(300) << "ends inside the header (512 bytes)";
    QTest::newRow("cut in a region") << good.left(2000)
                                     << "layer 2 (offset 1536, size 1536) runs past the end of "
                                        "the file: only 464 bytes are there";
    QTest::newRow("cut between regions") << good.left(1536)
                                         << "layer 2 (offset 1536, size 1536) lies past the end";

    b = good;
    b[40] = 0x13;
    QTest::newRow("wrong signature") << b << "the signature at offset 36 is 04 01 01 0a 13";

    // 100 more "~" and every offset moved along: only the length is wrong.
    b = good;
    b.insert(512, QByteArray(100, '~'));
    WriteLE(b, 56, 612, 4);
    WriteLE(b, 60, 1636, 4);
    WriteLE(b, 64, 1636, 4);
    WriteLE(b, 68, 1636, 4);
    QTest::newRow("header length not a multiple of 512")
        << b << "the header length 612 (the offset of layer 1) is not a multiple of 512";

    b = good;
    WriteLE(b, 50, 5, 2); // layer 2: 5 blocks of 512 ...
    WriteLE(b, 52, 5, 2);
    WriteLE(b, 54, 5, 2);
    WriteLE(b, 82, 10, 2); // ... and 10 units of 256
    QTest::newRow("size past the end of the file")
        << b << "layer 2 (offset 1536, size 2560) runs past the end";

    QTest::newRow("bytes after the last layer") << good + QByteArray(512, '\0')
                                               << "512 bytes follow the last layer";

    b = good;
    b[400] = 'x';
    QTest::newRow("fill is not all ~") << b << "holds 1 bytes that are not \"~\"";

    QTest::newRow("a name holds a line feed")
        << MakeBank("kit.zks", {Layer("so\nft.wav", 600, 1, 64), Layer("hard.wav", 1100, 2)})
        << "more than ten line feeds";

    b = good;
    WriteLE(b, 80, 6, 2);
    QTest::newRow("size units disagree with block count")
        << b << "layer 1: the size units (6, 1536 bytes) disagree with the block count (2, "
                "1024 bytes)";

    // Five layers are read from the size units, where 2 MiB wraps to 0.
    TestLayer big = Layer("a.wav", 600, 1, 100);
    big.size = 0x200000;
    QTest::newRow("five layers, layer 1 of 2 MiB: its size units are cut")
        << MakeBank("kit.zks", {big, Layer("b.wav", 300, 2, 60), Layer("c.wav", 300, 3, 30),
                                Layer("d.wav", 300, 4, 10), Layer("e.wav", 300, 5, 1)})
        << "layer 1: the size units (0, 0 bytes) disagree with the block count (4096, 2097152 "
           "bytes)";

    b = good;
    WriteLE(b, 60, 1024, 4);
    QTest::newRow("four-slot offset wrong") << b << "four-slot offset 2 is 1024, expected 1536";

    b = good;
    b[45] = 64;
    QTest::newRow("four-slot thresholds for a small bank")
        << b << "four-slot threshold 1 is 64, expected 120";

    QTest::newRow("thresholds do not fall")
        << MakeBank("kit.zks", {Layer("a.wav", 600, 1, 1), Layer("b.wav", 600, 2, 64)})
        << "the thresholds of the 2 layers (1, 64) do not fall";

    b = good;
    b[100] = 1;
    QTest::newRow("reserved bytes used") << b << "reserved bytes 96..103 are not all zero";

    b = good.left(kBankFixedHeader) + QByteArray(2000, 'x');
    QTest::newRow("name block never ends") << b << "it holds 0 of the ten line feeds";

    b = good;
    b[104] = 'x';
    QTest::newRow("name block without its first line feed")
        << b << "does not start with a line feed";

    QTest::newRow("past the device's budget")
        << MakeBank("kit.zks", {Layer("a.wav", 0x1FF000 - 600, 1, 64),
                                Layer("b.wav", 0x1FF000 - 600, 2)})
        << "more than the device's 3145728";

    // Bytes a rebuild would not give back.
    QTest::newRow("layer name not UTF-8")
        << MakeBank("kit.zks", {Layer("Kick\xE9", 1000, 1, 2), Layer("b.wav", 1000, 2)})
        << "the name of layer 1 is not UTF-8 and would change if the bank were made again";
    QTest::newRow("layer name with a byte-order mark")
        << MakeBank("kit.zks", {Layer("a.wav", 1000, 1, 2), Layer("\xEF\xBB\xBFKick", 1000, 2)})
        << "the name of layer 2 starts with a byte-order mark and would change if the bank "
           "were made again";
    b = MakeBank("kit.zks", {Layer("a.wav", 1000, 1, 2), Layer("b.wav", 1000, 2)});
    b[kBankThresholdsOffset] = char(0x82);
    QTest::newRow("threshold with its top bit set")
        << b << "threshold 1 is stored as 0x82, with its top bit set, and would change if the "
                "bank were made again";
}

void TestZksTool::damagedBank()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, problem);
    const ZksBank bank = ParseZksBank(bytes, bytes.size());
    QVERIFY2(AnyProblemContains(ProblemTexts(bank.problems), problem), qPrintable(ProblemTexts(bank.problems).join('\n')));
    for (const ZksRegion &r : bank.regions)
        QVERIFY(r.inFile >= 0 && r.inFile <= r.size
                && (r.inFile == 0 || r.offset + r.inFile <= bytes.size()));
}

void TestZksTool::infoReportsDamage_data()
{
    damagedBank_data();
}

void TestZksTool::infoReportsDamage()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, problem);
    QTemporaryDir tmp;
    const QString path = tmp.filePath(QStringLiteral("bank.zks"));
    QVERIFY(WriteBytes(path, bytes));

    const ToolRun text = RunTool({QStringLiteral("info"), path});
    QCOMPARE(text.exitCode, 1);
    QVERIFY2(text.out.contains(problem), qPrintable(Show(text)));

    ToolRun run;
    const QJsonObject json = InfoJson(path, &run);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(json.value("ok").toBool(true), false);
    QStringList problems;
    for (const QJsonValue &v : json.value("problems").toArray())
        problems << v.toString();
    QVERIFY2(AnyProblemContains(problems, problem), qPrintable(Show(run)));
}

void TestZksTool::infoPrintsHeader()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath(QStringLiteral("kit.zks"));
    QVERIFY(WriteBytes(path, TwoLayerBank()));

    const ToolRun text = RunTool({QStringLiteral("info"), path});
    QCOMPARE(text.exitCode, 0);
    for (const char *line : {"random tag            123456789", "signature             ok",
                             "four-slot thresholds  120 90 70", "four-slot blocks      2 3 3 3",
                             "four-slot offsets     512 1536 1536 1536",
                             "thresholds            64 1 1 1 1 1 1 1",
                             "size units            4 6 0 0 0 0 0 0",
                             "bank name             \"kit.zks\"", "header length         512",
                             "1  \"soft.wav\"  threshold 64  offset 512  size 1024",
                             "2  \"hard.wav\"  threshold 1  offset 1536  size 1536",
                             "problems              none"})
        QVERIFY2(text.out.contains(QLatin1String(line)), qPrintable(Show(text)));

    ToolRun run;
    const QJsonObject json = InfoJson(path, &run);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(json.value("ok").toBool(), true);
    QCOMPARE(json.value("fileSize").toInt(), 3072);
    QCOMPARE(json.value("makerLine").toString(), QStringLiteral("Quadrel(tm) inc, California, USA"));
    QCOMPARE(json.value("signatureOk").toBool(), true);
    QCOMPARE(json.value("headerLength").toInt(), 512);
    QCOMPARE(json.value("bankName").toString(), QStringLiteral("kit.zks"));
    QCOMPARE(json.value("layerCount").toInt(), 2);
    QCOMPARE(json.value("fourSlotOffsets").toArray(), QJsonArray({512, 1536, 1536, 1536}));
    const QJsonArray layers = json.value("layers").toArray();
    QCOMPARE(layers.size(), 2);
    QCOMPARE(layers[1].toObject().value("name").toString(), QStringLiteral("hard.wav"));
    QCOMPARE(layers[1].toObject().value("offset").toInt(), 1536);
    QCOMPARE(layers[1].toObject().value("size").toInt(), 1536);
    QCOMPARE(layers[0].toObject().value("threshold").toInt(), 64);
}

// Each layer's levels as the device plays it: a -6 dBFS sine of one second
// and a layer of silence.
void TestZksTool::infoShowsLevels()
{
    QTemporaryDir tmp;
    QVector<qint16> sine(44100);
    for (int i = 0; i < sine.size(); ++i)
        sine[i] = qint16(std::lround(16384 * std::sin(2 * M_PI * 1000 * i / 44100.0)));
    QVERIFY(WriteBytes(tmp.filePath("sine.wav"), Wav16(1, 44100, sine)));
    QVERIFY(WriteBytes(tmp.filePath("quiet.wav"), Wav16(1, 44100, QVector<qint16>(1000, 0))));
    ThresholdTable thresholds;
    DefaultThresholds(thresholds, 2);
    const QString bank = tmp.filePath("levels.zks");
    QCOMPARE(GenerateZKS(MakeGeneratorArgs({{tmp.filePath("sine.wav"), "sine.wav", 88576},
                                            {tmp.filePath("quiet.wav"), "quiet.wav", 2048}},
                                           thresholds, 0, bank)),
             qint32(GENERATE_OK));

    const ToolRun text = RunTool({QStringLiteral("info"), bank});
    QCOMPARE(text.exitCode, 0);
    QVERIFY2(text.out.contains("size 88576  peak -6.0 dBFS, attack -9.0 dBFS, loudness -9.0 LUFS"),
             qPrintable(Show(text)));
    QVERIFY2(text.out.contains("size 2048  silent"), qPrintable(Show(text)));

    ToolRun run;
    const QJsonArray layers = InfoJson(bank, &run).value("layers").toArray();
    QCOMPARE(layers.size(), 2);
    QVERIFY(qAbs(layers[0].toObject().value("peakDbfs").toDouble() + 6.02) < 0.01);
    QVERIFY(qAbs(layers[0].toObject().value("attackDbfs").toDouble() + 9.03) < 0.01);
    QVERIFY(qAbs(layers[0].toObject().value("loudnessLufs").toDouble() + 9.02) < 0.05);
    QVERIFY(layers[1].toObject().value("peakDbfs").isNull());
    QVERIFY(layers[1].toObject().value("loudnessLufs").isNull());
}

namespace {

QVector<qint16> Sine(int frames, double amplitude, int silentFrames = 0)
{
    QVector<qint16> samples(frames + silentFrames, 0);
    for (int i = 0; i < frames; ++i)
        samples[i] = qint16(std::lround(amplitude * 32767 * std::sin(2 * M_PI * 440 * i / 44100.0)));
    return samples;
}

ZksBank ReadBank(const QString &path)
{
    ZksBank bank;
    QString error;
    ReadZksBank(path, &bank, &error);
    return bank;
}

} // namespace

// The loudest sound becomes layer 1 and the thresholds follow the levels,
// unless they are given.
void TestZksTool::buildOrdersByLoudness()
{
    QTemporaryDir tmp;
    QVERIFY(WriteBytes(tmp.filePath("soft.wav"), Wav16(1, 44100, Sine(88200, 0.1))));
    QVERIFY(WriteBytes(tmp.filePath("hard.wav"), Wav16(1, 44100, Sine(22050, 0.9))));
    QVERIFY(WriteBytes(tmp.filePath("medium.wav"), Wav16(1, 44100, Sine(22050, 0.3))));
    const ToolRun run = RunTool({"build", "-o", tmp.filePath("kit.zks"), "--order-by-loudness",
                                 tmp.filePath("soft.wav"), tmp.filePath("hard.wav"), tmp.filePath("medium.wav")});
    QVERIFY2(run.exitCode == 0, qPrintable(Show(run)));
    QVERIFY2(run.out.contains("loudness order 1  hard.wav  peak -0.9 dBFS, attack -3.9 dBFS"), qPrintable(Show(run)));
    // The layer lines follow, in the bank's order, each with the space left
    // after the layers above it.
    QStringList layerLines;
    for (const QString &line : run.out.split('\n')) {
        if (line.startsWith("layer "))
            layerLines << line.section("  ", 0, 1);
    }
    QCOMPARE(layerLines, QStringList({"layer 1  hard.wav", "layer 2  medium.wav", "layer 3  soft.wav"}));
    QVERIFY2(run.out.indexOf("loudness order 3") < run.out.indexOf("layer 1  "), qPrintable(Show(run)));
    QVERIFY2(run.out.contains("layer 1  hard.wav  44544 bytes  99% space left\n"
                              "layer 2  medium.wav  44544 bytes  98% space left\n"
                              "layer 3  soft.wav  176640 bytes  92% space left\n"),
             qPrintable(Show(run)));
    const ZksBank bank = ReadBank(tmp.filePath("kit.zks"));
    QCOMPARE(bank.layerNames[0], QStringLiteral("hard.wav"));
    QCOMPARE(bank.layerNames[1], QStringLiteral("medium.wav"));
    QCOMPARE(bank.layerNames[2], QStringLiteral("soft.wav"));
    // 85 and 1 at the ends; medium's attack 9.5 of the 19.1 dB between soft
    // and hard above soft: 1 + 84 x 0.497.
    QCOMPARE(int(bank.thresholds[0]), 85);
    QCOMPARE(int(bank.thresholds[1]), 43);
    QCOMPARE(int(bank.thresholds[2]), 1);

    const ToolRun given = RunTool({"build", "-o", tmp.filePath("given.zks"), "--order-by-loudness",
                                   "--thresholds", "100,50,1", tmp.filePath("soft.wav"),
                                   tmp.filePath("hard.wav"), tmp.filePath("medium.wav")});
    QVERIFY2(given.exitCode == 0, qPrintable(Show(given)));
    const ZksBank kept = ReadBank(tmp.filePath("given.zks"));
    QCOMPARE(kept.layerNames[0], QStringLiteral("hard.wav"));
    QCOMPARE(int(kept.thresholds[1]), 50);
}

// The attack is measured from each hit's onset: leading silence, cut by the
// gate or not, never changes the order.
void TestZksTool::buildOrderIgnoresLeadingSilence_data()
{
    QTest::addColumn<QStringList>("gate");
    QTest::newRow("no gate") << QStringList();
    QTest::newRow("-50dB") << QStringList{"--gate", "-50dB"};
}

void TestZksTool::buildOrderIgnoresLeadingSilence()
{
    QFETCH(QStringList, gate);
    QTemporaryDir tmp;
    // Hard after 90 ms of silence, medium after 20 ms, soft at once.
    QVERIFY(WriteBytes(tmp.filePath("soft.wav"), Wav16(1, 44100, Sine(22050, 0.1))));
    QVERIFY(WriteBytes(tmp.filePath("hard.wav"), Wav16(1, 44100, QVector<qint16>(3969) + Sine(22050, 0.9))));
    QVERIFY(WriteBytes(tmp.filePath("medium.wav"), Wav16(1, 44100, QVector<qint16>(882) + Sine(22050, 0.3))));
    const ToolRun run = RunTool(QStringList{"build", "-o", tmp.filePath("kit.zks"), "--order-by-loudness"} + gate
                                + QStringList{tmp.filePath("soft.wav"), tmp.filePath("hard.wav"),
                                              tmp.filePath("medium.wav")});
    QVERIFY2(run.exitCode == 0, qPrintable(Show(run)));
    const ZksBank bank = ReadBank(tmp.filePath("kit.zks"));
    QCOMPARE((QStringList{bank.layerNames[0], bank.layerNames[1], bank.layerNames[2]}),
             (QStringList{"hard.wav", "medium.wav", "soft.wav"}));
}

// The length limit counts the one channel the bank keeps: 20 s of stereo
// fits a layer.
void TestZksTool::buildTakesStereoAsLongAsMono()
{
    QTemporaryDir tmp;
    const QString sound = tmp.filePath("twenty.wav");
    QVERIFY(WriteSilentWave(sound, 2, 44100, 20 * 44100));
    const ToolRun run = RunTool({"build", "-o", tmp.filePath("kit.zks"), sound});
    QVERIFY2(run.exitCode == 0, qPrintable(Show(run)));
    QCOMPARE(ReadBank(tmp.filePath("kit.zks")).regions.at(0).size, qint64((20 * 44100 * 2 & ~511) + 512));
}

void TestZksTool::buildTrimsTails()
{
    QTemporaryDir tmp;
    // 0.2 s of sound, then 3 s of silence.
    QVERIFY(WriteBytes(tmp.filePath("hit.wav"), Wav16(1, 44100, Sine(8820, 0.8, 3 * 44100))));
    const ToolRun plain = RunTool({"build", "-o", tmp.filePath("plain.zks"), tmp.filePath("hit.wav")});
    const ToolRun trimmed = RunTool({"build", "-o", tmp.filePath("trimmed.zks"), "--trim-tails",
                                     tmp.filePath("hit.wav")});
    QVERIFY2(plain.exitCode == 0 && trimmed.exitCode == 0, qPrintable(Show(trimmed)));
    QCOMPARE(ReadBank(tmp.filePath("plain.zks")).regions.at(0).size, qint64(2 * (8820 + 3 * 44100) / 512 * 512 + 512));
    // The sound and a 10 ms fade are what is left.
    QCOMPARE(ReadBank(tmp.filePath("trimmed.zks")).regions.at(0).size, qint64((2 * (8820 + 441)) / 512 * 512 + 512));
    QVERIFY(trimmed.out.contains("trimmed hit.wav"));
    const ToolRun wrong = RunTool({"build", "-o", tmp.filePath("x.zks"), "--trim-tails=loud", tmp.filePath("hit.wav")});
    QCOMPARE(wrong.exitCode, 2);
}

// A bank as input stands for its layers: they come first here, as stored,
// then the new sound; thresholds are spread anew.
void TestZksTool::buildTakesBanks()
{
    QTemporaryDir tmp;
    QVERIFY(WriteBytes(tmp.filePath("hard.wav"), Wav16(1, 44100, Sine(4410, 0.9))));
    QVERIFY(WriteBytes(tmp.filePath("soft.wav"), Wav16(1, 44100, Sine(4410, 0.2))));
    QVERIFY(WriteBytes(tmp.filePath("ghost.wav"), Wav16(1, 44100, Sine(4410, 0.05))));
    QCOMPARE(RunTool({"build", "-o", tmp.filePath("old.zks"), tmp.filePath("hard.wav"), tmp.filePath("soft.wav")}).exitCode, 0);
    const ToolRun run = RunTool({"build", "-o", tmp.filePath("new.zks"), tmp.filePath("old.zks"), tmp.filePath("ghost.wav")});
    QVERIFY2(run.exitCode == 0, qPrintable(Show(run)));
    const ZksBank old = ReadBank(tmp.filePath("old.zks"));
    const ZksBank bank = ReadBank(tmp.filePath("new.zks"));
    QCOMPARE(bank.layerCount, 3);
    QCOMPARE(bank.layerNames[0], QStringLiteral("hard.wav"));
    QCOMPARE(bank.layerNames[1], QStringLiteral("soft.wav"));
    QCOMPARE(bank.layerNames[2], QStringLiteral("ghost.wav"));
    QCOMPARE((QVector<int>{bank.thresholds[0], bank.thresholds[1], bank.thresholds[2]}), (QVector<int>{85, 43, 1}));
    for (int i = 0; i < 2; ++i) {
        QByteArray before, after;
        QString error;
        QVERIFY(ReadZksRegion(old, old.regions.at(i), &before, &error));
        QVERIFY(ReadZksRegion(bank, bank.regions.at(i), &after, &error));
        QCOMPARE(after, before);
    }
    const ToolRun damaged = [&]() {
        WriteBytes(tmp.filePath("bad.zks"), "not a bank");
        return RunTool({"build", "-o", tmp.filePath("x.zks"), tmp.filePath("bad.zks")});
    }();
    QCOMPARE(damaged.exitCode, 1);
    QVERIFY(!QFileInfo::exists(tmp.filePath("x.zks")));
}

void TestZksTool::infoRefusesUnreadable_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << "missing.zks" << "no such file";
    QTest::newRow("folder") << "folder" << "not a regular file";
}

void TestZksTool::infoRefusesUnreadable()
{
    QFETCH(QString, entry);
    QFETCH(QString, reason);
    QTemporaryDir tmp;
    QVERIFY(QDir(tmp.path()).mkdir(QStringLiteral("folder")));
    const ToolRun run = RunTool({QStringLiteral("info"), tmp.filePath(entry)});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(entry + QStringLiteral(": ") + reason), qPrintable(Show(run)));
}

// Damaged headers of every kind: the reader must stay inside the bytes and
// describe regions that lie inside the file.
void TestZksTool::survivesHostileBytes()
{
    QRandomGenerator random(20240611);
    const QByteArray good = MakeBank("kit.zks", {Layer("a.wav", 600, 1, 100), Layer("b.wav", 900, 2, 60),
                                                 Layer("c.wav", 300, 3, 30), Layer("d.wav", 700, 4, 10),
                                                 Layer("e.wav", 500, 5, 1)});
    for (int round = 0; round < 3000; ++round) {
        QByteArray b;
        if (round % 10 == 0) {
            b.resize(int(random.bounded(0, 1200)));
            for (char &c : b)
                c = char(random.bounded(256));
        } else {
            b = good;
            const int flips = int(random.bounded(1, 12));
            for (int i = 0; i < flips; ++i) {
                const int at = int(random.bounded(0, 600));
                b[at] = random.bounded(4) == 0 ? '\n' : char(random.bounded(256));
            }
            if (random.bounded(3) == 0)
                b.truncate(int(random.bounded(b.size() + 1)));
        }
        const ZksBank bank = ParseZksBank(b, b.size());
        QVERIFY(bank.layerCount >= 0 && bank.layerCount <= kMaxLayers);
        for (const ZksRegion &r : bank.regions) {
            QVERIFY(r.inFile >= 0 && r.inFile <= r.size);
            QVERIFY(r.inFile == 0 || (r.offset >= 0 && r.offset + r.inFile <= b.size()));
        }
        for (const QString &name : WaveNamesFor(bank.regions))
            QVERIFY(!name.contains('/') && !name.startsWith('.') && name.endsWith(".wav"));
    }
}

// --- extracting ----------------------------------------------------------------

void TestZksTool::waveNames_data()
{
    QTest::addColumn<QStringList>("layerNames");
    QTest::addColumn<QStringList>("fileNames");

    QTest::newRow("plain") << QStringList{"kick.wav", "snare"}
                           << QStringList{"kick.wav", "snare.wav"};
    QTest::newRow("other format keeps its extension")
        << QStringList{"kick.flac"} << QStringList{"kick.flac.wav"};
    QTest::newRow("parent folder") << QStringList{"../x"} << QStringList{"_x.wav"};
    QTest::newRow("absolute path") << QStringList{"/etc/x"} << QStringList{"_etc_x.wav"};
    QTest::newRow("subfolder") << QStringList{"a/b"} << QStringList{"a_b.wav"};
    QTest::newRow("backslash and drive") << QStringList{"C:\\x\\y"} << QStringList{"C__x_y.wav"};
    QTest::newRow("empty, dot, dots") << QStringList{"", ".", "..", " . "}
                                      << QStringList{"layer1.wav", "layer2.wav", "layer3.wav",
                                                     "layer4.wav"};
    QTest::newRow("hidden name") << QStringList{".wav", ".profile"}
                                << QStringList{"wav.wav", "profile.wav"};
    QTest::newRow("device names")
        << QStringList{"CON", "con.wav", "nul.txt", "COM1", "lpt9", "CONSOLE"}
        << QStringList{"_CON.wav", "_con-2.wav", "_nul.txt.wav", "_COM1.wav", "_lpt9.wav",
                       "CONSOLE.wav"};
    QTest::newRow("control characters") << QStringList{QStringLiteral("a\nb\x1b[31m\u202Ec")}
                                        << QStringList{"a_b_[31m_c.wav"};
    QTest::newRow("same name twice, any case")
        << QStringList{"kick.wav", "KICK.WAV", "kick", "layer2", ""}
        << QStringList{"kick.wav", "KICK-2.wav", "kick-3.wav", "layer2.wav", "layer5.wav"};
    QTest::newRow("300 bytes") << QStringList{QString(300, 'a')}
                               << QStringList{QString(100, 'a') + ".wav"};
    QTest::newRow("long name of two-byte characters")
        << QStringList{QString(150, QChar(0xE9))} << QStringList{QString(50, QChar(0xE9)) + ".wav"};
    QString pairs;
    for (int i = 0; i < 40; ++i)
        pairs += QString::fromUcs4(U"\U0001F941");
    QTest::newRow("long name of surrogate pairs")
        << QStringList{pairs} << QStringList{pairs.left(50) + ".wav"};
}

void TestZksTool::waveNames()
{
    QFETCH(QStringList, layerNames);
    QFETCH(QStringList, fileNames);
    QVector<ZksRegion> regions;
    for (int i = 0; i < layerNames.size(); ++i) {
        ZksRegion r;
        r.layer = i + 1;
        r.name = layerNames[i];
        regions << r;
    }
    QCOMPARE(WaveNamesFor(regions), fileNames);
}

// Names that would leave the folder all point back into the test's own
// folder, so a fault shows up in its tree instead of touching the system;
// "/etc/x" itself is covered by waveNames.
void TestZksTool::extractWritesOnlyInsideFolder()
{
    QTemporaryDir tmp;
    const QString root = tmp.path();
    const QByteArray absolute = QFile::encodeName(root + "/escape/x");
    const QByteArray upAndBack = "../../" + QFile::encodeName(QFileInfo(root).fileName()) + "/up";
    const QVector<TestLayer> layers = {
        Layer("../x", 600, 1, 113),       Layer(absolute, 600, 2, 97),
        Layer("a/b", 600, 3, 81),         Layer("", 600, 4, 65),
        Layer("CON", 600, 5, 49),         Layer(QByteArray(300, 'z'), 600, 6, 33),
        Layer(upAndBack, 600, 7, 17),     Layer("..", 600, 8, 1),
    };
    QVERIFY(WriteBytes(root + "/bank.zks", MakeBank("kit.zks", layers)));

    const ToolRun run = RunTool({QStringLiteral("extract"), root + "/bank.zks", root + "/out"});
    QVERIFY2(run.exitCode == 0, qPrintable(Show(run)));

    const QStringList expected = {"_x.wav",
                                  QString(root + "/escape/x").replace('/', '_') + ".wav",
                                  "a_b.wav",
                                  "layer4.wav",
                                  "_CON.wav",
                                  QString(100, 'z') + ".wav",
                                  "_.._" + QFileInfo(root).fileName() + "_up.wav",
                                  "layer8.wav"};
    QStringList tree;
    for (const QString &name : expected)
        tree << "out/" + name;
    tree << "bank.zks" << "out";
    tree.sort();
    QCOMPARE(FolderTree(root), tree);

    for (int i = 0; i < layers.size(); ++i) {
        const QByteArray region = layers[i].audio + QByteArray(int(layers[i].size - 600), '\0');
        QCOMPARE(ReadAll(root + "/out/" + expected[i]),
                 CanonicalWavHeader(1, 44100, 16, quint32(region.size())) + region);
    }
}

void TestZksTool::extractKeepsExisting_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("file") << "file";
    QTest::newRow("link to a file outside") << "link";
    QTest::newRow("dangling link") << "dangling";
}

void TestZksTool::extractKeepsExisting()
{
    QFETCH(QString, kind);
    QTemporaryDir tmp;
    const QString root = tmp.path();
    QVERIFY(WriteBytes(root + "/bank.zks", TwoLayerBank()));
    QVERIFY(WriteBytes(root + "/outside.txt", "precious"));
    QVERIFY(QDir(root).mkdir("out"));
    const QString taken = root + "/out/hard.wav";
    if (kind == "file")
        QVERIFY(WriteBytes(taken, "keep"));
    else
        QVERIFY(QFile::link(kind == "link" ? root + "/outside.txt" : root + "/nowhere", taken));

    const ToolRun refused = RunTool({"extract", root + "/bank.zks", root + "/out"});
    QCOMPARE(refused.exitCode, 1);
    QVERIFY2(refused.err.contains(taken + ": already exists"), qPrintable(Show(refused)));
    QVERIFY2(!QFile::exists(root + "/out/soft.wav"), "nothing is written when one is refused");
    if (kind == "file")
        QCOMPARE(ReadAll(taken), QByteArray("keep"));
    else
        QVERIFY(QFileInfo(taken).isSymLink());

    const ToolRun forced = RunTool({"extract", root + "/bank.zks", root + "/out", "--force"});
    QVERIFY2(forced.exitCode == 0, qPrintable(Show(forced)));
    QVERIFY(!QFileInfo(taken).isSymLink());
    QCOMPARE(ReadAll(taken).size(), 44 + 1536);
    QCOMPARE(ReadAll(root + "/outside.txt"), QByteArray("precious"));
    QVERIFY(!QFile::exists(root + "/nowhere"));
}

void TestZksTool::extractTrim_data()
{
    QTest::addColumn<bool>("trim");
    QTest::newRow("whole regions") << false;
    QTest::newRow("--trim") << true;
}

void TestZksTool::extractTrim()
{
    QFETCH(bool, trim);
    QTemporaryDir tmp;
    const QString root = tmp.path();
    const QVector<TestLayer> layers = {Layer("soft.wav", 600, 1, 64), Layer("hard.wav", 1100, 2)};
    QVERIFY(WriteBytes(root + "/bank.zks", MakeBank("kit.zks", layers)));
    QStringList args{"extract", root + "/bank.zks", root + "/out"};
    if (trim)
        args << "--trim";
    const ToolRun run = RunTool(args);
    QVERIFY2(run.exitCode == 0, qPrintable(Show(run)));
    for (const TestLayer &l : layers) {
        const QByteArray audio = trim ? l.audio
                                      : l.audio + QByteArray(int(l.size - l.audio.size()), '\0');
        QCOMPARE(ReadAll(root + "/out/" + l.name), CanonicalWavHeader(1, 44100, 16, quint32(audio.size())) + audio);
    }
}

// A bank cut inside layer 2: layer 1 comes out whole, layer 2 as far as it
// goes, and the exit status says the bank is damaged.
void TestZksTool::extractSalvagesCutBank()
{
    QTemporaryDir tmp;
    const QString root = tmp.path();
    const QByteArray good = TwoLayerBank();
    QVERIFY(WriteBytes(root + "/bank.zks", good.left(2001)));
    const ToolRun run = RunTool({"extract", root + "/bank.zks", root + "/out"});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains("layer 2 (offset 1536, size 1536) runs past the end"),
             qPrintable(Show(run)));
    QCOMPARE(ReadAll(root + "/out/soft.wav").mid(44), good.mid(512, 1024));
    QCOMPARE(ReadAll(root + "/out/hard.wav").mid(44), good.mid(1536, 464));
}

// The bank itself, or a link to it, can stand where a layer's file would
// go; even --force must not write over the bank being read.
void TestZksTool::extractNeverReplacesBank_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("force");
    QTest::newRow("bank named like a layer, --force") << "bank" << true;
    QTest::newRow("bank named like a layer") << "bank" << false;
    QTest::newRow("bank given through a link") << "reached by link" << true;
    QTest::newRow("hard link to the bank in the folder") << "hard link" << true;
    QTest::newRow("symbolic link to the bank in the folder") << "symlink" << true;
}

void TestZksTool::extractNeverReplacesBank()
{
    QFETCH(QString, kind);
    QFETCH(bool, force);
    QTemporaryDir tmp;
    const QString root = tmp.path();
    const QString dir = root + "/out";
    const QString taken = dir + "/drums.wav";
    const QByteArray bytes =
        MakeBank("drums.wav", {Layer("drums", 600, 1, 64), Layer("snare", 1100, 2)});
    QVERIFY(QDir().mkpath(dir));
    QString bank = root + "/kit.zks";
    if (kind == "bank" || kind == "reached by link")
        bank = taken;
    QVERIFY(WriteBytes(bank, bytes));
    QString given = bank;
    if (kind == "reached by link") {
        given = root + "/link.zks";
        QVERIFY(QFile::link(bank, given));
    } else if (kind == "hard link") {
        QCOMPARE(::link(QFile::encodeName(bank).constData(), QFile::encodeName(taken).constData()),
                 0);
    } else if (kind == "symlink") {
        QVERIFY(QFile::link(bank, taken));
    }
    const QStringList before = FolderTree(root);

    QStringList args{"extract", given, dir};
    if (force)
        args << "--force";
    const ToolRun run = RunTool(args);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(taken + ": is the bank being read; not replaced"),
             qPrintable(Show(run)));
    QCOMPARE(ReadAll(bank), bytes);
    QCOMPARE(FolderTree(root), before);
}

// --- the generator's banks read back --------------------------------------------

void TestZksTool::generatorReadsBack_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("stereo");
    QTest::addColumn<int>("gate");
    QTest::newRow("no layers") << 0 << false << 0;
    QTest::newRow("one mono layer") << 1 << false << 0;
    QTest::newRow("three layers, gate 328") << 3 << false << 328;
    QTest::newRow("four stereo layers") << 4 << true << 0;
    QTest::newRow("eight layers, gate 1035") << 8 << false << 1035;
}

void TestZksTool::generatorReadsBack()
{
    QFETCH(int, count);
    QFETCH(bool, stereo);
    QFETCH(int, gate);
    QTemporaryDir tmp;

    GeneratorArgs args;
    args.TargetPath = tmp.filePath("gen.zks");
    args.TargetName = "gen.zks";
    args.LayerCount = count;
    args.SilenceGate = quint16(gate);
    ThresholdTable spread;
    DefaultThresholds(spread, count);
    QVector<QByteArray> expected;
    for (int k = 1; k <= count; ++k) {
        const int channels = stereo ? 2 : 1;
        const QVector<qint16> samples = Samples(700 * k * channels, quint32(k), 50 * channels);
        const QString path = tmp.filePath(QStringLiteral("layer %1.wav").arg(k));
        QVERIFY(WriteBytes(path, Wav16(quint16(channels), 44100, samples)));
        args.LayerPath[k - 1] = path;
        args.LayerName[k - 1] = QFileInfo(path).fileName();
        args.LayerSize[k - 1] = OpenAndCheckFile(path);
        QVERIFY(args.LayerSize[k - 1] > 0);
        expected << AfterGate(stereo ? LeftChannel(samples) : samples, quint16(gate));
    }
    for (int i = 0; i < kMaxLayers; ++i)
        args.Threshold[i] = spread[i + 1];
    QCOMPARE(GenerateZKS(args), qint32(GENERATE_OK));

    ZksBank bank;
    QString error;
    QVERIFY2(ReadZksBank(args.TargetPath, &bank, &error), qPrintable(error));
    // The generator writes what it is given; the window and zkstool never
    // give it no layers, and the reader says so of such a bank.
    QCOMPARE(ProblemTexts(bank.problems),
             count == 0 ? QStringList{"the bank holds no layers"} : QStringList());
    QVERIFY(bank.signatureOk);
    QCOMPARE(bank.bankName, args.TargetName);
    QCOMPARE(bank.layerCount, count);
    for (int i = 0; i < kMaxLayers; ++i)
        QCOMPARE(int(bank.thresholds[i]), args.Threshold[i] & 0x7F);
    for (int k = 1; k <= count; ++k) {
        const ZksRegion &r = bank.regions[k - 1];
        QCOMPARE(r.name, args.LayerName[k - 1]);
        QCOMPARE(r.size, qint64(args.LayerSize[k - 1]));
        QByteArray region;
        QVERIFY2(ReadZksRegion(bank, r, &region, &error), qPrintable(error));
        const QByteArray &audio = expected[k - 1];
        QCOMPARE(region, audio + QByteArray(int(r.size) - audio.size(), '\0'));
    }
}

// --- the engine's length prediction and cancellable conversion -------------

void TestZksTool::predictedDataSize_data()
{
    QTest::addColumn<qint64>("frames");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<bool>("estimated");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("farTooLong");

    // The largest accepted data is 3141631 bytes of the channel the bank
    // keeps; a second of margin is 88200 bytes of it.
    QTest::newRow("mono, the largest accepted")
        << qint64(1570815) << 44100 << 1 << false << qint64(3141630) << false;
    QTest::newRow("mono, a second past it: still within the margin")
        << qint64(1570815 + 44100) << 44100 << 1 << false << qint64(3229830) << false;
    QTest::newRow("mono, one sample more") << qint64(1570816 + 44100) << 44100 << 1 << false
                                           << qint64(3229832) << true;
    QTest::newRow("stereo, just within the margin")
        << qint64(1570815 + 44100) << 44100 << 2 << false << qint64(6459660) << false;
    QTest::newRow("stereo, one frame more") << qint64(1570816 + 44100) << 44100 << 2 << false
                                            << qint64(6459664) << true;
    QTest::newRow("six channels count as two")
        << qint64(44100) << 44100 << 6 << false << qint64(176400) << false;
    QTest::newRow("96 kHz: a part frame counts whole")
        << qint64(3) << 96000 << 1 << false << qint64(4) << false;
    QTest::newRow("three minutes at 48 kHz stereo")
        << qint64(48000) * 180 << 48000 << 2 << false << qint64(31752000) << true;
    QTest::newRow("an estimated length is never judged")
        << qint64(48000) * 180 << 48000 << 2 << true << qint64(31752000) << false;
    QTest::newRow("a count no file holds does not overflow")
        << (qint64(1) << 60) << 8000 << 2 << false << (qint64(1) << 62) << true;
    QTest::newRow("no frames") << qint64(0) << 44100 << 1 << false << qint64(0) << false;
}

void TestZksTool::predictedDataSize()
{
    QFETCH(qint64, frames);
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(bool, estimated);
    QFETCH(qint64, size);
    QFETCH(bool, farTooLong);
    SoundInfo info;
    info.frames = frames;
    info.rate = rate;
    info.channels = channels;
    info.lengthEstimated = estimated;
    QCOMPARE(PredictedDataSize(info), size);
    QCOMPARE(IsFarTooLong(info), farTooLong);
}

void TestZksTool::readSoundInfo_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("known");
    QTest::addColumn<qint64>("frames");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<bool>("estimated");

    QTest::newRow("WAVE") << "wav" << true << qint64(12345) << 48000 << 2 << false;
    QTest::newRow("FLAC, six channels") << "flac" << true << qint64(4410) << 44100 << 6 << false;
    QTest::newRow("MP3: the length is an estimate")
        << "mp3" << true << qint64(-1) << 44100 << 1 << true;
    QTest::newRow("not a sound") << "text" << false << qint64(0) << 0 << 0 << false;
    QTest::newRow("missing") << "missing" << false << qint64(0) << 0 << 0 << false;
    QTest::newRow("folder") << "folder" << false << qint64(0) << 0 << 0 << false;
#ifdef Q_OS_UNIX
    QTest::newRow("named pipe: turned away at once") << "pipe" << false << qint64(0) << 0 << 0
                                                      << false;
#endif
}

void TestZksTool::readSoundInfo()
{
    QFETCH(QString, kind);
    QFETCH(bool, known);
    QFETCH(qint64, frames);
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(bool, estimated);
    QTemporaryDir tmp;
    const QString path = tmp.filePath("sound." + kind);
    if (kind == "wav")
        QVERIFY(WriteSilentWave(path, 2, 48000, 12345));
    else if (kind == "flac")
        QVERIFY(WriteSound(path, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 6, 44100,
                           QVector<qint16>(6 * 4410)));
    else if (kind == "mp3")
        QVERIFY(WriteSound(path, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 1, 44100,
                           QVector<qint16>(44100)));
    else if (kind == "text")
        QVERIFY(WriteBytes(path, "not a sound at all\n"));
    else if (kind == "folder")
        QVERIFY(QDir().mkpath(path));
#ifdef Q_OS_UNIX
    else if (kind == "pipe")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
#endif

    SoundInfo info;
    QCOMPARE(ReadSoundInfo(path, &info), known);
    if (!known)
        return;
    if (frames >= 0)
        QCOMPARE(info.frames, frames);
    QCOMPARE(info.rate, rate);
    QCOMPARE(info.channels, channels);
    QCOMPARE(info.lengthEstimated, estimated);
}

// The prediction's limit is the sound check's own.
void TestZksTool::largestCheckedDataSize()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath("header.wav");
    QVERIFY(WriteBytes(path, CanonicalWavHeader(1, 44100, 16, quint32(kLargestCheckedDataSize))));
    QCOMPARE(OpenAndCheckFile(path), int(kLargestCheckedDataSize + 1));
    QVERIFY(WriteBytes(path,
                       CanonicalWavHeader(1, 44100, 16, quint32(kLargestCheckedDataSize + 1))));
    QCOMPARE(OpenAndCheckFile(path), int(RESULT_TOO_BIG));
}

// A cancelled conversion runs no converter and leaves nothing in the working
// folder; the same file converts once the flag is clear.
void TestZksTool::cancelledConversion()
{
    QTemporaryDir tmp;
    const QString sound = tmp.filePath("kick.wav");
    QVERIFY(WriteBytes(sound, Wav16(2, 48000, Samples(9600, 11))));
    const QString work = WorkFolder();
    QVERIFY(!work.isEmpty());

    const std::atomic<bool> cancelled(true);
    ConvertOptions options;
    options.cancelled = &cancelled;
    QString reason;
    const QString stopped = ConvertFile(sound, options, &reason);
    QCOMPARE(reason, QStringLiteral("cancelled"));
    QCOMPARE(QFileInfo(stopped).fileName(), QStringLiteral("kick.wav"));
    QVERIFY(!QFileInfo::exists(stopped));
    QCOMPARE(FolderTree(work), QStringList());

    const std::atomic<bool> clear(false);
    options.cancelled = &clear;
    const QString converted = ConvertFile(sound, options);
    QCOMPARE(OpenAndCheckFile(converted), 9216);
    const QString folder = QFileInfo(converted).dir().dirName();
    QCOMPARE(FolderTree(work), QStringList({folder, folder + "/kick.wav"}));
    RemoveWorkFolder();
}

// --- build ------------------------------------------------------------------------

void TestZksTool::commandLineRefusals_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    const QStringList two{"a.wav", "b.wav"};
    QTest::newRow("no command") << QStringList{} << 2 << "Usage: zkstool build";
    QTest::newRow("unknown command") << QStringList{"pack"} << 2 << "unknown command \"pack\"";
    QTest::newRow("no bank named") << two << 2 << "-o BANK.zks";
    QTest::newRow("no files") << QStringList{"-o", "@/k.zks"} << 2 << "1 to 8 sound files";
    QTest::newRow("too many files")
        << QStringList{"-o", "@/k.zks", "1", "2", "3", "4", "5", "6", "7", "8", "9"} << 2
        << "too many files: a bank holds at most 8 layers, 9 given";
    QTest::newRow("unknown gate") << QStringList{"-o", "@/k.zks", "--gate", "-70dB"} + two << 2
                                  << "unknown gate \"-70dB\": choose off|-60dB|-50dB|-40dB|-30dB";
    QTest::newRow("thresholds that rise")
        << QStringList{"-o", "@/k.zks", "--thresholds", "50,60,1", "a", "b", "c"} << 2
        << "threshold 2 is 60, but must be 2..49";
    QTest::newRow("last threshold not 1")
        << QStringList{"-o", "@/k.zks", "--thresholds", "50,2"} + two << 2
        << "threshold 2 is 2, but must be 1";
    QTest::newRow("threshold above the slider")
        << QStringList{"-o", "@/k.zks", "--thresholds", "127,1"} + two << 2
        << "threshold 1 is 127, but must be 2..126";
    QTest::newRow("one threshold short") << QStringList{"-o", "@/k.zks", "--thresholds", "50"} + two
                                         << 2 << "give one threshold per file: 2 files, 1 thresholds";
    QTest::newRow("threshold not a number")
        << QStringList{"-o", "@/k.zks", "--thresholds", "50,x"} + two << 2
        << "threshold 2 (\"x\") is not a whole number";
    QTest::newRow("bank exists") << QStringList{"-o", "@/taken.zks"} + two << 1
                                 << "taken.zks: already exists; --force replaces it";
    QTest::newRow("bank folder missing") << QStringList{"-o", "@/no/k.zks"} + two << 1
                                         << "k.zks: File Error (no folder";
    QTest::newRow("info without a bank") << QStringList{"info"} << 2 << "exactly one bank";
    QTest::newRow("extract without a folder") << QStringList{"extract", "@/k.zks"} << 2
                                              << "a bank and a folder";
}

// Mistakes caught before any sound is converted; "@" stands for a fresh
// temporary folder, and nothing new may appear in it.
void TestZksTool::commandLineRefusals()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QTemporaryDir tmp;
    QVERIFY(WriteBytes(tmp.filePath("taken.zks"), "old bank"));
    if (!arguments.isEmpty() && arguments[0] != "info" && arguments[0] != "extract"
        && arguments[0] != "pack")
        arguments.prepend("build");
    arguments.replaceInStrings(QRegularExpression("^@"), tmp.path());

    const ToolRun run = RunTool(arguments, tmp.path());
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(message), qPrintable(Show(run)));
    QCOMPARE(FolderTree(tmp.path()), QStringList{"taken.zks"});
    QCOMPARE(ReadAll(tmp.filePath("taken.zks")), QByteArray("old bank"));
}

void TestZksTool::buildRefusesFile_data()
{
    QTest::addColumn<QStringList>("files"); // name=samples (negative: stereo frames), or name
    QTest::addColumn<QString>("refused");
    QTest::addColumn<QString>("message"); // the window's text, then the window's detail

    QTest::newRow("missing file") << QStringList{"a.wav=5000", "missing.wav"} << "missing.wav"
                                  << "File Error (no such file)";
    QTest::newRow("not a sound") << QStringList{"notes.txt"} << "notes.txt"
                                 << "File Error (Format not recognised. Accepted: WAVE, AIFF, FLAC, Ogg, Opus and MP3.)";
    QTest::newRow("named pipe") << QStringList{"a.wav=5000", "pipe.wav"} << "pipe.wav"
                                << "File Error (not a regular file)";
    QTest::newRow("no file named") << QStringList{""} << "" << "No File Choosen";
    QTest::newRow("too short") << QStringList{"short.wav=255"} << "short.wav"
                               << "File too big! (the sound lasts 0.00578 s; a layer needs at "
                                  "least 0.00580 s of mono sound)";
    QTest::newRow("too long") << QStringList{"long.wav=1570816"} << "long.wav"
                              << "File too big! (the sound lasts 35.61941 s; a layer holds at "
                                 "most 35.61940 s of mono sound)";
    const QString longName = QString(57, 'n') + ".wav";
    QTest::newRow("name of 61 characters")
        << QStringList{longName + "=5000"} << longName
        << "Filename is toooo long! (the name has 61 characters; at most 60 are allowed)";
    QTest::newRow("space runs out") << QStringList{"a.wav=800000", "b.wav=800000"} << "b.wav"
                                    << "Not enough space! (the sound needs 1600.5 KB (18.1 s); "
                                       "1545.2 KB (17.5 s) are left)";
    // 2 MiB + 1 MiB of layers fill the budget, leaving none for the header.
    QTest::newRow("no room for the header")
        << QStringList{"a.wav=1048320", "b.wav=524032"} << "k.zks"
        << "Not enough space! (the bank with its header takes 3146240 bytes; the device holds "
           "3145728)";
}

void TestZksTool::buildRefusesFile()
{
    QFETCH(QStringList, files);
    QFETCH(QString, refused);
    QFETCH(QString, message);
    QTemporaryDir tmp;
    const QString work = tmp.filePath("work");
    QVERIFY(QDir().mkpath(work));
    // An existing bank, offered for replacement, must survive every refusal.
    QVERIFY(WriteBytes(tmp.filePath("k.zks"), "old bank"));
    QStringList args{"build", "--force", "-o", tmp.filePath("k.zks")};
    // Each entry is "name=bytes of sound", or a bare name made otherwise.
    for (const QString &entry : files) {
        const QString name = entry.section('=', 0, 0);
        const QString path = name.isEmpty() ? QString() : tmp.filePath(name);
        if (entry.contains('='))
            QVERIFY(WriteBytes(path, Wav16(1, 44100, Samples(entry.section('=', 1).toInt(), 7))));
        else if (name.endsWith(".txt"))
            QVERIFY(WriteBytes(path, "not a sound at all\n"));
#ifdef Q_OS_UNIX
        else if (name.startsWith("pipe"))
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
#endif
        args << path;
    }
    const ToolRun run = RunTool(args, work);
    QCOMPARE(run.exitCode, 1);
    const QString subject = refused.isEmpty() ? QString() : tmp.filePath(refused);
    QVERIFY2(run.err.contains(subject + ": " + message + "\n"), qPrintable(Show(run)));
    QCOMPARE(ReadAll(tmp.filePath("k.zks")), QByteArray("old bank"));
    QCOMPARE(FolderTree(work), QStringList());
}

void TestZksTool::buildRoundTrip_data()
{
    QTest::addColumn<QVector<int>>("channels");
    QTest::addColumn<QString>("gate");
    QTest::addColumn<int>("amplitude");
    QTest::addColumn<QString>("thresholds");
    QTest::addColumn<bool>("replace"); // an older bank is there and --force is given

    QTest::newRow("one mono layer") << QVector<int>{1} << "off" << 0 << "" << false;
    QTest::newRow("three layers, -40dB, replacing a bank")
        << QVector<int>{1, 1, 1} << "-40dB" << 328 << "" << true;
    QTest::newRow("stereo keeps the left channel, -30dB")
        << QVector<int>{2, 1} << "-30dB" << 1035 << "100,1" << false;
    QTest::newRow("eight layers, own thresholds")
        << QVector<int>{1, 1, 1, 1, 1, 1, 1, 1} << "-60dB" << 33 << "120,100,80,60,40,20,10,1"
        << false;
}

void TestZksTool::buildRoundTrip()
{
    QFETCH(QVector<int>, channels);
    QFETCH(QString, gate);
    QFETCH(int, amplitude);
    QFETCH(QString, thresholds);
    QFETCH(bool, replace);
    QTemporaryDir tmp;
    const QString work = tmp.filePath("work");
    QVERIFY(QDir().mkpath(work));
    const int count = channels.size();

    QStringList args{"build", "-o", tmp.filePath("kit.zks"), "--gate", gate};
    if (replace) {
        QVERIFY(WriteBytes(tmp.filePath("kit.zks"), "old bank"));
        args << "--force";
    }
    if (!thresholds.isEmpty())
        args << "--thresholds" << thresholds;
    QVector<QByteArray> audio;
    QVector<int> sizes;
    for (int k = 1; k <= count; ++k) {
        const int ch = channels[k - 1];
        const QVector<qint16> samples = Samples(ch * (3000 + 997 * k), quint32(k), ch * 40);
        const QString path = tmp.filePath(QStringLiteral("sound %1.wav").arg(k));
        QVERIFY(WriteBytes(path, Wav16(quint16(ch), 44100, samples)));
        args << path;
        audio << AfterGate(ch == 2 ? LeftChannel(samples) : samples, quint16(amplitude));
        sizes << (((samples.size() / ch) * 2) & ~511) + 512;
    }
    const ToolRun built = RunTool(args, work);
    QVERIFY2(built.exitCode == 0, qPrintable(Show(built)));
    qint32 used = 0;
    for (int k = 1; k <= count; ++k) {
        used += sizes[k - 1];
        const QString line = QStringLiteral("layer %1  sound %1.wav  %2 bytes  %3% space left")
                                 .arg(k)
                                 .arg(sizes[k - 1])
                                 .arg(AvailablePercentFor(used));
        QVERIFY2(built.out.contains(line), qPrintable(line + "\n" + Show(built)));
    }
    QCOMPARE(FolderTree(work), QStringList()); // the working folder is gone

    ThresholdTable expected;
    DefaultThresholds(expected, count);
    const QStringList given = thresholds.split(',', Qt::SkipEmptyParts);
    for (int k = 1; k <= given.size(); ++k)
        expected[k] = given[k - 1].toInt();

    ToolRun info;
    const QJsonObject json = InfoJson(tmp.filePath("kit.zks"), &info);
    QVERIFY2(info.exitCode == 0, qPrintable(Show(info)));
    QCOMPARE(json.value("bankName").toString(), QStringLiteral("kit.zks"));
    QCOMPARE(json.value("layerCount").toInt(), count);
    const QJsonArray stored = json.value("thresholds").toArray();
    for (int k = 1; k <= kMaxLayers; ++k)
        QCOMPARE(stored[k - 1].toInt(), expected[k]);
    const QJsonArray layers = json.value("layers").toArray();
    QCOMPARE(layers.size(), count);
    for (int k = 1; k <= count; ++k) {
        const QJsonObject layer = layers[k - 1].toObject();
        QCOMPARE(layer.value("name").toString(), QStringLiteral("sound %1.wav").arg(k));
        QCOMPARE(layer.value("size").toInt(), sizes[k - 1]);
        QCOMPARE(layer.value("threshold").toInt(), expected[k]);
    }

    const ToolRun extracted = RunTool({"extract", tmp.filePath("kit.zks"), tmp.filePath("out"), "--trim"});
    QVERIFY2(extracted.exitCode == 0, qPrintable(Show(extracted)));
    for (int k = 1; k <= count; ++k) {
        const QByteArray wave = ReadAll(tmp.filePath(QStringLiteral("out/sound %1.wav").arg(k)));
        QCOMPARE(wave.left(44), CanonicalWavHeader(1, 44100, 16, quint32(audio[k - 1].size())));
        QCOMPARE(wave.mid(44), audio[k - 1]);
    }
}

// Names are lines in the bank: one holding a control character would shift
// every name after it. They are checked before anything is converted.
void TestZksTool::buildRefusesControlCharacters_data()
{
    QTest::addColumn<QString>("bank");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("refused");

    QTest::newRow("line feed in a layer's name")
        << "k.zks" << QStringList{"a.wav", "line\nfeed.wav"} << "in/line\nfeed.wav";
    QTest::newRow("tab in a layer's name") << "k.zks" << QStringList{"tab\tkick.wav"}
                                           << "in/tab\tkick.wav";
    QTest::newRow("escape sequence in a layer's name")
        << "k.zks" << QStringList{"a.wav", "\x1b[31mred.wav"} << "in/\x1b[31mred.wav";
    QTest::newRow("delete character in a layer's name")
        << "k.zks" << QStringList{"del\x7f.wav"} << "in/del\x7f.wav";
    QTest::newRow("line feed in the bank's name") << "k\nz.zks" << QStringList{"a.wav"}
                                                   << "k\nz.zks";
}

void TestZksTool::buildRefusesControlCharacters()
{
    QFETCH(QString, bank);
    QFETCH(QStringList, files);
    QFETCH(QString, refused);
    QTemporaryDir tmp;
    const QString work = tmp.filePath("work");
    QVERIFY(QDir().mkpath(work));
    QVERIFY(WriteBytes(tmp.filePath("k.zks"), "old bank"));
    QStringList args{"build", "--force", "--verbose", "-o", tmp.filePath(bank)};
    for (const QString &name : files) {
        QVERIFY(WriteBytes(tmp.filePath("in/" + name), Wav16(1, 44100, Samples(5000, 3))));
        args << tmp.filePath("in/" + name);
    }
    const QStringList before = FolderTree(tmp.path());

    const ToolRun run = RunTool(args, work);
    QCOMPARE(run.exitCode, 1);
    const QString line = "zkstool: " + Shown(tmp.filePath(refused))
        + ": File Error (the name holds a control character, which the device would misread)\n";
    QVERIFY2(run.err.contains(line), qPrintable(line + Show(run)));
    QVERIFY2(!RanConverter(run), qPrintable(Show(run)));
    QCOMPARE(FolderTree(tmp.path()), before);
    QCOMPARE(ReadAll(tmp.filePath("k.zks")), QByteArray("old bank"));
}

// With five or more layers the device takes every layer's size from the
// size units, which end below 2 MiB; up to four layers the block counts
// describe each layer exactly.
void TestZksTool::buildLayerSizeTables_data()
{
    QTest::addColumn<QVector<int>>("samples"); // per layer: 16-bit mono samples at 44100 Hz
    QTest::addColumn<int>("refused");          // the layer refused; 0: the bank is built

    const int smallest = 256;    // 512 bytes: a layer of 1024
    const int lowest = 0xFFE00;  // 0x1FFC00 bytes: a layer of 0x1FFE00
    const int highest = 0xFFEFF; // 0x1FFDFE bytes: still a layer of 0x1FFE00
    const int oneBlockMore = 0xFFF00; // 0x1FFE00 bytes: a layer of 0x200000
    QTest::newRow("five layers, the largest layer 5 that fits")
        << QVector<int>{smallest, smallest, smallest, smallest, highest} << 0;
    QTest::newRow("five layers, layer 5 one block more")
        << QVector<int>{smallest, smallest, smallest, smallest, oneBlockMore} << 5;
    QTest::newRow("five layers, the largest layer 1 that fits")
        << QVector<int>{lowest, smallest, smallest, smallest, smallest} << 0;
    QTest::newRow("five layers, layer 1 one block more")
        << QVector<int>{oneBlockMore, smallest, smallest, smallest, smallest} << 1;
    QTest::newRow("four layers, layer 1 of 0x2FF000")
        << QVector<int>{0x17F7FF, smallest, smallest, smallest} << 0;
}

void TestZksTool::buildLayerSizeTables()
{
    QFETCH(QVector<int>, samples);
    QFETCH(int, refused);
    QTemporaryDir tmp;
    const QString work = tmp.filePath("work");
    QVERIFY(QDir().mkpath(work));
    QVERIFY(WriteBytes(tmp.filePath("k.zks"), "old bank"));
    QStringList args{"build", "--force", "-o", tmp.filePath("k.zks")};
    QVector<int> sizes;
    for (int k = 1; k <= samples.size(); ++k) {
        const QString path = tmp.filePath(QStringLiteral("layer%1.wav").arg(k));
        QVERIFY(WriteBytes(path, Wav16(1, 44100, Samples(samples[k - 1], quint32(k)))));
        args << path;
        sizes << ((samples[k - 1] * 2) & ~511) + 512;
    }

    const ToolRun run = RunTool(args, work);
    QCOMPARE(FolderTree(work), QStringList());
    if (refused > 0) {
        QCOMPARE(run.exitCode, 1);
        const QString line = tmp.filePath(QStringLiteral("layer%1.wav").arg(refused))
            + ": File too big! (a bank of 5 or more layers holds layers below 2097.2 KB each)\n";
        QVERIFY2(run.err.contains(line), qPrintable(line + Show(run)));
        QCOMPARE(ReadAll(tmp.filePath("k.zks")), QByteArray("old bank"));
        return;
    }
    QVERIFY2(run.exitCode == 0, qPrintable(Show(run)));
    ToolRun info;
    const QJsonObject json = InfoJson(tmp.filePath("k.zks"), &info);
    QVERIFY2(info.exitCode == 0, qPrintable(Show(info)));
    const QJsonArray layers = json.value("layers").toArray();
    QCOMPARE(layers.size(), sizes.size());
    for (int k = 1; k <= sizes.size(); ++k)
        QCOMPARE(layers[k - 1].toObject().value("size").toInt(), sizes[k - 1]);
}

// A sound far longer than any layer is refused from its header, before any
// file is converted; one only a little too long is left to the sound check,
// as rounding in the resampler decides its fate.
void TestZksTool::buildRefusesFarTooLong_data()
{
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("rate");
    QTest::addColumn<qint64>("frames");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("converted"); // refused by the sound check, after converting

    QTest::newRow("three minutes of 48 kHz stereo")
        << 2 << 48000 << qint64(48000) * 180
        << "the sound lasts 180.0 s; a layer holds at most 35.6 s of stereo sound" << false;
    QTest::newRow("six channels, of which two are kept")
        << 6 << 44100 << qint64(44100) * 60
        << "the sound lasts 60.0 s; a layer holds at most 35.6 s of stereo sound" << false;
    QTest::newRow("a minute of mono at 8 kHz")
        << 1 << 8000 << qint64(8000) * 60
        << "the sound lasts 60.0 s; a layer holds at most 35.6 s of mono sound" << false;
    // The same words, with the decimals it takes to tell the lengths apart.
    QTest::newRow("one sample past the longest")
        << 1 << 44100 << qint64(1570816)
        << "the sound lasts 35.61941 s; a layer holds at most 35.61940 s of mono sound" << true;
}

void TestZksTool::buildRefusesFarTooLong()
{
    QFETCH(int, channels);
    QFETCH(int, rate);
    QFETCH(qint64, frames);
    QFETCH(QString, reason);
    QFETCH(bool, converted);
    QTemporaryDir tmp;
    const QString work = tmp.filePath("work");
    QVERIFY(QDir().mkpath(work));
    QVERIFY(WriteBytes(tmp.filePath("k.zks"), "old bank"));
    const QString first = tmp.filePath("a.wav");
    QVERIFY(WriteBytes(first, Wav16(1, 44100, Samples(5000, 5))));
    const QString sound = tmp.filePath("long.wav");
    QVERIFY(WriteSilentWave(sound, quint16(channels), quint32(rate), frames));

    const ToolRun run = RunTool({"build", "--force", "--verbose", "-o", tmp.filePath("k.zks"),
                                 first, sound},
                                work);
    QCOMPARE(run.exitCode, 1);
    const QString line = sound + ": File too big! (" + reason + ")\n";
    QVERIFY2(run.err.contains(line), qPrintable(line + Show(run)));
    QCOMPARE(RanConverter(run), converted);
    QCOMPARE(ReadAll(tmp.filePath("k.zks")), QByteArray("old bank"));
    QCOMPARE(FolderTree(work), QStringList());
}

// Interrupted while it converts, in this process or through the converter
// programs, zkstool stops the conversion, removes its working folder, writes
// no bank and exits with 128 + the signal's number.
void TestZksTool::buildInterrupted_data()
{
#ifdef Q_OS_UNIX
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<bool>("external");
    QTest::newRow("SIGINT (Ctrl-C)") << int(SIGINT) << false;
    QTest::newRow("SIGTERM") << int(SIGTERM) << false;
    QTest::newRow("SIGHUP") << int(SIGHUP) << false;
    QTest::newRow("SIGPIPE (output closed)") << int(SIGPIPE) << false;
    QTest::newRow("SIGINT, converter programs") << int(SIGINT) << true;
    QTest::newRow("SIGTERM, converter programs") << int(SIGTERM) << true;
    QTest::newRow("SIGHUP, converter programs") << int(SIGHUP) << true;
#endif
}

void TestZksTool::buildInterrupted()
{
#ifndef Q_OS_LINUX
    QSKIP("The converters are watched through /proc");
#else
    QFETCH(int, signalNumber);
    QFETCH(bool, external);
    const DefaultDisposition standard(signalNumber);
    QTemporaryDir tmp;
    const QString temp = tmp.filePath("temp");
    QVERIFY(QDir().mkpath(temp));
    // 17 seconds of stereo at 768 kHz: a layer once resampled, and enough
    // work that the converters are seen running.
    const QString sound = tmp.filePath("long.wav");
    QVERIFY(WriteSilentWave(sound, 2, 768000, 768000 * 17));
    const QString bank = tmp.filePath("kit.zks");

    QProcess tool;
    QStringList arguments{"build", "-o", bank, sound};
    if (external)
        arguments.insert(1, "--external-converters");
    StartTool(tool, arguments, temp);
    QVERIFY(tool.waitForStarted());
    const qint64 pid = tool.processId();

    // Converting shows as a converter process, or in this process as its
    // output being written in the working folder.
    const auto converting = [&]() {
        return external ? !ChildrenOf(pid).isEmpty()
                        : FolderTree(temp).join('\n').contains("tempWav2.wav");
    };
    QVERIFY2(SeenWhileRunning(tool, converting), "no conversion was seen running");

    // The tool and its converter are held still while the signal is sent,
    // so it arrives during the conversion however busy the machine is.
    QCOMPARE(::kill(pid_t(pid), SIGSTOP), 0);
    QVERIFY(WaitUntilStopped(pid));
    const QList<qint64> children = ChildrenOf(pid);
    for (qint64 child : children) {
        ::kill(pid_t(child), SIGSTOP);
        QVERIFY(WaitUntilStopped(child));
    }
    QCOMPARE(::kill(pid_t(pid), signalNumber), 0);
    QCOMPARE(::kill(pid_t(pid), SIGCONT), 0);
    // The converters go on too, as nothing but this test held them: one
    // caught between its fork and its exec would otherwise keep the tool
    // waiting for it to start.
    for (qint64 child : children)
        ::kill(pid_t(child), SIGCONT);
    const bool finished = tool.waitForFinished(120000);

    // Whatever is left is noted, then ended, so a failure leaves nothing
    // running.
    const QList<qint64> left = ProcessesMentioning(temp);
    for (qint64 stray : left)
        ::kill(pid_t(stray), SIGKILL);
    if (!finished) {
        tool.kill();
        tool.waitForFinished();
    }
    QVERIFY(finished);
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), 128 + signalNumber);
    QVERIFY2(left.isEmpty(), "a converter was left running");
    QCOMPARE(FolderTree(temp), QStringList());
    QVERIFY(!QFileInfo::exists(bank));
#endif
}

void TestZksTool::debugLinesFollowLoggingRules_data()
{
    QTest::addColumn<QString>("rules");
    QTest::addColumn<bool>("shown");
    QTest::newRow("no rules") << "" << true;
    QTest::newRow("the program's debug lines off") << "quadrel.zks.debug=false" << false;
    QTest::newRow("every debug line off") << "*.debug=false" << false;
    QTest::newRow("Qt's own debug lines off") << "qt.*.debug=false" << true;
}

// The debug lines --verbose shows go through the program's own logging
// category, so QT_LOGGING_RULES silences them; the tool's own lines stay.
void TestZksTool::debugLinesFollowLoggingRules()
{
    QFETCH(QString, rules);
    QFETCH(bool, shown);
    QTemporaryDir tmp;
    const QString sound = tmp.filePath("kick.wav");
    QVERIFY(WriteBytes(sound, Wav16(1, 44100, Samples(5000, 3))));

    const ToolRun run =
        RunTool({"build", "--verbose", "-o", tmp.filePath("k.zks"), sound}, QString(), rules);
    QVERIFY2(run.exitCode == 0, qPrintable(Show(run)));
    QVERIFY2(run.out.startsWith("layer 1  kick.wav  10240 bytes"), qPrintable(Show(run)));
    QVERIFY2(run.err.contains("Trimmed waveform's length is  10240 bytes\n") == shown,
             qPrintable(Show(run)));
    if (!shown)
        QVERIFY2(run.err.isEmpty(), qPrintable(Show(run)));
}

// Without replacing, the generator never loses a file at the target, nor a
// link there, and leaves nothing of its own beside it.
void TestZksTool::generatorKeepsExisting_data()
{
    QTest::addColumn<QString>("present"); // what is at the target: "", "file", "dangling link"
    QTest::newRow("nothing there") << "";
    QTest::newRow("a file") << "file";
    QTest::newRow("a dangling link") << "dangling link";
}

void TestZksTool::generatorKeepsExisting()
{
    QFETCH(QString, present);
    QTemporaryDir tmp;
    const QString layer = tmp.filePath("a.wav");
    QVERIFY(WriteBytes(layer, Wav16(1, 44100, Sine(4410, 0.5))));
    const QString target = tmp.filePath("kit.zks");
    if (present == "file")
        QVERIFY(WriteBytes(target, "someone's bank"));
    else if (present == "dangling link")
        QVERIFY(QFile::link(tmp.filePath("nowhere.zks"), target));
    ThresholdTable thresholds;
    DefaultThresholds(thresholds, 1);
    GeneratorArgs args = MakeGeneratorArgs({{layer, "a.wav", OpenAndCheckFile(layer)}}, thresholds,
                                           0, target);
    args.ReplaceExisting = false;
    QString reason;
    const qint32 result = GenerateZKS(args, &reason);
    if (present.isEmpty()) {
        QCOMPARE(result, qint32(GENERATE_OK));
        QCOMPARE(ReadBank(target).layerCount, 1);
        QCOMPARE(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList({"a.wav", "kit.zks"}));
        return;
    }
    QCOMPARE(result, qint32(GENERATE_TARGET_EXISTS));
    QCOMPARE(reason, QStringLiteral("already exists"));
    if (present == "file")
        QCOMPARE(ReadAll(target), QByteArray("someone's bank"));
    else
        QCOMPARE(QFileInfo(target).symLinkTarget(), tmp.filePath("nowhere.zks"));
    QVERIFY(!QFileInfo::exists(tmp.filePath("nowhere.zks")));
    QCOMPARE(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
             QStringList({"a.wav", "kit.zks"}));
}

// A bank written at the target while build converts is kept: the build says
// the bank exists and fails, instead of replacing it and saying it wrote.
void TestZksTool::buildKeepsBankMadeMeanwhile()
{
#ifndef Q_OS_LINUX
    QSKIP("The converters are watched through /proc");
#else
    QTemporaryDir tmp;
    const QString temp = tmp.filePath("temp");
    QVERIFY(QDir().mkpath(temp));
    const QString slow = tmp.filePath("slow.wav");
    QVERIFY(WriteSilentWave(slow, 2, 768000, 768000 * 17));
    const QString quick = tmp.filePath("k1.wav");
    QVERIFY(WriteBytes(quick, Wav16(1, 44100, Sine(4410, 0.5))));
    const QString bank = tmp.filePath("same.zks");

    QProcess tool;
    StartTool(tool, {"build", "--external-converters", "-o", bank, slow}, temp);
    QVERIFY(tool.waitForStarted());
    const qint64 pid = tool.processId();
    QVERIFY2(SeenWhileRunning(tool, [&]() { return !ChildrenOf(pid).isEmpty(); }),
             "no conversion was seen running");
    // Held still while the other build runs, so its conversion is never
    // done first however busy the machine is.
    const QList<qint64> converters = ChildrenOf(pid);
    QCOMPARE(::kill(pid_t(pid), SIGSTOP), 0);
    for (qint64 child : converters)
        ::kill(pid_t(child), SIGSTOP);
    const ToolRun other = RunTool({"build", "-o", bank, quick});
    const QByteArray written = ReadAll(bank);
    for (qint64 child : converters)
        ::kill(pid_t(child), SIGCONT);
    QCOMPARE(::kill(pid_t(pid), SIGCONT), 0);
    QVERIFY2(other.exitCode == 0, qPrintable(Show(other)));
    const bool finished = tool.waitForFinished(120000);
    if (!finished) {
        tool.kill();
        tool.waitForFinished();
    }
    QVERIFY(finished);
    const QString err = QString::fromUtf8(tool.readAllStandardError());
    QCOMPARE(tool.exitCode(), 1);
    QVERIFY2(err.contains("zkstool: " + bank + ": already exists; --force replaces it"),
             qPrintable(err));
    QVERIFY(!QString::fromUtf8(tool.readAllStandardOutput()).contains("wrote"));
    QCOMPARE(ReadAll(bank), written);
    QCOMPARE(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
             QStringList({"k1.wav", "same.zks", "slow.wav"}));
#endif
}

// Output into a pipe nobody reads: the bank is written whole, nothing is
// left in the working folder, and the exit status says SIGPIPE ended it.
void TestZksTool::buildIntoClosedPipe()
{
#ifndef Q_OS_UNIX
    QSKIP("No SIGPIPE here");
#else
    const DefaultDisposition standard(SIGPIPE);
    QTemporaryDir tmp;
    const QString temp = tmp.filePath("temp");
    QVERIFY(QDir().mkpath(temp));
    QVERIFY(WriteBytes(tmp.filePath("a.wav"), Wav16(2, 48000, Sine(48000, 0.5))));
    const QString bank = tmp.filePath("kit.zks");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TMPDIR", temp);
    // A FIFO opened for reading and writing, then closed for reading: its
    // writing end has no reader before the tool starts.
    const ToolRun run = RunCommand(
        "/bin/sh",
        {"-c",
         "mkfifo \"$3\" && exec 4<>\"$3\" 5>\"$3\" 4<&- && exec \"$0\" build -o \"$1\" \"$2\" >&5 5>&-",
         QCoreApplication::applicationDirPath() + "/zkstool", bank, tmp.filePath("a.wav"),
         tmp.filePath("out.fifo")},
        environment);
    QCOMPARE(run.exitCode, 128 + SIGPIPE);
    QCOMPARE(FolderTree(temp), QStringList());
    QCOMPARE(ReadBank(bank).layerCount, 1);
    QVERIFY(ReadBank(bank).problems.isEmpty());
#endif
}

// A layer taken from a bank is refused under the name the user knows, not
// its temporary file's.
void TestZksTool::buildNamesBankLayers()
{
    QTemporaryDir tmp;
    QVERIFY(WriteBytes(tmp.filePath("h1.wav"), Wav16(1, 44100, Sine(3 * 44100, 0.5))));
    QVERIFY(WriteBytes(tmp.filePath("big.wav"), Wav16(1, 44100, Sine(34 * 44100, 0.5))));
    const QString kit = tmp.filePath("kit2.zks");
    QCOMPARE(RunTool({"build", "-o", kit, tmp.filePath("h1.wav")}).exitCode, 0);
    const ToolRun run = RunTool({"build", "-o", tmp.filePath("out.zks"), tmp.filePath("big.wav"), kit});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.startsWith("zkstool: " + kit + ", layer 1 (h1.wav): Not enough space! ("),
             qPrintable(Show(run)));
    QVERIFY(!QFileInfo::exists(tmp.filePath("out.zks")));
}

// Bytes of a bank that would come back changed are refused, not rewritten.
// A byte-order mark leading a sound's name would be dropped when the bank is
// read: the bank stores the name without it, so info finds nothing wrong and
// build takes the bank as input.
void TestZksTool::buildDropsByteOrderMarks_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("one mark") << QStringLiteral("\uFEFFkick.wav");
    QTest::newRow("two marks") << QStringLiteral("\uFEFF\uFEFFkick.wav");
}

void TestZksTool::buildDropsByteOrderMarks()
{
    QFETCH(QString, file);
    QTemporaryDir tmp;
    QVERIFY(WriteBytes(tmp.filePath(file), Wav16(1, 44100, Sine(4410, 0.5))));
    QVERIFY(WriteBytes(tmp.filePath("snare.wav"), Wav16(1, 44100, Sine(4410, 0.3))));
    const QString kit = tmp.filePath("kit.zks");
    const ToolRun run = RunTool({"build", "-o", kit, tmp.filePath(file), tmp.filePath("snare.wav")});
    QVERIFY2(run.exitCode == 0, qPrintable(Show(run)));
    QVERIFY(!ReadAll(kit).contains("\xEF\xBB\xBF"));
    const ToolRun info = RunTool({"info", kit, "--json"});
    QVERIFY2(info.exitCode == 0, qPrintable(Show(info)));
    const QJsonObject bank = QJsonDocument::fromJson(info.out.toUtf8()).object();
    QCOMPARE(bank.value("problems").toArray(), QJsonArray());
    QCOMPARE(bank.value("layers").toArray().at(0).toObject().value("name").toString(),
             QStringLiteral("kick.wav"));
    const ToolRun again = RunTool({"build", "-o", tmp.filePath("again.zks"), kit});
    QVERIFY2(again.exitCode == 0, qPrintable(Show(again)));
}

void TestZksTool::everyOptionDescribed_data()
{
    QTest::addColumn<QString>("command");
    for (const char *command : {"build", "build-all", "import-kit", "info", "extract"})
        QTest::newRow(command) << QString::fromLatin1(command);
}

// Every option a command's parser takes is in its usage lines and its part
// of --help, and in its synopsis and its part of the manual page's OPTIONS,
// and those name no option it refuses. The options tried are all those the
// help, the manual page and the README name, for any command.
void TestZksTool::everyOptionDescribed()
{
    QFETCH(QString, command);
    const ToolRun help = RunTool({"--help"});
    QCOMPARE(help.exitCode, 0);
    QStringList usage;
    OptionGroups helpLines;
    HelpOptions(help.out, command, &usage, &helpLines);
    const QString page = QString::fromUtf8(ReadAll(ZK_SOURCE_DIR "/dist/zkstool.1"));
    QVERIFY(!page.isEmpty());
    QStringList synopsis;
    OptionGroups manualTags;
    ManualOptions(page, command, &synopsis, &manualTags);

    QStringList tried = OptionNames(help.out + page + QString::fromUtf8(ReadAll(ZK_SOURCE_DIR "/README.md")));
    tried.removeAll("-h");
    tried.removeAll("--help");
    // A hundred and more runs that only parse a command line and stop: in a
    // sanitized build, the leak check at each exit would take most of their
    // time and cover nothing the tool's other runs do not.
    const LeakChecksOffAtExit quickExits;
    QStringList accepted;
    for (const QString &option : std::as_const(tried)) {
        const ToolRun run = RunTool({command, option});
        QVERIFY2(run.exitCode == 2, qPrintable(option + ": " + Show(run)));
        if (!run.err.contains("Unknown option"))
            accepted << option;
    }
    QVERIFY(!accepted.isEmpty());
    QCOMPARE(Flattened(helpLines), accepted);
    QCOMPARE(Flattened(manualTags), accepted);
    for (const QStringList &group : std::as_const(helpLines)) {
        const QString names = group.join(", ");
        QVERIFY2(std::any_of(group.begin(), group.end(), [&](const QString &name) { return usage.contains(name); }),
                 qPrintable(names + " missing from the usage lines"));
        QVERIFY2(std::any_of(group.begin(), group.end(), [&](const QString &name) { return synopsis.contains(name); }),
                 qPrintable(names + " missing from the synopsis"));
    }
    for (const QString &shown : usage + synopsis)
        QVERIFY2(accepted.contains(shown), qPrintable(shown + " is shown but refused"));

    for (const char *asked : {"--help", "-h"}) {
        const ToolRun run = RunTool({command, asked});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, help.out);
    }
}

void TestZksTool::buildRefusesBytesARebuildChanges_data()
{
    QTest::addColumn<QByteArray>("bank");
    QTest::addColumn<QString>("reason");
    QTest::newRow("name not UTF-8")
        << MakeBank("kit.zks", {Layer("Kick\xE9", 1000, 1, 2), Layer("b.wav", 1000, 2)})
        << "the name of layer 1 is not UTF-8 and would change if the bank were made again";
    QTest::newRow("byte-order mark")
        << MakeBank("kit.zks", {Layer("\xEF\xBB\xBFKick", 1000, 1, 2), Layer("b.wav", 1000, 2)})
        << "the name of layer 1 starts with a byte-order mark and would change if the bank "
           "were made again";
    QByteArray high = MakeBank("kit.zks", {Layer("a.wav", 1000, 1, 63), Layer("b.wav", 1000, 2)});
    high[kBankThresholdsOffset] = char(0xBF);
    QTest::newRow("threshold with its top bit set")
        << high << "threshold 1 is stored as 0xbf, with its top bit set, and would change if "
                   "the bank were made again";
}

void TestZksTool::buildRefusesBytesARebuildChanges()
{
    QFETCH(QByteArray, bank);
    QFETCH(QString, reason);
    QTemporaryDir tmp;
    const QString input = tmp.filePath("kit.zks");
    QVERIFY(WriteBytes(input, bank));
    const ToolRun info = RunTool({"info", input});
    QCOMPARE(info.exitCode, 1);
    QVERIFY2(info.out.contains(reason), qPrintable(Show(info)));
    const ToolRun run = RunTool({"build", "-o", tmp.filePath("out.zks"), input});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err, "zkstool: " + input + ": File Error (" + reason + ")\n");
    QVERIFY(!QFileInfo::exists(tmp.filePath("out.zks")));
}

// What build writes to: a live link is written through, as cp does; a
// dangling one is refused even with --force; a bank of no layers is never
// written.
void TestZksTool::buildTargets_data()
{
    QTest::addColumn<QString>("target");     // "link", "dangling link", "empty bank input"
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("refusal");    // the error line's text after the target's path
    QTest::newRow("live link") << "link" << 0 << "";
    QTest::newRow("dangling link")
        << "dangling link" << 1 << ": is a link to nothing; remove it to write the bank here";
    QTest::newRow("bank of no layers as input")
        << "empty bank input" << 1 << "";
}

void TestZksTool::buildTargets()
{
    QFETCH(QString, target);
    QFETCH(int, exitCode);
    QFETCH(QString, refusal);
    QTemporaryDir tmp;
    const QString sound = tmp.filePath("a.wav");
    QVERIFY(WriteBytes(sound, Wav16(1, 44100, Sine(4410, 0.5))));
    const QString pointed = tmp.filePath("real.zks");
    const QString bank = tmp.filePath("kit.zks");
    QStringList arguments{"build", "--force", "-o", bank, sound};
    if (target == "link") {
        QVERIFY(WriteBytes(pointed, "old"));
        QVERIFY(QFile::link(pointed, bank));
    } else if (target == "dangling link") {
        QVERIFY(QFile::link(pointed, bank));
    } else {
        const QString empty = tmp.filePath("z0.zks");
        QVERIFY(WriteBytes(empty, MakeBank("z0.zks", {})));
        arguments.last() = empty;
        const ToolRun info = RunTool({"info", empty});
        QCOMPARE(info.exitCode, 1);
        QVERIFY2(info.out.contains("the bank holds no layers"), qPrintable(Show(info)));
    }
    const ToolRun run = RunTool(arguments);
    QCOMPARE(run.exitCode, exitCode);
    if (!refusal.isEmpty())
        QCOMPARE(run.err, "zkstool: " + bank + refusal + "\n");
    if (target == "link") {
        QVERIFY(QFileInfo(bank).isSymLink());
        QCOMPARE(ReadBank(pointed).layerCount, 1);
    } else if (target == "dangling link") {
        QVERIFY(!QFileInfo::exists(pointed));
        QVERIFY(QFileInfo(bank).isSymLink());
    } else {
        QVERIFY(!QFileInfo::exists(bank));
    }
}

ZK_TEST(TestZksTool)
#include "tst_zkstool.moc"
