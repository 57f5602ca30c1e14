#pragma once

#include "ByteSink.h"

#include <QString>

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

} // namespace dagl
