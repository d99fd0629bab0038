#include <QtTest>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sndfile.h>

#include <cmath>

#ifdef Q_OS_UNIX
#include <signal.h>
#endif

#include "fileprocessor.h"
#include "manifest.h"
#include "resultcodes.h"
#include "testmain.h"
#include "testsupport.h"
#include "zkslayout.h"

namespace {

constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
constexpr int kWav24 = SF_FORMAT_WAV | SF_FORMAT_PCM_24;

// A tone, different for each seed, in any format libsndfile writes.
bool WriteTone(const QString &path, int format, int channels, int rate, int frames, int seed = 1)
{
    QVector<qint16> samples(frames * channels);
    for (int i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c)
            samples[i * channels + c] =
                qint16(12000 * std::sin(6.2831853 * (90 + 37 * seed + 11 * c) * i / rate));
    }
    return WriteSound(path, format, channels, rate, samples);
}

QStringList LayerNames(const QJsonObject &bank)
{
    QStringList names;
    for (const QJsonValue &layer : bank.value("layers").toArray())
        names << layer.toObject().value("name").toString();
    return names;
}

QVector<int> Thresholds(const QJsonObject &bank, int count)
{
    QVector<int> values;
    const QJsonArray stored = bank.value("thresholds").toArray();
    for (int k = 0; k < count; ++k)
        values << stored[k].toInt();
    return values;
}

// A bank with its random tag (bytes 32..35, seeded from the clock) zeroed.
QByteArray Untagged(const QString &path)
{
    QByteArray bytes = ReadAll(path);
    if (bytes.size() >= kBankTagOffset + 4)
        bytes.replace(kBankTagOffset, 4, QByteArray(4, '\0'));
    return bytes;
}

// The report's lines with the time the run took cut off its summary.
QStringList ReportLines(const QString &out)
{
    QStringList lines = out.split('\n', Qt::SkipEmptyParts);
    if (!lines.isEmpty())
        lines.last().remove(QRegularExpression("; [0-9.]+ s$"));
    return lines;
}

// The lines of a report that begin a bank's part: "bank ..." or "skipped ...".
QStringList BankLines(const QString &out)
{
    QStringList heads;
    for (const QString &line : out.split('\n', Qt::SkipEmptyParts)) {
        if (line.startsWith("bank ") || line.startsWith("skipped "))
            heads << line;
    }
    return heads;
}

QString RowText(const ManifestRow &row)
{
    return QStringLiteral("%1|%2|%3|%4|%5")
        .arg(row.line)
        .arg(row.bank, row.layerFile, row.threshold, row.error);
}

QString BankText(const ManifestBank &bank)
{
    return QStringLiteral("%1|%2|%3|%4|%5")
        .arg(bank.name)
        .arg(bank.line)
        .arg(bank.layerFiles.join(';'), bank.thresholds.join(';'), bank.problem);
}

// A kit of short tones whose layers all differ; at 48 kHz and 24 bits they
// must be resampled and rounded.
bool WriteKit(const QString &folder, const QStringList &names, int format, int rate, int seed)
{
    for (const QString &name : names) {
        if (!WriteTone(folder + '/' + name, format, 2, rate, rate / 5, seed++))
            return false;
    }
    return true;
}

} // namespace

class TestBuildAll : public QObject
{
    Q_OBJECT

private slots:
    void readManifest_data();
    void readManifest();
    void manifestBanks_data();
    void manifestBanks();
    void checkWithoutConverting_data();
    void checkWithoutConverting();

    void commandLine_data();
    void commandLine();
    void library();
    void manifest();
    void sameBanksOnAnyJobs();
    void dryRun();
    void progressOnTerminal();
    void interrupted_data();
    void interrupted();
    void namesDifferingInCase();
    void namesACardTakes();
    void escapesReachNoTerminal();
    void jobsCapped();
    void outOfDescriptors();
};

// --- the manifest reader ------------------------------------------------------

