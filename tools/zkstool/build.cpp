// zkstool build: one bank from sound files and banks.

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
#include "kitpipeline.h"
#include "loudness.h"
#include "layerrules.h"
#include "resultcodes.h"
#include "soundinfo.h"
#include "zksbank.h"
#include "zkstool.h"

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

// What the names and the files' headers tell is checked before the first
// file is converted; the refusal, or none. Files libsndfile can't open are
// left to the conversion chain, whose verdict counts. The bank's names are
// lines: a control character in one would shift every name and layer after
// it.
Refusal RefusalBeforeConverting(const QString &target, const QStringList &files)
{
    if (NameHasControlCharacter(LastPathPart(QFileInfo(target).absoluteFilePath())))
        return RefusalFor(RESULT_FILE_ERROR, target, ControlCharacterDetail());
    for (const QString &file : files) {
        if (NameHasControlCharacter(QFileInfo(file).fileName()))
            return RefusalFor(RESULT_FILE_ERROR, file, ControlCharacterDetail());
        if (!file.isEmpty() && !QFileInfo::exists(file))
            return RefusalFor(RESULT_OPEN_FAILED, file, QStringLiteral("no such file"));
        SoundInfo sound;
        if (ReadSoundInfo(file, &sound) && IsFarTooLong(sound))
            return RefusalFor(RESULT_TOO_BIG, file, TooBigDetail(sound));
    }
    return Refusal();
}

BankResult Refused(BankResult result, const Refusal &refusal)
{
    result.outcome = BankResult::Outcome::Refused;
    result.refusal = refusal;
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
    const QString folder = NewResultFolder(QFileInfo(*path).dir().absolutePath() + QStringLiteral("/.."));
    const SizedFile layer = TrimmedLayer(*path, *size, folder, dbfs);
    if (layer.path == *path)
        return;
    *lines << QStringLiteral("trimmed %1: %2 bytes saved").arg(Printable(LastPathPart(layer.path))).arg(*size - layer.size);
    *path = layer.path;
    *size = layer.size;
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
    const QVector<int> order = LoudnessOrder(attack, spread, thresholds);
    QVector<LayerFile> ordered;
    for (int from : order) {
        ordered << layers->at(from);
        *lines << QStringLiteral("loudness order %1  %2  %3")
                      .arg(ordered.size())
                      .arg(Printable(layers->at(from).name), LevelsText(levels[size_t(from)]));
    }
    *layers = ordered;
    return QString();
}

// A layer's line in the report: its place in the bank, name and size, and
// the space left once it and the layers above it are charged (`used`).
QString LayerLine(int layer, const LayerFile &file, qint32 used)
{
    return QStringLiteral("layer %1  %2  %3 bytes  %4% space left")
        .arg(layer)
        .arg(Printable(file.name))
        .arg(file.size)
        .arg(AvailablePercentFor(used));
}

// Says the bank was not written; the exit status names the signal.
int Interrupted()
{
    Err() << "zkstool: interrupted; no bank written" << Qt::endl;
    return InterruptedExitCode();
}
} // namespace

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
    if (parser.isSet(verboseOption))
        ShowDebugLines();

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
            return Refuse(RefusalFor(RESULT_OPEN_FAILED, file,
                                     error.split(QLatin1Char('\n')).join(QStringLiteral("; "))));
        for (int k = 0; k < opened.size(); ++k) {
            const int place = int(request.files.size());
            request.opened.insert(place, opened.at(k).file);
            request.shownAs.insert(place, QStringLiteral("%1, layer %2 (%3)")
                                              .arg(file)
                                              .arg(k + 1)
                                              .arg(opened.at(k).file.name));
            request.files << opened.at(k).file.path;
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
    request.cancelled = InterruptionFlag();

    const BankResult result = BuildBank(request);
    for (const QString &line : result.lines)
        Out() << line << Qt::endl;
    switch (result.outcome) {
    case BankResult::Outcome::Interrupted:
        return Interrupted();
    case BankResult::Outcome::Refused:
        return Refuse(result.refusal);
    case BankResult::Outcome::Built:
        break;
    }
    return kExitOk;
}


