#include <QtTest>

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSettings>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QUndoStack>

#include <iterator>
#include <numeric>

#include "fileprocessor.h"
#include "layerrules.h"
#include "testmain.h"
#include "widgetsupport.h"
#include "windowfixture.h"
#include "zkslayout.h"
#include "zkwindow.h"

namespace {

// A hit: a quiet lead the gate cuts, a 1 kHz strike of `frames` frames
// peaking at `dbfs`, then a hiss below -60 dBFS that trimming cuts.
QVector<qint16> Hit(int frames, double dbfs)
{
    QVector<qint16> sound(1500, 100);
    sound += Sine1k(frames, dbfs);
    for (int i = 0; i < 4000; ++i)
        sound << qint16(i % 2 ? -5 : 5);
    return sound;
}

QUndoStack *Stack(ZKWindow &window)
{
    return window.findChild<QUndoStack *>();
}

QString StatusLine(ZKWindow &window)
{
    return window.findChild<QLabel *>(QStringLiteral("StatusLine"))->text();
}

QPushButton *Button(ZKWindow &window, const QString &name, int layer)
{
    return window.findChild<QPushButton *>(QStringLiteral("%1_%2").arg(name).arg(layer));
}

// Everything the bank would hold, as the window's document gives it, and
// whether the layers' files are there.
QStringList Held()
{
    QStringList lines;
    for (int i = 0; i < kMaxLayers; ++i) {
        lines << QStringLiteral("layer %1: %2 \"%3\" %4 from %5 %6 files %7")
                     .arg(i + 1)
                     .arg(Bank().Path(i + 1), Bank().Name(i + 1))
                     .arg(Bank().Size(i + 1))
                     .arg(Bank().Source(i + 1))
                     .arg(Bank().SourceSize(i + 1))
                     .arg(i >= Bank().Count()
                              || (QFileInfo::exists(Bank().Path(i + 1)) && QFileInfo::exists(Bank().Source(i + 1)))
                              ? QStringLiteral("present")
                              : QStringLiteral("missing"));
    }
    QStringList thresholds;
    for (int n = 0; n <= kMaxLayers; ++n)
        thresholds << QString::number(Bank().Threshold(n));
    lines << QStringLiteral("thresholds ") + thresholds.join(QLatin1Char(' '));
    lines << QStringLiteral("count %1 used %2 available %3 gate %4")
                 .arg(Bank().Count())
                 .arg(Bank().UsedSpace())
                 .arg(Bank().AvailablePercent())
                 .arg(Bank().GateLevel());
    return lines;
}

// What the window shows of the bank: the rows, the thresholds and the hits
// each plays, the gate, "Trim tails" and the space bar. Of a hidden widget,
// only that it is hidden.
QStringList Shown(ZKWindow &window)
{
    const auto show = [](const QWidget *widget, const QString &text, const QString &tip) {
        return widget->isVisible() ? QStringLiteral("\"%1\" \"%2\"").arg(text, tip) : QStringLiteral("hidden");
    };
    QStringList lines;
    for (int n = 1; n <= kMaxLayers; ++n) {
        const auto *name = window.findChild<QLabel *>(QStringLiteral("Filename_%1").arg(n));
        const auto *range = window.findChild<QLabel *>(QStringLiteral("HitRange_%1").arg(n));
        const QPushButton *threshold = Button(window, QStringLiteral("ThrOfLayer"), n);
        const QPushButton *addRemove = Button(window, QStringLiteral("Del_Br_Button"), n);
        const QPushButton *play = Button(window, QStringLiteral("Play_Button"), n);
        lines << QStringLiteral("row %1: %2, range %3, threshold %4, button %5 %6, play %7")
                     .arg(n)
                     .arg(show(name, name->text(), name->toolTip()), show(range, range->text(), QString()),
                          show(threshold, threshold->text(), threshold->toolTip()),
                          show(addRemove, addRemove->text(), addRemove->toolTip()),
                          addRemove->isEnabled() ? QStringLiteral("enabled") : QStringLiteral("disabled"),
                          show(play, QString(), QString()));
    }
    const auto *gate = window.findChild<QSlider *>(QStringLiteral("horizontalSlider"));
    const auto *bar = window.findChild<QProgressBar *>(QStringLiteral("AvailableSpace"));
    lines << QStringLiteral("gate %1 %2, trim %3, bar %4 %5, generate %6, order %7")
                 .arg(gate->value())
                 .arg(show(window.findChild<QLabel *>(QStringLiteral("label_2")),
                           window.findChild<QLabel *>(QStringLiteral("label_2"))->text(), QString()),
                      window.findChild<QCheckBox *>(QStringLiteral("TrimTailsBox"))->isChecked()
                          ? QStringLiteral("on")
                          : QStringLiteral("off"))
                 .arg(bar->value())
                 .arg(bar->toolTip(),
                      show(window.findChild<QPushButton *>(QStringLiteral("GenerateButton")), QString(), QString()),
                      show(window.findChild<QPushButton *>(QStringLiteral("OrderByLoudnessButton")), QString(),
                           QString()));
    return lines;
}

QStringList Everything(ZKWindow &window)
{
    return Held() + Shown(window);
}

// The first line where `actual` and `expected` differ, for a failure message.
QString FirstDifference(const QStringList &actual, const QStringList &expected)
{
    QString all;
    for (int i = 0; i < qMax(actual.size(), expected.size()); ++i) {
        if (actual.value(i) != expected.value(i))
            all += QStringLiteral("\n  actual:   %1\n  expected: %2").arg(actual.value(i), expected.value(i));
    }
    return all;
}

// Where to press on the slider's handle to drag it.
QPoint HandleCenter(const QSlider *slider)
{
    QStyleOptionSlider option;
    option.initFrom(slider);
    option.orientation = slider->orientation();
    option.minimum = slider->minimum();
    option.maximum = slider->maximum();
    option.sliderPosition = slider->sliderPosition();
    option.sliderValue = slider->value();
    option.upsideDown = slider->invertedAppearance() != (slider->orientation() == Qt::Vertical);
    return slider->style()
        ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider)
        .center();
}

