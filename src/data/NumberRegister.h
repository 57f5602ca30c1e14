#pragma once

#include "ArchivalCode.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <memory>
#include <optional>

namespace dagl {

class Connection;

// The numbers given in the catalogue, so that no number is given twice. Two records hold the
// same number exactly when they hold the same archival code under the office's settings: by
// item 全宗号 + 归档年度 + 保管期限 + 机构 (when the 机构 is part of the code) + 件号 (the item
// number runs through the series across its boxes), by volume 全宗号 + 目录号 + 案卷号 +
// 顺序号; numbers are read by ArchivalCode::numberKey ("0009", "９" and "9" are the same).
//
// The look-ups walk two indexes on expressions of the engine's own functions (trim, ltrim,
// replace, ifnull), so that any tool can still write the catalogue; the statements here
// repeat those expressions exactly, or the engine would not use the indexes. The indexes
// narrow the records down by 全宗号, year or volume and number; the archival code decides.
namespace NumberRegister {

enum class Numbering { None, Item, Volume };

// How a record is numbered: by item when its 件号 is filled, by volume when its 顺序号 is;
// a record without its last number takes part in no check. `byItem` is the standard
// the record is entered under.
Numbering numberingOf(const RecordNumber &number, bool byItem);

// The indexes the look-ups need, as CREATE INDEX IF NOT EXISTS statements.
QStringList indexStatements(bool server = false);
// The indexes earlier versions made, which nothing walks any more, as DROP statements.
QStringList retiredIndexStatements();

// The look-up's condition on the file as its index is written, a ? for each key column, and
// those columns' values of a number in order: the engine alone is timed with them.
QString indexCondition(bool byItem);
QVariantList indexValues(const RecordNumber &number, bool byItem);

// A catalogue record holding a number.
struct Holder {
    qlonglong key = 0; // str_m_date
    QString title; // TM as stored
    RecordNumber number;
};

// The question asked before a record is stored with a number another record holds: it
// names that record by its 档号 and its 题名.
QString duplicateQuestion(const Holder &holder, const ArchivalCodeSettings &settings);

// The record that already holds the number, other than the record `except` (the one being
// edited; 0 for a new record). Throws dagl::Error.
std::optional<Holder> holderOf(Connection &connection, const RecordNumber &number, bool byItem,
    const ArchivalCodeSettings &settings, qlonglong except = 0);

// The number proposed for the next record of a series, or empty when there is none.
// In the group of the previous record it is the smallest free number above the previous
// one, so a gap left behind stays a gap; in another group (the operator changed the group
// of the new record) it follows the group's highest number, 1 when the group is empty. It is
// written as the previous number was: with leading zeros to the same width when that one had
// them ("0009" -> "0010"), plain otherwise. Nothing is proposed when the previous number is
// no number or the next one would not fit the column (4 characters). Throws dagl::Error.
QString proposeNext(Connection &connection, const RecordNumber &previous, const RecordNumber &current, bool byItem,
    const ArchivalCodeSettings &settings);

// The 机构 named in the catalogue, trimmed, each once. Throws dagl::Error.
QStringList classNames(Connection &connection);

// An archival code that more than one record would hold.
struct SharedCode {
    QString code;
    QVector<Holder> holders;
};
// The codes shared under `settings`, in the order of their first record; at most `limit`.
// Throws dagl::Error.
QVector<SharedCode> sharedCodes(Connection &connection, const ArchivalCodeSettings &settings, int limit = 200);

// Checks many numbers against the catalogue and against each other, as an import does
// before it stores anything. One prepared look-up serves every row.
class Batch {
public:
    Batch(Connection &connection, const ArchivalCodeSettings &settings);
    ~Batch();
    Batch(const Batch &) = delete;
    Batch &operator=(const Batch &) = delete;

    struct Collision {
        int earlier = -1; // the row of the batch that holds the number first, -1 for none
        std::optional<Holder> holder; // the catalogue record holding it
    };
    // Adds the number of one row (rows are counted from 0 in the order added); says what it
    // collides with, nothing when it is free. A number seen first in this batch is taken by
    // that row, so only the later rows collide with it.
    std::optional<Collision> add(const RecordNumber &number);

    struct Lookup; // one prepared look-up per standard

private:
    Connection &m_connection;
    ArchivalCodeSettings m_settings;
    std::unique_ptr<Lookup> m_item, m_volume;
    QHash<QString, int> m_seen; // the archival code of a number -> the first row holding it
    int m_rows = 0;
};

} // namespace NumberRegister
} // namespace dagl
