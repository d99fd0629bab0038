#include <QtTest>

#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QSoundEffect>

#include <limits>

#include "audiooutput.h"
#include "fileprocessor.h"
#include "resultcodes.h"
#include "testmain.h"
#include "widgetsupport.h"
#include "windowfixture.h"
#include "zkwindow.h"

Q_DECLARE_METATYPE(QVector<int>)

namespace {

bool AudioOutputMissing() { return false; }

// A slot row's argument when the slot takes none.
constexpr int kNoArgument = std::numeric_limits<int>::min();

QList<QUrl> offeredFolders;
bool RefuseFolder(const QUrl &folder)
{
    offeredFolders << folder;
    return false;
}
bool AcceptFolder(const QUrl &folder)
{
    offeredFolders << folder;
    return true;
}

} // namespace

// Catches what the window hands to the desktop instead of opening a browser.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

// The controls that act on filled layers: threshold buttons and slider, the
// silence gate, playback, the bank folder, and how every slot is bound.
class TestControls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void thresholdSlider_data();
    void thresholdSlider();
    void selectingChangesNoThreshold();
    void everySliderActionMovesTheThreshold_data();
    void everySliderActionMovesTheThreshold();
    void newWindowStartsAfresh();
    void choicesRemembered();
    void gateLevels_data();
    void gateLevels();
    void gateOutOfRangeIgnored();
    void playStartsTheLayersFile();
    void playWithoutAudioOutputWarnsOncePerWindow();
    void openFolderHandsOverTheBankFolder();
    void folderNoFileManagerTookIsShown_data();
    void folderNoFileManagerTookIsShown();
    void everySlotInvokedByName_data();
    void everySlotInvokedByName();
    void everySlotBoundToItsSignal_data();
    void everySlotBoundToItsSignal();

private:
    static void AddSlotRows(bool byName);
    void ActOnce(bool byName);
    void AddLayers(ZKWindow &window, int count);
    QPushButton *Threshold(ZKWindow &window, int layer);
    QStringList ThresholdTexts(ZKWindow &window);

    WindowFixture home;
};

void TestControls::initTestCase()
{
    QVERIFY(home.setUp());
    QVERIFY(home.WriteLayerSounds(8));
}

void TestControls::init()
{
    home.startTest();
}

void TestControls::cleanup()
{
    home.endTest();
}

void TestControls::AddLayers(ZKWindow &window, int count)
{
    for (int n = 1; n <= count; ++n) {
        AddLayerThroughDialog(&window, n, home.LayerSound(n));
        QCOMPARE(Bank().Count(), n);
    }
}

QPushButton *TestControls::Threshold(ZKWindow &window, int layer)
{
    return window.findChild<QPushButton *>(QStringLiteral("ThrOfLayer_%1").arg(layer));
}

QStringList TestControls::ThresholdTexts(ZKWindow &window)
{
    QStringList texts;
    for (int n = 1; n <= 8; ++n)
        texts << Threshold(window, n)->text();
    return texts;
}

void TestControls::thresholdSlider_data()
{
    QTest::addColumn<int>("layers");
    QTest::addColumn<int>("selected");
    QTest::addColumn<int>("position");
    QTest::addColumn<QVector<int>>("thresholds");
    QTest::newRow("2 layers, layer 1 dragged to 0") << 2 << 1 << 0 << QVector<int>{2, 1, 0, -1, -2, -3, -4, -5};
    QTest::newRow("2 layers, layer 1 dragged to 126") << 2 << 1 << 126 << QVector<int>{126, 1, 0, -1, -2, -3, -4, -5};
    QTest::newRow("8 layers, layer 7 dragged to 126")
        << 8 << 7 << 126 << QVector<int>{126, 125, 124, 123, 122, 121, 120, 1};
    QTest::newRow("8 layers, layer 1 dragged to 10") << 8 << 1 << 10 << QVector<int>{10, 9, 8, 7, 6, 5, 4, 1};
    QTest::newRow("3 layers, layer 2 dragged to 100")
        << 3 << 2 << 100 << QVector<int>{101, 100, 1, 0, -1, -2, -3, -4};
}

