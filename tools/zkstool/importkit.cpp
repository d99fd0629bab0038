// zkstool import-kit: a multi-velocity drum kit made into one bank per
// instrument, with the thresholds its velocity ranges give.

#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "drumkit.h"
#include "sfzkit.h"
#include "kitimport.h"
#include "kitplan.h"
#include "fileprocessor.h"
#include "layerrules.h"
#include "resultcodes.h"
#include "zkstool.h"

namespace {

struct ImportSettings {
    QString outFolder;
    quint16 gate = 0;
    bool force = false;
    bool dryRun = false;
    bool leftOnly = false; // keep the left channel of stereo layers, not the mix
};

struct InstrumentReport {
    bool built = false;
    bool empty = false; // a place in the kit with no sample named: not skipped
    bool interrupted = false;
    QStringList lines;
    int layers = 0;
    qint64 bytes = 0;
};

QString ThresholdsText(const QVector<int> &thresholds)
{
    QStringList shown;
    for (int threshold : thresholds)
        shown << QString::number(threshold);
    return shown.join(QLatin1Char(','));
}

// The engine's preparation of one instrument (or key) in a work folder.
using Prepare = std::function<PreparedInstrument(const QString &workFolder)>;

// Builds one instrument's bank through build's own path from the layers
// the engine prepared.
InstrumentReport ImportInstrument(const QString &name, const Prepare &prepare, const QString &bankName,
                                  const ImportSettings &settings)
{
    InstrumentReport report;
    const QString head = QStringLiteral("%1: ").arg(Printable(name));
    QTemporaryDir work(QDir::tempPath() + QStringLiteral("/QuadrelX8FileGen-XXXXXX"));
    if (!work.isValid()) {
        report.lines << head + QStringLiteral("skipped, no temporary folder could be made");
        return report;
    }
    const PreparedInstrument prepared = prepare(work.path());
    const auto noted = [&prepared](const QString &text) {
        return prepared.notes.isEmpty()
            ? text
            : text + QStringLiteral(" (%1)").arg(Printable(prepared.notes.join(QStringLiteral("; "))));
    };
    if (prepared.cancelled) {
        report.interrupted = true;
        return report;
    }
    if (!prepared.failure.isEmpty()) {
        report.lines << head + noted(QStringLiteral("skipped, ") + prepared.failure);
        return report;
    }
    BankRequest request;
    for (int i = 0; i < prepared.layers.size(); ++i) {
        request.opened.insert(i, prepared.layers.at(i));
        request.files << prepared.layers.at(i).path;
    }
    request.target = QDir(settings.outFolder).filePath(bankName);
    request.gate = settings.gate;
    for (int n = 1; n <= prepared.thresholds.size(); ++n)
        request.thresholds[n] = prepared.thresholds.at(n - 1);
    request.thresholdsGiven = true;
    request.force = settings.force;
    request.dryRun = settings.dryRun;
    request.cancelled = InterruptionFlag();
    const BankResult result = BuildBank(request);
    if (result.outcome == BankResult::Outcome::Interrupted) {
        report.interrupted = true;
        return report;
    }
    if (result.outcome == BankResult::Outcome::Refused) {
        report.lines << head + noted(QStringLiteral("skipped, ") + result.refusal.Line());
        return report;
    }
    report.built = true;
    report.layers = result.layers;
    report.bytes = result.bytes;
    report.lines << head
            + noted(QStringLiteral("%1 %2, thresholds %3 -> %4")
                        .arg(prepared.layers.size())
                        .arg(prepared.layers.size() == 1 ? QStringLiteral("layer") : QStringLiteral("layers"))
                        .arg(ThresholdsText(prepared.thresholds), Printable(bankName)));
    return report;
}

} // namespace

QString ImportKitUsage()
{
    return QStringLiteral("       zkstool import-kit KIT OUTDIR [--gate LEVEL] [--channel mix|left]\n"
                          "                          [--jobs N] [--force] [--dry-run]\n");
}