void TestBuildAll::readManifest_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("rows"); // line|bank|layer file|threshold|error

    QTest::newRow("plain rows") << QByteArray("kit,a.wav\nkit,b.wav,5\n")
                                << QStringList{"1|kit|a.wav||", "2|kit|b.wav|5|"};
    QTest::newRow("no line end at the end") << QByteArray("kit,a.wav") << QStringList{"1|kit|a.wav||"};
    QTest::newRow("nothing") << QByteArray() << QStringList{};
    QTest::newRow("header row") << QByteArray("bank,layer_file,threshold\nkit,a.wav,1\n")
                                << QStringList{"2|kit|a.wav|1|"};
    QTest::newRow("header of two columns, in any case")
        << QByteArray("Bank,LAYER_FILE\nkit,a.wav\n") << QStringList{"2|kit|a.wav||"};
    QTest::newRow("a header only as the first row")
        << QByteArray("kit,a.wav\nbank,layer_file\n")
        << QStringList{"1|kit|a.wav||", "2|bank|layer_file||"};
    QTest::newRow("byte-order mark before the header")
        << QByteArray("\xEF\xBB\xBF" "bank,layer_file\nkit,a.wav\n") << QStringList{"2|kit|a.wav||"};
    QTest::newRow("CRLF") << QByteArray("kit,a.wav\r\nkit,b.wav\r\n")
                          << QStringList{"1|kit|a.wav||", "2|kit|b.wav||"};
    QTest::newRow("CR alone") << QByteArray("kit,a.wav\rkit,b.wav")
                              << QStringList{"1|kit|a.wav||", "2|kit|b.wav||"};
    QTest::newRow("empty lines and rows of empty fields")
        << QByteArray("\n\nkit,a.wav\n   \n,,\r\n\nkit,b.wav\n")
        << QStringList{"3|kit|a.wav||", "7|kit|b.wav||"};
    QTest::newRow("spaces around fields") << QByteArray("  kit one ,\ta.wav ,  7 \n")
                                          << QStringList{"1|kit one|a.wav|7|"};
    QTest::newRow("quoted: commas and doubled quotes")
        << QByteArray("\"Kit, one\",\"say \"\"hi\"\".wav\"\n")
        << QStringList{"1|Kit, one|say \"hi\".wav||"};
    QTest::newRow("quoted: spaces kept inside, dropped outside")
        << QByteArray(" \" a \" , b.wav\n") << QStringList{"1| a |b.wav||"};
    QTest::newRow("quoted: a line break inside counts as a line")
        << QByteArray("\"two\nlines\",a.wav\nkit,b.wav\n")
        << QStringList{"1|two\nlines|a.wav||", "3|kit|b.wav||"};
    QTest::newRow("quoted: CRLF inside kept as it is")
        << QByteArray("\"a\r\nb\",x.wav\r\n") << QStringList{"1|a\r\nb|x.wav||"};
    QTest::newRow("quoted empty field") << QByteArray("kit,a.wav,\"\"\n") << QStringList{"1|kit|a.wav||"};
    QTest::newRow("a quote inside an unquoted field is a character")
        << QByteArray("kit,a\"b.wav\n") << QStringList{"1|kit|a\"b.wav||"};
    QTest::newRow("empty columns of a wider sheet") << QByteArray("kit,a.wav,,,\n")
                                                    << QStringList{"1|kit|a.wav||"};
    QTest::newRow("UTF-8") << QByteArray("\xC3\x89lan,cr\xC3\xA8me.wav\n")
                           << QStringList{QString::fromUtf8("1|Élan|crème.wav||")};
    QTest::newRow("a byte-order mark starting a field is a character")
        << QByteArray("kit,\xEF\xBB\xBF\xEF\xBB\xBF" "a.wav\n")
        << QStringList{QStringLiteral("1|kit|\uFEFF\uFEFFa.wav||")};
    QTest::newRow("a NUL is a character") << QByteArray("kit,a\0b.wav\n", 12)
                                          << QStringList{QStringLiteral("1|kit|a") + QChar(0)
                                                         + QStringLiteral("b.wav||")};
    QTest::newRow("a fourth field")
        << QByteArray("kit,a.wav,1,extra\n")
        << QStringList{"1|kit|a.wav|1|4 fields; a row is bank,layer_file[,threshold]"};
    QTest::newRow("one field") << QByteArray("kit\n")
                               << QStringList{"1|kit|||1 field; a row is bank,layer_file[,threshold]"};
    QTest::newRow("no bank name") << QByteArray(",a.wav\n") << QStringList{"1||a.wav||no bank name"};
    QTest::newRow("no layer file") << QByteArray("kit,\n") << QStringList{"1|kit|||no layer file"};
    QTest::newRow("a quote left open in a later field keeps the bank")
        << QByteArray("kit,a.wav\nkit,\"b.wav\nkit,c.wav\n")
        << QStringList{"1|kit|a.wav||", "2|kit|||a quoted field is not closed"};
    QTest::newRow("a quote left open in the bank's field")
        << QByteArray("\"kit,a.wav\n") << QStringList{"1||||a quoted field is not closed"};
    QTest::newRow("text after a closing quote ends that row only")
        << QByteArray("\"kit\"x,a.wav\nkit,b.wav\n")
        << QStringList{"1||||text after a closing quote", "2|kit|b.wav||"};
}

void TestBuildAll::readManifest()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, rows);
    QStringList read;
    for (const ManifestRow &row : ReadManifest(bytes))
        read << RowText(row);
    QCOMPARE(read, rows);
}

void TestBuildAll::manifestBanks_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("banks"); // name|line|files|thresholds|problem
    QTest::addColumn<QStringList>("errors");

    QTest::newRow("banks in the order of their first rows")
        << QByteArray("b,1.wav\na,2.wav\nb,3.wav\n")
        << QStringList{"b|1|1.wav;3.wav||", "a|2|2.wav||"} << QStringList{};
    QTest::newRow("a threshold on every row") << QByteArray("k,a,10\nk,b,1\n")
                                              << QStringList{"k|1|a;b|10;1|"} << QStringList{};
    QTest::newRow("thresholds on some rows only")
        << QByteArray("k,a,10\nk,b\nk,c,1\n")
        << QStringList{"k|1|a;b;c|10;;1|line 2: no threshold, while other rows of this bank "
                       "give one"}
        << QStringList{};
    QByteArray nine;
    for (int k = 1; k <= 9; ++k)
        nine += "drums,hit" + QByteArray::number(k) + ".wav\n";
    QTest::newRow("nine rows")
        << nine
        << QStringList{"drums|1|hit1.wav;hit2.wav;hit3.wav;hit4.wav;hit5.wav;hit6.wav;hit7.wav;"
                       "hit8.wav;hit9.wav||line 1: too many files: a bank holds at most 8 "
                       "layers, 9 given"}
        << QStringList{};
    QTest::newRow("a row that can't be read skips its bank")
        << QByteArray("k,a\nk,b,1,x\nother,c\n")
        << QStringList{"k|1|a||line 2: 4 fields; a row is bank,layer_file[,threshold]",
                       "other|3|c||"}
        << QStringList{};
    QTest::newRow("a row that names no bank")
        << QByteArray(",a\nk,b\n") << QStringList{"k|2|b||"}
        << QStringList{"line 1: no bank name"};
}

