#include <QtTest>

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QSoundEffect>

#include <cmath>
#include <iterator>

#include "audiooutput.h"
#include "bankreader.h"
#include "fileprocessor.h"
#include "layerview.h"
#include "testmain.h"
#include "widgetsupport.h"
#include "windowfixture.h"
#include "zkwindow.h"

Q_DECLARE_METATYPE(QVector<qint16>)

namespace {

bool AudioOutputMissing() { return false; }

// Rises by one step a sample from silence, so each gate cuts it at a
// different place, then a -6 dBFS sine; 0.5 s in all, a multiple of 256
// frames so the region ends with 256 frames of padding.
QVector<qint16> RisingHit()
{
    QVector<qint16> left(2000);
    for (int i = 0; i < left.size(); ++i)
        left[i] = qint16(i % 2 ? -i : i);
    return left + Sine1k(256 * 86 - left.size(), -6);
}

// The slot table's layers and thresholds, to tell whether anything moved.
struct Table {
    QStringList paths, names;
    QVector<qint32> sizes;
    QVector<qint32> thresholds;
    bool operator==(const Table &o) const
    {
        return paths == o.paths && names == o.names && sizes == o.sizes && thresholds == o.thresholds;
    }
};

Table CurrentTable()
{
    Table t;
    for (int i = 0; i < Bank().Count(); ++i) {
        t.paths << Bank().Path(i + 1);
        t.names << Bank().Name(i + 1);
        t.sizes << Bank().Size(i + 1);
    }
    for (int n = 1; n <= kMaxLayers; ++n)
        t.thresholds << Bank().Threshold(n);
    return t;
}

} // namespace

// What the window tells of each layer's sound: its levels, which hits each
// layer plays, the order by loudness, and the waveform strip with its cut
// and its play button.
class TestLoudnessView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void orderButtonShownWithTwoLayers();
    void orderByLoudness();
    void orderAsksBeforeReplacingEditedThresholds_data();
    void orderAsksBeforeReplacingEditedThresholds();
    void orderRefusesALayerItCannotMeasure();
    void rowToolTipsGiveLevels_data();
    void rowToolTipsGiveLevels();
    void thresholdToolTipsSayWhichHits_data();
    void thresholdToolTipsSayWhichHits();
    void viewCutsWhereTheBankDoes_data();
    void viewCutsWhereTheBankDoes();
    void viewShadesCutAndPadding();
    void viewFollowsSelection();
    void viewDrawnToTheLayersPeak();
    void playGivesWhatTheBankHolds();
    void playWithoutAudioOutputWarnsOncePerWindow();

private:
    QString MakeWave(const QString &name, quint16 channels, const QVector<qint16> &samples);
    // Adds the first `count` of three sines, layer 1 first: -12 dBFS for
    // 1 s, -20 dBFS for 0.5 s and -6 dBFS for 0.25 s.
    void AddThreeSines(ZKWindow &window, int count = 3);
    void AddLayer(ZKWindow &window, const QString &file);
    // Clicks the order button, answering a box, if one comes, with `answer`.
    // Presses Order by loudness; the questions it asked, answered `answer`.
    QStringList ClickOrder(ZKWindow &window, PromptAnswer answer = PromptAnswer::No);
    QStringList ThresholdTips(ZKWindow &window);

    WindowFixture home;
};

void TestLoudnessView::initTestCase()
{
    QVERIFY(home.setUp());
}

void TestLoudnessView::init()
{
    home.startTest();
}

void TestLoudnessView::cleanup()
{
    home.endTest();
}

