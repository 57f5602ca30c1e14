#pragma once

#include "ArchivalCode.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

namespace dagl {

class Connection;

// The forms an archives office prints from its catalogue.
enum class ArchivalForm { ItemCatalogue, VolumeCatalogue, BoxSpine, BoxCover, BoxNote };

// Which records a form prints: those matching every filled value, or only the given rows.
struct FormSelection {
    QString qzh, gdnd, bgqx, jgwt; // trimmed; empty matches all
    bool onlyRows = false;
    QVector<qlonglong> rows; // the rows' keys (row ids) when onlyRows
};

// One catalogue record as the forms print it: trimmed texts.
struct FormRecord {
    QString qzh, gdnd, bgqx, jgwt, hh, jh, mlh, ajh, sxh;
    QString wh, zrz, tm, cwsj, mj, yh, bz;
    QString dwmc; // the unit's name as the record carries it

    RecordNumber number() const;
    // The pages of the item (页数), 0 when not given.
    int pages() const;
};

// Everything a form draws: the records in the form's order and what goes around them.
struct FormData {
    ArchivalCodeSettings settings;
    QString unitName; // 全宗名称
    QVector<FormRecord> records;
    // Records picked from a list rather than whole groups: their 序号 are not the places
    // they have in the full catalogue, and the catalogue says it is an extract.
    bool extract = false;

    // The 全宗名称 of a record: the unit's, or the record's own where the unit has none set.
    QString unitNameOf(const FormRecord &r) const { return unitName.isEmpty() ? r.dwmc : unitName; }
};

// A run of consecutive records that belong together (a group, a box, a volume).
struct RecordRun {
    int first = 0;
    int count = 0;
};

namespace FormRecords {

// The statement that reads the records of `form` in the order it prints them: by group
// (全宗号, 年度, 保管期限, 机构问题) and then box and item for the item forms, by 全宗号,
// 目录号, 案卷号 and 顺序号 for the volume catalogue; numbers in numeric order. `binds`
// receives the values of its parameters.
QString statement(ArchivalForm form, const FormSelection &selection, QStringList *binds, bool server = false);

// Reads the records of `form`, the unit name and nothing else. Throws dagl::Error.
FormData read(
    Connection &connection, ArchivalForm form, const FormSelection &selection, const ArchivalCodeSettings &settings);

// The unit name of table ljserver, empty when there is none.
QString unitName(Connection &connection);

// The values present in the catalogue for the four choices, each in natural order; the
// retention periods from the longest to the shortest.
struct Choices {
    QStringList qzh, gdnd, bgqx, jgwt;
};
Choices choices(Connection &connection);

// Texts in the order an office reads numbers: "9" before "10", other texts after them.
bool naturalLess(const QString &a, const QString &b);

// Splits the records into runs whose neighbours `together` says belong to one another.
QVector<RecordRun> runs(
    const QVector<FormRecord> &records, const std::function<bool(const FormRecord &, const FormRecord &)> &together);
bool sameGroup(const FormRecord &a, const FormRecord &b);
bool sameBox(const FormRecord &a, const FormRecord &b);
bool sameVolume(const FormRecord &a, const FormRecord &b);

} // namespace FormRecords
} // namespace dagl
