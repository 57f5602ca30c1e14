// Eight workstations on one catalogue on a PostgreSQL server at once: each its own
// connection and row writer, entering, editing and deleting catalogue records for a while,
// editing and deleting from a list it read a moment ago, as operators do, so that they
// meet on the same rows. Prints the operations per second of each kind, every refusal by
// kind, and then proves from what each one logged that nothing was lost or doubled: every
// record entered is in the table once unless a delete of it succeeded once, and each row
// is the end of the one chain of saves that succeeded on it (a save names the row as read,
// so the saves of a row follow each other; every save writes a title no other writes).
// Last, the same mix without the checks (plain statements by key) for a few seconds, as
// the raw cost beside.
//
//   dagl-bench-pgload [--seconds N] [--clients N] [CONNECTION]
// CONNECTION: a libpq connection string of an EMPTY database (the password in the password
// file); without it a throwaway cluster is started for the run.

#include "Error.h"
#include "Login.h"
#include "PgCluster.h"
#include "PgConnection.h"
#include "PgRowWriter.h"
#include "ServerCatalogue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QStringList>
#include <QTextStream>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

using namespace dagl;

namespace {

const QString kTable = QStringLiteral("文件目录");

enum Kind { Insert, Edit, Delete, KindCount };
const char *const kKindNames[] = { "录入", "修改", "删除" };

struct Entry {
    Kind kind;
    qlonglong key;
    QString before; // the row as read, for a save and a checked delete
    QString after; // the row as stored, for an insert and a save
    bool checked = false;
};

struct ClientLog {
    std::vector<Entry> entries;
    qint64 done[KindCount] = {};
    qint64 changedByOther[KindCount] = {};
    qint64 deletedByOther[KindCount] = {};
    QStringList errors;
};

QString textOf(const PgRowImage &row)
{
    QStringList values;
    for (const QVariant &v : row.values)
        values << (v.isNull() ? QStringLiteral("<null>") : v.toString());
    return values.join(QChar(0x1f));
}

// Keys some workstation entered and none is known to have deleted: where the lists come from.
class KeyPool {
public:
    void add(qlonglong key)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_index[key] = m_keys.size();
        m_keys.push_back(key);
    }
    void remove(qlonglong key)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_index.find(key);
        if (it == m_index.end())
            return;
        const size_t at = it->second;
        m_index.erase(it);
        if (at + 1 != m_keys.size()) {
            m_keys[at] = m_keys.back();
            m_index[m_keys[at]] = at;
        }
        m_keys.pop_back();
    }
    // Keys among the `recent` last entered: the fonds everyone is working on.
    std::vector<qlonglong> sample(std::mt19937 &random, size_t count, size_t recent = 300)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<qlonglong> keys;
        if (m_keys.empty())
            return keys;
        std::uniform_int_distribution<size_t> pick(m_keys.size() - std::min(recent, m_keys.size()), m_keys.size() - 1);
        for (size_t i = 0; i < count; ++i)
            keys.push_back(m_keys[pick(random)]);
        return keys;
    }
    size_t size()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_keys.size();
    }

private:
    std::mutex m_mutex;
    std::vector<qlonglong> m_keys;
    std::map<qlonglong, size_t> m_index;
};

const char *const kNames[] = { "张三", "李四", "王五", "赵六", "钱七", "孙八", "周九", "吴十" };
const char *const kPeriods[] = { "永久", "长期", "短期" };