QString ImportKitHelp()
{
    return QStringLiteral(
        "import-kit\n"
        "         Makes a bank of each instrument of a drum kit: KIT is a drumkit.xml, a\n"
        "         folder holding one, or a .h2drumkit archive. Each bank is named\n"
        "         \"OUTDIR/<kit name> - <instrument name>.zks\". KIT may also be an .sfz\n"
        "         file: a bank per key, named \"OUTDIR/<sfz name> - <key name>.zks\"\n"
        "         (the key's label, else its note and number, \"c2 (36)\"); the regions\n"
        "         of a velocity band are summed into one layer (scaled down as one\n"
        "         instrument when that would clip), their offset and end applied;\n"
        "         round robins after the first and release regions are left out,\n"
        "         opcodes not read are counted in an \"ignored:\" line.\n"
        "         A layer's threshold is the lowest hit strength (1..127) its velocity\n"
        "         range plays; layers that play none, or repeat an earlier layer's\n"
        "         range, are left out; more than 8 are reduced to 8. Each layer is\n"
        "         converted as any layer is, made mono, given its gain (the whole\n"
        "         instrument scaled down by one factor when a layer would clip) and\n"
        "         its quiet tail trimmed as --trim-tails does; pitch is not applied.\n"
        "         Over the budget, layers longer than the longest length that fits\n"
        "         are cut to it with a 10 ms fade; under 1 s, a layer is dropped\n"
        "         instead. A missing sample is reported and left out. Prints a line\n"
        "         per instrument (or key), then how many banks were written and\n"
        "         skipped.\n"
        "         --gate LEVEL        as for build (off unless given)\n"
        "         --channel mix|left  stereo samples mixed as (L+R)/2 (default), or\n"
        "                             their left channel kept\n"
        "         --jobs N            make N banks at once (default: one per core)\n"
        "         --force             replace existing banks\n"
        "         --dry-run           print the plan and write nothing\n"
        "         Exits with 1 when any instrument was skipped.\n");
}

