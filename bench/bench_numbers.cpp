// What keeping numbers unique costs on a large catalogue, beside the engine's own indexed
// look-up of one number: the editor's duplicate check, its next-number proposal (a series
// going on, a group full of numbers, another group), and an import's check of 65,000 rows.
//
//   dagl-bench-numbers [RECORDS] [PROGRAM-FOLDER]
// With a program folder whose data/kdmx.mdb exists, that database is used (it gets the number
// indexes, and a group of 9,999 items that is removed again); otherwise a new one with
// RECORDS generated records is made.

#include "ArchivalCode.h"
#include "BenchSupport.h"
#include "Connection.h"
#include "Login.h"
#include "NumberRegister.h"
#include "Schema.h"
#include "Sqlite.h"
#include "TDataModule5.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

#include <algorithm>

using namespace dagl;

namespace {

struct Timing {
    QVector<double> ms;
    void add(qint64 ns) { ms << ns / 1e6; }
    QString text()
    {
        std::sort(ms.begin(), ms.end());
        return QStringLiteral("median %1 ms, max %2 ms (%3 calls)")
            .arg(ms.at(ms.size() / 2), 0, 'f', 3)
            .arg(ms.last(), 0, 'f', 3)
            .arg(ms.size());
    }
};

RecordNumber numberOf(Statement &row)
{
    return RecordNumber::from(
        [&](const QString &column) { return row.column(int(RecordNumber::columns().indexOf(column))).toString(); });
}

QVector<RecordNumber> sample(Connection &db, const QString &where, int count)
{
    QVector<RecordNumber> numbers;
    Statement rows(db.handle(),
        QStringLiteral("SELECT %1 FROM 文件目录 WHERE %2 ORDER BY random() LIMIT %3")
            .arg(RecordNumber::columns().join(QLatin1Char(',')), where)
            .arg(count));
    while (rows.step())
        numbers << numberOf(rows);
    return numbers;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const bench::BenchCatalogue catalogue(argc, argv, permissionCodeList(), out);
    QElapsedTimer t;

    Connection db;
    catalogue.open(db);
    const ArchivalCodeSettings settings; // the default rules, as a new installation has them
    Statement count(db.handle(), QStringLiteral("SELECT count(*) FROM 文件目录"));
    count.step();
    out << "catalogue: " << count.column(0).toLongLong() << " records\n";
    t.start();
    Schema::ensureNumberIndexes(db);
    out << "number indexes present or made on open: " << t.elapsed() << " ms\n";
    out.flush();

    const QVector<RecordNumber> items = sample(db, QStringLiteral("ifnull(JH,'')<>''"), 200);
    const QVector<RecordNumber> volumes = sample(db, QStringLiteral("ifnull(SXH,'')<>'' AND ifnull(JH,'')=''"), 200);
    if (items.isEmpty() || volumes.isEmpty()) {
        out << "the catalogue has no numbered records\n";
        return 1;
    }

    // The engine alone: one prepared statement on the item index, one number at a time.
    {
        Statement raw(db.handle(),
            QStringLiteral("SELECT str_m_date, TM FROM 文件目录 WHERE ") + NumberRegister::indexCondition(true));
        Timing timing;
        for (const RecordNumber &n : items) {
            QElapsedTimer one;
            one.start();
            raw.reset();
            int i = 1;
            for (const QVariant &value : NumberRegister::indexValues(n, true))
                raw.bind(i++, value);
            while (raw.step())
                raw.column(1);
            timing.add(one.nsecsElapsed());
        }
        out << "raw indexed look-up (prepared once):       " << timing.text() << "\n";
    }
    {
        Statement plan(
            db.handle(), QStringLiteral("EXPLAIN QUERY PLAN SELECT 1 FROM 文件目录 WHERE ") + NumberRegister::indexCondition(true));
        int i = 1;
        for (const QVariant &value : NumberRegister::indexValues(items.first(), true))
            plan.bind(i++, value);
        plan.step();
        out << "plan: " << plan.column(plan.columnCount() - 1).toString() << "\n";
    }

    // The editor's duplicate check: a taken number (found) and a free one, both standards.
    for (bool byItem : { true, false }) {
        Timing taken, free;
        for (RecordNumber n : byItem ? items : volumes) {
            QElapsedTimer one;
            one.start();
            const bool found = bool(NumberRegister::holderOf(db, n, byItem, settings));
            taken.add(one.nsecsElapsed());
            if (!found)
                out << "a sampled number was not found\n";
            (byItem ? n.jh : n.sxh) = QStringLiteral("99999");
            one.start();
            NumberRegister::holderOf(db, n, byItem, settings);
            free.add(one.nsecsElapsed());
        }
        out << (byItem ? "duplicate check by item, taken:            " : "duplicate check by volume, taken:          ")
            << taken.text() << "\n";
        out << (byItem ? "duplicate check by item, free:             " : "duplicate check by volume, free:           ")
            << free.text() << "\n";
    }

    // The proposal after a save: the previous record's group, the series going on.
    {
        Timing timing;
        for (const RecordNumber &n : items) {
            QElapsedTimer one;
            one.start();
            NumberRegister::proposeNext(db, n, n, true, settings);
            timing.add(one.nsecsElapsed());
        }
        out << "next number, sampled groups:               " << timing.text() << "\n";
    }

    // A group holding every number from 1 to 9999: the longest walk there is.
    db.execute(QStringLiteral("BEGIN"));
    {
        Statement insert(db.handle(),
            QStringLiteral("INSERT INTO 文件目录 (QZH,GDND,BGQX,JGWT,HH,JH,TM) "
                           "VALUES ('B999','2030','永久','测试',?,?,'测')"));
        for (int jh = 1; jh <= 9999; ++jh) {
            insert.reset();
            insert.bind(1, QString::number(jh / 50 + 1));
            insert.bind(2, QString::number(jh));
            insert.step();
        }
    }
    db.execute(QStringLiteral("COMMIT"));
    RecordNumber full;
    full.qzh = QStringLiteral("B999");
    full.gdnd = QStringLiteral("2030");
    full.bgqx = QStringLiteral("永久");
    full.jgwt = QStringLiteral("测试");
    full.hh = QStringLiteral("1");
    full.jh = QStringLiteral("1");
    {
        Timing walk, other;
        RecordNumber elsewhere = items.first();
        for (int i = 0; i < 20; ++i) {
            QElapsedTimer one;
            one.start();
            NumberRegister::proposeNext(db, full, full, true, settings); // 2..9999 taken: nothing fits
            walk.add(one.nsecsElapsed());
            one.start();
            NumberRegister::proposeNext(db, elsewhere, full, true, settings); // another group: after its highest
            other.add(one.nsecsElapsed());
        }
        out << "next number, group of 9,999 from item 1:   " << walk.text() << "\n";
        out << "next number, into the group of 9,999:      " << other.text() << "\n";
    }
    db.execute(QStringLiteral("DELETE FROM 文件目录 WHERE QZH='B999' AND GDND='2030'"));

    // An import's check of 65,000 rows: half of them taken numbers, half new ones.
    {
        const QVector<RecordNumber> taken = sample(db, QStringLiteral("ifnull(JH,'')<>''"), 32500);
        QElapsedTimer all;
        all.start();
        NumberRegister::Batch batch(db, settings);
        int collisions = 0;
        for (int row = 0; row < 65000; ++row) {
            RecordNumber n = taken.at(row % taken.size());
            if (row % 2)
                n.gdnd = QStringLiteral("2031"), n.jh = QString::number(row / 2 % 9999 + 1);
            if (batch.add(n))
                ++collisions;
        }
        out << "import check of 65,000 rows: " << all.elapsed() << " ms, " << collisions << " collisions\n";
        Statement raw(
            db.handle(), QStringLiteral("SELECT str_m_date FROM 文件目录 WHERE ") + NumberRegister::indexCondition(true));
        all.start();
        for (int row = 0; row < 65000; ++row) {
            const RecordNumber &n = taken.at(row % taken.size());
            raw.reset();
            int i = 1;
            for (const QVariant &value : NumberRegister::indexValues(n, true))
                raw.bind(i++, value);
            while (raw.step()) { }
        }
        out << "raw: 65,000 prepared look-ups:  " << all.elapsed() << " ms\n";
    }
    return 0;
}
