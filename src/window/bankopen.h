#ifndef BANKOPEN_H
#define BANKOPEN_H

#include <QString>
#include <QVector>

#include "bankreader.h"
#include "layerrules.h"

class Prompts;
class QMimeData;

// Opening an existing bank in the window: its layers become rows again,
// ready to be played, edited and generated as any others.

// True when `data` holds files and nothing but local ones: the only drags
// the window takes.
bool IsLocalFileDrag(const QMimeData *data);

// The path of the one bank a drop holds: a single local file whose name
// ends in ".zks" (in any case). Empty for any other drop.
QString DroppedBankPath(const QMimeData *data);

// Reads the bank at `bankPath` into layer files of the working folder (see
// ReadBankLayers). Besides a bank that is unreadable or damaged, one this
// window could not generate again is refused: one with a layer name holding
// a control character. On refusal nothing is left in the
// working folder and `problems` says why.
bool ReadBankToOpen(const QString &bankPath, QVector<BankLayer> *layers, ThresholdTable thresholds,
                    QVector<BankProblem> *problems);

// Removes the layer files of a bank that was read but not opened.
void DiscardBankLayers(const QVector<BankLayer> &layers);

// The open dialog for a bank, starting in `folder`; empty when cancelled.
QString AskForBankToOpen(Prompts &prompts, const QString &folder);

// Asks before a bank replaces the layers the user has; true to go on.
bool ConfirmReplacingLayers(Prompts &prompts, const QString &bankPath);

// Why a bank was refused in one plain sentence, from its `problems`:
// "kit.zks is not a bank file.", "This bank is damaged: layer 3 ends past
// the end of the file.", "kit.zks: no such file.".
QString BankErrorSentence(const QString &bankName, const QVector<BankProblem> &problems);

// Tells that the bank at `bankPath` is refused: "File Error", one plain
// sentence below it and `problems` as the details, one a line.
void ShowBankError(Prompts &prompts, const QString &bankPath, const QVector<BankProblem> &problems);

#endif