void TestControls::thresholdSlider()
{
    QFETCH(int, layers);
    QFETCH(int, selected);
    QFETCH(int, position);
    QFETCH(QVector<int>, thresholds);
    ZKWindow window;
    window.show();
    AddLayers(window, layers);

    Threshold(window, selected)->click();
    auto *slider = window.findChild<QSlider *>(QStringLiteral("ThresholdSlider"));
    QVERIFY(slider->isVisible());
    QCOMPARE(window.SelectedLayer(), selected);
    // sliderMoved is what a drag of the handle emits.
    QVERIFY(QMetaObject::invokeMethod(slider, "sliderMoved", Q_ARG(int, position)));

    QStringList texts;
    for (int n = 1; n <= 8; ++n) {
        QCOMPARE(Bank().Threshold(n), thresholds.at(n - 1));
        texts << QString::number(thresholds.at(n - 1));
    }
    QCOMPARE(ThresholdTexts(window), texts);

    // The next add or remove brings back the default spread.
    window.findChild<QPushButton *>(QStringLiteral("Del_Br_Button_%1").arg(layers))->click();
    ThresholdTable defaults;
    DefaultThresholds(defaults, layers - 1);
    for (int n = 1; n <= 8; ++n)
        QCOMPARE(Bank().Threshold(n), defaults[n]);
    QVERIFY(!slider->isVisible());
}

void TestControls::selectingChangesNoThreshold()
{
    ZKWindow window;
    window.show();
    AddLayers(window, 3);
    const QStringList before = ThresholdTexts(window);
    auto *slider = window.findChild<QSlider *>(QStringLiteral("ThresholdSlider"));

    Threshold(window, 2)->click();
    QVERIFY(slider->isVisible());
    QCOMPARE(slider->value(), 43);
    QVERIFY(Threshold(window, 2)->isChecked());
    slider->setValue(100); // a programmatic change is not the user's
    QCOMPARE(ThresholdTexts(window), before);

    // The last layer's button hides the slider and keeps the selection.
    Threshold(window, 3)->click();
    QVERIFY(!slider->isVisible());
    QCOMPARE(window.SelectedLayer(), 2);
    QCOMPARE(ThresholdTexts(window), before);
    QCOMPARE(Bank().Threshold(3), 1);
}

void TestControls::everySliderActionMovesTheThreshold_data()
{
    // Layer 2 of three is selected at 43; `aim` is where the action puts the
    // handle before the threshold rules clamp it (-1: the wheel's step).
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("aim");
    QTest::newRow("arrow up") << "up" << 44;
    QTest::newRow("arrow down") << "down" << 42;
    QTest::newRow("page up") << "page up" << 53;
    QTest::newRow("page down") << "page down" << 33;
    QTest::newRow("home: clamped to 2") << "home" << 0;
    QTest::newRow("end: clamped to 125") << "end" << 126;
    QTest::newRow("mouse wheel") << "wheel" << -1;
    QTest::newRow("click on the groove above the handle") << "groove" << 53;
    QTest::newRow("drag past the top, then release") << "drag" << 126;
}

