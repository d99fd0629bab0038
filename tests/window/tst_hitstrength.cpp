#include <QtTest>

#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSoundEffect>
#include <QSpinBox>

#include "layerview.h"
#include "testmain.h"
#include "widgetsupport.h"
#include "windowfixture.h"
#include "zkwindow.h"

namespace {

const QChar kDash(0x2013);

} // namespace

// Hearing a hit strength: the row its layer is on lights up, the strip shows
// that layer, the button plays it as the bank holds it, and every row shows
// the hits its layer plays.
class TestHitStrength : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void strengthShowsItsLayer_data();
    void strengthShowsItsLayer();
    void rangesFollowThresholdsAndCount();
    void playsTheLayerAsHeld();
    void emptyWindow();

private:
    void AddLayers(ZKWindow &window, int count);
    WindowFixture home;
};

void TestHitStrength::initTestCase()
{
    QVERIFY(home.setUp());
    for (int n = 1; n <= 3; ++n) {
        // Stereo, each layer its own level, with a quiet start the gate cuts.
        QVector<qint16> samples(2 * 4000);
        for (int i = 0; i < 4000; ++i) {
            const qint16 left = i < 500 ? 0 : qint16((i % 100 - 50) * 100 * n);
            samples[2 * i] = left;
            samples[2 * i + 1] = qint16(-left);
        }
        QVERIFY(WriteBytes(home.path() + QStringLiteral("/sounds/layer%1.wav").arg(n),
                           Wav16(2, 44100, samples)));
    }
}

void TestHitStrength::init()
{
    home.startTest();
}

void TestHitStrength::cleanup()
{
    home.endTest();
}

void TestHitStrength::AddLayers(ZKWindow &window, int count)
{
    for (int n = 1; n <= count; ++n) {
        AddLayerAnswered(window, *ScriptedPrompts::Of(window), n,
                         home.path() + QStringLiteral("/sounds/layer%1.wav").arg(n));
        QCOMPARE(Bank().Count(), n);
    }
}

void TestHitStrength::strengthShowsItsLayer_data()
{
    QTest::addColumn<int>("strength");
    QTest::addColumn<int>("layer");
    // Three layers spread by default: 85, 43, 1.
    QTest::newRow("the hardest") << 127 << 1;
    QTest::newRow("on the top threshold") << 85 << 1;
    QTest::newRow("just below it") << 84 << 2;
    QTest::newRow("on the middle threshold") << 43 << 2;
    QTest::newRow("just below it too") << 42 << 3;
    QTest::newRow("the softest") << 1 << 3;
}

void TestHitStrength::strengthShowsItsLayer()
{
    QFETCH(int, strength);
    QFETCH(int, layer);
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    AddLayers(window, 3);
    // The slider moves layer 1 while the strip shows layer 1.
    window.findChild<QPushButton *>(QStringLiteral("ThrOfLayer_1"))->click();
    auto *box = window.findChild<QSpinBox *>(QStringLiteral("HitStrengthBox"));
    QVERIFY(box);
    QCOMPARE(box->minimum(), 1);
    QCOMPARE(box->maximum(), 127);
    box->setValue(strength);

    QStringList lit;
    for (int n = 1; n <= kMaxLayers; ++n) {
        const auto *range = window.findChild<QLabel *>(QStringLiteral("HitRange_%1").arg(n));
        QVERIFY(range);
        if (range->autoFillBackground() && range->backgroundRole() == QPalette::Highlight)
            lit << range->objectName();
    }
    QCOMPARE(lit, QStringList{QStringLiteral("HitRange_%1").arg(layer)});
    QCOMPARE(window.findChild<LayerView *>()->shownLayer(), layer);
    QVERIFY(window.findChild<QPushButton *>(QStringLiteral("ThrOfLayer_%1").arg(layer))->isChecked());
    // The slider goes when the strip shows a layer it doesn't move.
    QCOMPARE(window.findChild<QSlider *>(QStringLiteral("ThresholdSlider"))->isHidden(), layer != 1);
}

