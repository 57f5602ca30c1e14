#pragma once

#include <QString>
#include <QStringList>

#include <atomic>
#include <vector>

namespace dagl {

// Why a workbook cannot be read, as the readers report it; ExcelWorkbook words it for the
// operator with the file's name.
struct WorkbookFault {
    enum class Kind {
        NotWorkbook, // neither an .xls nor an .xlsx
        Damaged, // truncated, inconsistent or not as the format prescribes
        Password, // encrypted
        OldFormat, // a format before Excel 97
        TooLarge, // past a bound that keeps memory and time in check
        Cancelled, // the operator stopped the read
    };
    Kind kind;
    QString detail;

    [[noreturn]] static void damaged(const QString &detail) { throw WorkbookFault { Kind::Damaged, detail }; }
    [[noreturn]] static void tooLarge(const QString &detail) { throw WorkbookFault { Kind::TooLarge, detail }; }
};

// Bounds on what a workbook may make the readers hold; far above any real catalogue sheet,
// far below what would exhaust the machine. They hold for the whole workbook at once: the
// parts read to list its sheets and the sheet read after them.
struct WorkbookLimits {
    quint64 fileBytes = 1024ull << 20; // the file, read whole
    quint64 partBytes = 512ull << 20; // one expanded part of an .xlsx
    quint64 expandedBytes = 512ull << 20; // all the parts of an .xlsx expanded, together
    quint32 cells = 12'000'000; // cells holding a value
    quint32 strings = 8'000'000; // shared strings
    quint64 stringChars = 256ull << 20; // characters of all the strings
    quint64 memoryBytes = 512ull << 20; // what the file, the cells and the strings take
    // Set from another thread to stop a read under way; checked as the budget is charged.
    const std::atomic<bool> *cancel = nullptr;
};

// What reading one workbook has taken so far against its limits, every part and every kind
// counted together, so that a workbook near several limits at once is still refused. A
// sheet is read on a copy of the budget left after the workbook's shared parts, as the sheet
// read before it is dropped. Crossing a limit throws WorkbookFault (TooLarge).
class WorkbookBudget {
public:
    WorkbookBudget(const WorkbookLimits &limits, quint64 fileBytes);

    const WorkbookLimits &limits() const { return m_limits; }
    // Bytes expanded from an .xlsx part; false when past the limit or cancelled, with the
    // reason in expandedFault() (the zip entry reports it as its own fault).
    bool expand(quint64 bytes);
    WorkbookFault expandedFault() const;
    void sharedString(quint64 chars);
    void cell();
    void ownText(quint64 chars);

private:
    void chars(quint64 count);
    void spend(quint64 bytes);
    bool cancelled() const { return m_limits.cancel && m_limits.cancel->load(std::memory_order_relaxed); }

    WorkbookLimits m_limits;
    quint64 m_expanded = 0;
    quint64 m_strings = 0;
    quint64 m_chars = 0;
    quint64 m_cells = 0;
    quint64 m_memory = 0;
};

// The largest sheet a workbook can describe.
constexpr quint32 MaxSheetRows = 1048576;
constexpr quint32 MaxSheetColumns = 16384;

enum class CellKind : quint8 {
    Number,
    Text,
    Boolean,
    Error, // a formula's error result, kept as its text ("#DIV/0!")
    NoResult, // a formula stored without its result
};

struct SheetCell {
    enum Flag : quint8 { Date = 1, Shared = 2, Truth = 4 };
    quint32 row;
    quint16 column;
    CellKind kind;
    quint8 flags;
    union {
        double number;
        quint32 text; // index into the sheet's strings, for Text and Error
        bool boolean;
    };
};

// One worksheet's cells, sorted by row and column; empty cells are not stored.
class SheetData {
public:
    // `budget` is charged while the sheet is built, up to finish().
    SheetData(QString name, WorkbookBudget &budget, QStringList shared = {});

    const QString &name() const { return m_name; }
    bool date1904 = false;

    // Rows and columns up to the last cell the sheet has, a formatted empty one included.
    quint32 rows() const { return m_rows; }
    quint32 columns() const { return m_columns; }

    const SheetCell *find(quint32 row, quint32 column) const;
    // A Text or Error cell's text by its index.
    QString string(quint32 index) const;
    const std::vector<SheetCell> &cells() const { return m_cells; }

    // Building, for the readers. Each checks the cell against the sheet's and the limits'
    // bounds and throws WorkbookFault.
    // `format`: Date or Truth when the cell's number format shows the number as one.
    void addNumber(quint32 row, quint32 column, double value, quint8 format);
    void addText(quint32 row, quint32 column, QString text, CellKind kind = CellKind::Text);
    void addSharedText(quint32 row, quint32 column, quint32 index);
    void addBoolean(quint32 row, quint32 column, bool value);
    void addNoResult(quint32 row, quint32 column);
    void addEmpty(quint32 row, quint32 column); // a formatted cell without a value
    quint32 sharedCount() const { return m_sharedCount; }
    // Sorts the cells; a later cell at the same place replaces an earlier one.
    void finish();

private:
    SheetCell &add(quint32 row, quint32 column, CellKind kind);

    QString m_name;
    WorkbookBudget *m_budget;
    QStringList m_strings; // the workbook's shared strings
    quint32 m_sharedCount;
    QString m_own; // the sheet's own texts, one after another
    std::vector<quint32> m_ownStarts; // where each begins in m_own, and where the last ends
    std::vector<SheetCell> m_cells;
    std::vector<quint32> m_rowStart;
    quint32 m_rows = 0;
    quint32 m_columns = 0;
};

// Whether a number format shows a date or a time: its built-in number, or its format code.
bool isDateFormat(int formatId, QStringView code);
// What a number format makes of a number, as SheetCell flags: Date, Truth (the format
// "TRUE";"TRUE";"FALSE" spreadsheet programs give truth values) or 0.
quint8 formatKind(int formatId, QStringView code);

} // namespace dagl
