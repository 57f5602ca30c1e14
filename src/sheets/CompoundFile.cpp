#include "CompoundFile.h"

#include <QVector>

namespace dagl {

namespace {

constexpr quint32 SectorSize = 512;
constexpr quint32 IdsPerSector = SectorSize / 4;
constexpr quint32 HeaderDifatEntries = 109;
constexpr quint32 MiniStreamCutoff = 4096;

constexpr quint32 DifSect = 0xFFFFFFFC;
constexpr quint32 FatSect = 0xFFFFFFFD;
constexpr quint32 EndOfChain = 0xFFFFFFFE;
constexpr quint32 FreeSect = 0xFFFFFFFF;
constexpr quint32 NoStream = 0xFFFFFFFF;

quint32 sectorsFor(quint64 bytes)
{
    return quint32((bytes + SectorSize - 1) / SectorSize);
}

// One 128-byte directory entry.
void writeDirectoryEntry(ByteSink &sink, const QString &name, quint8 type, quint32 child, quint32 start, quint64 size)
{
    char nameBytes[64] = {};
    const int length = qMin<int>(name.size(), 31);
    for (int i = 0; i < length; ++i) {
        const char16_t c = name.at(i).unicode();
        nameBytes[2 * i] = char(c & 0xFF);
        nameBytes[2 * i + 1] = char(c >> 8);
    }
    sink.write(nameBytes, sizeof nameBytes);
    sink.writeU16(type == 0 ? 0 : quint16((length + 1) * 2));
    sink.writeByte(type);
    sink.writeByte(type == 0 ? 0 : 1); // colour: black
    sink.writeU32(NoStream); // left sibling
    sink.writeU32(NoStream); // right sibling
    sink.writeU32(child);
    sink.writeZeros(16); // class id
    sink.writeU32(0); // state bits
    sink.writeZeros(16); // creation and modification times
    sink.writeU32(start);
    sink.writeU32(quint32(size & 0xFFFFFFFF));
    sink.writeU32(0); // high part of the size: always 0 with 512-byte sectors
}

} // namespace

CompoundFileWriter::CompoundFileWriter(ByteSink &sink, QString streamName, quint64 streamSize)
    : m_sink(sink)
    , m_streamName(std::move(streamName))
    , m_streamSize(streamSize)
    , m_storedSize(qMax<quint64>(streamSize, MiniStreamCutoff))
{
    m_streamSectors = sectorsFor(m_storedSize);
    // The allocation table must cover the stream, itself, the extra DIFAT sectors and the
    // directory sector; grow it until it does.
    quint32 fat = 1;
    for (;;) {
        const quint32 difat
            = fat > HeaderDifatEntries ? (fat - HeaderDifatEntries + IdsPerSector - 2) / (IdsPerSector - 1) : 0;
        const quint64 needed = quint64(m_streamSectors) + fat + difat + 1;
        if (quint64(fat) * IdsPerSector >= needed) {
            m_fatSectors = fat;
            m_difatSectors = difat;
            break;
        }
        ++fat;
    }
}

void CompoundFileWriter::begin()
{
    m_start = m_sink.position();
    static const char signature[8]
        = { char(0xD0), char(0xCF), char(0x11), char(0xE0), char(0xA1), char(0xB1), char(0x1A), char(0xE1) };
    const quint32 fatStart = m_streamSectors;
    const quint32 difatStart = fatStart + m_fatSectors;
    const quint32 directoryStart = difatStart + m_difatSectors;

    m_sink.write(signature, sizeof signature);
    m_sink.writeZeros(16); // class id
    m_sink.writeU16(0x003E); // minor version
    m_sink.writeU16(0x0003); // major version 3: 512-byte sectors
    m_sink.writeU16(0xFFFE); // little-endian
    m_sink.writeU16(9); // sector shift: 512
    m_sink.writeU16(6); // mini sector shift: 64
    m_sink.writeZeros(6);
    m_sink.writeU32(0); // directory sectors (0 in version 3)
    m_sink.writeU32(m_fatSectors);
    m_sink.writeU32(directoryStart);
    m_sink.writeU32(0); // transaction signature
    m_sink.writeU32(MiniStreamCutoff);
    m_sink.writeU32(EndOfChain); // no mini allocation table
    m_sink.writeU32(0);
    m_sink.writeU32(m_difatSectors ? difatStart : EndOfChain);
    m_sink.writeU32(m_difatSectors);
    for (quint32 i = 0; i < HeaderDifatEntries; ++i)
        m_sink.writeU32(i < m_fatSectors ? fatStart + i : FreeSect);
}

void CompoundFileWriter::finish()
{
    const quint64 written = m_sink.position() - m_start - SectorSize;
    if (written != m_streamSize)
        throw Error(QStringLiteral("内部错误：工作簿数据长度不符（%1/%2）").arg(written).arg(m_streamSize));
    m_sink.writeZeros(quint64(m_streamSectors) * SectorSize - m_streamSize);

    const quint32 fatStart = m_streamSectors;
    const quint32 difatStart = fatStart + m_fatSectors;

    // Allocation table: the stream is one chain of consecutive sectors.
    quint32 sector = 0;
    for (; sector + 1 < m_streamSectors; ++sector)
        m_sink.writeU32(sector + 1);
    m_sink.writeU32(EndOfChain);
    ++sector;
    for (quint32 i = 0; i < m_fatSectors; ++i, ++sector)
        m_sink.writeU32(FatSect);
    for (quint32 i = 0; i < m_difatSectors; ++i, ++sector)
        m_sink.writeU32(DifSect);
    m_sink.writeU32(EndOfChain); // directory
    ++sector;
    for (; sector < m_fatSectors * IdsPerSector; ++sector)
        m_sink.writeU32(FreeSect);

    // DIFAT sectors: the FAT sector numbers the header had no room for, 127 per sector, each
    // sector ending with the number of the next.
    quint32 fatIndex = HeaderDifatEntries;
    for (quint32 d = 0; d < m_difatSectors; ++d) {
        for (quint32 i = 0; i < IdsPerSector - 1; ++i, ++fatIndex)
            m_sink.writeU32(fatIndex < m_fatSectors ? fatStart + fatIndex : FreeSect);
        m_sink.writeU32(d + 1 < m_difatSectors ? difatStart + d + 1 : EndOfChain);
    }

    writeDirectoryEntry(m_sink, QStringLiteral("Root Entry"), 5, 1, EndOfChain, 0);
    writeDirectoryEntry(m_sink, m_streamName, 2, NoStream, 0, m_storedSize);
    writeDirectoryEntry(m_sink, QString(), 0, NoStream, 0, 0);
    writeDirectoryEntry(m_sink, QString(), 0, NoStream, 0, 0);
}

} // namespace dagl