void TestHitStrength::rangesFollowThresholdsAndCount()
{
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    ScriptedPrompts &prompts = home.Prompts();
    const auto ranges = [&window]() {
        QStringList shown;
        for (int n = 1; n <= kMaxLayers; ++n) {
            const auto *range = window.findChild<QLabel *>(QStringLiteral("HitRange_%1").arg(n));
            if (!range->isHidden())
                shown << range->text();
        }
        return shown;
    };
    const auto span = [](int from, int to) { return QString::number(from) + kDash + QString::number(to); };
    AddLayers(window, 1);
    QCOMPARE(ranges(), QStringList{span(1, 127)});
    // A single layer's row is any last layer's: its threshold, 1, then its
    // range, where the range stays once more layers come.
    auto *firstThreshold = window.findChild<QPushButton *>(QStringLiteral("ThrOfLayer_1"));
    auto *first = window.findChild<QLabel *>(QStringLiteral("HitRange_1"));
    SettleLayout();
    QVERIFY(firstThreshold->isVisible());
    QCOMPARE(firstThreshold->text(), QStringLiteral("1"));
    QVERIFY(firstThreshold->geometry().right() < first->geometry().left());
    const int alone = first->geometry().left();
    AddLayerAnswered(window, prompts, 2, home.path() + QStringLiteral("/sounds/layer2.wav"));
    AddLayerAnswered(window, prompts, 3, home.path() + QStringLiteral("/sounds/layer3.wav"));
    QCOMPARE(ranges(), (QStringList{span(85, 127), span(43, 84), span(1, 42)}));
    SettleLayout();
    QCOMPARE(first->geometry().left(), alone);

    auto *box = window.findChild<QSpinBox *>(QStringLiteral("HitStrengthBox"));
    box->setValue(45);
    auto *second = window.findChild<QLabel *>(QStringLiteral("HitRange_2"));
    auto *third = window.findChild<QLabel *>(QStringLiteral("HitRange_3"));
    QCOMPARE(second->backgroundRole(), QPalette::Highlight);

    // Moving a threshold moves the ranges, and which row the strength lights.
    window.findChild<QPushButton *>(QStringLiteral("ThrOfLayer_2"))->click();
    emit window.findChild<QSlider *>(QStringLiteral("ThresholdSlider"))->sliderMoved(50);
    QCOMPARE(ranges(), (QStringList{span(85, 127), span(50, 84), span(1, 49)}));
    QCOMPARE(second->backgroundRole(), QPalette::Window);
    QCOMPARE(third->backgroundRole(), QPalette::Highlight);

    // Removing a layer spreads the thresholds anew.
    window.findChild<QPushButton *>(QStringLiteral("Del_Br_Button_3"))->click();
    QCOMPARE(ranges(), (QStringList{span(64, 127), span(1, 63)}));
    QVERIFY(third->isHidden());
    QCOMPARE(second->backgroundRole(), QPalette::Highlight);
    QVERIFY(!second->toolTip().isEmpty());

    // Each range sits between its threshold button and the room its name
    // is drawn in.
    SettleLayout();
    const auto *button = window.findChild<QWidget *>(QStringLiteral("ThrOfLayer_2"));
    const auto *name = window.findChild<QWidget *>(QStringLiteral("Filename_2"));
    QVERIFY(button->geometry().right() < second->geometry().left());
    QVERIFY(second->geometry().right() < name->geometry().left() + name->contentsRect().left());
}

// The hit's button plays what the strip's button plays for the layer the
// strength chose: the left channel after the gate's cut, not the row's file.
void TestHitStrength::playsTheLayerAsHeld()
{
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    AddLayers(window, 2);
    window.findChild<QSlider *>(QStringLiteral("horizontalSlider"))->setValue(2);
    auto *box = window.findChild<QSpinBox *>(QStringLiteral("HitStrengthBox"));
    auto *play = window.findChild<QPushButton *>(QStringLiteral("HitPlayButton"));
    auto *stripPlay = window.findChild<QPushButton *>(QStringLiteral("LayerViewPlay"));
    QVERIFY(!box->toolTip().isEmpty());
    QVERIFY(!play->toolTip().isEmpty());
    const auto lastPlayed = [&window]() {
        const QList<QSoundEffect *> sounds = window.findChildren<QSoundEffect *>();
        return sounds.isEmpty() ? QString() : sounds.last()->source().toLocalFile();
    };
    const auto contents = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };

    QStringList heard;
    for (int strength : {127, 1}) {
        box->setValue(strength);
        // The strip shows another layer meanwhile: the hit still plays its own.
        window.findChild<QPushButton *>(QStringLiteral("ThrOfLayer_%1").arg(strength == 1 ? 1 : 2))->click();
        play->click();
        const QString hit = lastPlayed();
        QVERIFY(!hit.isEmpty());
        QVERIFY(hit != Bank().Path(1) && hit != Bank().Path(2));
        box->setValue(strength == 1 ? 2 : 126);
        box->setValue(strength);
        stripPlay->click();
        QCOMPARE(contents(hit), contents(lastPlayed()));
        heard << hit;
    }
    QVERIFY(contents(heard.at(0)) != contents(heard.at(1)));
}

void TestHitStrength::emptyWindow()
{
    ZKWindow &window = home.Window(WindowFixture::Scripted);
    auto *box = window.findChild<QSpinBox *>(QStringLiteral("HitStrengthBox"));
    QVERIFY(!box->isEnabled());
    // It starts in its range, in the middle, and shows so.
    QCOMPARE(box->minimum(), 1);
    QCOMPARE(box->value(), 64);
    QCOMPARE(box->text(), QStringLiteral("64"));
    QVERIFY(!window.findChild<QPushButton *>(QStringLiteral("HitPlayButton"))->isEnabled());
    for (int n = 1; n <= kMaxLayers; ++n)
        QVERIFY(window.findChild<QLabel *>(QStringLiteral("HitRange_%1").arg(n))->isHidden());
}

ZK_TEST(TestHitStrength)
#include "tst_hitstrength.moc"
