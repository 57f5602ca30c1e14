// Times what a large catalogue costs: filling it, opening the shared catalogue dataset,
// sorting it in place, and the engine's own ordered and filtered reads of the same rows
// (the raw limit the dataset is measured against).

#include "Connection.h"
#include "Dataset.h"
#include "Login.h"
#include "SampleCatalogue.h"
#include "Schema.h"
#include "Sqlite.h"
#include "TDataModule5.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>

#include <fstream>
#include <string>

namespace {

long residentKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const int records = argc > 1 ? std::atoi(argv[1]) : 1000000;
    QTemporaryDir dir;
    const QString folder = dir.path() + QLatin1Char('/');
    QElapsedTimer t;

    dagl::Schema::NewDatabase spec;
    spec.path = folder + dagl::Schema::kDatabaseFile;
    spec.rightCodes = dagl::permissionCodeList();
    spec.sampleRecords = records;
    t.start();
    dagl::Schema::create(spec);
    out << "records: " << records << "\n";
    out << "fill (new file, with indexes): " << t.elapsed() << " ms\n";

    dagl::Connection db;
    db.setConnectionString(dagl::TDataModule5::connectionStringFor(folder));
    db.open();

    t.restart();
    {
        dagl::Statement raw(db.handle(), QStringLiteral("select * from 文件目录  order by sxh"));
        long rows = 0;
        while (raw.step())
            ++rows;
        out << "engine alone, ordered read of " << rows << " rows: " << t.elapsed() << " ms\n";
    }
    t.restart();
    {
        dagl::Statement raw(db.handle(), QStringLiteral("select count(*) from 文件目录 where tm like '%档案%'"));
        raw.step();
        out << "engine alone, like filter over all rows: " << t.elapsed() << " ms ("
            << raw.column(0).toLongLong() << " found)\n";
    }

    const long before = residentKb();
    dagl::Dataset tsyyp(QStringLiteral("Tsyyp"));
    tsyyp.setConnection(&db);
    tsyyp.setCommandText(QStringLiteral("select * from 文件目录  order by sxh"));
    tsyyp.setDeclaredFields(dagl::Schema::catalogueFields());
    t.restart();
    tsyyp.open();
    out << "Tsyyp open (all rows read): " << t.elapsed() << " ms, memory +" << (residentKb() - before) / 1024
        << " MiB\n";
    t.restart();
    tsyyp.sort(QStringLiteral("TM DESC"));
    out << "Tsyyp sort in place by TM: " << t.elapsed() << " ms\n";
    t.restart();
    tsyyp.last();
    tsyyp.edit();
    tsyyp.setText(QStringLiteral("BZ"), QStringLiteral("改"));
    tsyyp.post();
    out << "edit and post one row: " << t.elapsed() << " ms\n";
    return 0;
}
