#include <QtTest>

#include <QApplication>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QLineEdit>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QSlider>
#include <QStatusBar>

#include "fileprocessor.h"
#include "layerrules.h"
#include "startup.h"
#include "testmain.h"
#include "widgetsupport.h"
#include "windowfixture.h"
#include "zkwindow.h"

#include <cmath>

// The window shell: the form as the user first sees it, the empty slot
// table, the remembered folders and the private working folder.
class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void rowWidgets_data();
    void rowWidgets();
    void windowFrame();
    void bottomBar();
    void thresholdButtons();
    void greenPalette();
    void emptyState();
    void everyControlHasToolTip();
    void everyTextShownWhole_data();
    void everyTextShownWhole();
    void longNamesElidedOnlyBeyondTheScreen();
    void spaceBarTextReadable_data();
    void spaceBarTextReadable();
    void updateThresholds_data();
    void updateThresholds();
    void settingsDefaults();
    void settingsReadBack();
    void missingStartFoldersFallBackToMusicOrHome();
    void workFolderRemovedWithWindow();
    void pluginSearchList();
    void noDisplayGetsAClearMessage();

private:
    QString MakeSound(const QString &name);

    WindowFixture home;
};

namespace {

// Sets the application's font, scaled, for as long as it lives.
class ScaledAppFont
{
public:
    explicit ScaledAppFont(qreal scale) : previous(QApplication::font())
    {
        QFont font = previous;
        font.setPointSizeF(previous.pointSizeF() * scale);
        QApplication::setFont(font);
    }
    ~ScaledAppFont() { QApplication::setFont(previous); }
    ScaledAppFont(const ScaledAppFont &) = delete;
    ScaledAppFont &operator=(const ScaledAppFont &) = delete;

private:
    QFont previous;
};

// Contrast ratio of two colours as WCAG defines it: 1 for equal colours, 21
// for black on white; text wants at least 3.
qreal ContrastRatio(const QColor &a, const QColor &b)
{
    const auto luminance = [](const QColor &c) {
        const auto linear = [](qreal v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const qreal la = luminance(a), lb = luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

} // namespace

QString TestWindow::MakeSound(const QString &name)
{
    const QString path = home.path() + QStringLiteral("/sounds/") + name;
    if (!WriteBytes(path, Wav16(1, 44100, QVector<qint16>(2000, 3000))))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestWindow::initTestCase()
{
    QVERIFY(home.setUp());
}

void TestWindow::init()
{
    home.startTest();
}

void TestWindow::cleanup()
{
    home.endTest();
}

void TestWindow::rowWidgets_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    for (int n = 1; n <= 8; ++n) {
        const QByteArray tag = QByteArray::number(n);
        QTest::newRow("threshold " + tag) << QStringLiteral("ThrOfLayer_%1").arg(n) << "QPushButton" << n - 1 << 1;
        QTest::newRow("filename " + tag) << QStringLiteral("Filename_%1").arg(n) << "QLabel" << n - 1 << 2;
        QTest::newRow("add/remove " + tag) << QStringLiteral("Del_Br_Button_%1").arg(n) << "QPushButton" << n - 1 << 3;
        QTest::newRow("play " + tag) << QStringLiteral("Play_Button_%1").arg(n) << "QPushButton" << n - 1 << 4;
    }
    QTest::newRow("slider") << "ThresholdSlider" << "QSlider" << 0 << 0;
}

void TestWindow::rowWidgets()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(int, row);
    QFETCH(int, column);
    ZKWindow window;
    auto *grid = window.findChild<QGridLayout *>(QStringLiteral("gridLayout"));
    QVERIFY(grid);
    QCOMPARE(grid->parentWidget()->objectName(), QStringLiteral("frame_7"));
    QWidget *w = window.findChild<QWidget *>(name);
    QVERIFY2(w, qPrintable(name));
    QCOMPARE(QString::fromLatin1(w->metaObject()->className()), className);
    QCOMPARE(w->parentWidget()->objectName(), QStringLiteral("frame_7"));
    int r, c, rowSpan, columnSpan;
    grid->getItemPosition(grid->indexOf(w), &r, &c, &rowSpan, &columnSpan);
    QCOMPARE(r, row);
    QCOMPARE(c, column);
    QCOMPARE(rowSpan, name == QLatin1String("ThresholdSlider") ? 8 : 1);

    if (name.startsWith(QLatin1String("Play_Button"))) {
        auto *b = qobject_cast<QPushButton *>(w);
        QCOMPARE(b->size(), QSize(23, 23));
        QCOMPARE(b->iconSize(), QSize(19, 19));
        QVERIFY(!b->icon().isNull());
        QCOMPARE(b->text(), QString());
        QCOMPARE(b->toolTip(), QStringLiteral("Play the Waveform"));
    } else if (name.startsWith(QLatin1String("Del_Br_Button"))) {
        auto *b = qobject_cast<QPushButton *>(w);
        QCOMPARE(b->text(), QStringLiteral("+"));
        QCOMPARE(b->minimumWidth(), 23);
        QCOMPARE(b->maximumWidth(), 23);
        QCOMPARE(b->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
        QCOMPARE(b->sizePolicy().horizontalStretch(), 1);
    } else if (name.startsWith(QLatin1String("Filename"))) {
        auto *l = qobject_cast<QLabel *>(w);
        QCOMPARE(l->minimumWidth(), 290);
        QCOMPARE(l->alignment(), Qt::AlignRight | Qt::AlignTrailing | Qt::AlignVCenter);
        QCOMPARE(l->margin(), 3);
        QCOMPARE(l->frameShape(), QFrame::NoFrame);
        QCOMPARE(l->palette().color(QPalette::Active, QPalette::Text), QColor(195, 195, 195));
        QCOMPARE(l->palette().color(QPalette::Disabled, QPalette::Text), QColor(118, 116, 108));
        // Every name fills its cell, so all rows keep one column grid.
        QCOMPARE(l->sizePolicy().horizontalStretch(), 6);
        QCOMPARE(l->sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
    } else if (name == QLatin1String("ThresholdSlider")) {
        auto *s = qobject_cast<QSlider *>(w);
        QCOMPARE(s->orientation(), Qt::Vertical);
        QCOMPARE(s->minimum(), 0);
        QCOMPARE(s->maximum(), 126);
        QCOMPARE(s->minimumHeight(), 250);
        QCOMPARE(s->toolTip(), QStringLiteral("Adjust the Threshold"));
    }
}

void TestWindow::windowFrame()
{
    ZKWindow window;
    QCOMPARE(window.objectName(), QStringLiteral("ZKWindow"));
    QCOMPARE(window.windowTitle(), QStringLiteral("QuadrelX8FileGen 2021 ZKS-file generator for Windows"));
    // The form's 515 x 360 is the least the window gets: its texts may ask
    // for more, and the user may make it larger still.
    QCOMPARE(window.minimumSize(), QSize(515, 360).expandedTo(window.minimumSizeHint()));
    QCOMPARE(window.maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    QCOMPARE(window.size(), window.minimumSize());
    QVERIFY(!window.windowIcon().isNull());
    QCOMPARE(window.menuWidget(), nullptr);
    QCOMPARE(window.centralWidget()->objectName(), QStringLiteral("centralWidget"));
    auto *status = window.findChild<QLabel *>(QStringLiteral("StatusLine"));
    QVERIFY(status);
    QCOMPARE(status->parentWidget(), window.statusBar());
    QCOMPARE(status->text(), QStringLiteral("Drop sound files or a bank here, or press +"));

    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("label_11"))->text(), QStringLiteral("Available Space"));
    auto *bar = window.findChild<QProgressBar *>(QStringLiteral("AvailableSpace"));
    QCOMPARE(bar->value(), 100);
    QVERIFY(bar->invertedAppearance());
    // At least the form's 10 pixels high, and as high as its percentage.
    QVERIFY(bar->minimumHeight() >= 10);
    QVERIFY(bar->minimumHeight() >= bar->fontMetrics().height());
    QCOMPARE(bar->maximumHeight(), bar->minimumHeight());

    for (const char *image : {":/img/ic_launcher.png", ":/img/play.png", ":/img/folder-icon.png"})
        QVERIFY2(QFile::exists(QString::fromLatin1(image)), image);
    QCOMPARE(QImage(QStringLiteral(":/img/ic_launcher.png")).size(), QSize(96, 96));
    QCOMPARE(QImage(QStringLiteral(":/img/play.png")).size(), QSize(23, 23));
    QCOMPARE(QImage(QStringLiteral(":/img/folder-icon.png")).size(), QSize(256, 256));
    QVERIFY(QImage(QStringLiteral(":/img/play.png")).hasAlphaChannel());
}

void TestWindow::bottomBar()
{
    ZKWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Left to right: gate label, gate slider, "Cut Silence", gap, "Order by
    // loudness", Generate, fixed gap, "Open ZKS Folder", folder button.
    auto *bar = window.findChild<QWidget *>(QStringLiteral("widget"));
    auto *layout = qobject_cast<QHBoxLayout *>(bar->layout());
    QVERIFY(layout);
    QStringList order;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        order << (item->widget() ? item->widget()->objectName() : QStringLiteral("spacer"));
    }
    QCOMPARE(order, (QStringList{"label_2", "horizontalSlider", "label_3", "spacer", "OrderByLoudnessButton",
                                 "GenerateButton", "spacer", "label", "openFolderButton"}));
    QCOMPARE(layout->itemAt(6)->sizeHint().width(), 100);

    auto *gate = window.findChild<QSlider *>(QStringLiteral("horizontalSlider"));
    QCOMPARE(gate->maximum(), 4);
    QCOMPARE(gate->pageStep(), 1);
    QCOMPARE(gate->size(), QSize(60, 23));
    QCOMPARE(gate->tickPosition(), QSlider::TicksAbove);
    QCOMPARE(gate->toolTip(), QStringLiteral("Silence detecting threshold to remove starting pause"));
    auto *gateLabel = window.findChild<QLabel *>(QStringLiteral("label_2"));
    QCOMPARE(gateLabel->text(), QStringLiteral("Don't"));
    QVERIFY(gateLabel->minimumWidth() >= 30);
    QCOMPARE(gateLabel->maximumWidth(), QWIDGETSIZE_MAX);
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("label_3"))->text(), QStringLiteral("Cut Silence"));
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("label"))->text(), QStringLiteral("Open ZKS Folder"));
    QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("GenerateButton"))->text(), QStringLiteral("Generate"));
    auto *folder = window.findChild<QPushButton *>(QStringLiteral("openFolderButton"));
    QVERIFY(!folder->icon().isNull());
    QCOMPARE(folder->iconSize(), QSize(20, 20));
    QCOMPARE(folder->maximumSize(), QSize(40, 23));
}