void TestBuildAll::manifestBanks()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, banks);
    QFETCH(QStringList, errors);
    QStringList found;
    QStringList told;
    for (const ManifestBank &bank : ManifestBanks(ReadManifest(bytes), &told))
        found << BankText(bank);
    QCOMPARE(found, banks);
    QCOMPARE(told, errors);
}

// --- the size of a sound that needs no converting ------------------------------

void TestBuildAll::checkWithoutConverting_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("frames");
    QTest::addColumn<bool>("known");

    const int flac16 = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    const int aiff16 = SF_FORMAT_AIFF | SF_FORMAT_PCM_16;
    QTest::newRow("mono WAVE") << "mono.wav" << kWav16 << 1 << 44100 << 5000 << true;
    QTest::newRow("stereo WAVE") << "stereo.wav" << kWav16 << 2 << 44100 << 5000 << true;
    QTest::newRow("six channels, two kept") << "six.wav" << kWav16 << 6 << 44100 << 3000 << true;
    QTest::newRow("16-bit FLAC") << "kick.flac" << flac16 << 2 << 44100 << 4000 << true;
    QTest::newRow("16-bit AIFF") << "kick.aiff" << aiff16 << 1 << 44100 << 4000 << true;
    QTest::newRow("too short") << "short.wav" << kWav16 << 1 << 44100 << 255 << true;
    QTest::newRow("one sample too long") << "long.wav" << kWav16 << 1 << 44100 << 1570816 << true;
    QTest::newRow("the longest stereo") << "long2.wav" << kWav16 << 2 << 44100 << 1570815 << true;
    QTest::newRow("name of 61 characters")
        << QString(57, 'n') + ".wav" << kWav16 << 1 << 44100 << 5000 << true;
    QTest::newRow("24 bits: converted") << "deep.wav" << kWav24 << 1 << 44100 << 5000 << false;
    QTest::newRow("48 kHz: converted") << "fast.wav" << kWav16 << 1 << 48000 << 5000 << false;
    QTest::newRow("not a sound") << "notes.wav" << 0 << 0 << 0 << 0 << false;
}

// The header's verdict is the one converting and checking gives.
void TestBuildAll::checkWithoutConverting()
{
    QFETCH(QString, name);
    QFETCH(int, format);
    QFETCH(int, channels);
    QFETCH(int, rate);
    QFETCH(int, frames);
    QFETCH(bool, known);
    QTemporaryDir tmp;
    const QString path = tmp.filePath(name);
    if (format == 0)
        QVERIFY(WriteBytes(path, "not a sound at all\n"));
    else
        QVERIFY(WriteTone(path, format, channels, rate, frames));

    int verdict = 0;
    QCOMPARE(CheckWithoutConverting(path, &verdict), known);
    if (!known)
        return;
    ConvertOptions options;
    options.inProcess = true;
    options.workFolder = tmp.filePath("work");
    QVERIFY(QDir().mkpath(options.workFolder));
    QCOMPARE(verdict, OpenAndCheckFile(ConvertFile(path, options)));
}

// --- the command ---------------------------------------------------------------

void TestBuildAll::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments"); // "@" stands for a fresh folder
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    QTest::newRow("nothing") << QStringList{} << 2 << "a source folder and a folder for the banks";
    QTest::newRow("no output folder") << QStringList{"@/lib"} << 2
                                      << "a source folder and a folder for the banks";
    QTest::newRow("a manifest and a source")
        << QStringList{"--manifest", "@/m.csv", "@/lib", "@/out"} << 2
        << "--manifest FILE.csv needs the folder for the banks, and nothing else";
    QTest::newRow("no jobs") << QStringList{"--jobs", "0", "@/lib", "@/out"} << 2
                             << "--jobs takes a whole number of 1 or more, not \"0\"";
    QTest::newRow("jobs not a number") << QStringList{"--jobs", "all", "@/lib", "@/out"} << 2
                                       << "not \"all\"";
    QTest::newRow("unknown gate") << QStringList{"--gate", "-70dB", "@/lib", "@/out"} << 2
                                  << "unknown gate \"-70dB\"";
    QTest::newRow("thresholds that rise") << QStringList{"--thresholds", "5,9,1", "@/lib", "@/out"}
                                          << 2 << "threshold 2 is 9, but must be 2..4";
    QTest::newRow("nine thresholds")
        << QStringList{"--thresholds", "9,8,7,6,5,4,3,2,1", "@/lib", "@/out"} << 2
        << "9 thresholds given; a bank holds at most 8 layers";
    QTest::newRow("unknown option") << QStringList{"--order", "@/lib", "@/out"} << 2
                                    << "Unknown option 'order'";
    QTest::newRow("no such source") << QStringList{"@/none", "@/out"} << 1
                                    << "none: is not a folder";
    QTest::newRow("a source without sounds") << QStringList{"@/lib", "@/out"} << 1
                                             << "lib: no folder here holds sound files";
    QTest::newRow("no such manifest") << QStringList{"--manifest", "@/none.csv", "@/out"} << 1
                                      << "none.csv: cannot read this file";
    QTest::newRow("a manifest of no banks") << QStringList{"--manifest", "@/m.csv", "@/out"} << 1
                                            << "m.csv: lists no banks";
}

