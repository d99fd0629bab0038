#include <QtTest>

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>

#include <memory>

#include "fileprocessor.h"
#include "testmain.h"
#include "widgetsupport.h"
#include "windowfixture.h"
#include "zkwindow.h"

namespace {

// Names of the controls that change the bank or start other work.
QStringList BankControlNames()
{
    QStringList names{"ThresholdSlider",       "horizontalSlider", "GenerateButton", "openFolderButton",
                      "OrderByLoudnessButton", "TrimTailsBox",     "OpenBankButton"};
    for (int n = 1; n <= 8; ++n) {
        for (const char *row : {"Del_Br_Button_%1", "ThrOfLayer_%1", "Play_Button_%1"})
            names << QString::fromLatin1(row).arg(n);
    }
    return names;
}

QStringList DisabledControls(ZKWindow &window)
{
    QStringList disabled;
    for (const QString &name : BankControlNames()) {
        if (!window.findChild<QWidget *>(name)->isEnabled())
            disabled << name;
    }
    return disabled;
}

// Everything the user sees of the window's widgets, and the layer table.
QStringList WindowState(ZKWindow &window)
{
    QStringList state;
    for (QWidget *w : window.findChildren<QWidget *>()) {
        if (w->objectName().isEmpty() || w->objectName().startsWith(QLatin1String("qt_")))
            continue;
        QString line = QStringLiteral("%1 %2 %3 %4")
                           .arg(w->metaObject()->className(), w->objectName())
                           .arg(w->isVisibleTo(&window))
                           .arg(w->isEnabled());
        if (auto *label = qobject_cast<QLabel *>(w))
            line += QLatin1Char(' ') + label->text();
        if (auto *button = qobject_cast<QAbstractButton *>(w))
            line += QStringLiteral(" %1 %2").arg(button->text()).arg(button->isChecked());
        if (auto *slider = qobject_cast<QAbstractSlider *>(w))
            line += QStringLiteral(" %1").arg(slider->value());
        if (auto *bar = qobject_cast<QProgressBar *>(w))
            line += QStringLiteral(" %1").arg(bar->value());
        state << line;
    }
    state << QStringLiteral("progress dialogs %1").arg(window.findChildren<QProgressDialog *>().size());
    state << QStringLiteral("count %1 used %2").arg(Bank().Count()).arg(Bank().UsedSpace());
    for (int n = 1; n <= 8; ++n)
        state << QStringLiteral("layer %1: %2 %3").arg(n).arg(Bank().Threshold(n)).arg(Bank().Path(n));
    state.sort();
    return state;
}

QPushButton *AddButton(ZKWindow &window, int layer)
{
    return window.findChild<QPushButton *>(QStringLiteral("Del_Br_Button_%1").arg(layer));
}

} // namespace

// Adding a sound converts it off the GUI thread: the window keeps
// responding, offers Cancel, and takes only results the user still wants.
class TestConversionRunner : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void windowRespondsWhileConverting();
    void cancelStopsTheConversion();
    void resultAfterCancelNeverLands();
    void closingTheWindowStopsTheConversion_data();
    void closingTheWindowStopsTheConversion();

private:
    QString MakeSound(const QString &name);

    WindowFixture home;
    QString sounds;
};

void TestConversionRunner::initTestCase()
{
    QVERIFY(home.setUp());
    sounds = home.path() + QStringLiteral("/sounds");
    QVERIFY(QDir().mkpath(sounds));
}

void TestConversionRunner::init()
{
    home.startTest();
}

void TestConversionRunner::cleanup()
{
    home.endTest();
}

QString TestConversionRunner::MakeSound(const QString &name)
{
    QVector<qint16> samples(4000);
    for (int i = 0; i < samples.size(); ++i)
        samples[i] = qint16((i * 37) % 20000 - 10000);
    const QString path = sounds + QLatin1Char('/') + name;
    if (!WriteBytes(path, Wav16(1, 44100, samples)))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// The converter is let go from a timer on the GUI thread, once the progress
// dialog shows what it reported: only a window whose event loop keeps
// turning while it converts gets there.
void TestConversionRunner::windowRespondsWhileConverting()
{
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    ScriptedPrompts &prompts = home.Prompts();
    QVERIFY(AddLayerAnswered(window, prompts, 1, MakeSound(QStringLiteral("snare.wav"))).isEmpty());
    QCOMPARE(DisabledControls(window), QStringList());

    HeldConverter converter;
    bool dialogSeen = false;
    QString label;
    QStringList disabledMeanwhile;
    bool busyCursor = false;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&]() {
        auto *dialog = window.findChild<QProgressDialog *>();
        if (!converter.held() || !dialog || !dialog->isVisible() || dialog->value() != kHeldPercent)
            return;
        watch.stop();
        dialogSeen = true;
        label = dialog->labelText();
        disabledMeanwhile = DisabledControls(window);
        busyCursor = QApplication::overrideCursor()
            && QApplication::overrideCursor()->shape() == Qt::BusyCursor;
        converter.release();
    });
    watch.start(10);
    prompts.openAnswers << QStringList{MakeSound(QStringLiteral("kick.wav"))};
    AddButton(window, 2)->click();
    QVERIFY(window.IsConverting());
    QVERIFY(WaitForConversion(&window));

    QVERIFY(!converter.gaveUp());
    QCOMPARE(prompts.messages.size(), 0);
    QVERIFY(dialogSeen);
    QCOMPARE(label, QStringLiteral("Converting kick.wav\u2026"));
    QCOMPARE(disabledMeanwhile, BankControlNames());
    QVERIFY(busyCursor);
    // The layer is taken, and the controls are back as the rows want them.
    QCOMPARE(Bank().Count(), 2);
    QCOMPARE(Bank().Name(2), QStringLiteral("kick.wav"));
    QVERIFY(QFileInfo(Bank().Path(2)).isFile());
    QCOMPARE(DisabledControls(window), QStringList{"Del_Br_Button_1"});
    QCOMPARE(window.findChild<QProgressDialog *>(), nullptr);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

