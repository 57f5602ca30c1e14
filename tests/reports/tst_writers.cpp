#include "BiffReader.h"
#include "ByteSink.h"
#include "CompoundFile.h"
#include "Error.h"
#include "GridWriters.h"
#include "TestSupport.h"
#include "XlsWriter.h"
#include "XlsxReader.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>

#include <cmath>
#include <memory>
#include <optional>

using namespace dagl;

namespace {

using Rows = QVector<QStringList>;

// A grid as a window hands it over: rows of texts, some columns holding integers.
struct Grid {
    QStringList titles;
    Rows rows;
    QStringList footer;
    QVector<bool> numeric;

    GridTable table() const
    {
        GridTable t;
        t.titles = titles;
        t.rowCount = int(rows.size());
        const Rows data = rows;
        t.cell = [data](int r, int c) { return data.at(r).value(c); };
        t.footer = footer;
        t.numeric = numeric;
        return t;
    }
};

Grid sampleGrid()
{
    Grid g;
    g.titles = QStringList { QStringLiteral("档号"), QStringLiteral("题名"), QStringLiteral("页数") };
    g.rows = Rows {
        { QStringLiteral("009"), QStringLiteral("含,逗号"), QStringLiteral("12") },
        { QStringLiteral("B-2"), QStringLiteral("说\"引号\""), QStringLiteral("7") },
        { QStringLiteral("C"), QStringLiteral("两\r\n行\t列"), QString() },
    };
    g.footer = QStringList { QStringLiteral("共3条"), QString(), QString() };
    g.numeric = QVector<bool> { false, false, true };
    return g;
}

QByteArray render(ExportFormat format, const GridTable &table)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    writeGrid(format, table, buffer);
    return buffer.data();
}

// Takes the rows of cells back out of what the RTF writer produced: \uN escapes, escaped
// symbols, \line and \tab, cells ended by \cell and rows by \row; the font table is skipped.
Rows readRtf(const QByteArray &rtf)
{
    Rows rows;
    QStringList row;
    QString cell;
    int skipDepth = 0;
    int depth = 0;
    for (int i = 0; i < rtf.size(); ++i) {
        const char ch = rtf.at(i);
        if (ch == '{') {
            ++depth;
            if (!skipDepth && rtf.mid(i, 9) == "{\\fonttbl")
                skipDepth = depth;
            continue;
        }
        if (ch == '}') {
            if (skipDepth == depth)
                skipDepth = 0;
            --depth;
            continue;
        }
        if (ch == '\r' || ch == '\n')
            continue;
        if (ch != '\\') {
            if (!skipDepth)
                cell += QChar::fromLatin1(ch);
            continue;
        }
        const char next = rtf.at(i + 1);
        if (!QChar::isLetter(next)) {
            if (!skipDepth && next != '\'')
                cell += QChar::fromLatin1(next);
            i += next == '\'' ? 3 : 1;
            continue;
        }
        int j = i + 1;
        while (QChar::isLetter(rtf.at(j)))
            ++j;
        const QByteArray word = rtf.mid(i + 1, j - i - 1);
        int k = j;
        if (rtf.at(k) == '-')
            ++k;
        while (QChar::isDigit(rtf.at(k)))
            ++k;
        const int parameter = rtf.mid(j, k - j).toInt();
        if (rtf.at(k) == ' ')
            ++k;
        i = k - 1;
        if (skipDepth)
            continue;
        if (word == "u") {
            cell += QChar(char16_t(parameter < 0 ? parameter + 0x10000 : parameter));
            ++i; // the fallback character
        } else if (word == "cell") {
            row << cell;
            cell.clear();
        } else if (word == "row") {
            rows << row;
            row.clear();
        } else if (word == "line") {
            cell += u'\n';
        } else if (word == "tab") {
            cell += u'\t';
        }
    }
    return rows;
}