// Mistakes caught before any bank is planned; nothing is written.
void TestBuildAll::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QTemporaryDir tmp;
    QVERIFY(WriteBytes(tmp.filePath("lib/notes.txt"), "no sounds here\n"));
    QVERIFY(WriteBytes(tmp.filePath("m.csv"), "bank,layer_file\n\n"));
    const QStringList before = FolderTree(tmp.path());
    arguments.replaceInStrings(QRegularExpression("^@"), tmp.path());

    const ToolRun run = RunTool(QStringList{"build-all"} + arguments, tmp.path());
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(message), qPrintable(Show(run)));
    QCOMPARE(FolderTree(tmp.path()), before);
}

// A small library: nested folders, names with spaces and non-ASCII letters,
// and every kind of kit that is skipped.
void TestBuildAll::library()
{
    QTemporaryDir tmp;
    const QString lib = tmp.filePath("Library");
    const QString out = tmp.filePath("out");
    const QString temp = tmp.filePath("temp");
    QVERIFY(QDir().mkpath(temp));
    QVERIFY(WriteTone(lib + "/intro.wav", kWav16, 1, 44100, 3000));
    QVERIFY(WriteKit(lib + "/Kicks/Acoustic Kit", {"hit10.wav", "Hit2.WAV", "hit1.wav"}, kWav24,
                     48000, 1));
    QVERIFY(WriteTone(lib + "/Kicks/Électro/kick.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1,
                      44100, 4000));
    QVERIFY(WriteTone(lib + "/Kicks - Acoustic Kit/other.wav", kWav16, 1, 44100, 3000));
    for (int k = 1; k <= 9; ++k)
        QVERIFY(WriteTone(lib + QStringLiteral("/Snares/s%1.wav").arg(k), kWav16, 1, 44100, 1000));
    // 20 s of mono each: two do not fit in one bank.
    QVERIFY(WriteSilentWave(lib + "/Toms/big1.wav", 1, 44100, 20 * 44100));
    QVERIFY(WriteSilentWave(lib + "/Toms/big2.wav", 1, 44100, 20 * 44100));
    QVERIFY(WriteTone(lib + "/Broken/a.wav", kWav16, 1, 44100, 3000));
    QVERIFY(WriteBytes(lib + "/Broken/notes.wav", "not a sound at all\n"));
    QVERIFY(WriteBytes(lib + "/Empty/readme.txt", "no sounds\n"));
    QVERIFY(WriteTone(lib + "/.hidden/h.wav", kWav16, 1, 44100, 3000));
    QVERIFY(WriteTone(lib + "/Kicks/.h.wav", kWav16, 1, 44100, 3000));

    const QStringList args{"build-all", lib, out, "--thresholds", "100,50,1"};
    const ToolRun run = RunTool(args, temp);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(BankLines(run.out),
             QStringList({
                 "bank Library.zks from " + lib + ", thresholds 1 (the default spread)",
                 "skipped Broken.zks: " + lib
                     + "/Broken/notes.wav: File Error (Format not recognised. Accepted: WAVE, AIFF, FLAC, Ogg, Opus and MP3.)",
                 "bank Kicks - Acoustic Kit.zks from " + lib
                     + "/Kicks/Acoustic Kit, thresholds 100,50,1 (as given)",
                 "bank Kicks - Électro.zks from " + lib
                     + "/Kicks/Électro, thresholds 1 (the default spread)",
                 "skipped Kicks - Acoustic Kit.zks: " + lib + "/Kicks - Acoustic Kit: the bank of "
                     + lib + "/Kicks/Acoustic Kit has the same name",
                 "skipped Snares.zks: " + lib
                     + "/Snares: too many files: a bank holds at most 8 layers, 9 given",
                 "skipped Toms.zks: " + lib + "/Toms/big2.wav: Not enough space! (the sound needs 1764.4 KB (20.0 s); 1381.4 KB (15.7 s) are left)",
             }));
    // 0.2 s at 48 kHz is 8820 samples at 44100 Hz: 17640 bytes, a layer of
    // 17920; the three and a header of 512 make 54272.
    QVERIFY2(run.out.contains("\n  layer 3  hit10.wav  17920 bytes  99% space left\n  wrote " + out
                              + "/Kicks - Acoustic Kit.zks: 3 layers, 54272 bytes\n"),
             qPrintable(Show(run)));
    const QRegularExpression summary(
        "\nbuild-all: 3 banks written, 4 skipped; 5 layers, \\d+ bytes; [0-9.]+ s\n$");
    QVERIFY2(summary.match(run.out).hasMatch(), qPrintable(Show(run)));
    QCOMPARE(FolderTree(out), QStringList({"Kicks - Acoustic Kit.zks", "Kicks - Électro.zks",
                                           "Library.zks"}));
    QCOMPARE(FolderTree(temp), QStringList());

    const QJsonObject kicks = InfoJson(out + "/Kicks - Acoustic Kit.zks");
    QCOMPARE(kicks.value("ok").toBool(), true);
    QCOMPARE(kicks.value("bankName").toString(), QStringLiteral("Kicks - Acoustic Kit.zks"));
    QCOMPARE(LayerNames(kicks), QStringList({"hit1.wav", "Hit2.WAV", "hit10.wav"}));
    QCOMPARE(Thresholds(kicks, 3), QVector<int>({100, 50, 1}));
    QCOMPARE(LayerNames(InfoJson(out + "/Kicks - Électro.zks")), QStringList{"kick.flac"});

    // Banks already there are kept unless --force is given.
    const QByteArray kept = ReadAll(out + "/Library.zks");
    const ToolRun again = RunTool(args, temp);
    QCOMPARE(again.exitCode, 1);
    QVERIFY2(again.out.contains("skipped Library.zks: " + out
                                + "/Library.zks: already exists; --force replaces it\n"),
             qPrintable(Show(again)));
    QCOMPARE(ReadAll(out + "/Library.zks"), kept);
    const ToolRun forced = RunTool(args + QStringList{"--force"}, temp);
    QVERIFY2(forced.out.contains("build-all: 3 banks written, 4 skipped"), qPrintable(Show(forced)));
}

