#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

namespace dagl {

// Column name (upper case, as the dataset declares it) -> text.
using RecordValues = QHash<QString, QString>;

// The rules of an archive record as the editor enters it: the two entry standards, the
// check that guards every save and the values carried into the next new record.
namespace RecordCheck {

enum Standard { ByVolume = 0, ByItem = 1 };

inline const QString kNoCode
    = QStringLiteral("单位代码或者全宗号必须有一项有值，单位代码为你单位的法人代码，全宗号由档案局分配给你!");
inline const QString kNoUnitName = QStringLiteral("单位名称不能为空!");
inline const QString kVolumeIncomplete
    = QStringLiteral("2000年前录入标准数据填写不完整，请补充录入! 全宗号-目录号-案卷号-顺序号 为必录项，请检查 ");
inline const QString kItemIncomplete
    = QStringLiteral("2000年后录入标准数据填写不完整，请补充录入! 全宗号-盒号-件号  为必录项，请检查");
inline const QString kNoYear = QStringLiteral("归档年度不能为空!");
inline const QString kNoRetention = QStringLiteral("保管期限不能为空!");
inline const QString kNoTitle = QStringLiteral("题名不能为空!");
inline const QString kNoPages = QStringLiteral("页数页码不能为空!");

struct Failure {
    QString field; // where the focus goes
    QString message;
};

// Blanks and control characters removed at both ends.
QString trimmed(const QString &text);

// The numbering columns of the other standard, emptied before any rule is checked.
QStringList otherStandardColumns(int standard);

// The first rule the record breaks, or nothing when it may be saved. `texts` holds the
// displayed texts; a missing column counts as empty.
std::optional<Failure> check(int standard, const RecordValues &texts);

// The standard a record is shown under: from its numbers when either is filled, else from
// the `kxpl` setting ("0" or "1"); any other setting keeps `current`.
// `fromSetting` tells whether the setting decided.
int standardFor(const QString &mlh, const QString &hh, const QString &kxpl, int current, bool *fromSetting = nullptr);

// The 24 columns whose values are carried between saves (all edited columns but DZWJM).
const QStringList &carriedColumns();
// Of those, the ones written into the next new row whatever the copy box says.
const QStringList &alwaysCarriedColumns();
// The columns to write into the next new row.
QStringList columnsToCarry(bool copyPrevious);

// The fixed entries of the four list fields, in order.
const QStringList &listEntries(const QString &column);
const QStringList &listColumns();

} // namespace RecordCheck

} // namespace dagl