// Keys go to the active window, which a dialog was for a while.
bool Activate(ZKWindow &window)
{
    if (QApplication::activeWindow() == &window)
        return true;
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
}

void Undo(ZKWindow &window)
{
    QVERIFY(Activate(window));
    QTest::keyClick(&window, Qt::Key_Z, Qt::ControlModifier);
}

// Both redo keys do the same; `other` picks Ctrl+Shift+Z over Ctrl+Y.
void Redo(ZKWindow &window, bool other = false)
{
    QVERIFY(Activate(window));
    if (other)
        QTest::keyClick(&window, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    else
        QTest::keyClick(&window, Qt::Key_Y, Qt::ControlModifier);
}

// The window shows what the document holds: each filled row its name and
// threshold, the next row the prompt, the space bar the space used.
void CheckShownAgrees(ZKWindow &window)
{
    for (int n = 1; n <= kMaxLayers; ++n) {
        const auto *name = window.findChild<QLabel *>(QStringLiteral("Filename_%1").arg(n));
        const QPushButton *threshold = Button(window, QStringLiteral("ThrOfLayer"), n);
        if (n <= Bank().Count())
            QCOMPARE(name->text(), Bank().Name(n));
        else if (n == Bank().Count() + 1)
            QCOMPARE(name->text(), n == 1 ? QStringLiteral("Create a Layer") : QStringLiteral("Add a Layer"));
        QCOMPARE(name->isVisible(), n <= Bank().Count() + 1);
        QCOMPARE(threshold->isVisible(), Bank().Count() >= 2 && n <= Bank().Count());
        if (n <= Bank().Count())
            QCOMPARE(threshold->text(), QString::number(Bank().Threshold(n)));
    }
    qint32 used = 0;
    for (int i = 0; i < Bank().Count(); ++i)
        used += Bank().Size(i + 1);
    QCOMPARE(Bank().UsedSpace(), used);
    const auto *bar = window.findChild<QProgressBar *>(QStringLiteral("AvailableSpace"));
    QCOMPARE(bar->value(), AvailablePercentFor(Bank().UsedSpace()));
    QVERIFY2(bar->toolTip().startsWith(
                 QStringLiteral("%1\u00A0s of sound left").arg(double(kBankBudget - Bank().UsedSpace()) / (2.0 * kBankRate), 0, 'f', 1)),
             qPrintable(bar->toolTip()));
    QString label;
    quint16 amplitude = 0;
    QVERIFY(GateForPosition(window.findChild<QSlider *>(QStringLiteral("horizontalSlider"))->value(), &label,
                            &amplitude));
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("label_2"))->text(), label);
    QCOMPARE(Bank().GateLevel(), amplitude);
}

// The change just made is one step from `before` (the stack stood at
// `index`): undo gives `before` back, redo the state after, and undo again
// `before` once more.
void CheckOneStep(ZKWindow &window, int index, const QStringList &before)
{
    QUndoStack *stack = Stack(window);
    const QStringList after = Everything(window);
    QVERIFY(after != before);
    QCOMPARE(stack->index(), index + 1);

    QVERIFY(Activate(window));
    Undo(window);
    QCOMPARE(stack->index(), index);
    QCOMPARE(Everything(window), before);
    CheckShownAgrees(window);
    Redo(window);
    QCOMPARE(stack->index(), index + 1);
    QCOMPARE(Everything(window), after);
    CheckShownAgrees(window);
    Undo(window);
    QCOMPARE(Everything(window), before);
}

} // namespace

// Undo and redo: every change of what the bank would hold is one step, and
// stepping back and forth gives exactly the states the changes made.
class TestUndo : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void twoHundredEdits();
    void eachChangeIsOneStep_data();
    void eachChangeIsOneStep();
    void backToTheSavedBank();
    void nothingUndoneWhileConverting();
    void dragIsOneStep_data();
    void dragIsOneStep();
    void keysMoveTheThresholdAsItIsNow();
    void keyThatCannotMoveTheLayerChangesNothing();
    void rememberedChoicesAreTheUsers_data();
    void rememberedChoicesAreTheUsers();
    void filesLastWhileAStepNeedsThem_data();
    void filesLastWhileAStepNeedsThem();
    void longRunOfReplacementsStaysBounded();

private:
    // Does one edit the user could do, picked by `random`; returns what it
    // did, for a failure message.
    QString RandomEdit(ZKWindow &window, QRandomGenerator &random);
    void Generate(ZKWindow &window, const QString &bankPath);
    void OpenBank(ZKWindow &window, const QString &bankPath);
    QString MakeKit();
    void ImportKit(ZKWindow &window, const QString &kitPath);
    // Shows the window and gives it three layers, layer 1's threshold moved
    // by the user.
    void ThreeLayers(ZKWindow &window);
    void MakeChange(ZKWindow &window, const QString &change, const QString &kitPath);

    WindowFixture home;
    QStringList sounds;
    QStringList banks; // to open; those the window writes are added
};