QVariantMap record(int client, qint64 serial, std::mt19937 &random)
{
    std::uniform_int_distribution<int> small(0, 7);
    return {
        { QStringLiteral("qzh"), QStringLiteral("%1").arg(client, 3, 10, QLatin1Char('0')) },
        { QStringLiteral("mlh"), QString::number(small(random) + 1) },
        { QStringLiteral("ajh"), small(random) * 10 },
        { QStringLiteral("sxh"), QString::number(serial % 1000) },
        { QStringLiteral("tm"), QStringLiteral("工作站%1第%2件 关于“档案”的通知").arg(client).arg(serial) },
        { QStringLiteral("zrz"), small(random) == 0 ? QVariant() : QVariant(QString::fromUtf8(kNames[small(random)])) },
        { QStringLiteral("gdnd"), QString::number(2000 + small(random)) },
        { QStringLiteral("bgqx"), QString::fromUtf8(kPeriods[small(random) % 3]) },
    };
}

// One workstation: a list of rows read a moment ago, edited and deleted from; refreshed
// now and then, and a row again after a refusal, as the operator reopens the list.
void workstation(int client, const PgSettings &settings, KeyPool &pool, const std::atomic<bool> &stop, ClientLog &log)
{
    std::mt19937 random(1234u + unsigned(client));
    std::uniform_int_distribution<int> percent(0, 99);
    try {
        PgConnection db(settings);
        db.open();
        PgRowWriter writer(db, kTable);
        std::vector<PgRowImage> list;
        qint64 serial = 0;
        auto refresh = [&] {
            list.clear();
            for (qlonglong key : pool.sample(random, 20)) {
                const PgRowImage row = writer.read(key);
                if (row.isValid())
                    list.push_back(row);
            }
        };
        refresh();
        while (!stop.load(std::memory_order_relaxed)) {
            if (list.empty())
                refresh();
            const int roll = percent(random);
            const Kind kind = list.empty() || roll < 35 ? Insert : roll < 80 ? Edit : Delete;
            if (kind == Insert) {
                const PgWriteResult result = writer.insert(record(client, ++serial, random));
                ++log.done[Insert];
                log.entries.push_back({ Insert, result.row.key, {}, textOf(result.row) });
                pool.add(result.row.key);
                continue;
            }
            std::uniform_int_distribution<size_t> pick(0, list.size() - 1);
            const size_t at = pick(random);
            const PgRowImage asRead = list[at];
            PgWriteResult result;
            bool checked = true;
            if (kind == Edit) {
                QVariantMap changes { { QStringLiteral("tm"),
                    QStringLiteral("工作站%1第%2次修改").arg(client).arg(++serial) } };
                if (percent(random) < 50)
                    changes.insert(QStringLiteral("zrz"),
                        percent(random) < 20 ? QVariant() : QVariant(QStringLiteral("改者%1").arg(client)));
                result = writer.update(asRead, changes);
            } else {
                checked = percent(random) < 50;
                result = checked ? writer.remove(asRead) : writer.remove(asRead.key);
            }
            switch (result.outcome) {
            case PgWriteOutcome::Done:
                ++log.done[kind];
                if (kind == Edit) {
                    log.entries.push_back({ Edit, asRead.key, textOf(asRead), textOf(result.row) });
                    list[at] = result.row;
                } else {
                    log.entries.push_back({ Delete, asRead.key, checked ? textOf(asRead) : QString(), {}, checked });
                    pool.remove(asRead.key);
                    list.erase(list.begin() + qsizetype(at));
                }
                break;
            case PgWriteOutcome::ChangedByOther: {
                ++log.changedByOther[kind];
                const PgRowImage now = writer.read(asRead.key);
                if (now.isValid())
                    list[at] = now;
                else
                    list.erase(list.begin() + qsizetype(at));
                break;
            }
            case PgWriteOutcome::DeletedByOther:
                ++log.deletedByOther[kind];
                list.erase(list.begin() + qsizetype(at));
                break;
            }
            if (percent(random) < 5)
                refresh();
        }
    } catch (const Error &error) {
        log.errors << error.logText();
    }
}

