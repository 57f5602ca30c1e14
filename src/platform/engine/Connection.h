#pragma once

#include "DatabaseLock.h"
#include "Field.h"
#include "PgConnection.h"
#include "SearchIndex.h"
#include "SortKeys.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

struct sqlite3;

namespace dagl {

class RowDriver;
class Statement;

// One connection to the catalogue: a password-protected database file, opened from a
// connection string of the form "...;Data Source=<path>;...;Jet OLEDB:Database
// Password=<password>", or, when set so, a PostgreSQL server that several workstations share
// (see setServer). Statements are written in the Jet dialect either way (see JetSql and
// PgDialect). Every failure throws dagl::Error with its cause in the operator's terms and
// the engine's message as its detail. While open on a file the connection holds its
// database shared against the program's other copies (see DatabaseLock).
class Connection : public QObject
{
    Q_OBJECT

public:
    explicit Connection(QObject *parent = nullptr);
    ~Connection() override;

    void setConnectionString(const QString &text) { m_connectionString = text; }
    const QString &connectionString() const { return m_connectionString; }
    // A value of a connection string by its name (names match regardless of case).
    static QString connectionValue(const QString &connectionString, const QString &name);

    // The catalogue on a server instead of the file of the connection string, from the next
    // open() on; settings without a host or service name go back to the file.
    void setServer(const PgSettings &settings);
    bool onServer() const { return m_server != nullptr; }
    // The server's connection; throws when the catalogue is not on a server.
    PgConnection &server() const;
    // Where the catalogue is, for messages: the file's path or the server's name.
    QString displayName() const;

    void open();
    void close();
    bool isOpen() const { return m_db != nullptr || (m_server && m_server->isOpen()); }
    // On a server whose connection broke (the server stopped, the network went): every
    // statement fails until reconnect(). A file is never lost.
    bool isLost() const { return m_server && m_server->isLost(); }
    // Asks the server whether the connection still reaches it; true on a file.
    bool isAlive() { return !m_server || m_server->isAlive(); }
    // A new session to the server in place of a lost one, the datasets left open as they
    // are (a pending row keeps its typed values); throws dagl::Error while the server
    // cannot be reached. A transaction under way is gone.
    void reconnect();
    QString databasePath() const;

    QStringList tableNames() const;
    // Runs one statement that returns no rows. Returns the number of rows it changed.
    int execute(const QString &sql);
    // The statement the engine runs for a Jet-dialect text.
    QString translate(const QString &sql) const;

    // Columns of a table with their field types, in table order; empty for no such table.
    QVector<FieldDef> tableColumns(const QString &table) const;
    FieldDef column(const QString &table, const QString &column) const;

    // What datasets read and write their rows through (see RowSource).
    std::unique_ptr<RowDriver> rowDriver();

    sqlite3 *handle() const; // the file's; throws when closed or on a server
    // A read-only connection of its own to the same file, for reading on another thread
    // (see ReadApart): null until it is first opened there; closed with this connection.
    sqlite3 *&readerHandle() { return m_reader; }
    // Whether a read on another thread has the reader now (set and cleared on this thread).
    bool &readerInUse() { return m_readerInUse; }

    // The columns searched by fragment through the search index (see SearchIndex).
    void setSearchIndex(const SearchIndex::Spec &spec) { m_searchIndex = spec; }
    const SearchIndex::Spec &searchIndex() const { return m_searchIndex; }
    // The columns a title click on the whole table sorts through kept keys (see SortKeys).
    void setSortKeys(const SortKeys::Spec &spec) { m_sortKeys = spec; }
    const SortKeys::Spec &sortKeys() const { return m_sortKeys; }

    // Makes this connection the only holder of its database among the program's copies,
    // for work that replaces the file: false while another connection has it open. The hold
    // stays through close() and open() until releaseExclusive(). Throws dagl::Error when
    // the lock itself cannot be used.
    bool claimExclusive();
    void releaseExclusive();

    // Transactions nest: an inner one is a savepoint of the outer one. Prefer Transaction.
    void beginTransaction();
    void commit();
    void rollback();
    bool inTransaction() const;

signals:
    // Emitted before the connection closes; datasets on it close themselves.
    void closing();
    // Emitted once the connection is open (again, after a restore or a compaction).
    void opened();
    // Emitted after reconnect() made a new session.
    void reconnected();

private:
    QString m_connectionString;
    std::unique_ptr<PgConnection> m_server;
    sqlite3 *m_db = nullptr;
    sqlite3 *m_reader = nullptr;
    bool m_readerInUse = false;
    DatabaseLock m_lock;
    mutable QHash<QString, QVector<FieldDef>> m_columns; // by table name in lower case
    int m_transactionDepth = 0;
    SearchIndex::Spec m_searchIndex;
    SortKeys::Spec m_sortKeys;
};

// A transaction for one block of work: rolled back when it goes out of scope uncommitted
// (an error thrown through it, a cancel), so the block is stored whole or not at all.
class Transaction
{
public:
    explicit Transaction(Connection &connection);
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;
    void commit();

private:
    Connection &m_connection;
    bool m_open = true;
};

// One statement of the program's dialect with "?" for bound values, read forward a row at a
// time, on the file or on the server alike: for look-ups and reports that read a table
// once. Lists the operator moves about in are datasets.
class Query
{
public:
    Query(Connection &connection, const QString &sql); // throws dagl::Error
    ~Query();
    Query(const Query &) = delete;
    Query &operator=(const Query &) = delete;

    // Values stay bound until bound again; a bind ends a read under way.
    void bind(int index, const QVariant &value); // index from 1
    // The next row; the first step after a bind or a reset runs the statement.
    bool step();
    QVariant value(int column) const;
    // Ends the read; the next step runs the statement again.
    void reset();

private:
    Connection &m_connection;
    QString m_sql;
    std::unique_ptr<Statement> m_statement; // on the file
    QVariantList m_params; // on the server
    std::unique_ptr<PgRows> m_rows;
};

} // namespace dagl