void TestUndo::initTestCase()
{
    QVERIFY(home.setUp());
    // Of different lengths and loudness; three of the long one leave no room.
    const struct {
        const char *name;
        int frames;
        double dbfs;
    } made[] = {{"kick.wav", 6000, -1},
                {"snare.wav", 4000, -12},
                {"rim.wav", 2500, -24},
                {"tom.wav", 9000, -6},
                {"long.wav", 12 * kBankRate, -18}};
    for (const auto &sound : made) {
        sounds << home.path() + QStringLiteral("/sounds/") + QLatin1String(sound.name);
        QVERIFY(WriteBytes(sounds.last(), Wav16(1, kBankRate, Hit(sound.frames, sound.dbfs))));
    }
    const QString pair = home.path() + QStringLiteral("/banks/pair.zks");
    const QString trio = home.path() + QStringLiteral("/banks/trio.zks");
    QVERIFY(QDir().mkpath(home.path() + QStringLiteral("/banks")));
    for (const ToolRun &run : {RunTool({"build", "-o", pair, sounds.at(0), sounds.at(2)}),
                               RunTool({"build", "-o", trio, "--gate", "-40dB", sounds.at(1), sounds.at(3),
                                        sounds.at(2)})})
        QVERIFY2(run.exitCode == 0, qPrintable(Show(run)));
    banks = QStringList{pair, trio};
}

void TestUndo::init()
{
    home.startTest();
    banks = banks.mid(0, 2);
    // Undo is what is tested here, not the converter programs.
    home.ConvertInProcess();
}

void TestUndo::cleanup()
{
    home.endTest();
}

void TestUndo::Generate(ZKWindow &window, const QString &bankPath)
{
    QVERIFY(QDir().mkpath(QFileInfo(bankPath).absolutePath()));
    ScriptedPrompts &prompts = *ScriptedPrompts::Of(window);
    const int shown = prompts.messages.size();
    prompts.saveAnswers << bankPath;
    QVERIFY(Activate(window));
    QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier);
    QVERIFY2(prompts.messages.size() == shown,
             qPrintable(prompts.messages.value(shown).text + QLatin1Char(' ') + prompts.messages.value(shown).detail));
    QVERIFY(QFileInfo(bankPath).isFile());
}

void TestUndo::OpenBank(ZKWindow &window, const QString &bankPath)
{
    ScriptedPrompts &prompts = *ScriptedPrompts::Of(window);
    // Yes to replacing the layers, if there are any to replace.
    prompts.answers = {PromptAnswer::Yes};
    prompts.openAnswers << QStringList{bankPath};
    window.findChild<QPushButton *>(QStringLiteral("OpenBankButton"))->click();
    prompts.answers.clear();
}

QString TestUndo::MakeKit()
{
    const QString folder = home.path() + QStringLiteral("/kit");
    if (!WriteBytes(folder + QStringLiteral("/loud.wav"), Wav16(1, kBankRate, Hit(4000, -3)))
        || !WriteBytes(folder + QStringLiteral("/soft.wav"), Wav16(1, kBankRate, Hit(3000, -20)))
        || !WriteBytes(folder + QStringLiteral("/drumkit.xml"),
                       "<?xml version=\"1.0\"?>\n<drumkit_info>\n<name>Undo Kit</name>\n<instrumentList>\n"
                       "<instrument><id>0</id><name>Kick</name>"
                       "<layer><filename>loud.wav</filename><min>0.5</min><max>1</max></layer>"
                       "<layer><filename>soft.wav</filename><min>0</min><max>0.5</max></layer>"
                       "</instrument>\n</instrumentList>\n</drumkit_info>\n"))
        qFatal("cannot write the kit in %s", qPrintable(folder));
    return folder + QStringLiteral("/drumkit.xml");
}

// Imports the kit's first instrument, answering Yes to replacing the layers.
void TestUndo::ImportKit(ZKWindow &window, const QString &kitPath)
{
    ScriptedPrompts &prompts = *ScriptedPrompts::Of(window);
    const int asked = prompts.asked.size();
    const int chosen = prompts.instrumentLists.size();
    prompts.answers = {PromptAnswer::Yes};
    prompts.openAnswers << QStringList{kitPath};
    prompts.instrumentAnswers << 0;
    window.findChild<QPushButton *>(QStringLiteral("ImportKitButton"))->click();
    QCOMPARE(prompts.instrumentLists.size(), chosen + 1);
    QCOMPARE(prompts.asked.size(), asked + 1);
}

