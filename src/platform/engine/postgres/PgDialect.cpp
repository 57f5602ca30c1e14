#include "PgDialect.h"

#include "JetTokens.h"

namespace dagl::PgDialect {

using namespace JetTokens;

namespace {

// The local engine lists the groups of a grouped select without an order in order; the
// server, which groups by hashing, would not. The order of text follows the columns'
// collation.
void orderGroups(Tokens &tokens)
{
    const Clauses clauses = topLevelClauses(tokens);
    if (!clauses.compound && clauses.orderBy < 0 && clauses.groupBy >= 0)
        orderByGroups(tokens, clauses.groupBy, {});
}

// The local engine sorts missing values before every other in ascending order and after
// them in descending order; the server does the opposite unless told.
void nullsAsLocal(Tokens &tokens)
{
    const Clauses clauses = topLevelClauses(tokens);
    if (clauses.orderBy < 0)
        return;
    int end = 0;
    const QVector<Range> terms = listTerms(tokens, clauses.orderBy, &end);
    for (int t = int(terms.size()) - 1; t >= 0; --t) {
        int last = terms[t].second - 1;
        while (last >= terms[t].first && tokens[last].kind == Token::Space)
            --last;
        if (last < terms[t].first)
            continue;
        bool stated = false;
        for (int i = terms[t].first; i <= last; ++i)
            stated = stated || isWord(tokens[i], "nulls");
        if (stated)
            continue;
        const bool descending = isWord(tokens[last], "desc");
        tokens.insert(last + 1, Token{Token::Word, descending ? QStringLiteral(" NULLS LAST") : QStringLiteral(" NULLS FIRST")});
    }
}

} // namespace

QString timestampLiteral(const QDateTime &value)
{
    return QStringLiteral("TIMESTAMP '%1'").arg(value.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

QString translate(const QString &sql, const ColumnLookup &lookup)
{
    Tokens tokens = tokenize(sql);
    replaceDates(tokens, [](const QDateTime &value) { return Token { Token::Word, timestampLiteral(value) }; });
    convertValues(tokens, lookup, timestampLiteral);
    const int first = skipSpace(tokens, 0);

    // Names, bound values and like in the server's terms, before the groups' order is
    // written from the same tokens.
    int parameter = 0;
    for (int i = 0; i < tokens.size(); ++i) {
        Token &t = tokens[i];
        if (t.kind == Token::Identifier) {
            QString name = identifierName(t).toLower();
            name.replace(QLatin1Char('"'), QStringLiteral("\"\""));
            t.text = QLatin1Char('"') + name + QLatin1Char('"');
        } else if (isWord(t, "ifnull") && isSymbol(tokens.value(skipSpace(tokens, i + 1)), "(")) {
            t.text = QStringLiteral("coalesce"); // the local engine's name for it
        } else if (isSymbol(t, "?")) {
            t.text = QLatin1Char('$') + QString::number(++parameter);
        } else if (isWord(t, "like")) {
            t.text = QStringLiteral("ILIKE");
            // A number column is matched by its digits, as the local engine does (案卷号 like '%5%').
            int operand = i - 1;
            while (operand >= 0 && tokens[operand].kind == Token::Space)
                --operand;
            if (operand >= 0 && isWord(tokens[operand], "not"))
                for (--operand; operand >= 0 && tokens[operand].kind == Token::Space;)
                    --operand;
            if (operand >= 0
                && (tokens[operand].kind == Token::Identifier
                    || (tokens[operand].kind == Token::Word && !tokens[operand].text.at(0).isDigit())))
                tokens[operand].text += QStringLiteral("::text");
            const int pattern = skipSpace(tokens, i + 1);
            if (pattern < tokens.size() && tokens[pattern].kind == Token::String)
                tokens[pattern].text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
        }
    }
    if (first < tokens.size() && isWord(tokens[first], "select")) {
        orderGroups(tokens);
        nullsAsLocal(tokens);
    }
    return join(tokens);
}

} // namespace dagl::PgDialect
