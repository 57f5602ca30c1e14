#pragma once

#include <QString>

namespace dagl {

// The parts of a plain single-table select ("SELECT list FROM table [WHERE ...] [ORDER BY
// ...]"), found outside quotes, brackets and parentheses. Only such a statement names one
// row of its table per result row, so only it may write rows back and be read lazily by
// key; anything else (joins, several tables, grouping, DISTINCT, unions, limits) is not.
struct SelectShape
{
    bool plain = false;
    QString selectList;
    QString table; // as written, quotes or brackets included
    QString where; // the condition without "WHERE"; empty for none
    QString orderBy; // the terms without "ORDER BY"; empty for none

    static SelectShape of(const QString &sql);

    // The statement of the rows' keys, in the order the select gives its rows. With
    // SortMatches a filtered select orders its matches by their values instead of walking
    // an index in that order through the whole table (the order is the same).
    enum OrderPlan { AsWritten, SortMatches };
    QString keyStatement(OrderPlan plan = AsWritten) const;
};

} // namespace dagl
