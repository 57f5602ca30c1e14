#include "JetSql.h"

#include "Collation.h"
#include "Error.h"
#include "Regional.h"

#include <QVector>

namespace dagl::JetSql {

namespace {

struct Token
{
    enum Kind { Word, String, Date, Identifier, Symbol, Space };
    Kind kind;
    QString text; // as written, quotes included
};

QVector<Token> tokenize(const QString &sql)
{
    QVector<Token> tokens;
    int i = 0;
    const int n = sql.size();
    auto until = [&](QChar close, bool doubledEscapes) {
        int j = i + 1;
        while (j < n) {
            if (sql[j] == close) {
                if (doubledEscapes && j + 1 < n && sql[j + 1] == close) {
                    j += 2;
                    continue;
                }
                return j + 1;
            }
            ++j;
        }
        return n; // unterminated: the engine reports it
    };
    while (i < n) {
        const QChar c = sql[i];
        int end = i + 1;
        Token::Kind kind = Token::Symbol;
        if (c.isSpace()) {
            while (end < n && sql[end].isSpace())
                ++end;
            kind = Token::Space;
        } else if (c == QLatin1Char('\'')) {
            end = until(QLatin1Char('\''), true);
            kind = Token::String;
        } else if (c == QLatin1Char('#')) {
            end = until(QLatin1Char('#'), false);
            kind = Token::Date;
        } else if (c == QLatin1Char('"')) {
            end = until(QLatin1Char('"'), true);
            kind = Token::Identifier;
        } else if (c == QLatin1Char('[')) {
            end = until(QLatin1Char(']'), false);
            kind = Token::Identifier;
        } else if (c.isLetterOrNumber() || c == QLatin1Char('_') || c.unicode() > 0x7f) {
            while (end < n && (sql[end].isLetterOrNumber() || sql[end] == QLatin1Char('_') || sql[end].unicode() > 0x7f)
                   && !sql[end].isSpace())
                ++end;
            kind = Token::Word;
        }
        tokens.push_back({kind, sql.mid(i, end - i)});
        i = end;
    }
    return tokens;
}

QString unquoteString(const QString &literal)
{
    QString inner = literal.mid(1, literal.size() - 2);
    return inner.replace(QStringLiteral("''"), QStringLiteral("'"));
}

QString identifierName(const Token &t)
{
    if (t.kind == Token::Identifier)
        return t.text.mid(1, t.text.size() - 2);
    return t.text;
}

bool isWord(const Token &t, const char *word)
{
    return t.kind == Token::Word && t.text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
}

const QString kMismatch = QStringLiteral("Data type mismatch in criteria expression.");

// The stored form of a literal given for a column, or the literal unchanged.
QString convertForColumn(const QString &literal, const FieldDef &column)
{
    const QString value = unquoteString(literal);
    switch (column.type) {
    case FieldType::DateTime: {
        if (value.trimmed().isEmpty())
            return QStringLiteral("NULL");
        const QDateTime dt = Regional::parseDateTime(value);
        if (!dt.isValid())
            throw Error(kMismatch);
        return quoted(Regional::storageText(dt));
    }
    case FieldType::Integer:
    case FieldType::AutoInc: {
        if (value.trimmed().isEmpty())
            return QStringLiteral("NULL");
        bool ok = false;
        const qlonglong number = value.trimmed().toLongLong(&ok);
        if (!ok)
            throw Error(kMismatch);
        return QString::number(number);
    }
    case FieldType::WideString:
    case FieldType::FixedWideString:
        if (column.size > 0 && value.size() > column.size)
            throw Error(QStringLiteral("The field is too small to accept the amount of data you attempted to add."));
        return literal;
    default:
        return literal;
    }
}

// Index of the next token that is not blank, from `i` on.
int skipSpace(const QVector<Token> &tokens, int i)
{
    while (i < tokens.size() && tokens[i].kind == Token::Space)
        ++i;
    return i;
}

// Splits the tokens between an opening parenthesis at `open` and its partner at top-level
// commas. Returns the token index ranges [first, last) of the parts and sets `close`.
QVector<QPair<int, int>> splitList(const QVector<Token> &tokens, int open, int *close)
{
    QVector<QPair<int, int>> parts;
    int depth = 0;
    int start = open + 1;
    for (int i = open; i < tokens.size(); ++i) {
        if (tokens[i].kind != Token::Symbol)
            continue;
        if (tokens[i].text == QLatin1String("(")) {
            ++depth;
        } else if (tokens[i].text == QLatin1String(")")) {
            if (--depth == 0) {
                parts.push_back({start, i});
                *close = i;
                return parts;
            }
        } else if (tokens[i].text == QLatin1String(",") && depth == 1) {
            parts.push_back({start, i});
            start = i + 1;
        }
    }
    *close = -1;
    return {};
}

// The single string literal a part consists of, or -1.
int loneString(const QVector<Token> &tokens, QPair<int, int> part)
{
    int found = -1;
    for (int i = part.first; i < part.second; ++i) {
        if (tokens[i].kind == Token::Space)
            continue;
        if (tokens[i].kind != Token::String || found >= 0)
            return -1;
        found = i;
    }
    return found;
}

void convertInsert(QVector<Token> &tokens, int start, const ColumnLookup &lookup)
{
    int i = skipSpace(tokens, start + 1);
    if (i >= tokens.size() || !isWord(tokens[i], "into"))
        return;
    i = skipSpace(tokens, i + 1);
    if (i >= tokens.size())
        return;
    const QString table = identifierName(tokens[i]);
    i = skipSpace(tokens, i + 1);
    if (i >= tokens.size() || tokens[i].text != QLatin1String("("))
        return;
    int close = -1;
    const auto columns = splitList(tokens, i, &close);
    if (close < 0)
        return;
    i = skipSpace(tokens, close + 1);
    if (i >= tokens.size() || !isWord(tokens[i], "values"))
        return;
    i = skipSpace(tokens, i + 1);
    if (i >= tokens.size() || tokens[i].text != QLatin1String("("))
        return;
    const auto values = splitList(tokens, i, &close);
    for (int c = 0; c < columns.size() && c < values.size(); ++c) {
        const int literal = loneString(tokens, values[c]);
        const int name = skipSpace(tokens, columns[c].first);
        if (literal < 0 || name >= columns[c].second)
            continue;
        const FieldDef column = lookup(table, identifierName(tokens[name]));
        tokens[literal].text = convertForColumn(tokens[literal].text, column);
    }
}

void convertUpdate(QVector<Token> &tokens, int start, const ColumnLookup &lookup)
{
    int i = skipSpace(tokens, start + 1);
    if (i >= tokens.size())
        return;
    const QString table = identifierName(tokens[i]);
    i = skipSpace(tokens, i + 1);
    if (i >= tokens.size() || !isWord(tokens[i], "set"))
        return;
    // column = 'text' pairs up to "where"
    for (i = i + 1; i < tokens.size() && !isWord(tokens[i], "where"); ++i) {
        if (tokens[i].kind != Token::Word && tokens[i].kind != Token::Identifier)
            continue;
        const int eq = skipSpace(tokens, i + 1);
        if (eq >= tokens.size() || tokens[eq].text != QLatin1String("="))
            continue;
        const int value = skipSpace(tokens, eq + 1);
        if (value >= tokens.size() || tokens[value].kind != Token::String)
            continue;
        const int after = skipSpace(tokens, value + 1);
        if (after < tokens.size() && tokens[after].text != QLatin1String(",") && !isWord(tokens[after], "where"))
            continue;
        tokens[value].text = convertForColumn(tokens[value].text, lookup(table, identifierName(tokens[i])));
        i = value;
    }
}

bool isSymbol(const Token &t, const char *symbol)
{
    return t.kind == Token::Symbol && t.text == QLatin1String(symbol);
}

// Where a term of a top-level list ends: at a comma or a word that starts another clause.
bool endsList(const Token &t)
{
    static const char *const clauses[]
        = { "having", "order", "limit", "offset", "window", "union", "intersect", "except" };
    if (isSymbol(t, ",") || isSymbol(t, ";"))
        return true;
    for (const char *word : clauses) {
        if (isWord(t, word))
            return true;
    }
    return false;
}

// The terms [first, last) of a top-level list starting at `from`; sets `end` to where the
// list stops.
QVector<QPair<int, int>> listTerms(const QVector<Token> &tokens, int from, int *end)
{
    QVector<QPair<int, int>> terms;
    int depth = 0;
    int start = from;
    int i = from;
    for (; i < tokens.size(); ++i) {
        if (isSymbol(tokens[i], "("))
            ++depth;
        else if (isSymbol(tokens[i], ")"))
            --depth;
        if (depth > 0 || !endsList(tokens[i]))
            continue;
        terms.push_back({ start, i });
        if (!isSymbol(tokens[i], ","))
            break;
        start = i + 1;
    }
    if (i >= tokens.size())
        terms.push_back({ start, i });
    *end = i;
    return terms;
}

// The end of a plain column reference (name, or table.name) making up a term before an
// optional ASC or DESC, or -1 when the term is anything else (an expression, a column
// number, a collation of its own).
int columnReferenceEnd(const QVector<Token> &tokens, QPair<int, int> term)
{
    int i = skipSpace(tokens, term.first);
    int end = -1;
    while (i < term.second) {
        const Token &t = tokens[i];
        const bool name = (t.kind == Token::Word && !t.text.at(0).isDigit()) || t.kind == Token::Identifier;
        if (!name || isWord(t, "collate"))
            return -1;
        end = i + 1;
        if (end < term.second && isSymbol(tokens[end], "."))
            i = end + 1;
        else
            break;
    }
    if (end < 0)
        return -1;
    const int after = skipSpace(tokens, end);
    if (after < term.second && (isWord(tokens[after], "asc") || isWord(tokens[after], "desc")))
        return skipSpace(tokens, after + 1) >= term.second ? end : -1;
    return after >= term.second ? end : -1;
}

// A grouped select lists its groups in the operator's order of text, the one title sorting
// uses, rather than by code point: its ORDER BY columns compare by that order, and without
// an ORDER BY it is ordered by its groups. The groups stay those of the stored values (the
// order tells every two different texts apart), so the grouping itself can still use an
// index and only the groups are sorted.
void orderGroups(QVector<Token> &tokens)
{
    int depth = 0;
    int groupBy = -1, orderBy = -1;
    for (int i = 0; i < tokens.size(); ++i) {
        if (isSymbol(tokens[i], "("))
            ++depth;
        else if (isSymbol(tokens[i], ")"))
            --depth;
        if (depth != 0 || tokens[i].kind != Token::Word)
            continue;
        if (isWord(tokens[i], "union") || isWord(tokens[i], "intersect") || isWord(tokens[i], "except"))
            return;
        const int next = skipSpace(tokens, i + 1);
        if (next >= tokens.size() || !isWord(tokens[next], "by"))
            continue;
        if (isWord(tokens[i], "group") && groupBy < 0)
            groupBy = next + 1;
        else if (isWord(tokens[i], "order") && orderBy < 0)
            orderBy = next + 1;
    }
    if (groupBy < 0)
        return;
    const Token collate[] = { { Token::Space, QStringLiteral(" ") }, { Token::Word, QStringLiteral("COLLATE") },
        { Token::Space, QStringLiteral(" ") }, { Token::Word, QLatin1String(Collation::kName) } };
    int end = -1;
    if (orderBy >= 0) {
        const auto terms = listTerms(tokens, orderBy, &end);
        for (int t = int(terms.size()) - 1; t >= 0; --t) { // from the back: insertions move what follows
            const int at = columnReferenceEnd(tokens, terms[t]);
            if (at >= 0) {
                for (int k = 3; k >= 0; --k)
                    tokens.insert(at, collate[k]);
            }
        }
        return;
    }
    const auto groups = listTerms(tokens, groupBy, &end);
    QVector<Token> order = { { Token::Space, QStringLiteral(" ") }, { Token::Word, QStringLiteral("ORDER") },
        { Token::Space, QStringLiteral(" ") }, { Token::Word, QStringLiteral("BY") } };
    for (const auto &term : groups) {
        const int at = columnReferenceEnd(tokens, term);
        if (at < 0)
            return; // a group of an expression: left in the engine's order
        order.push_back({ Token::Space, QStringLiteral(" ") });
        for (int i = skipSpace(tokens, term.first); i < at; ++i)
            order.push_back(tokens[i]);
        for (const Token &t : collate)
            order.push_back(t);
        order.push_back({ Token::Symbol, QStringLiteral(",") });
    }
    order.removeLast();
    // Before a LIMIT, or at the end, before a closing ";" and blanks.
    int at = int(tokens.size());
    depth = 0;
    for (int i = end; i < tokens.size() && at == tokens.size(); ++i) {
        if (isSymbol(tokens[i], "("))
            ++depth;
        else if (isSymbol(tokens[i], ")"))
            --depth;
        else if (depth == 0 && (isWord(tokens[i], "limit") || isSymbol(tokens[i], ";")))
            at = i;
    }
    while (at > 0 && tokens[at - 1].kind == Token::Space)
        --at;
    for (int k = int(order.size()) - 1; k >= 0; --k)
        tokens.insert(at, order[k]);
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
    QVector<Token> tokens = tokenize(sql);
    for (Token &t : tokens) {
        if (t.kind != Token::Date)
            continue;
        const QString inner = t.text.mid(1, t.text.size() - 2);
        const QDateTime dt = Regional::parseDateTime(inner);
        if (!dt.isValid() || !t.text.endsWith(QLatin1Char('#')) || t.text.size() < 2)
            throw Error(QStringLiteral("Syntax error in date in query expression '%1'.").arg(t.text));
        t.text = quoted(Regional::storageText(dt));
        t.kind = Token::String;
    }
    const int first = skipSpace(tokens, 0);
    if (first < tokens.size() && lookup) {
        if (isWord(tokens[first], "insert"))
            convertInsert(tokens, first, lookup);
        else if (isWord(tokens[first], "update"))
            convertUpdate(tokens, first, lookup);
    }
    if (first < tokens.size() && isWord(tokens[first], "select"))
        orderGroups(tokens);
    QString out;
    out.reserve(sql.size() + 16);
    for (const Token &t : tokens)
        out += t.text;
    return out;
}

} // namespace dagl::JetSql
