// zkstool: builds banks from sound files, shows what a bank holds, and
// unpacks its layers, without the window. It runs the window's own chain
// (conversion, sound check, space account, layer rules, generator).

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QTextStream>

#include <atomic>
#include <csignal>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#ifdef Q_OS_UNIX
#include <signal.h>
#include <sys/stat.h>
#endif

#include "bankreader.h"
#include "buildall.h"
#include "explain.h"
#include "tailtrim.h"
#include "fileprocessor.h"
#include "loudness.h"
#include "layerrules.h"
#include "resultcodes.h"
#include "soundinfo.h"
#include "zksbank.h"
#include "zkstool.h"

namespace {

bool verbose = false;

} // namespace

QTextStream &Out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &Err()
{
    static QTextStream stream(stderr);
    return stream;
}

namespace {

// The sound-file module narrates every step on the debug stream; a command
// line tool shows that only when asked. build-all converts on several
// threads at once.
void QuietDebug(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg && !verbose)
        return;
    static QMutex lock;
    const QMutexLocker locked(&lock);
    Err() << message << Qt::endl;
}

} // namespace

QString GateChoices()
{
    QStringList labels{QStringLiteral("off")};
    QString label;
    quint16 amplitude;
    for (int position = 1; GateForPosition(position, &label, &amplitude); ++position)
        labels << label;
    return labels.join(QLatin1Char('|'));
}

namespace {

QString UsageLines()
{
    return QStringLiteral(
               "Usage: zkstool build -o BANK.zks [--gate %1] [--thresholds T1,T2,...]\n"
               "                     [--force] [--external-converters] [--verbose] FILE...\n")
               .arg(GateChoices())
        + BuildAllUsage()
        + QStringLiteral("       zkstool info BANK.zks [--json]\n"
                         "       zkstool extract BANK.zks DIR [--force] [--trim]\n");
}

QString HelpText()
{
    return UsageLines()
        + QStringLiteral(
              "\n"
              "build    Makes a bank of 1 to 8 sound files, layer 1 first, the way the window\n"
              "         does: each file is converted, checked and charged against the device's\n"
              "         %1 bytes. Prints one line per layer: name, layer size, space left.\n"
              "         Before converting anything it refuses a name (of the bank or of a\n"
              "         file) holding a control character, and a sound far too long for any\n"
              "         layer. In a bank of 5 or more layers each layer stays below 2048 KB.\n"
              "         Ctrl-C, SIGTERM or SIGHUP stops it: the running converter is\n"
              "         ended, its temporary files are removed and no bank is written.\n"
              "         -o BANK.zks         the bank to write (kept unless --force is given)\n"
              "         --gate LEVEL        cut leading sound quieter than LEVEL (default off)\n"
              "         --thresholds LIST   one trigger threshold per file, falling strictly\n"
              "                             and ending at 1 (default: the window's spread)\n"
              "         --external-converters\n"
              "                             run the converter programs, as the window does,\n"
              "                             instead of converting in this process (the\n"
              "                             result is the same to the byte)\n"
              "         --verbose           show every step of the conversion\n")
              .arg(kBankBudget)
        + BuildAllHelp()
        + QStringLiteral(
              "info     Shows a bank's header, names and layer regions and checks that they\n"
              "         fit together. --json prints the same as one JSON object.\n"
              "extract  Writes each layer as a 16-bit mono 44100 Hz WAVE into DIR, named after\n"
              "         the layer. --force replaces existing files, but never the bank being\n"
              "         read (nor a link to it); --trim drops the zeros that pad each layer.\n"
              "\n"
              "Exit status: 0 done; 1 a file was refused, the bank is damaged, or writing\n"
              "failed; 2 the command line is wrong; 130, 143 or 129 build or build-all was\n"
              "interrupted by SIGINT (Ctrl-C), SIGTERM or SIGHUP (128 + the signal's number).\n");
}

} // namespace

int Refuse(const QString &subject, const QString &text)
{
    Err() << "zkstool: " << subject << ": " << text << Qt::endl;
    return kExitFailed;
}

int UsageError(const QString &text)
{
    Err() << "zkstool: " << text << "\nTry 'zkstool --help'." << Qt::endl;
    return kExitUsage;
}