QString TestLoudnessView::MakeWave(const QString &name, quint16 channels, const QVector<qint16> &samples)
{
    const QString path = home.path() + QStringLiteral("/sounds/") + name;
    if (!WriteBytes(path, Wav16(channels, kBankRate, samples)))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestLoudnessView::AddLayer(ZKWindow &window, const QString &file)
{
    const int before = Bank().Count();
    AddLayerAnswered(window, *ScriptedPrompts::Of(window), before + 1, file);
    QCOMPARE(Bank().Count(), before + 1);
}

void TestLoudnessView::AddThreeSines(ZKWindow &window, int count)
{
    const QString files[] = {
        MakeWave(QStringLiteral("medium.wav"), 1, Sine1k(kBankRate, -12)),
        MakeWave(QStringLiteral("soft.wav"), 1, Sine1k(kBankRate / 2, -20)),
        MakeWave(QStringLiteral("hard.wav"), 1, Sine1k(kBankRate / 4, -6)),
    };
    for (int i = 0; i < count; ++i)
        AddLayer(window, files[i]);
}

QStringList TestLoudnessView::ClickOrder(ZKWindow &window, PromptAnswer answer)
{
    ScriptedPrompts &prompts = *ScriptedPrompts::Of(window);
    const int before = prompts.asked.size();
    prompts.answers = {answer};
    window.findChild<QPushButton *>(QStringLiteral("OrderByLoudnessButton"))->click();
    prompts.answers.clear();
    QStringList texts;
    for (const ScriptedPrompts::Question &question : prompts.asked.mid(before))
        texts << question.text;
    return texts;
}

QStringList TestLoudnessView::ThresholdTips(ZKWindow &window)
{
    QStringList tips;
    for (int n = 1; n <= kMaxLayers; ++n)
        tips << window.findChild<QPushButton *>(QStringLiteral("ThrOfLayer_%1").arg(n))->toolTip();
    return tips;
}

void TestLoudnessView::orderButtonShownWithTwoLayers()
{
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    auto *order = window.findChild<QPushButton *>(QStringLiteral("OrderByLoudnessButton"));
    QVERIFY(order);
    QCOMPARE(order->text(), QStringLiteral("Order by loudness"));
    QVERIFY(!order->isVisible());
    const QString sound = MakeWave(QStringLiteral("tick.wav"), 1, Sine1k(600, -6));
    AddLayer(window, sound);
    QVERIFY(!order->isVisible());
    AddLayer(window, sound);
    QVERIFY(order->isVisible());
    window.findChild<QPushButton *>(QStringLiteral("Del_Br_Button_2"))->click();
    QCOMPARE(Bank().Count(), 1);
    QVERIFY(!order->isVisible());
}

void TestLoudnessView::orderByLoudness()
{
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    AddThreeSines(window);
    const Table before = CurrentTable();

    QVERIFY(ClickOrder(window).isEmpty()); // nothing the user set is lost: no question

    QCOMPARE(Bank().Count(), 3);
    QCOMPARE((QStringList{Bank().Name(1), Bank().Name(2), Bank().Name(3)}),
             (QStringList{"hard.wav", "medium.wav", "soft.wav"}));
    // Each layer's file and size went with its name.
    const int from[] = {2, 0, 1};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(Bank().Path(i + 1), before.paths.at(from[i]));
        QCOMPARE(Bank().Size(i + 1), before.sizes.at(from[i]));
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("Filename_%1").arg(i + 1))->text(), Bank().Name(i + 1));
    }
    // The default spread's 85 on top, 1 at the bottom, and the -12 dBFS
    // sine 8 dB of the 14 between them above the softest: 1 + 84 x 8 / 14.
    QCOMPARE((QVector<qint32>{Bank().Threshold(1), Bank().Threshold(2), Bank().Threshold(3)}), (QVector<qint32>{85, 49, 1}));
    for (int n = 1; n <= 3; ++n)
        QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("ThrOfLayer_%1").arg(n))->text(),
                 QString::number(Bank().Threshold(n)));
    QCOMPARE(ThresholdTips(window).mid(0, 3),
             (QStringList{"Layer 1 plays hits from 85 up (the hardest)", "Layer 2 plays hits from 49 to 84",
                          "Layer 3 plays hits from 1 to 48 (the softest)"}));
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("Filename_1"))->toolTip(),
             QStringLiteral("Peak -6.0\u00A0dBFS, attack -9.0\u00A0dBFS"));

    // Already in order: ordering again changes nothing.
    const Table ordered = CurrentTable();
    QVERIFY(ClickOrder(window).isEmpty());
    QVERIFY(CurrentTable() == ordered);
}

