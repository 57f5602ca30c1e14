#pragma once

#include <QString>
#include <optional>
#include <QVector>

#include <functional>

namespace dagl {

// A field that must not be empty (after trimming blanks), with the message shown otherwise.
struct RequiredField
{
    QString field;
    QString message;
};

// The first rule whose field is empty, or nullptr. `textOf` gives a field's text as typed.
const RequiredField *firstEmpty(const QVector<RequiredField> &rules,
                                const std::function<QString(const QString &field)> &textOf);

namespace UnitSettingsCheck {

inline const QString kNoCode = QStringLiteral(
    "单位代码或者全宗号必须有一项有值，单位代码为你单位的法人代码，全宗号有档案局分配给你!");
inline const QString kNoName = QStringLiteral("单位名称不能为空!");

struct Failure
{
    QString field; // where the focus goes
    QString message;
};

// Checks the unit information as typed; the failure of the first rule broken, if any.
std::optional<Failure> check(const QString &unitCode, const QString &fondsNumber, const QString &unitName);

} // namespace UnitSettingsCheck

namespace HandoverCheck {
// The handover fields in the order they are checked (not the tab order).
const QVector<RequiredField> &rules();
} // namespace HandoverCheck

} // namespace dagl
