#include "intake.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QtEndian>
#include <QTemporaryDir>

#include <memory>

#include "explain.h"
#include "logging.h"
#include "resultcodes.h"
#include "soundconvert.h"
#include "soundinfo.h"
#include "tailtrim.h"
#include "zkslayout.h"

namespace {

std::unique_ptr<QTemporaryDir> workDir;

} // namespace

QString WorkFolder()
{
    if (!workDir || !workDir->isValid())
        workDir = std::make_unique<QTemporaryDir>(QDir::tempPath()
                                                  + QStringLiteral("/QuadrelX8FileGen-XXXXXX"));
    if (!workDir->isValid())
        return QString();
    return workDir->path();
}

void RemoveWorkFolder()
{
    workDir.reset();
}

qint32 LayerSizeFor(quint32 dataSize, bool stereo)
{
    // The bank keeps one channel; every layer ends with at least one
    // 512-byte block that is partly or wholly padding.
    const quint32 audio = stereo ? dataSize / 2 : dataSize;
    return qint32((audio & ~quint32(kBankBlock - 1)) + kBankBlock);
}

namespace {

bool NameIsTooLong(const QString &path)
{
    return QFileInfo(path).fileName().size() > kMaxNameLength;
}

// The sound check's verdict on a WAVE file's first bytes.
int CheckHeader(const QByteArray &header)
{
    if (!HasDataTag(header)) {
        qCDebug(lcZk) << "format of file is apple-similar. Escaped";
        return RESULT_INCOMPATIBLE;
    }
    const quint32 size = static_cast<quint32>(WavDataSize(header));
    const bool stereo = IsStereo(header);
    // The upper limit counts the one channel the bank keeps.
    const quint32 kept = stereo ? size / 2 : size;
    if (size < kSmallestCheckedDataSize || kept > kLargestCheckedDataSize) {
        qCDebug(lcZk) << "File is too big";
        return RESULT_TOO_BIG;
    }
    if (!IsBankFormat(header)) {
        qCDebug(lcZk) << "Incompatible format of file";
        return RESULT_FILE_ERROR;
    }
    qCDebug(lcZk) << "Measured waveform's length is " << size << "bytes";

    const int layerSize = LayerSizeFor(size, stereo);
    qCDebug(lcZk) << "Trimmed waveform's length is " << layerSize << "bytes";
    return layerSize;
}

} // namespace

int OpenAndCheckFile(QString path)
{
    return OpenAndCheckFile(path, nullptr);
}

int OpenAndCheckFile(const QString &path, QString *why)
{
    if (path.isEmpty()) {
        qCDebug(lcZk) << "No file choosen";
        return RESULT_NO_FILE;
    }
    if (NameIsTooLong(path))
        return RESULT_NAME_TOO_LONG;

    qCDebug(lcZk) << path << "File opening";
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        qCDebug(lcZk) << "Unable to open " << path;
        if (why)
            *why = file.errorString();
        return RESULT_OPEN_FAILED;
    }
    const QByteArray header = ReadWavHeader(file);
    file.close();
    return CheckHeader(header);
}

bool CheckWithoutConverting(const QString &path, int *verdict)
{
    SoundInfo info;
    if (!ReadSoundInfo(path, &info) || !info.pcm16 || info.rate != kBankRate
        || info.lengthEstimated)
        return false;
    // The converted file would hold the same samples, of at most two
    // channels, behind the canonical header. A size past what the check
    // takes stands for any larger one, which the header's field could not
    // hold.
    const qint64 dataSize = qMin(PredictedDataSize(info),
                                 ConvertedChannels(info) * (kLargestCheckedDataSize + 1));
    *verdict = NameIsTooLong(path)
        ? int(RESULT_NAME_TOO_LONG)
        : CheckHeader(CanonicalWavHeader(quint16(ConvertedChannels(info)), kBankRate, 16,
                                         quint32(dataSize)));
    return true;
}

namespace {

// A converter is looked for beside the program first (the build folder, or
// an unpacked copy), then where an installed program keeps its helpers
// (bin/../libexec/quadrelx8filegen), then on PATH.
QString FindConverter(const QString &name)
{
    QString program = name;
#ifdef Q_OS_WIN
    program += QStringLiteral(".exe");
#endif
    if (QCoreApplication::instance()) {
        const QString folder = QCoreApplication::applicationDirPath();
        for (const QString &candidate :
             {folder + QLatin1Char('/') + program,
              folder + QStringLiteral("/../libexec/quadrelx8filegen/") + program}) {
            const QFileInfo info(candidate);
            if (info.isFile() && info.isExecutable())
                return QDir::cleanPath(candidate);
        }
    }
    return QStandardPaths::findExecutable(program);
}

// How often a running converter is checked for cancellation and progress.
constexpr int kConverterWaitSliceMs = 50;

// One conversion step's view of the options: its share of the progress
// scale and the words its failure is reported in.
struct Step {
    const ConvertOptions &options;
    int from = 0; // per cent of the whole conversion where this step starts
    int to = 100; // ... and ends
    QString reason;