void TestLoudnessView::orderAsksBeforeReplacingEditedThresholds_data()
{
    QTest::addColumn<QString>("edit");
    QTest::addColumn<PromptAnswer>("answer");
    QTest::addColumn<bool>("asked");
    QTest::newRow("dragged, answered No") << "drag" << PromptAnswer::No << true;
    QTest::newRow("moved with a key, answered Yes") << "key" << PromptAnswer::Yes << true;
    // Adding a layer spreads the thresholds anew: nothing of the user's left.
    QTest::newRow("dragged before the last layer came") << "drag, then add" << PromptAnswer::No << false;
    // A bank's thresholds (or a kit's, which come the same way) were chosen
    // by whoever made it.
    QTest::newRow("bank opened, answered No") << "open" << PromptAnswer::No << true;
    QTest::newRow("bank opened, answered Yes") << "open" << PromptAnswer::Yes << true;
}

void TestLoudnessView::orderAsksBeforeReplacingEditedThresholds()
{
    QFETCH(QString, edit);
    QFETCH(PromptAnswer, answer);
    QFETCH(bool, asked);
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    ScriptedPrompts &prompts = home.Prompts();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const bool addAfter = edit.endsWith(QLatin1String("add"));
    if (edit == QLatin1String("open")) {
        // The three sines as a bank's layers, its author's thresholds
        // unlike any spread.
        QVector<LayerFile> layers;
        const QVector<qint16> sines[] = {Sine1k(kBankRate, -12), Sine1k(kBankRate / 2, -20), Sine1k(kBankRate / 4, -6)};
        const QString names[] = {QStringLiteral("medium.wav"), QStringLiteral("soft.wav"), QStringLiteral("hard.wav")};
        for (int i = 0; i < 3; ++i) {
            const QString path = MakeWave(QStringLiteral("bank layer %1.wav").arg(i + 1), 1, sines[i]);
            layers << LayerFile{path, names[i], OpenAndCheckFile(path)};
        }
        const ThresholdTable authors = {0, 100, 73, 1, 1, 1, 1, 1, 1};
        const QString bank = home.path() + QStringLiteral("/kit.zks");
        QCOMPARE(GenerateZKS(MakeGeneratorArgs(layers, authors, 0, bank)), GENERATE_OK);
        prompts.openAnswers << QStringList{bank};
        window.findChild<QPushButton *>(QStringLiteral("OpenBankButton"))->click();
        QCOMPARE(Bank().Count(), 3);
        QCOMPARE((QVector<qint32>{Bank().Threshold(1), Bank().Threshold(2), Bank().Threshold(3)}), (QVector<qint32>{100, 73, 1}));
    } else {
        AddThreeSines(window, addAfter ? 2 : 3);
        window.findChild<QPushButton *>(QStringLiteral("ThrOfLayer_1"))->click();
        auto *slider = window.findChild<QSlider *>(QStringLiteral("ThresholdSlider"));
        const qint32 spread = Bank().Threshold(1);
        if (edit == QLatin1String("key")) {
            slider->setFocus();
            QTest::keyClick(slider, Qt::Key_Up);
        } else {
            QVERIFY(QMetaObject::invokeMethod(slider, "sliderMoved", Q_ARG(int, 100)));
        }
        QVERIFY(Bank().Threshold(1) != spread);
    }
    if (addAfter) {
        const QString hard = MakeWave(QStringLiteral("hard.wav"), 1, Sine1k(kBankRate / 4, -6));
        AddLayer(window, hard);
    }
    const Table before = CurrentTable();

    const QStringList questions = ClickOrder(window, answer);

    QCOMPARE(questions.size(), asked ? 1 : 0);
    if (asked)
        QCOMPARE(questions.at(0), QStringLiteral("Replace the thresholds you set with ones spread by loudness?"));
    if (answer == PromptAnswer::No && asked) {
        QVERIFY(CurrentTable() == before);
        QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("ThrOfLayer_1"))->text(),
                 QString::number(before.thresholds.at(0)));
        return;
    }
    QCOMPARE((QStringList{Bank().Name(1), Bank().Name(2), Bank().Name(3)}),
             (QStringList{"hard.wav", "medium.wav", "soft.wav"}));
    QCOMPARE((QVector<qint32>{Bank().Threshold(1), Bank().Threshold(2), Bank().Threshold(3)}), (QVector<qint32>{85, 49, 1}));
    // The loudness spread is no edit of the user's: ordering again asks
    // nothing.
    QVERIFY(ClickOrder(window).isEmpty());
}

