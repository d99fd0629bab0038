#ifndef ZKSTOOL_H
#define ZKSTOOL_H

// What zkstool's commands share: its streams, its command-line helpers, the
// interruption flag, and the way one bank is built.

#include <QHash>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <atomic>
#include <functional>

#include "fileprocessor.h"
#include "layerrules.h"
#include "refusal.h"

class QCommandLineParser;
class QTemporaryDir;
class QTextStream;

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitSignalBase = 128 };

QTextStream &Out();
QTextStream &Err();

// Prints "zkstool: SUBJECT: TEXT (DETAIL)" on the error stream; returns
// kExitFailed.
int Refuse(const Refusal &refusal);
// The same for a refusal in words of its own.
int Refuse(const QString &subject, const QString &text);
// For --verbose: from now on the debug stream's lines reach the error
// stream too.
void ShowDebugLines();
// Says what is wrong with the command line; returns kExitUsage.
int UsageError(const QString &text);
// Parses a command's arguments; `rest` excludes the command word.
bool ParseCommand(QCommandLineParser &parser, const QString &command, const QStringList &rest,
                  QString *error);

// The labels --gate takes, "off|-60dB|...", and the amplitude of one.
QString GateChoices();
bool GateFromLabel(const QString &text, quint16 *amplitude);
// Reads one threshold per layer from `parts` into `table` (indexed by
// layer); false with the reason when they are not `count` whole numbers
// that fall strictly and end at 1.
bool ParseThresholds(const QStringList &parts, int count, ThresholdTable table, QString *error);

// Ctrl-C, SIGTERM and SIGHUP set a flag instead of ending the process, so a
// build stops through its own clean-up.
void CatchInterruptions();
const std::atomic<bool> *InterruptionFlag();
// 128 + the number of the first signal caught.
int InterruptedExitCode();

// --jobs as build-all and import-kit take it: `given` the option's value
// (empty: not given, one job per core). A usage error's text when it is no
// whole number of 1 or more; more than four per core are lowered to that,
// with a note, as beyond it they only run the process out of descriptors.
QString JobsFromOption(const QString &given, int *jobs);

// Whether a refusal came of the process (EMFILE) or the system (ENFILE)
// having no file descriptor to give: its reason carries the system's words
// for it, wherever in the chain the file was refused, or no descriptor is
// to be had now.
bool OutOfDescriptors(const Refusal &refusal);
// What is said when a run stops for want of file descriptors.
QString OutOfDescriptorsLine(int written, int total);

// Removes a bank's working folder once it has served; should that fail
// (removing takes descriptors too), RemoveLeftoverFolders removes it once
// every bank is done.
void RemoveNowOrLater(QTemporaryDir *work);
void RemoveLeftoverFolders();

// One bank to build, as `build` is asked for it.
struct BankRequest {
    QStringList files; // 1 to kMaxLayers sounds, layer 1 first
    QString target;
    quint16 gate = 0;
    ThresholdTable thresholds = {};
    bool force = false;     // replace an existing bank
    bool inProcess = true;  // convert in this process, not through the converter programs
    bool dryRun = false;    // size the bank but write nothing, not even its folder
    bool trimTails = false; // trim each layer's quiet tail ...
    double tailDbfs = -60;  // ... after its last sample above this level
    bool orderByLoudness = false; // loudest first, thresholds from the levels
    bool thresholdsGiven = false; // ... unless the thresholds were given
    // Layers taken from banks, by their place in `files`: already in the
    // bank's form, they are neither converted nor checked again.
    QHash<int, LayerFile> opened;
    // How the user knows those layers, "kit2.zks, layer 4 (h1.wav)", by
    // their place in `files`: their files are temporary.
    QHash<int, QString> shownAs;
    const std::atomic<bool> *cancelled = nullptr;
    // Makes the folder for the converted files once the first file is to be
    // converted, and gives its path (empty when none could be made). Unset:
    // the tool's own working folder.
    std::function<QString()> makeWorkFolder;
};

struct BankResult {
    enum class Outcome { Built, Refused, Interrupted };
    Outcome outcome = Outcome::Built;
    // The report for standard output: a line per layer, then the bank
    // written (or, in a dry run, the bank that would be).
    QStringList lines;
    Refusal refusal; // when refused
    int layers = 0;
    qint64 bytes = 0; // the bank's size
};

// The commands, each given the arguments after its own name; each returns
// the exit status.
int Build(const QStringList &rest);
int Info(const QStringList &rest);
int Extract(const QStringList &rest);
// import-kit, with its lines in the usage summary and help.
int ImportKit(const QStringList &rest);
QString ImportKitUsage();
QString ImportKitHelp();

// Converts, checks and charges each file, then writes the bank, refusing the
// first file (or the bank) the window would refuse.
BankResult BuildBank(const BankRequest &request);

#endif
