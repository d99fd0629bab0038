// zkstool import-kit: a multi-velocity drum kit made into one bank per
// instrument, with the thresholds its velocity ranges give.

#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>

#include <atomic>
#include <thread>
#include <vector>

#include "drumkit.h"
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

// Builds one instrument's bank through build's own path from the layers
// the engine prepared.
InstrumentReport ImportInstrument(const KitInstrument &instrument, const QString &bankName,
                                  const ImportSettings &settings)
{
    InstrumentReport report;
    const QString head = QStringLiteral("%1: ").arg(Printable(instrument.name));
    if (instrument.layers.isEmpty() && instrument.problems.isEmpty()) {
        report.empty = true;
        report.lines << head + QStringLiteral("names no sample");
        return report;
    }
    QTemporaryDir work(QDir::tempPath() + QStringLiteral("/QuadrelX8FileGen-XXXXXX"));
    if (!work.isValid()) {
        report.lines << head + QStringLiteral("skipped, no temporary folder could be made");
        return report;
    }
    const PreparedInstrument prepared
        = PrepareKitInstrument(instrument, work.path(), bankName, settings.leftOnly, InterruptionFlag());
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
            + noted(QStringLiteral("%1 layers, thresholds %2 -> %3")
                        .arg(prepared.layers.size())
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
        "         \"OUTDIR/<kit name> - <instrument name>.zks\". A layer's threshold is\n"
        "         the lowest hit strength (1..127) its velocity range plays; layers\n"
        "         that play none, or repeat an earlier layer's range, are left out;\n"
        "         more than 8 are reduced to 8. Each layer is converted as any layer\n"
        "         is, made mono, given its gain (the whole instrument scaled down by\n"
        "         one factor when a layer would clip) and its quiet tail trimmed as\n"
        "         --trim-tails does; pitch is not applied. Over the budget, layers\n"
        "         longer than the longest length that fits are cut to it with a 10 ms\n"
        "         fade; under 1 s, a layer is dropped instead. A missing sample is\n"
        "         reported and left out. Prints a line per instrument, then how many\n"
        "         banks were written and skipped.\n"
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
    Drumkit kit;
    if (!ReadDrumkit(kitPath, unpacked.path(), &kit, &error))
        return Refuse(kitPath, error);
    if (kit.instruments.isEmpty())
        return Refuse(kitPath, QStringLiteral("the kit has no instruments"));
    if (!settings.dryRun && !QDir().mkpath(settings.outFolder))
        return Refuse(settings.outFolder, QStringLiteral("cannot create this folder"));
    QStringList names;
    for (const KitInstrument &instrument : std::as_const(kit.instruments))
        names << instrument.name;
    const QStringList bankNames = KitBankFileNames(kit.name, names);

    const int total = int(kit.instruments.size());
    std::vector<InstrumentReport> reports(static_cast<size_t>(total));
    std::atomic<int> next{0};
    const auto work = [&]() {
        for (int i = next++; i < total && !*InterruptionFlag(); i = next++)
            reports[size_t(i)] = ImportInstrument(kit.instruments.at(i), bankNames.at(i), settings);
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