// Makes one change of each kind the user can make to the three layers of
// ThreeLayers, by name as eachChangeIsOneStep lists them.
void TestUndo::MakeChange(ZKWindow &window, const QString &change, const QString &kitPath)
{
    ScriptedPrompts &prompts = *ScriptedPrompts::Of(window);
    if (change == QLatin1String("add")) {
        QVERIFY(AddLayerAnswered(window, prompts, 4, sounds.at(1)).isEmpty());
        QCOMPARE(Bank().Count(), 4);
    } else if (change == QLatin1String("add several")) {
        QVERIFY(SendDrop(window, {sounds.at(1), sounds.at(4)}, OverRow(window, 4)));
        QVERIFY(WaitForConversion(&window));
        QCOMPARE(Bank().Count(), 5);
    } else if (change == QLatin1String("remove")) {
        Button(window, QStringLiteral("Del_Br_Button"), 3)->click();
        QCOMPARE(Bank().Count(), 2);
    } else if (change == QLatin1String("replace")) {
        QVERIFY(SendDrop(window, {sounds.at(1)}, OverRow(window, 2)));
        QVERIFY(WaitForConversion(&window));
        QCOMPARE(Bank().Name(2), QStringLiteral("snare.wav"));
    } else if (change == QLatin1String("order by loudness")) {
        const int asked = prompts.asked.size();
        prompts.answers = {PromptAnswer::Yes};
        window.findChild<QPushButton *>(QStringLiteral("OrderByLoudnessButton"))->click();
        QCOMPARE(prompts.asked.size(), asked + 1);
        QCOMPARE(Bank().Name(1), QStringLiteral("kick.wav"));
    } else if (change == QLatin1String("threshold key")) {
        QPushButton *threshold = Button(window, QStringLiteral("ThrOfLayer"), 2);
        threshold->setFocus();
        QTest::keyClick(threshold, Qt::Key_PageUp);
    } else if (change == QLatin1String("gate")) {
        QTest::keyClick(window.findChild<QSlider *>(QStringLiteral("horizontalSlider")), Qt::Key_Right);
        QVERIFY(Bank().GateLevel() != 0);
    } else if (change == QLatin1String("trim tails")) {
        window.findChild<QCheckBox *>(QStringLiteral("TrimTailsBox"))->click();
        QVERIFY(Bank().Path(1) != Bank().Source(1));
    } else if (change == QLatin1String("open bank")) {
        OpenBank(window, banks.at(0));
        QCOMPARE(Bank().Count(), 2);
    } else {
        ImportKit(window, kitPath);
        QCOMPARE(Bank().Name(1), QStringLiteral("loud.wav"));
    }
}

void TestUndo::ThreeLayers(ZKWindow &window)
{
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    // Not loudest first, so ordering by loudness moves them.
    const QStringList quietFirst{sounds.at(2), sounds.at(0), sounds.at(3)};
    for (int n = 1; n <= 3; ++n)
        QVERIFY(AddLayerAnswered(window, *ScriptedPrompts::Of(window), n, quietFirst.at(n - 1)).isEmpty());
    QCOMPARE(Bank().Count(), 3);
    QPushButton *threshold = Button(window, QStringLiteral("ThrOfLayer"), 1);
    threshold->setFocus();
    QTest::keyClick(threshold, Qt::Key_Down);
    QVERIFY(Bank().Threshold(1) != DefaultSpread(3).at(0));
    QVERIFY(Activate(window));
}

QString TestUndo::RandomEdit(ZKWindow &window, QRandomGenerator &random)
{
    enum Kind { AddOne, AddSeveral, Remove, Replace, Order, ThresholdKey, Gate, Trim, Open, Write };
    const int weights[] = {5, 1, 3, 2, 2, 6, 3, 2, 1, 1};
    const int total = std::accumulate(std::begin(weights), std::end(weights), 0);
    Kind kind;
    for (;;) {
        int pick = int(random.bounded(total));
        int k = 0;
        while (pick >= weights[k])
            pick -= weights[k++];
        kind = Kind(k);
        if ((kind == Replace || kind == Write) && Bank().Count() < 1)
            continue;
        if ((kind == Order || kind == ThresholdKey) && Bank().Count() < 2)
            continue;
        break;
    }
    const QString sound = sounds.at(int(random.bounded(int(sounds.size()))));
    const QString soundName = QFileInfo(sound).fileName();
    ScriptedPrompts &prompts = *ScriptedPrompts::Of(window);
    const int shown = prompts.messages.size();
    const auto refused = [&]() { return prompts.messages.size() > shown ? QStringLiteral(", refused") : QString(); };
    switch (kind) {
    case AddOne:
        // With every row filled there is no "+": the sound is dropped.
        if (Bank().Count() < kMaxLayers) {
            AddLayerAnswered(window, prompts, Bank().Count() + 1, sound);
            return QStringLiteral("add %1%2").arg(soundName, refused());
        }
        Q_FALLTHROUGH();
    case AddSeveral: {
        QStringList files{sound};
        QStringList names{soundName};
        for (int more = 1 + int(random.bounded(2)); more > 0; --more) {
            files << sounds.at(int(random.bounded(int(sounds.size()))));
            names << QFileInfo(files.last()).fileName();
        }
        SendDrop(window, files, OverRow(window, 1));
        WaitForConversion(&window);
        return QStringLiteral("drop %1%2").arg(names.join(QLatin1Char(' ')), refused());
    }
    case Remove:
        if (Bank().Count() > 0 && random.bounded(2) == 0) {
            Button(window, QStringLiteral("Del_Br_Button"), Bank().Count())->click();
            return QStringLiteral("remove by its button");
        }
        Activate(window);
        QTest::keyClick(&window, Qt::Key_Delete);
        return QStringLiteral("remove by Delete");
    case Replace: {
        const int layer = 1 + int(random.bounded(Bank().Count()));
        SendDrop(window, {sound}, OverRow(window, layer));
        WaitForConversion(&window);
        return QStringLiteral("replace layer %1 by %2%3").arg(layer).arg(soundName, refused());
    }
    case Order: {
        const int asked = prompts.asked.size();
        prompts.answers = {PromptAnswer::Yes};
        window.findChild<QPushButton *>(QStringLiteral("OrderByLoudnessButton"))->click();
        prompts.answers.clear();
        return QStringLiteral("order by loudness%1")
            .arg(prompts.asked.size() > asked ? QStringLiteral(", asked") : QString());
    }
    case ThresholdKey: {
        const int layer = 1 + int(random.bounded(Bank().Count() - 1));
        const Qt::Key keys[] = {Qt::Key_Up, Qt::Key_Down, Qt::Key_PageUp, Qt::Key_PageDown};
        const Qt::Key key = keys[random.bounded(4)];
        QPushButton *button = Button(window, QStringLiteral("ThrOfLayer"), layer);
        button->setFocus();
        QTest::keyClick(button, key);
        return QStringLiteral("threshold %1 key %2").arg(layer).arg(QKeySequence(key).toString());
    }
    case Gate: {
        const Qt::Key keys[] = {Qt::Key_Right, Qt::Key_Left, Qt::Key_Right, Qt::Key_Home, Qt::Key_End};
        const Qt::Key key = keys[random.bounded(5)];
        QTest::keyClick(window.findChild<QSlider *>(QStringLiteral("horizontalSlider")), key);
        return QStringLiteral("gate key %1").arg(QKeySequence(key).toString());
    }
    case Trim: {
        window.findChild<QCheckBox *>(QStringLiteral("TrimTailsBox"))->click();
        return QStringLiteral("trim tails%1").arg(refused());
    }
    case Open: {
        const QString bank = banks.at(int(random.bounded(int(banks.size()))));
        OpenBank(window, bank);
        return QStringLiteral("open %1").arg(bank);
    }
    case Write:
        banks << QStringLiteral("%1/written/bank%2.zks").arg(home.workingFolder()).arg(banks.size());
        Generate(window, banks.last());
        return QStringLiteral("generate %1").arg(banks.last());
    }
    return QString();
}

