#include "ReadApart.h"

#include "Collation.h"
#include "Connection.h"
#include "Error.h"
#include "Sqlite.h"

#include <QFile>
#include <QPointer>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace dagl::ReadApart {

namespace {

sqlite3 *openReader(const QByteArray &path, const QByteArray &password)
{
    sqlite3 *db = nullptr;
    const int rc = sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const Error failure = sqliteFailure(db, rc);
        sqlite3_close(db);
        throw failure;
    }
    if (!password.isEmpty())
        sqlite3_key(db, password.constData(), int(password.size()));
    sqlite3_busy_timeout(db, 5000);
    Collation::install(db);
    return db;
}

constexpr int kBatch = 2048; // keys handed over at a time

} // namespace

struct KeyStream::Shared {
    std::mutex mutex;
    std::condition_variable changed;
    QVector<qlonglong> keys; // read and not yet taken
    qsizetype read = 0; // keys read in all
    bool done = false;
    bool stop = false;
    bool taken = false; // done and everything taken
    sqlite3 *running = nullptr; // while the statement runs, for stopping it
    std::optional<Error> error;
    std::thread worker;
    QPointer<Connection> connection;
    bool sharedReader = false; // the connection's reader, not one of its own
    sqlite3 *own = nullptr;
};

KeyStream::KeyStream(Connection &connection, const QString &sql)
    : m_shared(std::make_shared<Shared>())
{
    Shared &shared = *m_shared;
    shared.connection = &connection;
    // A second read at once gets a reader of its own.
    shared.sharedReader = !connection.readerInUse();
    if (shared.sharedReader)
        connection.readerInUse() = true;
    sqlite3 **reader = shared.sharedReader ? &connection.readerHandle() : &shared.own;
    const QByteArray path = QFile::encodeName(connection.databasePath());
    const QByteArray password
        = Connection::connectionValue(connection.connectionString(), QStringLiteral("Jet OLEDB:Database Password"))
              .toUtf8();
    shared.worker = std::thread([&shared, reader, path, password, sql] {
        try {
            if (!*reader)
                *reader = openReader(path, password);
            {
                const std::lock_guard<std::mutex> lock(shared.mutex);
                if (shared.stop)
                    throw Error(QStringLiteral("interrupted"));
                shared.running = *reader;
            }
            if (sql.isEmpty()) {
                // The schema read too, as the first statement would.
                Statement(*reader, QStringLiteral("SELECT count(*) FROM sqlite_master")).step();
                const std::lock_guard<std::mutex> lock(shared.mutex);
                shared.running = nullptr;
                shared.done = true;
                shared.changed.notify_all();
                return; // only opened
            }
            Statement statement(*reader, sql);
            sqlite3_stmt *stmt = statement.handle();
            QVector<qlonglong> batch;
            batch.reserve(kBatch);
            // The first keys go over in small batches, growing, so that the first screen is
            // there at once and the rest go over with little locking.
            qsizetype hand = 64;
            while (statement.step()) {
                batch.push_back(sqlite3_column_int64(stmt, 0));
                if (batch.size() >= hand) {
                    const std::lock_guard<std::mutex> lock(shared.mutex);
                    shared.keys += batch;
                    shared.read += batch.size();
                    batch.clear();
                    hand = std::min<qsizetype>(hand * 2, kBatch);
                    shared.changed.notify_all();
                }
            }
            const std::lock_guard<std::mutex> lock(shared.mutex);
            shared.keys += batch;
            shared.read += batch.size();
        } catch (const Error &error) {
            const std::lock_guard<std::mutex> lock(shared.mutex);
            shared.error = error;
        }
        const std::lock_guard<std::mutex> lock(shared.mutex);
        shared.running = nullptr;
        shared.done = true;
        shared.changed.notify_all();
    });
}

KeyStream::~KeyStream()
{
    Shared &shared = *m_shared;
    {
        const std::lock_guard<std::mutex> lock(shared.mutex);
        shared.stop = true;
        if (shared.running)
            sqlite3_interrupt(shared.running);
    }
    shared.worker.join();
    if (shared.sharedReader && shared.connection)
        shared.connection->readerInUse() = false;
    sqlite3_close(shared.own);
}

bool KeyStream::waitFor(qsizetype count, const std::function<bool()> &waiting)
{
    Shared &shared = *m_shared;
    for (;;) {
        if (waiting && !waiting()) {
            const std::lock_guard<std::mutex> lock(shared.mutex);
            shared.stop = true;
            if (shared.running)
                sqlite3_interrupt(shared.running);
            return false;
        }
        std::unique_lock<std::mutex> lock(shared.mutex);
        if (shared.changed.wait_for(
                lock, std::chrono::milliseconds(25), [&shared, count] { return shared.done || shared.read >= count; }))
            return true;
    }
}

QVector<qlonglong> KeyStream::take(bool wait)
{
    Shared &shared = *m_shared;
    std::unique_lock<std::mutex> lock(shared.mutex);
    if (wait)
        shared.changed.wait(lock, [&shared] { return shared.done; });
    if (shared.done && shared.error) {
        shared.taken = true;
        const Error error = *shared.error;
        shared.error.reset();
        throw error;
    }
    if (shared.done)
        shared.taken = true;
    return std::exchange(shared.keys, {});
}

bool KeyStream::atEnd() const
{
    const std::lock_guard<std::mutex> lock(m_shared->mutex);
    return m_shared->taken;
}

std::unique_ptr<KeyStream> openAhead(Connection &connection)
{
    // The reader itself only while no stream has it.
    if (!connection.isOpen() || connection.onServer() || connection.readerInUse() || connection.readerHandle())
        return nullptr;
    return std::make_unique<KeyStream>(connection, QString());
}

QVector<qlonglong> keys(
    Connection &connection, const QString &sql, const std::function<bool()> &waiting, bool *cancelled)
{
    KeyStream stream(connection, sql);
    const bool read = stream.waitFor(std::numeric_limits<qsizetype>::max(), waiting);
    if (cancelled)
        *cancelled = !read;
    return read ? stream.take(true) : QVector<qlonglong>();
}

} // namespace dagl::ReadApart
