#include <QtTest>

#include <QButtonGroup>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QLineEdit>
#include <QSettings>
#include <QStandardPaths>
#include <QSlider>

#include "fileprocessor.h"
#include "startup.h"
#include "widgetsupport.h"
#include "zkwindow.h"

// The window shell: the form as the user first sees it, the empty slot
// table, the remembered folders and the private working folder.
class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void rowWidgets_data();
    void rowWidgets();
    void windowFrame();
    void bottomBar();
    void thresholdButtons();
    void greenPalette();
    void emptyState();
    void updateThresholds_data();
    void updateThresholds();
    void makeSlotName_data();
    void makeSlotName();
    void settingsDefaults();
    void settingsReadBack();
    void missingStartFoldersFallBackToMusicOrHome();
    void workFolderRemovedWithWindow();
    void pluginSearchList();
    void noDisplayGetsAClearMessage();

private:
    QTemporaryDir home;
};

void TestWindow::initTestCase()
{
    QVERIFY(home.isValid());
    UsePrivateSettings(home.path());
}

void TestWindow::init()
{
    QSettings settings(QStringLiteral("Quadrel"), QStringLiteral("QuadrelX8FileGenV21"));
    settings.clear();
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
        const bool first = name == QLatin1String("Filename_1");
        QCOMPARE(l->sizePolicy().horizontalStretch(), first ? 6 : 3);
        QCOMPARE(l->sizePolicy().horizontalPolicy(), first ? QSizePolicy::Preferred : QSizePolicy::Fixed);
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
    QCOMPARE(window.minimumSize(), QSize(515, 360));
    QCOMPARE(window.maximumSize(), QSize(515, 360));
    QCOMPARE(window.size(), QSize(515, 360));
    QVERIFY(!window.windowIcon().isNull());
    QCOMPARE(window.menuWidget(), nullptr);
    QCOMPARE(window.centralWidget()->objectName(), QStringLiteral("centralWidget"));

    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("label_11"))->text(), QStringLiteral("Available Space"));
    auto *bar = window.findChild<QProgressBar *>(QStringLiteral("AvailableSpace"));
    QCOMPARE(bar->value(), 100);
    QVERIFY(bar->invertedAppearance());
    QCOMPARE(bar->maximumHeight(), 10);

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
    // Left to right: gate label, gate slider, "Cut Silence", gap, Generate,
    // fixed gap, "Open ZKS Folder", folder button.
    auto *bar = window.findChild<QWidget *>(QStringLiteral("widget"));
    auto *layout = qobject_cast<QHBoxLayout *>(bar->layout());
    QVERIFY(layout);
    QStringList order;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        order << (item->widget() ? item->widget()->objectName() : QStringLiteral("spacer"));
    }
    QCOMPARE(order, (QStringList{"label_2", "horizontalSlider", "label_3", "spacer", "GenerateButton",
                                 "spacer", "label", "openFolderButton"}));
    QCOMPARE(layout->itemAt(5)->sizeHint().width(), 100);

    auto *gate = window.findChild<QSlider *>(QStringLiteral("horizontalSlider"));
    QCOMPARE(gate->maximum(), 4);
    QCOMPARE(gate->pageStep(), 1);
    QCOMPARE(gate->size(), QSize(60, 23));
    QCOMPARE(gate->tickPosition(), QSlider::TicksAbove);
    QCOMPARE(gate->toolTip(), QStringLiteral("Silence detecting threshold to remove starting pause"));
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("label_2"))->text(), QStringLiteral("Don't"));
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("label_3"))->text(), QStringLiteral("Cut Silence"));
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("label"))->text(), QStringLiteral("Open ZKS Folder"));
    QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("GenerateButton"))->text(), QStringLiteral("Generate"));
    auto *folder = window.findChild<QPushButton *>(QStringLiteral("openFolderButton"));
    QVERIFY(!folder->icon().isNull());
    QCOMPARE(folder->iconSize(), QSize(20, 20));
    QCOMPARE(folder->maximumSize(), QSize(40, 23));
}

void TestWindow::thresholdButtons()
{
    ZKWindow window;
    auto *group = window.findChild<QButtonGroup *>(QStringLiteral("buttonGroup"));
    QVERIFY(group);
    QVERIFY(group->exclusive());
    QStringList joined;
    for (QAbstractButton *b : group->buttons())
        joined << b->objectName();
    QCOMPARE(joined, (QStringList{"ThrOfLayer_8", "ThrOfLayer_2", "ThrOfLayer_1", "ThrOfLayer_4",
                                  "ThrOfLayer_7", "ThrOfLayer_3", "ThrOfLayer_5", "ThrOfLayer_6"}));
    for (QAbstractButton *b : group->buttons()) {
        auto *p = qobject_cast<QPushButton *>(b);
        QVERIFY(p->isCheckable());
        QVERIFY(!p->isChecked());
        QVERIFY(!p->autoExclusive());
        QVERIFY(p->isFlat());
        QCOMPARE(p->text(), QStringLiteral("1"));
        QCOMPARE(p->toolTip(), QStringLiteral("Threshold Value of this Layer"));
    }
    group->buttons().at(0)->setChecked(true);
    group->buttons().at(1)->setChecked(true);
    QVERIFY(!group->buttons().at(0)->isChecked());
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
    QCOMPARE(SlotCount, 0);
    QCOMPARE(UsedSpace, 0);
    QCOMPARE(SlotThreshold[1], 1);
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
        QCOMPARE(QString::number(SlotThreshold[n]), texts.at(n - 1));
    }
    QCOMPARE(shown, texts);
}

void TestWindow::makeSlotName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::newRow("converted path") << "/tmp/QuadrelX8FileGen-abc/3/kick.wav" << "kick.wav";
    QTest::newRow("bare name") << "kick.aif" << "kick.aif";
    QTest::newRow("backslashes") << "C:\\wav\\kick.wav" << "C:\\wav\\kick.wav";
    QTest::newRow("empty") << "" << "";
}

void TestWindow::makeSlotName()
{
    QFETCH(QString, path);
    QFETCH(QString, name);
    SlotPath[4] = path;
    SlotName[4] = QStringLiteral("stale");
    MakeSlotName(4);
    QCOMPARE(SlotName[4], name);
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

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
