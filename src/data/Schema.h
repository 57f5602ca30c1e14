#pragma once

#include "Field.h"
#include "SearchIndex.h"

#include <QString>
#include <QStringList>
#include <QVector>

namespace dagl {

class Connection;

// The archive database: its six tables, its password and how a new file is made.
namespace Schema {

inline const QString kDatabaseFile = QStringLiteral("data/kdmx.mdb");
inline const QString kDatabasePassword = QStringLiteral("40718263950");
inline const QString kCatalogueTable = QStringLiteral("文件目录");

// The 28 columns of the catalogue, in table order.
const QVector<FieldDef> &catalogueColumns();
// The same columns in the order the shared catalogue datasets declare them.
QVector<FieldDef> catalogueFields();
// The four columns of the unit information table.
const QVector<FieldDef> &unitColumns();

// The six tables with their columns, in the order they are made.
struct Table
{
    QString name;
    QVector<FieldDef> columns;
};
QVector<Table> tables(const QStringList &rightCodes);

// The statements that create the tables and the indexes the program's orders need.
QStringList tableStatements(const QStringList &rightCodes);
QStringList indexStatements();
// The catalogue's free-text columns searched by fragment, kept in the search index.
SearchIndex::Spec searchIndex();
// The index that keeps a catalogue column in the operator's order, so that a title click
// walks it instead of sorting every row; empty for a column without one.
QString sortIndexStatement(const QString &field);
// Makes the sort index of the column when the catalogue lacks it, at the first sort by the
// column: it needs the program's order, which tools without it cannot keep up, so only a
// catalogue the program sorts gets it. Throws dagl::Error.
void ensureSortIndex(Connection &connection, const QString &field);

// Makes the indexes that keep numbers from being given twice when the catalogue lacks them
// (a database made before them). Throws dagl::Error.
void ensureNumberIndexes(Connection &connection);

struct NewDatabase
{
    QString path;
    QString password = kDatabasePassword;
    QStringList rightCodes;                             // the rights table's columns
    QString operatorName = QStringLiteral("管理员");    // logs in with an empty password
    int sampleRecords = 0;                              // generated catalogue records
};

// Creates a new database file with every table, one operator holding every right and
// the unit row. Never overwrites: throws dagl::Error when the file exists or on failure.
void create(const NewDatabase &spec);

} // namespace Schema
} // namespace dagl
