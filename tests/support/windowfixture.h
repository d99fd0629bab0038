#ifndef WINDOWFIXTURE_H
#define WINDOWFIXTURE_H

#include <QString>
#include <QTemporaryDir>

#include <memory>

#include "testsupport.h"

class ScriptedPrompts;
class ZKWindow;

// What every window test class stands on: a private home whose settings
// are cleared before each test, a fresh working folder and a private
// temporary folder for each test, the window's stand-ins (sound output,
// converter, file manager) in a known state, and at the end a check that
// the test left nothing behind.
class WindowFixture
{
public:
    WindowFixture();
    ~WindowFixture();
    WindowFixture(const WindowFixture &) = delete;
    WindowFixture &operator=(const WindowFixture &) = delete;

    // From initTestCase(): false when the home could not be made.
    bool setUp();
    // From init(): clears the program's settings, enters a fresh working
    // folder and answers that the machine has a sound output, so playback
    // is tested alike on every machine (a test may answer otherwise).
    void startTest();
    // From cleanup(): closes the test's window, restores every stand-in and
    // the working folder of before, then fails the test if a window, a
    // modal dialog, a wait cursor or a temporary file outlived it.
    void endTest();

    QString path() const { return home.path(); }
    // The running test's working folder.
    QString workingFolder() const { return cwd->path(); }

    // sounds/layerN.wav in the home: a short mono sound, the same for every
    // layer, for tests that need layers but not their content.
    QString LayerSound(int n) const;
    // Writes LayerSound(1) to LayerSound(count); false on failure.
    bool WriteLayerSounds(int count);

    // For the rest of the test the window converts sounds in this process,
    // to the byte as its converter programs would, without a program
    // started for each sound.
    void ConvertInProcess();

    enum Answering { Dialogs, Scripted };
    // The running test's window, made and shown on first use; it answers
    // through Prompts() when `answering` is Scripted. It lives until
    // endTest().
    ZKWindow &Window(Answering answering = Dialogs);
    // The scripted prompts of Window(Scripted).
    ScriptedPrompts &Prompts();

private:
    QTemporaryDir home;
    std::unique_ptr<FreshWorkingFolder> cwd;
    std::unique_ptr<QTemporaryDir> temp; // the running test's TMPDIR
    std::unique_ptr<ZKWindow> window;
    std::unique_ptr<ScriptedPrompts> prompts;
    QByteArray tempBefore; // TMPDIR before the test set its own
};

#endif