// Checkable, so the one whose layer the strip shows stands out, but no
// exclusive group: Tab stops only at the checked button of such a group.
void TestWindow::thresholdButtons()
{
    ZKWindow window;
    for (int n = 1; n <= kMaxLayers; ++n) {
        auto *p = window.findChild<QPushButton *>(QStringLiteral("ThrOfLayer_%1").arg(n));
        QVERIFY(p);
        QVERIFY(!p->group());
        QVERIFY(p->isCheckable());
        QVERIFY(!p->isChecked());
        QVERIFY(!p->autoExclusive());
        QVERIFY(p->isFlat());
        QCOMPARE(p->text(), QStringLiteral("1"));
        QCOMPARE(p->toolTip(), QStringLiteral("Threshold Value of this Layer"));
        QVERIFY(p->focusPolicy() & Qt::TabFocus);
    }
}

void TestWindow::greenPalette()
{
    ZKWindow window;
    const QPalette p = window.findChild<QPushButton *>(QStringLiteral("ThrOfLayer_1"))->palette();
    QCOMPARE(p.color(QPalette::Active, QPalette::Button), QColor(0, 170, 0));
    QCOMPARE(p.color(QPalette::Inactive, QPalette::Light), QColor(0, 255, 0));
    QCOMPARE(p.color(QPalette::Disabled, QPalette::ButtonText), QColor(0, 85, 0));
    QCOMPARE(p.color(QPalette::Disabled, QPalette::Base), QColor(0, 170, 0));
    QCOMPARE(p.color(QPalette::Active, QPalette::AlternateBase), QColor(127, 212, 127));
    QCOMPARE(p.color(QPalette::Active, QPalette::ToolTipBase), QColor(255, 255, 220));
    const QPalette other = window.findChild<QPushButton *>(QStringLiteral("ThrOfLayer_2"))->palette();
    QVERIFY(other.color(QPalette::Active, QPalette::Button) != QColor(0, 170, 0));
}

