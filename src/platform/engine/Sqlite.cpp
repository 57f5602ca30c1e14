#include "Sqlite.h"

#include "Error.h"

#include <QDateTime>

namespace dagl {

QString sqliteError(sqlite3 *db)
{
    return QString::fromUtf8(sqlite3_errmsg(db));
}

Cause causeOfSqlite(int resultCode, int systemErrno)
{
    if (resultCode == SQLITE_IOERR_SHORT_READ)
        return Cause::Corrupt; // the file ends before its own pages do
    switch (resultCode & 0xFF) {
    case SQLITE_FULL:
        return Cause::DiskFull;
    case SQLITE_READONLY:
        return Cause::ReadOnly;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return Cause::InUse;
    case SQLITE_CORRUPT:
        return Cause::Corrupt;
    case SQLITE_NOTADB:
        return Cause::NotADatabase;
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return Cause::AccessDenied;
    case SQLITE_NOMEM:
        return Cause::OutOfMemory;
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR: {
        const Cause bySystem = causeOfErrno(systemErrno);
        if (bySystem != Cause::Unknown)
            return bySystem;
        return (resultCode & 0xFF) == SQLITE_CANTOPEN ? Cause::CannotOpen : Cause::DeviceError;
    }
    default:
        return Cause::Unknown;
    }
}

Error sqliteFailure(sqlite3 *db, int resultCode)
{
    const QString engineText = db ? sqliteError(db) : QString::fromUtf8(sqlite3_errstr(resultCode));
    const int extended = db ? sqlite3_extended_errcode(db) : resultCode;
    const int systemErrno = db ? sqlite3_system_errno(db) : 0;
    Cause cause = causeOfSqlite((extended & 0xFF) == (resultCode & 0xFF) ? extended : resultCode, systemErrno);
    if (cause == Cause::Unknown) {
        // A function that runs statements of its own (sqlcipher_export) hands their failure
        // on as a plain error with only the text of the code it met.
        for (const int code : { SQLITE_FULL, SQLITE_IOERR, SQLITE_READONLY, SQLITE_BUSY, SQLITE_LOCKED, SQLITE_CORRUPT,
                 SQLITE_NOTADB, SQLITE_CANTOPEN, SQLITE_PERM, SQLITE_NOMEM }) {
            if (engineText == QString::fromUtf8(sqlite3_errstr(code)))
                cause = causeOfSqlite(code, systemErrno);
        }
    }
    // Mistakes in a statement have no cause of this kind: their own text says what is wrong.
    return Error(cause == Cause::Unknown ? engineText : causeText(cause), cause, engineText);
}

QString quoteIdentifier(const QString &name)
{
    QString quoted = name;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

Statement::Statement(sqlite3 *db, const QString &sql)
    : m_db(db)
{
    const QByteArray text = sql.toUtf8();
    const char *tail = nullptr;
    const int rc = sqlite3_prepare_v2(db, text.constData(), int(text.size()), &m_stmt, &tail);
    if (rc != SQLITE_OK) {
        const Error failure = sqliteFailure(db, rc);
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
        throw failure;
    }
    if (!m_stmt)
        throw Error(QStringLiteral("SQL 语句为空"));
    // One statement at a time, as the engine of the original program would take it.
    for (; tail && *tail; ++tail) {
        if (*tail != ' ' && *tail != '\t' && *tail != '\r' && *tail != '\n' && *tail != ';') {
            sqlite3_finalize(m_stmt);
            m_stmt = nullptr;
            throw Error(QStringLiteral("SQL 语句结束后有多余的字符"));
        }
    }
}

Statement::~Statement()
{
    sqlite3_finalize(m_stmt);
}

void Statement::bind(int index, const QVariant &value)
{
    int rc = SQLITE_OK;
    if (value.isNull() || !value.isValid()) {
        rc = sqlite3_bind_null(m_stmt, index);
    } else {
        switch (value.typeId()) {
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::Bool:
            rc = sqlite3_bind_int64(m_stmt, index, value.toLongLong());
            break;
        case QMetaType::Double:
            rc = sqlite3_bind_double(m_stmt, index, value.toDouble());
            break;
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            rc = sqlite3_bind_blob(m_stmt, index, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
            break;
        }
        case QMetaType::QDateTime: {
            const QByteArray text = value.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUtf8();
            rc = sqlite3_bind_text(m_stmt, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
            break;
        }
        default: {
            const QByteArray text = value.toString().toUtf8();
            rc = sqlite3_bind_text(m_stmt, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
            break;
        }
        }
    }
    if (rc != SQLITE_OK)
        throw sqliteFailure(m_db, rc);
}

bool Statement::step()
{
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    const Error failure = sqliteFailure(m_db, rc);
    sqlite3_reset(m_stmt);
    throw failure;
}

void Statement::reset()
{
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

int Statement::columnCount() const
{
    return sqlite3_column_count(m_stmt);
}

QVariant Statement::column(int index) const
{
    switch (sqlite3_column_type(m_stmt, index)) {
    case SQLITE_INTEGER:
        return QVariant(qlonglong(sqlite3_column_int64(m_stmt, index)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(m_stmt, index));
    case SQLITE_TEXT:
        return QVariant(QString::fromUtf8(
            reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, index)), sqlite3_column_bytes(m_stmt, index)));
    case SQLITE_BLOB:
        return QVariant(QByteArray(
            static_cast<const char *>(sqlite3_column_blob(m_stmt, index)), sqlite3_column_bytes(m_stmt, index)));
    default:
        return {};
    }
}

void runStatement(sqlite3 *db, const QString &sql)
{
    Statement statement(db, sql);
    while (statement.step()) { }
}

Savepoint::Savepoint(sqlite3 *db, const QString &name)
    : m_db(db)
    , m_name(name.toUtf8())
{
    runStatement(db, QStringLiteral("SAVEPOINT ") + name);
}

Savepoint::~Savepoint()
{
    if (!m_open)
        return;
    sqlite3_exec(m_db, ("ROLLBACK TO " + m_name).constData(), nullptr, nullptr, nullptr);
    sqlite3_exec(m_db, ("RELEASE " + m_name).constData(), nullptr, nullptr, nullptr);
}

void Savepoint::release()
{
    runStatement(m_db, QStringLiteral("RELEASE ") + QString::fromUtf8(m_name));
    m_open = false;
}

} // namespace dagl
