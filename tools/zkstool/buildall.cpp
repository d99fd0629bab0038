#include "buildall.h"

#include <QCommandLineParser>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTextStream>
#include <QVector>

#include <algorithm>
#include <iterator>
#include <memory>
#include <vector>

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include "cardnames.h"
#include "layerrules.h"
#include "manifest.h"
#include "resultcodes.h"
#include "zkstool.h"

namespace {

// One bank of the plan: where its sounds come from and what becomes of it.
struct PlannedBank {
    QString name;           // its file name in the output folder
    QString origin;         // the folder or manifest line it comes from, as shown
    QStringList files;      // layer 1 first
    QStringList thresholds; // from the manifest; empty: none given there
    ThresholdTable table = {};
    QString tableSource;    // where the thresholds come from, as shown
    Refusal skip;           // why it is skipped without converting anything
};

// How every bank is made.
struct Settings {
    QString outFolder;
    quint16 gate = 0;
    QStringList thresholds; // --thresholds, for the banks of as many layers
    bool force = false;
    bool dryRun = false;
};

// What became of one bank: its part of the report.
struct BankReport {
    enum class Outcome { Built, Skipped };
    Outcome outcome = Outcome::Built;
    QStringList lines;
    int layers = 0;
    qint64 bytes = 0;
};

// --- the plan --------------------------------------------------------------

// Folders in the order of their paths, part by part, so a folder comes
// right before what it holds.
bool FolderBefore(const QString &a, const QString &b)
{
    const QStringList x = a.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const QStringList y = b.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (int i = 0; i < x.size() && i < y.size(); ++i) {
        if (const int order = NaturalCompare(x.at(i), y.at(i)))
            return order < 0;
    }
    return x.size() < y.size();
}

// The sound files a folder itself holds, in natural order. Hidden files are
// left out; links count when they lead to a regular file.
QStringList SoundFilesIn(const QDir &folder)
{
    QStringList names;
    for (const QFileInfo &entry : folder.entryInfoList(QDir::Files, QDir::NoSort)) {
        if (entry.isFile() && HasSoundFileSuffix(entry.fileName()))
            names << entry.fileName();
    }
    std::sort(names.begin(), names.end(),
              [](const QString &a, const QString &b) { return NaturalCompare(a, b) < 0; });
    return names;
}

// A bank for every folder under `source` (itself included) that holds
// sound files, named after the folder's path below `source`.
QVector<PlannedBank> PlanFolders(const QString &source)
{
    const QDir root(source);
    const QDir top(root.absolutePath());
    QStringList folders{QString()};
    // Linked folders are not entered: a link back up would never end.
    QDirIterator walk(top.path(), QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks,
                      QDirIterator::Subdirectories);
    while (walk.hasNext())
        folders << top.relativeFilePath(walk.next());
    std::sort(folders.begin(), folders.end(), FolderBefore);

    QVector<PlannedBank> plan;
    for (const QString &folder : folders) {
        const QDir dir(folder.isEmpty() ? root.path() : root.filePath(folder));
        const QStringList names = SoundFilesIn(dir);
        if (names.isEmpty())
            continue;
        PlannedBank bank;
        bank.origin = dir.path();
        bank.name = CardSafeFileName(folder.isEmpty() ? top.dirName()
                                                      : QString(folder).replace(
                                                          QLatin1Char('/'), QStringLiteral(" - ")),
                                     QStringLiteral(".zks"));
        for (const QString &name : names)
            bank.files << dir.filePath(name);
        if (names.size() > kMaxLayers)
            bank.skip = RefusalSaying(bank.origin, TooManyFilesText(int(names.size())));
        plan << bank;
    }
    return plan;
}

// A manifest's bank name as a file name: a "/" would lead into a folder.
QString BankFileName(const QString &bank)
{
    const QString name = QString(bank).replace(QLatin1Char('/'), QStringLiteral(" - "));
    const QString suffix = QStringLiteral(".zks");
    if (name.endsWith(suffix, Qt::CaseInsensitive))
        return CardSafeFileName(name.chopped(int(suffix.size())), name.right(int(suffix.size())));
    return CardSafeFileName(name, suffix);
}

// The banks a manifest lists, layer files taken from the manifest's folder
// unless they are absolute. What is wrong with rows that name no bank goes
// to `errors`, one line each.
QVector<PlannedBank> PlanManifest(const QString &path, const QByteArray &bytes,
                                  QStringList *errors)
{
    QStringList rowErrors;
    const QVector<ManifestBank> banks = ManifestBanks(ReadManifest(bytes), &rowErrors);
    for (const QString &error : rowErrors)
        *errors << path + QLatin1Char(' ') + error;
    const QDir folder = QFileInfo(path).absoluteDir();
    QVector<PlannedBank> plan;
    for (const ManifestBank &listed : banks) {
        PlannedBank bank;
        bank.name = BankFileName(listed.name);
        bank.origin = QStringLiteral("%1 line %2").arg(path).arg(listed.line);
        for (const QString &file : listed.layerFiles)
            bank.files << folder.filePath(file);
        bank.thresholds = listed.thresholds;
        if (!listed.problem.isEmpty())
            bank.skip = RefusalSaying(QString(), path + QLatin1Char(' ') + listed.problem);
        plan << bank;
    }
    return plan;
}

// Which thresholds a bank gets: its own from the manifest, those given with
// --thresholds when it has as many layers, or else the window's spread.
void ChooseThresholds(PlannedBank &bank, const QStringList &given)
{
    const int count = int(bank.files.size());
    DefaultThresholds(bank.table, count);
    bank.tableSource = QStringLiteral("the default spread");
    QString error;
    if (!bank.thresholds.isEmpty()) {
        if (ParseThresholds(bank.thresholds, count, bank.table, &error))
            bank.tableSource = QStringLiteral("from the manifest");
        else
            bank.skip = RefusalSaying(bank.origin, error);
    } else if (given.size() == count && ParseThresholds(given, count, bank.table, &error)) {
        bank.tableSource = QStringLiteral("as given");
    }
}

// No other bank of the plan may have a bank's file name, in any case: the
// device's card, Windows and macOS take Kicks.zks and kicks.zks for one file.
void CheckNames(QVector<PlannedBank> &plan)
{
    QHash<QString, QString> taken; // bank name folded to lower case: the origin of its bank
    for (PlannedBank &bank : plan) {
        if (!bank.skip.IsEmpty())
            continue;
        if (taken.contains(bank.name.toCaseFolded()))
            bank.skip = RefusalSaying(bank.origin,
                                      QStringLiteral("the bank of %1 has the same name")
                                          .arg(taken.value(bank.name.toCaseFolded())));
        else
            taken.insert(bank.name.toCaseFolded(), bank.origin);
    }
}

// --- one bank --------------------------------------------------------------

BankReport Skipped(const PlannedBank &bank, const Refusal &why)
{
    BankReport report;
    report.outcome = BankReport::Outcome::Skipped;
    report.lines << QStringLiteral("skipped %1: %2").arg(Printable(bank.name), why.Line());
    return report;
}

QString ThresholdsShown(const PlannedBank &bank)
{
    QStringList values;
    for (int n = 1; n <= bank.files.size(); ++n)
        values << QString::number(bank.table[n]);
    return values.join(QLatin1Char(','));
}

// Builds one bank through build's own path, converting into a folder of its
// own that goes, with everything in it, once the bank is done.
BankReport MakeBank(const PlannedBank &bank, const Settings &settings, JobEnd *end)
{
    if (!bank.skip.IsEmpty())
        return Skipped(bank, bank.skip);
    std::unique_ptr<QTemporaryDir> work;
    const auto removeWork = qScopeGuard([&work]() {
        if (work)
            RemoveNowOrLater(work.get());
    });
    BankRequest request;
    request.files = bank.files;
    request.target = QDir(settings.outFolder).filePath(bank.name);
    request.gate = settings.gate;
    std::copy(std::begin(bank.table), std::end(bank.table), std::begin(request.thresholds));
    request.force = settings.force;
    request.dryRun = settings.dryRun;
    request.cancelled = InterruptionFlag();
    request.makeWorkFolder = [&work]() {
        work = std::make_unique<QTemporaryDir>(QDir::tempPath()
                                               + QStringLiteral("/QuadrelX8FileGen-XXXXXX"));
        return work->isValid() ? work->path() : QString();
    };
    const BankResult result = BuildBank(request);

    BankReport report;
    switch (result.outcome) {
    case BankResult::Outcome::Interrupted:
        end->interrupted = true;
        return report;
    case BankResult::Outcome::Refused:
        *end = JobEnd::FailedWith(result.refusal);
        return Skipped(bank, result.refusal);
    case BankResult::Outcome::Built:
        break;
    }
    report.lines << QStringLiteral("bank %1 from %2, thresholds %3 (%4)")
                        .arg(Printable(bank.name), Printable(bank.origin), ThresholdsShown(bank),
                             bank.tableSource);
    for (const QString &line : result.lines)
        report.lines << QStringLiteral("  ") + line;
    report.layers = result.layers;
    report.bytes = result.bytes;
    return report;
}

// --- running the plan ------------------------------------------------------

// The line that shows, on a terminal, how far the run is: redrawn in place
// and cleared before any other output.
class ProgressLine
{
public:
    ProgressLine()
    {
#ifdef Q_OS_UNIX
        shown_ = isatty(STDOUT_FILENO);
        struct winsize size = {};
        if (shown_ && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1)
            width_ = size.ws_col - 1;
#endif
    }