void TestWindow::emptyState()
{
    ZKWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (int n = 1; n <= 8; ++n) {
        auto *label = window.findChild<QLabel *>(QStringLiteral("Filename_%1").arg(n));
        auto *addRemove = window.findChild<QPushButton *>(QStringLiteral("Del_Br_Button_%1").arg(n));
        QCOMPARE(label->isVisible(), n == 1);
        QCOMPARE(label->text(), n == 1 ? QStringLiteral("Create a Layer") : QStringLiteral("Add a Layer"));
        QCOMPARE(addRemove->isVisible(), n == 1);
        QCOMPARE(addRemove->text(), QStringLiteral("+"));
        QVERIFY(!window.findChild<QWidget *>(QStringLiteral("Play_Button_%1").arg(n))->isVisible());
        QVERIFY(!window.findChild<QWidget *>(QStringLiteral("ThrOfLayer_%1").arg(n))->isVisible());
    }
    QVERIFY(!window.findChild<QWidget *>(QStringLiteral("ThresholdSlider"))->isVisible());
    QCOMPARE(window.findChild<QSlider *>(QStringLiteral("ThresholdSlider"))->value(), 1);
    auto *generate = window.findChild<QPushButton *>(QStringLiteral("GenerateButton"));
    QVERIFY(!generate->isVisible());
    QVERIFY(generate->isEnabled());
    QVERIFY(window.findChild<QWidget *>(QStringLiteral("openFolderButton"))->isVisible());
    QCOMPARE(Bank().Count(), 0);
    QCOMPARE(Bank().UsedSpace(), 0);
    QCOMPARE(Bank().Threshold(1), 1);
}

