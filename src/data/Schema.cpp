#include "Schema.h"

#include "Connection.h"
#include "Error.h"
#include "NumberRegister.h"
#include "SampleCatalogue.h"
#include "Sqlite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace dagl::Schema {

namespace {

FieldDef text(const char *name, int size)
{
    return {QString::fromUtf8(name), FieldType::WideString, size};
}

FieldDef integer(const char *name)
{
    return {QString::fromUtf8(name), FieldType::Integer, 0};
}

QString declaredType(const FieldDef &f)
{
    switch (f.type) {
    case FieldType::WideString:
        return QStringLiteral("VARCHAR(%1)").arg(f.size);
    case FieldType::FixedWideString:
        return QStringLiteral("CHAR(%1)").arg(f.size);
    case FieldType::Memo:
        return QStringLiteral("MEMO");
    case FieldType::Integer:
        return QStringLiteral("INTEGER");
    case FieldType::AutoInc:
        return QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT");
    case FieldType::Float:
        return QStringLiteral("DOUBLE");
    case FieldType::DateTime:
        return QStringLiteral("DATETIME");
    case FieldType::Unknown:
        break;
    }
    return {};
}

QString createTable(const QString &table, const QVector<FieldDef> &columns)
{
    QStringList parts;
    for (const FieldDef &c : columns)
        parts << quoteIdentifier(c.name) + QLatin1Char(' ') + declaredType(c);
    return QStringLiteral("CREATE TABLE %1 (%2)").arg(quoteIdentifier(table), parts.join(QStringLiteral(", ")));
}

void exec(sqlite3 *db, const QString &sql)
{
    Statement statement(db, sql);
    statement.step();
}

} // namespace

const QVector<FieldDef> &catalogueColumns()
{
    static const QVector<FieldDef> columns = {
        {QStringLiteral("str_m_date"), FieldType::AutoInc, 0},
        text("GDM", 10), text("DWDM", 10), text("DWMC", 100), text("QZH", 10), text("MLH", 10),
        integer("AJH"), text("SXH", 4), text("HH", 4), text("JH", 4), text("GDND", 4), text("BGQX", 10),
        text("MJ", 10), text("ZRZ", 200), text("WH", 200), text("JGWT", 100), text("TM", 250),
        text("CWSJ", 8), integer("YH"), text("DALX", 10), text("KZBS", 2), text("BZ", 200),
        text("PSZ", 20), text("PSDD", 50), text("人名", 200), text("DZWJM", 255), text("XXLX", 50),
        text("SJLX", 15),
    };
    return columns;
}

QVector<FieldDef> catalogueFields()
{
    static const char *const order[] = {"ZRZ", "WH", "CWSJ", "QZH", "MLH", "AJH", "YH", "MJ", "BGQX", "BZ",
                                        "SXH", "XXLX", "DZWJM", "str_m_date", "人名", "TM", "GDND", "HH",
                                        "JH", "JGWT", "KZBS", "PSDD", "PSZ", "DWMC", "DWDM", "DALX", "GDM",
                                        "SJLX"};
    QVector<FieldDef> fields;
    for (const char *name : order) {
        for (const FieldDef &c : catalogueColumns()) {
            if (c.name == QString::fromUtf8(name))
                fields.push_back(c);
        }
    }
    return fields;
}

const QVector<FieldDef> &unitColumns()
{
    static const QVector<FieldDef> columns = {
        {QStringLiteral("GDM"), FieldType::FixedWideString, 10}, text("DWDM", 10), text("QZH", 4), text("DWMC", 50)};
    return columns;
}

QVector<Table> tables(const QStringList &rightCodes)
{
    const FieldDef key{QStringLiteral("id"), FieldType::AutoInc, 0};
    QVector<FieldDef> rights = {text("glyid", 10)};
    for (const QString &code : rightCodes)
        rights.push_back({code, FieldType::WideString, 1});
    return {
        {kCatalogueTable, catalogueColumns()},
        {QStringLiteral("ljserver"), unitColumns()},
        {QStringLiteral("移交表"),
         {key, text("yjbh", 50), text("yjr", 50), text("jsr", 50),
          {QStringLiteral("yjrq"), FieldType::DateTime, 0},
          {QStringLiteral("jsrq"), FieldType::DateTime, 0},
          {QStringLiteral("yjnr"), FieldType::Memo, 0}}},
        {QStringLiteral("gly"), {key, text("glymc", 50), text("mm", 50)}},
        {QStringLiteral("qx"), rights},
        {QStringLiteral("rz"), {key, text("rznr", 255), {QStringLiteral("sj"), FieldType::DateTime, 0}}},
    };
}

QStringList tableStatements(const QStringList &rightCodes)
{
    QStringList statements;
    for (const Table &table : tables(rightCodes))
        statements << createTable(table.name, table.columns);
    return statements;
}

namespace {

// Columns a title click sorts often enough to keep an index in their order: the title.
const char *const kSortIndexed[] = { "TM" };

} // namespace

SearchIndex::Spec searchIndex()
{
    return { kCatalogueTable, { QStringLiteral("TM"), QStringLiteral("ZRZ"), QStringLiteral("WH") } };
}