void TestLoudnessView::orderRefusesALayerItCannotMeasure()
{
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    ScriptedPrompts &prompts = home.Prompts();
    // Layer 2's file is gone before anything measured it.
    const QString medium = MakeWave(QStringLiteral("medium.wav"), 1, Sine1k(kBankRate, -12));
    const QString hard = MakeWave(QStringLiteral("hard.wav"), 1, Sine1k(kBankRate / 4, -6));
    ThresholdTable thresholds;
    DefaultThresholds(thresholds, 3);
    window.Table().Open({{{medium, QStringLiteral("medium.wav"), OpenAndCheckFile(medium)}, 0},
                         {{home.path() + QStringLiteral("/gone.wav"), QStringLiteral("soft.wav"), 4096}, 0},
                         {{hard, QStringLiteral("hard.wav"), OpenAndCheckFile(hard)}, 0}},
                        thresholds, QStringLiteral("Open"));
    const Table before = CurrentTable();

    window.findChild<QPushButton *>(QStringLiteral("OrderByLoudnessButton"))->click();

    QCOMPARE(prompts.messages.size(), 1);
    QCOMPARE(prompts.messages.at(0).title, QStringLiteral("WARNING"));
    QCOMPARE(prompts.messages.at(0).text, QStringLiteral("Layer 2 could not be measured: no such file."));
    QCOMPARE(prompts.messages.at(0).icon, QMessageBox::Warning);
    QVERIFY(CurrentTable() == before);
}

void TestLoudnessView::rowToolTipsGiveLevels_data()
{
    QTest::addColumn<QVector<qint16>>("samples");
    QTest::addColumn<int>("gatePosition");
    QTest::addColumn<QString>("levels");
    // NaN: too short for a loudness; minus infinity: below the -70 LUFS
    // that integrated loudness counts at all.
    QTest::addColumn<double>("lufs");

    const double none = std::nan("");
    // 100 ms at amplitude 60 before a -6 dBFS sine of 1 s: above the -60dB
    // gate's 33, below the -50dB gate's 103. The attack starts at the hit's
    // onset either way; while the lead-in stays, it takes 0.14 LU off the
    // loudness.
    const QVector<qint16> leadIn = Square(4410, 60) + Sine1k(kBankRate, -6);
    QTest::newRow("quiet lead-in, gate off")
        << leadIn << 0 << "Peak -6.0\u00A0dBFS, attack -9.0\u00A0dBFS" << -9.17;
    QTest::newRow("quiet lead-in, -60dB keeps it")
        << leadIn << 1 << "Peak -6.0\u00A0dBFS, attack -9.0\u00A0dBFS" << -9.17;
    QTest::newRow("quiet lead-in, -50dB cuts it") << leadIn << 2 << "Peak -6.0\u00A0dBFS, attack -9.0\u00A0dBFS" << -9.03;
    QTest::newRow("0.25 s has no loudness")
        << Sine1k(kBankRate / 4, -6) << 0 << "Peak -6.0\u00A0dBFS, attack -9.0\u00A0dBFS" << none;
    QTest::newRow("one step above silence") << Square(kBankRate, 1) << 0
                                            << "Peak -90.3\u00A0dBFS, attack -90.3\u00A0dBFS" << -qInf();
    // A peak a hair below full scale rounds to 0.0, which has no sign.
    QTest::newRow("full scale") << Square(kBankRate / 4, 32767) << 0
                                << "Peak 0.0\u00A0dBFS, attack 0.0\u00A0dBFS" << none;
    QTest::newRow("-30dB cuts all of a quieter sound")
        << Square(kBankRate, 1000) << 4 << "Silent: no levels to measure" << none;
}

