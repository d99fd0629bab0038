#ifndef CONVERSIONRUNNER_H
#define CONVERSIONRUNNER_H

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

#include "intake.h"

class QWidget;

// What became of a chosen sound, converted and checked off the GUI thread.
using ConversionVerdict = IntakeVerdict;

// The window's conversions: one at a time on a worker thread, with its
// cancel flag, the busy cursor, and a progress dialog with Cancel once the
// work takes a while.
class ConversionRunner : public QObject
{
public:
    using Done = std::function<void(const ConversionVerdict &verdict)>;

    // Progress dialogs show over `window`, which owns the runner.
    explicit ConversionRunner(QWidget *window);
    // Stops a running conversion first.
    ~ConversionRunner() override;

    // Takes `chosen` in with `convert` (see TakeInSound), then calls `done`
    // with the verdict on the GUI thread, once the worker, its dialog and its
    // cursor have gone. A cancelled conversion leaves no converted file.
    void start(const QString &chosen, const SoundConverter &convert, Done done);
    bool isRunning() const { return bool(running); }
    // The worker stops soon after; its result, if any, is thrown away when it
    // has.
    void cancel();
    // Cancels, waits for the worker and drops the conversion without a
    // verdict.
    void stop();

private:
    struct Running;

    void showProgress();
    void showPercent(int percent);
    void finish();

    QWidget *window;
    std::unique_ptr<Running> running;
};

#endif
