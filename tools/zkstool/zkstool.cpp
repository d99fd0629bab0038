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
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <atomic>
#include <csignal>
#include <algorithm>
#include <cmath>
#include <cerrno>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <cstdio>
#include <mutex>
#include <cstring>
#include <vector>

#ifdef Q_OS_UNIX
#include <signal.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "bankreader.h"
#include "buildall.h"
#include "catchsignals.h"
#include "explain.h"
#include "tailtrim.h"
#include "fileprocessor.h"
#include "loudness.h"
#include "layerrules.h"
#include "resultcodes.h"
#include "soundinfo.h"
#include "zksbank.h"
#include "zkstool.h"

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

// Every line on the error stream whole: build-all converts on several
// threads at once.
void AnyMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    static QMutex lock;
    const QMutexLocker locked(&lock);
    Err() << message << Qt::endl;
}

// The sound-file module narrates every step on the debug stream; a command
// line tool shows that only when asked.
void QuietDebug(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtDebugMsg)
        AnyMessage(type, context, message);
}

} // namespace

void ShowDebugLines()
{
    qInstallMessageHandler(AnyMessage);
}

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
               "                     [--trim-tails[=DB]] [--order-by-loudness] [--force]\n"
               "                     [--external-converters] [--verbose] FILE...\n")
               .arg(GateChoices())
        + BuildAllUsage()
        + ImportKitUsage()
        + QStringLiteral("       zkstool info BANK.zks [--json]\n"
                         "       zkstool extract BANK.zks DIR [--force] [--trim]\n"
                         "       zkstool --help, or COMMAND --help (or -h)\n");
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
              "         layer. In a bank of 5 or more layers each layer stays below 2097.2 KB.\n"
              "         Ctrl-C, SIGTERM, SIGHUP or SIGPIPE (its output closed) stops it: the\n"
              "         running converter is ended, its temporary files are removed and no\n"
              "         bank is written.\n"
              "         A bank given as FILE stands for its layers, as stored.\n"
              "         -o, --output BANK.zks\n"
              "                             the bank to write (kept unless --force is given)\n"
              "         --gate LEVEL        cut leading sound quieter than LEVEL (default off)\n"
              "         --thresholds LIST   one trigger threshold per file, falling strictly\n"
              "                             and ending at 1 (default: the window's spread)\n"
              "         --trim-tails[=DB]   trim each layer after its last sound above DB\n"
              "                             (default %2 dBFS), with a 10 ms fade\n"
              "         --order-by-loudness\n"
              "                             put the layers loudest first by their attack\n"
              "                             (the RMS of the first 50 ms from the onset,\n"
              "                             after the gate's cut), print the levels used,\n"
              "                             and spread the thresholds by them unless\n"
              "                             --thresholds gives them; the layer lines follow\n"
              "                             in the bank's order\n"
              "         --force             replace an existing bank: in one step once the\n"
              "                             new one is whole, through a link as cp does\n"
              "         --external-converters\n"
              "                             run the converter programs, as the window does,\n"
              "                             instead of converting in this process (the\n"
              "                             result is the same to the byte)\n"
              "         --verbose           show every step of the conversion\n")
              .arg(kBankBudget)
              .arg(kDefaultTailDbfs)
        + BuildAllHelp()
        + ImportKitHelp()
        + QStringLiteral(
              "info     Shows a bank's header, names and layer regions and checks that they\n"
              "         fit together.\n"
              "         --json              print the same as one JSON object\n"
              "extract  Writes each layer as a 16-bit mono 44100 Hz WAVE into DIR, named after\n"
              "         the layer.\n"
              "         --force             replace existing files, but never the bank being\n"
              "                             read (nor a link to it)\n"
              "         --trim              drop the zeros that pad each layer\n"
              "\n"
              "Exit status: 0 done; 1 a file was refused, the bank is damaged, or writing\n"
              "failed; 2 the command line is wrong; 130, 143, 129 or 141 build or build-all\n"
              "was interrupted by SIGINT (Ctrl-C), SIGTERM, SIGHUP or SIGPIPE (128 + the\n"
              "signal's number).\n");
}

} // namespace