// Every control a user can reach says what it does; the space bar says how
// many seconds of sound are left.
void TestWindow::everyControlHasToolTip()
{
    ZKWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *status = window.findChild<QLabel *>(QStringLiteral("StatusLine"));
    QCOMPARE(status->text(), QStringLiteral("Drop sound files or a bank here, or press +"));
    const auto checkTips = [&]() {
        for (QWidget *w : window.findChildren<QWidget *>()) {
            if (!w->isVisible() || w->objectName().startsWith(QLatin1String("qt_")))
                continue;
            if (qobject_cast<QAbstractButton *>(w) || qobject_cast<QAbstractSlider *>(w)
                || qobject_cast<QProgressBar *>(w))
                QVERIFY2(!w->toolTip().isEmpty(), qPrintable(w->objectName()));
        }
    };
    checkTips();
    auto *bar = window.findChild<QProgressBar *>(QStringLiteral("AvailableSpace"));
    QCOMPARE(bar->toolTip(), QStringLiteral("35.7\u00A0s of sound left (mono, 44100\u00A0Hz)"));
    QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("Del_Br_Button_1"))->toolTip(),
             QStringLiteral("Add a sound as layer 1"));

    const QString sound = home.path() + QStringLiteral("/tip.wav");
    QVERIFY(WriteBytes(sound, Wav16(1, 44100, QVector<qint16>(44100, 900))));
    QVERIFY(!AddLayerThroughDialog(&window, 1, sound).seen);
    QVERIFY(!AddLayerThroughDialog(&window, 2, sound).seen);
    QCOMPARE(status->text(), QString());
    checkTips();
    QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("Del_Br_Button_2"))->toolTip(),
             QStringLiteral("Remove layer 2"));
    QCOMPARE(bar->toolTip(), QStringLiteral("%1\u00A0s of sound left (mono, 44100\u00A0Hz)")
                                 .arg(double(kBankBudget - Bank().UsedSpace()) / 88200, 0, 'f', 1));
}

void TestWindow::everyTextShownWhole_data()
{
    // The larger font stands in for a screen scaled to 200 %, where font
    // hinting can make texts a little wider than at 100 %.
    QTest::addColumn<qreal>("fontScale");
    QTest::addColumn<int>("layers");
    for (const qreal scale : {1.0, 1.5}) {
        const QByteArray font = scale == 1.0 ? "default font" : "font at 150 %";
        QTest::newRow(font + ", no layer") << scale << 0;
        QTest::newRow(font + ", 1 layer") << scale << 1;
        QTest::newRow(font + ", 8 layers with the longest names") << scale << 8;
    }
}

