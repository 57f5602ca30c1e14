#include "JetSql.h"

#include "Collation.h"
#include "JetTokens.h"
#include "Regional.h"

namespace dagl::JetSql {

using namespace JetTokens;

namespace {

// A date/time value as the engine stores and compares it.
QString storedDate(const QDateTime &value)
{
    return quoted(Regional::storageText(value));
}

// A grouped select lists its groups in the operator's order of text, the one title sorting
// uses, rather than by code point: its ORDER BY columns compare by that order, and without
// an ORDER BY it is ordered by its groups. The groups stay those of the stored values (the
// order tells every two different texts apart), so the grouping itself can still use an
// index and only the groups are sorted.
void orderGroups(Tokens &tokens)
{
    const Clauses clauses = topLevelClauses(tokens);
    if (clauses.compound || clauses.groupBy < 0)
        return;
    const Tokens collate = { { Token::Space, QStringLiteral(" ") }, { Token::Word, QStringLiteral("COLLATE") },
        { Token::Space, QStringLiteral(" ") }, { Token::Word, QLatin1String(Collation::kName) } };
    if (clauses.orderBy < 0) {
        orderByGroups(tokens, clauses.groupBy, collate);
        return;
    }
    int end = -1;
    const auto terms = listTerms(tokens, clauses.orderBy, &end);
    for (int t = int(terms.size()) - 1; t >= 0; --t) { // from the back: insertions move what follows
        const int at = columnReferenceEnd(tokens, terms[t]);
        if (at >= 0) {
            for (int k = int(collate.size()) - 1; k >= 0; --k)
                tokens.insert(at, collate[k]);
        }
    }
}

} // namespace

QString quoted(const QString &value)
{
    QString text = value;
    text.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

QString translate(const QString &sql, const ColumnLookup &lookup)
{
    Tokens tokens = tokenize(sql);
    replaceDates(tokens, [](const QDateTime &value) { return Token { Token::String, storedDate(value) }; });
    convertValues(tokens, lookup, storedDate);
    const int first = skipSpace(tokens, 0);
    if (first < tokens.size() && isWord(tokens[first], "select"))
        orderGroups(tokens);
    return join(tokens);
}

} // namespace dagl::JetSql