// A manifest as a spreadsheet writes it: byte-order mark, CRLF, a header,
// quotes, commas in names, empty lines; one bank of each kind that is skipped.
void TestBuildAll::manifest()
{
    QTemporaryDir tmp;
    const QString temp = tmp.filePath("temp");
    QVERIFY(QDir().mkpath(temp));
    QVERIFY(WriteKit(tmp.filePath("sounds"), {"a.wav", "b \"q\".wav", "c, d.wav"}, kWav24, 48000, 4));
    QByteArray csv = "\xEF\xBB\xBF" "bank,layer_file,threshold\r\n"
                     "\"Kit, one\",sounds/a.wav,100\r\n"
                     "\"Kit, one\",\"sounds/b \"\"q\"\".wav\", 40 \r\n"
                     "  \"Kit, one\" , \"sounds/c, d.wav\" ,1\r\n"
                     "\r\n"
                     "Missing,sounds/a.wav\r\n"
                     "Missing,sounds/none.wav\r\n"
                     "Falling,sounds/a.wav,50\r\n"
                     "Falling,\"sounds/c, d.wav\",60\r\n";
    for (int k = 1; k <= 9; ++k)
        csv += "Nine,sounds/a.wav\r\n";
    csv += "\"Two\nlines\",sounds/a.wav\r\n"
           "Absolute," + QFile::encodeName(tmp.filePath("list/sounds/a.wav")) + "\r\n"
           ",sounds/a.wav\r\n";
    const QString manifest = tmp.filePath("list/m.csv");
    QVERIFY(WriteBytes(manifest, csv));
    QVERIFY(QFile::rename(tmp.filePath("sounds"), tmp.filePath("list/sounds")));
    const QString out = tmp.filePath("out");

    const ToolRun run = RunTool({"build-all", "--manifest", manifest, out}, temp);
    QCOMPARE(run.exitCode, 1);
    const QString list = tmp.filePath("list");
    QCOMPARE(BankLines(run.out),
             QStringList({
                 "skipped " + manifest + " line 22: no bank name",
                 "bank Kit, one.zks from " + manifest
                     + " line 2, thresholds 100,40,1 (from the manifest)",
                 "skipped Missing.zks: " + list + "/sounds/none.wav: File Error (no such file)",
                 "skipped Falling.zks: " + manifest
                     + " line 8: threshold 2 is 60, but must be 1 (thresholds fall strictly "
                       "from layer to layer and the last one is 1)",
                 "skipped Nine.zks: " + manifest
                     + " line 10: too many files: a bank holds at most 8 layers, 9 given",
                 "bank Two_lines.zks from " + manifest
                     + " line 19, thresholds 1 (the default spread)",
                 "bank Absolute.zks from " + manifest
                     + " line 21, thresholds 1 (the default spread)",
             }));
    QVERIFY2(run.out.contains("\nbuild-all: 3 banks written, 4 skipped; 5 layers, "),
             qPrintable(Show(run)));
    QCOMPARE(FolderTree(out), QStringList({"Absolute.zks", "Kit, one.zks", "Two_lines.zks"}));
    const QJsonObject kit = InfoJson(out + "/Kit, one.zks");
    QCOMPARE(LayerNames(kit), QStringList({"a.wav", "b \"q\".wav", "c, d.wav"}));
    QCOMPARE(Thresholds(kit, 3), QVector<int>({100, 40, 1}));
    QCOMPARE(FolderTree(temp), QStringList());
}

