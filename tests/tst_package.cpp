// The .deb as a user gets it: built, held to lintian, unpacked, every program started from it.
#include "harness.h"

#include <QDir>
#include <QLockFile>
#include <QSettings>
#include <QTemporaryDir>

class TestPackage : public QObject {
    Q_OBJECT

    QTemporaryDir m_scratch;
    QString m_deb;
    QDir m_root{m_scratch.filePath("root")};

private Q_SLOTS:
    void initTestCase()
    {
        const QStringList pack{"--config", BUILD_DIR "/CPackConfig.cmake", "-B", m_scratch.path()};
        QCOMPARE(QProcess::execute("cpack", pack), 0);
        m_deb = QDir(m_scratch.path()).entryInfoList({"*.deb"}).value(0).filePath();
        QCOMPARE(QProcess::execute("dpkg", {"-x", m_deb, m_root.path()}), 0);
    }

    // Overrides belong in usr/share/lintian/overrides, each with its reason beside it.
    void lintianFindsNoErrorOrWarning()
    {
        QCOMPARE(QProcess::execute("lintian", {"--fail-on", "error,warning", m_deb}), 0);
    }

    void everyProgram_data()
    {
        QTest::addColumn<int>("port"); // the COM port opened at start
        for (const char *name : {"ostrel", "marlo", "tamsin"})
            QTest::newRow(name) << 2;
        for (const char *name : {"dunwell", "quenby"})
            QTest::newRow(name) << 1;
    }
    void everyProgram()
    {
        QFETCH(int, port);
        const QByteArray name = QTest::currentDataTag();
        const QString entry = m_root.filePath("usr/share/applications/" + name + ".desktop");
        QProcess run;
        run.start("desktop-file-validate", {entry}); // no error, no warning, not even a hint
        QCOMPARE(run.waitForFinished(60000) ? run.readAll() : "did not run", QByteArray());
        QSettings desktop(entry, QSettings::IniFormat);
        QVERIFY(m_root.exists("usr/share/icons/hicolor/scalable/apps/"
                              + desktop.value("Desktop Entry/Icon").toString() + ".svg"));

        // Unhyphenated, so that a phrase can be looked for across line breaks.
        run.start("man", {"--nh", "-l", m_root.filePath("usr/share/man/man1/" + name + ".1.gz")});
        const QByteArray man = run.waitForFinished(60000) ? run.readAll().simplified() : "";
        QVERIFY2(man.contains(name + " - ") && man.contains("opens COM" + QByteArray::number(port)),
                 man);

        TwoPorts ports;
        run.start(m_root.filePath("usr/bin/" + name));
        // Up means holding its start port: the lock file tells without racing it for the port.
        const QString lock = "/var/lock/LCK.." + ports.com(port).path().mid(5).replace('/', '_');
        qint64 pid = 0;
        QTRY_VERIFY(QLockFile(lock).getLockInfo(&pid, nullptr, nullptr) && pid == run.processId());
        run.terminate();
        QVERIFY(run.waitForFinished(5000));
    }
};

QTEST_MAIN(TestPackage)
#include "tst_package.moc"
