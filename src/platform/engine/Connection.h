#pragma once

#include "DatabaseLock.h"
#include "Field.h"
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

// One connection to a password-protected database file, opened from a connection string
// of the form "...;Data Source=<path>;...;Jet OLEDB:Database Password=<password>".
// Statements are written in the Jet dialect (see JetSql). Every failure throws dagl::Error
// with its cause in the operator's terms and the engine's message as its detail. While open
// the connection holds its database shared against the program's other copies (see
// DatabaseLock).
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

    void open();
    void close();
    bool isOpen() const { return m_db != nullptr; }
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

    sqlite3 *handle() const; // throws when closed
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

private:
    QString m_connectionString;
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

} // namespace dagl
