#include "XlsxWriter.h"

#include "Error.h"
#include "GridTable.h"
#include "XlsWriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryFile>

#include <xlsxwriter.h>

#include <vector>

namespace dagl {

namespace {

constexpr int SheetRows = LXW_ROW_MAX; // the title row included
constexpr int MaxCellChars = 32767;
constexpr int WidthSampleRows = 1000;

// Closes the workbook (and so writes it) however the writing ends.
class Workbook {
public:
    explicit Workbook(const QByteArray &path, const QByteArray &tmpdir)
        : m_tmpdir(tmpdir)
    {
        lxw_workbook_options options {};
        options.constant_memory = LXW_TRUE;
        options.tmpdir = m_tmpdir.data();
        options.use_zip64 = LXW_FALSE; // our own reader, and many others, read no ZIP64
        m_book = workbook_new_opt(path.constData(), &options);
        if (!m_book)
            throw Error(QStringLiteral("无法创建Excel工作簿"));
    }
    ~Workbook()
    {
        if (m_book)
            workbook_close(m_book);
    }
    Workbook(const Workbook &) = delete;
    Workbook &operator=(const Workbook &) = delete;

    lxw_workbook *get() const { return m_book; }
    void close()
    {
        const lxw_error error = workbook_close(m_book);
        m_book = nullptr;
        if (error != LXW_NO_ERROR)
            throw Error(QStringLiteral("写入Excel工作簿失败：%1").arg(QString::fromUtf8(lxw_strerror(error))));
    }

private:
    QByteArray m_tmpdir;
    lxw_workbook *m_book = nullptr;
};

int displayWidth(QStringView text)
{
    int width = 0;
    for (QChar c : text)
        width += c.unicode() >= 0x1100 ? 2 : 1;
    return width;
}

void check(lxw_error error)
{
    if (error != LXW_NO_ERROR)
        throw Error(QStringLiteral("写入Excel工作簿失败：%1").arg(QString::fromUtf8(lxw_strerror(error))));
}

void writeCell(
    lxw_worksheet *sheet, lxw_row_t row, lxw_col_t column, const QString &full, bool numeric, lxw_format *format)
{
    if (full.isEmpty())
        return;
    double value = 0;
    if (numeric && isPlainInteger(full, &value)) {
        check(worksheet_write_number(sheet, row, column, value, format));
        return;
    }
    QStringView text(full);
    if (text.size() > MaxCellChars)
        text = text.left(text.at(MaxCellChars - 1).isHighSurrogate() ? MaxCellChars - 1 : MaxCellChars);
    check(worksheet_write_string(sheet, row, column, text.toUtf8().constData(), format));
}

} // namespace

void writeXlsx(const GridTable &table, ByteSink &sink)
{
    const int columns = int(table.titles.size());
    if (columns > LXW_COL_MAX)
        throw Error(QStringLiteral("Excel工作表最多只能容纳 %1 列，无法导出 %2 列").arg(LXW_COL_MAX).arg(columns));
    const auto numeric = [&table](int column) { return column < table.numeric.size() && table.numeric.at(column); };

    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/dagl-XXXXXX.xlsx"));
    if (!file.open())
        throw Error(QStringLiteral("无法创建临时文件：%1").arg(file.errorString()));
    file.close();
    {
        Workbook book(QFile::encodeName(file.fileName()), QFile::encodeName(QDir::tempPath()));
        lxw_format *body = workbook_add_format(book.get());
        format_set_font_name(body, "宋体");
        format_set_font_size(body, 12);
        lxw_format *title = workbook_add_format(book.get());
        format_set_font_name(title, "宋体");
        format_set_font_size(title, 12);
        format_set_bold(title);

        // Column widths follow the titles, the footer and the first records.
        std::vector<int> widths(size_t(columns), 0);
        for (int c = 0; c < columns; ++c) {
            widths[size_t(c)] = displayWidth(table.titles.at(c));
            if (c < table.footer.size())
                widths[size_t(c)] = qMax(widths[size_t(c)], displayWidth(table.footer.at(c)));
            for (int r = 0; r < qMin(table.rowCount, WidthSampleRows); ++r)
                widths[size_t(c)] = qMax(widths[size_t(c)], displayWidth(table.cell(r, c)));
        }

        const bool hasFooter = !table.footer.isEmpty();
        const int bodyRows = table.rowCount + (hasFooter ? 1 : 0);
        const int sheets = qMax(1, (bodyRows + SheetRows - 2) / (SheetRows - 1));
        int next = 0; // the next body row: records, then the footer
        for (int s = 0; s < sheets; ++s) {
            lxw_worksheet *sheet
                = workbook_add_worksheet(book.get(), QStringLiteral("Sheet%1").arg(s + 1).toUtf8().constData());
            if (!sheet)
                throw Error(QStringLiteral("无法创建Excel工作表"));
            for (int c = 0; c < columns; ++c)
                check(worksheet_set_column(
                    sheet, lxw_col_t(c), lxw_col_t(c), qBound(8, widths[size_t(c)] + 2, 60), body));
            for (int c = 0; c < columns; ++c)
                writeCell(sheet, 0, lxw_col_t(c), table.titles.at(c), false, title);
            for (lxw_row_t row = 1; row < lxw_row_t(SheetRows) && next < bodyRows; ++row, ++next) {
                const bool footer = next >= table.rowCount;
                for (int c = 0; c < columns; ++c) {
                    const QString text
                        = footer ? (c < table.footer.size() ? table.footer.at(c) : QString()) : table.cell(next, c);
                    writeCell(sheet, row, lxw_col_t(c), text, numeric(c), body);
                }
            }
        }
        book.close();
    }

    // The finished workbook, block by block into the sink.
    if (!file.open())
        throw Error(QStringLiteral("无法读取临时文件：%1").arg(file.errorString()));
    char buffer[1 << 16];
    for (;;) {
        const qint64 n = file.read(buffer, sizeof buffer);
        if (n < 0)
            throw Error(QStringLiteral("无法读取临时文件：%1").arg(file.errorString()));
        if (n == 0)
            break;
        sink.write(buffer, n);
    }
}

} // namespace dagl
