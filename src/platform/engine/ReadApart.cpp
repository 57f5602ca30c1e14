#include "ReadApart.h"

#include "Collation.h"
#include "Connection.h"
#include "Error.h"
#include "Sqlite.h"

#include <QFile>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace dagl::ReadApart {

namespace {

struct Shared {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    sqlite3 *db = nullptr; // while the statement runs, for stopping it
    QVector<qlonglong> keys;
    std::optional<Error> error;
};

void read(Shared &shared, sqlite3 *&reader, const QByteArray &path, const QByteArray &password, const QString &sql)
{
    try {
        if (!reader) {
            sqlite3 *db = nullptr;
            const int rc
                = sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX, nullptr);
            if (rc != SQLITE_OK) {
                const Error failure = sqliteFailure(db, rc);
                sqlite3_close(db);
                throw failure;
            }
            if (!password.isEmpty())
                sqlite3_key(db, password.constData(), int(password.size()));
            sqlite3_busy_timeout(db, 5000);
            Collation::install(db);
            reader = db;
        }
        {
            const std::lock_guard<std::mutex> lock(shared.mutex);
            shared.db = reader;
        }
        Statement statement(reader, sql);
        sqlite3_stmt *stmt = statement.handle();
        QVector<qlonglong> keys;
        keys.reserve(1024);
        while (statement.step())
            keys.push_back(sqlite3_column_int64(stmt, 0));
        shared.keys = std::move(keys);
    } catch (const Error &error) {
        shared.error = error;
    }
    const std::lock_guard<std::mutex> lock(shared.mutex);
    shared.db = nullptr;
    shared.done = true;
    shared.finished.notify_all();
}

} // namespace

QVector<qlonglong> keys(
    Connection &connection, const QString &sql, const std::function<bool()> &waiting, bool *cancelled)
{
    const QByteArray path = QFile::encodeName(connection.databasePath());
    const QByteArray password
        = Connection::connectionValue(connection.connectionString(), QStringLiteral("Jet OLEDB:Database Password"))
              .toUtf8();
    Shared shared;
    std::thread worker(read, std::ref(shared), std::ref(connection.readerHandle()), path, password, sql);
    bool stopped = false;
    for (;;) {
        if (!stopped && waiting && !waiting()) {
            stopped = true;
            const std::lock_guard<std::mutex> lock(shared.mutex);
            if (shared.db)
                sqlite3_interrupt(shared.db);
        }
        std::unique_lock<std::mutex> lock(shared.mutex);
        if (shared.finished.wait_for(lock, std::chrono::milliseconds(25), [&shared] { return shared.done; }))
            break;
    }
    worker.join();
    if (cancelled)
        *cancelled = stopped;
    if (stopped)
        return {};
    if (shared.error)
        throw *shared.error;
    return std::move(shared.keys);
}

} // namespace dagl::ReadApart
