// What the settings file costs when it has grown large: 50 keys read and the import
// window's 48 keys written to a myini.ini of about 10 MB, beside the raw cost of reading
// the file's bytes as often.
//
//   dagl-bench-ini [MEGABYTES]

#include "ImportPlan.h"
#include "IniFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const int megabytes = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 10;

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("myini.ini"));
    {
        // Sections of Chinese and Latin filler, then the sections the program reads.
        QStringEncoder gbk("GBK");
        QByteArray bytes;
        bytes.reserve(megabytes * 1024 * 1024 + 4096);
        for (int section = 0; bytes.size() < megabytes * 1024 * 1024; ++section) {
            bytes += "[fill" + QByteArray::number(section) + "]\r\n";
            for (int k = 0; k < 200; ++k)
                bytes += "key" + QByteArray::number(k) + "=" + gbk(QStringLiteral("档案管理系统的设置值 value "))
                    + "\r\n";
        }
        bytes += "[jcsz]\r\ncjyhqx=1\r\n[datacsh]\r\nkxpl=0\r\nsrf=\r\n";
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
            return 1;
    }
    const qint64 size = QFile(path).size();

    const dagl::IniFile ini(path);
    QElapsedTimer t;
    t.start();
    int found = 0;
    for (int i = 0; i < 50; ++i) {
        const QString key = i % 2 ? QStringLiteral("key%1").arg(i) : QStringLiteral("kxpl");
        const QString section = i % 2 ? QStringLiteral("fill%1").arg(i * 7) : QStringLiteral("datacsh");
        found += ini.read(section, key, QStringLiteral("?")) != QLatin1String("?");
    }
    const qint64 readMs = t.elapsed();

    t.restart();
    qint64 bytesRead = 0;
    for (int i = 0; i < 50; ++i) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            bytesRead += file.readAll().count('\n');
    }
    const qint64 rawReadMs = t.elapsed();

    t.restart();
    dagl::ImportSettings::save(ini, dagl::ImportSettings::load(ini));
    const qint64 saveMs = t.elapsed();

    out << "myini.ini of " << size / (1024 * 1024) << " MB (" << bytesRead / 50 << " lines)\n"
        << "  50 keys read:                   " << readMs << " ms (" << found << " found)\n"
        << "  raw: the file's bytes 50 times: " << rawReadMs << " ms\n"
        << "  import mapping, 48 keys read and written: " << saveMs << " ms\n";
    return 0;
}
