// The .deb as a user gets it: built by CPack, held to lintian, unpacked into a
// scratch root, and every program in it started from there.
#include "ptydevice.h"

#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString run(const QString &program, const QStringList &arguments, int *exitCode = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    // A tool that is missing must not pass for one that found nothing.
    const bool finished = process.waitForFinished(120000);
    if (exitCode)
        *exitCode =
            finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAll());
}

} // namespace

class TestPackage : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void controlFields();
    void lintianFindsNoErrorOrWarning();
    void everyProgramHasADesktopEntryAnIconAndAManualPage_data() { programs(); }
    void everyProgramHasADesktopEntryAnIconAndAManualPage();
    void everyProgramStartsFromTheUnpackedPackage_data() { programs(); }
    void everyProgramStartsFromTheUnpackedPackage();

private:
    void programs();

    QTemporaryDir m_scratch;
    QString m_deb;
    QString m_root;
};

void TestPackage::initTestCase()
{
    QVERIFY(m_scratch.isValid());
    int status = 0;
    const QString output =
        run(QStringLiteral("cpack"),
            {QStringLiteral("--config"), QStringLiteral(BUILD_DIR "/CPackConfig.cmake"),
             QStringLiteral("-B"), m_scratch.path()},
            &status);
    QVERIFY2(status == 0, qPrintable(output));
    const QStringList debs = QDir(m_scratch.path()).entryList({QStringLiteral("*.deb")});
    QCOMPARE(debs.size(), 1);
    m_deb = QDir(m_scratch.path()).filePath(debs.front());
    m_root = m_scratch.filePath(QStringLiteral("root"));
    run(QStringLiteral("dpkg"), {QStringLiteral("-x"), m_deb, m_root}, &status);
    QCOMPARE(status, 0);
}

void TestPackage::programs()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("startPort");
    const QDir entries(m_root + QStringLiteral("/usr/share/applications"));
    const QStringList files = entries.entryList({QStringLiteral("*.desktop")});
    QVERIFY(!files.isEmpty());
    const QMap<QString, int> startPorts{{QStringLiteral("ostrel"), 2},
                                        {QStringLiteral("marlo"), 2},
                                        {QStringLiteral("dunwell"), 1},
                                        {QStringLiteral("quenby"), 1},
                                        {QStringLiteral("tamsin"), 2}};
    for (const QString &file : files) {
        const QString name = QFileInfo(file).completeBaseName();
        QVERIFY2(startPorts.contains(name), qPrintable(name));
        QTest::newRow(qPrintable(name)) << name << startPorts[name];
    }
}

void TestPackage::controlFields()
{
    const QString fields =
        run(QStringLiteral("dpkg-deb"),
            {QStringLiteral("-f"), m_deb, QStringLiteral("Version"), QStringLiteral("Depends")});
    QVERIFY2(fields.contains(QStringLiteral("Version: 1.00\n")), qPrintable(fields));
    for (const char *dependency : {"fonts-arphic-uming", "libqt6serialport6", "libqt6widgets6"})
        QVERIFY2(fields.contains(QLatin1StringView(dependency)), qPrintable(fields));
}

// Overrides belong in usr/share/lintian/overrides, each with its reason beside it.
void TestPackage::lintianFindsNoErrorOrWarning()
{
    int status = 0;
    const QString report =
        run(QStringLiteral("lintian"),
            {QStringLiteral("--fail-on"), QStringLiteral("error,warning"), m_deb}, &status);
    QVERIFY2(status == 0, qPrintable(report));
}

void TestPackage::everyProgramHasADesktopEntryAnIconAndAManualPage()
{
    QFETCH(QString, name);
    QFETCH(int, startPort);
    const QString entry =
        m_root + QStringLiteral("/usr/share/applications/") + name + QStringLiteral(".desktop");
    int status = 0;
    const QString complaints = run(QStringLiteral("desktop-file-validate"), {entry}, &status);
    QVERIFY2(status == 0 && complaints.isEmpty(), qPrintable(complaints));
    const QSettings desktop(entry, QSettings::IniFormat);
    QCOMPARE(desktop.value(QStringLiteral("Desktop Entry/Exec")).toString(), name);
    const QString icon = desktop.value(QStringLiteral("Desktop Entry/Icon")).toString();
    QVERIFY(QFile::exists(m_root + QStringLiteral("/usr/share/icons/hicolor/scalable/apps/") + icon
                          + QStringLiteral(".svg")));

    // Unhyphenated, so that a phrase can be looked for across line breaks.
    const QString page =
        run(QStringLiteral("man"),
            {QStringLiteral("--nh"), QStringLiteral("-l"),
             m_root + QStringLiteral("/usr/share/man/man1/") + name + QStringLiteral(".1.gz")},
            &status)
            .simplified();
    QVERIFY2(status == 0 && page.contains(name + QStringLiteral(" - "))
                 && page.contains(QStringLiteral("opens COM%1").arg(startPort))
                 && page.contains(QStringLiteral("系统信息")),
             qPrintable(page));
}

void TestPackage::everyProgramStartsFromTheUnpackedPackage()
{
    QFETCH(QString, name);
    QFETCH(int, startPort);
    PtyDevice com1, com2;
    PtyDevice &startDevice = startPort == 1 ? com1 : com2;

    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("COMM_COM1"), com1.path());
    environment.insert(QStringLiteral("COMM_COM2"), com2.path());
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(m_root + QStringLiteral("/usr/bin/") + name, {});
    QVERIFY(program.waitForStarted());

    // Up and running means holding its start-up port. Trying to open the port
    // here would race the program for it; its lock file tells without touching it.
    const QString lock =
        QStringLiteral("/var/lock/LCK..") + startDevice.path().mid(5).replace(u'/', u'_');
    QVERIFY(QTest::qWaitFor(
        [&] {
            QFile file(lock);
            return file.open(QIODevice::ReadOnly)
                   && file.readLine().trimmed().toLongLong() == program.processId();
        },
        10000));
    QCOMPARE(program.state(), QProcess::Running);
    program.terminate();
    QVERIFY(program.waitForFinished(5000));
}

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