    bool cancelled() const { return options.cancelled && *options.cancelled; }
    void report(int percent) const
    {
        if (options.progress)
            options.progress(from + (to - from) * qBound(0, percent, 100) / 100);
    }
};

// A converter's message reads "PROGRAM: INPUT: reason" or "PROGRAM: reason";
// the user is told the reason about the file they chose, by name elsewhere.
QString ReasonFrom(QString message, const QString &program, const QString &input)
{
    message = message.trimmed();
    for (const QString &prefix : {program + QStringLiteral(": "), input + QStringLiteral(": ")}) {
        if (message.startsWith(prefix))
            message.remove(0, prefix.size());
    }
    return message;
}

// Runs a converter program with --progress to its end, or kills it once the
// conversion is cancelled. It is judged by the file it leaves; what it said
// last, other than progress, is kept as the reason.
void RunConverterProgram(const QString &name, QStringList arguments, bool trace, Step &step)
{
    if (step.cancelled())
        return;
    const QString program = FindConverter(name);
    if (trace)
        qCDebug(lcZk) << (QStringList(program.isEmpty() ? name : program) + arguments)
                             .join(QLatin1Char(' '));
    if (program.isEmpty()) {
        qCDebug(lcZk) << "Converter not found:" << name;
        step.reason = QStringLiteral("the converter %1 was not found").arg(name);
        return;
    }
    const QString input = arguments.value(0);
    arguments.prepend(QStringLiteral("--progress"));
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    process.start(program, arguments);
    if (!process.waitForStarted(-1)) {
        qCDebug(lcZk) << "Converter did not run:" << name << process.errorString();
        step.reason = QStringLiteral("the converter %1 did not start").arg(name);
        return;
    }
    QByteArray pending;
    QStringList said;
    const auto readMessages = [&]() {
        pending += process.readAllStandardError();
        int end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromLocal8Bit(pending.left(end)).trimmed();
            pending.remove(0, end + 1);
            bool number = false;
            const int percent = line.endsWith(QLatin1Char('%')) ? line.chopped(1).toInt(&number) : 0;
            if (number)
                step.report(percent);
            else if (!line.isEmpty())
                said << line;
        }
    };
    while (!process.waitForFinished(kConverterWaitSliceMs)) {
        readMessages();
        if (process.state() == QProcess::NotRunning)
            break;
        if (step.cancelled()) {
            process.kill();
            process.waitForFinished(-1);
            qCDebug(lcZk) << "Converter stopped:" << name;
            return;
        }
    }
    pending += '\n';
    readMessages();
    if (!said.isEmpty())
        qCDebug(lcZk) << name << said.join(QLatin1Char('\n'));
    if (process.exitStatus() == QProcess::CrashExit)
        step.reason = QStringLiteral("the converter %1 stopped unexpectedly").arg(name);
    else if (process.exitCode() != 0 && !said.isEmpty())
        step.reason = ReasonFrom(said.constLast(), name, input);
}

// The same step as a function of this process; the converter programs wrap
// the same functions, so the files come out the same to the byte.
std::string NativePath(const QString &path)
{
#ifdef Q_OS_WIN
    return path.toUtf8().toStdString();
#else
    return QFile::encodeName(path).toStdString();
#endif
}

ConvertControl ControlFor(const Step &step)
{
    ConvertControl control;
    control.cancel = step.options.cancelled;
    control.inputFrameLimit = step.options.inputFrameLimit;
    if (step.options.progress)
        control.progress = [&step](int percent) { step.report(percent); };
    return control;
}

// Both steps in one pass, straight from the chosen file to the result: no
// file between them, which on a slow disk costs more than the work.
void ConvertInProcess(const QString &input, const QString &output, Step &step)
{
    qCDebug(lcZk) << "sndfile-convert-to-microsoft-pcm16 and sr-convert (in-process)" << input
                  << output << kBankRate;
    std::string error, warning;
    if (!step.cancelled()
        && !ConvertToRate(NativePath(input), NativePath(output), kBankRate, ControlFor(step),
                          &error, &warning))
        step.reason = ReasonFrom(QString::fromStdString(error), QString(), input);
    if (!warning.empty())
        qCDebug(lcZk) << "sr-convert" << QString::fromStdString(warning);
}