BankResult BuildBank(const BankRequest &request)
{
    BankResult result;
    const QString &target = request.target;
    const QStringList &files = request.files;
    const int count = int(files.size());
    const QFileInfo targetInfo(target);
    const Refusal exists = RefusalSaying(target, QStringLiteral("already exists; --force replaces it"));
    if ((targetInfo.exists() || targetInfo.isSymLink()) && !request.force)
        return Refused(result, exists);
    if (count == 0)
        return Refused(result, RefusalSaying(target, QStringLiteral("no layers to write: a bank "
                                                                    "holds 1 to %1")
                                                         .arg(kMaxLayers)));
    // A live link is written through, as cp does; a dangling one would
    // create a file wherever it points.
    if (targetInfo.isSymLink() && !targetInfo.exists())
        return Refused(result, RefusalSaying(target, QStringLiteral("is a link to nothing; remove "
                                                                    "it to write the bank here")));
    if (targetInfo.isDir())
        return Refused(result, RefusalSaying(target, QStringLiteral("is a folder")));
    if (!request.dryRun && !targetInfo.absoluteDir().exists())
        return Refused(result, RefusalFor(RESULT_OPEN_FAILED, target,
                                          QStringLiteral("no folder %1")
                                              .arg(targetInfo.absolutePath())));

    const Refusal early = RefusalBeforeConverting(target, files);
    if (!early.IsEmpty())
        return Refused(result, early);

    // The converters' work runs in this process unless asked otherwise: no
    // program start per step.
    ConvertOptions conversion;
    conversion.cancelled = request.cancelled;
    conversion.inProcess = request.inProcess;
    qint32 used = 0;
    QVector<LayerFile> layers;
    // Ordered by loudness, the layers are listed once their order is known.
    const bool ordering = request.orderByLoudness && !request.dryRun;
    // The layers not yet converted count as empty, so the first layer too
    // large for the bank's size tables is the one refused.
    qint32 sizes[kMaxLayers] = {};
    for (int i = 0; i < count; ++i) {
        QString reason;
        QString converted = files.at(i);
        int size = 0;
        // A dry run takes the size of a file that converting would only
        // copy from its header.
        const QString shown = request.shownAs.contains(i) ? request.shownAs.value(i)
            : files.at(i).isEmpty()                         ? QStringLiteral("\"\"")
                                                            : files.at(i);
        QString name = LastPathPart(converted);
        if (request.opened.contains(i)) {
            name = request.opened.value(i).name;
            size = request.opened.value(i).size;
        } else if (!request.dryRun || !CheckWithoutConverting(converted, &size)) {
            if (request.makeWorkFolder && conversion.workFolder.isEmpty()) {
                conversion.workFolder = request.makeWorkFolder();
                if (conversion.workFolder.isEmpty())
                    return Refused(result, RefusalFor(RESULT_OPEN_FAILED, shown,
                                                      QStringLiteral("no temporary folder could "
                                                                     "be made")));
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
            return Refused(result,
                           RefusalFor(size, shown, SoundCheckDetail(size, converted, reason)));
        sizes[i] = size;
        const int verdict = LayerSizesVerdict(sizes, count);
        if (verdict == RESULT_NO_SPACE)
            return Refused(result, RefusalFor(RESULT_NO_SPACE, shown, NoSpaceDetail(size, used)));
        if (verdict != 0)
            return Refused(result, RefusalFor(RESULT_TOO_BIG, shown, SizeTableDetail()));
        used += size;
        layers.append({converted, name, size});
        if (!ordering)
            result.lines << LayerLine(i + 1, layers.constLast(), used);
    }
    ThresholdTable thresholds;
    std::copy(std::begin(request.thresholds), std::end(request.thresholds), std::begin(thresholds));
    if (ordering) {
        const QString refused = OrderByLoudness(&layers, request.gate, !request.thresholdsGiven,
                                                thresholds, &result.lines);
        if (!refused.isEmpty())
            return Refused(result, RefusalSaying(target, refused));
        qint32 above = 0;
        for (int k = 0; k < layers.size(); ++k) {
            above += layers.at(k).size;
            result.lines << LayerLine(k + 1, layers.at(k), above);
        }
    }
    GeneratorArgs args
        = MakeGeneratorArgs(layers, thresholds, request.gate, targetInfo.absoluteFilePath());

    if (request.dryRun) {
        // The generator's own sum: the header, then each layer's region.
        const qint64 bytes = BuildZKSHeader(args, 0).size() + qint64(used);
        if (bytes > kBankBudget)
            return Refused(result, RefusalFor(RESULT_NO_SPACE, target));
        result.lines << QStringLiteral("would write %1: %2 layers, %3 bytes")
                            .arg(Printable(target))
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
    // Without --force a bank that appeared during the conversion is kept.
    args.ReplaceExisting = request.force;
    QString reason;
    const qint32 generated = GenerateZKS(args, &reason);
    if (generated == GENERATE_TARGET_EXISTS)
        return Refused(result, exists);
    if (generated != GENERATE_OK)
        return Refused(result, RefusalFor(ResultCodeForGenerator(generated), target, reason));
    result.layers = count;
    result.bytes = QFileInfo(target).size();
    result.lines << QStringLiteral("wrote %1: %2 layers, %3 bytes")
                        .arg(Printable(target))
                        .arg(count)
                        .arg(result.bytes);
    return result;
}