int Refuse(const Refusal &refusal)
{
    Err() << "zkstool: " << refusal.Line() << Qt::endl;
    return kExitFailed;
}

int Refuse(const QString &subject, const QString &text)
{
    return Refuse(RefusalSaying(subject, text));
}

int UsageError(const QString &text)
{
    Err() << "zkstool: " << Printable(text) << "\nTry 'zkstool --help'." << Qt::endl;
    return kExitUsage;
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

QString JobsFromOption(const QString &given, int *jobs)
{
    *jobs = std::max(1, QThread::idealThreadCount());
    if (given.isEmpty())
        return QString();
    bool number = false;
    const int asked = given.toInt(&number);
    if (!number || asked < 1)
        return QStringLiteral("--jobs takes a whole number of 1 or more, not \"%1\"").arg(given);
    // Each job at work holds a thread, its files and maybe a converter:
    // beyond a few per core they only run the process out of descriptors.
    const int most = 4 * std::max(1, QThread::idealThreadCount());
    if (asked > most)
        Err() << QStringLiteral("zkstool: --jobs %1 is more than this machine can use; making "
                                "%2 banks at once")
                     .arg(asked)
                     .arg(most)
              << Qt::endl;
    *jobs = std::min(asked, most);
    return QString();
}

QString OutOfDescriptorsLine(int written, int total)
{
    return QStringLiteral("zkstool: stopped: the system has no file descriptor left (too many "
                          "open files); banks written: %1 of %2 (they stay); try fewer --jobs")
        .arg(written)
        .arg(total);
}

namespace {

std::mutex leftoverLock;
QStringList leftovers;

} // namespace

void RemoveNowOrLater(QTemporaryDir *work)
{
    if (work->isValid() && !work->remove()) {
        const std::lock_guard<std::mutex> guard(leftoverLock);
        leftovers << work->path();
    }
}

void RemoveLeftoverFolders()
{
    const std::lock_guard<std::mutex> guard(leftoverLock);
    for (const QString &folder : std::as_const(leftovers))
        QDir(folder).removeRecursively();
    leftovers.clear();
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

// Ctrl-C, kill, a closed terminal and a closed pipe (`| head -1`) end a
// build through its own clean-up instead of on the spot. A signal the caller
// chose to ignore (nohup) stays ignored.
void CatchInterruptions()
{
#ifdef Q_OS_UNIX
    CatchSignals({SIGINT, SIGTERM, SIGHUP, SIGPIPE}, OnInterruption);
#else
    CatchSignals({SIGINT, SIGTERM}, OnInterruption);
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

int Run(const QStringList &arguments)
{
    const QString command = arguments.value(1);
    const QStringList rest = arguments.mid(2);
    if (command.isEmpty()) {
        Err() << UsageLines() << "Try 'zkstool --help'." << Qt::endl;
        return kExitUsage;
    }
    if (command == QLatin1String("--help") || command == QLatin1String("-h")
        || command == QLatin1String("help") || rest.contains(QStringLiteral("--help"))
        || rest.contains(QStringLiteral("-h"))) {
        Out() << HelpText() << Qt::flush;
        return kExitOk;
    }
    if (command == QLatin1String("build"))
        return Build(rest);
    if (command == QLatin1String("build-all"))
        return BuildAll(rest);
    if (command == QLatin1String("import-kit"))
        return ImportKit(rest);
    if (command == QLatin1String("info"))
        return Info(rest);
    if (command == QLatin1String("extract"))
        return Extract(rest);
    return UsageError(QStringLiteral("unknown command \"%1\"").arg(command));
}

} // namespace

int main(int argc, char **argv)
{
#ifdef __GLIBC__
    // A layer's sound passes through buffers of a few megabytes. Left to
    // its defaults the allocator maps each afresh and hands it back, so every
    // page faults in again: keeping them for reuse halves an import's time.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
#endif
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(QuietDebug);
    int result = Run(QCoreApplication::arguments());
    RemoveWorkFolder();
    // A signal caught once the work was done, such as a pipe closed while
    // the report was printed, still shows in the exit status.
    if (result == kExitOk && *InterruptionFlag())
        result = InterruptedExitCode();
    return result;
}

