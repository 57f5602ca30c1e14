#pragma once

#include <QByteArray>
#include <QHash>
#include <QIODevice>
#include <QString>
#include <QStringList>

#include <memory>

namespace dagl {

class WorkbookBudget;

// The entries of a zip archive held in memory, found through its central directory, each
// expanded on demand with zlib. Sizes, offsets and the expanded length are checked against
// the archive and a bound, so a damaged archive or a zip bomb gives WorkbookFault. Our own
// reader of the directory rather than a container library: it is a few dozen checked lines,
// every size is bounded before anything is expanded, and zlib is already on every machine.
class ZipArchive {
public:
    explicit ZipArchive(const QByteArray &file);

    static bool isZip(const QByteArray &start);

    // Entry names match regardless of letter case and of a leading "/".
    bool contains(const QString &name) const;
    QStringList entryNames() const;
    // A sequential device giving the entry's expanded bytes, at most `limit` of them, each
    // charged to `budget` when one is given. A fault met while reading ends the data early;
    // check() then says what it was.
    std::unique_ptr<QIODevice> open(const QString &name, quint64 limit, WorkbookBudget *budget = nullptr) const;
    // The entry's whole expanded content. Throws WorkbookFault.
    QByteArray read(const QString &name, quint64 limit) const;

    // Throws the fault a device of open() met, if any.
    static void check(const QIODevice &device);

private:
    struct Entry {
        QString name;
        quint16 flags;
        quint16 method;
        quint32 crc;
        quint32 packedSize;
        quint32 size;
        quint32 localOffset;
    };
    const Entry *find(const QString &name) const;

    QByteArray m_file;
    QHash<QString, Entry> m_entries; // by lower-case name
};

} // namespace dagl