// However the work is shared out, the banks and the report are the same.
void TestBuildAll::sameBanksOnAnyJobs()
{
    QTemporaryDir tmp;
    const QString lib = tmp.filePath("lib");
    for (int kit = 1; kit <= 6; ++kit) {
        QStringList names;
        for (int k = 1; k <= kit; ++k)
            names << QStringLiteral("layer %1.wav").arg(k);
        QVERIFY(WriteKit(lib + QStringLiteral("/kit %1").arg(kit), names,
                         kit % 2 ? kWav24 : kWav16, kit % 2 ? 48000 : 44100, kit));
    }
    for (int k = 1; k <= 9; ++k)
        QVERIFY(WriteTone(lib + QStringLiteral("/many/s%1.wav").arg(k), kWav16, 1, 44100, 1000));

    const QString temp = tmp.filePath("temp");
    QVERIFY(QDir().mkpath(temp));

    QStringList reports;
    for (const QString &jobs : {QStringLiteral("1"), QStringLiteral("4")}) {
        const QString out = tmp.filePath("out" + jobs);
        const ToolRun run = RunTool({"build-all", lib, out, "--jobs", jobs}, temp);
        QCOMPARE(run.exitCode, 1);
        // Nothing for a terminal when the output goes elsewhere.
        QVERIFY(!run.out.contains('\r') && !run.out.contains('\x1b'));
        reports << ReportLines(QString(run.out).replace(out, "OUT")).join('\n');
    }
    QCOMPARE(reports[1], reports[0]);
    QCOMPARE(BankLines(reports[0]).size(), 7);
    const QStringList banks = FolderTree(tmp.filePath("out1"));
    QCOMPARE(banks.size(), 6);
    QCOMPARE(FolderTree(tmp.filePath("out4")), banks);
    for (const QString &bank : banks)
        QCOMPARE(Untagged(tmp.filePath("out4/" + bank)), Untagged(tmp.filePath("out1/" + bank)));
}

// A dry run writes nothing, sizes what needs no converting from its header,
// and plans what a real run then writes.
void TestBuildAll::dryRun()
{
    QTemporaryDir tmp;
    const QString lib = tmp.filePath("lib");
    QVERIFY(WriteTone(lib + "/plain/mono.wav", kWav16, 1, 44100, 5000));
    QVERIFY(WriteTone(lib + "/plain/stereo.wav", kWav16, 2, 44100, 7000));
    QVERIFY(WriteKit(lib + "/converted", {"a.wav", "b.wav"}, kWav24, 48000, 1));
    QVERIFY(WriteTone(lib + "/converted/c.wav", kWav16, 1, 44100, 3000));
    const QString out = tmp.filePath("out");
    const QString temp = tmp.filePath("temp");
    QVERIFY(QDir().mkpath(temp));

    // With no temporary folder to be had, only what needs converting fails.
    const QString noFolder = tmp.filePath("not a folder");
    QVERIFY(WriteBytes(noFolder, "a file"));
    const ToolRun header = RunTool({"build-all", "--dry-run", lib, out}, noFolder);
    QCOMPARE(header.exitCode, 1);
    QCOMPARE(BankLines(header.out),
             QStringList({"skipped converted.zks: " + lib
                              + "/converted/a.wav: File Error (no temporary folder could be made)",
                          "bank plain.zks from " + lib
                              + "/plain, thresholds 64,1 (the default spread)"}));
    QVERIFY(!QFileInfo::exists(out));

    const ToolRun planned = RunTool({"build-all", "--dry-run", lib, out}, temp);
    QVERIFY2(planned.exitCode == 0, qPrintable(Show(planned)));
    QVERIFY2(planned.out.contains("\nbuild-all: 2 banks planned (nothing written), 0 skipped; "
                                  "5 layers, "),
             qPrintable(Show(planned)));
    QVERIFY(!QFileInfo::exists(out));
    QCOMPARE(FolderTree(temp), QStringList());

    const ToolRun built = RunTool({"build-all", lib, out}, temp);
    QVERIFY2(built.exitCode == 0, qPrintable(Show(built)));
    QStringList plan = ReportLines(planned.out);
    plan.last().replace("planned (nothing written)", "written");
    QCOMPARE(plan.replaceInStrings(QRegularExpression("^  would write "), "  wrote "),
             ReportLines(built.out));
    QCOMPARE(FolderTree(out), QStringList({"converted.zks", "plain.zks"}));
}

// On a terminal a progress line is redrawn in place and cleared before the
// report's lines.
void TestBuildAll::progressOnTerminal()
{
    const QString script = QStandardPaths::findExecutable("script");
    if (script.isEmpty())
        QSKIP("script(1) gives the tool a terminal");
    QTemporaryDir tmp;
    QVERIFY(WriteKit(tmp.filePath("lib/one"), {"a.wav", "b.wav"}, kWav16, 44100, 1));
    QVERIFY(WriteKit(tmp.filePath("lib/two"), {"a.wav"}, kWav16, 44100, 3));
    const QString command = QStringLiteral("'%1/zkstool' build-all '%2' '%3'")
                                .arg(QCoreApplication::applicationDirPath(), tmp.filePath("lib"),
                                     tmp.filePath("out"));
    QProcess process;
    process.start(script, {"-qefc", command, "/dev/null"});
    QVERIFY(process.waitForFinished(120000));
    const QString shown = QString::fromUtf8(process.readAllStandardOutput());
    QVERIFY2(process.exitCode() == 0, qPrintable(shown));
    QVERIFY2(shown.contains(QRegularExpression("\r[0-2]/2 banks done")), qPrintable(shown));
    QVERIFY2(shown.contains("\x1b[K\r\x1b[Kbank one.zks from "), qPrintable(shown));
    const QRegularExpression summary("\r\nbuild-all: 2 banks written, 0 skipped; 3 layers, \\d+ "
                                     "bytes; [0-9.]+ s\r\n$");
    QVERIFY2(summary.match(shown).hasMatch(), qPrintable(shown));
}