// The two converter programs one after the other (started with an argument
// list, so any name is safe). Returns the file that holds the result, when
// there is one. A source known to be at 44100 Hz gets the whole progress
// scale for the first step; otherwise resampling, the heavier step, gets
// most of it.
QString ConvertWithPrograms(const QString &chosen, const QString &converted,
                            const QString &resampled, const ConvertOptions &options,
                            QString *reason)
{
    SoundInfo info;
    const bool atBankRate = ReadSoundInfo(chosen, &info) && info.rate == kBankRate;
    Step first{options, 0, atBankRate ? 100 : 30, QString()};
    RunConverterProgram(QStringLiteral("sndfile-convert-to-microsoft-pcm16"), {chosen, converted},
                        true, first);
    QFile::remove(resampled);
    *reason = first.reason;

    // A cancelled first step leaves nothing to read, so no second one runs.
    QByteArray header;
    if (!first.cancelled()) {
        QFile second(converted);
        if (second.open(QIODevice::ReadOnly))
            header = ReadWavHeader(second);
    }
    // A converter output too short to carry a rate gives no result.
    if (header.size() < 28)
        return QString();
    const quint32 rate = WavSampleRate(header);
    if (rate == quint32(kBankRate))
        return converted;
    Step second{options, first.to, 100, QString()};
    RunConverterProgram(QStringLiteral("sr-convert"),
                        {converted, QString::number(rate), resampled, QString::number(kBankRate)},
                        false, second);
    *reason = second.reason;
    return resampled;
}

} // namespace

// The folder's creation is the claim on its number, so conversions on
// several threads never share one.
QString NewResultFolder(const QString &work)
{
    static std::atomic<int> next(1);
    QDir dir(work);
    while (dir.exists()) {
        const QString name = QString::number(next++);
        if (dir.mkdir(name))
            return dir.filePath(name);
    }
    return QString();
}

namespace {

// Removes an intermediate together with the partial files a converter
// program leaves beside it when it is stopped part way.
void RemoveIntermediate(const QString &path)
{
    const QFileInfo info(path);
    QDir folder = info.dir();
    const QStringList partials = folder.entryList({info.fileName() + QStringLiteral(".part*")},
                                                  QDir::Files | QDir::Hidden);
    for (const QString &partial : partials)
        folder.remove(partial);
    QFile::remove(path);
}

// Only regular files are read: opening a named pipe or a device would wait
// for ever, with the window unable to respond. Empty when `path` can be
// read, or else why not.
QString WhyUnreadable(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("no such file");
    if (!info.isFile())
        return QStringLiteral("not a regular file");
    QFile probe(path);
    return probe.open(QIODevice::ReadOnly) ? QString() : probe.errorString();
}

} // namespace

QString ConvertFile(QString chosen)
{
    return ConvertFile(std::move(chosen), ConvertOptions());
}

QString ConvertFile(QString chosen, const ConvertOptions &options, QString *reason)
{
    QString unused;
    reason = reason ? reason : &unused;
    reason->clear();
    if (chosen.isEmpty())
        return chosen;
    *reason = WhyUnreadable(chosen);
    if (!reason->isEmpty())
        return chosen;
    const QString fileName = QFileInfo(chosen).fileName();
    const QString work = options.workFolder.isEmpty() ? WorkFolder() : options.workFolder;
    if (work.isEmpty()) { // no temporary location: a path that names no file
        *reason = QStringLiteral("no temporary folder could be made");
        return QDir::tempPath() + QStringLiteral("/QuadrelX8FileGen-unavailable/") + fileName;
    }

    // The first step reads the chosen file itself; its output at the
    // source's rate and, when that is not 44100 Hz, the resampled one are the
    // intermediates. In this process both steps run as one, into the first.
    const QString converted = work + QStringLiteral("/tempWav2.wav");
    const QString resampled = work + QStringLiteral("/tempWav3.wav");
    QString finished = converted;
    QFile::remove(converted);
    if (options.inProcess) {
        Step only{options, 0, 100, QString()};
        ConvertInProcess(chosen, converted, only);
        *reason = only.reason;
    } else {
        finished = ConvertWithPrograms(chosen, converted, resampled, options, reason);
    }

    const bool cancelled = options.cancelled && *options.cancelled;
    const QString folder = NewResultFolder(work);
    const QString result = folder + QLatin1Char('/') + fileName;
    if (cancelled || finished.isEmpty() || folder.isEmpty() || !QFile::rename(finished, result))
        QDir(work).rmdir(QFileInfo(folder).fileName());
    // Only a converter program stopped part way leaves partial files beside
    // its output; looking for them costs a listing of the folder each time.
    if (options.inProcess) {
        QFile::remove(converted);
    } else {
        RemoveIntermediate(converted);
        RemoveIntermediate(resampled);
    }
    if (cancelled)
        *reason = QStringLiteral("cancelled");
    else if (reason->isEmpty() && !QFileInfo(result).isFile())
        *reason = QStringLiteral("the sound could not be converted");
    return result;
}

