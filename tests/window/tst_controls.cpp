#include <QtTest>

#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>
#include <QMetaMethod>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QSoundEffect>

#include "audiooutput.h"
#include "fileprocessor.h"
#include "testmain.h"
#include "widgetsupport.h"
#include "zkwindow.h"

Q_DECLARE_METATYPE(QVector<int>)

namespace {

bool AudioOutputPresent() { return true; }
bool AudioOutputMissing() { return false; }

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
    void slotTable();
    void everySlotBoundToItsSignal();
    void incomingConnections();
    void metaCast();

private:
    void AddLayers(ZKWindow &window, int count);
    QPushButton *Threshold(ZKWindow &window, int layer);
    QStringList ThresholdTexts(ZKWindow &window);

    TestHome home;
};

void TestControls::initTestCase()
{
    QVERIFY(home.setUp());
    QVector<qint16> samples(3000);
    for (int i = 0; i < samples.size(); ++i)
        samples[i] = qint16(i % 200 * 100 - 10000);
    for (int n = 1; n <= 8; ++n)
        QVERIFY(WriteBytes(home.path() + QStringLiteral("/sounds/layer%1.wav").arg(n), Wav16(1, 44100, samples)));
}

void TestControls::init()
{
    home.startTest();
    // Playback is tested as on a machine with sound, whatever this one has;
    // the case without sound sets its own answer.
    SetAudioOutputCheck(AudioOutputPresent);
}

void TestControls::cleanup()
{
    home.endTest();
}

