#include "conversionrunner.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>

#include <atomic>

#include "fileprocessor.h"
#include "waitcursor.h"

namespace {

// A conversion taking longer than this gets a progress dialog with Cancel;
// a short one comes and goes without a flash of it.
constexpr int kProgressDialogDelayMs = 300;

// The worker thread's share of a conversion. The worker writes the verdict;
// the GUI thread reads it only once the worker has finished.
struct ConversionWork {
    QString chosen;
    SoundConverter convert;
    std::atomic<bool> cancelled{false};
    ConversionVerdict verdict;
};

// The window's texts keep the window's translation context.
QString WindowText(const char *text)
{
    return QCoreApplication::translate("ZKWindow", text);
}

} // namespace

// The GUI thread's share of a running conversion. Ending it waits for the
// worker (so a running one is cancelled first) and removes the progress
// dialog and the busy cursor.
struct ConversionRunner::Running {
    std::shared_ptr<ConversionWork> work;
    QThread *thread = nullptr;
    Done done;
    QTimer progressDelay;
    QPointer<QProgressDialog> progress;
    int percent = 0;
    WaitCursor busy{Qt::BusyCursor};

    ~Running()
    {
        thread->wait();
        delete thread;
        delete progress;
    }
};

ConversionRunner::ConversionRunner(QWidget *window)
    : QObject(window), window(window)
{
}

ConversionRunner::~ConversionRunner()
{
    stop();
}

void ConversionRunner::start(const QString &chosen, const SoundConverter &convert, Done done)
{
    auto work = std::make_shared<ConversionWork>();
    work->chosen = chosen;
    work->convert = convert;
    ConvertOptions options;
    options.cancelled = &work->cancelled;
    // Made here, on the GUI thread, which alone removes it.
    options.workFolder = WorkFolder();
    // The runner outlives the worker: stopping it waits for the worker.
    options.progress = [this](int percent) {
        QMetaObject::invokeMethod(
            this, [this, percent]() { showPercent(percent); }, Qt::QueuedConnection);
    };

    running = std::make_unique<Running>();
    running->work = work;
    running->done = std::move(done);
    running->thread = QThread::create(
        [work, options]() { work->verdict = TakeInSound(work->chosen, options, work->convert); });
    connect(running->thread, &QThread::finished, this, [this]() { finish(); });
    running->progressDelay.setSingleShot(true);
    connect(&running->progressDelay, &QTimer::timeout, this, [this]() { showProgress(); });
    running->progressDelay.start(kProgressDialogDelayMs);
    running->thread->start();
}

void ConversionRunner::showProgress()
{
    auto *dialog = new QProgressDialog(window);
    // File names are the user's: shown as they are, never as markup.
    const QString name = QFileInfo(running->work->chosen).fileName();
    auto *label = new QLabel(WindowText("Converting %1\u2026").arg(name));
    label->setTextFormat(Qt::PlainText);
    dialog->setLabel(label);
    dialog->setCancelButtonText(WindowText("Cancel"));
    dialog->setRange(0, 100);
    dialog->setAutoReset(false);
    dialog->setAutoClose(false);
    dialog->setMinimumDuration(0);
    dialog->setValue(running->percent);
    connect(dialog, &QProgressDialog::canceled, this, [this]() { cancel(); });
    running->progress = dialog;
    dialog->show();
}

void ConversionRunner::showPercent(int percent)
{
    if (!running)
        return;
    running->percent = percent;
    if (running->progress)
        running->progress->setValue(percent);
}

void ConversionRunner::cancel()
{
    if (!running)
        return;
    running->work->cancelled = true;
    running->progressDelay.stop();
    if (running->progress)
        running->progress->hide();
}

void ConversionRunner::stop()
{
    cancel();
    running.reset();
}

void ConversionRunner::finish()
{
    std::unique_ptr<Running> finished = std::move(running);
    finished->thread->wait();
    const ConversionWork &work = *finished->work;
    ConversionVerdict verdict = work.verdict;
    // Cancelled after the worker had taken the sound in: it is not used.
    if (work.cancelled && !verdict.cancelled) {
        DiscardConverted(verdict.layer.path);
        verdict = ConversionVerdict();
        verdict.chosen = work.chosen;
        verdict.cancelled = true;
    }
    const Done done = std::move(finished->done);
    finished.reset();
    done(verdict);
}
