// zkstool import-kit: a multi-velocity drum kit made into one bank per
// instrument, with the thresholds its velocity ranges give.

#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTextStream>

#include <vector>

#include "kitsource.h"
#include "layerrules.h"
#include "refusal.h"
#include "zkstool.h"

namespace {

struct ImportSettings {
    QString outFolder;
    quint16 gate = 0;
    bool force = false;
    bool dryRun = false;
    KitImportOptions kit;
};

struct InstrumentReport {
    bool built = false;
    bool empty = false; // a place in the kit with nothing to play: not skipped
    QStringList lines;
    int layers = 0;
    int leftOut = 0; // the kit's layers of the instrument that no bank holds
    qint64 bytes = 0;
};

QString ThresholdsText(const QVector<int> &thresholds)
{
    QStringList shown;
    for (int threshold : thresholds)
        shown << QString::number(threshold);
    return shown.join(QLatin1Char(','));
}

QString Counted(int count, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
}

// Builds one instrument's bank through build's own path from the layers
// the engine prepared.
InstrumentReport ImportInstrument(const KitSource &kit, int index, const ImportSettings &settings,
                                  JobEnd *end)
{
    InstrumentReport report;
    const QString head = QStringLiteral("%1: ").arg(Printable(kit.Instruments().at(index)));
    QTemporaryDir work(QDir::tempPath() + QStringLiteral("/QuadrelX8FileGen-XXXXXX"));
    if (!work.isValid()) {
        const QString why = QStringLiteral("no temporary folder could be made");
        *end = JobEnd::FailedWith(RefusalSaying(QString(), why));
        report.lines << head + QStringLiteral("skipped, ") + why;
        return report;
    }
    const auto removeWork = qScopeGuard([&work]() { RemoveNowOrLater(&work); });
    const PreparedInstrument prepared = kit.Prepare(index, work.path(), settings.kit, InterruptionFlag());
    const auto noted = [&prepared](const QString &text) {
        return prepared.notes.isEmpty()
            ? text
            : text + QStringLiteral(" (%1)").arg(Printable(prepared.notes.join(QStringLiteral("; "))));
    };
    if (prepared.cancelled) {
        end->interrupted = true;
        return report;
    }
    if (prepared.empty) {
        // A place in the kit with nothing to play: not skipped.
        report.empty = true;
        report.lines << head + prepared.failure;
        return report;
    }
    report.leftOut = prepared.kitLayers;
    if (!prepared.failure.isEmpty()) {
        *end = JobEnd::FailedWith(RefusalSaying(QString(), prepared.failure, prepared.notes.join(QLatin1Char(' '))));
        report.lines << head + noted(QStringLiteral("skipped, ") + prepared.failure);
        return report;
    }
    BankRequest request;
    for (int i = 0; i < prepared.layers.size(); ++i) {
        request.opened.insert(i, prepared.layers.at(i));
        request.files << prepared.layers.at(i).path;
        // Lines name the kit's own file, never the one made from it.
        request.shownAs.insert(i, LastPathPart(prepared.samples.at(i)));
    }
    request.target = QDir(settings.outFolder).filePath(kit.BankNames().at(index));
    request.gate = settings.gate;
    prepared.FillThresholds(request.thresholds);
    request.thresholdsGiven = true;
    request.force = settings.force;
    request.dryRun = settings.dryRun;
    request.cancelled = InterruptionFlag();
    const BankResult result = BuildBank(request);
    if (result.outcome == BankResult::Outcome::Interrupted) {
        end->interrupted = true;
        return report;
    }
    if (result.outcome == BankResult::Outcome::Refused) {
        *end = JobEnd::FailedWith(result.refusal);
        // What was done to the layers is no news for a bank not made.
        report.lines << head + QStringLiteral("skipped, ") + result.refusal.Line();
        return report;
    }
    report.built = true;
    report.layers = result.layers;
    report.leftOut = std::max(0, prepared.kitLayers - result.layers);
    report.bytes = result.bytes;
    report.lines << head
            + noted(QStringLiteral("%1, thresholds %2 -> %3")
                        .arg(Counted(int(prepared.layers.size()), "layer", "layers"),
                             ThresholdsText(prepared.thresholds), Printable(kit.BankNames().at(index))));
    return report;
}

} // namespace

