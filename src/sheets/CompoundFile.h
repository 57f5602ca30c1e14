#pragma once

#include "ByteSink.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace dagl {

// Writes an OLE2 compound file (512-byte sectors) that holds a single stream under the root,
// as Excel 97-2003 workbooks are stored. The stream's size must be known up front so the
// stream can be written straight through: begin() writes the header, the caller writes exactly
// streamSize bytes to the sink, finish() writes the allocation table and the directory.
// Short streams are padded with zeros to more than 4096 bytes, which keeps them out of the
// mini stream (some readers take exactly 4096 bytes as a mini stream too) without changing
// what readers find in them: the records end before the padding.
class CompoundFileWriter {
public:
    CompoundFileWriter(ByteSink &sink, QString streamName, quint64 streamSize);

    void begin();
    void finish();

    // Size of the stream as stored (after padding).
    quint64 storedSize() const { return m_storedSize; }

private:
    ByteSink &m_sink;
    QString m_streamName;
    quint64 m_streamSize;
    quint64 m_storedSize;
    quint32 m_streamSectors = 0;
    quint32 m_fatSectors = 0;
    quint32 m_difatSectors = 0;
    quint64 m_start = 0;
};

// Reads the streams of an OLE2 compound file held in memory. Every sector number, chain and
// size is checked against the file, so a damaged file gives WorkbookFault, never a read
// outside it or an endless chain.
class CompoundFileReader {
public:
    explicit CompoundFileReader(const QByteArray &file);

    // Whether a stream of that name (any letter case) is in the file.
    bool hasStream(const QString &name) const;
    // The stream's bytes; throws WorkbookFault when it is missing or damaged.
    QByteArray stream(const QString &name) const;

    static bool isCompoundFile(const QByteArray &start);

private:
    struct Entry {
        QString name;
        quint8 type;
        quint32 start;
        quint64 size;
    };
    quint32 sectorCount() const;
    const char *sector(quint32 id) const;
    std::vector<quint32> chain(quint32 start, const std::vector<quint32> &table, quint32 limit) const;
    QByteArray readChain(quint32 start, quint64 size) const;
    const Entry *find(const QString &name) const;

    QByteArray m_file;
    quint32 m_sectorSize = 512;
    quint32 m_miniCutoff = 4096;
    std::vector<quint32> m_fat;
    std::vector<quint32> m_miniFat;
    std::vector<Entry> m_entries;
    QByteArray m_miniStream;
};

} // namespace dagl