// Two hundred edits done as the user does them, undone to the empty window
// and redone: every step back and forth gives the state the edits made, and
// the bank generated at the end is the same again.
void TestUndo::twoHundredEdits()
{
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QUndoStack *stack = Stack(window);
    QVERIFY(stack);
    const QStringList empty = Everything(window);
    CheckShownAgrees(window);

    QRandomGenerator random(20261211);
    // The state after each step, by the undo stack's index.
    QVector<QStringList> states{empty};
    QStringList done;
    QMap<int, QString> madeBy; // the edit that made each step
    for (int edit = 1; edit <= 200; ++edit) {
        const QStringList before = Everything(window);
        const int index = stack->index();
        done << RandomEdit(window, random);
        QVERIFY(WaitForConversion(&window));
        if (QTest::currentTestFailed())
            return;
        const QStringList now = Everything(window);
        int expected = now == before ? index : index + 1;
        // Ordering thresholds the user set back to the spread by loudness
        // they already had changes only that they count as the user's.
        if (now == before && done.last().endsWith(QLatin1String(", asked")) && stack->index() == index + 1)
            expected = index + 1;
        if (stack->index() != expected || stack->count() != expected)
            QFAIL(qPrintable(QStringLiteral("edit %1, %2: step %3 of %4, expected %5%6")
                                 .arg(edit)
                                 .arg(done.last())
                                 .arg(stack->index())
                                 .arg(stack->count())
                                 .arg(expected)
                                 .arg(FirstDifference(now, before))));
        if (expected > index)
            madeBy.insert(expected, QStringLiteral("edit %1, %2").arg(edit).arg(done.last()));
        states.resize(expected + 1);
        states[expected] = now;
    }
    const int steps = stack->index();
    QVERIFY2(steps > 120, qPrintable(QString::number(steps)));

    const QString first = home.workingFolder() + QStringLiteral("/first/kit.zks");
    Generate(window, first);
    const QByteArray bank = ReadAll(first);
    QVERIFY(!bank.isEmpty());
    const QString saved = SavedBankSummary(QStringLiteral("kit.zks"), Bank().Count(), bank.size());
    QCOMPARE(StatusLine(window), saved);
    QCOMPARE(stack->index(), steps);

    // The state at `step` is the one recorded when it was made; every 25
    // steps the window's widgets are checked against the table too.
    const auto arrivedAt = [&](int step, const char *how) {
        QCOMPARE(stack->index(), step);
        const QStringList now = Everything(window);
        if (now != states.at(step))
            QFAIL(qPrintable(QStringLiteral("%1 to step %2, made by %3%4")
                                 .arg(QLatin1String(how))
                                 .arg(step)
                                 .arg(madeBy.value(step, QStringLiteral("nothing")))
                                 .arg(FirstDifference(now, states.at(step)))));
        if (step % 25 == 0) {
            CheckShownAgrees(window);
            QCOMPARE(Bank().AvailablePercent(), AvailablePercentFor(Bank().UsedSpace()));
        }
    };
    QVERIFY(Activate(window));
    for (int step = steps - 1; step >= 0; --step) {
        Undo(window);
        arrivedAt(step, "undone");
        if (QTest::currentTestFailed())
            return;
        if (step % 25 == 0)
            QCOMPARE(StatusLine(window), UnsavedChangesSummary(QStringLiteral("kit.zks")));
    }
    // Nothing is left to undo.
    Undo(window);
    QCOMPARE(stack->index(), 0);
    QCOMPARE(Everything(window), empty);
    // The bank written last is not the empty window's.
    QCOMPARE(StatusLine(window), UnsavedChangesSummary(QStringLiteral("kit.zks")));

    for (int step = 1; step <= steps; ++step) {
        Redo(window, step % 2 == 0);
        arrivedAt(step, "redone");
        if (QTest::currentTestFailed())
            return;
    }
    Redo(window);
    QCOMPARE(stack->index(), steps);
    QCOMPARE(StatusLine(window), saved);

    const QString again = home.workingFolder() + QStringLiteral("/again/kit.zks");
    Generate(window, again);
    const QByteArray second = ReadAll(again);
    QCOMPARE(second.size(), bank.size());
    QVERIFY(WithoutTag(second) == WithoutTag(bank));
}