    void show(int done, int total, const QString &current)
    {
        if (!shown_)
            return;
        QString text = QStringLiteral("%1/%2 banks done").arg(done).arg(total);
        if (!current.isEmpty())
            text += QStringLiteral(", working on %1").arg(Printable(current));
        // Each line is drawn over the one before: a wrapped line would stay.
        text.truncate(width_);
        if (text == drawn_)
            return;
        Out() << "\r" << text << "\x1b[K" << Qt::flush;
        drawn_ = text;
    }

    void clear()
    {
        if (!drawn_.isEmpty())
            Out() << "\r\x1b[K" << Qt::flush;
        drawn_.clear();
    }

private:
    bool shown_ = false;
    QString drawn_; // what the line shows now
    int width_ = 79;
};

struct Tally {
    int done = 0; // banks written, or planned in a dry run
    int skipped = 0;
    int layers = 0;
    qint64 bytes = 0;
};

void Print(const BankReport &report, Tally *tally)
{
    for (const QString &line : report.lines)
        Out() << line << "\n";
    Out() << Qt::flush;
    if (report.outcome == BankReport::Outcome::Skipped) {
        ++tally->skipped;
    } else {
        ++tally->done;
        tally->layers += report.layers;
        tally->bytes += report.bytes;
    }
}

// Makes the banks of the plan on `jobs` threads and prints their reports in
// the plan's order as they come in. When interrupted, the banks not made by
// then are left out, the ones made are reported.
PoolEnd RunPlan(const QVector<PlannedBank> &plan, const Settings &settings, int jobs, Tally *tally)
{
    const int total = int(plan.size());
    std::vector<BankReport> reports(static_cast<size_t>(total));
    ProgressLine progress;
    progress.show(0, total, QString());
    PoolCalls calls;
    calls.run = [&](int i) {
        JobEnd end;
        reports[size_t(i)] = MakeBank(plan.at(i), settings, &end);
        return end;
    };
    calls.tell = [&](int i) {
        progress.clear();
        Print(reports[size_t(i)], tally);
    };
    calls.waiting = [&](int ended, int lastStarted) {
        progress.show(ended, total, lastStarted < 0 ? QString() : plan.at(lastStarted).name);
    };
    const PoolEnd end = RunInOrder(total, jobs, InterruptionFlag(), calls);
    progress.clear();
    return end;
}

// --- the command -----------------------------------------------------------

struct Options {
    QString source;   // empty with a manifest
    QString manifest; // empty without
    Settings settings;
    int jobs = 1;
};

// Reads the command line into `options`; a usage error's text otherwise.
QString ParseOptions(const QStringList &rest, Options *options)
{
    QCommandLineParser parser;
    const QCommandLineOption manifest(QStringLiteral("manifest"), QString(),
                                      QStringLiteral("FILE"));
    const QCommandLineOption gate(QStringLiteral("gate"), QString(), QStringLiteral("LEVEL"),
                                  QStringLiteral("off"));
    const QCommandLineOption thresholds(QStringLiteral("thresholds"), QString(),
                                        QStringLiteral("LIST"));
    const QCommandLineOption force(QStringLiteral("force"));
    const QCommandLineOption jobs(QStringLiteral("jobs"), QString(), QStringLiteral("N"));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"));
    parser.addOptions({manifest, gate, thresholds, force, jobs, dryRun});
    QString error;
    if (!ParseCommand(parser, QStringLiteral("build-all"), rest, &error))
        return error;

    const QStringList places = parser.positionalArguments();
    Settings &settings = options->settings;
    if (parser.isSet(manifest)) {
        if (places.size() != 1)
            return QStringLiteral("build-all --manifest FILE.csv needs the folder for the "
                                  "banks, and nothing else");
        options->manifest = parser.value(manifest);
        settings.outFolder = places.at(0);
    } else {
        if (places.size() != 2)
            return QStringLiteral("build-all needs a source folder and a folder for the banks");
        options->source = places.at(0);
        settings.outFolder = places.at(1);
    }
    if (!GateFromLabel(parser.value(gate), &settings.gate))
        return QStringLiteral("unknown gate \"%1\": choose %2").arg(parser.value(gate), GateChoices());
    if (parser.isSet(thresholds)) {
        settings.thresholds = parser.value(thresholds).split(QLatin1Char(','));
        const int count = int(settings.thresholds.size());
        ThresholdTable table;
        if (count > kMaxLayers)
            return QStringLiteral("%1 thresholds given; a bank holds at most %2 layers")
                .arg(count)
                .arg(kMaxLayers);
        if (!ParseThresholds(settings.thresholds, count, table, &error))
            return error;
    }
    settings.force = parser.isSet(force);
    settings.dryRun = parser.isSet(dryRun);
    return JobsFromOption(parser.isSet(jobs) ? parser.value(jobs) : QString(), &options->jobs);
}

} // namespace

