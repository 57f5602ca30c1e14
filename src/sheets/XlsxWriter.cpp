#include "XlsxWriter.h"

#include "Error.h"
#include "GridTable.h"
#include "XlsWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTemporaryFile>

#include <xlsxwriter.h>

#include <cerrno>
#include <vector>

namespace dagl {

namespace {

constexpr int SheetRows = LXW_ROW_MAX; // the title row included
constexpr int MaxCellChars = 32767;
constexpr int WidthSampleRows = 1000;
// Less room than this in the folder of the workbook's files means the disk ran full.
constexpr qint64 FullBelow = 1 << 20;

// The failure of the library in the operator's terms: what the system said when it failed,
// else what the folder its files went to shows.
Error failure(lxw_error error, int systemError, const QString &folder)
{
    Cause cause = error == LXW_ERROR_MEMORY_MALLOC_FAILED ? Cause::OutOfMemory : causeOfErrno(systemError);
    if (cause == Cause::Unknown) {
        const QStorageInfo disk(folder);
        if (disk.isValid() && disk.isReadOnly())
            cause = Cause::ReadOnly;
        else if (disk.isValid() && disk.bytesAvailable() < FullBelow)
            cause = Cause::DiskFull;
        else if (!QFileInfo(folder).isWritable())
            cause = Cause::AccessDenied;
    }
    return Error(
        QStringLiteral("写入Excel工作簿失败：%1").arg(causeText(cause)), cause, QString::fromUtf8(lxw_strerror(error)));
}

// Closes the workbook (and so writes it) however the writing ends. Its working files go to
// `folder`, the folder of the workbook itself, so a full disk elsewhere does not matter.
class Workbook {
public:
    Workbook(const QString &path, const QString &folder)
        : m_folder(folder)
        , m_tmpdir(QFile::encodeName(folder))
    {
        lxw_workbook_options options {};
        options.constant_memory = LXW_TRUE;
        options.tmpdir = m_tmpdir.data();
        options.use_zip64 = LXW_FALSE; // our own reader, and many others, read no ZIP64
        errno = 0;
        m_book = workbook_new_opt(QFile::encodeName(path).constData(), &options);
        if (!m_book)
            throw failure(LXW_ERROR_CREATING_XLSX_FILE, errno, m_folder);
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
        errno = 0;
        const lxw_error error = workbook_close(m_book);
        const int system = errno;
        m_book = nullptr;
        check(error, system);
    }
    void check(lxw_error error, int system) const
    {
        if (error != LXW_NO_ERROR)
            throw failure(error, system, m_folder);
    }

private:
    QString m_folder;
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

void writeCell(const Workbook &book, lxw_worksheet *sheet, lxw_row_t row, lxw_col_t column, const QString &full,
    bool numeric, lxw_format *format)
{
    if (full.isEmpty())
        return;
    double value = 0;
    if (numeric && isPlainInteger(full, &value)) {
        errno = 0;
        const lxw_error error = worksheet_write_number(sheet, row, column, value, format);
        book.check(error, errno);
        return;
    }
    QStringView text(full);
    if (text.size() > MaxCellChars)
        text = text.left(text.at(MaxCellChars - 1).isHighSurrogate() ? MaxCellChars - 1 : MaxCellChars);
    errno = 0;
    const lxw_error error = worksheet_write_string(sheet, row, column, text.toUtf8().constData(), format);
    book.check(error, errno);
}

} // namespace

void writeXlsxFile(const GridTable &table, const QString &path)
{
    const int columns = int(table.titles.size());
    if (columns > LXW_COL_MAX)
        throw Error(QStringLiteral("Excel工作表最多只能容纳 %1 列，无法导出 %2 列").arg(LXW_COL_MAX).arg(columns));
    const auto numeric = [&table](int column) { return column < table.numeric.size() && table.numeric.at(column); };

    Workbook book(path, QFileInfo(path).absolutePath());
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
        errno = 0;
        lxw_worksheet *sheet
            = workbook_add_worksheet(book.get(), QStringLiteral("Sheet%1").arg(s + 1).toUtf8().constData());
        if (!sheet)
            book.check(LXW_ERROR_CREATING_TMPFILE, errno);
        for (int c = 0; c < columns; ++c) {
            errno = 0;
            const lxw_error error
                = worksheet_set_column(sheet, lxw_col_t(c), lxw_col_t(c), qBound(8, widths[size_t(c)] + 2, 60), body);
            book.check(error, errno);
        }
        for (int c = 0; c < columns; ++c)
            writeCell(book, sheet, 0, lxw_col_t(c), table.titles.at(c), false, title);
        for (lxw_row_t row = 1; row < lxw_row_t(SheetRows) && next < bodyRows; ++row, ++next) {
            const bool footer = next >= table.rowCount;
            for (int c = 0; c < columns; ++c) {
                const QString text
                    = footer ? (c < table.footer.size() ? table.footer.at(c) : QString()) : table.cell(next, c);
                writeCell(book, sheet, row, lxw_col_t(c), text, numeric(c), body);
            }
        }
    }
    book.close();
}

void writeXlsx(const GridTable &table, ByteSink &sink, const QString &tempFolder)
{
    const QString folder = tempFolder.isEmpty() ? QDir::tempPath() : tempFolder;
    QTemporaryFile file(folder + QStringLiteral("/dagl-XXXXXX.xlsx"));
    if (!file.open())
        throw Error(QStringLiteral("无法创建临时文件：%1").arg(causeText(causeOfFileError(file.error()))),
            causeOfFileError(file.error()), file.errorString());
    file.close();
    writeXlsxFile(table, file.fileName());

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