void TestLoudnessView::rowToolTipsGiveLevels()
{
    QFETCH(QVector<qint16>, samples);
    QFETCH(int, gatePosition);
    QFETCH(QString, levels);
    QFETCH(double, lufs);
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    AddLayer(window, MakeWave(QStringLiteral("hit.wav"), 1, samples));
    // Measured when the layer comes, then again as the gate moves.
    window.findChild<QSlider *>(QStringLiteral("horizontalSlider"))->setValue(gatePosition);

    const QStringList lines = window.findChild<QLabel *>(QStringLiteral("Filename_1"))->toolTip().split(QLatin1Char('\n'));
    QCOMPARE(lines.value(0), levels);
    QCOMPARE(lines.size(), std::isnan(lufs) ? 1 : 2);
    if (std::isnan(lufs))
        return;
    if (std::isinf(lufs)) {
        QCOMPARE(lines.at(1), QStringLiteral("Loudness below what can be measured"));
        return;
    }
    const QRegularExpressionMatch loudness =
        QRegularExpression(QStringLiteral("^Loudness (-\\d+\\.\\d)\u00A0LUFS$")).match(lines.at(1));
    QVERIFY2(loudness.hasMatch(), qPrintable(lines.at(1)));
    QVERIFY2(std::abs(loudness.captured(1).toDouble() - lufs) <= 0.1, qPrintable(lines.at(1)));
}

void TestLoudnessView::thresholdToolTipsSayWhichHits_data()
{
    QTest::addColumn<int>("layers");
    QTest::addColumn<int>("position"); // where layer 1 is dragged; -1: not at all
    QTest::addColumn<QStringList>("tips");
    QTest::newRow("2 layers") << 2 << -1
                              << QStringList{"Layer 1 plays hits from 64 up (the hardest)",
                                             "Layer 2 plays hits from 1 to 63 (the softest)"};
    QTest::newRow("8 layers") << 8 << -1
                              << QStringList{"Layer 1 plays hits from 113 up (the hardest)",
                                             "Layer 2 plays hits from 97 to 112",
                                             "Layer 3 plays hits from 81 to 96",
                                             "Layer 4 plays hits from 65 to 80",
                                             "Layer 5 plays hits from 49 to 64",
                                             "Layer 6 plays hits from 33 to 48",
                                             "Layer 7 plays hits from 17 to 32",
                                             "Layer 8 plays hits from 1 to 16 (the softest)"};
    // Thresholds 10, 9, ... 4, 1: a layer between two neighbours one apart
    // plays a single strength.
    QTest::newRow("8 layers, layer 1 dragged to 10") << 8 << 10
                                                     << QStringList{"Layer 1 plays hits from 10 up (the hardest)",
                                                                    "Layer 2 plays only hits of 9",
                                                                    "Layer 3 plays only hits of 8",
                                                                    "Layer 4 plays only hits of 7",
                                                                    "Layer 5 plays only hits of 6",
                                                                    "Layer 6 plays only hits of 5",
                                                                    "Layer 7 plays only hits of 4",
                                                                    "Layer 8 plays hits from 1 to 3 (the softest)"};
}