void TestControls::everySliderActionMovesTheThreshold()
{
    QFETCH(QString, action);
    QFETCH(int, aim);
    ZKWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    AddLayers(window, 3);
    Threshold(window, 2)->click();
    auto *slider = window.findChild<QSlider *>(QStringLiteral("ThresholdSlider"));
    QCOMPARE(slider->value(), 43);
    slider->setFocus();

    if (action == QLatin1String("up"))
        QTest::keyClick(slider, Qt::Key_Up);
    else if (action == QLatin1String("down"))
        QTest::keyClick(slider, Qt::Key_Down);
    else if (action == QLatin1String("page up"))
        QTest::keyClick(slider, Qt::Key_PageUp);
    else if (action == QLatin1String("page down"))
        QTest::keyClick(slider, Qt::Key_PageDown);
    else if (action == QLatin1String("home"))
        QTest::keyClick(slider, Qt::Key_Home);
    else if (action == QLatin1String("end"))
        QTest::keyClick(slider, Qt::Key_End);
    else if (action == QLatin1String("wheel")) {
        aim = 43 + QApplication::wheelScrollLines() * slider->singleStep();
        const QPointF at(slider->width() / 2.0, slider->height() / 2.0);
        QWheelEvent wheel(at, slider->mapToGlobal(at.toPoint()), QPoint(), QPoint(0, 120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(slider, &wheel);
    } else if (action == QLatin1String("groove")) {
        QTest::mouseClick(slider, Qt::LeftButton, Qt::NoModifier, QPoint(slider->width() / 2, 3));
    } else if (action == QLatin1String("drag")) {
        slider->setSliderDown(true);
        slider->setSliderPosition(aim);
        slider->setSliderDown(false);
    }

    ThresholdTable expected;
    DefaultThresholds(expected, 3);
    MoveThreshold(expected, 3, 2, aim);
    QStringList texts;
    for (int n = 1; n <= 8; ++n) {
        QCOMPARE(Bank().Threshold(n), expected[n]);
        texts << QString::number(expected[n]);
    }
    QCOMPARE(ThresholdTexts(window), texts);
    QCOMPARE(slider->value(), Bank().Threshold(2)); // the handle shows what is saved
}

void TestControls::newWindowStartsAfresh()
{
    {
        ZKWindow first;
        first.show();
        AddLayers(first, 3);
        Threshold(first, 2)->click();
        first.findChild<QSlider *>(QStringLiteral("horizontalSlider"))->setValue(4);
        QCOMPARE(int(Bank().GateLevel()), 1035);
    }
    // The slot table starts afresh; the gate is the one the user left, and
    // the gate in use is the one the slider shows.
    ZKWindow second;
    QCOMPARE(int(Bank().GateLevel()), 1035);
    QCOMPARE(second.SelectedLayer(), 0);
    QCOMPARE(Bank().AvailablePercent(), AvailablePercentFor(0));
    QCOMPARE(Bank().Count(), 0);
    QCOMPARE(Bank().UsedSpace(), 0);
    QCOMPARE(Bank().Threshold(1), 1);
    for (int n = 2; n <= 8; ++n)
        QCOMPARE(Bank().Threshold(n), 0);
    QCOMPARE(second.findChild<QLabel *>(QStringLiteral("label_2"))->text(), QStringLiteral("-30dB"));
    QCOMPARE(second.findChild<QSlider *>(QStringLiteral("horizontalSlider"))->value(), 4);
}

void TestControls::choicesRemembered()
{
    {
        ZKWindow first;
        QCOMPARE(int(Bank().GateLevel()), 0);
        QVERIFY(!first.findChild<QCheckBox *>(QStringLiteral("TrimTailsBox"))->isChecked());
        first.findChild<QSlider *>(QStringLiteral("horizontalSlider"))->setValue(2);
        first.findChild<QCheckBox *>(QStringLiteral("TrimTailsBox"))->setChecked(true);
    }
    QSettings settings(QStringLiteral("Quadrel"), QStringLiteral("QuadrelX8FileGenV21"));
    QCOMPARE(settings.value(QStringLiteral("CutSilence")).toInt(), 2);
    QCOMPARE(settings.value(QStringLiteral("TrimTails")).toBool(), true);
    ZKWindow second;
    QCOMPARE(second.findChild<QLabel *>(QStringLiteral("label_2"))->text(), QStringLiteral("-50dB"));
    QCOMPARE(int(Bank().GateLevel()), 103);
    QVERIFY(second.findChild<QCheckBox *>(QStringLiteral("TrimTailsBox"))->isChecked());
    // The folders' keys keep their meaning beside them.
    QVERIFY(!settings.contains(QStringLiteral("LastFolder")) || settings.value(QStringLiteral("LastFolder")).canConvert<QString>());
}

void TestControls::gateLevels_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("amplitude");
    QTest::newRow("0") << 0 << "Don't" << 0;
    QTest::newRow("1") << 1 << "-60dB" << 33;
    QTest::newRow("2") << 2 << "-50dB" << 103;
    QTest::newRow("3") << 3 << "-40dB" << 328;
    QTest::newRow("4") << 4 << "-30dB" << 1035;
}

void TestControls::gateLevels()
{
    QFETCH(int, position);
    QFETCH(QString, label);
    QFETCH(int, amplitude);
    ZKWindow window;
    auto *gate = window.findChild<QSlider *>(QStringLiteral("horizontalSlider"));
    gate->setValue(position == 0 ? 2 : 0); // make sure the value changes
    gate->setValue(position);
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("label_2"))->text(), label);
    QCOMPARE(int(Bank().GateLevel()), amplitude);
}

