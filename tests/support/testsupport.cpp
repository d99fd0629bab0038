#include "testsupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QThread>
#include <QtTest>

#include <sndfile.h>

#include <cmath>

#include "bankdocument.h"
#include "fileprocessor.h"
#include "layerrules.h"
#include "zkslayout.h"

QByteArray Pcm(const QVector<qint16> &samples)
{
    QByteArray bytes;
    for (qint16 s : samples)
        AppendLE(bytes, quint16(s), 2);
    return bytes;
}

QByteArray Pcm(const QVector<int> &samples)
{
    QByteArray bytes;
    for (int s : samples)
        AppendLE(bytes, quint16(s), 2);
    return bytes;
}

QByteArray Pcm(std::initializer_list<int> samples)
{
    return Pcm(QVector<int>(samples));
}

namespace {

void AppendName(QByteArray &bytes, const QString &name)
{
    QByteArray field = name.toLatin1().left(20);
    field.append(QByteArray(20 - field.size(), '\0'));
    bytes.append(field);
}

// A RIFF chunk: id, size, data, a pad byte when the size is odd.
QByteArray Chunk(const char *id, const QByteArray &data)
{
    QByteArray chunk(id, 4);
    AppendLE(chunk, quint32(data.size()), 4);
    chunk.append(data);
    if (data.size() % 2)
        chunk.append('\0');
    return chunk;
}

QByteArray List(const char *type, const QByteArray &chunks)
{
    return Chunk("LIST", QByteArray(type, 4) + chunks);
}

// The headers, bags, modulators and generators of presets or instruments.
void AppendParts(const QVector<Sf2TestPart> &parts, bool presets, int modulatorsPerZone,
                 QByteArray (&out)[4])
{
    int bag = 0, gen = 0, mod = 0;
    const auto header = [&](const Sf2TestPart &part) {
        AppendName(out[0], part.name);
        if (presets) {
            AppendLE(out[0], quint32(part.program), 2);
            AppendLE(out[0], quint32(part.bank), 2);
            AppendLE(out[0], quint32(bag), 2);
            out[0].append(QByteArray(12, '\0'));
        } else {
            AppendLE(out[0], quint32(bag), 2);
        }
    };
    for (const Sf2TestPart &part : parts) {
        header(part);
        for (const QVector<Sf2Gen> &zone : part.zones) {
            AppendLE(out[1], quint32(gen), 2);
            AppendLE(out[1], quint32(mod), 2);
            ++bag;
            for (const Sf2Gen &g : zone) {
                AppendLE(out[3], quint32(g.oper), 2);
                AppendLE(out[3], quint32(quint16(g.amount)), 2);
                ++gen;
            }
            out[2].append(QByteArray(10 * modulatorsPerZone, '\0'));
            mod += modulatorsPerZone;
        }
    }
    header(Sf2TestPart{QString::fromLatin1(presets ? "EOP" : "EOI"), {}, 0, 0});
    AppendLE(out[1], quint32(gen), 2);
    AppendLE(out[1], quint32(mod), 2);
    out[2].append(QByteArray(10, '\0'));
    out[3].append(QByteArray(4, '\0'));
}

} // namespace

int Sf2Range(int lo, int hi)
{
    return lo | hi << 8;
}