void TestLoudnessView::thresholdToolTipsSayWhichHits()
{
    QFETCH(int, layers);
    QFETCH(int, position);
    QFETCH(QStringList, tips);
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    const QString sound = MakeWave(QStringLiteral("tick.wav"), 1, Sine1k(600, -6));
    for (int n = 1; n <= layers; ++n)
        AddLayer(window, sound);
    if (position >= 0) {
        window.findChild<QPushButton *>(QStringLiteral("ThrOfLayer_1"))->click();
        auto *slider = window.findChild<QSlider *>(QStringLiteral("ThresholdSlider"));
        QVERIFY(QMetaObject::invokeMethod(slider, "sliderMoved", Q_ARG(int, position)));
    }
    const QString unused = QStringLiteral("Threshold Value of this Layer");
    while (tips.size() < kMaxLayers)
        tips << unused;
    QCOMPARE(ThresholdTips(window), tips);

    // With one layer left there is nothing to tell apart.
    for (int n = layers; n >= 2; --n)
        window.findChild<QPushButton *>(QStringLiteral("Del_Br_Button_%1").arg(n))->click();
    for (QString &tip : tips)
        tip = unused;
    QCOMPARE(ThresholdTips(window), tips);
}

void TestLoudnessView::viewCutsWhereTheBankDoes_data()
{
    QTest::addColumn<int>("gatePosition");
    // 22016 frames less the cut, in seconds; the layer's size does not
    // change with the gate.
    QTest::addColumn<QString>("caption");
    const char *captions[] = {"Layer 1: 0.50\u00A0s, 45\u00A0KB", "Layer 1: 0.50\u00A0s, 45\u00A0KB",
                              "Layer 1: 0.50\u00A0s, 45\u00A0KB", "Layer 1: 0.49\u00A0s, 45\u00A0KB",
                              "Layer 1: 0.48\u00A0s, 45\u00A0KB"};
    QCOMPARE(int(std::size(captions)), kGateLevels);
    for (int position = 0; position < kGateLevels; ++position) {
        QString label;
        quint16 amplitude;
        GateForPosition(position, &label, &amplitude);
        QTest::newRow(qPrintable(label)) << position << QString::fromUtf8(captions[position]);
    }
}

// The strip's cut follows the gate, judged on the left channel, as the
// bank's: the right one is loud from its first sample.
void TestLoudnessView::viewCutsWhereTheBankDoes()
{
    QFETCH(int, gatePosition);
    QFETCH(QString, caption);
    QString label;
    quint16 amplitude;
    QVERIFY(GateForPosition(gatePosition, &label, &amplitude));
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    const QVector<qint16> left = RisingHit();
    AddLayer(window, MakeWave(QStringLiteral("rising.wav"), 2, Interleaved(left, Square(left.size(), 30000))));
    auto *view = window.findChild<LayerView *>(QStringLiteral("LayerView"));
    QVERIFY(view);
    QCOMPARE(view->shownLayer(), 1);

    window.findChild<QSlider *>(QStringLiteral("horizontalSlider"))->setValue(gatePosition);

    const qint64 held = CutLeadingSilence(Pcm(left), amplitude).size() / 2;
    QCOMPARE(view->cutFrames(), left.size() - held);
    // Each gate cuts the rise at the step that first reaches it.
    QCOMPARE(view->cutFrames(), qint64(amplitude));
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("LayerViewCaption"))->text(), caption);
}

// Across the strip, left to right: the cut part, the sound the bank holds
// and the padding after it, each in its own shade above the waveform.
void TestLoudnessView::viewShadesCutAndPadding()
{
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QVector<qint16> left = RisingHit();
    AddLayer(window, MakeWave(QStringLiteral("rising.wav"), 1, left));
    window.findChild<QSlider *>(QStringLiteral("horizontalSlider"))->setValue(4); // cuts 1035 frames
    SettleLayout();

    auto *strip = window.findChild<QWidget *>(QStringLiteral("LayerViewStrip"));
    const QImage image = strip->grab().toImage();
    const double span = 1035 + Bank().Size(1) / 2; // cut frames, then the region
    const auto shadeAt = [&](double frame) { return image.pixelColor(int(frame / span * image.width()), 1); };
    const QColor cut = shadeAt(1035 / 2);
    const QColor held = shadeAt(1035 + left.size() / 2);
    const QColor padding = shadeAt(span - 1035 / 2);
    QVERIFY(cut != held);
    QVERIFY(padding != held);
    QVERIFY(padding != cut);
}

