#include "ExcelWorkbook.h"

#include "BiffReader.h"
#include "CompoundFile.h"
#include "Error.h"
#include "Regional.h"
#include "XlsxReader.h"
#include "ZipArchive.h"

#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <new>

namespace dagl {

namespace {

const QString kSheetMark = QStringLiteral("$");

QString notWorkbook(const QString &path)
{
    return QStringLiteral("文件“%1”不是Excel工作簿（*.xls或*.xlsx），无法读取").arg(path);
}

// A serial day number of the workbook's date system as a date, a date and time, or a time
// (below one day); none outside the years Excel knows.
QVariant dateOf(double serial, bool date1904)
{
    if (!std::isfinite(serial) || serial < 0 || serial >= 2958466)
        return {};
    qint64 days = qint64(std::floor(serial));
    qint64 ms = qint64(std::llround((serial - double(days)) * 86400000.0));
    if (ms >= 86400000) {
        ++days;
        ms -= 86400000;
    }
    const QTime time = QTime::fromMSecsSinceStartOfDay(int(ms));
    if (days == 0 && ms > 0)
        return time;
    QDate date;
    if (date1904)
        date = QDate(1904, 1, 1).addDays(days);
    else if (days < 60) // Excel counts a 29 February 1900 that never was
        date = QDate(1899, 12, 31).addDays(days);
    else
        date = QDate(1899, 12, 30).addDays(days);
    if (ms == 0)
        return date;
    return QDateTime(date, time);
}

} // namespace

ExcelWorkbook::ExcelWorkbook() = default;

ExcelWorkbook::~ExcelWorkbook() = default;

void ExcelWorkbook::open(const QString &path, const WorkbookLimits &limits)
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
    if (quint64(file.size()) > limits.fileBytes)
        throw Error(QStringLiteral("工作簿“%1”过大（%2MB），无法导入").arg(path).arg(file.size() >> 20));
    QByteArray data;
    try {
        data = file.readAll();
    } catch (const std::bad_alloc &) {
        throw Error(QStringLiteral("内存不足，无法读取工作簿“%1”").arg(path));
    }
    if (data.size() != file.size())
        throw Error(QStringLiteral("无法读取文件“%1”：%2").arg(path, file.errorString()));
    openData(data, path, limits);
}

void ExcelWorkbook::openData(const QByteArray &data, const QString &shownName, const WorkbookLimits &limits)
{
    close();
    m_path = shownName;
    try {
        if (CompoundFileReader::isCompoundFile(data)) {
            const CompoundFileReader file(data);
            // An encrypted .xlsx comes in a compound file; an .xls before Excel 97 has "Book".
            if (file.hasStream(QStringLiteral("EncryptedPackage")) || file.hasStream(QStringLiteral("EncryptionInfo")))
                throw WorkbookFault { WorkbookFault::Kind::Password, QString() };
            if (!file.hasStream(QStringLiteral("Workbook"))) {
                if (file.hasStream(QStringLiteral("Book")))
                    throw WorkbookFault { WorkbookFault::Kind::OldFormat, QStringLiteral("Excel 5.0/95格式") };
                throw WorkbookFault { WorkbookFault::Kind::NotWorkbook, QString() };
            }
            m_biff = std::make_unique<BiffReader>(file.stream(QStringLiteral("Workbook")), limits);
            m_sheetNames = m_biff->sheetNames();
        } else if (ZipArchive::isZip(data)) {
            m_xlsx = std::make_unique<XlsxReader>(data, limits);
            m_sheetNames = m_xlsx->sheetNames();
        } else {
            throw WorkbookFault { WorkbookFault::Kind::NotWorkbook, QString() };
        }
        for (QString &name : m_sheetNames)
            name += kSheetMark;
        if (!m_sheetNames.isEmpty())
            selectTable(m_sheetNames.first());
    } catch (const WorkbookFault &fault) {
        const QString path = m_path;
        close();
        m_path = path;
        refuse(fault);
    } catch (const std::bad_alloc &) {
        const QString path = m_path;
        close();
        throw Error(QStringLiteral("内存不足，无法读取工作簿“%1”").arg(path));
    } catch (...) {
        close();
        throw;
    }
}

void ExcelWorkbook::refuse(const WorkbookFault &fault) const
{
    switch (fault.kind) {
    case WorkbookFault::Kind::NotWorkbook:
        if (fault.detail == QLatin1String("OpenDocument"))
            throw Error(QStringLiteral("文件“%1”是OpenDocument电子表格（*.ods），请另存为Excel工作簿（*.xlsx）后再导入")
                            .arg(m_path));
        throw Error(notWorkbook(m_path));
    case WorkbookFault::Kind::Password:
        throw Error(QStringLiteral("工作簿“%1”设有密码保护，请在Excel中取消密码后再导入").arg(m_path));
    case WorkbookFault::Kind::OldFormat:
        throw Error(QStringLiteral("工作簿“%1”是%2，无法读取，请在Excel中另存为“Excel工作簿(*.xlsx)”后再导入")
                        .arg(m_path, fault.detail));
    case WorkbookFault::Kind::TooLarge:
        throw Error(QStringLiteral("工作簿“%1”过大，无法导入：%2").arg(m_path, fault.detail));
    case WorkbookFault::Kind::Cancelled:
        throw Error(QStringLiteral("已取消读取工作簿“%1”").arg(m_path));
    case WorkbookFault::Kind::Damaged:
        break;
    }
    throw Error(damaged(fault.detail));
}

