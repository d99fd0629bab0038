#ifndef ZKSTOOL_H
#define ZKSTOOL_H

// What zkstool's commands share: its streams, its command-line helpers, the
// interruption flag.

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <atomic>

#include "bankbuild.h"
#include "fileprocessor.h"
#include "layerrules.h"
#include "refusal.h"
#include "workerpool.h"

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

// What is said when a run stops for want of file descriptors.
QString OutOfDescriptorsLine(int written, int total);

// Removes a bank's working folder once it has served; should that fail
// (removing takes descriptors too), RemoveLeftoverFolders removes it once
// every bank is done.
void RemoveNowOrLater(QTemporaryDir *work);
void RemoveLeftoverFolders();

// The commands, each given the arguments after its own name; each returns
// the exit status.
int Build(const QStringList &rest);
int Info(const QStringList &rest);
int Extract(const QStringList &rest);
// import-kit, with its lines in the usage summary and help.
int ImportKit(const QStringList &rest);
QString ImportKitUsage();
QString ImportKitHelp();

#endif
