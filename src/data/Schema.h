#pragma once

#include "Field.h"
#include "SearchIndex.h"
#include "SortKeys.h"

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
// The catalogue columns a title click sorts through kept keys (see SortKeys).
SortKeys::Spec sortKeys();
// Makes the kept keys of the column when the catalogue lacks them, at the first sort by the
// column; `progress` (rows done, rows in all) stops it by answering false, leaving the
// catalogue as it was, and then gives false. Throws dagl::Error.
bool ensureSortIndex(Connection &connection, const QString &field,
    const std::function<bool(qint64, qint64)> &progress = {});

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
// the unit row, with the search index and the kept sort keys made. Never overwrites: throws dagl::Error when the file exists or on failure.
void create(const NewDatabase &spec);

} // namespace Schema
} // namespace dagl