void TestUndo::eachChangeIsOneStep_data()
{
    QTest::addColumn<QString>("change");
    for (const char *change : {"add", "add several", "remove", "replace", "order by loudness",
                               "threshold key", "gate", "trim tails", "open bank", "import kit"})
        QTest::newRow(change) << QString::fromLatin1(change);
}

// Each kind of change is one step: undo gives exactly the state before it,
// the layers' files there, and redo the state after it.
void TestUndo::eachChangeIsOneStep()
{
    QFETCH(QString, change);
    const QString kit = MakeKit();
    ZKWindow window;
    ScriptedPrompts prompts(window);
    ThreeLayers(window);
    QUndoStack *stack = Stack(window);
    const QStringList before = Everything(window);
    const int index = stack->index();

    MakeChange(window, change, kit);
    CheckOneStep(window, index, before);
}

// Generating marks the state undo comes back to as saved: the status line
// and the close prompt follow it.
void TestUndo::backToTheSavedBank()
{
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    ScriptedPrompts &prompts = home.Prompts();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    for (int n = 1; n <= 2; ++n)
        QVERIFY(AddLayerAnswered(window, prompts, n, sounds.at(n)).isEmpty());
    QUndoStack *stack = Stack(window);
    const int steps = stack->index();
    const QString bankPath = home.workingFolder() + QStringLiteral("/kit.zks");
    Generate(window, bankPath);
    // Writing is not a step.
    QCOMPARE(stack->index(), steps);
    const QString saved = SavedBankSummary(QStringLiteral("kit.zks"), 2, QFileInfo(bankPath).size());
    QCOMPARE(StatusLine(window), saved);
    const QString unsaved = UnsavedChangesSummary(QStringLiteral("kit.zks"));

    QPushButton *threshold = Button(window, QStringLiteral("ThrOfLayer"), 1);
    threshold->setFocus();
    QTest::keyClick(threshold, Qt::Key_Down);
    QCOMPARE(StatusLine(window), unsaved);
    Undo(window);
    QCOMPARE(StatusLine(window), saved);
    Redo(window);
    QCOMPARE(StatusLine(window), unsaved);
    Redo(window, true); // nothing left to redo
    QCOMPARE(StatusLine(window), unsaved);
    Undo(window);
    QCOMPARE(StatusLine(window), saved);
    // Further back than the bank: changed again.
    Undo(window);
    QCOMPARE(StatusLine(window), unsaved);
    Redo(window);
    QCOMPARE(StatusLine(window), saved);

    QVERIFY(window.close());
    QVERIFY(prompts.asked.isEmpty());
}

// While a sound converts, its result goes where the table had room: undo
// and redo wait.
void TestUndo::nothingUndoneWhileConverting()
{
    ZKWindow window;
    ScriptedPrompts prompts(window);
    ThreeLayers(window);
    Undo(window); // the threshold back, so there is something to redo too
    const QStringList before = Everything(window);
    QUndoStack *stack = Stack(window);
    const int index = stack->index();

    HeldConverter converter;
    prompts.openAnswers << QStringList{sounds.at(1)};
    Button(window, QStringLiteral("Del_Br_Button"), 4)->click();
    QTRY_VERIFY_WITH_TIMEOUT(converter.held(), kGiveUpMs);
    QVERIFY(Activate(window));
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    // The controls are locked meanwhile: the table alone is compared.
    const QStringList table = Held();
    Undo(window);
    QCOMPARE(Held(), table);
    Redo(window);
    QCOMPARE(Held(), table);
    QCOMPARE(stack->index(), index);
    converter.release();
    QVERIFY(WaitForConversion(&window));
    QCOMPARE(Bank().Count(), 4);
    QCOMPARE(stack->index(), index + 1);

    QVERIFY(Activate(window));
    Undo(window);
    QCOMPARE(Everything(window), before);
}

void TestUndo::dragIsOneStep_data()
{
    QTest::addColumn<QString>("slider");
    QTest::newRow("threshold") << "ThresholdSlider";
    QTest::newRow("gate") << "horizontalSlider";
}

