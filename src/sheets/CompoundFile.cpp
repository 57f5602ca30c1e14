#include "CompoundFile.h"

#include "SheetData.h"

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

namespace dagl {

namespace {

quint32 le32(const char *p)
{
    return quint32(uchar(p[0])) | quint32(uchar(p[1])) << 8 | quint32(uchar(p[2])) << 16 | quint32(uchar(p[3])) << 24;
}

quint16 le16(const char *p)
{
    return quint16(uchar(p[0]) | uchar(p[1]) << 8);
}

constexpr quint32 MaxRegularSector = 0xFFFFFFFA;

} // namespace

bool CompoundFileReader::isCompoundFile(const QByteArray &start)
{
    return start.startsWith(QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8));
}

CompoundFileReader::CompoundFileReader(const QByteArray &file)
    : m_file(file)
{
    if (m_file.size() < 512 || !isCompoundFile(m_file))
        WorkbookFault::damaged(QStringLiteral("文件头不完整"));
    const char *h = m_file.constData();
    const quint16 shift = le16(h + 30);
    if (le16(h + 28) != 0xFFFE || (shift != 9 && shift != 12) || le16(h + 32) != 6)
        WorkbookFault::damaged(QStringLiteral("复合文件头无效"));
    m_sectorSize = 1u << shift;
    m_miniCutoff = le32(h + 56);
    const quint32 fatSectors = le32(h + 44);
    const quint32 directoryStart = le32(h + 48);
    const quint32 miniFatStart = le32(h + 60);
    const quint32 difatStart = le32(h + 68);
    const quint32 difatSectors = le32(h + 72);
    const quint32 sectors = sectorCount();
    if (fatSectors > sectors + 1)
        WorkbookFault::damaged(QStringLiteral("分配表的扇区数（%1）超出了文件的大小").arg(fatSectors));
    if (difatSectors > sectors + 1)
        WorkbookFault::damaged(QStringLiteral("分配表索引（DIFAT）的扇区数（%1）超出了文件的大小").arg(difatSectors));

    // The allocation table's own sectors: 109 in the header, the rest in the DIFAT chain.
    std::vector<quint32> fatIds;
    for (quint32 i = 0; i < 109 && fatIds.size() < fatSectors; ++i)
        fatIds.push_back(le32(h + 76 + 4 * i));
    quint32 next = difatStart;
    for (quint32 d = 0; d < difatSectors && fatIds.size() < fatSectors; ++d) {
        const char *s = sector(next);
        const quint32 perSector = m_sectorSize / 4 - 1;
        for (quint32 i = 0; i < perSector && fatIds.size() < fatSectors; ++i)
            fatIds.push_back(le32(s + 4 * i));
        next = le32(s + 4 * perSector);
    }
    if (fatIds.size() < fatSectors)
        WorkbookFault::damaged(QStringLiteral("分配表不完整"));
    m_fat.reserve(size_t(fatSectors) * (m_sectorSize / 4));
    for (quint32 id : fatIds) {
        const char *s = sector(id);
        for (quint32 i = 0; i < m_sectorSize / 4; ++i)
            m_fat.push_back(le32(s + 4 * i));
    }

    const QByteArray directory = readChain(directoryStart, 0);
    for (qsizetype at = 0; at + 128 <= directory.size(); at += 128) {
        const char *e = directory.constData() + at;
        const quint16 nameBytes = le16(e + 64);
        Entry entry;
        entry.type = quint8(e[66]);
        if (entry.type != 1 && entry.type != 2 && entry.type != 5)
            continue;
        const int chars = qBound(0, nameBytes / 2 - 1, 31);
        for (int i = 0; i < chars; ++i)
            entry.name += QChar(le16(e + 2 * i));
        entry.start = le32(e + 116);
        entry.size = le32(e + 120) | (m_sectorSize == 512 ? 0 : quint64(le32(e + 124)) << 32);
        m_entries.push_back(entry);
    }
    if (m_entries.empty() || m_entries.front().type != 5)
        WorkbookFault::damaged(QStringLiteral("复合文件的目录无效"));

    // The mini stream lives in the root entry's chain; its table in its own chain.
    const Entry &root = m_entries.front();
    if (root.size > 0 && root.start <= MaxRegularSector) {
        m_miniStream = readChain(root.start, root.size);
        if (miniFatStart <= MaxRegularSector) {
            const QByteArray table = readChain(miniFatStart, 0);
            m_miniFat.reserve(size_t(table.size() / 4));
            for (qsizetype at = 0; at + 4 <= table.size(); at += 4)
                m_miniFat.push_back(le32(table.constData() + at));
        }
    }
}