bool DecodeSound(const QString &chosen, const ConvertOptions &options, PcmSound *sound, QString *reason)
{
    *sound = PcmSound();
    *reason = chosen.isEmpty() ? MessageFor(RESULT_OPEN_FAILED).text : WhyUnreadable(chosen);
    if (!reason->isEmpty())
        return false;
    const QString work = options.workFolder.isEmpty() ? WorkFolder() : options.workFolder;
    Step only{options, 0, 100, QString()};
    std::vector<short> pcm;
    int channels = 0;
    std::string error, warning;
    const bool decoded = !only.cancelled()
        && ConvertToRateInMemory(NativePath(chosen), kBankRate, NativePath(work + QStringLiteral("/spool")),
                                 ControlFor(only), &pcm, &channels, &error, &warning);
    if (!warning.empty())
        qCDebug(lcZk) << "sr-convert" << QString::fromStdString(warning);
    if (only.cancelled()) {
        *reason = QStringLiteral("cancelled");
        return false;
    }
    if (!decoded) {
        *reason = ReasonFrom(QString::fromStdString(error), QString(), chosen);
        if (reason->isEmpty())
            *reason = QStringLiteral("the sound could not be converted");
        return false;
    }
    sound->channels = quint16(channels);
    sound->rate = kBankRate;
    sound->pcm.resize(int(pcm.size() * sizeof(short)));
    // Little-endian as a WAVE holds it, whatever this machine's order.
    qToLittleEndian<qint16>(pcm.data(), qsizetype(pcm.size()), sound->pcm.data());
    return true;
}

void DiscardConverted(const QString &path)
{
    // Only ever a result of ConvertFile, in a numbered folder of the working
    // folder: never a file of the user's.
    if (!workDir || !workDir->isValid())
        return;
    QDir folder = QFileInfo(path).dir();
    const QString number = folder.dirName();
    if (!folder.cdUp() || folder.absolutePath() != QDir(workDir->path()).absolutePath())
        return;
    QFile::remove(path);
    folder.rmdir(number);
}

namespace {

// The sound check's verdict `size` on `converted` as a verdict about
// `chosen`, with the converter's `reason` behind a refusal.
IntakeVerdict CheckedVerdict(const QString &chosen, const QString &converted, int size,
                             const QString &reason)
{
    IntakeVerdict verdict;
    verdict.chosen = chosen;
    if (size > 0)
        verdict.layer = {converted, LastPathPart(converted), size};
    else
        verdict.refusal = RefusalFor(size, chosen, SoundCheckDetail(size, converted, reason));
    return verdict;
}

} // namespace

Refusal RefusalFromHeader(const QString &chosen)
{
    SoundInfo sound;
    if (ReadSoundInfo(chosen, &sound) && IsFarTooLong(sound))
        return RefusalFor(RESULT_TOO_BIG, chosen, TooBigDetail(sound));
    return Refusal();
}

IntakeVerdict TakeInSound(const QString &chosen, const ConvertOptions &options,
                          const SoundConverter &convert)
{
    IntakeVerdict verdict;
    verdict.chosen = chosen;
    verdict.refusal = RefusalFromHeader(chosen);
    if (!verdict.refusal.IsEmpty())
        return verdict;
    QString reason;
    const QString converted = convert ? convert(chosen, options, &reason)
                                      : ConvertFile(chosen, options, &reason);
    if (options.cancelled && *options.cancelled) {
        DiscardConverted(converted);
        verdict.cancelled = true;
        return verdict;
    }
    verdict = CheckedVerdict(chosen, converted, OpenAndCheckFile(converted), reason);
    // The detail is read from the refused file before it goes.
    if (!verdict.IsLayer())
        DiscardConverted(converted);
    return verdict;
}

bool TakeInWithoutConverting(const QString &chosen, IntakeVerdict *verdict)
{
    int size = 0;
    if (!CheckWithoutConverting(chosen, &size))
        return false;
    *verdict = CheckedVerdict(chosen, chosen, size, QString());
    return true;
}