// Cancel while the converter program runs: it is stopped, everything the
// conversion made is removed, and the window is as it was before the "+".
void TestConversionRunner::cancelStopsTheConversion()
{
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    ScriptedPrompts &prompts = home.Prompts();
    QVERIFY(AddLayerAnswered(window, prompts, 1, MakeSound(QStringLiteral("snare.wav"))).isEmpty());
    QVERIFY(AddLayerAnswered(window, prompts, 2, MakeSound(QStringLiteral("hat.wav"))).isEmpty());
    const QStringList before = WindowState(window);
    const QString work = WorkFolder();
    const QStringList files = FolderTree(work);
    // Thirty seconds at 96 kHz (a longer sound is refused from its header
    // before converting): resampled, the second of the converter's two
    // steps, where it is held.
    const QString sound = sounds + QStringLiteral("/thirty seconds.wav");
    QVERIFY(WriteSilentWave(sound, 1, 96000, 96000 * 30));

    HeldConverter converter(HeldConverter::Heeded, 30);
    CancelWhenHeld(&window, converter);
    const QVector<PromptMessage> shown = AddLayerAnswered(window, prompts, 3, sound);

    QVERIFY(!converter.gaveUp());
    QVERIFY(converter.sawCancel());
    QVERIFY2(shown.isEmpty(), qPrintable(shown.value(0).text));
    QCOMPARE(FolderTree(work), files);
    QCOMPARE(WindowState(window), before);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

// A converter that finishes its work although the user cancelled it: its
// result is thrown away, and the next "+" works as ever.
void TestConversionRunner::resultAfterCancelNeverLands()
{
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    ScriptedPrompts &prompts = home.Prompts();
    QVERIFY(AddLayerAnswered(window, prompts, 1, MakeSound(QStringLiteral("snare.wav"))).isEmpty());
    const QStringList before = WindowState(window);
    const QString work = WorkFolder();
    const QStringList files = FolderTree(work);
    const QString kick = MakeSound(QStringLiteral("kick.wav"));
    {
        HeldConverter converter(HeldConverter::Ignored);
        CancelWhenHeld(&window, converter, [&converter]() { converter.release(); });
        const QVector<PromptMessage> shown = AddLayerAnswered(window, prompts, 2, kick);
        QVERIFY(!converter.gaveUp());
        QVERIFY(converter.sawCancel());
        QVERIFY(converter.finished());
        QVERIFY2(shown.isEmpty(), qPrintable(shown.value(0).text));
    }
    QCOMPARE(FolderTree(work), files);
    QCOMPARE(WindowState(window), before);

    QVERIFY(AddLayerAnswered(window, prompts, 2, kick).isEmpty());
    QCOMPARE(Bank().Count(), 2);
    QCOMPARE(Bank().Name(2), QStringLiteral("kick.wav"));
}

void TestConversionRunner::closingTheWindowStopsTheConversion_data()
{
    QTest::addColumn<bool>("destroyed"); // or only closed
    QTest::newRow("window closed") << false;
    QTest::newRow("window destroyed") << true;
}

// Closing the window cancels the conversion; destroying it also waits for
// the worker before the working folder goes.
void TestConversionRunner::closingTheWindowStopsTheConversion()
{
    QFETCH(bool, destroyed);
    auto window = std::make_unique<ZKWindow>();
    auto prompts = std::make_unique<ScriptedPrompts>(*window);
    window->show();
    const QString work = WorkFolder();
    HeldConverter converter;
    prompts->openAnswers << QStringList{MakeSound(QStringLiteral("kick.wav"))};
    AddButton(*window, 1)->click();
    QTRY_VERIFY_WITH_TIMEOUT(converter.held(), kGiveUpMs);

    if (destroyed) {
        window.reset();
        QVERIFY(converter.finished());
        QVERIFY(!QFileInfo::exists(work));
    } else {
        QVERIFY(window->close());
        QVERIFY(WaitForConversion(window.get()));
        QCOMPARE(FolderTree(work), QStringList());
    }
    QVERIFY2(prompts->messages.isEmpty(), qPrintable(prompts->messages.value(0).text));
    QVERIFY(converter.sawCancel());
    QVERIFY(!converter.gaveUp());
    if (window)
        QCOMPARE(window->Bank().Count(), 0);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

ZK_TEST(TestConversionRunner)
#include "tst_conversionrunner.moc"
