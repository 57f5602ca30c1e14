#include "CraftedWorkbook.h"
#include "Error.h"
#include "ExcelWorkbook.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QTest>

#include <fstream>
#include <random>
#include <string>

using namespace dagl;

namespace {

// Peak resident memory of this process in MB.
// The most memory a read may take, in MB: AddressSanitizer's shadow and its quarantine of
// freed blocks more than double what the same read holds in a plain build.
#if defined(__SANITIZE_ADDRESS__)
constexpr long kPeakBoundMb = 2560;
#else
constexpr long kPeakBoundMb = 1024;
#endif

long peakMb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6)) / 1024;
    }
    return 0;
}

// Where a length or size field may sit: after the id of a BIFF record the readers act on,
// and in the headers of a zip archive.
QVector<int> lengthFields(const QByteArray &file)
{
    QVector<int> at;
    static const quint16 records[] = { 0x0809, 0x0085, 0x00FC, 0x003C, 0x00FD, 0x0204, 0x0203, 0x027E, 0x00BD, 0x0006,
        0x0207, 0x0205, 0x0201, 0x00BE, 0x041E, 0x00E0, 0x0022, 0x000A };
    for (quint16 id : records) {
        const char pattern[2] = { char(id & 0xFF), char(id >> 8) };
        for (qsizetype i = file.indexOf(QByteArray(pattern, 2)); i >= 0 && i + 4 <= file.size();
             i = file.indexOf(QByteArray(pattern, 2), i + 1))
            at << int(i + 2);
    }
    // Central directory: sizes, name length, local offset; local headers: sizes, name length.
    for (qsizetype i = file.indexOf("PK\x01\x02"); i >= 0; i = file.indexOf("PK\x01\x02", i + 1))
        for (int field : { 20, 22, 24, 26, 28, 30, 42, 44 })
            at << int(i + field);
    for (qsizetype i = file.indexOf("PK\x03\x04"); i >= 0; i = file.indexOf("PK\x03\x04", i + 1))
        for (int field : { 18, 22, 26, 28 })
            at << int(i + field);
    for (qsizetype i = file.indexOf("PK\x05\x06"); i >= 0; i = file.indexOf("PK\x05\x06", i + 1))
        for (int field : { 8, 10, 12, 16 })
            at << int(i + field);
    at.erase(std::remove_if(at.begin(), at.end(), [&](int p) { return p + 2 > file.size(); }), at.end());
    return at;
}

class Mutator {
public:
    explicit Mutator(quint32 seed)
        : m_random(seed)
    {
    }

    QByteArray mutate(const QByteArray &original, const QVector<int> &fields, QString *how)
    {
        QByteArray file = original;
        const int kind = pick(5);
        switch (kind) {
        case 0: { // bit flips
            const int flips = 1 + pick(8);
            for (int i = 0; i < flips; ++i)
                file[pick(int(file.size()))] ^= char(1 << pick(8));
            *how = QStringLiteral("%1 bit flips").arg(flips);
            break;
        }
        case 1: { // truncation
            file.truncate(pick(int(file.size())));
            *how = QStringLiteral("cut to %1 bytes").arg(file.size());
            break;
        }
        case 2: { // a chunk of random bytes
            const int at = pick(int(file.size()));
            const int length = qMin(1 + pick(256), int(file.size()) - at);
            for (int i = 0; i < length; ++i)
                file[at + i] = char(pick(256));
            *how = QStringLiteral("%1 random bytes at %2").arg(length).arg(at);
            break;
        }
        case 3: { // a length or size field changed
            if (fields.isEmpty())
                return mutate(original, fields, how);
            const int at = fields.at(pick(int(fields.size())));
            static const quint16 values[] = { 0, 1, 2, 3, 4, 7, 8, 0x7FFF, 0x8000, 0xFFFE, 0xFFFF };
            const quint16 value = pick(2) ? values[pick(int(std::size(values)))] : quint16(pick(0x10000));
            file[at] = char(value & 0xFF);
            file[at + 1] = char(value >> 8);
            *how = QStringLiteral("field at %1 set to %2").arg(at).arg(value);
            break;
        }
        default: { // a chunk repeated or moved elsewhere
            const int from = pick(int(file.size()));
            const int length = qMin(1 + pick(512), int(file.size()) - from);
            const QByteArray chunk = file.mid(from, length);
            const int to = pick(int(file.size()));
            if (pick(2))
                file.insert(to, chunk);
            else
                file.replace(to, qMin<int>(length, int(file.size()) - to), chunk);
            *how = QStringLiteral("%1 bytes from %2 put at %3").arg(length).arg(from).arg(to);
            break;
        }
        }
        return file;
    }

private:
    int pick(int n) { return n <= 1 ? 0 : int(m_random() % quint32(n)); }
    std::mt19937 m_random;
};

} // namespace