// Interrupted while banks are converting, build-all stops every conversion,
// removes every working folder, keeps the banks already written and leaves
// none half-written.
void TestBuildAll::interrupted_data()
{
#ifdef Q_OS_UNIX
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGINT (Ctrl-C)") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGHUP") << int(SIGHUP);
    QTest::newRow("SIGPIPE (output closed)") << int(SIGPIPE);
#endif
}

void TestBuildAll::interrupted()
{
#ifndef Q_OS_LINUX
    QSKIP("The tool is watched through /proc");
#else
    QFETCH(int, signalNumber);
    const DefaultDisposition standard(signalNumber);
    QTemporaryDir tmp;
    const QString lib = tmp.filePath("lib");
    const QString out = tmp.filePath("out");
    const QString temp = tmp.filePath("temp");
    QVERIFY(QDir().mkpath(temp));
    QVERIFY(WriteTone(lib + "/A quick/a.wav", kWav16, 1, 44100, 3000));
    // 17 seconds of stereo at 768 kHz each: enough work that both are seen
    // converting at once.
    QVERIFY(WriteSilentWave(lib + "/B slow/b.wav", 2, 768000, 768000 * 17));
    QVERIFY(WriteSilentWave(lib + "/C slow/c.wav", 2, 768000, 768000 * 17));

    QProcess tool;
    StartTool(tool, {"build-all", "--jobs", "2", lib, out}, temp);
    QVERIFY(tool.waitForStarted());
    const qint64 pid = tool.processId();

    // Each bank converts in a folder of its own.
    const auto bothConverting = [&]() {
        QSet<QString> folders;
        for (const QString &entry : FolderTree(temp).filter("tempWav"))
            folders.insert(entry.section('/', 0, 0));
        return QFileInfo::exists(out + "/A quick.zks") && folders.size() == 2;
    };
    QVERIFY2(SeenWhileRunning(tool, bothConverting),
             "the two slow banks were not seen converting at once");

    QCOMPARE(::kill(pid_t(pid), SIGSTOP), 0);
    QVERIFY(WaitUntilStopped(pid));
    QCOMPARE(::kill(pid_t(pid), signalNumber), 0);
    QCOMPARE(::kill(pid_t(pid), SIGCONT), 0);
    const bool finished = tool.waitForFinished(120000);
    if (!finished) {
        tool.kill();
        tool.waitForFinished();
    }
    QVERIFY(finished);
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), 128 + signalNumber);
    const QString err = QString::fromUtf8(tool.readAllStandardError());
    QVERIFY2(err.contains("zkstool: interrupted; banks written: 1 of 3 (they stay)"),
             qPrintable(err));
    QVERIFY(QString::fromUtf8(tool.readAllStandardOutput()).contains("wrote " + out + "/A quick.zks"));
    QCOMPARE(FolderTree(temp), QStringList());
    QCOMPARE(FolderTree(out), QStringList{"A quick.zks"});
    QCOMPARE(InfoJson(out + "/A quick.zks").value("ok").toBool(), true);
#endif
}

// The device's card, Windows and macOS take Kicks.zks and kicks.zks for one
// file: the second is skipped, not written over the first.
void TestBuildAll::namesDifferingInCase()
{
    QTemporaryDir tmp;
    const QString lib = tmp.filePath("lib");
    const QString out = tmp.filePath("out");
    QVERIFY(WriteTone(lib + "/Kicks/a.wav", kWav16, 1, 44100, 3000));
    QVERIFY(WriteTone(lib + "/kicks/b.wav", kWav16, 1, 44100, 3000, 2));
    const ToolRun run = RunTool({"build-all", lib, out});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(BankLines(run.out),
             QStringList({"bank Kicks.zks from " + lib + "/Kicks, thresholds 1 (the default spread)",
                          "skipped kicks.zks: " + lib + "/kicks: the bank of " + lib
                              + "/Kicks has the same name"}));
    QCOMPARE(FolderTree(out), QStringList{"Kicks.zks"});
}