QString BuildAllUsage()
{
    return QStringLiteral(
        "       zkstool build-all SOURCE OUTDIR [--gate LEVEL] [--thresholds T1,T2,...]\n"
        "                         [--force] [--jobs N] [--dry-run]\n"
        "       zkstool build-all --manifest FILE.csv OUTDIR [options as above]\n");
}

QString BuildAllHelp()
{
    return QStringLiteral(
               "build-all\n"
               "         Makes a bank of every folder under SOURCE, SOURCE included, that holds\n"
               "         1 to 8 sound files, named with one of the suffixes\n"
               "         %1\n"
               "         in any case, taken as layers in natural name order (\"hit2\" before\n"
               "         \"hit10\"). Each bank is named after its folder's path below SOURCE, \"/\"\n"
               "         written \" - \" (Kicks/Dry makes \"OUTDIR/Kicks - Dry.zks\"; SOURCE's own\n"
               "         sounds are named after SOURCE). A name is made one the device's card\n"
               "         takes: each of \"*:<>?\\| and each control character becomes \"_\",\n"
               "         trailing dots and spaces go, a device name (CON, NUL, COM1, ...) gets a\n"
               "         \"_\", and one over 255 bytes is shortened in the middle; a second folder\n"
               "         whose bank's name comes out the same, in any case, is skipped. Hidden\n"
               "         files and folders are left out. Several banks are made at once, each as\n"
               "         build makes it, converting in this process. A folder of more than 8\n"
               "         sounds, a refused sound or a bank over the budget is skipped with a\n"
               "         line saying why; the others are written. Prints each bank's lines in\n"
               "         order, then how many banks were written and skipped, their layers,\n"
               "         bytes and the time taken. Ctrl-C, SIGTERM or SIGHUP stops every\n"
               "         conversion and removes its files; the banks written so far stay.\n"
               "         --manifest FILE.csv  the banks listed in FILE.csv instead of SOURCE's\n"
               "                             folders: rows of bank,layer_file[,threshold],\n"
               "                             one per layer (a layer file is taken from\n"
               "                             FILE.csv's folder unless its path is absolute);\n"
               "                             a bank's rows give a threshold each, or none\n"
               "                             does; a bank's name is made one the card takes\n"
               "                             as above\n"
               "         --gate LEVEL        as for build\n"
               "         --thresholds LIST   as for build, for the banks of as many layers;\n"
               "                             the others get the default spread\n"
               "         --force             replace existing banks\n"
               "         --jobs N            make N banks at once (default: one per core; at\n"
               "                             most 4 per core)\n"
               "         --dry-run           print the plan (banks, layers, sizes, space\n"
               "                             left) and write nothing; only sounds that are\n"
               "                             not 16-bit at 44100 Hz are converted to size them\n"
               "         Exits with 1 when any bank was skipped.\n")
        .arg(SoundFileSuffixes().join(QLatin1Char(' ')));
}