// The table against the replay of every log. Returns the faults found, none when right.
QStringList verify(PgConnection &db, const std::vector<ClientLog> &logs, qint64 *rowsChecked)
{
    struct History {
        int inserts = 0;
        QString inserted;
        std::vector<const Entry *> edits;
        std::vector<const Entry *> deletes;
    };
    QHash<qlonglong, History> histories;
    for (const ClientLog &log : logs) {
        for (const Entry &e : log.entries) {
            History &h = histories[e.key];
            if (e.kind == Insert) {
                ++h.inserts;
                h.inserted = e.after;
            } else if (e.kind == Edit) {
                h.edits.push_back(&e);
            } else {
                h.deletes.push_back(&e);
            }
        }
    }
    PgRowWriter writer(db, kTable);
    QHash<qlonglong, QString> table;
    {
        PgRows rows(db, writer.selectStatement(), {}, true);
        while (rows.next()) {
            QVariantList row;
            for (int c = 0; c < rows.columnCount(); ++c)
                row << rows.value(c);
            const PgRowImage image = writer.imageOf(row);
            table.insert(image.key, textOf(image));
        }
    }
    *rowsChecked = table.size();
    QStringList faults;
    for (auto it = table.cbegin(); it != table.cend(); ++it) {
        if (!histories.contains(it.key()))
            faults << QStringLiteral("行 %1 不在任何工作站的记录里").arg(it.key());
    }
    for (auto it = histories.cbegin(); it != histories.cend(); ++it) {
        const qlonglong key = it.key();
        const History &h = it.value();
        if (h.inserts != 1) {
            faults << QStringLiteral("行 %1 录入了 %2 次").arg(key).arg(h.inserts);
            continue;
        }
        if (h.deletes.size() > 1)
            faults << QStringLiteral("行 %1 删除成功了 %2 次").arg(key).arg(h.deletes.size());
        // The saves of the row, each on the row as the one before left it.
        QHash<QString, const Entry *> byBefore;
        for (const Entry *e : h.edits) {
            if (byBefore.contains(e->before))
                faults << QStringLiteral("行 %1 的两次保存基于同一状态").arg(key);
            byBefore.insert(e->before, e);
        }
        QString state = h.inserted;
        size_t used = 0;
        while (const Entry *next = byBefore.value(state)) {
            state = next->after;
            byBefore.remove(next->before);
            ++used;
        }
        if (used != h.edits.size())
            faults << QStringLiteral("行 %1 有 %2 次保存不在修改链上（丢失）").arg(key).arg(h.edits.size() - used);
        if (!h.deletes.empty()) {
            if (h.deletes.front()->checked && h.deletes.front()->before != state)
                faults << QStringLiteral("行 %1 删除时不是最后保存的样子").arg(key);
            if (table.contains(key))
                faults << QStringLiteral("行 %1 删除成功了却还在").arg(key);
        } else if (!table.contains(key)) {
            faults << QStringLiteral("行 %1 没有删除却不见了").arg(key);
        } else if (table.value(key) != state) {
            faults << QStringLiteral("行 %1 的内容不是最后一次保存的内容").arg(key);
        }
    }
    return faults;
}

