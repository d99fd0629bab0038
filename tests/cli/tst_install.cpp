#include <QtTest>

#include <QDir>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <utility>

#include "testmain.h"
#include "testsupport.h"

namespace {

const QString kAppId = QStringLiteral("example.quadrel.QuadrelX8FileGen");
const QString kConverterDir = QStringLiteral("libexec/quadrelx8filegen");

// The entries of a .desktop file's main group.
QMap<QString, QString> DesktopEntry(const QString &path)
{
    QMap<QString, QString> entry;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return entry;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    bool inMainGroup = false;
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1Char('[')))
            inMainGroup = line == QLatin1String("[Desktop Entry]");
        const int equals = line.indexOf(QLatin1Char('='));
        if (inMainGroup && equals > 0)
            entry.insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    }
    return entry;
}

// The package names in a Depends field: "a (>= 1), b | c:any" gives a, b
// and c.
QStringList PackageNames(const QString &relations)
{
    QStringList names;
    for (const QString &alternative : relations.split(QRegularExpression(QStringLiteral("[,|]")))) {
        const QString name = alternative.trimmed().section(QLatin1Char(' '), 0, 0).section(QLatin1Char(':'), 0, 0);
        if (!name.isEmpty())
            names << name;
    }
    return names;
}

// The packages `roots` bring along when installed: themselves and what
// they depend on, over and over, as this system's packages say.
QSet<QString> WithTheirDependencies(const QStringList &roots)
{
    const ToolRun query = RunCommand(QStringLiteral("dpkg-query"),
                                     {QStringLiteral("-W"), QStringLiteral("-f=${Package}\t${Depends}, ${Pre-Depends}\n")});
    QHash<QString, QStringList> depends;
    for (const QString &line : query.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        depends[line.section(QLatin1Char('\t'), 0, 0)] += PackageNames(line.section(QLatin1Char('\t'), 1));
    QSet<QString> reached;
    QStringList next = roots;
    while (!next.isEmpty()) {
        const QString name = next.takeLast();
        if (!reached.contains(name)) {
            reached.insert(name);
            next += depends.value(name);
        }
    }
    return reached;
}

} // namespace

// The program as `cmake --install` lays it out under a fresh prefix, and as
// it runs from there: zkstool finds the converters in libexec with nothing
// of the build folder on PATH, and the desktop files pass their validators.
class TestInstall : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void layout();
    void commandsAreExecutable_data();
    void commandsAreExecutable();
    void programStartsFromThePrefix();
    void zkstoolHelp();
    void zkstoolBuildsWithTheInstalledConverters();
    void validators_data();
    void validators();
    void desktopEntryNamesInstalledFiles();
    void bankFilesGetTheProgramsType();
    void manPageCoversEveryCommandAndOption();
    void packageBringsWhatPlayingLoads();

private:
    QString Installed(const QString &relative) const { return prefix.filePath(relative); }
    // The environment of a user of the installed program: a PATH of system
    // folders only.
    QProcessEnvironment UserEnvironment() const;

    QTemporaryDir prefix;
    QTemporaryDir work;
};

void TestInstall::initTestCase()
{
    QVERIFY(prefix.isValid());
    QVERIFY(work.isValid());
    const ToolRun install = RunCommand(QStringLiteral(ZK_CMAKE_COMMAND),
                                   {QStringLiteral("--install"), QStringLiteral(ZK_BUILD_DIR),
                                    QStringLiteral("--prefix"), prefix.path()});
    QVERIFY2(install.exitCode == 0, qPrintable(Show(install)));
}

QProcessEnvironment TestInstall::UserEnvironment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/local/bin:/usr/bin:/bin"));
    env.insert(QStringLiteral("TMPDIR"), work.path());
    return env;
}

void TestInstall::layout()
{
    QStringList files;
    for (const QString &entry : FolderTree(prefix.path())) {
        if (QFileInfo(Installed(entry)).isFile())
            files << entry;
    }
    const QStringList expected{
        QStringLiteral("bin/QuadrelX8FileGen"),
        QStringLiteral("bin/zkstool"),
        kConverterDir + QStringLiteral("/sndfile-convert-to-microsoft-pcm16"),
        kConverterDir + QStringLiteral("/sr-convert"),
        QStringLiteral("share/applications/") + kAppId + QStringLiteral(".desktop"),
        QStringLiteral("share/icons/hicolor/256x256/apps/") + kAppId + QStringLiteral(".png"),
        QStringLiteral("share/man/man1/zkstool.1"),
        QStringLiteral("share/metainfo/") + kAppId + QStringLiteral(".metainfo.xml"),
        QStringLiteral("share/mime/packages/") + kAppId + QStringLiteral(".xml"),
    };
    QCOMPARE(files, expected);
}