// Reads the table of an HTML file back through Qt's HTML importer.
Rows readHtml(const QByteArray &html)
{
    QTextDocument document;
    document.setHtml(QString::fromUtf8(html));
    Rows rows;
    for (QTextFrame *frame : document.rootFrame()->childFrames()) {
        auto *table = qobject_cast<QTextTable *>(frame);
        if (!table)
            continue;
        for (int r = 0; r < table->rows(); ++r) {
            QStringList row;
            for (int c = 0; c < table->columns(); ++c) {
                QTextCursor cursor = table->cellAt(r, c).firstCursorPosition();
                cursor.setPosition(table->cellAt(r, c).lastCursorPosition().position(), QTextCursor::KeepAnchor);
                row << cursor.selectedText().replace(QChar::LineSeparator, u'\n');
            }
            rows << row;
        }
    }
    return rows;
}

// A device that takes the first `limit` bytes and then refuses.
class FailingDevice : public QIODevice {
public:
    explicit FailingDevice(qint64 limit)
        : m_limit(limit)
    {
        open(QIODevice::WriteOnly);
    }
    QByteArray data;

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *bytes, qint64 size) override
    {
        const qint64 n = qMin(size, m_limit - qint64(data.size()));
        if (n <= 0) {
            setErrorString(QStringLiteral("设备已满"));
            return -1;
        }
        data.append(bytes, n);
        return n;
    }

private:
    qint64 m_limit;
};

// A workbook read back through the import's own readers, .xls (BIFF8) or .xlsx.
class XlsReader {
public:
    explicit XlsReader(const QString &path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return;
        try {
            const QByteArray data = file.readAll();
            if (path.endsWith(QLatin1String(".xlsx"))) {
                m_xlsx = std::make_unique<XlsxReader>(data, WorkbookLimits {});
            } else {
                const CompoundFileReader compound(data);
                m_biff = std::make_unique<BiffReader>(compound.stream(QStringLiteral("Workbook")), WorkbookLimits {});
            }
        } catch (const WorkbookFault &fault) {
            qWarning("%s", qPrintable(fault.detail));
        }
    }

    bool ok() const { return m_biff || m_xlsx; }
    const QStringList &names() const { return m_biff ? m_biff->sheetNames() : m_xlsx->sheetNames(); }
    int sheetCount() const { return int(names().size()); }
    QString sheetName(int sheet) const { return names().at(sheet); }
    // Selects the sheet and returns its rows and columns.
    QPair<unsigned, unsigned> select(int sheet)
    {
        m_sheet.emplace(m_biff ? m_biff->readSheet(sheet) : m_xlsx->readSheet(sheet));
        return { m_sheet->rows(), m_sheet->columns() };
    }
    // Whether a text cell refers to the shared string table (LABELSST) or holds its text (LABEL).
    enum class Stored { None, Shared, Own };
    Stored stored(unsigned row, unsigned column) const
    {
        const SheetCell *cell = m_sheet->find(row, column);
        if (!cell || cell->kind != CellKind::Text)
            return Stored::None;
        return cell->flags & SheetCell::Shared ? Stored::Shared : Stored::Own;
    }
    // The cell as "text:...", "int:..." (a number small enough for an RK record) or
    // "double:...", "" for an empty cell.
    QString cell(unsigned row, unsigned column) const
    {
        const SheetCell *cell = m_sheet->find(row, column);
        if (!cell)
            return QString();
        switch (cell->kind) {
        case CellKind::Number:
            if (cell->number == std::floor(cell->number) && std::fabs(cell->number) < (1 << 29))
                return QStringLiteral("int:%1").arg(qint64(cell->number));
            return QStringLiteral("double:%1").arg(cell->number, 0, 'f', 0);
        case CellKind::Text:
            return QStringLiteral("text:") + m_sheet->string(cell->text);
        default:
            return QStringLiteral("kind:%1").arg(int(cell->kind));
        }
    }

private:
    std::unique_ptr<BiffReader> m_biff;
    std::unique_ptr<XlsxReader> m_xlsx;
    std::optional<SheetData> m_sheet;
};

QString text(const QString &s)
{
    return QStringLiteral("text:") + s;
}

} // namespace