// The same mix as plain statements by key, without reading rows or checking them.
qint64 rawRun(const PgSettings &settings, int clients, int seconds, qint64 *kinds)
{
    std::atomic<bool> stop { false };
    std::vector<std::thread> threads;
    std::vector<std::array<qint64, KindCount>> counts(size_t(clients), std::array<qint64, KindCount> {});
    KeyPool pool;
    {
        PgConnection db(settings);
        db.open();
        PgRows rows(db, QStringLiteral("SELECT str_m_date FROM \"文件目录\""), {}, true);
        while (rows.next())
            pool.add(rows.value(0).toLongLong());
    }
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            std::mt19937 random(99u + unsigned(c));
            std::uniform_int_distribution<int> percent(0, 99);
            try {
                PgConnection db(settings);
                db.open();
                qint64 serial = 0;
                while (!stop.load(std::memory_order_relaxed)) {
                    const int roll = percent(random);
                    const std::vector<qlonglong> keys = pool.sample(random, 1);
                    if (keys.empty() || roll < 35) {
                        const QVariantMap r = record(c, ++serial, random);
                        pool.add(
                            db.scalarNative(
                                  QStringLiteral("INSERT INTO \"文件目录\" (qzh, mlh, ajh, sxh, tm, zrz, gdnd, bgqx) "
                                                 "VALUES ($1, $2, $3, $4, $5, $6, $7, $8) RETURNING str_m_date"),
                                  { r.value(QStringLiteral("qzh")), r.value(QStringLiteral("mlh")),
                                      r.value(QStringLiteral("ajh")), r.value(QStringLiteral("sxh")),
                                      r.value(QStringLiteral("tm")), r.value(QStringLiteral("zrz")),
                                      r.value(QStringLiteral("gdnd")), r.value(QStringLiteral("bgqx")) })
                                .toLongLong());
                        ++counts[size_t(c)][Insert];
                    } else if (roll < 80) {
                        db.executeNative(QStringLiteral("UPDATE \"文件目录\" SET tm = $1 WHERE str_m_date = $2"),
                            { QStringLiteral("原始修改%1").arg(++serial), keys.front() });
                        ++counts[size_t(c)][Edit];
                    } else {
                        db.executeNative(
                            QStringLiteral("DELETE FROM \"文件目录\" WHERE str_m_date = $1"), { keys.front() });
                        pool.remove(keys.front());
                        ++counts[size_t(c)][Delete];
                    }
                }
            } catch (const Error &error) {
                std::fprintf(stderr, "raw client %d: %s\n", c, error.what());
            }
        });
    }
    QElapsedTimer timer;
    timer.start();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    stop = true;
    for (std::thread &t : threads)
        t.join();
    const qint64 elapsed = timer.elapsed();
    for (const auto &c : counts) {
        for (int k = 0; k < KindCount; ++k)
            kinds[k] += c[size_t(k)];
    }
    return elapsed;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    int seconds = 60;
    int clients = 8;
    QString connection;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--seconds") && i + 1 < args.size())
            seconds = qMax(1, args[++i].toInt());
        else if (args[i] == QLatin1String("--clients") && i + 1 < args.size())
            clients = qMax(1, args[++i].toInt());
        else
            connection = args[i];
    }

    std::unique_ptr<test::PgCluster> cluster;
    PgSettings settings;
    try {
        if (connection.isEmpty()) {
            out << "starting a throwaway PostgreSQL cluster..." << Qt::endl;
            cluster = std::make_unique<test::PgCluster>();
            if (!cluster->isRunning()) {
                std::fprintf(stderr, "no cluster: %s\n", qPrintable(cluster->error()));
                return 1;
            }
            settings = cluster->freshDatabase(QStringLiteral("load"));
        } else {
            settings = PgSettings::fromConnectionString(connection);
        }
        PgConnection db(settings);
        db.open();
        ServerCatalogue::create(db, permissionCodeList());
        const QString server = db.scalarNative(QStringLiteral("SHOW server_version")).toString();
        out << "server " << server << " at " << settings.displayName() << ", " << clients << " workstations, "
            << seconds << " s" << Qt::endl;

        // A first list for every workstation to open.
        KeyPool pool;
        ClientLog seed;
        {
            PgRowWriter writer(db, kTable);
            std::mt19937 random(7);
            for (int i = 0; i < 200; ++i) {
                const PgWriteResult r = writer.insert(record(0, i, random));
                seed.entries.push_back({ Insert, r.row.key, {}, textOf(r.row) });
                pool.add(r.row.key);
            }
        }

        std::vector<ClientLog> logs(static_cast<size_t>(clients));
        std::atomic<bool> stop { false };
        std::vector<std::thread> threads;
        QElapsedTimer timer;
        timer.start();
        for (int c = 0; c < clients; ++c)
            threads.emplace_back(
                workstation, c + 1, std::cref(settings), std::ref(pool), std::cref(stop), std::ref(logs[size_t(c)]));
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        stop = true;
        for (std::thread &t : threads)
            t.join();
        const double elapsed = timer.elapsed() / 1000.0;

        qint64 done[KindCount] = {}, changed[KindCount] = {}, deleted[KindCount] = {};
        QStringList errors;
        for (const ClientLog &log : logs) {
            for (int k = 0; k < KindCount; ++k) {
                done[k] += log.done[k];
                changed[k] += log.changedByOther[k];
                deleted[k] += log.deletedByOther[k];
            }
            errors << log.errors;
        }
        out << QStringLiteral("\n%1 s with the checks (PgRowWriter):").arg(elapsed, 0, 'f', 1) << Qt::endl;
        qint64 all = 0;
        for (int k = 0; k < KindCount; ++k) {
            all += done[k];
            out << QStringLiteral("  %1  %2 done  %3/s   refused: changed by another %4, deleted by another %5")
                       .arg(QString::fromUtf8(kKindNames[k]))
                       .arg(done[k], 8)
                       .arg(done[k] / elapsed, 8, 'f', 1)
                       .arg(changed[k])
                       .arg(deleted[k])
                << Qt::endl;
        }
        out << QStringLiteral("  all   %1 done  %2/s").arg(all, 8).arg(all / elapsed, 8, 'f', 1) << Qt::endl;
        out << "  errors: " << errors.size() << Qt::endl;
        for (const QString &e : errors)
            out << "    " << e << Qt::endl;

        logs.push_back(seed);
        qint64 rows = 0;
        const QStringList faults = verify(db, logs, &rows);
        qint64 entered = 200 + done[Insert];
        out << QStringLiteral(
            "\nreplay of the logs: %1 entered, %2 deleted, %3 saves; table holds %4 rows (expected %5)")
                   .arg(entered)
                   .arg(done[Delete])
                   .arg(done[Edit])
                   .arg(rows)
                   .arg(entered - done[Delete])
            << Qt::endl;
        if (faults.isEmpty() && rows == entered - done[Delete])
            out << "  nothing lost or doubled: every row equals the end of its chain of saves" << Qt::endl;
        else
            out << "  FAULTS: " << faults.size() << Qt::endl;
        for (const QString &f : faults.mid(0, 20))
            out << "    " << f << Qt::endl;
        {
            // The proof is no formality: one row overwritten behind the logs' back is found.
            const qlonglong any
                = db.scalarNative(QStringLiteral("SELECT min(str_m_date) FROM \"文件目录\"")).toLongLong();
            PgTransaction probe(db);
            db.executeNative(QStringLiteral("UPDATE \"文件目录\" SET tm = 'x' WHERE str_m_date = $1"), { any });
            qint64 ignored = 0;
            out << "  a row overwritten without the logs is found by the replay: "
                << (verify(db, logs, &ignored).isEmpty() ? "NO" : "yes") << Qt::endl;
        }

        const int rawSeconds = qMax(1, seconds / 6);
        qint64 raw[KindCount] = {};
        const double rawElapsed = rawRun(settings, clients, rawSeconds, raw) / 1000.0;
        out << QStringLiteral("\nraw: the same mix as plain statements by key, no reads, no checks, %1 s:")
                   .arg(rawElapsed, 0, 'f', 1)
            << Qt::endl;
        for (int k = 0; k < KindCount; ++k)
            out << QStringLiteral("  %1  %2/s")
                       .arg(QString::fromUtf8(kKindNames[k]))
                       .arg(raw[k] / rawElapsed, 8, 'f', 1)
                << Qt::endl;
        return faults.isEmpty() && errors.isEmpty() && rows == entered - done[Delete] ? 0 : 2;
    } catch (const Error &error) {
        std::fprintf(stderr, "%s\n", qPrintable(error.logText()));
        return 1;
    }
}