void TestWindow::everyTextShownWhole()
{
    QFETCH(qreal, fontScale);
    QFETCH(int, layers);
    ScaledAppFont font(fontScale);
    ZKWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (int n = 1; n <= layers; ++n) {
        const QString name = layers == 1
            ? QStringLiteral("kick.wav")
            : QStringLiteral("Layer %1 snare rimshot, close mics, velocity 127, take 12.wav").arg(n);
        QVERIFY(name.size() <= 60);
        AddLayerThroughDialog(&window, n, MakeSound(name));
        QCOMPARE(Bank().Count(), n);
    }
    auto *gate = window.findChild<QSlider *>(QStringLiteral("horizontalSlider"));
    for (int position = 0; position < kGateLevels; ++position) {
        gate->setValue(position);
        SettleLayout();
        const QStringList cut = TextsNotShownWhole(&window);
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1Char('\n'))));
    }
}

void TestWindow::longNamesElidedOnlyBeyondTheScreen()
{
    ZKWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *first = window.findChild<QLabel *>(QStringLiteral("Filename_1"));
    auto *second = window.findChild<QLabel *>(QStringLiteral("Filename_2"));
    const QRect screenArea = window.screen()->availableGeometry();
    const int screenWidth = screenArea.width();
    // At the screen's right edge, where growing would take it off the screen.
    window.move(screenArea.right() + 1 - window.frameGeometry().width(), screenArea.top());
    SettleLayout();

    // Longer than the form's 290 pixels, and still shown whole.
    const QString longer = QStringLiteral("snare rimshot close mic velocity 127 room left.wav");
    AddLayerThroughDialog(&window, 1, MakeSound(longer));
    SettleLayout();
    QVERIFY(first->fontMetrics().horizontalAdvance(longer) > 290);
    QCOMPARE(first->text(), longer);
    QVERIFY(!first->toolTip().contains(longer)); // its levels alone
    QVERIFY(screenArea.contains(window.frameGeometry()));

    // Sixty wide letters would push the window past the screen's edge: the
    // name is shortened in the middle and shown whole in its tool tip.
    const QString widest = QString(56, QLatin1Char('W')) + QStringLiteral(".wav");
    AddLayerThroughDialog(&window, 2, MakeSound(widest));
    SettleLayout();
    QVERIFY(window.minimumSizeHint().width() - second->width() + second->fontMetrics().horizontalAdvance(widest)
            > screenWidth);
    QVERIFY2(screenArea.contains(window.frameGeometry()), qPrintable(QStringLiteral("%1, %2 x %3")
                                                                      .arg(window.x())
                                                                      .arg(window.width())
                                                                      .arg(window.height())));
    QVERIFY(second->text().startsWith(QLatin1Char('W')));
    QVERIFY(second->text().endsWith(QStringLiteral(".wav")));
    QVERIFY(second->text().contains(QChar(0x2026)));
    QCOMPARE(second->toolTip().section(QLatin1Char('\n'), 0, 0), widest); // then its levels
    QCOMPARE(first->text(), longer); // short enough to stay whole
    QCOMPARE(Bank().Name(2), widest);
    QStringList cut = TextsNotShownWhole(&window);
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1Char('\n'))));

    window.findChild<QPushButton *>(QStringLiteral("Del_Br_Button_2"))->click();
    SettleLayout();
    QCOMPARE(second->text(), QStringLiteral("Add a Layer"));
    QCOMPARE(second->toolTip(), QString());
    cut = TextsNotShownWhole(&window);
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1Char('\n'))));
}

void TestWindow::spaceBarTextReadable_data()
{
    QTest::addColumn<int>("value");
    for (const int value : {0, 10, 25, 49, 50, 51, 75, 100})
        QTest::newRow(QByteArray::number(value) + " %") << value;
}