class TestWriters : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void textAndCsv_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<bool>("empty");
        QTest::addColumn<QString>("expected");
        QTest::newRow("text") << int(ExportFormat::Text) << false
                              << QStringLiteral("档号\t题名\t页数\r\n009\t含,逗号\t12\r\nB-2\t说\"引号\"\t7\r\n"
                                                "C\t两 行 列\t\r\n共3条\t\t\r\n");
        QTest::newRow("csv") << int(ExportFormat::Csv) << false
                             << QStringLiteral("档号,题名,页数\r\n009,\"含,逗号\",12\r\nB-2,\"说\"\"引号\"\"\",7\r\n"
                                               "C,\"两\r\n行\t列\",\r\n共3条,,\r\n");
        QTest::newRow("text empty") << int(ExportFormat::Text) << true
                                    << QStringLiteral("档号\t题名\t页数\r\n共3条\t\t\r\n");
        QTest::newRow("csv empty") << int(ExportFormat::Csv) << true << QStringLiteral("档号,题名,页数\r\n共3条,,\r\n");
    }
    void textAndCsv()
    {
        QFETCH(int, format);
        QFETCH(bool, empty);
        QFETCH(QString, expected);
        Grid grid = sampleGrid();
        if (empty)
            grid.rows.clear();
        QCOMPARE(render(ExportFormat(format), grid.table()), QByteArray("\xEF\xBB\xBF") + expected.toUtf8());
    }

    // HTML and RTF are read back by a parser and must give the grid's texts again.
    void htmlAndRtfRoundTrip_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<bool>("empty");
        QTest::newRow("html") << int(ExportFormat::Html) << false;
        QTest::newRow("rtf") << int(ExportFormat::Rtf) << false;
        QTest::newRow("html empty") << int(ExportFormat::Html) << true;
        QTest::newRow("rtf empty") << int(ExportFormat::Rtf) << true;
    }
    void htmlAndRtfRoundTrip()
    {
        QFETCH(int, format);
        QFETCH(bool, empty);
        Grid grid;
        grid.titles = QStringList { QStringLiteral("档号"), QStringLiteral("题名<b>"), QStringLiteral("备注") };
        if (!empty)
            grid.rows = Rows {
                { QStringLiteral("009"), QStringLiteral("A & B \"C\" <i>"), QStringLiteral("路径 C:\\{x}") },
                { QStringLiteral("𠀀汉字"), QStringLiteral("两\n行"), QStringLiteral("é ü ￥") },
            };
        grid.footer = QStringList { QStringLiteral("共%1条").arg(grid.rows.size()), QString(), QString() };
        const QByteArray bytes = render(ExportFormat(format), grid.table());
        const Rows back = format == int(ExportFormat::Html) ? readHtml(bytes) : readRtf(bytes);
        Rows expected = Rows { grid.titles } + grid.rows + Rows { grid.footer };
        QCOMPARE(back, expected);
    }

    void htmlStructure()
    {
        const QString html = QString::fromUtf8(render(ExportFormat::Html, sampleGrid().table()));
        QVERIFY(html.startsWith(QStringLiteral("<!DOCTYPE html>")));
        QVERIFY(html.contains(QStringLiteral("<meta charset=\"utf-8\">")));
        const qsizetype head = html.indexOf(QStringLiteral("<thead>"));
        const qsizetype body = html.indexOf(QStringLiteral("<tbody>"));
        const qsizetype foot = html.indexOf(QStringLiteral("<tfoot>"));
        QVERIFY(head > 0 && head < body && body < foot);
        QVERIFY(html.contains(QStringLiteral("<th>档号</th>")));
        QVERIFY(html.contains(QStringLiteral("<td>说&quot;引号&quot;</td>")));
        QVERIFY(html.contains(QStringLiteral("<tfoot>\r\n<tr><td>共3条</td>")));
        QVERIFY(html.trimmed().endsWith(QStringLiteral("</html>")));
    }

    void rtfIsAsciiTable()
    {
        const QByteArray rtf = render(ExportFormat::Rtf, sampleGrid().table());
        QVERIFY(rtf.startsWith("{\\rtf1"));
        for (char ch : rtf)
            QVERIFY(uchar(ch) < 0x80);
        QVERIFY(rtf.contains("\\u26723?\\u21495?\\cell")); // 档号
        QCOMPARE(rtf.count("\\row"), 5);
        QVERIFY(rtf.trimmed().endsWith('}'));
    }

    void failingDevice_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("limit");
        for (int format = 1; format <= 5; ++format) {
            for (int limit : { 0, 100, 70000 })
                QTest::addRow("format %d after %d bytes", format, limit) << format << limit;
        }
    }
    // A device that stops taking bytes makes the writer fail loudly, never report success.
    void failingDevice()
    {
        QFETCH(int, format);
        QFETCH(int, limit);
        Grid grid = sampleGrid();
        for (int i = 0; i < 3000; ++i)
            grid.rows << QStringList { QString::number(i), QStringLiteral("档案题名%1").arg(i), QString::number(i) };
        FailingDevice device(limit);
        QVERIFY_THROWS_EXCEPTION(Error, writeGrid(ExportFormat(format), grid.table(), device));
    }

    // Odd shapes a grid may hand over still give a file: no columns, a footer longer than the
    // titles, fewer integer flags than columns, a cell past Excel's length limit.
    void oddTables_data()
    {
        QTest::addColumn<int>("format");
        for (int format = 1; format <= 5; ++format)
            QTest::addRow("format %d", format) << format;
    }
    void oddTables()
    {
        QFETCH(int, format);
        GridTable empty;
        empty.rowCount = 3;
        empty.cell = [](int, int) { return QString(); };
        QVERIFY(!render(ExportFormat(format), empty).isEmpty());

        GridTable odd;
        odd.titles = QStringList { QStringLiteral("档号"), QStringLiteral("备注") };
        odd.rowCount = 2;
        odd.cell = [](int r, int c) { return c == 1 && r == 1 ? QString(40000, QChar(u'档')) : QStringLiteral("7"); };
        odd.footer = QStringList { QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c") };
        odd.numeric = QVector<bool> { true };
        const QByteArray bytes = render(ExportFormat(format), odd);
        QVERIFY(!bytes.contains("c\r\n"));
    }

    void unknownFormatWritesNothing()
    {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QVERIFY_THROWS_EXCEPTION(Error, writeGrid(ExportFormat(7), sampleGrid().table(), buffer));
        QVERIFY(buffer.data().isEmpty());
    }

    void fileWrittenThroughTemporary()
    {
        const QString path = m_dir.filePath(QStringLiteral("数据导出.csv"));
        writeGridFile(ExportFormat::Csv, sampleGrid().table(), path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().startsWith("\xEF\xBB\xBF档号"));
    }

    // A folder that cannot hold the file: a clear error naming the file, and no file.
    void unwritableFolderLeavesNoFile()
    {
        QFile blocker(m_dir.filePath(QStringLiteral("not-a-folder")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QString path = blocker.fileName() + QStringLiteral("/dasj.xls");
        try {
            writeGridFile(ExportFormat::Xls, sampleGrid().table(), path);
            QFAIL("no error");
        } catch (const Error &e) {
            QVERIFY2(e.message().contains(QStringLiteral("dasj.xls")), qPrintable(e.message()));
        }
        QVERIFY(!QFile::exists(path));
    }

    // A failure half way (the grid's data going away) keeps the file that was there and leaves
    // no half-written file or temporary behind.
    void failureKeepsExistingFile_data()
    {
        QTest::addColumn<int>("format");
        for (int format = 1; format <= 5; ++format)
            QTest::addRow("format %d", format) << format;
    }
    void failureKeepsExistingFile()
    {
        QFETCH(int, format);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("old.out"));
        {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("previous export");
        }
        GridTable table = sampleGrid().table();
        table.rowCount = 100000;
        table.cell = [](int r, int) -> QString {
            if (r == 50000)
                throw Error(QStringLiteral("数据集已关闭"));
            return QStringLiteral("档案%1").arg(r);
        };
        try {
            writeGridFile(ExportFormat(format), table, path);
            QFAIL("no error");
        } catch (const Error &e) {
            QVERIFY(e.message().contains(QStringLiteral("数据集已关闭")));
            QVERIFY(e.message().contains(QStringLiteral("old.out")));
        }
        QFile old(path);
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("previous export"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList { QStringLiteral("old.out") });
    }

    // An export of 17 rows over an earlier one on a disk that has no room for it: the
    // earlier file stays whole and the message names the file and the cause.
    void fullDiskKeepsExistingExport_data()
    {
        QTest::addColumn<int>("format");
        for (int format = 1; format <= 5; ++format)
            QTest::addRow("format %d", format) << format;
    }
    void fullDiskKeepsExistingExport()
    {
        QFETCH(int, format);
        test::SmallDisk disk;
        const QString path = disk.path() + QStringLiteral("数据导出.out");
        const QByteArray previous(3000, 'p');
        {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(previous);
        }
        Grid grid = sampleGrid();
        for (int r = 0; r < 14; ++r)
            grid.rows.push_back({ QStringLiteral("D-%1").arg(r), QStringLiteral("题名%1").arg(r), QString::number(r) });
        disk.fill(0);
        QString message;
        try {
            writeGridFile(ExportFormat(format), grid.table(), path);
        } catch (const Error &e) {
            message = e.message();
        }
        disk.release();
        QVERIFY2(
            message.section(QLatin1Char('\n'), 0, 0).contains(QStringLiteral("数据导出.out")), qPrintable(message));
        QVERIFY2(disk.causeTexts().contains(message.section(QLatin1Char('\n'), 1)), qPrintable(message));
        QFile old(path);
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), previous);
        QCOMPARE(QDir(disk.path()).entryList(QDir::Files), QStringList { QStringLiteral("数据导出.out") });
    }

    // Both Excel formats read back alike: texts stay texts ("009", "-0"), integers of integer
    // columns become numbers, long texts whole, the footer row last.
    void xlsCellsReadBack_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<int>("format");
        QTest::newRow("xls") << "xls" << int(ExportFormat::Xls);
        QTest::newRow("xlsx") << "xlsx" << int(ExportFormat::Xlsx);
    }
    void xlsCellsReadBack()
    {
        QFETCH(QString, extension);
        QFETCH(int, format);
        Grid grid = sampleGrid();
        grid.titles << QStringLiteral("年度") << QStringLiteral("长文本");
        grid.numeric << true << false;
        // Long texts run on from the string table into its continuation records.
        const QString longText = QString(8000, QChar(u'档'));
        grid.rows[0] << QStringLiteral("-0") << longText;
        grid.rows[1] << QStringLiteral("12345678901") << QStringLiteral("A");
        grid.rows[2] << QStringLiteral("-5") << QString(8000, QChar(u'x'));
        grid.rows << QStringList { QStringLiteral("12"), QStringLiteral("12"), QStringLiteral("1.5"),
            QStringLiteral("123456789012"), QStringLiteral("含,逗号") };
        grid.footer = QStringList { QStringLiteral("共4条"), QString(), QStringLiteral("19") };
        const QString path = m_dir.filePath(QStringLiteral("cells.") + extension);
        writeGridFile(ExportFormat(format), grid.table(), path);

        XlsReader xls(path);
        QVERIFY(xls.ok());
        QCOMPARE(xls.sheetCount(), 1);
        QCOMPARE(xls.sheetName(0), QStringLiteral("Sheet1"));
        QCOMPARE(xls.select(0), qMakePair(6u, 5u));
        const QStringList expected[] = {
            { text(QStringLiteral("档号")), text(QStringLiteral("题名")), text(QStringLiteral("页数")),
                text(QStringLiteral("年度")), text(QStringLiteral("长文本")) },
            { text(QStringLiteral("009")), text(QStringLiteral("含,逗号")), QStringLiteral("int:12"),
                text(QStringLiteral("-0")), text(longText) },
            { text(QStringLiteral("B-2")), text(QStringLiteral("说\"引号\"")), QStringLiteral("int:7"),
                QStringLiteral("double:12345678901"), text(QStringLiteral("A")) },
            { text(QStringLiteral("C")), text(QStringLiteral("两\r\n行\t列")), QString(), QStringLiteral("int:-5"),
                text(QString(8000, QChar(u'x'))) },
            { text(QStringLiteral("12")), text(QStringLiteral("12")), text(QStringLiteral("1.5")),
                text(QStringLiteral("123456789012")), text(QStringLiteral("含,逗号")) },
            { text(QStringLiteral("共4条")), QString(), QStringLiteral("int:19"), QString(), QString() },
        };
        for (unsigned r = 0; r < 6; ++r)
            for (unsigned c = 0; c < 5; ++c)
                QCOMPARE(xls.cell(r, c), expected[r].at(int(c)));
    }

    // The .xlsx export as an independent reader sees it (openpyxl, when installed).
    void xlsxReadByOpenpyxl()
    {
        Grid grid = sampleGrid();
        grid.footer = QStringList { QStringLiteral("共3条"), QString(), QStringLiteral("19") };
        const QString path = m_dir.filePath(QStringLiteral("openpyxl.xlsx"));
        writeGridFile(ExportFormat::Xlsx, grid.table(), path);
        QProcess python;
        // Debian's package installs into the system's Python, which a user's own may shadow.
        const QString system = QStringLiteral("/usr/bin/python3");
        python.start(QFile::exists(system) ? system : QStringLiteral("python3"),
            { QStringLiteral(DAGL_OPENPYXL_SCRIPT), path });
        if (!python.waitForStarted())
            QSKIP("python3 is not installed");
        QVERIFY(python.waitForFinished(60000));
        if (python.exitStatus() == QProcess::NormalExit && python.exitCode() == 77)
            QSKIP("openpyxl is not installed (Debian python3-openpyxl)");
        QCOMPARE(python.exitCode(), 0);
        const QJsonArray sheets = QJsonDocument::fromJson(python.readAllStandardOutput()).array();
        QCOMPARE(sheets.size(), 1);
        QCOMPARE(sheets[0][QLatin1String("name")].toString(), QStringLiteral("Sheet1"));
        const QJsonArray rows = sheets[0][QLatin1String("rows")].toArray();
        QCOMPARE(rows.size(), grid.rows.size() + 2);
        const auto cell = [&](int row, int column) {
            const QJsonValue v = rows[row].toArray()[column];
            return v.isNull() ? QString()
                              : v[QLatin1String("type")].toString() + QLatin1Char(':') + v[QLatin1String("value")].toVariant().toString();
        };
        for (int c = 0; c < grid.titles.size(); ++c)
            QCOMPARE(cell(0, c), QStringLiteral("str:") + grid.titles.at(c));
        for (int r = 0; r < grid.rows.size(); ++r) {
            for (int c = 0; c < grid.titles.size(); ++c) {
                const QString text = grid.rows[r].value(c);
                double number = 0;
                const QString expected = text.isEmpty() ? QString()
                    : grid.numeric.value(c) && isPlainInteger(text, &number) ? QStringLiteral("int:") + text
                                                                            : QStringLiteral("str:") + text;
                QCOMPARE(cell(r + 1, c), expected);
            }
        }
        QCOMPARE(cell(int(rows.size()) - 1, 0), QStringLiteral("str:共3条"));
        QCOMPARE(cell(int(rows.size()) - 1, 2), QStringLiteral("int:19"));
    }

    void xlsEmptyResult()
    {
        Grid grid = sampleGrid();
        grid.rows.clear();
        const QString path = m_dir.filePath(QStringLiteral("empty.xls"));
        writeGridFile(ExportFormat::Xls, grid.table(), path);
        QVERIFY(QFileInfo(path).size() >= 4096 + 512);
        XlsReader xls(path);
        QVERIFY(xls.ok());
        QCOMPARE(xls.select(0), qMakePair(2u, 3u));
        QCOMPARE(xls.cell(0, 1), text(QStringLiteral("题名")));
        QCOMPARE(xls.cell(1, 0), text(QStringLiteral("共3条")));
    }

    // Rows past one worksheet go on in the next, each with the title row; the footer ends the
    // last. The size also takes the compound file past its header's table of FAT sectors.
    void xlsSheetBreak_data()
    {
        QTest::addColumn<int>("records");
        QTest::addColumn<QVector<unsigned>>("sheetRows");
        QTest::newRow("footer fits") << 65534 << QVector<unsigned> { 65536 };
        QTest::newRow("footer on next sheet") << 65535 << QVector<unsigned> { 65536, 2 };
        QTest::newRow("three sheets") << 2 * 65535 + 5 << QVector<unsigned> { 65536, 65536, 7 };
    }
    void xlsSheetBreak()
    {
        QFETCH(int, records);
        QFETCH(QVector<unsigned>, sheetRows);
        GridTable table;
        table.titles = QStringList { QStringLiteral("序号"), QStringLiteral("题名"), QStringLiteral("页数"),
            QStringLiteral("档号"), QStringLiteral("备注") };
        table.numeric = QVector<bool> { true, false, true, false, false };
        table.rowCount = records;
        table.cell = [](int r, int c) {
            switch (c) {
            case 0:
                return QString::number(r);
            case 1:
                return QStringLiteral("档案题名第%1件").arg(r);
            case 2:
                return QString::number(r % 300);
            case 3:
                return QStringLiteral("A-%1").arg(r % 1000, 4, 10, QChar(u'0'));
            default:
                return QStringLiteral("备注");
            }
        };
        table.footer
            = QStringList { QStringLiteral("共%1条").arg(records), QString(), QString(), QString(), QString() };
        const QString path = m_dir.filePath(QStringLiteral("big.xls"));
        writeGridFile(ExportFormat::Xls, table, path);

        XlsReader xls(path);
        QVERIFY(xls.ok());
        QCOMPARE(xls.sheetCount(), sheetRows.size());
        int record = 0;
        for (int s = 0; s < sheetRows.size(); ++s) {
            QCOMPARE(xls.sheetName(s), QStringLiteral("Sheet%1").arg(s + 1));
            QCOMPARE(xls.select(s), qMakePair(sheetRows.at(s), 5u));
            QCOMPARE(xls.cell(0, 1), text(QStringLiteral("题名")));
            for (unsigned r = 1; r < sheetRows.at(s); ++r, ++record) {
                if (record == records)
                    break;
                if (r < 3 || r + 3 > sheetRows.at(s) || r % 997 == 0) {
                    QCOMPARE(xls.cell(r, 0), QStringLiteral("int:%1").arg(record));
                    QCOMPARE(xls.cell(r, 1), text(QStringLiteral("档案题名第%1件").arg(record)));
                    QCOMPARE(xls.cell(r, 3), text(QStringLiteral("A-%1").arg(record % 1000, 4, 10, QChar(u'0'))));
                }
            }
        }
        QCOMPARE(record, records);
        QCOMPARE(xls.cell(sheetRows.last() - 1, 0), text(QStringLiteral("共%1条").arg(records)));
    }

    // Past the shared string table's limit, texts go into the cells' own records; a text too
    // long for those stays shared. Every cell reads back the same.
    void xlsSharedStringLimit()
    {
        GridTable table;
        table.titles = QStringList { QStringLiteral("档号"), QStringLiteral("题名"), QStringLiteral("备注") };
        table.rowCount = 20;
        const QString longText = QString(300, QChar(u'长'));
        table.cell = [&longText](int r, int c) {
            switch (c) {
            case 0:
                return QStringLiteral("档号-%1").arg(r);
            case 1:
                return QStringLiteral("T%1").arg(r % 15);
            default:
                return r == 15 ? longText : QString();
            }
        };
        table.footer = QStringList { QStringLiteral("共20条"), QString(), QString() };
        const QString path = m_dir.filePath(QStringLiteral("limit.xls"));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            ByteSink sink(&file);
            writeXls(table, sink, 10);
            sink.flush();
        }
        XlsReader xls(path);
        QVERIFY(xls.ok());
        QCOMPARE(xls.select(0), qMakePair(22u, 3u));
        for (int r = 0; r < 20; ++r) {
            QCOMPARE(xls.cell(unsigned(r + 1), 0), text(QStringLiteral("档号-%1").arg(r)));
            QCOMPARE(xls.cell(unsigned(r + 1), 1), text(QStringLiteral("T%1").arg(r % 15)));
        }
        QCOMPARE(xls.cell(16, 2), text(longText));
        QCOMPARE(xls.cell(21, 0), text(QStringLiteral("共20条")));
        QCOMPARE(xls.stored(1, 0), XlsReader::Stored::Shared);
        QCOMPARE(xls.stored(20, 0), XlsReader::Stored::Own);
        QCOMPARE(xls.stored(16, 1), XlsReader::Stored::Shared); // "T0" again, shared early on
        QCOMPARE(xls.stored(16, 2), XlsReader::Stored::Shared);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestWriters)
#include "tst_writers.moc"
