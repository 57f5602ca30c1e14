#pragma once

#include "Connection.h"
#include "Schema.h"
#include "TDataModule5.h"
#include "Ui.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdlib>
#include <fstream>
#include <string>

namespace dagl::bench {

// A memory figure of this process from /proc/self/status, in KiB: "VmRSS:" now,
// "VmHWM:" at its peak.
inline long statusKb(const char *key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string wanted(key);
    while (std::getline(status, line)) {
        if (line.rfind(wanted, 0) == 0)
            return std::stol(line.substr(wanted.size()));
    }
    return 0;
}

// A seam that shows nothing and answers every question with OK or "no file": the benches
// only read.
class SilentUi : public Ui {
public:
    Answer messageBox(const QString &, const QString &, Icon, Buttons) override { return Answer::Ok; }
    QString openFileName(const QString &, const QString &, const QString &) override { return {}; }
    QString existingFolder(const QString &, const QString &) override { return {}; }
    bool saveFile(const QString &, const QString &, const QString &, QString &, int &) override { return false; }
    void printPreview(QWidget *, const QString &, PagedReport &) override { }
    bool shellOpen(const QString &) override { return false; }
    QStringList printers() override { return {}; }
    QStringList inputMethods() override { return {}; }
    void switchInputMethod(QWidget *, const QString &) override { }
    void requestQuit() override { }
};

// The catalogue a bench works on, from its command line [RECORDS] [PROGRAM-FOLDER]: the
// program folder named, else a scratch one. A folder without a database gets one with
// RECORDS generated records (a million when not given), and `out` is told how long that took.
class BenchCatalogue {
public:
    BenchCatalogue(int argc, char *argv[], const QStringList &rightCodes, QTextStream &out)
        : records(argc > 1 ? std::atoi(argv[1]) : 1000000)
        , folder(argc > 2 ? QString::fromLocal8Bit(argv[2]) : m_scratch.path())
    {
        if (!folder.endsWith(QLatin1Char('/')))
            folder += QLatin1Char('/');
        if (QFileInfo::exists(folder + Schema::kDatabaseFile))
            return;
        Schema::NewDatabase spec;
        spec.path = folder + Schema::kDatabaseFile;
        spec.rightCodes = rightCodes;
        spec.sampleRecords = records;
        QElapsedTimer t;
        t.start();
        Schema::create(spec);
        out << "made " << records << " records (new file, with indexes): " << t.elapsed() << " ms\n";
    }

    // Opens `db` on the catalogue's database.
    void open(Connection &db) const
    {
        db.setConnectionString(TDataModule5::connectionStringFor(folder));
        db.open();
    }

private:
    QTemporaryDir m_scratch; // before the folder, which may name it

public:
    const int records;
    QString folder; // with a trailing "/"
};

} // namespace dagl::bench