// Draws the bar with and without its text: every pixel the text changes is
// part of it. Both halves of the text must stand out from what lies under
// them, over the empty groove and over the filled part alike.
void TestWindow::spaceBarTextReadable()
{
    QFETCH(int, value);
    ZKWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *bar = window.findChild<QProgressBar *>(QStringLiteral("AvailableSpace"));
    bar->setValue(value);
    QVERIFY(bar->height() >= bar->fontMetrics().height());
    const QImage text = bar->grab().toImage();
    bar->setTextVisible(false);
    const QImage plain = bar->grab().toImage();
    bar->setTextVisible(true);
    QCOMPARE(text.size(), plain.size());

    const int middle = text.width() / 2;
    qreal contrast[2] = {1, 1}; // left and right of the middle
    for (int y = 0; y < text.height(); ++y) {
        for (int x = 0; x < text.width(); ++x) {
            const qreal ratio = ContrastRatio(text.pixelColor(x, y), plain.pixelColor(x, y));
            qreal &side = contrast[x < middle ? 0 : 1];
            side = qMax(side, ratio);
        }
    }
    QVERIFY2(contrast[0] >= 3.0, qPrintable(QStringLiteral("left half: %1").arg(contrast[0])));
    QVERIFY2(contrast[1] >= 3.0, qPrintable(QStringLiteral("right half: %1").arg(contrast[1])));
}

void TestWindow::updateThresholds_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("0") << 0 << QStringList{"1", "1", "1", "1", "1", "1", "1", "1"};
    QTest::newRow("1") << 1 << QStringList{"1", "1", "1", "1", "1", "1", "1", "1"};
    QTest::newRow("2") << 2 << QStringList{"64", "1", "1", "1", "1", "1", "1", "1"};
    QTest::newRow("5") << 5 << QStringList{"101", "76", "51", "26", "1", "1", "1", "1"};
    QTest::newRow("7") << 7 << QStringList{"109", "91", "73", "55", "37", "19", "1", "1"};
    QTest::newRow("8") << 8 << QStringList{"113", "97", "81", "65", "49", "33", "17", "1"};
}

void TestWindow::updateThresholds()
{
    QFETCH(int, count);
    QFETCH(QStringList, texts);
    ZKWindow window;
    window.UpdateThresholds(count);
    QStringList shown;
    for (int n = 1; n <= 8; ++n) {
        shown << window.findChild<QPushButton *>(QStringLiteral("ThrOfLayer_%1").arg(n))->text();
        QCOMPARE(QString::number(Bank().Threshold(n)), texts.at(n - 1));
    }
    QCOMPARE(shown, texts);
}

void TestWindow::settingsDefaults()
{
    // With an empty store the open dialog starts in ./wav and the save
    // dialog in ./zks, both under the working directory.
    auto cwd = std::make_unique<FreshWorkingFolder>();
    const QString start = cwd->path();
    QDir(start).mkdir(QStringLiteral("wav"));
    QDir(start).mkdir(QStringLiteral("zks"));
    QString openIn, saveIn;
    {
        ZKWindow window;
        QCOMPARE(QCoreApplication::organizationName(), QStringLiteral("Quadrel"));
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("QuadrelX8FileGenV21"));
        RecordNextDialogFolder(&openIn);
        window.getWavFromUser();
        RecordNextDialogFolder(&saveIn);
        QMetaObject::invokeMethod(&window, "on_GenerateButton_clicked");
    }
    QCOMPARE(openIn, QDir(start + QStringLiteral("/wav")).canonicalPath());
    QCOMPARE(saveIn, QDir(start + QStringLiteral("/zks")).canonicalPath());
    cwd.reset();
    QSettings settings;
    QVERIFY(!settings.contains(QStringLiteral("LastFolder")));
    QVERIFY(!settings.contains(QStringLiteral("LastSaveFolder")));
}

