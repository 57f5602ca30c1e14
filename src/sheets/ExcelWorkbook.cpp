#include "ExcelWorkbook.h"

#include "Error.h"
#include "Regional.h"

#include <QFile>
#include <QFileInfo>

#include <freexl.h>

#include <cmath>

namespace dagl {

namespace {

const QString kSheetMark = QStringLiteral("$");

// What the file is, judged by its first bytes, to name the trouble when it cannot be read.
enum class FileKind { Compound, Zip, Other };

FileKind fileKind(QFile &file)
{
    static const QByteArray compound("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    const QByteArray start = file.read(8);
    if (start == compound)
        return FileKind::Compound;
    if (start.startsWith("PK"))
        return FileKind::Zip;
    return FileKind::Other;
}

QString notWorkbook(const QString &path)
{
    return QStringLiteral("文件“%1”不是Excel 97-2003工作簿(*.xls)，无法读取").arg(path);
}

} // namespace

ExcelWorkbook::~ExcelWorkbook()
{
    close();
}

void ExcelWorkbook::open(const QString &path)
{
    close();
    const QFileInfo info(path);
    if (!info.exists())
        throw Error(QStringLiteral("文件“%1”不存在").arg(path));
    if (info.isDir())
        throw Error(notWorkbook(path));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("无法读取文件“%1”：文件可能被其他程序锁定，或没有读取权限").arg(path));
    const FileKind kind = fileKind(file);
    file.close();
    if (kind == FileKind::Zip)
        throw Error(QStringLiteral(
            "文件“%1”是Excel 2007以后的格式(*.xlsx)，请在Excel中另存为“Excel 97-2003工作簿(*.xls)”后再导入")
                        .arg(path));
    if (kind == FileKind::Other)
        throw Error(notWorkbook(path));