void TestInstall::commandsAreExecutable_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("program") << "bin/QuadrelX8FileGen";
    QTest::newRow("zkstool") << "bin/zkstool";
    QTest::newRow("first converter") << kConverterDir + "/sndfile-convert-to-microsoft-pcm16";
    QTest::newRow("second converter") << kConverterDir + "/sr-convert";
}

void TestInstall::commandsAreExecutable()
{
    QFETCH(QString, path);
    QVERIFY(QFileInfo(Installed(path)).isExecutable());
    // Helpers, not commands: nothing a user types finds them.
    if (path.startsWith(kConverterDir))
        QVERIFY(QStandardPaths::findExecutable(QFileInfo(path).fileName(),
                                               UserEnvironment()
                                                   .value(QStringLiteral("PATH"))
                                                   .split(QLatin1Char(':')))
                    .isEmpty());
}

// Without a display the program stops with its own message, which it can
// only print once every library it needs has loaded.
void TestInstall::programStartsFromThePrefix()
{
    QProcessEnvironment env = UserEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    const ToolRun run = RunCommand(Installed(QStringLiteral("bin/QuadrelX8FileGen")), {}, env);
    QVERIFY2(run.exitCode == 1, qPrintable(Show(run)));
    QVERIFY2(run.err.contains(QLatin1String("no display found")), qPrintable(Show(run)));
}

void TestInstall::zkstoolHelp()
{
    const ToolRun run = RunCommand(Installed(QStringLiteral("bin/zkstool")), {QStringLiteral("--help")},
                               UserEnvironment());
    QVERIFY2(run.exitCode == 0, qPrintable(Show(run)));
    QVERIFY2(run.out.startsWith(QLatin1String("Usage: zkstool build")), qPrintable(Show(run)));
}

// A 48000 Hz sound needs both converters. --verbose shows the first one's
// command line, so the test sees where it was found.
void TestInstall::zkstoolBuildsWithTheInstalledConverters()
{
    QVector<qint16> samples(4800);
    for (int i = 0; i < samples.size(); ++i)
        samples[i] = qint16(i % 96 * 300 - 14000);
    const QString sound = work.filePath(QStringLiteral("tone.wav"));
    QVERIFY(WriteBytes(sound, Wav16(1, 48000, samples)));
    const QString bank = work.filePath(QStringLiteral("kit.zks"));
    const QString zkstool = Installed(QStringLiteral("bin/zkstool"));

    const ToolRun build = RunCommand(zkstool,
                                 {QStringLiteral("build"), QStringLiteral("--external-converters"),
                                  QStringLiteral("--verbose"),
                                  QStringLiteral("-o"), bank, sound},
                                 UserEnvironment());
    QVERIFY2(build.exitCode == 0, qPrintable(Show(build)));
    const QString converter = QFileInfo(prefix.path()).canonicalFilePath() + QLatin1Char('/')
        + kConverterDir + QStringLiteral("/sndfile-convert-to-microsoft-pcm16");
    QVERIFY2(build.err.contains(converter), qPrintable(Show(build)));

    const ToolRun info = RunCommand(zkstool, {QStringLiteral("info"), bank, QStringLiteral("--json")},
                                UserEnvironment());
    QVERIFY2(info.exitCode == 0, qPrintable(Show(info)));
    const QJsonObject json = QJsonDocument::fromJson(info.out.toUtf8()).object();
    QCOMPARE(json.value(QStringLiteral("layerCount")).toInt(), 1);
    QCOMPARE(json.value(QStringLiteral("layerNames")).toArray().at(0).toString(),
             QStringLiteral("tone.wav"));
}

void TestInstall::validators_data()
{
    QTest::addColumn<QString>("validator");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("file");
    QTest::newRow("desktop entry")
        << "desktop-file-validate" << QStringList()
        << QStringLiteral("share/applications/") + kAppId + QStringLiteral(".desktop");
    QTest::newRow("metainfo")
        << "appstreamcli" << QStringList{QStringLiteral("validate"), QStringLiteral("--no-net")}
        << QStringLiteral("share/metainfo/") + kAppId + QStringLiteral(".metainfo.xml");
    QTest::newRow("MIME type")
        << "xmllint" << QStringList{QStringLiteral("--noout")}
        << QStringLiteral("share/mime/packages/") + kAppId + QStringLiteral(".xml");
    // Warnings too: a roff mistake shows as a garbled manual page.
    QTest::newRow("manual page")
        << "groff" << QStringList{QStringLiteral("-man"), QStringLiteral("-ww"), QStringLiteral("-z")}
        << "share/man/man1/zkstool.1";
}