void TestControls::gateOutOfRangeIgnored()
{
    ZKWindow window;
    window.findChild<QSlider *>(QStringLiteral("horizontalSlider"))->setValue(3);
    QVERIFY(QMetaObject::invokeMethod(&window, "on_horizontalSlider_valueChanged", Q_ARG(int, 7)));
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("label_2"))->text(), QStringLiteral("-40dB"));
    QCOMPARE(int(Bank().GateLevel()), 328);
}

void TestControls::playStartsTheLayersFile()
{
    ZKWindow window;
    window.show();
    AddLayers(window, 2);
    const int before = window.findChildren<QSoundEffect *>().size();
    window.findChild<QPushButton *>(QStringLiteral("Play_Button_2"))->click();
    const QList<QSoundEffect *> sounds = window.findChildren<QSoundEffect *>();
    QCOMPARE(sounds.size(), before + 1);
    QCOMPARE(sounds.last()->source(), QUrl::fromLocalFile(Bank().Path(2)));
}

void TestControls::playWithoutAudioOutputWarnsOncePerWindow()
{
    SetAudioOutputCheck(AudioOutputMissing);
    const auto playing = [](const ZKWindow &window) {
        QStringList files;
        for (const QSoundEffect *sound : window.findChildren<QSoundEffect *>())
            files << sound->source().toLocalFile();
        return files;
    };
    for (int windowNumber = 1; windowNumber <= 2; ++windowNumber) {
        ZKWindow window;
        window.show();
        AddLayers(window, 2);
        SeenMessageBox first;
        QPointer<QTimer> watch = CloseNextMessageBox(&first, 3000);
        window.findChild<QPushButton *>(QStringLiteral("Play_Button_2"))->click();
        delete watch;
        QVERIFY(!playing(window).contains(Bank().Path(2)));
        QVERIFY2(first.seen, "window " + QByteArray::number(windowNumber));
        QCOMPARE(first.title, QStringLiteral("WARNING"));
        QCOMPARE(first.text, QStringLiteral("No audio output is available."));
        QCOMPARE(first.icon, int(QMessageBox::Warning));
        QCOMPARE(first.buttons, 1);

        for (const char *button : {"Play_Button_2", "Play_Button_1"}) {
            SeenMessageBox again;
            watch = CloseNextMessageBox(&again, 3000);
            window.findChild<QPushButton *>(QString::fromLatin1(button))->click();
            delete watch;
            QVERIFY2(!again.seen, button);
            QVERIFY(!playing(window).contains(Bank().Path(1)) && !playing(window).contains(Bank().Path(2)));
        }
        QVERIFY(window.findChild<QPushButton *>(QStringLiteral("Play_Button_1"))->isVisible());
    }
}

