// docs/reliability.md says what the consoles did under each fault, bad input
// and load. Its tables must be exactly the rows the reliability tests prove,
// so a changed outcome or a new case fails here until the record says so.
#include "cases.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

using namespace Reliability;

namespace {

QString readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

QStringList cellsOf(const QString &line)
{
    QStringList cells = line.trimmed().split(u'|');
    cells.removeFirst();
    cells.removeLast();
    for (QString &cell : cells)
        cell = cell.trimmed();
    return cells;
}

// Every body row of every table, as "section | cell | cell ...": the header
// row and the separator row under it are left out.
QStringList tableRows(const QString &markdown)
{
    QStringList rows;
    QString section;
    int rowInTable = 0;
    for (const QString &line : markdown.split(u'\n')) {
        if (line.startsWith(QStringLiteral("## ")))
            section = line.mid(3).trimmed();
        if (!line.startsWith(u'|')) {
            rowInTable = 0;
            continue;
        }
        if (rowInTable++ >= 2)
            rows << (QStringList{section} + cellsOf(line)).join(QStringLiteral(" | "));
    }
    return rows;
}

QStringList expectedRows()
{
    QStringList rows;
    for (const RecordRow &row : recordRows())
        rows << (QStringList{row.section} + row.cells).join(QStringLiteral(" | "));
    return rows;
}

// The tables as they should read, for pasting into the record.
QString expectedTables()
{
    QString out, section;
    for (const RecordRow &row : recordRows()) {
        if (row.section != section) {
            section = row.section;
            out += QStringLiteral("\n## %1\n\n").arg(section);
        }
        out += QStringLiteral("| %1 |\n").arg(row.cells.join(QStringLiteral(" | ")));
    }
    return out;
}

} // namespace

class TestReliabilityRecord : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void tablesParse_data();
    void tablesParse();
    void recordMatchesTheCases();
    void everyNamedTestExists();
};

void TestReliabilityRecord::tablesParse_data()
{
    QTest::addColumn<QString>("markdown");
    QTest::addColumn<QStringList>("rows");

    QTest::newRow("header and separator left out")
        << "## A\n\n| h1 | h2 |\n|---|---|\n| a | b |\n|  c|d |\n"
        << QStringList{"A | a | b", "A | c | d"};
    QTest::newRow("each table has its own header")
        << "## A\n| h |\n|---|\n| a |\ntext\n## B\n| h |\n|---|\n| b |\n"
        << QStringList{"A | a", "B | b"};
    QTest::newRow("a dash inside a cell is no separator") << "## A\n| h |\n|---|\n| - |\n| a-b |\n"
                                                          << QStringList{"A | -", "A | a-b"};
    QTest::newRow("no tables") << "# Title\n\ntext\n" << QStringList{};
}

void TestReliabilityRecord::tablesParse()
{
    QFETCH(QString, markdown);
    QFETCH(QStringList, rows);
    QCOMPARE(tableRows(markdown), rows);
}

void TestReliabilityRecord::recordMatchesTheCases()
{
    const QString record = readAll(QStringLiteral(RELIABILITY_RECORD));
    for (const RecordRow &row : recordRows()) {
        for (const QString &cell : row.cells)
            QVERIFY2(!cell.contains(u'|') && !cell.contains(u'\n'), qPrintable(cell));
    }

    const QStringList actual = tableRows(record);
    const QStringList expected = expectedRows();
    if (actual != expected) {
        const QString path = QDir(QCoreApplication::applicationDirPath())
                                 .absoluteFilePath(QStringLiteral("reliability-tables.md"));
        QFile out(path);
        if (out.open(QIODevice::WriteOnly))
            out.write(expectedTables().toUtf8());
        qsizetype i = 0;
        while (i < actual.size() && i < expected.size() && actual[i] == expected[i])
            ++i;
        QFAIL(qPrintable(QStringLiteral(RELIABILITY_RECORD
                                        " differs from the cases at row %1:\n"
                                        "  record: %2\n  cases:  %3\nThe tables as they should "
                                        "read are in %4")
                             .arg(i + 1)
                             .arg(actual.value(i, QStringLiteral("(none)")),
                                  expected.value(i, QStringLiteral("(none)")), path)));
    }
}

void TestReliabilityRecord::everyNamedTestExists()
{
    QStringList named;
    for (const RecordRow &row : recordRows())
        named << row.cells.last();
    named.removeDuplicates();
    const QRegularExpression form(QStringLiteral("^(tst_\\w+)::(\\w+)$"));
    for (const QString &test : named) {
        const QRegularExpressionMatch match = form.match(test);
        QVERIFY2(match.hasMatch(), qPrintable(test));
        QString source;
        for (const char *folder : {"", "acceptance/", "reliability/"}) {
            source += readAll(QStringLiteral(TESTS_DIR "/%1%2.cpp")
                                  .arg(QLatin1StringView(folder), match.captured(1)));
        }
        const QRegularExpression definition(
            QStringLiteral("::%1\\(\\)\\s*\\{").arg(match.captured(2)));
        QVERIFY2(source.contains(definition), qPrintable(test + QStringLiteral(" not found")));
    }
}

QTEST_GUILESS_MAIN(TestReliabilityRecord)
#include "tst_reliability_record.moc"
