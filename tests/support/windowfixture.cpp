#include "windowfixture.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QSettings>
#include <QWidget>
#include <QtTest>

#include "audiooutput.h"
#include "fileprocessor.h"
#include "widgetsupport.h"
#include "zkwindow.h"

namespace {

bool AudioOutputPresent() { return true; }

// Every window still alive, named by its title.
QStringList LiveWindows()
{
    QStringList live;
    for (QWidget *widget : QApplication::allWidgets())
        if (qobject_cast<ZKWindow *>(widget))
            live << widget->windowTitle();
    return live;
}

} // namespace

WindowFixture::WindowFixture() = default;

WindowFixture::~WindowFixture() = default;

bool WindowFixture::setUp()
{
    if (!home.isValid())
        return false;
    UsePrivateSettings(home.path() + QStringLiteral("/settings"));
    return true;
}

void WindowFixture::startTest()
{
    QSettings(QStringLiteral("Quadrel"), QStringLiteral("QuadrelX8FileGenV21")).clear();
    cwd = std::make_unique<FreshWorkingFolder>();
    // Everything the test, the window and the programs it starts put in the
    // temporary folder lands in one of the test's own, to be found at the end.
    // Others may pass through it as through the system's, for tests that
    // read files as another user.
    temp = std::make_unique<QTemporaryDir>();
    QFile::setPermissions(temp->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                            | QFileDevice::ExeOwner | QFileDevice::ExeGroup
                                            | QFileDevice::ExeOther);
    tempBefore = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(temp->path()));
    SetAudioOutputCheck(AudioOutputPresent);
}

void WindowFixture::endTest()
{
    // The prompts outlive the window, to answer what it asks as it goes.
    window.reset();
    prompts.reset();
    SetAudioOutputCheck(nullptr);
    SetSoundConverter(nullptr);
    SetFolderOpener(nullptr);
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    const QStringList windows = LiveWindows();
    QWidget *modal = QApplication::activeModalWidget();
    const QString modalName = modal ? QString::fromLatin1(modal->metaObject()->className()) : QString();
    if (modal)
        modal->close();
    const bool waitCursor = QApplication::overrideCursor() != nullptr;
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
    const QStringList leftInTemp = FolderTree(temp->path());
    if (tempBefore.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", tempBefore);
    temp.reset();
    cwd.reset();

    QVERIFY2(windows.isEmpty(), qPrintable(QStringLiteral("windows left open: ") + windows.join(QLatin1String(", "))));
    QVERIFY2(!modal, qPrintable(QStringLiteral("a modal ") + modalName + QStringLiteral(" left open")));
    QVERIFY2(!waitCursor, "a wait cursor left showing");
    QVERIFY2(leftInTemp.isEmpty(), qPrintable(QStringLiteral("left in the temporary folder: ")
                                              + leftInTemp.join(QLatin1String(", "))));
}

QString WindowFixture::LayerSound(int n) const
{
    return home.path() + QStringLiteral("/sounds/layer%1.wav").arg(n);
}

bool WindowFixture::WriteLayerSounds(int count)
{
    QVector<qint16> samples(3000);
    for (int i = 0; i < samples.size(); ++i)
        samples[i] = qint16(i % 200 * 100 - 10000);
    for (int n = 1; n <= count; ++n)
        if (!WriteBytes(LayerSound(n), Wav16(1, 44100, samples)))
            return false;
    return true;
}

void WindowFixture::ConvertInProcess()
{
    SetSoundConverter([](const QString &chosen, const ConvertOptions &options, QString *reason) {
        ConvertOptions inProcess = options;
        inProcess.inProcess = true;
        return ConvertFile(chosen, inProcess, reason);
    });
}

ZKWindow &WindowFixture::Window(Answering answering)
{
    if (!window) {
        window = std::make_unique<ZKWindow>();
        if (answering == Scripted)
            prompts = std::make_unique<ScriptedPrompts>(*window);
        window->show();
    }
    return *window;
}

ScriptedPrompts &WindowFixture::Prompts()
{
    if (!prompts)
        qFatal("Prompts() of a window that shows dialogs");
    return *prompts;
}
