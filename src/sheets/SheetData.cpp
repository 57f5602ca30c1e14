#include "SheetData.h"

#include <algorithm>

namespace dagl {

namespace {

// What the readers hold for each, in bytes: a cell in a vector that grows by doubling and is
// sorted with a buffer; a shared string as its own QString in a list; a sheet's own text in
// the one buffer they share. Measured, with the list growing by half again as it fills.
constexpr quint64 CellBytes = 2 * sizeof(SheetCell);
constexpr quint64 SharedStringBytes = 80;
constexpr quint64 OwnTextBytes = 4;

} // namespace

WorkbookBudget::WorkbookBudget(const WorkbookLimits &limits, quint64 fileBytes)
    : m_limits(limits)
{
    spend(fileBytes);
}

bool WorkbookBudget::expand(quint64 bytes)
{
    m_expanded += bytes;
    return m_expanded <= m_limits.expandedBytes && !cancelled();
}

WorkbookFault WorkbookBudget::expandedFault() const
{
    if (cancelled())
        return { WorkbookFault::Kind::Cancelled, QString() };
    return { WorkbookFault::Kind::TooLarge, QStringLiteral("解压后的内容超过%1MB").arg(m_limits.expandedBytes >> 20) };
}

void WorkbookBudget::sharedString(quint64 count)
{
    if (++m_strings > m_limits.strings)
        WorkbookFault::tooLarge(QStringLiteral("共享字符串超过%1个").arg(m_limits.strings));
    chars(count);
    spend(SharedStringBytes + 2 * count);
}

void WorkbookBudget::cell()
{
    if (++m_cells > m_limits.cells)
        WorkbookFault::tooLarge(QStringLiteral("单元格超过%1个").arg(m_limits.cells));
    spend(CellBytes);
}

void WorkbookBudget::ownText(quint64 count)
{
    chars(count);
    spend(OwnTextBytes + 2 * count);
}

void WorkbookBudget::chars(quint64 count)
{
    m_chars += count;
    if (m_chars > m_limits.stringChars)
        WorkbookFault::tooLarge(QStringLiteral("文字超过%1个字符").arg(m_limits.stringChars));
}

void WorkbookBudget::spend(quint64 bytes)
{
    if (cancelled())
        throw WorkbookFault { WorkbookFault::Kind::Cancelled, QString() };
    m_memory += bytes;
    if (m_memory > m_limits.memoryBytes)
        WorkbookFault::tooLarge(QStringLiteral("读取需要的内存超过%1MB").arg(m_limits.memoryBytes >> 20));
}

SheetData::SheetData(QString name, WorkbookBudget &budget, QStringList shared)
    : m_name(std::move(name))
    , m_budget(&budget)
    , m_strings(std::move(shared))
    , m_sharedCount(quint32(m_strings.size()))
    , m_ownStarts { 0 }
{
}

SheetCell &SheetData::add(quint32 row, quint32 column, CellKind kind)
{
    if (row >= MaxSheetRows)
        WorkbookFault::damaged(
            QStringLiteral("工作表“%1”的行号%2超出了最大行数%3").arg(m_name).arg(quint64(row) + 1).arg(MaxSheetRows));
    if (column >= MaxSheetColumns)
        WorkbookFault::damaged(QStringLiteral("工作表“%1”的列号%2超出了最大列数%3")
                                   .arg(m_name)
                                   .arg(quint64(column) + 1)
                                   .arg(MaxSheetColumns));
    if (m_budget)
        m_budget->cell();
    m_rows = std::max(m_rows, row + 1);
    m_columns = std::max(m_columns, column + 1);
    SheetCell cell;
    cell.row = row;
    cell.column = quint16(column);
    cell.kind = kind;
    cell.flags = 0;
    cell.number = 0;
    m_cells.push_back(cell);
    return m_cells.back();
}

void SheetData::addNumber(quint32 row, quint32 column, double value, quint8 format)
{
    SheetCell &cell = add(row, column, CellKind::Number);
    cell.number = value;
    cell.flags = format & (SheetCell::Date | SheetCell::Truth);
}

void SheetData::addText(quint32 row, quint32 column, QString text, CellKind kind)
{
    if (m_budget)
        m_budget->ownText(quint64(text.size()));
    SheetCell &cell = add(row, column, kind);
    cell.text = m_sharedCount + quint32(m_ownStarts.size() - 1);
    // One buffer for all of them: a sheet of inline strings has a million short texts, and
    // a string of its own for each would take several times their characters.
    m_own.append(text);
    m_ownStarts.push_back(quint32(m_own.size()));
}

QString SheetData::string(quint32 index) const
{
    if (index < m_sharedCount)
        return m_strings.at(qsizetype(index));
    const size_t own = index - m_sharedCount;
    return m_own.mid(qsizetype(m_ownStarts.at(own)), qsizetype(m_ownStarts.at(own + 1) - m_ownStarts[own]));
}

void SheetData::addSharedText(quint32 row, quint32 column, quint32 index)
{
    if (index >= m_sharedCount)
        WorkbookFault::damaged(QStringLiteral("工作表“%1”第%2行第%3列引用了不存在的共享字符串（第%4个，共%5个）")
                                   .arg(m_name)
                                   .arg(quint64(row) + 1)
                                   .arg(quint64(column) + 1)
                                   .arg(quint64(index) + 1)
                                   .arg(m_sharedCount));
    SheetCell &cell = add(row, column, CellKind::Text);
    cell.text = index;
    cell.flags = SheetCell::Shared;
}

void SheetData::addBoolean(quint32 row, quint32 column, bool value)
{
    add(row, column, CellKind::Boolean).boolean = value;
}

void SheetData::addNoResult(quint32 row, quint32 column)
{
    add(row, column, CellKind::NoResult);
}

void SheetData::addEmpty(quint32 row, quint32 column)
{
    if (row >= MaxSheetRows || column >= MaxSheetColumns)
        add(row, column, CellKind::NoResult); // throws
    m_rows = std::max(m_rows, row + 1);
    m_columns = std::max(m_columns, column + 1);
}

void SheetData::finish()
{
    m_budget = nullptr; // it belongs to the read that built the sheet
    std::stable_sort(m_cells.begin(), m_cells.end(),
        [](const SheetCell &a, const SheetCell &b) { return a.row != b.row ? a.row < b.row : a.column < b.column; });
    // Of two cells at one place the later one stands, as the file's last word.
    auto out = m_cells.begin();
    for (auto in = m_cells.begin(); in != m_cells.end(); ++in) {
        if (out != m_cells.begin() && (out - 1)->row == in->row && (out - 1)->column == in->column)
            *(out - 1) = *in;
        else
            *out++ = *in;
    }
    m_cells.erase(out, m_cells.end());
    m_cells.shrink_to_fit();
    m_own.squeeze();
    m_ownStarts.shrink_to_fit();
    m_rowStart.assign(size_t(m_rows) + 1, 0);
    size_t at = 0;
    for (quint32 r = 0; r <= m_rows; ++r) {
        while (at < m_cells.size() && m_cells[at].row < r)
            ++at;
        m_rowStart[r] = quint32(at);
    }
}

const SheetCell *SheetData::find(quint32 row, quint32 column) const
{
    if (row >= m_rows || column >= m_columns || m_rowStart.empty())
        return nullptr;
    const auto first = m_cells.begin() + m_rowStart[row];
    const auto last = m_cells.begin() + m_rowStart[size_t(row) + 1];
    const auto it
        = std::lower_bound(first, last, column, [](const SheetCell &cell, quint32 c) { return cell.column < c; });
    return it != last && it->column == column ? &*it : nullptr;
}

bool isDateFormat(int formatId, QStringView code)
{
    if (code.isEmpty()) {
        // Built-in formats: the dates and times of every locale, the Chinese ones included.
        return (formatId >= 14 && formatId <= 22) || (formatId >= 27 && formatId <= 36)
            || (formatId >= 45 && formatId <= 47) || (formatId >= 50 && formatId <= 58);
    }
    // Letters of a date or time outside quoted text, escapes and bracketed colours or locales.
    for (qsizetype i = 0; i < code.size(); ++i) {
        const char16_t c = code.at(i).unicode();
        switch (c) {
        case u'"': {
            const qsizetype end = code.indexOf(u'"', i + 1);
            if (end < 0)
                return false;
            i = end;
            break;
        }
        case u'\\':
        case u'_':
        case u'*':
            ++i;
            break;
        case u'[': {
            const qsizetype end = code.indexOf(u']', i + 1);
            if (end < 0)
                return false;
            const QStringView inside = code.mid(i + 1, end - i - 1);
            // Elapsed hours, minutes or seconds: [h]:mm
            if (!inside.isEmpty() && QStringLiteral("hHmMsS").contains(inside.at(0)) && inside.size() <= 3)
                return true;
            i = end;
            break;
        }
        case u'G':
        case u'g':
            if (code.mid(i, 7).compare(QLatin1String("General"), Qt::CaseInsensitive) == 0)
                i += 6;
            break;
        case u'y':
        case u'Y':
        case u'm':
        case u'M':
        case u'd':
        case u'D':
        case u'h':
        case u'H':
        case u's':
        case u'S':
            return true;
        default:
            break;
        }
    }
    return false;
}

quint8 formatKind(int formatId, QStringView code)
{
    if (code.compare(QLatin1String("\"TRUE\";\"TRUE\";\"FALSE\""), Qt::CaseInsensitive) == 0)
        return SheetCell::Truth;
    return isDateFormat(formatId, code) ? SheetCell::Date : 0;
}

} // namespace dagl
