#include "RecordChecks.h"

namespace dagl {

const RequiredField *firstEmpty(const QVector<RequiredField> &rules,
                                const std::function<QString(const QString &field)> &textOf)
{
    for (const RequiredField &rule : rules) {
        if (textOf(rule.field).trimmed().isEmpty())
            return &rule;
    }
    return nullptr;
}

std::optional<UnitSettingsCheck::Failure> UnitSettingsCheck::check(const QString &unitCode,
                                                                    const QString &fondsNumber,
                                                                    const QString &unitName)
{
    if (unitCode.trimmed().isEmpty() && fondsNumber.trimmed().isEmpty())
        return Failure{QStringLiteral("DWDM"), kNoCode};
    if (unitName.trimmed().isEmpty())
        return Failure{QStringLiteral("DWMC"), kNoName};
    return std::nullopt;
}

const QVector<RequiredField> &HandoverCheck::rules()
{
    static const QVector<RequiredField> rules = {
        {QStringLiteral("yjbh"), QStringLiteral("移交编号不能为空!")},
        {QStringLiteral("yjr"), QStringLiteral("移交人不能为空!")},
        {QStringLiteral("jsr"), QStringLiteral("接收人不能为空!")},
        {QStringLiteral("yjrq"), QStringLiteral("移交日期不能为空!")},
        {QStringLiteral("jsrq"), QStringLiteral("接收日期不能为空!")},
        {QStringLiteral("yjnr"), QStringLiteral("接收内容不能为空!")},
    };
    return rules;
}

} // namespace dagl
