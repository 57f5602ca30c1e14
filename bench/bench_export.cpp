// Times the six export writers on a large grid (100,000 records x 24 columns of Chinese
// texts and numbers) against the raw limit: the same number of bytes written to a file with
// one write call. Usage: dagl-bench-export [records] [formats, e.g. "csv,xlsx"].

#include "BenchSupport.h"
#include "GridWriters.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Starts a new peak of resident memory, so each writer's own peak can be read.
void resetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}


// Catalogue-like cells: unique archive numbers and titles, integer columns, and columns drawn
// from small sets of Chinese words, all made before timing so only the writers are measured.
struct SyntheticGrid {
    static constexpr int Columns = 24;
    std::vector<QString> numbers, titles;
    std::vector<std::vector<QString>> pools;

    explicit SyntheticGrid(int rows)
    {
        static const char16_t *words[] = { u"文书档案", u"会计凭证", u"人事任免", u"基建工程", u"科研项目", u"永久",
            u"长期", u"短期", u"办公室", u"财务处", u"档案馆", u"翠岚县人民政府", u"关于加强档案管理工作的通知" };
        for (int r = 0; r < rows; ++r) {
            numbers.push_back(QStringLiteral("WS-%1-%2").arg(2000 + r % 24).arg(r, 6, 10, QChar(u'0')));
            titles.push_back(QStringLiteral("关于第%1号文件归档情况的报告").arg(r));
        }
        for (int c = 0; c < Columns; ++c) {
            std::vector<QString> pool;
            for (int i = 0; i < 97; ++i) {
                if (c % 4 == 3)
                    pool.push_back(QString::number(1990 + (i * 7 + c) % 40));
                else
                    pool.push_back(QString::fromUtf16(words[(i + c) % 13]) + QString::number(i % (c + 2)));
            }
            pools.push_back(std::move(pool));
        }
    }

    dagl::GridTable table() const
    {
        dagl::GridTable t;
        for (int c = 0; c < Columns; ++c) {
            t.titles << QStringLiteral("列%1").arg(c + 1);
            t.numeric << (c % 4 == 3);
            t.footer << (c == 0 ? QStringLiteral("共%1条").arg(numbers.size()) : QString());
        }
        t.rowCount = int(numbers.size());
        t.cell = [this](int r, int c) -> QString {
            if (c == 0)
                return numbers[size_t(r)];
            if (c == 1)
                return titles[size_t(r)];
            const auto &pool = pools[size_t(c)];
            return pool[size_t(r * 31 + c) % pool.size()];
        };
        return t;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
    QTemporaryDir dir;
    const SyntheticGrid grid(rows);
    const dagl::GridTable table = grid.table();
    out << "grid: " << rows << " records x " << SyntheticGrid::Columns << " columns\n";
    {
        // What only reading every cell costs, the floor under any writer.
        QElapsedTimer t;
        t.start();
        qsizetype chars = 0;
        for (int r = 0; r < table.rowCount; ++r)
            for (int c = 0; c < SyntheticGrid::Columns; ++c)
                chars += table.cell(r, c).size();
        out << "reading the cells alone: " << t.elapsed() << " ms (" << chars << " characters)\n";
    }

    struct Format {
        dagl::ExportFormat format;
        const char *name;
    };
    const Format formats[] = { { dagl::ExportFormat::Text, "txt" }, { dagl::ExportFormat::Csv, "csv" },
        { dagl::ExportFormat::Html, "htm" }, { dagl::ExportFormat::Rtf, "rtf" }, { dagl::ExportFormat::Xls, "xls" },
        { dagl::ExportFormat::Xlsx, "xlsx" } };
    const QStringList only = argc > 2 ? QString::fromLocal8Bit(argv[2]).split(QLatin1Char(',')) : QStringList();
    for (const Format &f : formats) {
        if (!only.isEmpty() && !only.contains(QLatin1String(f.name)))
            continue;
        const QString path = dir.filePath(QStringLiteral("export.") + QLatin1String(f.name));
        resetPeak();
        const long before = dagl::bench::statusKb("VmHWM:");
        QElapsedTimer t;
        t.start();
        dagl::writeGridFile(f.format, table, path);
        const qint64 writerMs = t.elapsed();
        const long peakKb = dagl::bench::statusKb("VmHWM:");
        const long writerKb = peakKb - before;

        QFile produced(path);
        produced.open(QIODevice::ReadOnly);
        const QByteArray bytes = produced.readAll();
        produced.close();
        const QString rawPath = dir.filePath(QStringLiteral("raw.") + QLatin1String(f.name));
        // The same bytes with one write, made as durable as the writer's file (synced to disk).
        t.restart();
        {
            QFile raw(rawPath);
            raw.open(QIODevice::WriteOnly);
            raw.write(bytes);
            raw.flush();
            ::fsync(raw.handle());
        }
        const qint64 rawMs = t.elapsed();
        QFile::remove(rawPath);
        QFile::remove(path);

        out << f.name << ": " << bytes.size() / 1024 / 1024 << " MB, writer " << writerMs << " ms, raw write " << rawMs
            << " ms, ratio " << QString::number(double(writerMs) / qMax<qint64>(rawMs, 1), 'f', 1) << ", writer memory "
            << writerKb / 1024 << " MB, peak of the program while writing " << peakKb / 1024 << " MB\n";
        out.flush();
    }
    return 0;
}
