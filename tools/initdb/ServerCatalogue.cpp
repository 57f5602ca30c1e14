#include "ServerCatalogue.h"

#include "Connection.h"
#include "Error.h"
#include "NumberRegister.h"
#include "PgConnection.h"
#include "PgSchema.h"
#include "Regional.h"
#include "Schema.h"
#include "Sqlite.h"

#include <QRegularExpression>

namespace dagl::ServerCatalogue {

namespace {

QVector<PgTable> serverTables(const QStringList &rightCodes)
{
    QVector<PgTable> tables;
    for (const Schema::Table &t : Schema::tables(rightCodes))
        tables.push_back({t.name, t.columns});
    return tables;
}

void refuseNonEmpty(PgConnection &server)
{
    const QStringList existing = PgSchema::relations(server);
    if (!existing.isEmpty())
        throw Error(QStringLiteral("服务器上的数据库 %1 不是空的（已有 %2），不会在里面建表或复制。")
                        .arg(server.settings().displayName(), existing.mid(0, 3).join(QStringLiteral("、"))),
                    Cause::InUse);
}

void createTables(PgConnection &server, const QVector<PgTable> &tables)
{
    server.executeNative(PgSchema::collationStatement());
    for (const PgTable &table : tables)
        server.executeNative(PgSchema::createTableStatement(table));
}

// The file's indexes, each column's missing values first as the program's order has them
// (see PgDialect), so that the server walks them for the lists' order instead of sorting.
void createIndexes(PgConnection &server)
{
    static const QRegularExpression columns(QStringLiteral("\\(([^()]*)\\)\\s*$"));
    for (QString sql : Schema::indexStatements()) {
        const QRegularExpressionMatch list = columns.match(sql);
        if (list.hasMatch()) {
            QStringList names = list.captured(1).split(QLatin1Char(','));
            for (QString &name : names)
                name = name.trimmed() + QStringLiteral(" NULLS FIRST");
            sql.replace(list.capturedStart(1), list.capturedLength(1), names.join(QStringLiteral(", ")));
        }
        server.execute(sql);
    }
    // The look-ups that keep a number from being given twice, so that a clerk's account
    // (not the tables' owner) never has to make them.
    for (const QString &sql : NumberRegister::indexStatements(true))
        server.execute(sql);
}

// A local value as the server column takes it; throws with the table, row and column
// named when the local file holds something the server column cannot.
QVariant serverValue(const QVariant &value, const FieldDef &column, const QString &table, qlonglong row)
{
    if (value.isNull())
        return value;
    auto refuse = [&](const QString &why) {
        return Error(QStringLiteral("本地数据库表“%1”第 %2 行的“%3”%4：%5")
                         .arg(table)
                         .arg(row)
                         .arg(column.name, why, value.toString().left(50)));
    };
    switch (column.type) {
    case FieldType::DateTime: {
        if (value.toString().trimmed().isEmpty())
            return QVariant();
        const QDateTime dt = Regional::fromStorageText(value.toString());
        if (!dt.isValid())
            throw refuse(QStringLiteral("不是日期"));
        return dt;
    }
    case FieldType::Integer:
    case FieldType::AutoInc: {
        if (value.typeId() == QMetaType::LongLong || value.typeId() == QMetaType::Int)
            return value;
        bool ok = false;
        const qlonglong number = value.toString().trimmed().toLongLong(&ok);
        if (!ok)
            throw refuse(QStringLiteral("不是整数"));
        return number;
    }
    case FieldType::Float: {
        bool ok = false;
        const double number = value.toDouble(&ok);
        if (!ok)
            throw refuse(QStringLiteral("不是数值"));
        return number;
    }
    default: {
        const QString text = value.toString();
        if (column.size > 0 && text.size() > column.size)
            throw refuse(QStringLiteral("超过了 %1 个字").arg(column.size));
        return text;
    }
    }
}

TableCount copyTable(PgConnection &server, Connection &local, const PgTable &table)
{
    const QVector<FieldDef> localColumns = local.tableColumns(table.name);
    if (localColumns.isEmpty())
        throw Error(QStringLiteral("本地数据库里没有表“%1”。").arg(table.name), Cause::NotFound);
    // Every local column must have its place on the server, so that nothing is left behind.
    QVector<FieldDef> columns;
    QStringList names, selected;
    for (const FieldDef &own : localColumns) {
        const auto it = std::find_if(table.columns.cbegin(), table.columns.cend(), [&](const FieldDef &c) {
            return c.name.compare(own.name, Qt::CaseInsensitive) == 0;
        });
        if (it == table.columns.cend())
            throw Error(QStringLiteral("本地数据库表“%1”的列“%2”在服务器的表里没有。").arg(table.name, own.name));
        columns.push_back(*it);
        names << it->name;
        selected << quoteIdentifier(own.name);
    }
    TableCount count{table.name, 0};
    Statement rows(local.handle(), QStringLiteral("SELECT %1 FROM %2 ORDER BY rowid")
                                       .arg(selected.join(QStringLiteral(", ")), quoteIdentifier(table.name)));
    server.copyBegin(table.name, names);
    try {
        QVariantList values;
        while (rows.step()) {
            ++count.rows;
            values.clear();
            for (int c = 0; c < columns.size(); ++c)
                values << serverValue(rows.column(c), columns[c], table.name, count.rows);
            server.copyRow(values);
        }
    } catch (...) {
        // The stream is ended so that the connection can roll the transaction back.
        try {
            server.copyEnd();
        } catch (const Error &) {
        }
        throw;
    }
    server.copyEnd();
    PgSchema::advanceKey(server, table);
    const qlonglong stored
        = server.scalarNative(QStringLiteral("SELECT count(*) FROM %1").arg(PgSchema::quotedName(table.name.toLower()))).toLongLong();
    if (stored != count.rows)
        throw Error(QStringLiteral("表“%1”复制了 %2 行，服务器上却有 %3 行。").arg(table.name).arg(count.rows).arg(stored));
    return count;
}

} // namespace

void create(PgConnection &server, const QStringList &rightCodes, const QString &operatorName)
{
    refuseNonEmpty(server);
    const QVector<PgTable> tables = serverTables(rightCodes);
    PgTransaction transaction(server);
    createTables(server, tables);
    server.execute(QStringLiteral("INSERT INTO gly (id, glymc, mm) VALUES (1, ?, '')"), {operatorName});
    QStringList columns{QStringLiteral("glyid")}, values{QStringLiteral("'1'")};
    for (const QString &code : rightCodes) {
        columns << code;
        values << QStringLiteral("'1'");
    }
    server.execute(QStringLiteral("INSERT INTO qx (%1) VALUES (%2)")
                       .arg(columns.join(QLatin1Char(',')), values.join(QLatin1Char(','))));
    server.execute(QStringLiteral("INSERT INTO ljserver (GDM, DWDM, QZH, DWMC) VALUES (NULL, NULL, NULL, NULL)"));
    for (const PgTable &table : tables)
        PgSchema::advanceKey(server, table);
    createIndexes(server);
    transaction.commit();
}

void grant(PgConnection &server, const QString &role)
{
    if (server.scalarNative(QStringLiteral("SELECT 1 FROM pg_roles WHERE rolname = $1"), {role}).isNull())
        throw Error(QStringLiteral("数据库服务器上没有用户“%1”。请先建立它：CREATE ROLE %2 LOGIN PASSWORD '……';")
                        .arg(role, PgSchema::quotedName(role)),
                    Cause::NotFound);
    const QString who = PgSchema::quotedName(role);
    const QString database = server.scalarNative(QStringLiteral("SELECT current_database()")).toString();
    QStringList tables;
    for (const Schema::Table &table : Schema::tables({})) {
        const QString name = table.name.toLower();
        if (server.tableColumns(name).isEmpty())
            throw Error(QStringLiteral("数据库 %1 里还没有本系统的表（没有“%2”），请先用 dagl-initdb --server 建表。")
                            .arg(database, table.name),
                        Cause::NotFound);
        tables << PgSchema::quotedName(name);
    }
    PgTransaction transaction(server);
    server.executeNative(QStringLiteral("GRANT CONNECT ON DATABASE %1 TO %2").arg(PgSchema::quotedName(database), who));
    server.executeNative(QStringLiteral("GRANT USAGE ON SCHEMA public TO %1").arg(who));
    server.executeNative(QStringLiteral("GRANT SELECT, INSERT, UPDATE, DELETE ON %1 TO %2")
                             .arg(tables.join(QStringLiteral(", ")), who));
    // The sequences behind the keys the server gives new rows.
    QStringList sequences;
    {
        PgRows rows(server,
                    QStringLiteral("SELECT DISTINCT pg_get_serial_sequence(format('%I', c.relname), a.attname) "
                                   "FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                                   "JOIN pg_attribute a ON a.attrelid = c.oid "
                                   "WHERE n.nspname = 'public' AND c.relname = ANY($1::text[]) AND a.attnum > 0 "
                                   "AND NOT a.attisdropped AND pg_get_serial_sequence(format('%I', c.relname), "
                                   "a.attname) IS NOT NULL"),
                    {QStringLiteral("{") + tables.join(QLatin1Char(',')) + QLatin1Char('}')}, true);
        while (rows.next())
            sequences << rows.value(0).toString();
    }
    if (!sequences.isEmpty())
        server.executeNative(QStringLiteral("GRANT USAGE, SELECT ON SEQUENCE %1 TO %2").arg(sequences.join(QStringLiteral(", ")), who));
    transaction.commit();
}

QVector<TableCount> copyFrom(PgConnection &server, Connection &local, const QStringList &rightCodes)
{
    refuseNonEmpty(server);
    QVector<PgTable> tables = serverTables(rightCodes);
    // The rights table is made with the local file's own right columns, which may be more
    // or fewer than this version's.
    for (PgTable &table : tables) {
        if (table.name == QLatin1String("qx") && !local.tableColumns(table.name).isEmpty())
            table.columns = local.tableColumns(table.name);
    }
    QVector<TableCount> counts;
    PgTransaction transaction(server);
    createTables(server, tables);
    for (const PgTable &table : tables)
        counts << copyTable(server, local, table);
    createIndexes(server);
    transaction.commit();
    return counts;
}

} // namespace dagl::ServerCatalogue
