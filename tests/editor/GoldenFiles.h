#pragma once

#include <QDir>
#include <QFile>
#include <QTest>

// Golden files: every "*.md" in data/golden is one test row, compared with a
// committed expected file beside it. With TESSIVO_UPDATE_GOLDEN=1 the expected
// files are written instead (scripts/update-golden.sh), so a change of
// behaviour shows up as a reviewable diff.
namespace GoldenFiles {

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Adds the column "input" and one row per golden input file.
inline void addRows()
{
    QTest::addColumn<QString>("input");
    const QDir dir(QStringLiteral(TESSIVO_TEST_DATA_DIR "/golden"));
    const QStringList files = dir.entryList({QStringLiteral("*.md")}, QDir::Files, QDir::Name);
    QVERIFY(!files.isEmpty());
    for (const QString &name : files) {
        QTest::newRow(qPrintable(name)) << dir.filePath(name);
    }
}

// The expected file of `input` ("x.md") with another extension (".html").
inline QString expectedPath(QString input, const QString &extension)
{
    input.chop(3);
    return input + extension;
}

inline void compare(const QString &actual, const QString &expectedPath)
{
    if (qEnvironmentVariableIntValue("TESSIVO_UPDATE_GOLDEN") == 1) {
        QFile out(expectedPath);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(actual.toUtf8());
        return;
    }
    QVERIFY2(QFile::exists(expectedPath),
             qPrintable(expectedPath + QStringLiteral(" is missing: run scripts/update-golden.sh")));
    QCOMPARE(actual, QString::fromUtf8(readFile(expectedPath)));
}

} // namespace GoldenFiles
