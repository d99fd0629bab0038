#ifndef PROMPTS_H
#define PROMPTS_H

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QVector>

#include "kitsource.h"
#include "refusal.h"

class QWidget;

// Every question the window asks and every message it shows goes through
// here, so that the flows asking them need no dialog to run: the window
// shows real dialogs (DialogPrompts), tests answer from a script.

// An answer to a question, each one a button.
enum class PromptAnswer { Yes, No, Generate, Discard, Cancel };

// A message box: a title, a text and, optionally, a detail below the text
// and details behind "Show Details...".
struct PromptMessage {
    QMessageBox::Icon icon = QMessageBox::Information;
    QString title;
    QString text;
    Qt::TextFormat textFormat = Qt::AutoText;
    // The text can be selected and copied (a path to type elsewhere).
    bool selectableText = false;
    QString detail;
    // The detail holds file names, which are the user's: plain text unless
    // the caller escaped it into markup itself.
    Qt::TextFormat detailFormat = Qt::PlainText;
    QString details;
};

// An open or save dialog: its title, the folder it starts in, its filters
// (";;" between them) and the one selected at first, if any.
struct FileQuestion {
    QString title;
    QString folder;
    QString filters;
    QString selectedFilter;
};

class Prompts
{
public:
    virtual ~Prompts() = default;

    // Asks `text` with `answers` as its buttons, in that order; Return gives
    // `defaultAnswer`. Closing the box gives its escape answer (Cancel, or
    // else No).
    virtual PromptAnswer Ask(const QString &text, const QVector<PromptAnswer> &answers,
                             PromptAnswer defaultAnswer) = 0;
    // The files chosen to open: one, or several when `several`; empty when
    // cancelled.
    virtual QStringList OpenFiles(const FileQuestion &question, bool several) = 0;
    // Where to save, `suffix` added to a name typed without one and the
    // user asked before an existing file is replaced; empty when cancelled.
    virtual QString SavePath(const FileQuestion &question, const QString &suffix,
                             const QString &suggestedName) = 0;
    // The index of the kit instrument chosen, -1 when cancelled.
    virtual int ChooseInstrument(const QString &kitName,
                                 const QVector<KitInstrumentSummary> &instruments) = 0;
    // Shows `message` until the user closes it.
    virtual void Show(const PromptMessage &message) = 0;

    // A Yes/No question whose default is No; true for Yes.
    bool Confirm(const QString &text);
};

// A refusal's message box: its text, and its detail below, naming its
// subject when it has one.
void ShowRefusal(Prompts &prompts, const Refusal &refusal);

// The real dialogs, in front of `parent`.
class DialogPrompts : public Prompts
{
public:
    explicit DialogPrompts(QWidget *parent) : parent(parent) {}

    PromptAnswer Ask(const QString &text, const QVector<PromptAnswer> &answers,
                     PromptAnswer defaultAnswer) override;
    QStringList OpenFiles(const FileQuestion &question, bool several) override;
    QString SavePath(const FileQuestion &question, const QString &suffix,
                     const QString &suggestedName) override;
    int ChooseInstrument(const QString &kitName, const QVector<KitInstrumentSummary> &instruments) override;
    void Show(const PromptMessage &message) override;

private:
    QWidget *parent;
};

#endif