void TestLoudnessView::viewFollowsSelection()
{
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    auto *view = window.findChild<LayerView *>(QStringLiteral("LayerView"));
    auto *hint = window.findChild<QLabel *>(QStringLiteral("LayerViewHint"));
    auto *caption = window.findChild<QLabel *>(QStringLiteral("LayerViewCaption"));
    auto *play = window.findChild<QPushButton *>(QStringLiteral("LayerViewPlay"));
    QCOMPARE(view->shownLayer(), 0);
    QVERIFY(hint->isVisible());
    QCOMPARE(hint->text(), QStringLiteral("Add a layer to see its waveform here"));
    QVERIFY(!caption->isVisible());
    QVERIFY(!play->isEnabled());

    AddThreeSines(window);
    QCOMPARE(view->shownLayer(), 3); // the last added
    QVERIFY(!hint->isVisible());
    QVERIFY(caption->text().startsWith(QStringLiteral("Layer 3: 0.25\u00A0s")));
    QVERIFY(play->isEnabled());
    const auto select = [&](int layer) {
        window.findChild<QPushButton *>(QStringLiteral("ThrOfLayer_%1").arg(layer))->click();
    };
    // The checked threshold button and the slider name the layer the strip
    // shows.
    auto *slider = window.findChild<QSlider *>(QStringLiteral("ThresholdSlider"));
    const auto agree = [&]() {
        int checked = 0;
        for (int n = 1; n <= kMaxLayers; ++n) {
            auto *button = window.findChild<QPushButton *>(QStringLiteral("ThrOfLayer_%1").arg(n));
            if (button->isVisible() && button->isChecked())
                checked = n;
        }
        QCOMPARE(checked, view->shownLayer());
        if (slider->isVisible()) {
            QCOMPARE(window.SelectedLayer(), view->shownLayer());
            QCOMPARE(slider->value(), int(Bank().Threshold(window.SelectedLayer())));
        }
    };
    agree();
    select(1);
    QCOMPARE(view->shownLayer(), 1);
    QVERIFY(slider->isVisible());
    agree();
    QVERIFY(caption->text().startsWith(QStringLiteral("Layer 1: 1.00\u00A0s")));
    select(3); // the last layer, which has no slider, still shows
    QCOMPARE(view->shownLayer(), 3);

    // The layer shown moves with its sound: the -6 dBFS sine comes first.
    ClickOrder(window);
    QCOMPARE(view->shownLayer(), 1);
    QCOMPARE(Bank().Name(1), QStringLiteral("hard.wav"));
    agree();
    select(2);
    agree();
    ClickOrder(window);
    QCOMPARE(view->shownLayer(), 2);
    agree();

    select(3);
    window.findChild<QPushButton *>(QStringLiteral("Del_Br_Button_3"))->click();
    QCOMPARE(view->shownLayer(), 2);
    agree();
    AddLayer(window, MakeWave(QStringLiteral("again.wav"), 1, Sine1k(kBankRate / 4, -6)));
    QCOMPARE(view->shownLayer(), 3);
    agree();
    window.findChild<QPushButton *>(QStringLiteral("Del_Br_Button_3"))->click();
    window.findChild<QPushButton *>(QStringLiteral("Del_Br_Button_2"))->click();
    window.findChild<QPushButton *>(QStringLiteral("Del_Br_Button_1"))->click();
    QCOMPARE(Bank().Count(), 0);
    QCOMPARE(view->shownLayer(), 0);
    QVERIFY(hint->isVisible());
    QVERIFY(!play->isEnabled());
}