// Damaged workbooks through the import's workbook driver: seeded mutations of the fixtures,
// the same every run. None may crash, hang or take memory without bound; every refusal is a
// plain message.
class TestMutations : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { test::pinLocale(); }

    void mutatedWorkbooks()
    {
        const char *fixtures[] = { "catalogue.xls", "formulas.xls", "formulas.xlsx", "dates1904.xls", "dates1904.xlsx",
            "headings_only.xls", "excel_zh.xlsx", "excel_style.xls", "other_writers.xlsx", "strict.xlsx" };
        constexpr int perFixture = 1000;
        Mutator mutator(20261210);
        QHash<QString, int> refusals; // by the message's first words
        int opened = 0;
        int refused = 0;
        for (const char *name : fixtures) {
            QFile file(QStringLiteral(DAGL_FIXTURES) + QString::fromLatin1(name));
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray original = file.readAll();
            const QVector<int> fields = lengthFields(original);
            for (int n = 0; n < perFixture; ++n) {
                QString how;
                const QByteArray mutated = mutator.mutate(original, fields, &how);
                const QString shown = QStringLiteral("%1#%2").arg(QString::fromLatin1(name)).arg(n);
                ExcelWorkbook book;
                try {
                    book.openData(mutated, shown);
                    ++opened;
                    // Every sheet as the import reads it: headings, and the cells of the first
                    // rows and the last.
                    const QStringList tables = book.tableNames();
                    for (const QString &table : tables) {
                        try {
                            book.selectTable(table);
                        } catch (const Error &error) {
                            QVERIFY2(!error.message().isEmpty(), qPrintable(shown + QLatin1Char(' ') + how));
                            continue;
                        }
                        const int columns = qMin(book.columnCount(), 64);
                        for (int r = 0; r < book.rowCount(); r = r < 200 ? r + 1 : book.rowCount() - 1) {
                            for (int c = 0; c < columns; ++c) {
                                try {
                                    ExcelWorkbook::textOf(book.cell(r, c));
                                } catch (const Error &error) {
                                    QVERIFY(error.message().contains(QStringLiteral("公式")));
                                }
                            }
                            if (r == book.rowCount() - 1)
                                break;
                        }
                    }
                } catch (const Error &error) {
                    ++refused;
                    const QString message = error.message();
                    QVERIFY2(message.contains(shown), qPrintable(message + QLatin1Char(' ') + how));
                    const qsizetype cut = message.indexOf(QStringLiteral("，"));
                    ++refusals[message.left(cut < 0 ? 12 : cut).replace(shown, QStringLiteral("…"))];
                }
            }
        }
        QStringList tally;
        for (auto it = refusals.cbegin(); it != refusals.cend(); ++it)
            tally << QStringLiteral("%1: %2").arg(it.key()).arg(it.value());
        tally.sort();
        qInfo("%d opened, %d refused:\n  %s", opened, refused, qPrintable(tally.join(QStringLiteral("\n  "))));
        QCOMPARE(opened + refused, int(std::size(fixtures)) * perFixture);
        // No password where none was set: only a mutation that makes up a FILEPASS record or an
        // encrypted zip entry may be refused for one.
        const int password = refusals.value(QStringLiteral("工作簿“…”设有密码保护"));
        QVERIFY2(password * 100 <= refused, qPrintable(QString::number(password)));
        QVERIFY2(peakMb() < kPeakBoundMb, qPrintable(QStringLiteral("%1 MB").arg(peakMb())));
    }

    // Workbooks crafted to take the reader's time and memory: a few hundred kilobytes each
    // here, as in the wild. Each is refused in plain words or read, within the one budget of
    // the whole workbook, in bounded memory.
    void hostileShapes_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<quint64>("memoryMb"); // the budget: 0 for the program's own
        QTest::addColumn<quint64>("expandedMb");
        QTest::addColumn<QString>("message"); // how the refusal begins; empty: read

        const QByteArray sheetHead = "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
                                     "<sheetData>";
        const QByteArray sheetTail = "</sheetData></worksheet>";
        const QByteArray sstHead = "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">";
        const test::CraftedPart oneCell { {}, sheetHead + "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>", {}, 0,
            sheetTail };
        const test::CraftedPart manyStrings { {}, sstHead, "<si><t>x</t></si>", 8'000'000, "</sst>" };
        QTest::newRow("8M shared strings") << test::craftedXlsx(oneCell, &manyStrings) << quint64(0) << quint64(0)
                                           << "工作簿“%1”过大，无法导入：读取需要的内存超过512MB";
        const test::CraftedPart longStrings { {}, sstHead, "<si><t>" + QByteArray(32, 'w') + "</t></si>", 8'000'000,
            "</sst>" };
        QTest::newRow("8M strings of 32 characters") << test::craftedXlsx(oneCell,
            &longStrings) << quint64(0) << quint64(0) << "工作簿“%1”过大，无法导入：读取需要的内存超过512MB";
        // Strings and cells each within the budget, together past it.
        const test::CraftedPart someStrings { {}, sstHead, "<si><t>x</t></si>", 400'000, "</sst>" };
        const test::CraftedPart manyCells { {}, sheetHead, "<row><c t=\"s\"><v>0</v></c><c t=\"s\"><v>0</v></c></row>",
            760'000, sheetTail };
        QTest::newRow("strings and cells together") << test::craftedXlsx(manyCells, &someStrings) << quint64(64)
                                                    << quint64(0) << "工作簿“%1”过大，无法导入：读取需要的内存超过64MB";
        // A sheet of nothing but empty elements: bounded by the bytes expanded.
        const test::CraftedPart emptyElements { {}, sheetHead, "<a/>", 50'000'000, sheetTail };
        QTest::newRow("a sheet of <a/>") << test::craftedXlsx(emptyElements) << quint64(0) << quint64(64)
                                         << "工作簿“%1”过大，无法导入：解压后的内容超过64MB";
        // Two parts each within a part's bound, together past the workbook's.
        const test::CraftedPart paddedStrings { {}, sstHead + "<si><t>x</t></si>", "<!-- -->", 5'000'000, "</sst>" };
        const test::CraftedPart paddedSheet { {}, sheetHead, "<!-- -->", 5'000'000, sheetTail };
        QTest::newRow("parts together past the bound")
            << test::craftedXlsx(paddedSheet, &paddedStrings) << quint64(0) << quint64(64)
            << "工作簿“%1”过大，无法导入：解压后的内容超过64MB";
        // 400 tags of 3,000 attributes each: checked for repeats in one pass each.
        QByteArray attributes;
        for (int i = 0; i < 3000; ++i)
            attributes += " a" + QByteArray::number(i) + "=\"1\"";
        const test::CraftedPart wideTags { {}, sheetHead, "<x" + attributes + "/>", 400, sheetTail };
        QTest::newRow("many attributes per tag") << test::craftedXlsx(wideTags) << quint64(0) << quint64(0) << "";
        const test::CraftedPart repeatedLast { {}, sheetHead, "<x" + attributes + " a2999=\"2\"/>", 400, sheetTail };
        QTest::newRow("an attribute repeated at the end of 3,000")
            << test::craftedXlsx(repeatedLast) << quint64(0) << quint64(0)
            << "工作簿“%1”已损坏或不完整，无法读取：“xl/worksheets/sheet1.xml”不是有效的XML：元素<x>的属性“a2999”重复";
    }
    void hostileShapes()
    {
        QFETCH(QByteArray, file);
        QFETCH(quint64, memoryMb);
        QFETCH(quint64, expandedMb);
        QFETCH(QString, message);
        QVERIFY2(file.size() < 4 * 1024 * 1024, qPrintable(QString::number(file.size())));
        WorkbookLimits limits;
        if (memoryMb)
            limits.memoryBytes = memoryMb << 20;
        if (expandedMb)
            limits.expandedBytes = expandedMb << 20;
        const QString shown = QStringLiteral("crafted.xlsx");
        ExcelWorkbook book;
        QString refusal;
        try {
            book.openData(file, shown, limits);
        } catch (const Error &error) {
            refusal = error.message();
        }
        if (message.isEmpty()) {
            QCOMPARE(refusal, QString());
            QCOMPARE(book.rowCount(), 0);
        } else {
            QVERIFY2(refusal.startsWith(message.arg(shown)),
                qPrintable(refusal + QStringLiteral(" / ") + message.arg(shown)));
            QVERIFY(!book.isOpen());
        }
        QVERIFY2(peakMb() < kPeakBoundMb, qPrintable(QStringLiteral("%1 MB").arg(peakMb())));
    }
};

QTEST_MAIN(TestMutations)
#include "tst_mutations.moc"