// A bank's name is one the device's FAT card and Windows take as it is; two
// folders whose names come out alike make one bank, the second skipped.
void TestBuildAll::namesACardTakes()
{
    QTemporaryDir tmp;
    const QString lib = tmp.filePath("lib");
    const QString out = tmp.filePath("out");
    int seed = 1;
    for (const char *folder : {"CON", "Hats: open", "Ride.", "ride", "nul - x"})
        QVERIFY(WriteTone(lib + '/' + folder + "/a.wav", kWav16, 1, 44100, 3000, seed++));
    const ToolRun run = RunTool({"build-all", lib, out});
    QCOMPARE(run.exitCode, 1);
    const QString spread = ", thresholds 1 (the default spread)";
    QCOMPARE(BankLines(run.out),
             QStringList({"bank CON_.zks from " + lib + "/CON" + spread,
                          "bank Hats_ open.zks from " + lib + "/Hats: open" + spread,
                          "bank nul - x.zks from " + lib + "/nul - x" + spread,
                          "bank ride.zks from " + lib + "/ride" + spread,
                          "skipped Ride.zks: " + lib + "/Ride.: the bank of " + lib
                              + "/ride has the same name"}));
    QCOMPARE(FolderTree(out), QStringList({"CON_.zks", "Hats_ open.zks", "nul - x.zks", "ride.zks"}));

    // A folder's name of 252 bytes would make a bank's name of 256: it is
    // shortened in the middle to 255.
    const QString longName = QString(126, QChar(0xE9));
    const QString shortName = QString(62, QChar(0xE9)) + QChar(0x2026) + QString(62, QChar(0xE9));
    QVERIFY(WriteTone(tmp.filePath("long/") + longName + "/a.wav", kWav16, 1, 44100, 3000));
    const ToolRun planned = RunTool({"build-all", "--dry-run", tmp.filePath("long"), out});
    QCOMPARE(planned.exitCode, 0);
    QCOMPARE(BankLines(planned.out),
             QStringList("bank " + shortName + ".zks from " + tmp.filePath("long/") + longName
                         + spread));
    QVERIFY2(planned.out.contains("would write " + out + '/' + shortName + ".zks: 1 layers"),
             qPrintable(Show(planned)));

    const QString manifest = tmp.filePath("m.csv");
    QVERIFY(WriteBytes(manifest, "\"Kick \"\"22\"\"\",lib/ride/a.wav\naux.ZKS,lib/ride/a.wav\n"));
    const ToolRun listed = RunTool({"build-all", "--manifest", manifest, out});
    QCOMPARE(listed.exitCode, 0);
    QCOMPARE(BankLines(listed.out),
             QStringList({"bank Kick _22_.zks from " + manifest + " line 1" + spread,
                          "bank aux_.ZKS from " + manifest + " line 2" + spread}));
}

// Folder names and manifest paths are printed with their control characters
// escaped, in skip lines and refusals alike.
void TestBuildAll::escapesReachNoTerminal()
{
    QTemporaryDir tmp;
    const QString lib = tmp.filePath("lib");
    const QString out = tmp.filePath("out");
    const QString evil = lib + "/evil\x1b[31mRED";
    for (int k = 1; k <= 9; ++k)
        QVERIFY(WriteTone(evil + QStringLiteral("/s%1.wav").arg(k), kWav16, 1, 44100, 1000));
    ToolRun run = RunTool({"build-all", lib, out});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(!(run.out + run.err).contains('\x1b'), qPrintable(Show(run)));
    QVERIFY2(run.out.contains("skipped evil_[31mRED.zks: " + lib
                              + "/evil\\u001b[31mRED: too many files"),
             qPrintable(Show(run)));

    const QString folder = tmp.filePath("list\x1b]0;PWNED\x07");
    const QString manifest = folder + "/m.csv";
    QVERIFY(WriteBytes(manifest, "Kit,none.wav\n,none.wav\n"));
    run = RunTool({"build-all", "--manifest", manifest, out});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(!(run.out + run.err).contains('\x1b') && !(run.out + run.err).contains('\x07'),
             qPrintable(Show(run)));
    const QString shown = tmp.filePath("list\\u001b]0;PWNED\\u0007");
    QCOMPARE(BankLines(run.out),
             QStringList({"skipped " + shown + "/m.csv line 2: no bank name",
                          "skipped Kit.zks: " + shown + "/none.wav: File Error (no such file)"}));
}

// Thousands of threads would only run the process out of descriptors.
void TestBuildAll::jobsCapped()
{
    QTemporaryDir tmp;
    const QString lib = tmp.filePath("lib");
    const QString out = tmp.filePath("out");
    QVERIFY(WriteTone(lib + "/A/a.wav", kWav16, 1, 44100, 3000));
    const ToolRun run = RunTool({"build-all", "--jobs", "1000", lib, out});
    QCOMPARE(run.exitCode, 0);
    const int cap = 4 * qMax(1, QThread::idealThreadCount());
    QVERIFY2(run.err.contains(QStringLiteral("zkstool: --jobs 1000 is more than this machine "
                                             "can use; making %1 banks at once")
                                  .arg(cap)),
             qPrintable(Show(run)));
    QCOMPARE(FolderTree(out), QStringList{"A.zks"});
}

// Run out of file descriptors, build-all says so and stops: no bank is
// skipped for a reason that is not its own, no working folder stays, and the
// banks written are whole.
void TestBuildAll::outOfDescriptors()
{
#ifndef Q_OS_UNIX
    QSKIP("The limit is set with the shell's ulimit");
#elif defined(ZK_SANITIZED)
    // The sanitizers' runtime opens files of its own (its checks of a type
    // read the loaded modules), and fails first under so low a limit.
    QSKIP("Runs in the build without the sanitizers");
#else
    QTemporaryDir tmp;
    const QString lib = tmp.filePath("lib");
    const QString out = tmp.filePath("out");
    const QString temp = tmp.filePath("temp");
    QVERIFY(QDir().mkpath(temp));
    for (int k = 1; k <= 12; ++k)
        QVERIFY(WriteTone(lib + QStringLiteral("/k%1/a.wav").arg(k), kWav24, 2, 48000, 14400, k));
    const QString problem = StopForWantOfDescriptorsProblem({"build-all", "--jobs", "8", lib, out}, temp, out);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
#endif
}

ZK_TEST(TestBuildAll)
#include "tst_buildall.moc"
