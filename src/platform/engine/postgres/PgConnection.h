#pragma once

#include "Field.h"

#include <QHash>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <memory>

typedef struct pg_conn PGconn;
typedef struct pg_result PGresult;

namespace dagl {

// Where the catalogue's server is. The password is never kept here: libpq reads it from
// the password file (~/.pgpass, PGPASSFILE or `passFile`) or from the service file.
struct PgSettings
{
    QString host;
    int port = 0; // 0: libpq's default
    QString database;
    QString user;
    QString service;  // a name in the service file (PGSERVICEFILE, ~/.pg_service.conf)
    QString passFile; // empty: libpq's own choice
    // Encryption to the server across the network: libpq's sslmode (verify-full checks the
    // server's certificate and name) and the root certificate that signed the server's.
    QString sslMode;
    QString sslRootCert;
    int connectTimeout = 5; // seconds

    // Reads a libpq connection string ("host=... port=... dbname=... user=..." or
    // "service=..."); throws dagl::Error on one libpq cannot read.
    static PgSettings fromConnectionString(const QString &text);
    // What the settings name, for messages: "用户@主机:端口/数据库" or the service.
    QString displayName() const;

    // The settings given, each as libpq's keyword and the environment variable of the
    // server's own tools; unset ones left out.
    struct Parameter {
        const char *keyword;
        const char *environment;
        QString value;
    };
    QVector<Parameter> parameters() const;
};

// One connection to the catalogue on a PostgreSQL server. Statements are written in the
// program's Jet dialect (see PgDialect) with "?" for bound values; `*Native` calls take the
// server's own SQL with $1, $2, ... Every failure throws dagl::Error with a Chinese message
// and libpq's or the server's text as the detail.
class PgConnection
{
public:
    explicit PgConnection(PgSettings settings = {});
    ~PgConnection();
    PgConnection(const PgConnection &) = delete;
    PgConnection &operator=(const PgConnection &) = delete;

    const PgSettings &settings() const { return m_settings; }
    void setSettings(const PgSettings &settings) { m_settings = settings; }

    void open();
    void close();
    bool isOpen() const { return m_conn != nullptr; }
    // Open, but the server went away or the network to it broke (as libpq last found it).
    bool isLost() const;
    // Whether the open connection still reaches the server, asked with a statement.
    bool isAlive();
    // A new session to the same server in place of a lost one; throws dagl::Error, the
    // broken one kept, while the server cannot be reached.
    void reconnect();
    PGconn *handle() const; // throws when closed

    // Runs a statement that returns no rows; returns the number of rows it changed.
    int execute(const QString &sql, const QVariantList &params = {});
    int executeNative(const QString &sql, const QVariantList &params = {});
    // The first value of the first row, or an invalid QVariant when there is no row.
    QVariant scalar(const QString &sql, const QVariantList &params = {});
    QVariant scalarNative(const QString &sql, const QVariantList &params = {});
    // Runs an insert and returns the value the server gave its key column.
    qlonglong insert(const QString &sql, const QVariantList &params, const QString &keyColumn);

    // The server statement for a Jet-dialect text.
    QString translate(const QString &sql) const;

    // Base tables of the public schema, and a table's columns as field types (empty when
    // there is no such table); names are those the server keeps (lower case).
    QStringList tableNames();
    QVector<FieldDef> tableColumns(const QString &table) const;
    FieldDef column(const QString &table, const QString &column) const;
    // The column whose value the server gives a new row, or empty.
    QString keyColumn(const QString &table) const;
    // Forgets what is known of the tables, after a change of the schema.
    void forgetColumns() { m_columns.clear(); }
    // The table and column a result column comes from (see PgRows::columnSource), empty
    // names for a computed one.
    QPair<QString, QString> columnOrigin(unsigned tableOid, int columnNumber) const;
    // The field type of a computed result column of a server type.
    static FieldDef fieldOfType(const QString &name, unsigned typeOid);

    // Transactions nest: an inner one is a savepoint of the outer one. Prefer PgTransaction.
    void beginTransaction();
    void commit();
    void rollback();
    bool inTransaction() const { return m_depth > 0; }
    int transactionDepth() const { return m_depth; }

    // Copies rows into a table in one stream (COPY ... FROM STDIN), much faster than an
    // insert each. Values as for bound parameters.
    void copyBegin(const QString &table, const QStringList &columns);
    void copyRow(const QVariantList &values);
    void copyEnd();

    // Whether a row stream (PgRows) has the connection; nothing else may run meanwhile.
    bool busy() const { return m_busy; }

private:
    friend class PgRows;
    struct Columns
    {
        QVector<FieldDef> fields;
        QString key;
    };
    const Columns &columnsOf(const QString &table) const;
    std::unique_ptr<PGresult, void (*)(PGresult *)> run(const QString &sql, const QVariantList &params);
    void checkIdle() const;
    PGconn *connectNew() const;
    // What the server's session held (transactions, a result or a copy under way) is gone.
    void forgetSession();

    PgSettings m_settings;
    PGconn *m_conn = nullptr;
    int m_depth = 0;
    bool m_busy = false;
    bool m_copying = false;
    QByteArray m_copyBuffer;
    mutable QHash<QString, Columns> m_columns; // by table name in lower case
    mutable QHash<QPair<unsigned, int>, QPair<QString, QString>> m_origins;
};

// The rows of one query, read forward one at a time (libpq's single-row mode), so that a
// result of a million rows never sits in memory whole. The connection runs nothing else
// until the rows are read or the object is gone.
class PgRows
{
public:
    PgRows(PgConnection &connection, const QString &sql, const QVariantList &params = {}, bool native = false);
    ~PgRows();
    PgRows(const PgRows &) = delete;
    PgRows &operator=(const PgRows &) = delete;

    // Moves to the next row; false after the last.
    bool next();
    int columnCount() const { return m_names.size(); }
    const QStringList &columnNames() const { return m_names; }
    QVariant value(int column) const;
    QVariant value(const QString &name) const; // names match regardless of case
    unsigned columnType(int column) const { return m_types.value(column); }
    // The table (its oid) and the column number there a result column comes from; 0 and 0
    // for a computed column.
    QPair<unsigned, int> columnSource(int column) const { return m_sources.value(column); }

private:
    void finish();

    PgConnection &m_connection;
    PGresult *m_row = nullptr;
    QStringList m_names;
    QVector<unsigned> m_types;
    QVector<QPair<unsigned, int>> m_sources;
    bool m_done = false;
    bool m_pendingTaken = false; // the first row, read with the columns, has been given
};

// A transaction for one block of work: rolled back when it goes out of scope uncommitted.
class PgTransaction
{
public:
    explicit PgTransaction(PgConnection &connection);
    ~PgTransaction();
    PgTransaction(const PgTransaction &) = delete;
    PgTransaction &operator=(const PgTransaction &) = delete;
    void commit();

private:
    PgConnection &m_connection;
    bool m_open = true;
};

} // namespace dagl
