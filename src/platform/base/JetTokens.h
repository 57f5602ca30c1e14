#pragma once

#include "Field.h"

#include <QDateTime>
#include <QPair>
#include <QString>
#include <QVector>
#include <functional>

namespace dagl {

// The statements the program writes, in the Jet dialect, cut into tokens, and the rewrites
// both engines make of them alike. Each engine's dialect says only what its own terms are
// (how a date is written, how text is ordered); joining the tokens again gives the
// statement back unchanged where nothing was rewritten.
namespace JetTokens {

struct Token {
    enum Kind { Word, String, Date, Identifier, Symbol, Space };
    Kind kind;
    QString text; // as written, quotes included
};
using Tokens = QVector<Token>;
// A range [first, last) of token indexes.
using Range = QPair<int, int>;

using ColumnLookup = std::function<FieldDef(const QString &table, const QString &column)>;

// 'strings', "names", [names], #dates#, words (Chinese included), runs of blanks and single
// symbols. An unterminated quote runs to the end: the engine reports it.
Tokens tokenize(const QString &sql);
QString join(const Tokens &tokens);

// The text of a 'string' token.
QString unquoteString(const QString &literal);
// The name a word, "name" or [name] token stands for.
QString identifierName(const Token &t);
bool isWord(const Token &t, const char *word);
bool isSymbol(const Token &t, const char *symbol);
// Index of the next token that is not blank, from `i` on.
int skipSpace(const Tokens &tokens, int i);

// Every #date# literal as the engine writes a date/time value. Throws dagl::Error on one
// that is no date.
void replaceDates(Tokens &tokens, const std::function<Token(const QDateTime &)> &literal);

// In an insert or update, the quoted texts given for a date/time column become dates
// written by `dateLiteral`, those for an integer column numbers; a text that is no date, no
// number, or is longer than its text column throws dagl::Error. Other statements are left.
void convertValues(
    Tokens &tokens, const ColumnLookup &lookup, const std::function<QString(const QDateTime &)> &dateLiteral);

// Where GROUP BY and ORDER BY lists start (the first token after "by"; -1 when absent) at
// the top level of a select, and whether it is a compound select (union, intersect, except).
struct Clauses {
    int groupBy = -1;
    int orderBy = -1;
    bool compound = false;
};
Clauses topLevelClauses(const Tokens &tokens);

// The terms of a top-level list starting at `from`; sets `end` to where the list stops.
QVector<Range> listTerms(const Tokens &tokens, int from, int *end);

// The end of a plain column reference (name, or table.name) making up a term before an
// optional ASC or DESC, or -1 when the term is anything else (an expression, a column
// number, a collation of its own).
int columnReferenceEnd(const Tokens &tokens, Range term);

// Orders a grouped select without an order by its groups: appends ORDER BY with each group
// followed by `suffix`, before a LIMIT or the closing ";". Leaves the statement when a group
// is an expression.
void orderByGroups(Tokens &tokens, int groupBy, const Tokens &suffix);

} // namespace JetTokens
} // namespace dagl
