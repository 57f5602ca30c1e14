#include "PgDialect.h"

#include "Error.h"

#include <QRegularExpression>
#include <QVector>

namespace dagl::PgDialect {

namespace {

struct Token
{
    enum Kind { Word, String, Date, Identifier, Symbol, Space };
    Kind kind;
    QString text; // as written, quotes included
};

bool isWordChar(QChar c)
{
    return (c.isLetterOrNumber() || c == QLatin1Char('_') || c.unicode() > 0x7f) && !c.isSpace();
}

QVector<Token> tokenize(const QString &sql)
{
    QVector<Token> tokens;
    int i = 0;
    const int n = int(sql.size());
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
        return n; // unterminated: the server reports it
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
        } else if (isWordChar(c)) {
            while (end < n && isWordChar(sql[end]))
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
    if (t.kind != Token::Identifier)
        return t.text;
    QString inner = t.text.mid(1, t.text.size() - 2);
    if (t.text.startsWith(QLatin1Char('"')))
        inner.replace(QStringLiteral("\"\""), QStringLiteral("\""));
    return inner;
}

bool isWord(const Token &t, const char *word)
{
    return t.kind == Token::Word && t.text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
}

bool isSymbol(const Token &t, const char *symbol)
{
    return t.kind == Token::Symbol && t.text == QLatin1String(symbol);
}

int skipSpace(const QVector<Token> &tokens, int i)
{
    while (i < tokens.size() && tokens[i].kind == Token::Space)
        ++i;
    return i;
}

// The local engine's texts for the same refusals, so that both read alike.
const QString kMismatch = QStringLiteral("Data type mismatch in criteria expression.");

QString convertForColumn(const QString &literal, const FieldDef &column)
{
    const QString value = unquoteString(literal);
    switch (column.type) {
    case FieldType::DateTime: {
        if (value.trimmed().isEmpty())
            return QStringLiteral("NULL");
        const QDateTime dt = parseDateTime(value);
        if (!dt.isValid())
            throw Error(kMismatch);
        return timestampLiteral(dt);
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

// The parts [first, last) between the parenthesis at `open` and its partner, split at
// top-level commas; `close` is set to the partner, -1 when there is none.
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
    if (i >= tokens.size() || !isSymbol(tokens[i], "("))
        return;
    int close = -1;
    const auto columns = splitList(tokens, i, &close);
    if (close < 0)
        return;
    i = skipSpace(tokens, close + 1);
    if (i >= tokens.size() || !isWord(tokens[i], "values"))
        return;
    i = skipSpace(tokens, i + 1);
    if (i >= tokens.size() || !isSymbol(tokens[i], "("))
        return;
    const auto values = splitList(tokens, i, &close);
    for (int c = 0; c < columns.size() && c < values.size(); ++c) {
        const int literal = loneString(tokens, values[c]);
        const int name = skipSpace(tokens, columns[c].first);
        if (literal < 0 || name >= columns[c].second)
            continue;
        tokens[literal].text = convertForColumn(tokens[literal].text, lookup(table, identifierName(tokens[name])));
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
    for (i = i + 1; i < tokens.size() && !isWord(tokens[i], "where"); ++i) {
        if (tokens[i].kind != Token::Word && tokens[i].kind != Token::Identifier)
            continue;
        const int eq = skipSpace(tokens, i + 1);
        if (eq >= tokens.size() || !isSymbol(tokens[eq], "="))
            continue;
        const int value = skipSpace(tokens, eq + 1);
        if (value >= tokens.size() || tokens[value].kind != Token::String)
            continue;
        const int after = skipSpace(tokens, value + 1);
        if (after < tokens.size() && !isSymbol(tokens[after], ",") && !isWord(tokens[after], "where"))
            continue;
        tokens[value].text = convertForColumn(tokens[value].text, lookup(table, identifierName(tokens[i])));
        i = value;
    }
}

bool endsList(const Token &t)
{
    static const char *const clauses[]
        = {"having", "order", "limit", "offset", "window", "union", "intersect", "except"};
    if (isSymbol(t, ",") || isSymbol(t, ";"))
        return true;
    for (const char *word : clauses) {
        if (isWord(t, word))
            return true;
    }
    return false;
}

// A plain column reference (name or table.name) making up a whole term.
bool isColumnReference(const QVector<Token> &tokens, QPair<int, int> term)
{
    int i = skipSpace(tokens, term.first);
    bool name = false;
    while (i < term.second) {
        const Token &t = tokens[i];
        if (!((t.kind == Token::Word && !t.text.at(0).isDigit()) || t.kind == Token::Identifier))
            return false;
        name = true;
        const int next = i + 1;
        if (next < term.second && isSymbol(tokens[next], "."))
            i = next + 1;
        else
            return skipSpace(tokens, next) >= term.second;
    }
    return name;
}

// The local engine lists the groups of a grouped select without an order in order; the
// server, which groups by hashing, would not. The order of text follows the columns'
// collation.
void orderGroups(QVector<Token> &tokens)
{
    int depth = 0;
    int groupBy = -1;
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
        if (isWord(tokens[i], "order"))
            return;
        if (isWord(tokens[i], "group") && groupBy < 0)
            groupBy = next + 1;
    }
    if (groupBy < 0)
        return;
    QVector<QPair<int, int>> terms;
    depth = 0;
    int start = groupBy, end = groupBy;
    for (; end < tokens.size(); ++end) {
        if (isSymbol(tokens[end], "("))
            ++depth;
        else if (isSymbol(tokens[end], ")"))
            --depth;
        if (depth > 0 || !endsList(tokens[end]))
            continue;
        terms.push_back({start, end});
        if (!isSymbol(tokens[end], ","))
            break;
        start = end + 1;
    }
    if (end >= tokens.size())
        terms.push_back({start, end});
    QString order = QStringLiteral(" ORDER BY");
    for (const auto &term : terms) {
        if (!isColumnReference(tokens, term))
            return; // a group of an expression: left in the server's order
        QString text;
        for (int i = skipSpace(tokens, term.first); i < term.second; ++i)
            text += tokens[i].text;
        order += QLatin1Char(' ') + text.trimmed() + QLatin1Char(',');
    }
    order.chop(1);
    // Before a LIMIT, or at the end before a closing ";" and blanks.
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
    tokens.insert(at, Token{Token::Word, order});
}

} // namespace

QDateTime parseDateTime(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral(
        R"(^\s*(\d{4})[/\-.](\d{1,2})[/\-.](\d{1,2})(?:[ T]+(\d{1,2}):(\d{1,2})(?::(\d{1,2}))?)?\s*$)"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return {};
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    QTime time(0, 0);
    if (m.capturedLength(4) > 0)
        time = QTime(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    if (!date.isValid() || !time.isValid())
        return {};
    return QDateTime(date, time);
}

QString timestampLiteral(const QDateTime &value)
{
    return QStringLiteral("TIMESTAMP '%1'").arg(value.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

QString translate(const QString &sql, const ColumnLookup &lookup)
{
    QVector<Token> tokens = tokenize(sql);
    for (Token &t : tokens) {
        if (t.kind != Token::Date)
            continue;
        const QDateTime dt = parseDateTime(t.text.mid(1, t.text.size() - 2));
        if (!dt.isValid() || !t.text.endsWith(QLatin1Char('#')) || t.text.size() < 2)
            throw Error(QStringLiteral("Syntax error in date in query expression '%1'.").arg(t.text));
        t.text = timestampLiteral(dt);
        t.kind = Token::Word;
    }
    const int first = skipSpace(tokens, 0);
    if (first < tokens.size() && lookup) {
        if (isWord(tokens[first], "insert"))
            convertInsert(tokens, first, lookup);
        else if (isWord(tokens[first], "update"))
            convertUpdate(tokens, first, lookup);
    }

    // Names, bound values and like in the server's terms, before the groups' order is
    // written from the same tokens.
    int parameter = 0;
    for (int i = 0; i < tokens.size(); ++i) {
        Token &t = tokens[i];
        if (t.kind == Token::Identifier) {
            QString name = identifierName(t).toLower();
            name.replace(QLatin1Char('"'), QStringLiteral("\"\""));
            t.text = QLatin1Char('"') + name + QLatin1Char('"');
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
    if (first < tokens.size() && isWord(tokens[first], "select"))
        orderGroups(tokens);

    QString out;
    out.reserve(sql.size() + 16);
    for (const Token &t : tokens)
        out += t.text;
    return out;
}

} // namespace dagl::PgDialect