void TestControls::openFolderHandsOverTheBankFolder()
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
    {
        ZKWindow window;
        window.findChild<QPushButton *>(QStringLiteral("openFolderButton"))->click();
    }
    {
        QSettings(QStringLiteral("Quadrel"), QStringLiteral("QuadrelX8FileGenV21"))
            .setValue(QStringLiteral("LastSaveFolder"), home.path());
        ZKWindow window;
        window.findChild<QPushButton *>(QStringLiteral("openFolderButton"))->click();
    }
    {
        // A remembered folder that is gone: an existing folder, never a
        // relative or missing one.
        QSettings(QStringLiteral("Quadrel"), QStringLiteral("QuadrelX8FileGenV21"))
            .setValue(QStringLiteral("LastSaveFolder"), home.path() + QStringLiteral("/gone"));
        ZKWindow window;
        window.findChild<QPushButton *>(QStringLiteral("openFolderButton"))->click();
    }
    QDir(home.workingFolder()).mkdir(QStringLiteral("zks"));
    {
        QSettings(QStringLiteral("Quadrel"), QStringLiteral("QuadrelX8FileGenV21")).clear();
        ZKWindow window;
        window.findChild<QPushButton *>(QStringLiteral("openFolderButton"))->click();
    }
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QCOMPARE(catcher.urls.size(), 4);
    for (const QUrl &url : {catcher.urls.at(0), catcher.urls.at(2)}) {
        const QFileInfo folder(url.toLocalFile());
        QVERIFY2(folder.isAbsolute() && folder.isDir(), qPrintable(url.toString()));
        QVERIFY(!folder.absoluteFilePath().startsWith(home.workingFolder()));
    }
    QCOMPARE(catcher.urls.at(1), QUrl::fromLocalFile(home.path()));
    QCOMPARE(catcher.urls.at(3),
             QUrl::fromLocalFile(home.workingFolder() + QStringLiteral("/zks")));
}

void TestControls::folderNoFileManagerTookIsShown_data()
{
    QTest::addColumn<bool>("opened");
    QTest::newRow("a file manager opened it") << true;
    QTest::newRow("no file manager took it") << false;
}

// Without a file manager the box gives the folder's path as text to copy;
// markup-like characters in it are shown as they are.
void TestControls::folderNoFileManagerTookIsShown()
{
    QFETCH(bool, opened);
    const QString banks = home.path() + QStringLiteral("/banks <b>&amp; co</b>");
    QVERIFY(QDir().mkpath(banks));
    QSettings(QStringLiteral("Quadrel"), QStringLiteral("QuadrelX8FileGenV21"))
        .setValue(QStringLiteral("LastSaveFolder"), banks);
    offeredFolders.clear();
    SetFolderOpener(opened ? AcceptFolder : RefuseFolder);
    SeenMessageBox box;
    {
        ZKWindow window;
        window.show();
        QPointer<QTimer> watch = CloseNextMessageBox(&box, 3000);
        window.findChild<QPushButton *>(QStringLiteral("openFolderButton"))->click();
        delete watch;
    }
    SetFolderOpener(nullptr);

    QCOMPARE(offeredFolders, QList<QUrl>{QUrl::fromLocalFile(banks)});
    QCOMPARE(box.seen, !opened);
    if (opened)
        return;
    QCOMPARE(box.title, QStringLiteral("MESSAGE"));
    QCOMPARE(box.text, QStringLiteral("The ZKS folder could not be opened. Its path is:\n")
                           + QDir::toNativeSeparators(banks));
    QCOMPARE(box.icon, int(QMessageBox::Warning));
    QCOMPARE(box.buttons, 1);
    QVERIFY(box.textInteraction & Qt::TextSelectableByMouse);
}