int BuildAll(const QStringList &rest)
{
    CatchInterruptions();
    QElapsedTimer clock;
    clock.start();
    Options options;
    const QString error = ParseOptions(rest, &options);
    if (!error.isEmpty())
        return UsageError(error);
    const Settings &settings = options.settings;

    QVector<PlannedBank> plan;
    QStringList errors;
    if (!options.manifest.isEmpty()) {
        QFile file(options.manifest);
        if (!QFileInfo(options.manifest).isFile() || !file.open(QIODevice::ReadOnly))
            return Refuse(options.manifest, QStringLiteral("cannot read this file"));
        plan = PlanManifest(options.manifest, file.readAll(), &errors);
    } else {
        if (!QFileInfo(options.source).isDir())
            return Refuse(options.source, QStringLiteral("is not a folder"));
        plan = PlanFolders(options.source);
    }
    if (plan.isEmpty() && errors.isEmpty())
        return Refuse(options.manifest.isEmpty() ? options.source : options.manifest,
                      options.manifest.isEmpty() ? QStringLiteral("no folder here holds sound files")
                                                 : QStringLiteral("lists no banks"));
    for (PlannedBank &bank : plan) {
        if (bank.skip.IsEmpty())
            ChooseThresholds(bank, settings.thresholds);
    }
    CheckNames(plan);
    if (!settings.dryRun && !QDir().mkpath(settings.outFolder))
        return Refuse(settings.outFolder, QStringLiteral("cannot create this folder"));

    Tally tally;
    for (const QString &line : errors) {
        Out() << QStringLiteral("skipped %1").arg(Printable(line)) << "\n";
        ++tally.skipped;
    }
    const PoolEnd end = RunPlan(plan, settings, options.jobs, &tally);
    RemoveLeftoverFolders();
    if (end != PoolEnd::Whole) {
        if (end == PoolEnd::OutOfDescriptors) {
            Err() << OutOfDescriptorsLine(tally.done, int(plan.size())) << Qt::endl;
            return kExitFailed;
        }
        Err() << (settings.dryRun ? QStringLiteral("zkstool: interrupted; nothing written")
                                  : QStringLiteral("zkstool: interrupted; banks written: %1 of "
                                                   "%2 (they stay)")
                                        .arg(tally.done)
                                        .arg(plan.size()))
              << Qt::endl;
        return InterruptedExitCode();
    }
    Out() << QStringLiteral("build-all: %1 banks %2, %3 skipped; %4 layers, %5 bytes; %6 s")
                 .arg(tally.done)
                 .arg(settings.dryRun ? QStringLiteral("planned (nothing written)")
                                      : QStringLiteral("written"))
                 .arg(tally.skipped)
                 .arg(tally.layers)
                 .arg(tally.bytes)
                 .arg(double(clock.elapsed()) / 1000.0, 0, 'f', 1)
          << Qt::endl;
    return tally.skipped > 0 ? kExitFailed : kExitOk;
}
