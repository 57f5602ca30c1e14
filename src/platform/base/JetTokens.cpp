#include "JetTokens.h"

#include "Error.h"
#include "Regional.h"

namespace dagl::JetTokens {

namespace {

bool isWordChar(QChar c)
{
    return (c.isLetterOrNumber() || c == QLatin1Char('_') || c.unicode() > 0x7f) && !c.isSpace();
}

// The local engine's own texts for these refusals; the server's dialect gives the same.
const QString kMismatch = QStringLiteral("Data type mismatch in criteria expression.");

// The stored form of a literal given for a column, or the literal unchanged.
QString convertForColumn(
    const QString &literal, const FieldDef &column, const std::function<QString(const QDateTime &)> &dateLiteral)
{
    const QString value = unquoteString(literal);
    switch (column.type) {
    case FieldType::DateTime: {
        if (value.trimmed().isEmpty())
            return QStringLiteral("NULL");
        const QDateTime dt = Regional::parseDateTime(value);
        if (!dt.isValid())
            throw Error(kMismatch);
        return dateLiteral(dt);
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

// Splits the tokens between an opening parenthesis at `open` and its partner at top-level
// commas; sets `close` to the partner, -1 when there is none.
QVector<Range> splitList(const Tokens &tokens, int open, int *close)
{
    QVector<Range> parts;
    int depth = 0;
    int start = open + 1;
    for (int i = open; i < tokens.size(); ++i) {
        if (tokens[i].kind != Token::Symbol)
            continue;
        if (tokens[i].text == QLatin1String("(")) {
            ++depth;
        } else if (tokens[i].text == QLatin1String(")")) {
            if (--depth == 0) {
                parts.push_back({ start, i });
                *close = i;
                return parts;
            }
        } else if (tokens[i].text == QLatin1String(",") && depth == 1) {
            parts.push_back({ start, i });
            start = i + 1;
        }
    }
    *close = -1;
    return {};
}

// The single string literal a part consists of, or -1.
int loneString(const Tokens &tokens, Range part)
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

using Convert = std::function<QString(const QString &literal, const QString &table, const QString &column)>;

void convertInsert(Tokens &tokens, int start, const Convert &convert)
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
        tokens[literal].text = convert(tokens[literal].text, table, identifierName(tokens[name]));
    }
}

void convertUpdate(Tokens &tokens, int start, const Convert &convert)
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
        if (eq >= tokens.size() || !isSymbol(tokens[eq], "="))
            continue;
        const int value = skipSpace(tokens, eq + 1);
        if (value >= tokens.size() || tokens[value].kind != Token::String)
            continue;
        const int after = skipSpace(tokens, value + 1);
        if (after < tokens.size() && !isSymbol(tokens[after], ",") && !isWord(tokens[after], "where"))
            continue;
        tokens[value].text = convert(tokens[value].text, table, identifierName(tokens[i]));
        i = value;
    }
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

} // namespace

Tokens tokenize(const QString &sql)
{
    Tokens tokens;
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
        return n;
    };
    // The token an opening character starts, with its closing character and whether a
    // doubled closing character stands for itself.
    static const struct {
        char open, close;
        Token::Kind kind;
        bool doubledEscapes;
    } kQuoted[] = {
        { '\'', '\'', Token::String, true },
        { '#', '#', Token::Date, false },
        { '"', '"', Token::Identifier, true },
        { '[', ']', Token::Identifier, false },
    };
    while (i < n) {
        const QChar c = sql[i];
        int end = i + 1;
        Token::Kind kind = Token::Symbol;
        if (c.isSpace()) {
            while (end < n && sql[end].isSpace())
                ++end;
            kind = Token::Space;
        } else if (isWordChar(c)) {
            while (end < n && isWordChar(sql[end]))
                ++end;
            kind = Token::Word;
        } else {
            for (const auto &quote : kQuoted) {
                if (c == QLatin1Char(quote.open)) {
                    end = until(QLatin1Char(quote.close), quote.doubledEscapes);
                    kind = quote.kind;
                    break;
                }
            }
        }
        tokens.push_back({ kind, sql.mid(i, end - i) });
        i = end;
    }
    return tokens;
}