void TestWindow::missingStartFoldersFallBackToMusicOrHome()
{
    // Neither ./wav nor ./zks exists: both dialogs open in an existing
    // folder of the user's with an empty name field, so Enter can't save a
    // bank called "zks" where the program was started.
    FreshWorkingFolder cwd;
    {
        QSettings settings(QStringLiteral("Quadrel"), QStringLiteral("QuadrelX8FileGenV21"));
        settings.setValue(QStringLiteral("LastFolder"), cwd.path() + QStringLiteral("/gone"));
    }
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    const QString expected = QDir(QFileInfo(music).isDir() ? music : QDir::homePath()).canonicalPath();
    ZKWindow window;
    for (const bool save : {false, true}) {
        QString folder, name;
        OnNextModalOf("QFileDialog", [&](QWidget *modal) {
            auto *dialog = static_cast<QFileDialog *>(modal);
            folder = dialog->directory().canonicalPath();
            name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->text();
            dialog->reject();
        });
        if (save)
            QMetaObject::invokeMethod(&window, "on_GenerateButton_clicked");
        else
            window.getWavFromUser();
        QCOMPARE(folder, expected);
        QCOMPARE(name, QString());
    }
    QCOMPARE(QDir(cwd.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    QSettings settings(QStringLiteral("Quadrel"), QStringLiteral("QuadrelX8FileGenV21"));
    QCOMPARE(settings.value(QStringLiteral("LastFolder")).toString(), cwd.path() + QStringLiteral("/gone"));
    settings.remove(QStringLiteral("LastFolder"));
}

void TestWindow::settingsReadBack()
{
    {
        QSettings settings(QStringLiteral("Quadrel"), QStringLiteral("QuadrelX8FileGenV21"));
        settings.setValue(QStringLiteral("LastFolder"), home.path());
    }
    ZKWindow window;
    // The open dialog starts in the remembered folder.
    QString startedIn;
    RecordNextDialogFolder(&startedIn);
    window.getWavFromUser();
    QCOMPARE(startedIn, QDir(home.path()).canonicalPath());
}

void TestWindow::workFolderRemovedWithWindow()
{
    auto cwd = std::make_unique<FreshWorkingFolder>();
    const QString start = cwd->path();
    QVERIFY(WriteBytes(start + QStringLiteral("/temp/mine.txt"), "keep me"));
    QString work;
    {
        ZKWindow window;
        work = WorkFolder();
        QVERIFY(!work.isEmpty());
        QVERIFY(!work.startsWith(start));
        QVERIFY(WriteBytes(work + QStringLiteral("/1/kick.wav"), "x"));
    }
    QVERIFY(!QFileInfo::exists(work));
    QVERIFY(QFileInfo::exists(start + QStringLiteral("/temp/mine.txt")));
    cwd.reset();
    QVERIFY(WorkFolder() != work); // a new window gets a fresh folder
    RemoveWorkFolder();
}

void TestWindow::pluginSearchList()
{
    // Started from a folder that holds plug-in folders of its own, the
    // program must not search them: only its own folder is added.
    FreshWorkingFolder cwd;
    QVERIFY(WriteBytes(cwd.path() + QStringLiteral("/imageformats/libx.so"), "not ours"));
    QVERIFY(WriteBytes(cwd.path() + QStringLiteral("/platforms/libx.so"), "not ours"));
    const QStringList before = QCoreApplication::libraryPaths();
    WidenLibraryPaths();
    const QStringList after = QCoreApplication::libraryPaths();
    QCoreApplication::setLibraryPaths(before);

    QCOMPARE(after.mid(0, before.size()), before);
    const QDir own(QCoreApplication::applicationDirPath());
    QCOMPARE(ExecutableFolder(), own.absolutePath());
    QCOMPARE(after.mid(before.size()),
             (QStringList{own.absolutePath(), own.absoluteFilePath("imageformats"),
                          own.absoluteFilePath("platforms"), own.absoluteFilePath("sqldrivers")}));
    const QString here = QDir(cwd.path()).canonicalPath();
    for (const QString &entry : after) {
        QVERIFY2(QDir::isAbsolutePath(entry), qPrintable(entry));
        QVERIFY2(!QDir(entry).canonicalPath().startsWith(here), qPrintable(entry));
    }
}

void TestWindow::noDisplayGetsAClearMessage()
{
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    program.setProcessEnvironment(env);
    program.start(QCoreApplication::applicationDirPath() + QStringLiteral("/QuadrelX8FileGen"), QStringList());
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit); // no Qt abort
    QVERIFY(program.exitCode() != 0);
    const QString errors = QString::fromLocal8Bit(program.readAllStandardError());
    QVERIFY2(errors.contains(QLatin1String("xvfb-run")), qPrintable(errors));
    QVERIFY2(errors.contains(QLatin1String("no display")), qPrintable(errors));
}

ZK_TEST(TestWindow)
#include "tst_window.moc"