void TestControls::AddLayers(ZKWindow &window, int count)
{
    for (int n = 1; n <= count; ++n) {
        AddLayerThroughDialog(&window, n, home.path() + QStringLiteral("/sounds/layer%1.wav").arg(n));
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

void TestControls::slotTable()
{
    const QStringList expected{
        "on_Del_Br_Button_1_clicked()", "on_Del_Br_Button_2_clicked()", "on_ThrOfLayer_1_clicked()",
        "on_ThrOfLayer_2_clicked()", "on_Del_Br_Button_3_clicked()", "on_ThrOfLayer_3_clicked()",
        "on_ThrOfLayer_4_clicked()", "on_ThrOfLayer_5_clicked()", "on_ThrOfLayer_6_clicked()",
        "on_ThrOfLayer_7_clicked()", "on_ThrOfLayer_8_clicked()", "on_Del_Br_Button_4_clicked()",
        "on_Del_Br_Button_5_clicked()", "on_Del_Br_Button_6_clicked()", "on_Del_Br_Button_7_clicked()",
        "on_Del_Br_Button_8_clicked()", "on_GenerateButton_clicked()", "on_Play_Button_1_clicked()",
        "on_Play_Button_2_clicked()", "on_Play_Button_3_clicked()", "on_Play_Button_4_clicked()",
        "on_Play_Button_5_clicked()", "on_Play_Button_6_clicked()", "on_Play_Button_7_clicked()",
        "on_Play_Button_8_clicked()", "on_ThresholdSlider_sliderMoved(int)", "ErrorMessage(int)",
        "on_openFolderButton_clicked()", "on_horizontalSlider_valueChanged(int)",
    };
    const QMetaObject &mo = ZKWindow::staticMetaObject;
    QCOMPARE(QString::fromLatin1(mo.className()), QStringLiteral("ZKWindow"));
    QCOMPARE(mo.superClass(), &QMainWindow::staticMetaObject);
    QCOMPARE(mo.methodCount() - mo.methodOffset(), expected.size());
    QCOMPARE(mo.propertyCount(), mo.propertyOffset());
    QCOMPARE(mo.enumeratorCount(), mo.enumeratorOffset());
    QCOMPARE(mo.classInfoCount(), mo.classInfoOffset());
    for (int i = 0; i < expected.size(); ++i) {
        const QMetaMethod m = mo.method(mo.methodOffset() + i);
        QCOMPARE(QString::fromLatin1(m.methodSignature()), expected.at(i));
        QCOMPARE(m.methodType(), QMetaMethod::Slot);
        QCOMPARE(m.access(), QMetaMethod::Private);
        QCOMPARE(m.returnType(), int(QMetaType::Void));
    }
}

// Emits each widget's signal and watches its slot's effect: renaming a
// widget or a slot would silently cut the binding.
void TestControls::everySlotBoundToItsSignal()
{
    auto fresh = []() { return std::make_unique<ZKWindow>(); };

    // The add/remove buttons: row 1 adds (a dialog opens), the others remove.
    for (int n = 1; n <= 8; ++n) {
        auto window = fresh();
        QString dialogFolder;
        QPointer<QTimer> watch = RecordNextDialogFolder(&dialogFolder);
        SeenMessageBox box;
        QPointer<QTimer> boxWatch = CloseNextMessageBox(&box, 3000);
        if (n > 1)
            QVERIFY(FillRows(*window, n, home.path())); // so that row n holds a layer to remove
        emit window->findChild<QPushButton *>(QStringLiteral("Del_Br_Button_%1").arg(n))->clicked();
        delete watch;
        delete boxWatch;
        if (n == 1)
            QVERIFY2(!dialogFolder.isEmpty() && box.seen, "Del_Br_Button_1");
        else
            QCOMPARE(Bank().Count(), n - 1);
    }
    {
        auto window = fresh();
        QVERIFY(FillRows(*window, 8, home.path()));
        for (int n = 1; n <= 7; ++n) {
            emit Threshold(*window, n)->clicked();
            QCOMPARE(window->SelectedLayer(), n);
        }
        emit Threshold(*window, 3)->clicked();
        emit Threshold(*window, 8)->clicked();
        QCOMPARE(window->SelectedLayer(), 3); // the last layer hides the slider instead
    }
    {
        auto window = fresh();
        QString dialogFolder;
        QPointer<QTimer> watch = RecordNextDialogFolder(&dialogFolder);
        emit window->findChild<QPushButton *>(QStringLiteral("GenerateButton"))->clicked();
        delete watch;
        QVERIFY2(!dialogFolder.isEmpty(), "GenerateButton");
    }
    {
        auto window = fresh();
        QVERIFY(FillRows(*window, 8, home.path()));
        for (int n = 1; n <= 8; ++n) {
            emit window->findChild<QPushButton *>(QStringLiteral("Play_Button_%1").arg(n))->clicked();
            QCOMPARE(window->findChildren<QSoundEffect *>().last()->source(),
                     QUrl::fromLocalFile(Bank().Path(n)));
        }
    }
    {
        auto window = fresh();
        QVERIFY(FillRows(*window, 2, home.path()));
        emit Threshold(*window, 1)->clicked();
        emit window->findChild<QSlider *>(QStringLiteral("ThresholdSlider"))->sliderMoved(50);
        QCOMPARE(Bank().Threshold(1), 50);
        emit window->findChild<QSlider *>(QStringLiteral("horizontalSlider"))->valueChanged(4);
        QCOMPARE(int(Bank().GateLevel()), 1035);
    }
    {
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        auto window = fresh();
        emit window->findChild<QPushButton *>(QStringLiteral("openFolderButton"))->clicked();
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(catcher.urls.size(), 1);
    }
}

namespace {
QStringList dumpLines;
void CollectDump(QtMsgType, const QMessageLogContext &, const QString &text)
{
    dumpLines << text;
}
} // namespace

// Every incoming connection of the window, from its own object dump: each
// on_<object>_<signal> slot is reached by exactly its signal, and
// ErrorMessage, whose name follows no such pattern, by nothing.
void TestControls::incomingConnections()
{
    ZKWindow window;
    dumpLines.clear();
    QtMessageHandler previous = qInstallMessageHandler(CollectDump);
    window.dumpObjectInfo();
    qInstallMessageHandler(previous);
    const QString dump = dumpLines.join(QLatin1Char('\n'));
    const int in = dump.indexOf(QLatin1String("SIGNALS IN"));
    QVERIFY2(in >= 0, qPrintable(dump));
    const QStringList incoming = dump.mid(in).split(QLatin1Char('\n')).mid(1);

    const QMetaObject &mo = ZKWindow::staticMetaObject;
    int bound = 0;
    for (int i = mo.methodOffset(); i < mo.methodCount(); ++i) {
        const QString slot = QString::fromLatin1(mo.method(i).methodSignature());
        const QStringList lines = incoming.filter(QLatin1Char(' ') + slot);
        if (slot == QLatin1String("ErrorMessage(int)")) {
            QVERIFY2(lines.isEmpty(), qPrintable(lines.join(QLatin1Char('\n'))));
            continue;
        }
        QCOMPARE(lines.size(), 1);
        // on_<object>_<signal>(args): the sender is the named child.
        const QString name = slot.mid(3, slot.lastIndexOf(QLatin1Char('_')) - 3);
        QVERIFY2(lines.first().contains(QLatin1String("::") + name + QLatin1Char(' ')), qPrintable(lines.first()));
        ++bound;
    }
    QCOMPARE(bound, 28);
}

void TestControls::metaCast()
{
    ZKWindow window;
    QCOMPARE(window.qt_metacast("ZKWindow"), static_cast<void *>(&window));
    QCOMPARE(window.qt_metacast("QMainWindow"), static_cast<void *>(static_cast<QMainWindow *>(&window)));
    QCOMPARE(window.qt_metacast(nullptr), nullptr);
    QCOMPARE(window.qt_metacast("QDialog"), nullptr);
}

ZK_TEST(TestControls)
#include "tst_controls.moc"