void TestInstall::validators()
{
    QFETCH(QString, validator);
    QFETCH(QStringList, arguments);
    QFETCH(QString, file);
    const QString program = QStandardPaths::findExecutable(validator);
    QVERIFY2(!program.isEmpty(),
             qPrintable(validator + QStringLiteral(" is missing: scripts/install-deps.sh installs it")));
    const ToolRun run = RunCommand(program, arguments + QStringList(Installed(file)));
    QVERIFY2(run.exitCode == 0, qPrintable(Show(run)));
    if (validator != QLatin1String("appstreamcli")) // it reports success on stdout
        QVERIFY2(run.out.isEmpty() && run.err.isEmpty(), qPrintable(Show(run)));
}

// The validators check each file alone; the names that tie them together
// are checked here.
void TestInstall::desktopEntryNamesInstalledFiles()
{
    const QString desktopName = kAppId + QStringLiteral(".desktop");
    const QMap<QString, QString> entry =
        DesktopEntry(Installed(QStringLiteral("share/applications/") + desktopName));
    QVERIFY(QFileInfo(Installed(QStringLiteral("bin/") + entry.value(QStringLiteral("Exec")).section(QLatin1Char(' '), 0, 0)))
                .isExecutable());
    QCOMPARE(entry.value(QStringLiteral("Icon")), kAppId);

    QFile metainfo(Installed(QStringLiteral("share/metainfo/") + kAppId
                             + QStringLiteral(".metainfo.xml")));
    QVERIFY(metainfo.open(QIODevice::ReadOnly));
    const QString xml = QString::fromUtf8(metainfo.readAll());
    QVERIFY(xml.contains(QStringLiteral("<id>") + kAppId + QStringLiteral("</id>")));
    QVERIFY(xml.contains(QStringLiteral("<launchable type=\"desktop-id\">") + desktopName
                         + QStringLiteral("</launchable>")));
}

// The shared MIME database built from the installed type maps a bank to it,
// and the desktop entry opens files of that type.
void TestInstall::bankFilesGetTheProgramsType()
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("update-mime-database"));
    QVERIFY2(!program.isEmpty(), "update-mime-database is missing: scripts/install-deps.sh installs it");
    const ToolRun update = RunCommand(program, {Installed(QStringLiteral("share/mime"))});
    QVERIFY2(update.exitCode == 0, qPrintable(Show(update)));
    QFile globs(Installed(QStringLiteral("share/mime/globs2")));
    QVERIFY(globs.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(globs.readAll()).split(QLatin1Char('\n'));
    QVERIFY2(lines.contains(QStringLiteral("50:application/x-quadrelsound:*.zks")), qPrintable(lines.join('\n')));

    const QMap<QString, QString> entry =
        DesktopEntry(Installed(QStringLiteral("share/applications/") + kAppId + QStringLiteral(".desktop")));
    QCOMPARE(entry.value(QStringLiteral("MimeType")), QStringLiteral("application/x-quadrelsound;"));
    QCOMPARE(entry.value(QStringLiteral("Exec")), QStringLiteral("QuadrelX8FileGen %F"));
}

// Whatever zkstool --help lists, the manual page describes.
void TestInstall::manPageCoversEveryCommandAndOption()
{
    const ToolRun help = RunCommand(Installed(QStringLiteral("bin/zkstool")), {QStringLiteral("--help")},
                                UserEnvironment());
    QVERIFY2(help.exitCode == 0, qPrintable(Show(help)));
    QFile page(Installed(QStringLiteral("share/man/man1/zkstool.1")));
    QVERIFY(page.open(QIODevice::ReadOnly));
    // Roff writes a plain hyphen as "\-" and sets words apart with font
    // requests; what is left is the text a reader sees.
    QString text = QString::fromUtf8(page.readAll());
    text.replace(QLatin1String("\\-"), QLatin1String("-"));
    text.replace(QRegularExpression(QStringLiteral("^\\.[A-Z]+ ?"),
                                    QRegularExpression::MultilineOption),
                 QString());

    QStringList wanted;
    QRegularExpressionMatchIterator commands =
        QRegularExpression(QStringLiteral("zkstool ([a-z]+)")).globalMatch(help.out);
    while (commands.hasNext())
        wanted << QStringLiteral("zkstool ") + commands.next().captured(1);
    QRegularExpressionMatchIterator options =
        QRegularExpression(QStringLiteral("(?<![\\w-])(--?[a-z]+)")).globalMatch(help.out);
    while (options.hasNext())
        wanted << options.next().captured(1);
    wanted.removeDuplicates();
    QVERIFY(wanted.size() >= 10);
    for (const QString &word : std::as_const(wanted))
        QVERIFY2(text.contains(word), qPrintable(word));
    QVERIFY(text.contains(QLatin1String("EXIT STATUS")));
}