int ImportKit(const QStringList &rest)
{
    CatchInterruptions();
    QElapsedTimer clock;
    clock.start();
    QCommandLineParser parser;
    const QCommandLineOption gate(QStringLiteral("gate"), QString(), QStringLiteral("LEVEL"),
                                  QStringLiteral("off"));
    const QCommandLineOption jobs(QStringLiteral("jobs"), QString(), QStringLiteral("N"));
    const QCommandLineOption channel(QStringLiteral("channel"), QString(), QStringLiteral("WHICH"),
                                     QStringLiteral("mix"));
    const QCommandLineOption force(QStringLiteral("force"));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"));
    parser.addOptions({gate, jobs, channel, force, dryRun});
    QString error;
    if (!ParseCommand(parser, QStringLiteral("import-kit"), rest, &error))
        return UsageError(error);
    if (parser.positionalArguments().size() != 2)
        return UsageError(QStringLiteral("import-kit needs a kit and an output folder"));
    ImportSettings settings;
    settings.outFolder = parser.positionalArguments().at(1);
    settings.force = parser.isSet(force);
    settings.dryRun = parser.isSet(dryRun);
    if (parser.value(channel) != QLatin1String("mix") && parser.value(channel) != QLatin1String("left"))
        return UsageError(QStringLiteral("--channel takes mix or left, not \"%1\"").arg(parser.value(channel)));
    settings.leftOnly = parser.value(channel) == QLatin1String("left");
    if (!GateFromLabel(parser.value(gate), &settings.gate))
        return UsageError(QStringLiteral("unknown gate \"%1\": choose %2")
                              .arg(parser.value(gate), GateChoices()));
    int jobCount = int(std::max(1u, std::thread::hardware_concurrency()));
    if (parser.isSet(jobs)) {
        bool ok = false;
        jobCount = parser.value(jobs).toInt(&ok);
        if (!ok || jobCount < 1 || jobCount > 64)
            return UsageError(QStringLiteral("--jobs takes a whole number from 1 to 64"));
    }

    const QString kitPath = parser.positionalArguments().at(0);
    QTemporaryDir unpacked(QDir::tempPath() + QStringLiteral("/QuadrelX8Kit-XXXXXX"));
    if (!unpacked.isValid())
        return Refuse(kitPath, QStringLiteral("no temporary folder could be made"));
    // Per instrument (or key): its name, and how the engine prepares it.
    QStringList names;
    QVector<Prepare> prepares;
    QVector<bool> empty;
    QString kitName;
    const bool sfz = kitPath.endsWith(QLatin1String(".sfz"), Qt::CaseInsensitive);
    Drumkit kit;
    SfzKit sfzKit;
    if (sfz) {
        if (!ReadSfzKit(kitPath, &sfzKit, &error, InterruptionFlag())) {
            if (*InterruptionFlag()) {
                Err() << "zkstool: interrupted; nothing written" << Qt::endl;
                return InterruptedExitCode();
            }
            return Refuse(kitPath, error);
        }
        kitName = sfzKit.name;
        for (int key : SfzKeys(sfzKit)) {
            names << SfzKeyName(sfzKit, key);
            empty << false;
        }
    } else {
        if (!ReadDrumkit(kitPath, unpacked.path(), &kit, &error, InterruptionFlag()))
            return *InterruptionFlag() ? InterruptedExitCode() : Refuse(kitPath, error);
        kitName = kit.name;
        for (const KitInstrument &instrument : std::as_const(kit.instruments)) {
            // A place the kit left unnamed is named by its number.
            names << (instrument.name.trimmed().isEmpty()
                          ? QStringLiteral("instrument %1").arg(names.size() + 1)
                          : instrument.name);
            empty << (instrument.layers.isEmpty() && instrument.problems.isEmpty());
        }
    }
    if (names.isEmpty())
        return Refuse(kitPath, sfz ? QStringLiteral("the kit has no key with an attack region")
                                   : QStringLiteral("the kit has no instruments"));
    if (!settings.dryRun && !QDir().mkpath(settings.outFolder))
        return Refuse(settings.outFolder, QStringLiteral("cannot create this folder"));
    const QStringList bankNames = KitBankFileNames(kitName, names);
    const QVector<int> keys = sfz ? SfzKeys(sfzKit) : QVector<int>();
    for (int i = 0; i < names.size(); ++i) {
        if (sfz) {
            prepares << [&, i](const QString &work) {
                return PrepareSfzKey(sfzKit, keys.at(i), work, bankNames.at(i), settings.leftOnly,
                                     InterruptionFlag());
            };
        } else {
            prepares << [&, i](const QString &work) {
                return PrepareKitInstrument(kit.instruments.at(i), work, bankNames.at(i), settings.leftOnly,
                                            InterruptionFlag());
            };
        }
    }
    if (sfz) {
        const QString ignored = SfzIgnoredLine(sfzKit);
        if (!ignored.isEmpty())
            Out() << Printable(ignored) << "\n";
        if (sfzKit.releaseRegions > 0)
            Out() << QStringLiteral("release: %1 region(s) left out").arg(sfzKit.releaseRegions) << "\n";
        if (sfzKit.unplayedRegions > 0)
            Out() << QStringLiteral("no key or velocity in range: %1 region(s) left out").arg(sfzKit.unplayedRegions)
                  << "\n";
    }

    const int total = int(names.size());
    std::vector<InstrumentReport> reports(static_cast<size_t>(total));
    std::atomic<int> next{0};
    const auto work = [&]() {
        for (int i = next++; i < total && !*InterruptionFlag(); i = next++) {
            InstrumentReport &report = reports[size_t(i)];
            if (empty.at(i)) {
                // A place in the kit with no sample named: not skipped.
                report.empty = true;
                report.lines << QStringLiteral("%1: names no sample").arg(Printable(names.at(i)));
                continue;
            }
            report = ImportInstrument(names.at(i), prepares.at(i), bankNames.at(i), settings);
        }
    };
    std::vector<std::thread> workers;
    for (int k = 0; k < std::min(jobCount, total); ++k)
        workers.emplace_back(work);
    for (std::thread &worker : workers)
        worker.join();

    int built = 0;
    int skipped = 0;
    int layers = 0;
    qint64 bytes = 0;
    for (const InstrumentReport &report : reports) {
        for (const QString &line : report.lines)
            Out() << line << "\n";
        if (report.interrupted || report.empty || report.lines.isEmpty())
            continue;
        built += report.built ? 1 : 0;
        skipped += report.built ? 0 : 1;
        layers += report.layers;
        bytes += report.bytes;
    }
    Out() << Qt::flush;
    if (*InterruptionFlag()) {
        Err() << QStringLiteral("zkstool: interrupted; banks written: %1 of %2 (they stay)")
                     .arg(settings.dryRun ? 0 : built)
                     .arg(total)
              << Qt::endl;
        return InterruptedExitCode();
    }
    Out() << QStringLiteral("import-kit: %1 banks %2, %3 skipped; %4 layers, %5 bytes; %6 s")
                 .arg(built)
                 .arg(settings.dryRun ? QStringLiteral("planned (nothing written)")
                                      : QStringLiteral("written"))
                 .arg(skipped)
                 .arg(layers)
                 .arg(bytes)
                 .arg(double(clock.elapsed()) / 1000.0, 0, 'f', 1)
          << Qt::endl;
    return skipped > 0 ? kExitFailed : kExitOk;
}