    const void *handle = nullptr;
    const int opened = freexl_open(QFile::encodeName(path).constData(), &handle);
    if (opened != FREEXL_OK) {
        if (handle)
            freexl_close(handle);
        if (opened == FREEXL_BIFF_WORKBOOK_NOT_FOUND)
            throw Error(notWorkbook(path));
        if (opened == FREEXL_INSUFFICIENT_MEMORY)
            throw Error(QStringLiteral("内存不足，无法读取工作簿“%1”").arg(path));
        throw Error(QStringLiteral("工作簿“%1”已损坏或不完整，无法读取").arg(path));
    }
    // FreeXL gives no handle for an encrypted workbook, and marks an obfuscated one.
    unsigned int password = 0;
    if (!handle
        || (freexl_get_info(handle, FREEXL_BIFF_PASSWORD, &password) == FREEXL_OK
            && password == FREEXL_BIFF_OBFUSCATED)) {
        if (handle)
            freexl_close(handle);
        throw Error(QStringLiteral("工作簿“%1”设有密码保护，请在Excel中取消密码后再导入").arg(path));
    }
    unsigned int sheets = 0;
    if (freexl_get_info(handle, FREEXL_BIFF_SHEET_COUNT, &sheets) != FREEXL_OK) {
        freexl_close(handle);
        throw Error(QStringLiteral("工作簿“%1”已损坏或不完整，无法读取").arg(path));
    }
    QStringList names;
    for (unsigned int i = 0; i < sheets && i <= 0xFFFF; ++i) {
        const char *name = nullptr;
        if (freexl_get_worksheet_name(handle, static_cast<unsigned short>(i), &name) != FREEXL_OK || !name) {
            freexl_close(handle);
            throw Error(QStringLiteral("工作簿“%1”已损坏或不完整，无法读取").arg(path));
        }
        names << QString::fromUtf8(name) + kSheetMark;
    }
    m_handle = handle;
    m_path = path;
    m_sheetNames = names;
    try {
        if (!m_sheetNames.isEmpty())
            selectTable(m_sheetNames.first());
    } catch (...) {
        close();
        throw;
    }
}

void ExcelWorkbook::close()
{
    if (m_handle)
        freexl_close(m_handle);
    m_handle = nullptr;
    m_path.clear();
    m_sheetNames.clear();
    m_table.clear();
    m_headings.clear();
    m_textColumns.clear();
    m_rows = 0;
}

QStringList ExcelWorkbook::tableNames() const
{
    if (!m_handle)
        throw Error(QStringLiteral("没有打开的Excel工作簿"));
    return m_sheetNames;
}

void ExcelWorkbook::selectTable(const QString &tableName)
{
    if (!m_handle)
        throw Error(QStringLiteral("没有打开的Excel工作簿"));
    QString name = tableName.trimmed();
    if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
        name = name.mid(1, name.size() - 2);
    if (!name.endsWith(kSheetMark))
        name += kSheetMark;
    const int index = int(m_sheetNames.indexOf(name));
    if (index < 0)
        throw Error(QStringLiteral("工作簿中没有工作表“%1”").arg(tableName));
    unsigned int rows = 0;
    unsigned short columns = 0;
    if (freexl_select_active_worksheet(m_handle, static_cast<unsigned short>(index)) != FREEXL_OK
        || freexl_worksheet_dimensions(m_handle, &rows, &columns) != FREEXL_OK)
        throw Error(QStringLiteral("工作表“%1”已损坏，无法读取").arg(name));

    m_table = name;
    m_headings.clear();
    m_textColumns = QVector<bool>(columns, false);
    m_rows = rows > 0 ? int(rows) - 1 : 0;
    for (unsigned short c = 0; c < columns; ++c) {
        const QString heading = rows > 0 ? textOf(rawCell(0, c)) : QString();
        m_headings << (heading.isEmpty() ? QStringLiteral("F%1").arg(c + 1) : heading);
    }
    // A column is read as text when any of its cells holds text.
    for (unsigned int r = 1; r < rows; ++r) {
        for (unsigned short c = 0; c < columns; ++c) {
            if (m_textColumns[c])
                continue;
            FreeXL_CellValue value;
            if (freexl_get_cell_value(m_handle, r, c, &value) == FREEXL_OK
                && (value.type == FREEXL_CELL_TEXT || value.type == FREEXL_CELL_SST_TEXT))
                m_textColumns[c] = true;
        }
    }
}

QVariant ExcelWorkbook::rawCell(unsigned int row, unsigned short column) const
{
    FreeXL_CellValue value;
    if (freexl_get_cell_value(m_handle, row, column, &value) != FREEXL_OK)
        throw Error(QStringLiteral("工作表“%1”第%2行第%3列无法读取").arg(m_table).arg(row + 1).arg(column + 1));
    switch (value.type) {
    case FREEXL_CELL_INT:
        return qlonglong(value.value.int_value);
    case FREEXL_CELL_DOUBLE: {
        const double number = value.value.double_value;
        if (std::isfinite(number) && number == std::floor(number) && std::fabs(number) < 1e15)
            return qlonglong(number);
        return number;
    }
    case FREEXL_CELL_TEXT:
    case FREEXL_CELL_SST_TEXT: {
        const QString text = value.value.text_value ? QString::fromUtf8(value.value.text_value) : QString();
        return text.isEmpty() ? QVariant() : QVariant(text);
    }
    case FREEXL_CELL_DATE: {
        const QDate date = QDate::fromString(QString::fromLatin1(value.value.text_value), Qt::ISODate);
        return date.isValid() ? QVariant(date) : QVariant();
    }
    case FREEXL_CELL_DATETIME: {
        const QDateTime dateTime
            = QDateTime::fromString(QString::fromLatin1(value.value.text_value), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        return dateTime.isValid() ? QVariant(dateTime) : QVariant();
    }
    case FREEXL_CELL_TIME: {
        const QTime time = QTime::fromString(QString::fromLatin1(value.value.text_value), QStringLiteral("HH:mm:ss"));
        return time.isValid() ? QVariant(time) : QVariant();
    }
    default:
        return {};
    }
}

QVariant ExcelWorkbook::cell(int row, int column) const
{
    if (!m_handle || m_table.isEmpty())
        throw Error(QStringLiteral("没有打开的Excel工作表"));
    if (row < 0 || row >= m_rows || column < 0 || column >= columnCount())
        throw Error(QStringLiteral("工作表“%1”没有第%2行第%3列").arg(m_table).arg(row + 2).arg(column + 1));
    const QVariant value = rawCell(unsigned(row) + 1, static_cast<unsigned short>(column));
    if (m_textColumns[column] && !value.isNull() && value.typeId() != QMetaType::QString)
        return textOf(value);
    return value;
}

QString ExcelWorkbook::textOf(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::UnknownType:
        return {};
    case QMetaType::Double: {
        const double number = value.toDouble();
        if (std::isfinite(number) && number == std::floor(number) && std::fabs(number) < 1e15)
            return QString::number(qlonglong(number));
        return QString::number(number, 'g', 15);
    }
    case QMetaType::QDate:
        return Regional::formatDate(value.toDate());
    case QMetaType::QDateTime:
        return Regional::displayDateTime(value.toDateTime());
    case QMetaType::QTime:
        return value.toTime().toString(Regional::longTimeFormat);
    default:
        return value.isNull() ? QString() : value.toString();
    }
}

} // namespace dagl