QByteArray Sf2File(const Sf2TestFont &font)
{
    QByteArray smpl, sm24, shdr;
    bool wide = false;
    for (const Sf2TestSample &sample : font.samples)
        wide = wide || !sample.low.isEmpty();
    for (const Sf2TestSample &sample : font.samples) {
        const qint64 start = smpl.size() / 2;
        const qint64 end = start + sample.pcm.size();
        smpl.append(Pcm(sample.pcm));
        smpl.append(QByteArray(2 * 46, '\0'));
        if (wide) {
            sm24.append(sample.low.isEmpty() ? QByteArray(sample.pcm.size(), '\0') : sample.low);
            sm24.append(QByteArray(46, '\0'));
        }
        AppendName(shdr, sample.name);
        AppendLE(shdr, quint32(sample.start >= 0 ? sample.start : start), 4);
        AppendLE(shdr, quint32(sample.end >= 0 ? sample.end : end), 4);
        AppendLE(shdr, quint32(start), 4);
        AppendLE(shdr, quint32(sample.loopEnd >= 0 ? sample.loopEnd : end), 4);
        AppendLE(shdr, quint32(sample.rate), 4);
        shdr.append(char(sample.pitch));
        shdr.append(char(sample.correction));
        AppendLE(shdr, quint32(sample.link), 2);
        AppendLE(shdr, quint32(sample.type), 2);
    }
    if (sm24.size() % 2)
        sm24.append('\0'); // half the smpl chunk's size, made even
    AppendName(shdr, QStringLiteral("EOS"));
    shdr.append(QByteArray(26, '\0'));

    QByteArray presets[4], instruments[4];
    AppendParts(font.presets, true, font.modulatorsPerZone, presets);
    AppendParts(font.instruments, false, font.modulatorsPerZone, instruments);

    QByteArray version;
    AppendLE(version, quint32(font.major), 2);
    AppendLE(version, quint32(font.minor), 2);
    const QByteArray info = Chunk("ifil", version) + Chunk("isng", QByteArray("EMU8000\0", 8))
        + Chunk("INAM", font.name.toLatin1() + QByteArray(2 - font.name.size() % 2, '\0'));
    const QByteArray sdta = Chunk("smpl", smpl) + (wide ? Chunk("sm24", sm24) : QByteArray());
    const QByteArray pdta = Chunk("phdr", presets[0]) + Chunk("pbag", presets[1])
        + Chunk("pmod", presets[2]) + Chunk("pgen", presets[3]) + Chunk("inst", instruments[0])
        + Chunk("ibag", instruments[1]) + Chunk("imod", instruments[2])
        + Chunk("igen", instruments[3]) + Chunk("shdr", shdr);
    return Chunk("RIFF", QByteArray("sfbk") + List("INFO", info) + List("sdta", sdta) + List("pdta", pdta));
}

QByteArray Wav16(quint16 channels, quint32 rate, const QVector<qint16> &samples)
{
    return CanonicalWavHeader(channels, rate, 16, quint32(samples.size() * 2)) + Pcm(samples);
}

QVector<qint16> Ramp(int count, int first)
{
    QVector<qint16> samples(count);
    for (int i = 0; i < count; ++i)
        samples[i] = qint16(first + i % 20000);
    return samples;
}

QVector<qint16> Sine1k(int frames, double dbfs)
{
    const double amplitude = std::round(32768 * std::pow(10, dbfs / 20));
    QVector<qint16> s(frames);
    for (int i = 0; i < frames; ++i)
        s[i] = qint16(std::lround(amplitude * std::sin(2 * M_PI * 1000 * i / kBankRate)));
    return s;
}

QVector<qint16> Square(int frames, qint16 amplitude)
{
    QVector<qint16> s(frames);
    for (int i = 0; i < frames; ++i)
        s[i] = i % 2 ? qint16(-amplitude) : amplitude;
    return s;
}

QVector<qint16> Interleaved(const QVector<qint16> &left, const QVector<qint16> &right)
{
    QVector<qint16> frames;
    for (int i = 0; i < left.size(); ++i)
        frames << left.at(i) << right.at(i);
    return frames;
}

bool WriteSound(const QString &path, int format, int channels, int rate,
                const QVector<qint16> &samples)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    SF_INFO info = {};
    info.format = format;
    info.channels = channels;
    info.samplerate = rate;
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file)
        return false;
    const sf_count_t frames = samples.size() / channels;
    const bool written = sf_writef_short(file, samples.constData(), frames) == frames;
    return sf_close(file) == 0 && written;
}

bool WriteBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool WriteSilentWave(const QString &path, quint16 channels, quint32 rate, qint64 frames)
{
    const qint64 dataSize = frames * channels * 2;
    if (!WriteBytes(path, CanonicalWavHeader(channels, rate, 16, quint32(dataSize))))
        return false;
    QFile file(path);
    return file.resize(file.size() + dataSize);
}

FreshWorkingFolder::FreshWorkingFolder() : previous(QDir::currentPath())
{
    QDir::setCurrent(folder.path());
}

FreshWorkingFolder::~FreshWorkingFolder()
{
    QDir::setCurrent(previous);
}

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList FolderTree(const QString &root)
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << QDir(root).relativeFilePath(it.next());
    entries.sort();
    return entries;
}