QString ExcelWorkbook::damaged(const QString &detail) const
{
    return QStringLiteral("工作簿“%1”已损坏或不完整，无法读取：%2").arg(m_path, detail);
}

void ExcelWorkbook::close()
{
    m_sheet.reset();
    m_biff.reset();
    m_xlsx.reset();
    m_path.clear();
    m_sheetNames.clear();
    m_table.clear();
    m_headings.clear();
    m_textColumns.clear();
    m_rows = 0;
}

QStringList ExcelWorkbook::tableNames() const
{
    if (!isOpen())
        throw Error(QStringLiteral("没有打开的Excel工作簿"));
    return m_sheetNames;
}

void ExcelWorkbook::selectTable(const QString &tableName)
{
    if (!isOpen())
        throw Error(QStringLiteral("没有打开的Excel工作簿"));
    // The name as listed first: a sheet's own name may hold blanks and brackets.
    int index = int(m_sheetNames.indexOf(tableName));
    if (index < 0) {
        QString name = tableName.trimmed();
        if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
            name = name.mid(1, name.size() - 2);
        index = int(m_sheetNames.indexOf(name));
        if (index < 0 && !name.endsWith(kSheetMark))
            index = int(m_sheetNames.indexOf(name + kSheetMark));
    }
    if (index < 0)
        throw Error(QStringLiteral("工作簿中没有工作表“%1”").arg(tableName));
    const QString name = m_sheetNames.at(index);
    if (name == m_table && m_sheet)
        return; // read already
    try {
        m_sheet.reset();
        m_sheet.emplace(m_biff ? m_biff->readSheet(index) : m_xlsx->readSheet(index));
    } catch (const WorkbookFault &fault) {
        m_table.clear();
        m_headings.clear();
        m_rows = 0;
        refuse(fault);
    } catch (const std::bad_alloc &) {
        m_sheet.reset();
        throw Error(QStringLiteral("内存不足，无法读取工作表“%1”").arg(name));
    }

    m_table = name;
    m_headings.clear();
    const quint32 rows = m_sheet->rows();
    const quint32 columns = m_sheet->columns();
    m_rows = rows > 0 ? int(rows) - 1 : 0;
    for (quint32 c = 0; c < columns; ++c) {
        const SheetCell *heading = m_sheet->find(0, c);
        QString text;
        if (heading && heading->kind != CellKind::NoResult)
            text = textOf(valueOf(*heading));
        m_headings << (text.isEmpty() ? QStringLiteral("F%1").arg(c + 1) : text);
    }
    // A column is read as text when any of its cells holds text.
    m_textColumns = QVector<bool>(qsizetype(columns), false);
    for (const SheetCell &cell : m_sheet->cells()) {
        if (cell.row > 0 && cell.kind == CellKind::Text)
            m_textColumns[cell.column] = true;
    }
}

QVariant ExcelWorkbook::valueOf(const SheetCell &cell) const
{
    switch (cell.kind) {
    case CellKind::Number: {
        const double number = cell.number;
        if (cell.flags & SheetCell::Truth)
            return number != 0;
        if (cell.flags & SheetCell::Date) {
            const QVariant date = dateOf(number, m_sheet->date1904);
            if (date.isValid())
                return date;
        }
        if (std::isfinite(number) && number == std::floor(number) && std::fabs(number) < 1e15)
            return qlonglong(number);
        return number;
    }
    case CellKind::Text:
    case CellKind::Error: {
        const QString &text = m_sheet->string(cell.text);
        return text.isEmpty() ? QVariant() : QVariant(text);
    }
    case CellKind::Boolean:
        return cell.boolean;
    case CellKind::NoResult:
        break;
    }
    return {};
}

QVariant ExcelWorkbook::cell(int row, int column) const
{
    if (!isOpen() || !m_sheet || m_table.isEmpty())
        throw Error(QStringLiteral("没有打开的Excel工作表"));
    if (row < 0 || row >= m_rows || column < 0 || column >= columnCount())
        throw Error(QStringLiteral("工作表“%1”没有第%2行第%3列").arg(m_table).arg(row + 2).arg(column + 1));
    const SheetCell *found = m_sheet->find(quint32(row) + 1, quint32(column));
    if (!found)
        return {};
    if (found->kind == CellKind::NoResult)
        throw Error(QStringLiteral("第%1列的公式没有保存计算结果，请在Excel中重新计算并保存后再导入").arg(column + 1));
    const QVariant value = valueOf(*found);
    if (m_textColumns[column] && (found->kind == CellKind::Number || found->kind == CellKind::Boolean)
        && value.typeId() != QMetaType::QDate && value.typeId() != QMetaType::QDateTime)
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
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
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