// Names from a bank or a folder can hold anything; control characters are
// shown as escapes so they cannot steer the terminal.
QString Printable(const QString &text)
{
    QString shown;
    for (const QChar c : text) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Other_Format)
            shown += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

bool ParseCommand(QCommandLineParser &parser, const QString &command, const QStringList &rest,
                  QString *error)
{
    if (!parser.parse(QStringList(QStringLiteral("zkstool ") + command) + rest)) {
        *error = parser.errorText();
        return false;
    }
    return true;
}

// --- interruption ----------------------------------------------------------

namespace {

// Set by the signal handler, which may touch nothing but lock-free atomics.
std::atomic<bool> interrupted(false);
std::atomic<int> interruption(0); // the first signal's number
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "a signal handler may only use lock-free atomics");

void OnInterruption(int number)
{
    int none = 0;
    interruption.compare_exchange_strong(none, number);
    interrupted = true;
}

} // namespace

// Ctrl-C, kill and a closed terminal end a build through its own clean-up
// instead of on the spot. A signal the caller chose to ignore (nohup) stays
// ignored.
void CatchInterruptions()
{
#ifdef Q_OS_UNIX
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action = {};
        if (sigaction(number, nullptr, &action) != 0 || action.sa_handler == SIG_IGN)
            continue;
        action.sa_handler = OnInterruption;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(number, &action, nullptr);
    }
#else
    std::signal(SIGINT, OnInterruption);
    std::signal(SIGTERM, OnInterruption);
#endif
}

const std::atomic<bool> *InterruptionFlag()
{
    return &interrupted;
}

int InterruptedExitCode()
{
    return kExitSignalBase + interruption;
}

namespace {

int Interrupted()
{
    Err() << "zkstool: interrupted; no bank written" << Qt::endl;
    return InterruptedExitCode();
}

} // namespace

// --- build -----------------------------------------------------------------

