#ifndef BUILDALL_H
#define BUILDALL_H

#include <QString>
#include <QStringList>

// zkstool build-all: every kit of a sound library, or every bank a manifest
// lists, made into a bank, several at once.

// Its lines in zkstool's usage summary and help.
QString BuildAllUsage();
QString BuildAllHelp();

// Runs the command on its arguments (the command word excluded) and returns
// the exit status.
int BuildAll(const QStringList &rest);

#endif
