#include "SelectShape.h"

#include <QVector>

namespace dagl {

namespace {

struct Word
{
    QString lower;
    int start;
    int end;
};

// Top-level words and commas of a statement: quoted texts, bracketed names and anything in
// parentheses are skipped. A comma is reported as the word ",".
QVector<Word> topLevelWords(const QString &sql, bool *balanced)
{
    QVector<Word> words;
    int depth = 0;
    *balanced = true;
    const int n = int(sql.size());
    for (int i = 0; i < n;) {
        const QChar c = sql[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('[')) {
            const QChar close = c == QLatin1Char('[') ? QLatin1Char(']') : c;
            const int start = i++;
            while (i < n) {
                if (sql[i] == close) {
                    if (close != QLatin1Char(']') && i + 1 < n && sql[i + 1] == close) {
                        i += 2; // a doubled quote stands for itself
                        continue;
                    }
                    break;
                }
                ++i;
            }
            if (i >= n) {
                *balanced = false;
                return words;
            }
            ++i;
            if (depth == 0)
                words.push_back({QStringLiteral("\""), start, i}); // a quoted name or text
            continue;
        }
        if (c == QLatin1Char('(')) {
            ++depth;
            ++i;
            continue;
        }
        if (c == QLatin1Char(')')) {
            if (--depth < 0)
                *balanced = false;
            ++i;
            continue;
        }
        if (depth == 0 && c == QLatin1Char(',')) {
            words.push_back({QStringLiteral(","), i, i + 1});
            ++i;
            continue;
        }
        if (c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('*')) {
            const int start = i;
            while (i < n && (sql[i].isLetterOrNumber() || sql[i] == QLatin1Char('_') || sql[i] == QLatin1Char('.')
                             || sql[i] == QLatin1Char('*')))
                ++i;
            if (depth == 0)
                words.push_back({sql.mid(start, i - start).toLower(), start, i});
            continue;
        }
        ++i;
    }
    if (depth != 0)
        *balanced = false;
    return words;
}

} // namespace

SelectShape SelectShape::of(const QString &sql)
{
    SelectShape shape;
    bool balanced = true;
    const QVector<Word> words = topLevelWords(sql, &balanced);
    if (!balanced || words.size() < 4 || words[0].lower != QLatin1String("select"))
        return shape;

    int from = -1, where = -1, order = -1;
    for (int i = 1; i < words.size(); ++i) {
        const QString &w = words[i].lower;
        if (w == QLatin1String("distinct") || w == QLatin1String("group") || w == QLatin1String("having")
            || w == QLatin1String("join") || w == QLatin1String("union") || w == QLatin1String("intersect")
            || w == QLatin1String("except") || w == QLatin1String("limit") || w == QLatin1String("select")
            || w == QLatin1String("window") || w == QLatin1String("offset"))
            return shape;
        if (w == QLatin1String("from") && from < 0)
            from = i;
        else if (w == QLatin1String("where") && from >= 0 && where < 0 && order < 0)
            where = i;
        else if (w == QLatin1String("order") && from >= 0 && order < 0 && i + 1 < words.size()
                 && words[i + 1].lower == QLatin1String("by"))
            order = i;
    }
    if (from < 2)
        return shape;
    // Exactly one table, without an alias.
    const int afterTable = where >= 0 ? where : (order >= 0 ? order : int(words.size()));
    if (afterTable != from + 2)
        return shape;

    const QString trimmedEnd = sql.trimmed();
    auto section = [&](int fromPos, int toPos) { return sql.mid(fromPos, toPos - fromPos).trimmed(); };
    const int end = int(sql.size());
    shape.selectList = section(words[0].end, words[from].start);
    const Word &table = words[from + 1];
    if (table.lower == QLatin1String(","))
        return shape;
    shape.table = sql.mid(table.start, table.end - table.start);
    if (where >= 0)
        shape.where = section(words[where].end, order >= 0 ? words[order].start : end);
    if (order >= 0)
        shape.orderBy = section(words[order + 1].end, end);
    if (shape.orderBy.endsWith(QLatin1Char(';')))
        shape.orderBy.chop(1);
    if (shape.where.endsWith(QLatin1Char(';')))
        shape.where.chop(1);
    shape.plain = !shape.selectList.isEmpty() && !trimmedEnd.isEmpty();
    return shape;
}

QString SelectShape::keyStatement(OrderPlan plan) const
{
    QString sql = QStringLiteral("SELECT rowid FROM ") + table;
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where;
    if (orderBy.isEmpty())
        return sql;
    if (plan == AsWritten || where.isEmpty())
        return sql + QStringLiteral(" ORDER BY ") + orderBy;
    // "+column" is the column's value without its index. Terms are split at top-level
    // commas; a term that is no column name (a number, an expression) is kept as written.
    bool balanced = true;
    const QVector<Word> words = topLevelWords(orderBy, &balanced);
    if (!balanced)
        return sql + QStringLiteral(" ORDER BY ") + orderBy;
    QString terms;
    int from = 0;
    bool termStart = true;
    for (const Word &word : words) {
        if (word.lower == QLatin1String(",")) {
            termStart = true;
            continue;
        }
        if (!termStart)
            continue;
        termStart = false;
        const QChar first = orderBy.at(word.start);
        const bool column = first.isLetter() || first == QLatin1Char('_') || first == QLatin1Char('"')
            || first == QLatin1Char('[') || first == QLatin1Char('`');
        if (!column)
            continue;
        terms += orderBy.mid(from, word.start - from) + QLatin1Char('+');
        from = word.start;
    }
    terms += orderBy.mid(from);
    return sql + QStringLiteral(" ORDER BY ") + terms;
}

} // namespace dagl
