#pragma once

#include "QueryStatement.h"

#include <QMap>
#include <QString>
#include <QVector>

namespace dagl::bench {

// A search of the query window or a count of the statistics window, as the benches time it.
struct SearchCase {
    QString name;
    QString sql;
    bool count = false; // a statistics count, else a search
};

// The query window's searches by its boxes (component name to text).
inline QString searchOf(const QMap<QString, QString> &boxes)
{
    return QueryStatement::search([&boxes](const QString &name) { return boxes.value(name); });
}

// The searches every catalogue bench times (list all, a fonds, common words, one character,
// none found), then `extra`, then the statistics window's counts.
inline QVector<SearchCase> searchCases(const QVector<SearchCase> &extra = {})
{
    QVector<SearchCase> cases = {
        { QStringLiteral("查询全部(&S)"), QueryStatement::listAll() },
        { QStringLiteral("查询 全宗号=1"), searchOf({ { QStringLiteral("Edit1"), QStringLiteral("1") } }) },
        { QStringLiteral("查询 题名1=档案"), searchOf({ { QStringLiteral("Edit6"), QStringLiteral("档案") } }) },
        { QStringLiteral("查询 责任者+题名"),
            searchOf({ { QStringLiteral("Edit4"), QStringLiteral("局") }, { QStringLiteral("Edit6"), QStringLiteral("会议") } }) },
        { QStringLiteral("查询 无结果"), searchOf({ { QStringLiteral("Edit10"), QStringLiteral("没有这样的题名") } }) },
        { QStringLiteral("查询 题名 常见词组"), searchOf({ { QStringLiteral("Edit6"), QStringLiteral("住房保障") } }) },
        { QStringLiteral("查询 题名 一个字"), searchOf({ { QStringLiteral("Edit6"), QStringLiteral("会") } }) },
    };
    cases += extra;
    for (const QueryStatement::Count &count : QueryStatement::counts())
        cases.push_back({ QString::fromUtf8(count.caption), QueryStatement::countStatement(count), true });
    return cases;
}

} // namespace dagl::bench