SortKeys::Spec sortKeys()
{
    SortKeys::Spec spec { kCatalogueTable, {} };
    for (const char *column : kSortIndexed)
        spec.columns << QLatin1String(column);
    return spec;
}

bool ensureSortIndex(Connection &connection, const QString &field, const std::function<bool(qint64, qint64)> &progress)
{
    const SortKeys::Spec spec = sortKeys();
    // A server sorts through its own collation.
    if (connection.onServer() || !spec.covers(kCatalogueTable, field) || SortKeys::exists(connection.handle(), field)
        || !connection.tableNames().contains(kCatalogueTable, Qt::CaseInsensitive))
        return true;
    return SortKeys::build(connection.handle(), kCatalogueTable, field, progress);
}

void ensureNumberIndexes(Connection &connection)
{
    if (!connection.tableNames().contains(kCatalogueTable, Qt::CaseInsensitive))
        return;
    // The engine's own dialect: the expressions must stay exactly as the look-ups write them.
    if (connection.onServer()) {
        // Only the tables' owner may make or drop an index, even one that is there already or
        // gone already; a clerk's account finds them as the database tool or the owner left them.
        static const QRegularExpression named(QStringLiteral("IF (?:NOT )?EXISTS (\\S+)"));
        const auto present = [&connection](const QString &sql) {
            return !connection.server()
                        .scalarNative(QStringLiteral("SELECT 1 FROM pg_indexes WHERE schemaname = current_schema() "
                                                     "AND indexname = $1"),
                            { named.match(sql).captured(1) })
                        .isNull();
        };
        // Indexes of an earlier reading of the numbers go once the new ones stand: they would
        // only slow every save.
        for (const QString &sql : NumberRegister::indexStatements(true))
            if (!present(sql))
                connection.execute(sql);
        for (const QString &sql : NumberRegister::retiredIndexStatements())
            if (present(sql))
                connection.execute(sql);
        return;
    }
    const QStringList statements = NumberRegister::indexStatements(false) + NumberRegister::retiredIndexStatements();
    for (const QString &sql : statements)
        exec(connection.handle(), sql);
}

QStringList indexStatements()
{
    return {
        QStringLiteral("CREATE INDEX ix_wjml_sxh ON 文件目录 (SXH)"),
        QStringLiteral("CREATE INDEX ix_wjml_order ON 文件目录 (QZH, MLH, AJH, YH)"),
        QStringLiteral("CREATE INDEX ix_wjml_gdnd ON 文件目录 (GDND)"),
        QStringLiteral("CREATE INDEX ix_wjml_bgqx ON 文件目录 (BGQX)"),
        QStringLiteral("CREATE INDEX ix_qx_glyid ON qx (glyid)"),
        QStringLiteral("CREATE INDEX ix_rz_sj ON rz (sj)"),
    };
}

void create(const NewDatabase &spec)
{
    if (QFileInfo::exists(spec.path))
        throw Error(QStringLiteral("数据库文件已存在，不会覆盖：%1").arg(spec.path));
    QDir().mkpath(QFileInfo(spec.path).absolutePath());
    // Built under a temporary name and renamed at the end, so a failure leaves no half file.
    const QString building = spec.path + QStringLiteral(".new");
    QFile::remove(building);
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(building).constData(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        const QString message = db ? sqliteError(db) : QStringLiteral("out of memory");
        sqlite3_close(db);
        throw Error(message);
    }
    try {
        const QByteArray password = spec.password.toUtf8();
        if (!password.isEmpty())
            sqlite3_key(db, password.constData(), int(password.size()));
        exec(db, QStringLiteral("BEGIN"));
        for (const QString &sql : tableStatements(spec.rightCodes))
            exec(db, sql);
        Statement op(db, QStringLiteral("INSERT INTO gly (id, glymc, mm) VALUES (1, ?, '')"));
        op.bind(1, spec.operatorName);
        op.step();
        QStringList columns{QStringLiteral("glyid")}, values{QStringLiteral("'1'")};
        for (const QString &code : spec.rightCodes) {
            columns << code;
            values << QStringLiteral("'1'");
        }
        exec(db, QStringLiteral("INSERT INTO qx (%1) VALUES (%2)").arg(columns.join(QLatin1Char(',')),
                                                                       values.join(QLatin1Char(','))));
        exec(db, QStringLiteral("INSERT INTO ljserver (GDM, DWDM, QZH, DWMC) VALUES (NULL, NULL, NULL, NULL)"));
        if (spec.sampleRecords > 0)
            SampleCatalogue::insert(db, spec.sampleRecords, 1);
        for (const QString &sql : indexStatements())
            exec(db, sql);
        for (const QString &sql : NumberRegister::indexStatements())
            exec(db, sql);
        // Made now, a new catalogue never waits for them at its first search or title click.
        SearchIndex::build(db, searchIndex(), {});
        for (const QString &column : sortKeys().columns)
            SortKeys::build(db, kCatalogueTable, column);
        exec(db, QStringLiteral("COMMIT"));
    } catch (...) {
        sqlite3_close(db);
        QFile::remove(building);
        throw;
    }
    sqlite3_close(db);
    if (!QFile::rename(building, spec.path)) {
        QFile::remove(building);
        throw Error(QStringLiteral("无法创建数据库文件：%1").arg(spec.path));
    }
}

} // namespace dagl::Schema
