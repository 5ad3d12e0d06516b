// The .deb as a user gets it: built, held to lintian, unpacked, every program started from it.
#include "harness.h"

#include <QDir>
#include <QLockFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

class TestPackage : public QObject {
    Q_OBJECT

    QTemporaryDir m_root; // made current: the package is built there and unpacked beside itself

private Q_SLOTS:
    // Overrides belong in usr/share/lintian/overrides, each with its reason beside it.
    void initTestCase()
    {
        QVERIFY(QDir::setCurrent(m_root.path()));
        QCOMPARE(QProcess::execute("cpack", {"--config", BUILD_DIR "/CPackConfig.cmake"}), 0);
        const QString deb = QDir().entryList({"*.deb"}).value(0);
        QCOMPARE(QProcess::execute("lintian", {"--fail-on", "error,warning", deb}), 0);
        QCOMPARE(QProcess::execute("dpkg", {"-x", deb, "."}), 0);
    }

    void everyProgram_data() { useRows(kPrograms); }
    void everyProgram()
    {
        const char *name = currentRow(kPrograms).name;
        const int port = currentRow(kPrograms).program.startPort;
        QSettings entry("usr/share/applications/"_ba + name + ".desktop", QSettings::IniFormat);
        QProcess run;
        run.start("desktop-file-validate", {entry.fileName()}); // silent: no error, warning, hint
        QCOMPARE(run.waitForFinished(60000) ? run.readAll() : "did not run", QByteArray());
        QVERIFY(QDir("usr/share/icons/hicolor/scalable/apps")
                    .exists(entry.value("Desktop Entry/Icon").toString() + ".svg"));

        // Unhyphenated, so that a phrase can be looked for across line breaks.
        run.start("man", {"--nh", "-l", "usr/share/man/man1/"_ba + name + ".1.gz"});
        const QString man = run.waitForFinished(60000) ? run.readAll().simplified() : "";
        QVERIFY(man.contains(name + " - "_L1) && man.contains(u"opens COM%1"_s.arg(port)));

        TwoPorts ports;
        run.start("usr/bin/"_ba + name);
        // Up means holding its start port: the lock file tells without racing it for the port.
        const QString lock = "/var/lock/LCK.." + ports.com(port).path().mid(5).replace('/', '_');
        qint64 pid = 0;
        QTRY_VERIFY(QLockFile(lock).getLockInfo(&pid, nullptr, nullptr) && pid == run.processId());
        run.close(); // killed: how a program ends is for the window suites
    }
};

QTEST_MAIN(TestPackage)
#include "tst_package.moc"
