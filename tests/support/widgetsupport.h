#ifndef WIDGETSUPPORT_H
#define WIDGETSUPPORT_H

#include <QMessageBox>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <functional>
#include <memory>

#include "prompts.h"
#include "testsupport.h"

class BankController;
class BankDocument;
class QTimer;
class QWidget;
class ZKWindow;

// Answers the window's questions from a script instead of dialogs, and
// records every question asked and message shown. Installed on `window`,
// or on a controller driven without a window, while both live; it may
// outlive the window, to record what the window says as it goes.
class ScriptedPrompts : public Prompts
{
public:
    explicit ScriptedPrompts(ZKWindow &window);
    explicit ScriptedPrompts(BankController &controller);
    ~ScriptedPrompts() override;
    ScriptedPrompts(const ScriptedPrompts &) = delete;
    // The prompts installed on `window`; nullptr while it shows dialogs.
    static ScriptedPrompts *Of(const ZKWindow &window);
    ScriptedPrompts &operator=(const ScriptedPrompts &) = delete;

    // The answers, each taken by the next question of its kind. A question
    // with none left is cancelled: Ask gives Cancel if offered, else No; a
    // file question gives nothing; an instrument, -1.
    QList<PromptAnswer> answers;
    QList<QStringList> openAnswers;
    QStringList saveAnswers;
    QList<int> instrumentAnswers;
    // Runs as each question or message is put, before it is answered.
    std::function<void()> whileAsked;

    struct Question {
        QString text;
        QVector<PromptAnswer> answers;
        PromptAnswer defaultAnswer = PromptAnswer::No;
    };
    // What was asked and shown, in order.
    QVector<Question> asked;
    QVector<FileQuestion> openQuestions;
    QVector<FileQuestion> saveQuestions;
    QStringList suggestedNames; // one per save question
    QVector<QVector<KitInstrumentSummary>> instrumentLists;
    QVector<PromptMessage> messages;
    // Questions and messages put while a wait cursor still showed.
    int underWaitCursor = 0;

    PromptAnswer Ask(const QString &text, const QVector<PromptAnswer> &answers,
                     PromptAnswer defaultAnswer) override;
    QStringList OpenFiles(const FileQuestion &question, bool several) override;
    QString SavePath(const FileQuestion &question, const QString &suffix,
                     const QString &suggestedName) override;
    int ChooseInstrument(const QString &kitName, const QVector<KitInstrumentSummary> &instruments) override;
    void Show(const PromptMessage &message) override;

private:
    void Put();
    // Puts these prompts, or nullptr for those before them, where they ask.
    std::function<void(Prompts *)> install;
    const void *installedOn;
};

Q_DECLARE_METATYPE(PromptAnswer)

// Drivers for the window's modal dialogs and message boxes.

// Runs `action` on the next modal widget (dialog or message box) once it is
// shown. Call before the code that opens it. The returned watcher deletes
// itself once it acted or gave up; delete it sooner to stop waiting.
QTimer *OnNextModal(std::function<void(QWidget *)> action, int timeoutMs = 20000);
// The same, waiting for a modal widget whose class inherits `className`, so
// that a dialog and the message box after it can be driven one by one.
QTimer *OnNextModalOf(const char *className, std::function<void(QWidget *)> action,
                      int timeoutMs = 20000);

// Answers the next file dialog with `path` (empty: cancel).
void AnswerFileDialog(const QString &path);

// Records the folder the next file dialog starts in (canonical), and the
// name of the file it suggests if `file` is given, and cancels it.
QTimer *RecordNextDialogFolder(QString *folder, QString *file = nullptr);

struct SeenMessageBox {
    QString title;
    QString text;
    QString informative; // the detail below the text
    QString detailed;    // behind "Show Details..."
    int informativeFormat = -1; // Qt::TextFormat of the detail's label; -1: none
    int icon = 0; // QMessageBox::Icon
    int buttons = 0;
    int defaultButton = 0; // the QMessageBox::StandardButton Return presses; 0: none
    int textInteraction = 0; // Qt::TextInteractionFlags of the box's text
    bool seen = false;
    bool waitCursor = false; // a wait cursor was still showing over the box
};
// Records the next message box's title, text, icon and buttons and closes it.
QTimer *CloseNextMessageBox(SeenMessageBox *seen, int timeoutMs = 20000);
// Records the next message box as CloseNextMessageBox does and answers it
// with `button` (closes it when it has no such button), running `next`
// first, to watch for what comes after it.
QTimer *AnswerNextMessageBox(SeenMessageBox *seen, QMessageBox::StandardButton button,
                             int timeoutMs = 20000, std::function<void()> next = nullptr);