// Every slot the window offers, each a row: what it acts on (a widget, or
// none for a slot reached only by name), its argument if any, how many
// layers the window holds first, and what it does.
void TestControls::AddSlotRows(bool byName)
{
    QTest::addColumn<QString>("slot");
    QTest::addColumn<QString>("widget");
    QTest::addColumn<int>("argument"); // kNoArgument: the slot takes none
    QTest::addColumn<int>("layers");
    QTest::addColumn<QString>("effect");
    QTest::addColumn<int>("layer");
    const auto row = [byName](const QString &slot, const QString &widget, int argument, int layers,
                              const char *effect, int layer) {
        const QString tag = byName ? slot + QStringLiteral(" by name")
                                   : widget + QLatin1Char(' ') + slot.mid(slot.lastIndexOf(QLatin1Char('_')) + 1);
        QTest::newRow(qPrintable(QStringLiteral("%1: %2 of %3").arg(tag, QLatin1String(effect)).arg(layer)))
            << slot << widget << argument << layers << QString::fromLatin1(effect) << layer;
    };
    for (int n = 1; n <= 8; ++n) {
        const QString button = QStringLiteral("Del_Br_Button_%1").arg(n);
        const QString slot = QStringLiteral("on_%1_clicked").arg(button);
        row(slot, button, kNoArgument, n - 1, "add", n);
        // Only the last layer has a remove button.
        row(slot, button, kNoArgument, n, "remove", n);
    }
    for (int n = 1; n <= 8; ++n) {
        const QString button = QStringLiteral("ThrOfLayer_%1").arg(n);
        // The last layer's threshold stays at 1: its button selects nothing.
        row(QStringLiteral("on_%1_clicked").arg(button), button, kNoArgument, 8, n < 8 ? "select" : "select none", n);
    }
    for (int n = 1; n <= 8; ++n) {
        const QString button = QStringLiteral("Play_Button_%1").arg(n);
        row(QStringLiteral("on_%1_clicked").arg(button), button, kNoArgument, 8, "play", n);
    }
    row(QStringLiteral("on_GenerateButton_clicked"), QStringLiteral("GenerateButton"), kNoArgument, 2, "generate", 2);
    row(QStringLiteral("on_ThresholdSlider_sliderMoved"), QStringLiteral("ThresholdSlider"), 50, 2,
        "move threshold", 1);
    for (int position : {0, 4})
        row(QStringLiteral("on_horizontalSlider_valueChanged"), QStringLiteral("horizontalSlider"), position,
            2, "set gate", position);
    row(QStringLiteral("on_openFolderButton_clicked"), QStringLiteral("openFolderButton"), kNoArgument, 0,
        "open folder", 0);
    // Bound to no widget: callers reach it by name alone.
    if (byName)
        row(QStringLiteral("ErrorMessage"), QString(), RESULT_OPEN_FAILED, 0, "show message", 0);
}