// A drag, however far it went, is one step; undo puts back the state from
// before it was pressed.
void TestUndo::dragIsOneStep()
{
    QFETCH(QString, slider);
    ZKWindow window;
    ScriptedPrompts prompts(window);
    ThreeLayers(window);
    Button(window, QStringLiteral("ThrOfLayer"), 2)->click();
    auto *handle = window.findChild<QSlider *>(slider);
    QVERIFY(handle->isVisible());
    QUndoStack *stack = Stack(window);
    const QStringList before = Everything(window);
    const int index = stack->index();

    QPoint at = HandleCenter(handle);
    QTest::mousePress(handle, Qt::LeftButton, Qt::NoModifier, at);
    QVERIFY(handle->isSliderDown());
    const QPoint step = handle->orientation() == Qt::Vertical ? QPoint(0, -qMax(2, handle->height() / 40))
                                                              : QPoint(qMax(2, handle->width() / 8), 0);
    QStringList during;
    for (int move = 0; move < 6; ++move) {
        at += step;
        QMouseEvent moved(QEvent::MouseMove, at, handle->mapToGlobal(at), Qt::NoButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(handle, &moved);
        during << Held().join(QLatin1Char('\n'));
    }
    QTest::mouseRelease(handle, Qt::LeftButton, Qt::NoModifier, at);
    QVERIFY(!handle->isSliderDown());
    // It moved all the way, in more than one place, and is one step.
    during.removeDuplicates();
    QVERIFY2(during.size() >= 2, qPrintable(during.join(QLatin1String("\n--\n"))));
    CheckOneStep(window, index, before);
}

// A threshold key moves the threshold from where undo or an opened bank
// put it, not from where the slider last left it.
void TestUndo::keysMoveTheThresholdAsItIsNow()
{
    ZKWindow window;
    ScriptedPrompts prompts(window);
    ThreeLayers(window); // layer 1 selected and moved one down
    const int moved = Bank().Threshold(1);
    Undo(window);
    const int spread = Bank().Threshold(1);
    QCOMPARE(spread, moved + 1);
    QPushButton *threshold = Button(window, QStringLiteral("ThrOfLayer"), 1);
    threshold->setFocus();
    QTest::keyClick(threshold, Qt::Key_Up);
    QCOMPARE(Bank().Threshold(1), spread + 1);
    Undo(window);
    QCOMPARE(Bank().Threshold(1), spread);
    threshold->setFocus();
    QTest::keyClick(threshold, Qt::Key_Down);
    QCOMPARE(Bank().Threshold(1), moved);

    OpenBank(window, banks.at(1));
    QCOMPARE(Bank().Count(), 3);
    const int opened = Bank().Threshold(1);
    threshold->setFocus();
    QTest::keyClick(threshold, Qt::Key_PageUp);
    const auto *slider = window.findChild<QSlider *>(QStringLiteral("ThresholdSlider"));
    QCOMPARE(Bank().Threshold(1), opened + slider->pageStep());
    QCOMPARE(threshold->text(), QString::number(Bank().Threshold(1)));
}

// A key that cannot move its layer's threshold any further changes nothing
// and leaves nothing to undo, whatever the bank stored for the empty layers.
void TestUndo::keyThatCannotMoveTheLayerChangesNothing()
{
    const QString bank = home.workingFolder() + QStringLiteral("/lowest.zks");
    const ToolRun run = RunTool({"build", "-o", bank, "--thresholds", "2,1", sounds.at(0), sounds.at(2)});
    QVERIFY2(run.exitCode == 0, qPrintable(Show(run)));
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    OpenBank(window, bank);
    QCOMPARE(Bank().Count(), 2);
    QCOMPARE(Bank().Threshold(1), 2);
    QPushButton *threshold = Button(window, QStringLiteral("ThrOfLayer"), 1);
    threshold->click();
    const QStringList before = Everything(window);
    const int index = Stack(window)->index();
    threshold->setFocus();
    QTest::keyClick(threshold, Qt::Key_Down);
    QCOMPARE(Everything(window), before);
    QCOMPARE(Stack(window)->index(), index);
}

void TestUndo::rememberedChoicesAreTheUsers_data()
{
    QTest::addColumn<QString>("change");
    for (const char *change : {"undo", "redo", "open bank", "import kit"})
        QTest::newRow(change) << QString::fromLatin1(change);
}

// The gate and "Trim tails" are remembered as the user leaves them: undo,
// redo, an opened bank or an imported kit change the rows' gate and trimming
// but not the choices the next window starts with.
void TestUndo::rememberedChoicesAreTheUsers()
{
    QFETCH(QString, change);
    const QString kit = MakeKit();
    const auto remembered = []() {
        QSettings settings;
        return QStringLiteral("gate %1 trim %2")
            .arg(settings.value(QStringLiteral("CutSilence"), -1).toInt())
            .arg(settings.value(QStringLiteral("TrimTails"), QStringLiteral("unset")).toString());
    };
    ZKWindow window;
    ScriptedPrompts prompts(window);
    ThreeLayers(window);
    auto *gate = window.findChild<QSlider *>(QStringLiteral("horizontalSlider"));
    auto *trim = window.findChild<QCheckBox *>(QStringLiteral("TrimTailsBox"));
    QTest::keyClick(gate, Qt::Key_Right);
    QTest::keyClick(gate, Qt::Key_Right);
    trim->click();
    QCOMPARE(remembered(), QStringLiteral("gate 2 trim true"));

    if (change == QLatin1String("undo")) {
        for (int step = 0; step < 3; ++step)
            Undo(window);
        QCOMPARE(gate->value(), 0);
        QVERIFY(!trim->isChecked());
    } else if (change == QLatin1String("redo")) {
        for (int step = 0; step < 3; ++step)
            Undo(window);
        // As another window of the program would leave them meanwhile.
        QSettings().setValue(QStringLiteral("CutSilence"), 4);
        QSettings().setValue(QStringLiteral("TrimTails"), false);
        for (int step = 0; step < 3; ++step)
            Redo(window);
        QCOMPARE(gate->value(), 2);
        QVERIFY(trim->isChecked());
        QCOMPARE(remembered(), QStringLiteral("gate 4 trim false"));
        QSettings().setValue(QStringLiteral("CutSilence"), 2);
        QSettings().setValue(QStringLiteral("TrimTails"), true);
    } else {
        MakeChange(window, change, kit);
        QCOMPARE(gate->value(), 0);
    }
    QCOMPARE(remembered(), QStringLiteral("gate 2 trim true"));

    // What the user changes next is remembered.
    QVERIFY(Activate(window));
    QTest::keyClick(gate, Qt::Key_End);
    QCOMPARE(remembered(), QStringLiteral("gate 4 trim true"));
    trim->click();
    QCOMPARE(remembered(), QStringLiteral("gate 4 trim %1").arg(trim->isChecked() ? "true" : "false"));
    QCOMPARE(trim->isChecked(), change == QLatin1String("undo"));
}

void TestUndo::filesLastWhileAStepNeedsThem_data()
{
    QTest::addColumn<QString>("change");
    for (const char *change : {"remove", "replace", "trim tails", "open bank", "import kit"})
        QTest::newRow(change) << QString::fromLatin1(change);
}

// A layer file, or a trimmed copy, that a change takes out of the rows stays
// while a step may bring it back, through undo or redo, and goes with the
// last step that needs it: here, the redo a new change discards.
void TestUndo::filesLastWhileAStepNeedsThem()
{
    QFETCH(QString, change);
    const QString kit = MakeKit();
    ZKWindow window;
    ScriptedPrompts prompts(window);
    ThreeLayers(window);
    const QStringList before = LayerFilesInUse();
    QCOMPARE(FolderTree(WorkFolder()), before);

    MakeChange(window, change, kit);
    const QStringList after = LayerFilesInUse();
    QStringList both = before + after;
    both.removeDuplicates();
    both.sort();
    QVERIFY(after != before);
    // Undo may want the files of before, redo those of after.
    QCOMPARE(FolderTree(WorkFolder()), both);
    Undo(window);
    QCOMPARE(LayerFilesInUse(), before);
    QCOMPARE(FolderTree(WorkFolder()), both);
    Redo(window);
    QCOMPARE(LayerFilesInUse(), after);
    QCOMPARE(FolderTree(WorkFolder()), both);
    Undo(window);

    // A change now leaves nothing to redo: what only the redo needed goes.
    QTest::keyClick(window.findChild<QSlider *>(QStringLiteral("horizontalSlider")), Qt::Key_Right);
    QVERIFY(!Stack(window)->canRedo());
    QCOMPARE(LayerFilesInUse(), before);
    QCOMPARE(FolderTree(WorkFolder()), before);
}

// However long the editing, the working folder holds no more than the rows
// and the steps undo keeps: the oldest step goes once the stack is full, and
// with it the files only it needed.
void TestUndo::longRunOfReplacementsStaysBounded()
{
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    ScriptedPrompts &prompts = home.Prompts();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QUndoStack *stack = Stack(window);
    QCOMPARE(stack->undoLimit(), 200);
    QVERIFY(AddLayerAnswered(window, prompts, 1, sounds.at(0)).isEmpty());
    // Each sound comes with a trimmed copy too.
    window.findChild<QCheckBox *>(QStringLiteral("TrimTailsBox"))->click();
    QVERIFY(Bank().Path(1) != Bank().Source(1));
    // A layer added by a drop and a press on the gate's handle: neither
    // keeps the first layer's files once the steps that need them are gone.
    QVERIFY(SendDrop(window, {sounds.at(2)}, OverRow(window, 2)));
    QVERIFY(WaitForConversion(&window));
    QCOMPARE(Bank().Count(), 2);
    auto *gate = window.findChild<QSlider *>(QStringLiteral("horizontalSlider"));
    QTest::mousePress(gate, Qt::LeftButton, Qt::NoModifier, HandleCenter(gate));
    QVERIFY(gate->isSliderDown());
    QTest::mouseRelease(gate, Qt::LeftButton, Qt::NoModifier, HandleCenter(gate));

    const int replacements = 300;
    // The files in use after each replacement; the first, before any.
    QVector<QStringList> inUse{LayerFilesInUse()};
    for (int k = 1; k <= replacements; ++k) {
        QVERIFY(SendDrop(window, {sounds.at(k % 4)}, OverRow(window, 1)));
        QVERIFY(WaitForConversion(&window));
        QVERIFY2(prompts.messages.isEmpty(),
                 qPrintable(prompts.messages.value(0).text + QLatin1Char(' ') + prompts.messages.value(0).detail));
        inUse << LayerFilesInUse();
        QVERIFY(inUse.last() != inUse.at(k - 1));
    }
    QCOMPARE(stack->count(), stack->undoLimit());
    QCOMPARE(stack->index(), stack->undoLimit());

    // The steps kept go back to the state after replacement 100.
    const int oldest = replacements - stack->undoLimit();
    QStringList kept;
    for (int k = oldest; k <= replacements; ++k)
        kept += inUse.at(k);
    kept.removeDuplicates();
    kept.sort();
    QCOMPARE(FolderTree(WorkFolder()), kept);

    QVERIFY(Activate(window));
    for (int k = replacements - 1; k >= oldest; --k) {
        Undo(window);
        QCOMPARE(LayerFilesInUse(), inUse.at(k));
    }
    QVERIFY(!stack->canUndo());
    for (const QString &file : LayerFilesInUse())
        QVERIFY2(QFileInfo::exists(QDir(WorkFolder()).filePath(file)), qPrintable(file));
}

ZK_TEST(TestUndo)
#include "tst_undo.moc"