bool GateFromLabel(const QString &text, quint16 *amplitude)
{
    const int first = text.compare(QStringLiteral("off"), Qt::CaseInsensitive) == 0 ? 0 : 1;
    QString label;
    for (int position = first; GateForPosition(position, &label, amplitude); ++position) {
        if (position == 0 || label.compare(text, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

namespace {

// Names the first threshold that makes the table invalid and the values it
// may take after the ones before it, found by asking the shared rule with
// the smallest falling tail.
QString ExplainThresholds(const ThresholdTable given, int count)
{
    for (int n = 1; n <= count; ++n) {
        ThresholdTable probe = {};
        for (int k = 1; k <= count; ++k)
            probe[k] = k < n ? given[k] : count - k + 1;
        int low = 0;
        int high = -1;
        for (int value = 0; value <= 127; ++value) {
            probe[n] = value;
            if (ThresholdsAreValid(probe, count)) {
                if (high < low)
                    low = value;
                high = value;
            }
        }
        if (given[n] < low || given[n] > high) {
            const QString range = low == high ? QString::number(low)
                                              : QStringLiteral("%1..%2").arg(low).arg(high);
            return QStringLiteral("threshold %1 is %2, but must be %3 (thresholds fall strictly "
                                  "from layer to layer and the last one is 1)")
                .arg(n)
                .arg(given[n])
                .arg(range);
        }
    }
    return QString();
}

} // namespace

bool ParseThresholds(const QStringList &parts, int count, ThresholdTable table, QString *error)
{
    if (parts.size() != count) {
        *error = QStringLiteral("give one threshold per file: %1 files, %2 thresholds")
                     .arg(count)
                     .arg(parts.size());
        return false;
    }
    for (int n = 1; n <= count; ++n) {
        bool ok = false;
        table[n] = parts.at(n - 1).trimmed().toInt(&ok);
        if (!ok) {
            *error = QStringLiteral("threshold %1 (\"%2\") is not a whole number")
                         .arg(n)
                         .arg(parts.at(n - 1));
            return false;
        }
    }
    if (!ThresholdsAreValid(table, count)) {
        *error = ExplainThresholds(table, count);
        return false;
    }
    return true;
}

namespace {

// The bank's names are lines: a control character in one would shift every
// name and layer after it.
QString ControlCharacterText()
{
    return WithDetail(MessageFor(RESULT_FILE_ERROR).text, ControlCharacterDetail());
}

QString TooLongText(const SoundInfo &sound)
{
    return WithDetail(MessageFor(RESULT_TOO_BIG).text, TooBigDetail(sound));
}

// What the names and the files' headers tell is checked before the first
// file is converted; the refusal, as "SUBJECT: TEXT", or nothing. Files
// libsndfile can't open are left to the conversion chain, whose verdict
// counts.
QString RefusalBeforeConverting(const QString &target, const QStringList &files)
{
    const auto refusal = [](const QString &subject, const QString &text) {
        return subject + QStringLiteral(": ") + text;
    };
    if (NameHasControlCharacter(LastPathPart(QFileInfo(target).absoluteFilePath())))
        return refusal(Printable(target), ControlCharacterText());
    for (const QString &file : files) {
        if (NameHasControlCharacter(QFileInfo(file).fileName()))
            return refusal(Printable(file), ControlCharacterText());
        if (!file.isEmpty() && !QFileInfo::exists(file))
            return refusal(file, MessageFor(RESULT_OPEN_FAILED).text
                                     + QStringLiteral(" (no such file)"));
        SoundInfo sound;
        if (ReadSoundInfo(file, &sound) && IsFarTooLong(sound))
            return refusal(file, TooLongText(sound));
    }
    return QString();
}

BankResult Refusal(BankResult result, const QString &subject, const QString &text)
{
    result.outcome = BankResult::Outcome::Refused;
    result.refusal = subject + QStringLiteral(": ") + text;
    return result;
}

BankResult Interruption(BankResult result)
{
    result.outcome = BankResult::Outcome::Interrupted;
    return result;
}

bool IsCancelled(const BankRequest &request)
{
    return request.cancelled && *request.cancelled;
}

// "--trim-tails" alone means the default level: QCommandLineParser knows no
// optional values, so the bare option gets it written out.
QStringList WithTrimTailsLevel(QStringList arguments)
{
    for (QString &argument : arguments) {
        if (argument == QLatin1String("--trim-tails"))
            argument = QStringLiteral("--trim-tails=%1").arg(kDefaultTailDbfs);
    }
    return arguments;
}

// A level such as "-60" or "-60dB", below full scale.
bool ParseDbfs(QString text, double *dbfs)
{
    if (text.endsWith(QLatin1String("db"), Qt::CaseInsensitive))
        text.chop(2);
    bool ok = false;
    *dbfs = text.trimmed().toDouble(&ok);
    return ok && *dbfs < 0 && std::isfinite(*dbfs);
}

// Replaces a converted layer by a copy with its quiet tail trimmed, when
// that saves layer space.
void TrimLayerTail(QString *path, int *size, double dbfs, QStringList *lines)
{
    const QString trimmed = NewResultFolder(QFileInfo(*path).dir().absolutePath() + QStringLiteral("/.."))
        + QLatin1Char('/') + QFileInfo(*path).fileName();
    qint64 saved = 0;
    QString error;
    if (!TrimTailFile(*path, trimmed, dbfs, &saved, &error) || saved <= 0) {
        QFile::remove(trimmed);
        return;
    }
    *path = trimmed;
    *size -= int(saved);
    *lines << QStringLiteral("trimmed %1: %2 bytes saved").arg(Printable(LastPathPart(trimmed))).arg(saved);
}

// Puts the layers loudest first by their attack and, when `spread`, sets the
// thresholds from their levels; says the levels it used. Returns why not, or
// nothing.
QString OrderByLoudness(QVector<LayerFile> *layers, quint16 gate, bool spread,
                        ThresholdTable thresholds, QStringList *lines)
{
    QVector<double> attack;
    std::vector<LayerLevels> levels;
    for (const LayerFile &layer : std::as_const(*layers)) {
        LayerLevels measured;
        QString reason;
        if (!MeasureLayerFile(layer.path, gate, &measured, &reason))
            return QStringLiteral("%1 could not be measured (%2)").arg(Printable(layer.name), reason);
        levels.push_back(measured);
        attack << measured.attackDbfs;
    }
    const QVector<int> order = LoudestFirst(attack);
    QVector<LayerFile> ordered;
    QVector<double> loudestFirst;
    for (int from : order) {
        ordered << layers->at(from);
        loudestFirst << attack.at(from);
        *lines << QStringLiteral("loudness order %1  %2  %3")
                      .arg(ordered.size())
                      .arg(Printable(layers->at(from).name), LevelsText(levels[size_t(from)]));
    }
    *layers = ordered;
    if (spread)
        ThresholdsFromLevels(thresholds, loudestFirst);
    return QString();
}

int Build(const QStringList &rest)
{
    CatchInterruptions();
    QCommandLineParser parser;
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QString(), QStringLiteral("BANK"));
    const QCommandLineOption gate(QStringLiteral("gate"), QString(), QStringLiteral("LEVEL"),
                                  QStringLiteral("off"));
    const QCommandLineOption thresholds(QStringLiteral("thresholds"), QString(),
                                        QStringLiteral("LIST"));
    const QCommandLineOption force(QStringLiteral("force"));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"));
    const QCommandLineOption external(QStringLiteral("external-converters"));
    const QCommandLineOption trimTails(QStringLiteral("trim-tails"), QString(), QStringLiteral("DB"));
    const QCommandLineOption order(QStringLiteral("order-by-loudness"));
    parser.addOptions({output, gate, thresholds, force, verboseOption, external, trimTails, order});
    QString error;
    if (!ParseCommand(parser, QStringLiteral("build"), WithTrimTailsLevel(rest), &error))
        return UsageError(error);
    verbose = parser.isSet(verboseOption);

    BankRequest request;
    request.target = parser.value(output);
    if (request.target.isEmpty())
        return UsageError(QStringLiteral("build needs the bank to write: -o BANK.zks"));
    if (parser.positionalArguments().isEmpty())
        return UsageError(QStringLiteral("build needs 1 to %1 sound files").arg(kMaxLayers));
    if (parser.isSet(trimTails) && !ParseDbfs(parser.value(trimTails), &request.tailDbfs))
        return UsageError(QStringLiteral("--trim-tails takes a level in dBFS below 0, such as "
                                         "-60, not \"%1\"")
                              .arg(parser.value(trimTails)));
    request.trimTails = parser.isSet(trimTails);
    request.orderByLoudness = parser.isSet(order);
    // A bank given as input stands for its layers, in order, at its place.
    for (const QString &file : parser.positionalArguments()) {
        if (!file.endsWith(QLatin1String(".zks"), Qt::CaseInsensitive)) {
            request.files << file;
            continue;
        }
        QVector<BankLayer> opened;
        ThresholdTable stored;
        if (!ReadBankLayers(file, WorkFolder(), &opened, stored, &error))
            return Refuse(file, WithDetail(MessageFor(RESULT_OPEN_FAILED).text,
                                           error.split(QLatin1Char('\n')).join(QStringLiteral("; "))));
        for (const BankLayer &layer : opened) {
            request.opened.insert(int(request.files.size()), layer.file);
            request.files << layer.file.path;
        }
    }
    if (request.files.size() > kMaxLayers)
        return UsageError(TooManyFilesText(int(request.files.size())));
    const int count = int(request.files.size());

    if (!GateFromLabel(parser.value(gate), &request.gate))
        return UsageError(QStringLiteral("unknown gate \"%1\": choose %2")
                              .arg(parser.value(gate), GateChoices()));
    DefaultThresholds(request.thresholds, count);
    if (parser.isSet(thresholds)
        && !ParseThresholds(parser.value(thresholds).split(QLatin1Char(',')), count,
                            request.thresholds, &error))
        return UsageError(error);
    request.thresholdsGiven = parser.isSet(thresholds);
    request.force = parser.isSet(force);
    request.inProcess = !parser.isSet(external);
    request.cancelled = &interrupted;

    const BankResult result = BuildBank(request);
    for (const QString &line : result.lines)
        Out() << line << Qt::endl;
    switch (result.outcome) {
    case BankResult::Outcome::Interrupted:
        return Interrupted();
    case BankResult::Outcome::Refused:
        Err() << "zkstool: " << result.refusal << Qt::endl;
        return kExitFailed;
    case BankResult::Outcome::Built:
        break;
    }
    return kExitOk;
}

} // namespace

BankResult BuildBank(const BankRequest &request)
{
    BankResult result;
    const QString &target = request.target;
    const QStringList &files = request.files;
    const int count = int(files.size());
    const QFileInfo targetInfo(target);
    if ((targetInfo.exists() || targetInfo.isSymLink()) && !request.force)
        return Refusal(result, target, QStringLiteral("already exists; --force replaces it"));
    if (targetInfo.isDir())
        return Refusal(result, target, QStringLiteral("is a folder"));
    if (!request.dryRun && !targetInfo.absoluteDir().exists())
        return Refusal(result, target,
                       MessageFor(RESULT_OPEN_FAILED).text
                           + QStringLiteral(" (no folder %1)").arg(targetInfo.absolutePath()));

    const QString early = RefusalBeforeConverting(target, files);
    if (!early.isEmpty()) {
        result.outcome = BankResult::Outcome::Refused;
        result.refusal = early;
        return result;
    }

    // The converters' work runs in this process unless asked otherwise: no
    // program start per step.
    ConvertOptions conversion;
    conversion.cancelled = request.cancelled;
    conversion.inProcess = request.inProcess;
    qint32 used = 0;
    QVector<LayerFile> layers;
    // The layers not yet converted count as empty, so the first layer too
    // large for the bank's size tables is the one refused.
    qint32 sizes[kMaxLayers] = {};
    for (int i = 0; i < count; ++i) {
        QString reason;
        QString converted = files.at(i);
        int size = 0;
        // A dry run takes the size of a file that converting would only
        // copy from its header.
        const QString shown = files.at(i).isEmpty() ? QStringLiteral("\"\"") : files.at(i);
        QString name = LastPathPart(converted);
        if (request.opened.contains(i)) {
            name = request.opened.value(i).name;
            size = request.opened.value(i).size;
        } else if (!request.dryRun || !CheckWithoutConverting(converted, &size)) {
            if (request.makeWorkFolder && conversion.workFolder.isEmpty()) {
                conversion.workFolder = request.makeWorkFolder();
                if (conversion.workFolder.isEmpty())
                    return Refusal(result, shown,
                                   MessageFor(RESULT_OPEN_FAILED).text
                                       + QStringLiteral(" (no temporary folder could be made)"));
            }
            converted = ConvertFile(files.at(i), conversion, &reason);
            if (IsCancelled(request))
                return Interruption(result);
            size = OpenAndCheckFile(converted);
            name = LastPathPart(converted);
        }
        if (size > 0 && request.trimTails && !request.dryRun)
            TrimLayerTail(&converted, &size, request.tailDbfs, &result.lines);
        if (size <= 0)
            return Refusal(result, shown, WithDetail(MessageFor(size).text,
                                                     SoundCheckDetail(size, converted, reason)));
        if (size > kBankBudget - used)
            return Refusal(result, shown, WithDetail(MessageFor(RESULT_NO_SPACE).text,
                                                     NoSpaceDetail(size, used)));
        used += size;
        layers.append({converted, name, size});
        sizes[i] = size;
        if (!LayerSizesAreStorable(sizes, count))
            return Refusal(result, shown,
                           WithDetail(MessageFor(RESULT_TOO_BIG).text, SizeTableDetail()));
        result.lines << QStringLiteral("layer %1  %2  %3 bytes  %4% space left")
                            .arg(i + 1)
                            .arg(Printable(layers.constLast().name))
                            .arg(size)
                            .arg(AvailablePercentFor(used));
    }
    ThresholdTable thresholds;
    std::copy(std::begin(request.thresholds), std::end(request.thresholds), std::begin(thresholds));
    if (request.orderByLoudness && !request.dryRun) {
        const QString refused = OrderByLoudness(&layers, request.gate, !request.thresholdsGiven,
                                                thresholds, &result.lines);
        if (!refused.isEmpty())
            return Refusal(result, target, refused);
    }
    const GeneratorArgs args
        = MakeGeneratorArgs(layers, thresholds, request.gate, targetInfo.absoluteFilePath());

    if (request.dryRun) {
        // The generator's own sum: the header, then each layer's region.
        const qint64 bytes = BuildZKSHeader(args, 0).size() + qint64(used);
        if (bytes > kBankBudget)
            return Refusal(result, target, MessageFor(RESULT_NO_SPACE).text);
        result.lines << QStringLiteral("would write %1: %2 layers, %3 bytes")
                            .arg(target)
                            .arg(count)
                            .arg(bytes);
        result.layers = count;
        result.bytes = bytes;
        return result;
    }
    if (IsCancelled(request))
        return Interruption(result);
    // The generator leaves an existing bank untouched when it fails, and
    // replaces it only with a whole new one: once it has started it runs to
    // its end, and a bank it finished stays (removing it would lose the bank
    // it replaced as well).
    QString reason;
    const qint32 generated = GenerateZKS(args, &reason);
    if (generated != GENERATE_OK)
        return Refusal(result, target,
                       WithDetail(MessageFor(ResultCodeForGenerator(generated)).text, reason));
    result.layers = count;
    result.bytes = QFileInfo(target).size();
    result.lines << QStringLiteral("wrote %1: %2 layers, %3 bytes")
                        .arg(target)
                        .arg(count)
                        .arg(result.bytes);
    return result;
}

namespace {

// --- info ------------------------------------------------------------------

template <typename T>
QJsonArray JsonNumbers(const T *values, int count)
{
    QJsonArray array;
    for (int i = 0; i < count; ++i)
        array.append(double(values[i]));
    return array;
}

QJsonObject BankJson(const QString &path, const ZksBank &bank, const QVector<LayerLevels> &levels)
{
    QJsonObject o;
    o[QStringLiteral("file")] = path;
    o[QStringLiteral("fileSize")] = double(bank.fileSize);
    o[QStringLiteral("ok")] = bank.problems.isEmpty();
    o[QStringLiteral("problems")] = QJsonArray::fromStringList(bank.problems);
    if (!bank.fixedPartComplete)
        return o;
    o[QStringLiteral("makerLine")] = QString::fromLatin1(bank.makerLine);
    o[QStringLiteral("randomTag")] = double(bank.randomTag);
    o[QStringLiteral("signatureOk")] = bank.signatureOk;
    o[QStringLiteral("fourSlotThresholds")] = JsonNumbers(bank.fourSlotThresholds, 3);
    o[QStringLiteral("fourSlotBlocks")] = JsonNumbers(bank.fourSlotBlocks, 4);
    o[QStringLiteral("fourSlotOffsets")] = JsonNumbers(bank.fourSlotOffsets, 4);
    o[QStringLiteral("thresholds")] = JsonNumbers(bank.thresholds, kMaxLayers);
    o[QStringLiteral("sizeUnits")] = JsonNumbers(bank.sizeUnits, kMaxLayers);
    o[QStringLiteral("namesComplete")] = bank.namesComplete;
    o[QStringLiteral("bankName")] = bank.bankName;
    QJsonArray names;
    for (const QString &name : bank.layerNames)
        names.append(name);
    o[QStringLiteral("layerNames")] = names;
    o[QStringLiteral("headerLength")] = double(bank.headerLength);
    o[QStringLiteral("layerCount")] = bank.layerCount;
    QJsonArray layers;
    for (int i = 0; i < bank.regions.size(); ++i) {
        const ZksRegion &r = bank.regions.at(i);
        QJsonObject layer{
            {QStringLiteral("layer"), r.layer},
            {QStringLiteral("name"), r.name},
            {QStringLiteral("threshold"), r.threshold},
            {QStringLiteral("offset"), double(r.offset)},
            {QStringLiteral("size"), double(r.size)},
            {QStringLiteral("inFile"), double(r.inFile)},
        };
        // Silence has no level: null rather than an infinity JSON can't hold.
        const auto level = [](double db) { return std::isfinite(db) ? QJsonValue(db) : QJsonValue(); };
        if (i < levels.size()) {
            layer[QStringLiteral("peakDbfs")] = level(levels.at(i).peakDbfs);
            layer[QStringLiteral("attackDbfs")] = level(levels.at(i).attackDbfs);
            layer[QStringLiteral("loudnessLufs")]
                = levels.at(i).loudnessKnown ? level(levels.at(i).loudnessLufs) : QJsonValue();
        }
        layers.append(layer);
    }
    o[QStringLiteral("layers")] = layers;
    return o;
}

template <typename T>
QString Numbers(const T *values, int count)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << QString::number(values[i]);
    return list.join(QLatin1Char(' '));
}

void PrintBank(const QString &path, const ZksBank &bank, const QVector<LayerLevels> &levels)
{
    QTextStream &out = Out();
    out << "file                  " << path << " (" << bank.fileSize << " bytes)\n";
    if (bank.fixedPartComplete) {
        out << "maker line            \"" << Printable(QString::fromLatin1(bank.makerLine))
            << "\"\n"
            << "random tag            " << bank.randomTag << "\n"
            << "signature             " << (bank.signatureOk ? "ok" : "WRONG") << "\n"
            << "four-slot thresholds  " << Numbers(bank.fourSlotThresholds, 3) << "\n"
            << "four-slot blocks      " << Numbers(bank.fourSlotBlocks, 4) << "\n"
            << "four-slot offsets     " << Numbers(bank.fourSlotOffsets, 4) << "\n"
            << "thresholds            " << Numbers(bank.thresholds, kMaxLayers) << "\n"
            << "size units            " << Numbers(bank.sizeUnits, kMaxLayers) << "\n"
            << "bank name             \"" << Printable(bank.bankName) << "\"\n"
            << "header length         " << bank.headerLength << "\n"
            << "layers                " << bank.layerCount << "\n";
        for (int i = 0; i < bank.regions.size(); ++i) {
            const ZksRegion &r = bank.regions.at(i);
            out << QStringLiteral("  %1  \"%2\"  threshold %3  offset %4  size %5")
                       .arg(r.layer)
                       .arg(Printable(r.name))
                       .arg(r.threshold)
                       .arg(r.offset)
                       .arg(r.size);
            if (r.inFile < r.size)
                out << QStringLiteral("  (only %1 in the file)").arg(r.inFile);
            if (i < levels.size())
                out << "  " << LevelsText(levels.at(i));
            out << "\n";
        }
    }
    if (bank.problems.isEmpty())
        out << "problems              none\n";
    for (const QString &problem : bank.problems)
        out << "problem               " << Printable(problem) << "\n";
    out.flush();
}

int Info(const QStringList &rest)
{
    QCommandLineParser parser;
    const QCommandLineOption json(QStringLiteral("json"));
    parser.addOption(json);
    QString error;
    if (!ParseCommand(parser, QStringLiteral("info"), rest, &error))
        return UsageError(error);
    if (parser.positionalArguments().size() != 1)
        return UsageError(QStringLiteral("info needs exactly one bank"));
    const QString path = parser.positionalArguments().constFirst();

    ZksBank bank;
    if (!ReadZksBank(path, &bank, &error))
        return Refuse(path, error);
    // Each region's levels, as the device will play it; a region the file
    // cuts short is measured on what there is.
    QVector<LayerLevels> levels;
    for (const ZksRegion &region : std::as_const(bank.regions)) {
        QByteArray audio;
        if (!ReadZksRegion(path, region, &audio, &error))
            break;
        levels.append(MeasureSamples(DropPadding(audio)));
    }
    if (parser.isSet(json))
        Out() << QJsonDocument(BankJson(path, bank, levels)).toJson() << Qt::flush;
    else
        PrintBank(path, bank, levels);
    return bank.problems.isEmpty() ? kExitOk : kExitFailed;
}

// --- extract ---------------------------------------------------------------

// Whether two paths lead to one file, through links of either kind: the
// same device and inode on POSIX, the same canonical path elsewhere.
bool IsSameFile(const QString &first, const QString &second)
{
#ifdef Q_OS_UNIX
    struct stat a;
    struct stat b;
    return ::stat(QFile::encodeName(first).constData(), &a) == 0
        && ::stat(QFile::encodeName(second).constData(), &b) == 0 && a.st_dev == b.st_dev
        && a.st_ino == b.st_ino;
#else
    const QString canonical = QFileInfo(first).canonicalFilePath();
    return !canonical.isEmpty() && canonical == QFileInfo(second).canonicalFilePath();
#endif
}

bool WriteWave(const QString &path, const QByteArray &audio, QString *error)
{
    // Never follow what is there: an existing entry (even a link) is removed
    // first, and the new file must be created, not opened.
    QFile::remove(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        *error = file.errorString();
        return false;
    }
    const QByteArray wave = CanonicalWavHeader(1, 44100, 16, quint32(audio.size())) + audio;
    if (file.write(wave) != wave.size() || !file.flush()) {
        *error = file.errorString();
        file.close();
        file.remove();
        return false;
    }
    return true;
}

int Extract(const QStringList &rest)
{
    QCommandLineParser parser;
    const QCommandLineOption force(QStringLiteral("force"));
    const QCommandLineOption trim(QStringLiteral("trim"));
    parser.addOptions({force, trim});
    QString error;
    if (!ParseCommand(parser, QStringLiteral("extract"), rest, &error))
        return UsageError(error);
    if (parser.positionalArguments().size() != 2)
        return UsageError(QStringLiteral("extract needs a bank and a folder"));
    const QString path = parser.positionalArguments().at(0);
    const QString folder = parser.positionalArguments().at(1);

    ZksBank bank;
    if (!ReadZksBank(path, &bank, &error))
        return Refuse(path, error);
    for (const QString &problem : qAsConst(bank.problems))
        Err() << "zkstool: " << path << ": " << Printable(problem) << Qt::endl;
    if (bank.regions.isEmpty())
        return Refuse(path, QStringLiteral("no layers to extract"));
    if (!QDir().mkpath(folder))
        return Refuse(folder, QStringLiteral("cannot create this folder"));

    const QDir dir(folder);
    const QStringList names = WaveNamesFor(bank.regions);
    QStringList targets;
    bool blocked = false;
    for (const QString &name : names) {
        const QString target = dir.filePath(name);
        const QFileInfo info(target);
        if (IsSameFile(target, path)) {
            Refuse(target, QStringLiteral("is the bank being read; not replaced"));
            blocked = true;
        } else if (info.isDir() || ((info.exists() || info.isSymLink()) && !parser.isSet(force))) {
            Refuse(target, info.isDir() ? QStringLiteral("is a folder")
                                        : QStringLiteral("already exists; --force replaces it"));
            blocked = true;
        }
        targets << target;
    }
    if (blocked)
        return kExitFailed;

    int result = bank.problems.isEmpty() ? kExitOk : kExitFailed;
    for (int i = 0; i < bank.regions.size(); ++i) {
        const ZksRegion &region = bank.regions.at(i);
        if (region.inFile == 0) {
            Refuse(path, QStringLiteral("layer %1 is not in the file; nothing written")
                             .arg(region.layer));
            continue;
        }
        QByteArray audio;
        if (!ReadZksRegion(path, region, &audio, &error))
            return Refuse(path, error);
        audio.truncate(audio.size() & ~1);
        if (parser.isSet(trim))
            audio = DropPadding(audio);
        if (!WriteWave(targets.at(i), audio, &error))
            return Refuse(targets.at(i), error);
        Out() << QStringLiteral("layer %1 -> %2  (%3 bytes of audio%4)")
                     .arg(region.layer)
                     .arg(Printable(targets.at(i)))
                     .arg(audio.size())
                     .arg(region.inFile < region.size ? QStringLiteral(", cut short")
                                                      : QString())
              << Qt::endl;
    }
    return result;
}

int Run(const QStringList &arguments)
{
    const QString command = arguments.value(1);
    const QStringList rest = arguments.mid(2);
    if (command.isEmpty()) {
        Err() << UsageLines() << "Try 'zkstool --help'." << Qt::endl;
        return kExitUsage;
    }
    if (command == QLatin1String("--help") || command == QLatin1String("-h")
        || command == QLatin1String("help") || rest.contains(QStringLiteral("--help"))) {
        Out() << HelpText() << Qt::flush;
        return kExitOk;
    }
    if (command == QLatin1String("build"))
        return Build(rest);
    if (command == QLatin1String("build-all"))
        return BuildAll(rest);
    if (command == QLatin1String("info"))
        return Info(rest);
    if (command == QLatin1String("extract"))
        return Extract(rest);
    return UsageError(QStringLiteral("unknown command \"%1\"").arg(command));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(QuietDebug);
    const int result = Run(QCoreApplication::arguments());
    RemoveWorkFolder();
    return result;
}