// Acts through `slot`, by name, or through its widget's signal as a user
// would, and checks that what it does happened exactly once: a slot bound
// twice would add, remove, play, ask or offer twice. Only the effect counts,
// not how the slot is reached from its widget.
void TestControls::ActOnce(bool byName)
{
    QFETCH(QString, slot);
    QFETCH(QString, widget);
    QFETCH(int, argument);
    QFETCH(int, layers);
    QFETCH(QString, effect);
    QFETCH(int, layer);
    home.ConvertInProcess();
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    ScriptedPrompts &prompts = home.Prompts();
    if (layers > 0)
        QVERIFY(FillRows(window, layers, home.workingFolder()));
    auto *slider = window.findChild<QSlider *>(QStringLiteral("ThresholdSlider"));
    const QStringList names = [&window]() {
        QStringList names;
        for (int n = 1; n <= window.Bank().Count(); ++n)
            names << window.Bank().Name(n);
        return names;
    }();
    if (effect == QLatin1String("move threshold"))
        Threshold(window, layer)->click();
    const int soundsBefore = window.findChildren<QSoundEffect *>().size();
    const QString sound = home.LayerSound(1);
    const QString bank = home.workingFolder() + QStringLiteral("/made.zks");
    prompts.openAnswers << QStringList{sound};
    prompts.saveAnswers << bank;
    offeredFolders.clear();
    SetFolderOpener(AcceptFolder);

    if (byName) {
        const QByteArray name = slot.toLatin1();
        if (argument == kNoArgument)
            QVERIFY(QMetaObject::invokeMethod(&window, name.constData()));
        else
            QVERIFY(QMetaObject::invokeMethod(&window, name.constData(), Q_ARG(int, argument)));
    } else if (auto *button = window.findChild<QPushButton *>(widget)) {
        QVERIFY2(button->isEnabled(), qPrintable(widget));
        button->click();
    } else if (widget == QLatin1String("ThresholdSlider")) {
        emit slider->sliderMoved(argument);
    } else {
        auto *gate = window.findChild<QSlider *>(widget);
        QVERIFY(gate);
        gate->setValue(argument == 0 ? 1 : 0); // so the value below is a change
        gate->setValue(argument);
    }
    QVERIFY(WaitForConversion(&window));

    // Only adding asks for a sound, only Generate where to save, only the
    // message slot and a failed add show a message.
    QCOMPARE(prompts.openQuestions.size(), effect == QLatin1String("add") ? 1 : 0);
    QCOMPARE(prompts.saveQuestions.size(), effect == QLatin1String("generate") ? 1 : 0);
    QCOMPARE(prompts.messages.size(), effect == QLatin1String("show message") ? 1 : 0);
    const int soundsStarted = window.findChildren<QSoundEffect *>().size() - soundsBefore;
    QCOMPARE(soundsStarted, effect == QLatin1String("play") ? 1 : 0);
    QCOMPARE(offeredFolders.size(), effect == QLatin1String("open folder") ? 1 : 0);
    if (effect == QLatin1String("add")) {
        QCOMPARE(Bank().Count(), layer);
        QCOMPARE(Bank().Name(layer), QFileInfo(sound).fileName());
    } else if (effect == QLatin1String("remove")) {
        QStringList left = names;
        left.removeAt(layer - 1);
        QCOMPARE(Bank().Count(), left.size());
        for (int n = 1; n <= left.size(); ++n)
            QCOMPARE(Bank().Name(n), left.at(n - 1));
    } else {
        QCOMPARE(Bank().Count(), layers);
    }
    if (effect == QLatin1String("select")) {
        QCOMPARE(window.SelectedLayer(), layer);
        QVERIFY(slider->isVisible());
        QCOMPARE(slider->value(), Bank().Threshold(layer));
    } else if (effect == QLatin1String("select none")) {
        QCOMPARE(window.SelectedLayer(), 0);
        QVERIFY(!slider->isVisible());
    } else if (effect == QLatin1String("play")) {
        QCOMPARE(window.findChildren<QSoundEffect *>().last()->source(), QUrl::fromLocalFile(Bank().Path(layer)));
    } else if (effect == QLatin1String("generate")) {
        QCOMPARE(StoredThresholds(bank).size(), layer);
    } else if (effect == QLatin1String("move threshold")) {
        QCOMPARE(Bank().Threshold(layer), argument);
    } else if (effect == QLatin1String("set gate")) {
        QCOMPARE(int(Bank().GateLevel()), layer == 4 ? 1035 : 0);
        QCOMPARE(QSettings(QStringLiteral("Quadrel"), QStringLiteral("QuadrelX8FileGenV21"))
                     .value(QStringLiteral("CutSilence")).toInt(), layer);
    } else if (effect == QLatin1String("open folder")) {
        QVERIFY(QFileInfo(offeredFolders.first().toLocalFile()).isDir());
    } else if (effect == QLatin1String("show message")) {
        QCOMPARE(prompts.messages.first().title, MessageFor(argument).title);
        QCOMPARE(prompts.messages.first().text, MessageFor(argument).text);
    }
}

void TestControls::everySlotInvokedByName_data()
{
    AddSlotRows(true);
}

// Scripts and the window's own code reach these slots by name.
void TestControls::everySlotInvokedByName()
{
    ActOnce(true);
}

void TestControls::everySlotBoundToItsSignal_data()
{
    AddSlotRows(false);
}

// Each widget's signal reaches its slot's effect, once: renaming a widget or
// a slot would silently cut the binding, binding it twice would double it.
void TestControls::everySlotBoundToItsSignal()
{
    ActOnce(false);
}

ZK_TEST(TestControls)
#include "tst_controls.moc"
