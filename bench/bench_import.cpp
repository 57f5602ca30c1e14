// Times the full Excel import of a large worksheet, as .xls and as .xlsx, against its raw
// cost: reading the same workbook with the reader alone and inserting its rows with one
// prepared statement in one transaction; and the reader alone, without the database. Each
// format runs in a process of its own, so each has its own peak memory. Usage:
// dagl-bench-import [rows] [xls|xlsx] (65000 rows of 24 columns, both formats, by default).

#include "BenchSupport.h"
#include "Connection.h"
#include "Dataset.h"
#include "Error.h"
#include "ExcelWorkbook.h"
#include "GridWriters.h"
#include "ImportPlan.h"
#include "QtUi.h"
#include "Schema.h"
#include "Sqlite.h"
#include "TDataModule5.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>

#include <fstream>
#include <string>

namespace {

// The catalogue columns the worksheet's 24 columns go to, in the mapping's order.
QStringList mappedFields()
{
    QStringList fields;
    for (const dagl::ImportColumn &column : dagl::importColumns())
        fields << QString::fromUtf8(column.field);
    return fields;
}

QString cellText(int row, int column)
{
    const QString field = mappedFields().at(column);
    if (field == QLatin1String("AJH") || field == QLatin1String("YH"))
        return QString::number(row % 500 + 1);
    if (field == QLatin1String("TM"))
        return QStringLiteral("关于第%1号档案的整理与移交工作的通知").arg(row + 1);
    return QStringLiteral("%1-%2").arg(column + 1).arg(row % 1000);
}

// The reader alone: the workbook opened and every cell of its first sheet taken.
qint64 readOnly(const QString &path)
{
    QElapsedTimer t;
    t.start();
    dagl::ExcelWorkbook book;
    book.open(path);
    qint64 characters = 0;
    for (int r = 0; r < book.rowCount(); ++r) {
        for (int c = 0; c < book.columnCount(); ++c)
            characters += dagl::ExcelWorkbook::textOf(book.cell(r, c)).size();
    }
    return characters > 0 ? t.elapsed() : -1;
}

// The raw limit: the workbook reader alone gives every cell, one prepared insert in one
// transaction stores them.
int rawImport(const QString &path, const QString &folder)
{
    dagl::Connection db;
    db.setConnectionString(dagl::TDataModule5::connectionStringFor(folder));
    db.open();
    dagl::ExcelWorkbook book;
    book.open(path);
    const QStringList fields = mappedFields();
    QStringList marks;
    for (int i = 0; i < fields.size(); ++i)
        marks << QStringLiteral("?");
    dagl::Transaction transaction(db);
    dagl::Statement insert(db.handle(),
        QStringLiteral("INSERT INTO 文件目录 (%1) VALUES (%2)")
            .arg(fields.join(QLatin1Char(',')), marks.join(QLatin1Char(','))));
    sqlite3_stmt *stmt = insert.handle();
    const int columns = qMin(book.columnCount(), int(fields.size()));
    for (int r = 0; r < book.rowCount(); ++r) {
        for (int c = 0; c < columns; ++c) {
            const QVariant value = book.cell(r, c);
            if (value.typeId() == QMetaType::LongLong) {
                sqlite3_bind_int64(stmt, c + 1, value.toLongLong());
            } else if (value.isNull()) {
                sqlite3_bind_null(stmt, c + 1);
            } else {
                const QByteArray text = dagl::ExcelWorkbook::textOf(value).toUtf8();
                sqlite3_bind_text(stmt, c + 1, text.constData(), int(text.size()), SQLITE_TRANSIENT);
            }
        }
        if (sqlite3_step(stmt) != SQLITE_DONE)
            throw dagl::Error(dagl::sqliteError(db.handle()));
        sqlite3_reset(stmt);
    }
    transaction.commit();
    return book.rowCount();
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTextStream out(stdout);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 65000;
    const QString format = argc > 2 ? QString::fromLatin1(argv[2]) : QString();
    if (format.isEmpty()) {
        // Both formats, each in a process of its own; then the one against the other.
        QMap<QString, double> imports;
        for (const QString &one : { QStringLiteral("xls"), QStringLiteral("xlsx") }) {
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            child.start(QCoreApplication::applicationFilePath(), { QString::number(rows), one });
            child.waitForFinished(-1);
            const QString text = QString::fromUtf8(child.readAllStandardOutput());
            out << text;
            const QRegularExpressionMatch m
                = QRegularExpression(QStringLiteral("our import [^:]*: (\\d+) ms")).match(text);
            if (m.hasMatch())
                imports[one] = m.captured(1).toDouble();
        }
        if (imports.size() == 2)
            out << ".xlsx import against .xls import: "
                << QString::number(imports[QStringLiteral("xlsx")] / qMax(1.0, imports[QStringLiteral("xls")]), 'f', 2)
                << " (goal: at most 2.00)\n";
        return 0;
    }

    QTemporaryDir dir;
    const QString rawFolder = dir.path() + QStringLiteral("/raw/");
    const QString ourFolder = dir.path() + QStringLiteral("/ours/");
    const QString workbookPath = dir.path() + QStringLiteral("/big.") + format;
    QElapsedTimer t;

    try {
        dagl::GridTable table;
        table.titles = mappedFields();
        table.rowCount = rows;
        table.cell = cellText;
        for (const QString &field : std::as_const(table.titles))
            table.numeric << (field == QLatin1String("AJH") || field == QLatin1String("YH"));
        t.start();
        dagl::writeGridFile(
            format == QLatin1String("xlsx") ? dagl::ExportFormat::Xlsx : dagl::ExportFormat::Xls, table, workbookPath);
        out << "." << format << ": " << rows << " x " << table.titles.size() << " columns, workbook "
            << QFile(workbookPath).size() / 1024 << " KB written in " << t.elapsed() << " ms\n";

        for (const QString &folder : { rawFolder, ourFolder }) {
            dagl::Schema::NewDatabase spec;
            spec.path = folder + dagl::Schema::kDatabaseFile;
            dagl::Schema::create(spec);
        }

        out << "  reader alone (open, every cell): " << readOnly(workbookPath) << " ms\n";
        t.restart();
        const int rawRows = rawImport(workbookPath, rawFolder);
        const qint64 raw = t.elapsed();
        out << "  raw read + one-transaction insert: " << raw << " ms (" << rawRows << " rows)\n";
        out.flush();

        dagl::QtUi ui; // shows nothing unless the database fails to open
        dagl::TDataModule5 dm(ourFolder, ui);
        const long before = dagl::bench::statusKb("VmRSS:");
        t.restart();
        dagl::ExcelWorkbook workbook;
        workbook.open(workbookPath);
        workbook.selectTable(workbook.tableNames().first());
        const qint64 opened = t.elapsed();
        dm.Twjml.setAppendOnly(true);
        dm.Twjml.open();
        dagl::ImportMapping mapping;
        for (int i = 0; i < 24; ++i)
            mapping.push_back({ true, QString::number(i + 1) });
        const dagl::ImportPlan plan(mapping, workbook.columnCount(), dm.Twjml);
        // The window checks the numbers before storing anything.
        QElapsedTimer check;
        check.start();
        const auto collisions = dagl::findNumberCollisions(plan, workbook, dagl::ArchivalCodeSettings());
        out << "  number check before storing: " << check.elapsed() << " ms (" << collisions.size()
            << " rows collide)\n";
        int reports = 0;
        const dagl::ImportOutcome outcome = dagl::importAll(plan, workbook, [&](int) {
            ++reports;
            QCoreApplication::processEvents();
            return true;
        });
        const qint64 ours = t.elapsed();
        out << "  our import (open " << opened << " ms): " << ours << " ms, " << outcome.saved << " saved, "
            << outcome.failures.size() << " failed, " << reports << " progress reports\n";
        out << "  ratio to raw: " << QString::number(double(ours) / double(qMax<qint64>(raw, 1)), 'f', 2) << "\n";
        out << "  resident memory: " << before / 1024 << " MB before, peak " << dagl::bench::statusKb("VmHWM:") / 1024
            << " MB (goal: under 200 MB)\n";
    } catch (const dagl::Error &error) {
        out << "failed: " << error.message() << "\n";
        return 1;
    }
    return 0;
}