QString join(const Tokens &tokens)
{
    QString out;
    for (const Token &t : tokens)
        out += t.text;
    return out;
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

int skipSpace(const Tokens &tokens, int i)
{
    while (i < tokens.size() && tokens[i].kind == Token::Space)
        ++i;
    return i;
}

void replaceDates(Tokens &tokens, const std::function<Token(const QDateTime &)> &literal)
{
    for (Token &t : tokens) {
        if (t.kind != Token::Date)
            continue;
        const QDateTime dt = Regional::parseDateTime(t.text.mid(1, t.text.size() - 2));
        if (!dt.isValid() || !t.text.endsWith(QLatin1Char('#')) || t.text.size() < 2)
            throw Error(QStringLiteral("Syntax error in date in query expression '%1'.").arg(t.text));
        t = literal(dt);
    }
}

void convertValues(
    Tokens &tokens, const ColumnLookup &lookup, const std::function<QString(const QDateTime &)> &dateLiteral)
{
    const int first = skipSpace(tokens, 0);
    if (first >= tokens.size() || !lookup)
        return;
    const Convert convert = [&](const QString &literal, const QString &table, const QString &column) {
        return convertForColumn(literal, lookup(table, column), dateLiteral);
    };
    if (isWord(tokens[first], "insert"))
        convertInsert(tokens, first, convert);
    else if (isWord(tokens[first], "update"))
        convertUpdate(tokens, first, convert);
}

Clauses topLevelClauses(const Tokens &tokens)
{
    Clauses found;
    int depth = 0;
    for (int i = 0; i < tokens.size(); ++i) {
        if (isSymbol(tokens[i], "("))
            ++depth;
        else if (isSymbol(tokens[i], ")"))
            --depth;
        if (depth != 0 || tokens[i].kind != Token::Word)
            continue;
        if (isWord(tokens[i], "union") || isWord(tokens[i], "intersect") || isWord(tokens[i], "except")) {
            found.compound = true;
            continue;
        }
        const int next = skipSpace(tokens, i + 1);
        if (next >= tokens.size() || !isWord(tokens[next], "by"))
            continue;
        if (isWord(tokens[i], "group") && found.groupBy < 0)
            found.groupBy = next + 1;
        else if (isWord(tokens[i], "order") && found.orderBy < 0)
            found.orderBy = next + 1;
    }
    return found;
}

QVector<Range> listTerms(const Tokens &tokens, int from, int *end)
{
    QVector<Range> terms;
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

int columnReferenceEnd(const Tokens &tokens, Range term)
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

void orderByGroups(Tokens &tokens, int groupBy, const Tokens &suffix)
{
    int end = -1;
    const auto groups = listTerms(tokens, groupBy, &end);
    Tokens order = { { Token::Space, QStringLiteral(" ") }, { Token::Word, QStringLiteral("ORDER") },
        { Token::Space, QStringLiteral(" ") }, { Token::Word, QStringLiteral("BY") } };
    for (const Range &term : groups) {
        const int at = columnReferenceEnd(tokens, term);
        if (at < 0)
            return; // a group of an expression: left in the engine's order
        order.push_back({ Token::Space, QStringLiteral(" ") });
        for (int i = skipSpace(tokens, term.first); i < at; ++i)
            order.push_back(tokens[i]);
        order += suffix;
        order.push_back({ Token::Symbol, QStringLiteral(",") });
    }
    order.removeLast();
    // Before a LIMIT, or at the end, before a closing ";" and blanks.
    int at = int(tokens.size());
    int depth = 0;
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

} // namespace dagl::JetTokens