// A soft brush fills the strip as a loud hit does: the strip is drawn to
// the layer's own peak, says so, and grows with the window's height.
void TestLoudnessView::viewDrawnToTheLayersPeak()
{
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    AddLayer(window, MakeWave(QStringLiteral("brush.wav"), 1, Sine1k(kBankRate, -29)));
    auto *strip = window.findChild<QWidget *>(QStringLiteral("LayerViewStrip"));
    QCOMPARE(strip->toolTip(), QStringLiteral("Drawn to the layer's own peak, -29.0\u00A0dBFS, at full height"));
    const auto topOfWave = [&]() {
        const QImage image = strip->grab().toImage();
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixelColor(x, y) == QColor(0, 130, 0))
                    return y;
            }
        }
        return image.height();
    };
    QVERIFY2(topOfWave() <= 2, qPrintable(QString::number(topOfWave())));
    const int before = strip->height();
    window.resize(window.width(), window.height() + 200);
    SettleLayout();
    QVERIFY2(strip->height() > before + 100, qPrintable(QString::number(strip->height())));
}

void TestLoudnessView::playGivesWhatTheBankHolds()
{
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    const QVector<qint16> left = RisingHit();
    AddLayer(window, MakeWave(QStringLiteral("rising.wav"), 2, Interleaved(left, Square(left.size(), 30000))));
    window.findChild<QSlider *>(QStringLiteral("horizontalSlider"))->setValue(3);
    auto *play = window.findChild<QPushButton *>(QStringLiteral("LayerViewPlay"));
    const auto lastPlayed = [&window]() {
        return window.findChildren<QSoundEffect *>().last()->source().toLocalFile();
    };

    play->click();
    const QString held = lastPlayed();
    QVERIFY2(held.startsWith(WorkFolder() + QLatin1Char('/')), qPrintable(held));
    const QByteArray audio = CutLeadingSilence(Pcm(left), 328);
    QFile file(held);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), CanonicalWavHeader(1, kBankRate, 16, quint32(audio.size())) + audio);
    file.close();

    // The row's button still plays the converted file, both channels.
    window.findChild<QPushButton *>(QStringLiteral("Play_Button_1"))->click();
    QCOMPARE(lastPlayed(), Bank().Path(1));

    // Another gate, another sound.
    window.findChild<QSlider *>(QStringLiteral("horizontalSlider"))->setValue(0);
    play->click();
    QVERIFY(lastPlayed() != held);
    QCOMPARE(QFileInfo(lastPlayed()).size(), qint64(kWavHeaderSize + 2 * left.size()));

    // What was written for a layer goes with it.
    const QString ungated = lastPlayed();
    window.findChild<QPushButton *>(QStringLiteral("Del_Br_Button_1"))->click();
    QVERIFY(!QFileInfo::exists(held));
    QVERIFY(!QFileInfo::exists(ungated));
}

void TestLoudnessView::playWithoutAudioOutputWarnsOncePerWindow()
{
    SetAudioOutputCheck(AudioOutputMissing);
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    ScriptedPrompts &prompts = home.Prompts();
    AddThreeSines(window, 1);
    const QStringList workBefore = FolderTree(WorkFolder());
    // The messages a press on `button` showed.
    const auto click = [&window, &prompts](const QString &button) {
        const int shown = prompts.messages.size();
        window.findChild<QPushButton *>(button)->click();
        return prompts.messages.mid(shown);
    };

    const QVector<PromptMessage> first = click(QStringLiteral("LayerViewPlay"));
    QCOMPARE(first.size(), 1);
    QCOMPARE(first.at(0).title, QStringLiteral("WARNING"));
    QCOMPARE(first.at(0).text, QStringLiteral("No audio output is available."));
    QVERIFY(click(QStringLiteral("Play_Button_1")).isEmpty());
    QVERIFY(click(QStringLiteral("LayerViewPlay")).isEmpty());
    QVERIFY(window.findChildren<QSoundEffect *>().isEmpty());
    QCOMPARE(FolderTree(WorkFolder()), workBefore); // nothing written for it
}

ZK_TEST(TestLoudnessView)
#include "tst_loudnessview.moc"