QMap<QString, QByteArray> Snapshot(const QString &root)
{
    QMap<QString, QByteArray> entries;
    for (const QString &entry : FolderTree(root)) {
        const QFileInfo info(QDir(root).filePath(entry));
        entries.insert(entry, info.isDir() ? QByteArray("<folder>")
                                           : info.isSymLink() ? info.symLinkTarget().toUtf8()
                                                              : ReadAll(info.filePath()));
    }
    return entries;
}

QByteArray WithoutTag(QByteArray bank)
{
    return bank.remove(kBankTagOffset, 4);
}

QVector<int> DefaultSpread(int count)
{
    ThresholdTable table = {};
    DefaultThresholds(table, count);
    return QVector<int>(table + 1, table + 1 + kMaxLayers);
}

void AddResultMessageRows()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("warning");
    QTest::newRow("-1") << -1 << "WARNING" << "No File Choosen" << false;
    QTest::newRow("-2") << -2 << "ERROR" << "File Error" << false;
    QTest::newRow("-3") << -3 << "ERROR" << "Incomatible file format" << false;
    QTest::newRow("-4") << -4 << "ERROR" << "File Error" << false;
    QTest::newRow("-5") << -5 << "ERROR" << "File too big!" << false;
    QTest::newRow("-6") << -6 << "ERROR" << "Filename is toooo long!" << false;
    QTest::newRow("-7") << -7 << "ERROR" << "Not enough space!" << false;
    QTest::newRow("-8") << -8 << "MESSAGE" << "Clear Complete!" << true;
    QTest::newRow("-9") << -9 << "ERROR" << "Upload has been broken!" << false;
    QTest::newRow("-10") << -10 << "MESSAGE" << "Upload Complete!" << true;
    QTest::newRow("0") << 0 << "ERROR" << "Unknown Error" << false;
    QTest::newRow("5") << 5 << "ERROR" << "Unknown Error" << false;
    QTest::newRow("-11") << -11 << "ERROR" << "Unknown Error" << false;
}

void UsePrivateSettings(const QString &folder)
{
    QSettings::setDefaultFormat(QSettings::NativeFormat);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
}

ToolRun RunCommand(const QString &program, const QStringList &arguments,
                   const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    ToolRun run;
    if (!process.waitForFinished(300000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    if (process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    return run;
}

namespace {

QString ToolPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/zkstool");
}

// This environment with TMPDIR and QT_LOGGING_RULES set where given.
QProcessEnvironment ToolEnvironment(const QString &tempFolder, const QString &loggingRules)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!tempFolder.isEmpty())
        env.insert(QStringLiteral("TMPDIR"), tempFolder);
    if (!loggingRules.isEmpty())
        env.insert(QStringLiteral("QT_LOGGING_RULES"), loggingRules);
    return env;
}

} // namespace

ToolRun RunTool(const QStringList &arguments, const QString &tempFolder, const QString &loggingRules)
{
    return RunCommand(ToolPath(), arguments, ToolEnvironment(tempFolder, loggingRules));
}

ToolRun RunToolWithDescriptors(int descriptors, const QStringList &arguments, const QString &tempFolder)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), tempFolder);
    return RunCommand(QStringLiteral("/bin/sh"),
                      QStringList{QStringLiteral("-c"),
                                  QStringLiteral("ulimit -n %1 && exec \"$0\" \"$@\"").arg(descriptors),
                                  QCoreApplication::applicationDirPath() + QStringLiteral("/zkstool")}
                          + arguments,
                      environment);
}

QString StopForWantOfDescriptorsProblem(const QStringList &arguments, const QString &tempFolder,
                                        const QString &outFolder)
{
    // Enough to start and plan, too few for eight jobs at once.
    const ToolRun run = RunToolWithDescriptors(7, arguments, tempFolder);
    QStringList problems;
    if (run.exitCode != 1)
        problems << QStringLiteral("exit status %1, not 1").arg(run.exitCode);
    if (!run.err.contains(QStringLiteral("zkstool: stopped: the system has no file descriptor left "
                                         "(too many open files); banks written: ")))
        problems << QStringLiteral("no line saying the descriptors ran out");
    if (run.out.contains(QStringLiteral("skipped")))
        problems << QStringLiteral("a bank was skipped");
    if (!FolderTree(tempFolder).isEmpty())
        problems << QStringLiteral("left in the temporary folder: %1")
                        .arg(FolderTree(tempFolder).join(QStringLiteral(", ")));
    for (const QString &bank : FolderTree(outFolder)) {
        if (!InfoJson(outFolder + QLatin1Char('/') + bank).value(QStringLiteral("ok")).toBool())
            problems << QStringLiteral("%1 is not whole").arg(bank);
    }
    return problems.isEmpty() ? QString() : problems.join(QLatin1Char('\n')) + QLatin1Char('\n') + Show(run);
}