QString ImportKitUsage()
{
    return QStringLiteral("       zkstool import-kit KIT OUTDIR [--gate LEVEL] [--channel mix|left]\n"
                          "                          [--preset NAME|BANK:PROGRAM] [--keep-tails] [--jobs N]\n"
                          "                          [--force] [--dry-run]\n");
}

QString ImportKitHelp()
{
    return QStringLiteral(
        "import-kit\n"
        "         Makes a bank of each instrument of a drum kit: KIT is a drumkit.xml, a\n"
        "         folder holding one, or a .h2drumkit archive. Each bank is named\n"
        "         \"OUTDIR/<kit name> - <instrument name>.zks\" (an unnamed instrument\n"
        "         as \"instrument N\"). KIT may also be an .sfz file: a bank per key,\n"
        "         named \"OUTDIR/<sfz name> - <key name>.zks\" (the key's label, else its\n"
        "         note and number, \"c2 (36)\"); the regions of a velocity band are\n"
        "         summed into one layer, their offset and end applied (clamped to the\n"
        "         sample; a region they leave empty is left out); round robins after\n"
        "         the first and release regions are left out, opcodes not read are\n"
        "         counted in an \"ignored:\" line. KIT may also be a SoundFont (.sf2):\n"
        "         every preset of bank 128 (the drum bank) when it has one, else every\n"
        "         preset, or the one --preset names; a bank per key each plays, named\n"
        "         \"OUTDIR/<preset> - <key> <drum name>\" for keys 35 to 81 (\"Standard -\n"
        "         36 Bass Drum 1.zks\"), else \"OUTDIR/<preset> - <note> (<key>).zks\".\n"
        "         Each velocity range is a layer, its zones summed (a stereo pair as\n"
        "         --channel says), each played at the pitch the zone gives the key and\n"
        "         given its attenuation as gain; loops, envelopes, filters and\n"
        "         modulators are counted in an \"ignored:\" line. A line per preset\n"
        "         lists its keys.\n"
        "         A hit of strength v plays the first layer in the kit's order whose\n"
        "         range holds v/127; a layer's threshold is the lowest strength it\n"
        "         plays. Layers that play none, or repeat an earlier layer's range, are\n"
        "         left out; more than 8 are reduced to 8. A sample that is missing or\n"
        "         cannot be decoded is left out with a note, a round robin of its range\n"
        "         serving in its place. Each layer is converted as any layer is, made\n"
        "         mono, given its gain (one that is not finite counts as 1; the whole\n"
        "         instrument scaled down by one factor when a layer would clip), its\n"
        "         quiet tail trimmed as --trim-tails does, and padded with silence when\n"
        "         shorter than a layer may be; pitch is not applied (but for a\n"
        "         SoundFont). Over the budget,\n"
        "         layers longer than the longest length that fits are cut to it with a\n"
        "         10 ms fade; under 1 s, a layer is dropped instead. A layer's name is\n"
        "         its sample's, shortened to 60 characters. Prints a line per\n"
        "         instrument (or key) with what was changed, then how many banks were\n"
        "         written and skipped, their layers and the kit's layers left out.\n"
        "         --gate LEVEL        as for build (off unless given)\n"
        "         --channel mix|left  stereo samples mixed as (L+R)/2 (default), or\n"
        "                             their left channel kept\n"
        "         --preset NAME|BANK:PROGRAM\n"
        "                             of a SoundFont, the preset of that name (any\n"
        "                             case) or number only\n"
        "         --keep-tails        keep each layer's quiet tail (cut only when the\n"
        "                             budget needs it)\n"
        "         --jobs N            make N banks at once (default: one per core; at\n"
        "                             most 4 per core)\n"
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
    const QCommandLineOption preset(QStringLiteral("preset"), QString(), QStringLiteral("NAME"));
    const QCommandLineOption keepTails(QStringLiteral("keep-tails"));
    const QCommandLineOption force(QStringLiteral("force"));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"));
    parser.addOptions({gate, jobs, channel, preset, keepTails, force, dryRun});
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
    settings.kit.leftOnly = parser.value(channel) == QLatin1String("left");
    settings.kit.trimTails = !parser.isSet(keepTails);
    if (!GateFromLabel(parser.value(gate), &settings.gate))
        return UsageError(QStringLiteral("unknown gate \"%1\": choose %2")
                              .arg(parser.value(gate), GateChoices()));
    int jobCount = 1;
    error = JobsFromOption(parser.isSet(jobs) ? parser.value(jobs) : QString(), &jobCount);
    if (!error.isEmpty())
        return UsageError(error);

    const QString kitPath = parser.positionalArguments().at(0);
    if (parser.isSet(preset) && !KitHasPresets(kitPath))
        return UsageError(QStringLiteral("--preset chooses among a SoundFont's presets; KIT is no .sf2 file"));
    QTemporaryDir unpacked(QDir::tempPath() + QStringLiteral("/QuadrelX8Kit-XXXXXX"));
    if (!unpacked.isValid())
        return Refuse(kitPath, QStringLiteral("no temporary folder could be made"));
    const std::unique_ptr<KitSource> kit
        = OpenKitSource(kitPath, unpacked.path(), &error, InterruptionFlag(), parser.value(preset));
    if (!kit) {
        if (*InterruptionFlag()) {
            Err() << "zkstool: interrupted; nothing written" << Qt::endl;
            return InterruptedExitCode();
        }
        return Refuse(kitPath, error);
    }
    if (kit->Instruments().isEmpty())
        return Refuse(kitPath, kit->NoInstrumentsReason());
    if (!settings.dryRun && !QDir().mkpath(settings.outFolder))
        return Refuse(settings.outFolder, QStringLiteral("cannot create this folder"));
    for (const QString &note : kit->Notes())
        Out() << Printable(note) << "\n";

    const int total = int(kit->Instruments().size());
    std::vector<InstrumentReport> reports(static_cast<size_t>(total));
    int built = 0;
    int skipped = 0;
    int layers = 0;
    int leftOut = 0;
    qint64 bytes = 0;
    PoolCalls calls;
    calls.run = [&](int i) {
        JobEnd end;
        reports[size_t(i)] = ImportInstrument(*kit, i, settings, &end);
        return end;
    };
    calls.tell = [&](int i) {
        const InstrumentReport &report = reports[size_t(i)];
        for (const QString &line : report.lines)
            Out() << line << "\n";
        Out() << Qt::flush;
        if (report.empty || report.lines.isEmpty())
            return;
        built += report.built ? 1 : 0;
        skipped += report.built ? 0 : 1;
        layers += report.layers;
        leftOut += report.leftOut;
        bytes += report.bytes;
    };
    const PoolEnd end = RunInOrder(total, jobCount, InterruptionFlag(), calls);
    RemoveLeftoverFolders();
    const int written = settings.dryRun ? 0 : built;
    if (end == PoolEnd::OutOfDescriptors) {
        Err() << OutOfDescriptorsLine(written, total) << Qt::endl;
        return kExitFailed;
    }
    if (*InterruptionFlag()) {
        Err() << QStringLiteral("zkstool: interrupted; banks written: %1 of %2 (they stay)")
                     .arg(written)
                     .arg(total)
              << Qt::endl;
        return InterruptedExitCode();
    }
    Out() << QStringLiteral("import-kit: %1 %2, %3 skipped; %4, %5 left out; %6 bytes; %7 s")
                 .arg(Counted(built, "bank", "banks"),
                      settings.dryRun ? QStringLiteral("planned (nothing written)") : QStringLiteral("written"))
                 .arg(skipped)
                 .arg(Counted(layers, "layer", "layers"))
                 .arg(leftOut)
                 .arg(bytes)
                 .arg(double(clock.elapsed()) / 1000.0, 0, 'f', 1)
          << Qt::endl;
    return skipped > 0 ? kExitFailed : kExitOk;
}
