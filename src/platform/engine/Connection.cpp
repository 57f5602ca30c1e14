#include "Connection.h"

#include "Collation.h"
#include "Error.h"
#include "JetSql.h"
#include "ServerRows.h"
#include "Sqlite.h"
#include "SqliteRows.h"

#include <QDebug>
#include <QFileInfo>

namespace dagl {

Connection::Connection(QObject *parent) : QObject(parent) {}

Connection::~Connection()
{
    // Datasets still reading apart stop before the reader goes.
    close();
    sqlite3_close(m_reader);
}

QString Connection::connectionValue(const QString &connectionString, const QString &name)
{
    const QStringList pairs = connectionString.split(QLatin1Char(';'));
    for (const QString &pair : pairs) {
        const int eq = pair.indexOf(QLatin1Char('='));
        if (eq > 0 && pair.left(eq).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return pair.mid(eq + 1).trimmed();
    }
    return {};
}

void Connection::setServer(const PgSettings &settings)
{
    close();
    if (settings.host.isEmpty() && settings.service.isEmpty())
        m_server.reset();
    else
        m_server = std::make_unique<PgConnection>(settings);
}

PgConnection &Connection::server() const
{
    if (!m_server)
        throw Error(QStringLiteral("数据库不在服务器上。"));
    return *m_server;
}

QString Connection::displayName() const
{
    return m_server ? m_server->settings().displayName() : databasePath();
}

QString Connection::databasePath() const
{
    return connectionValue(m_connectionString, QStringLiteral("Data Source"))
        .replace(QLatin1Char('\\'), QLatin1Char('/'));
}

void Connection::open()
{
    if (isOpen())
        return;
    if (m_server) {
        m_server->open();
        m_columns.clear();
        emit opened();
        return;
    }
    const QString path = databasePath();
    if (path.isEmpty() || !QFileInfo(path).isFile())
        throw Error(causeText(Cause::NotFound), Cause::NotFound, QStringLiteral("Could not find file '%1'.").arg(path));
    // Taken before the file is opened, so that a file being replaced is never opened.
    const bool heldBefore = m_lock.isLocked();
    if (!heldBefore)
        m_lock.lockShared(path);
    sqlite3 *db = nullptr;
    try {
        // Opened for reading and writing by this and any other program at the same time.
        const int rc = sqlite3_open_v2(
            QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
        if (rc != SQLITE_OK)
            throw sqliteFailure(db, rc);
        const QByteArray password
            = connectionValue(m_connectionString, QStringLiteral("Jet OLEDB:Database Password")).toUtf8();
        if (!password.isEmpty())
            sqlite3_key(db, password.constData(), int(password.size()));
        sqlite3_busy_timeout(db, 5000);
        // The key is only checked once the file is read; what else the first read meets (a
        // file locked by another program, a damaged file) is said as what it is.
        const int read = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
        if (read == SQLITE_NOTADB && !password.isEmpty())
            throw Error(causeText(Cause::WrongPassword), Cause::WrongPassword, QStringLiteral("Not a valid password."));
        if (read != SQLITE_OK)
            throw sqliteFailure(db, read);
    } catch (const Error &) {
        sqlite3_close(db);
        if (!heldBefore)
            m_lock.unlock();
        throw;
    }
    Collation::install(db);
    SearchIndex::install(db);
    m_db = db;
    m_columns.clear();
    // What earlier versions left that only the program can write through is replaced, so
    // that other tools can write the file; left for later when the file cannot be written now.
    try {
        SearchIndex::upgrade(db, m_searchIndex);
        SortKeys::upgrade(db, m_sortKeys);
    } catch (const Error &error) {
        qWarning().noquote() << "indexes of an earlier version kept for now:" << error.message();
    }
    emit opened();
}

void Connection::close()
{
    if (!isOpen())
        return;
    m_transactionDepth = 0;
    emit closing();
    if (m_server) {
        m_server->close();
        return;
    }
    sqlite3_close(m_reader);
    m_reader = nullptr;
    sqlite3_close(m_db);
    m_db = nullptr;
    m_columns.clear();
    if (!m_lock.isExclusive())
        m_lock.unlock();
}

void Connection::reconnect()
{
    if (!m_server)
        return;
    if (!m_server->isOpen()) {
        open();
        return;
    }
    m_server->reconnect();
    m_transactionDepth = 0;
    emit reconnected();
}

bool Connection::claimExclusive()
{
    // A server keeps its own count of who is connected (see PgMaintenance).
    if (m_server)
        return true;
    if (!m_lock.isLocked()) {
        try {
            m_lock.lockShared(databasePath());
        } catch (const Error &error) {
            if (error.cause() == Cause::InUse)
                return false;
            throw;
        }
    }
    if (m_lock.tryExclusive())
        return true;
    if (!m_db)
        m_lock.unlock();
    return false;
}

void Connection::releaseExclusive()
{
    if (m_server)
        return;
    if (m_db)
        m_lock.toShared();
    else
        m_lock.unlock();
}

std::unique_ptr<RowDriver> Connection::rowDriver()
{
    if (m_server)
        return serverRowDriver(*m_server);
    return sqliteRowDriver(*this);
}

sqlite3 *Connection::handle() const
{
    if (!m_db || m_server)
        throw Error(QStringLiteral("Connection cannot be used to perform this operation. It is either closed or "
                                   "invalid in this context."));
    return m_db;
}

QStringList Connection::tableNames() const
{
    if (m_server)
        return m_server->tableNames();
    Statement query(handle(), QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' AND name NOT "
                                             "LIKE 'sqlite_%' ORDER BY name"));
    QStringList names;
    while (query.step())
        names << query.column(0).toString();
    return names;
}

QVector<FieldDef> Connection::tableColumns(const QString &table) const
{
    if (m_server)
        return m_server->tableColumns(table);
    const QString key = table.toLower();
    auto it = m_columns.constFind(key);
    if (it != m_columns.constEnd())
        return *it;
    QVector<FieldDef> columns;
    Statement info(handle(), QStringLiteral("PRAGMA table_info(%1)").arg(quoteIdentifier(table)));
    while (info.step()) {
        const QString name = info.column(1).toString();
        const QString type = info.column(2).toString();
        bool autoIncrement = false;
        if (info.column(5).toInt() > 0) {
            int notNull = 0, primaryKey = 0, autoInc = 0;
            const char *declared = nullptr, *collation = nullptr;
            sqlite3_table_column_metadata(m_db, nullptr, table.toUtf8().constData(), name.toUtf8().constData(),
                                          &declared, &collation, &notNull, &primaryKey, &autoInc);
            autoIncrement = autoInc != 0;
        }
        columns.push_back(fieldFromDeclaredType(name, type, autoIncrement));
    }
    m_columns.insert(key, columns);
    return columns;
}

FieldDef Connection::column(const QString &table, const QString &column) const
{
    const QVector<FieldDef> columns = tableColumns(table);
    for (const FieldDef &def : columns) {
        if (def.name.compare(column, Qt::CaseInsensitive) == 0)
            return def;
    }
    return FieldDef{column, FieldType::Unknown, 0};
}

QString Connection::translate(const QString &sql) const
{
    if (m_server)
        return m_server->translate(sql);
    return JetSql::translate(sql, [this](const QString &table, const QString &name) { return column(table, name); });
}

int Connection::execute(const QString &sql)
{
    int changed = 0;
    if (m_server) {
        changed = m_server->execute(sql);
    } else {
        Statement statement(handle(), translate(sql));
        statement.step();
        changed = sqlite3_changes(m_db);
    }
    // A change of the schema invalidates what is known of the tables.
    const QString verb = sql.trimmed().section(QLatin1Char(' '), 0, 0).toLower();
    if (verb == QLatin1String("create") || verb == QLatin1String("alter") || verb == QLatin1String("drop")) {
        m_columns.clear();
        if (m_server)
            m_server->forgetColumns();
    }
    return changed;
}

void Connection::beginTransaction()
{
    if (m_server) {
        server().beginTransaction();
        ++m_transactionDepth;
        return;
    }
    Statement(handle(), QStringLiteral("SAVEPOINT dagl_%1").arg(m_transactionDepth)).step();
    ++m_transactionDepth;
}

void Connection::commit()
{
    if (m_transactionDepth == 0)
        throw Error(QStringLiteral("No transaction is active."));
    if (m_server)
        server().commit();
    else
        Statement(handle(), QStringLiteral("RELEASE dagl_%1").arg(m_transactionDepth - 1)).step();
    --m_transactionDepth;
}

void Connection::rollback()
{
    if (m_transactionDepth == 0)
        throw Error(QStringLiteral("No transaction is active."));
    const int level = m_transactionDepth - 1;
    if (m_server) {
        m_transactionDepth = level; // ended whether or not the server hears of it
        server().rollback();
        return;
    }
    Statement(handle(), QStringLiteral("ROLLBACK TO dagl_%1").arg(level)).step();
    Statement(handle(), QStringLiteral("RELEASE dagl_%1").arg(level)).step();
    --m_transactionDepth;
}

bool Connection::inTransaction() const
{
    return m_transactionDepth > 0;
}

Transaction::Transaction(Connection &connection) : m_connection(connection)
{
    connection.beginTransaction();
}

Transaction::~Transaction()
{
    if (!m_open || !m_connection.isOpen())
        return;
    try {
        m_connection.rollback();
    } catch (const Error &) {
        // The connection went away with its transaction.
    }
}

void Transaction::commit()
{
    m_connection.commit();
    m_open = false;
}

Query::Query(Connection &connection, const QString &sql) : m_connection(connection), m_sql(sql)
{
    if (!connection.onServer())
        m_statement = std::make_unique<Statement>(connection.handle(), connection.translate(sql));
}

Query::~Query() = default;

void Query::bind(int index, const QVariant &value)
{
    if (m_statement) {
        m_statement->bind(index, value);
        return;
    }
    m_rows.reset();
    while (m_params.size() < index)
        m_params << QVariant();
    m_params[index - 1] = value;
}

bool Query::step()
{
    if (m_statement)
        return m_statement->step();
    if (!m_rows)
        m_rows = std::make_unique<PgRows>(m_connection.server(), m_sql, m_params);
    return m_rows->next();
}

QVariant Query::value(int column) const
{
    if (m_statement)
        return m_statement->column(column);
    return m_rows ? m_rows->value(column) : QVariant();
}

void Query::reset()
{
    if (m_statement)
        m_statement->reset();
    m_rows.reset();
}

} // namespace dagl