// The Debian package must bring every Qt plug-in that playing a sound loads
// (nothing links to them, so dpkg-shlibdeps cannot see them): a sound played
// through the window's own code under QT_DEBUG_PLUGINS names them.
void TestInstall::packageBringsWhatPlayingLoads()
{
    // What cpack -G DEB needs (scripts/install-deps.sh installs them).
    for (const char *tool : {"dpkg-deb", "dpkg-shlibdeps", "dpkg-query", "file"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is missing: scripts/install-deps.sh installs dpkg-dev and file")
                                 .arg(QLatin1String(tool))));
    }
    if (!QFileInfo(QStringLiteral(ZK_CPACK_COMMAND)).isExecutable())
        QSKIP("cpack is missing");

    QVector<qint16> samples(4410);
    for (int i = 0; i < samples.size(); ++i)
        samples[i] = qint16(i % 100 * 200 - 10000);
    const QString wave = work.filePath(QStringLiteral("beep.wav"));
    QVERIFY(WriteBytes(wave, Wav16(1, 44100, samples)));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_DEBUG_PLUGINS"), QStringLiteral("1"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const ToolRun play = RunCommand(QStringLiteral(ZK_PLAY_SOUND), {wave}, env);
    QVERIFY2(play.exitCode == 0, qPrintable(Show(play)));
    // Qt 5 says `loaded library "PATH"`, Qt 6 `"PATH" loaded library`.
    const QRegularExpression loaded(QStringLiteral("loaded library \"([^\"]+)\"|\"([^\"]+)\" loaded library"));
    QStringList plugins;
    for (auto match = loaded.globalMatch(play.err); match.hasNext();) {
        const QRegularExpressionMatch m = match.next();
        const QString path = m.captured(1).isEmpty() ? m.captured(2) : m.captured(1);
        if (path.contains(QLatin1String("/plugins/")) && !plugins.contains(path))
            plugins << path;
    }
    // The platform plug-in at least.
    QVERIFY2(!plugins.isEmpty(), qPrintable(Show(play)));

    const ToolRun owners = RunCommand(QStringLiteral("dpkg-query"), QStringList{QStringLiteral("-S")} + plugins);
    if (owners.exitCode != 0)
        QSKIP(qPrintable(QStringLiteral("Qt's plug-ins do not come from Debian packages here: ") + owners.err));
    // "libqt5multimedia5-plugins:amd64: /usr/lib/.../libqtmedia_pulse.so"
    QStringList holders;
    for (const QString &line : owners.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        for (const QString &owner : line.section(QStringLiteral(": "), 0, 0).split(QStringLiteral(", ")))
            holders << owner.section(QLatin1Char(':'), 0, 0) + QStringLiteral(" for ")
                    + line.section(QStringLiteral(": "), 1);
    }

    QTemporaryDir packages;
    QVERIFY(packages.isValid());
    const ToolRun pack = RunCommand(QStringLiteral(ZK_CPACK_COMMAND),
                                    {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("--config"),
                                     QStringLiteral(ZK_BUILD_DIR "/CPackConfig.cmake"), QStringLiteral("-B"),
                                     packages.path()});
    QVERIFY2(pack.exitCode == 0, qPrintable(Show(pack)));
    const QStringList debs = QDir(packages.path()).entryList({QStringLiteral("*.deb")}, QDir::Files);
    QCOMPARE(debs.size(), 1);
    const ToolRun depends = RunCommand(QStringLiteral("dpkg-deb"),
                                       {QStringLiteral("-f"), packages.filePath(debs.first()), QStringLiteral("Depends")});
    QVERIFY2(depends.exitCode == 0, qPrintable(Show(depends)));
    const QSet<QString> brought = WithTheirDependencies(PackageNames(depends.out));

    QStringList missing;
    for (const QString &holder : holders) {
        if (!brought.contains(holder.section(QLatin1Char(' '), 0, 0)))
            missing << holder;
    }
    QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("Depends: %1\nnot brought: %2")
                                               .arg(depends.out.trimmed(), missing.join(QStringLiteral("; ")))));
}

ZK_TEST(TestInstall)
#include "tst_install.moc"