void StartTool(QProcess &process, const QStringList &arguments, const QString &tempFolder)
{
    process.setProcessEnvironment(ToolEnvironment(tempFolder, QString()));
    process.start(ToolPath(), arguments);
}

bool SeenWhileRunning(QProcess &process, const std::function<bool()> &seen)
{
    QDeadlineTimer deadline(120000);
    while (!deadline.hasExpired() && !process.waitForFinished(2)) {
        if (seen())
            return true;
    }
    return false;
}

QString Show(const ToolRun &run)
{
    return QStringLiteral("exit %1\n--- stdout\n%2--- stderr\n%3")
        .arg(run.exitCode)
        .arg(run.out, run.err);
}

#ifdef Q_OS_LINUX
bool ProcessStatus(qint64 pid, qint64 *parent, char *state)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = file.readAll();
    // The command name in parentheses may hold spaces; the fields after it
    // do not.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 2 || fields[0].isEmpty())
        return false;
    *state = fields[0].at(0);
    *parent = fields[1].toLongLong();
    return true;
}

bool WaitUntilStopped(qint64 pid)
{
    QDeadlineTimer deadline(30000);
    for (;;) {
        qint64 parent = 0;
        char state = 0;
        if (!ProcessStatus(pid, &parent, &state) || state == 'T' || state == 'Z')
            return true;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(1);
    }
}

DefaultDisposition::DefaultDisposition(int number) : number_(number)
{
    struct sigaction standard = {};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    sigaction(number, &standard, &previous_);
}

DefaultDisposition::~DefaultDisposition()
{
    sigaction(number_, &previous_, nullptr);
}
#endif

Sf2TestFont TwoPresetFont(int hardAttenuation)
{
    enum { kInstrument = 41, kKeys = 43, kVels = 44, kAttenuation = 48, kSample = 53, kRoot = 58 };
    Sf2TestFont font;
    const auto sample = [](const QString &name, double dbfs) {
        Sf2TestSample made;
        made.name = name;
        made.pitch = 36;
        made.pcm = Sine1k(22050, dbfs);
        return made;
    };
    font.samples << sample(QStringLiteral("soft"), -20) << sample(QStringLiteral("hard"), -6)
                 << sample(QStringLiteral("tom"), -12);
    font.instruments << Sf2TestPart{QStringLiteral("Kit"),
                                    {{{kKeys, Sf2Range(36, 36)}, {kVels, Sf2Range(1, 63)}, {kSample, 0}},
                                     {{kKeys, Sf2Range(36, 36)},
                                      {kVels, Sf2Range(64, 127)},
                                      {kAttenuation, hardAttenuation},
                                      {kSample, 1}},
                                     {{kKeys, Sf2Range(38, 38)}, {kRoot, 45}, {kSample, 2}}},
                                    0,
                                    0};
    font.instruments << Sf2TestPart{QStringLiteral("Keys"), {{{kKeys, Sf2Range(84, 84)}, {kRoot, 84}, {kSample, 2}}}, 0, 0};
    font.presets << Sf2TestPart{QStringLiteral("Drums"), {{{kInstrument, 0}}}, 128, 0};
    font.presets << Sf2TestPart{QStringLiteral("Melody"), {{{kInstrument, 1}}}, 0, 0};
    return font;
}

QJsonObject InfoJson(const QString &bank)
{
    return QJsonDocument::fromJson(RunTool({"info", bank, "--json"}).out.toUtf8()).object();
}

QVector<int> StoredThresholds(const QString &bank)
{
    const QJsonObject info = InfoJson(bank);
    const QJsonArray stored = info.value("thresholds").toArray();
    QVector<int> read;
    for (int k = 0; k < info.value("layers").toArray().size(); ++k)
        read << stored[k].toInt();
    return read;
}

QStringList LayerFilesInUse(const BankDocument &bank)
{
    QStringList files;
    for (const QString &path : bank.HeldFiles()) {
        const QString file = QDir(WorkFolder()).relativeFilePath(path);
        files << QFileInfo(file).path() << file;
    }
    files.removeDuplicates();
    files.sort();
    return files;
}