// Waits until the window has converted the sound it converts, if any, and
// dealt with the verdict; false if it still has not after `timeoutMs`.
bool WaitForConversion(ZKWindow *window, int timeoutMs = 300000);

// Clicks the add button of row `layer`, picks `file` in the open dialog
// (empty: cancels it) and waits for the conversion. Returns the message box
// shown about the file, if any, closed with Ok.
SeenMessageBox AddLayerThroughDialog(ZKWindow *window, int layer, const QString &file);

// AddLayerThroughDialog through `prompts`: `file` answers the open
// question. Returns the messages shown meanwhile.
QVector<PromptMessage> AddLayerAnswered(ZKWindow &window, ScriptedPrompts &prompts, int layer,
                                        const QString &file);

// The middle of row `layer`'s name label, in the window's coordinates.
QPoint OverRow(ZKWindow &window, int layer);

// Drags `files` over `position` and drops them there; true when the window
// took the drop. The work it queued has begun when this returns.
bool SendDrop(ZKWindow &window, const QStringList &files, const QPoint &position);

struct SeenKitDialog {
    QStringList rows; // each row's columns joined by '|'
    QStringList toolTips; // each row's name's
    QVector<bool> enabled;
    int current = -1; // the row chosen when the dialog opened
    bool seen = false;
};

// Waits for the kit's instrument dialog, records its rows and picks row
// `index` (-1: cancels it), running `beforeChoosing` first.
QTimer *ChooseInstrument(int index, SeenKitDialog *seen, std::function<void()> beforeChoosing = nullptr);

// Bounds every wait for the other side, so that a window or a worker that
// never answers fails the test instead of hanging it.
constexpr int kGiveUpMs = 60000;
// What the stand-in converter reports before it holds.
constexpr int kHeldPercent = 37;

// Stands in for the window's converter on the worker thread: it holds the
// conversion until the test lets it go (or, when it heeds cancelling, until
// the conversion is cancelled), then converts for real. It holds before
// converting, once it reported kHeldPercent, or inside the real conversion
// at its first report above `holdAbove` per cent. Given `heldName`, it holds
// only the conversion of the file of that name and converts the others at
// once.
class HeldConverter
{
public:
    enum Cancelling { Heeded, Ignored };
    explicit HeldConverter(Cancelling cancelling = Heeded, int holdAbove = -1,
                           const QString &heldName = QString());
    ~HeldConverter();
    HeldConverter(const HeldConverter &) = delete;
    HeldConverter &operator=(const HeldConverter &) = delete;

    bool held() const { return state->held; }
    void release() { state->released = true; }
    bool gaveUp() const { return state->gaveUp; }
    // The conversion was cancelled by the time it was let go.
    bool sawCancel() const { return state->sawCancel; }
    bool finished() const { return state->finished; }

private:
    struct State {
        std::atomic<bool> held{false};
        std::atomic<bool> released{false};
        std::atomic<bool> gaveUp{false};
        std::atomic<bool> sawCancel{false};
        std::atomic<bool> finished{false};
    };
    std::shared_ptr<State> state = std::make_shared<State>();
};

// Presses Cancel in the window's progress dialog once it shows and the
// converter holds, then runs `after`.
void CancelWhenHeld(ZKWindow *window, HeldConverter &converter,
                    std::function<void()> after = nullptr);

// The bank of the one window there is now (more or none end the tests).
const BankDocument &Bank();

// Fills the rows of `window`, which has none, with `count` short layers by
// opening a bank of them written into `folder`; false if they did not come.
bool FillRows(ZKWindow &window, int count, const QString &folder);

// LayerFilesInUse (testsupport.h) of the one window's bank.
QStringList LayerFilesInUse();

// Lets the layout requests that changed texts posted run, so sizes and
// places are final.
void SettleLayout();

// Every shown label, push button and check box of `window` whose text is
// not shown whole: too narrow or too low for it inside the widget's margins
// and frame, or cut off by the edge of a widget it lies in. Each entry names
// the widget, its text and what is wrong.
QStringList TextsNotShownWhole(QWidget *window);

#endif