quint32 CompoundFileReader::sectorCount() const
{
    return quint32(qMin<qint64>(
        (m_file.size() - 512) / m_sectorSize + ((m_file.size() - 512) % m_sectorSize ? 1 : 0), MaxRegularSector));
}

const char *CompoundFileReader::sector(quint32 id) const
{
    // A sector cut off by the end of the file counts as missing.
    const quint64 offset = (quint64(id) + 1) * m_sectorSize;
    if (id > MaxRegularSector || offset + m_sectorSize > quint64(m_file.size()))
        WorkbookFault::damaged(QStringLiteral("文件不完整：缺少第%1个扇区").arg(id));
    return m_file.constData() + offset;
}

std::vector<quint32> CompoundFileReader::chain(quint32 start, const std::vector<quint32> &table, quint32 limit) const
{
    std::vector<quint32> ids;
    quint32 id = start;
    while (id != 0xFFFFFFFE) {
        if (id >= table.size() || id > MaxRegularSector)
            WorkbookFault::damaged(QStringLiteral("扇区链指向不存在的扇区%1").arg(id));
        if (ids.size() >= limit)
            WorkbookFault::damaged(QStringLiteral("扇区链有环或过长"));
        ids.push_back(id);
        id = table[id];
    }
    return ids;
}

QByteArray CompoundFileReader::readChain(quint32 start, quint64 size) const
{
    // size 0: as long as the chain runs (the directory and the mini table).
    const std::vector<quint32> ids = chain(start, m_fat, sectorCount());
    if (size > quint64(ids.size()) * m_sectorSize)
        WorkbookFault::damaged(QStringLiteral("数据流比它的扇区链长"));
    QByteArray bytes;
    bytes.reserve(qsizetype(size ? size : quint64(ids.size()) * m_sectorSize));
    for (quint32 id : ids)
        bytes.append(sector(id), m_sectorSize);
    if (size)
        bytes.truncate(qsizetype(size));
    return bytes;
}

const CompoundFileReader::Entry *CompoundFileReader::find(const QString &name) const
{
    for (const Entry &entry : m_entries) {
        if (entry.type == 2 && entry.name.compare(name, Qt::CaseInsensitive) == 0)
            return &entry;
    }
    return nullptr;
}

bool CompoundFileReader::hasStream(const QString &name) const
{
    return find(name) != nullptr;
}

QByteArray CompoundFileReader::stream(const QString &name) const
{
    const Entry *entry = find(name);
    if (!entry)
        WorkbookFault::damaged(QStringLiteral("缺少数据流“%1”").arg(name));
    if (entry->size > quint64(m_file.size()))
        WorkbookFault::damaged(QStringLiteral("数据流“%1”的长度超出了文件的大小").arg(name));
    if (entry->size >= m_miniCutoff)
        return readChain(entry->start, entry->size);
    // A short stream: 64-byte sectors of the mini stream.
    const std::vector<quint32> ids = chain(entry->start, m_miniFat, quint32(m_miniStream.size() / 64));
    if (entry->size > quint64(ids.size()) * 64)
        WorkbookFault::damaged(QStringLiteral("数据流“%1”比它的扇区链长").arg(name));
    QByteArray bytes;
    bytes.reserve(qsizetype(entry->size));
    for (quint32 id : ids) {
        if ((quint64(id) + 1) * 64 > quint64(m_miniStream.size()))
            WorkbookFault::damaged(QStringLiteral("数据流“%1”指向不存在的小扇区").arg(name));
        bytes.append(m_miniStream.constData() + quint64(id) * 64, 64);
    }
    bytes.truncate(qsizetype(entry->size));
    return bytes;
}

} // namespace dagl
