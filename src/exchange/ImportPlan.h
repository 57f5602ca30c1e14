#pragma once

#include "ArchivalCode.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <array>
#include <functional>

namespace dagl {

class Dataset;
class ExcelWorkbook;
class IniFile;

// One of the 24 catalogue columns the import can fill, with its controls and its keys in
// section `zddr` of myini.ini (the column key is the flag key followed by "id").
struct ImportColumn {
    const char *label; // as the window shows it
    const char *field; // the catalogue column
    int control; // CheckBox<n> and ComboBox<n>
    const char *flagKey;
};

// The 24 rows in screen order, which is also the order in which a record is filled.
const std::array<ImportColumn, 24> &importColumns();

// The operator's choice for one row: ticked, and the worksheet column as typed ("1"-"30").
struct ImportChoice {
    bool ticked = true;
    QString columnText;

    bool operator==(const ImportChoice &other) const
    {
        return ticked == other.ticked && columnText == other.columnText;
    }
};
using ImportMapping = QVector<ImportChoice>; // one per row of importColumns()

namespace ImportSettings {
extern const QString kSection;
QString columnKey(const ImportColumn &column);
// A missing flag reads as ticked, a missing column as empty; only "1" ticks.
ImportMapping load(const IniFile &settings);
// Writes each row's flag and then its column. Throws dagl::Error when the file refuses.
void save(const IniFile &settings, const ImportMapping &mapping);
} // namespace ImportSettings

// Which worksheet column goes to which catalogue column of `target`, for a sheet of a
// given width. `target` must be open; the plan fills its pending new row.
class ImportPlan {
public:
    ImportPlan(const ImportMapping &mapping, int sheetColumns, Dataset &target);

    // The worksheet column (from 0) a column box names. Throws dagl::Error for a box that
    // is empty or no number, or names a column the sheet does not have.
    static int columnOf(const QString &columnText, int sheetColumns);

    Dataset &target() const { return m_target; }
    // Why the mapping cannot fill any row (its first ticked row whose box names no column
    // of the sheet); empty when it can.
    QString fault() const;

    // Fills the pending new row of the target from one worksheet row, ticked rows in table
    // order: text columns take the cell's text form, the number columns a cell that reads as
    // a whole number, an empty cell no value. 成文时间 takes a date, or text that reads as
    // one (2025/3/16), as eight digits (20240315), as does a text column too short for a
    // date's text form. Nothing is cut: a value longer than its column is refused, naming
    // the column and its size. Throws dagl::Error on the first cell or mapping the row
    // cannot take.
    void fill(const std::function<QVariant(int column)> &cell) const;

    // Whether every cell the mapping takes from the row is empty: a worksheet row with
    // nothing to import (spreadsheets keep formatted empty rows). A cell that cannot be read
    // is not empty.
    bool isBlank(const std::function<QVariant(int column)> &cell) const;

    // The numbering columns of the record one worksheet row would give, as fill() would
    // store them (trimmed). Throws dagl::Error as fill() does for these columns.
    RecordNumber numberOf(const std::function<QVariant(int column)> &cell) const;

private:
    struct Step {
        int field;
        int size; // characters a text column holds; 0 for other columns
        int column; // -1: the mapping is at fault
        QString fault; // why, when column is -1
        bool dateAsDigits; // 成文时间: a date as yyyymmdd
        QString label; // the row's name, for messages
    };
    QString converted(const Step &step, const QVariant &value) const;

    Dataset &m_target;
    QVector<Step> m_steps;
};

// A worksheet row whose number another record holds already, found before anything is
// stored.
struct NumberCollision {
    int row = 0; // the data row, from 0
    QString line; // for the failure list: "第<n>行：编号重复，……"
};

// The rows whose numbers the catalogue holds already, or an earlier row of the sheet does
// (the first row with a number keeps it; the later ones collide). Empty rows and rows the
// plan cannot fill are left to the import, which lists them. Throws dagl::Error when the
// catalogue cannot be read. `onlyRow` (from 0) checks that row alone.
QVector<NumberCollision> findNumberCollisions(
    const ImportPlan &plan, const ExcelWorkbook &sheet, const ArchivalCodeSettings &settings, int onlyRow = -1);

// The question asked when rows collide.
QString collisionQuestion(int rows);

// The result of importing every worksheet row.
struct ImportOutcome {
    int saved = 0;
    QStringList failures; // "第<n>行：<error>", n the worksheet row (headings are row 1)
    int blank = 0; // worksheet rows skipped for having nothing to import
    int duplicates = 0; // rows left out for their numbers, as the operator chose
    bool cancelled = false;
    // The commit was sent and the connection lost before its answer came: whether the run
    // is stored is for importStored() to find out once the connection works again.
    bool answerLost = false;
    qlonglong firstKey = 0; // the key of the run's first stored row

    // The closing line of a run: "共导入3条记录，1条记录导入失败。", with the empty rows
    // skipped when there were any.
    QString summary() const;
};

// Imports every data row of the selected worksheet into the plan's target (opened
// append-only) inside one transaction. An empty row is skipped and counted; a row the plan
// cannot fill is listed and skipped; an error in
// writing ends the run with nothing saved (thrown). `progress` is told the rows done at a
// human rate (every `intervalMs`, and at the end) and answers false to cancel, which also
// saves nothing.
// `leaveOut` holds data rows (from 0) not to import, counted as duplicates.
// A commit whose answer the lost connection swallowed is not thrown but returned with
// `answerLost` set (when any row was written).
ImportOutcome importAll(const ImportPlan &plan, const ExcelWorkbook &sheet,
    const std::function<bool(int done)> &progress, int intervalMs = 100, const QSet<int> &leaveOut = {});

// Whether a run whose commit answer got lost reached the database: one transaction is
// stored whole or not at all, so its first row tells. Throws dagl::Error when the database
// cannot be read.
bool importStored(Dataset &target, const ImportOutcome &outcome);

} // namespace dagl
