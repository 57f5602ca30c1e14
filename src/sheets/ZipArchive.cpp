#include "ZipArchive.h"

#include "SheetData.h"

#include <zlib.h>

#include <cstring>

namespace dagl {

namespace {

quint16 u16(const char *p)
{
    return quint16(uchar(p[0]) | uchar(p[1]) << 8);
}

quint32 u32(const char *p)
{
    return quint32(uchar(p[0])) | quint32(uchar(p[1])) << 8 | quint32(uchar(p[2])) << 16 | quint32(uchar(p[3])) << 24;
}

constexpr quint64 MaxDeflateRatio = 1032;

QString sizeText(quint64 bytes)
{
    if (bytes >= 10ull << 20)
        return QStringLiteral("%1MB").arg(bytes >> 20);
    if (bytes >= 10ull << 10)
        return QStringLiteral("%1KB").arg(bytes >> 10);
    return QStringLiteral("%1字节").arg(bytes);
}

QString key(const QString &name)
{
    QString k = name.toLower();
    while (k.startsWith(QLatin1Char('/')))
        k.remove(0, 1);
    return k;
}

// Expands one entry as it is read; stops at the first fault and keeps it.
class EntryDevice : public QIODevice {
public:
    EntryDevice(const char *data, quint32 packed, quint16 method, quint32 size, quint32 crc, quint64 limit,
        QString name, WorkbookBudget *budget)
        : m_data(data)
        , m_packed(packed)
        , m_method(method)
        , m_size(size)
        , m_crc(crc)
        , m_limit(limit)
        , m_name(std::move(name))
        , m_budget(budget)
    {
        m_stream.zalloc = Z_NULL;
        m_stream.zfree = Z_NULL;
        m_stream.opaque = Z_NULL;
        m_stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
        m_stream.avail_in = packed;
        if (m_method == 8 && inflateInit2(&m_stream, -MAX_WBITS) != Z_OK)
            fail(WorkbookFault::Kind::Damaged, QStringLiteral("无法解压“%1”").arg(m_name));
        else
            m_inflating = m_method == 8;
        open(QIODevice::ReadOnly);
    }
    ~EntryDevice() override
    {
        if (m_inflating)
            inflateEnd(&m_stream);
    }
    bool isSequential() const override { return true; }
    bool atEnd() const override { return m_done && QIODevice::atEnd(); }
    qint64 bytesAvailable() const override { return QIODevice::bytesAvailable(); }

    bool failed() const { return m_failed; }
    const WorkbookFault &fault() const { return m_fault; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (m_done || maxSize <= 0)
            return m_failed ? -1 : 0;
        qint64 produced = 0;
        if (m_method == 0) {
            produced = qMin<qint64>(maxSize, qint64(m_packed) - qint64(m_out));
            std::memcpy(data, m_data + m_out, size_t(produced));
        } else {
            m_stream.next_out = reinterpret_cast<Bytef *>(data);
            m_stream.avail_out = uInt(qMin<qint64>(maxSize, 1 << 20));
            // Input may be taken without output (block headers): go on until there is some.
            while (produced == 0 && !m_ended) {
                const int status = inflate(&m_stream, Z_NO_FLUSH);
                produced = qint64(reinterpret_cast<char *>(m_stream.next_out) - data);
                if (status == Z_STREAM_END)
                    m_ended = true;
                else if (status != Z_OK || (produced == 0 && m_stream.avail_in == 0))
                    return fail(
                        WorkbookFault::Kind::Damaged, QStringLiteral("“%1”的压缩数据已损坏或不完整").arg(m_name));
            }
        }
        m_out += quint64(produced);
        if (m_out > m_size || m_out > m_limit) {
            if (m_out > m_limit)
                return fail(
                    WorkbookFault::Kind::TooLarge, QStringLiteral("“%1”解压后超过%2MB").arg(m_name).arg(m_limit >> 20));
            return fail(WorkbookFault::Kind::Damaged, QStringLiteral("“%1”解压后比记载的长度长").arg(m_name));
        }
        if (m_budget && !m_budget->expand(quint64(produced))) {
            const WorkbookFault fault = m_budget->expandedFault();
            return fail(fault.kind, fault.detail);
        }
        m_crcNow = crc32(m_crcNow, reinterpret_cast<const Bytef *>(data), uInt(produced));
        if (m_method == 0 ? m_out == m_packed : m_ended) {
            m_done = true;
            if (m_out != m_size || m_crcNow != m_crc)
                return fail(WorkbookFault::Kind::Damaged, QStringLiteral("“%1”的校验和不符").arg(m_name));
        }
        return produced;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    qint64 fail(WorkbookFault::Kind kind, const QString &detail)
    {
        if (!m_failed)
            m_fault = { kind, detail };
        m_failed = true;
        m_done = true;
        return -1;
    }

    const char *m_data;
    quint32 m_packed;
    quint16 m_method;
    quint32 m_size;
    quint32 m_crc;
    quint64 m_limit;
    QString m_name;
    WorkbookBudget *m_budget;
    z_stream m_stream {};
    bool m_inflating = false;
    bool m_ended = false;
    bool m_done = false;
    bool m_failed = false;
    quint64 m_out = 0;
    uLong m_crcNow = crc32(0, Z_NULL, 0);
    WorkbookFault m_fault { WorkbookFault::Kind::Damaged, QString() };
};

} // namespace

bool ZipArchive::isZip(const QByteArray &start)
{
    return start.startsWith("PK\x03\x04");
}

ZipArchive::ZipArchive(const QByteArray &file)
    : m_file(file)
{
    // The end record sits in the last 22 bytes plus at most a 64 KB comment.
    const char *data = m_file.constData();
    const qsizetype size = m_file.size();
    qsizetype end = -1;
    for (qsizetype at = size - 22; at >= 0 && at >= size - 22 - 0xFFFF; --at) {
        if (u32(data + at) == 0x06054b50) {
            end = at;
            break;
        }
    }
    if (end < 0)
        WorkbookFault::damaged(QStringLiteral("压缩包不完整：找不到中央目录"));
    const quint16 count = u16(data + end + 10);
    const quint32 directorySize = u32(data + end + 12);
    const quint32 directoryOffset = u32(data + end + 16);
    if (directoryOffset == 0xFFFFFFFF || count == 0xFFFF)
        WorkbookFault::damaged(QStringLiteral("不支持ZIP64格式的压缩包"));
    if (quint64(directoryOffset) + directorySize > quint64(end))
        WorkbookFault::damaged(QStringLiteral("压缩包的中央目录超出了文件"));
    qsizetype at = directoryOffset;
    const qsizetype directoryEnd = qsizetype(directoryOffset) + directorySize;
    for (quint16 i = 0; i < count; ++i) {
        if (at + 46 > directoryEnd || u32(data + at) != 0x02014b50)
            WorkbookFault::damaged(QStringLiteral("压缩包的中央目录已损坏"));
        const char *h = data + at;
        Entry e;
        e.flags = u16(h + 8);
        e.method = u16(h + 10);
        e.crc = u32(h + 16);
        e.packedSize = u32(h + 20);
        e.size = u32(h + 24);
        const quint16 nameLength = u16(h + 28);
        const quint16 extraLength = u16(h + 30);
        const quint16 commentLength = u16(h + 32);
        e.localOffset = u32(h + 42);
        const qsizetype next = at + 46 + nameLength + extraLength + commentLength;
        if (next > directoryEnd)
            WorkbookFault::damaged(QStringLiteral("压缩包的中央目录已损坏"));
        e.name = QString::fromUtf8(h + 46, nameLength);
        m_entries.insert(key(e.name), e);
        at = next;
    }
}

const ZipArchive::Entry *ZipArchive::find(const QString &name) const
{
    const auto it = m_entries.constFind(key(name));
    return it == m_entries.constEnd() ? nullptr : &it.value();
}

bool ZipArchive::contains(const QString &name) const
{
    return find(name) != nullptr;
}

QStringList ZipArchive::entryNames() const
{
    QStringList names;
    for (const Entry &e : m_entries)
        names << e.name;
    names.sort();
    return names;
}

std::unique_ptr<QIODevice> ZipArchive::open(const QString &name, quint64 limit, WorkbookBudget *budget) const
{
    const Entry *e = find(name);
    if (!e)
        WorkbookFault::damaged(QStringLiteral("缺少“%1”").arg(name));
    // Excel encrypts a whole workbook inside a compound file, never a zip entry: an entry
    // marked encrypted is a damaged flag or another program's work.
    if (e->flags & 1)
        WorkbookFault::damaged(QStringLiteral("“%1”使用了不支持的加密方式").arg(name));
    if (e->method != 0 && e->method != 8)
        WorkbookFault::damaged(QStringLiteral("“%1”使用了不支持的压缩方式（%2）").arg(name).arg(e->method));
    // Deflate expands a byte to at most 1032: a length beyond that is a damaged header, not
    // a large part.
    if ((e->method == 0 && e->packedSize != e->size)
        || quint64(e->size) > quint64(e->packedSize) * MaxDeflateRatio + 1024)
        WorkbookFault::damaged(QStringLiteral("“%1”记载的长度（%2）与压缩数据（%3）不符")
                                   .arg(name, sizeText(e->size), sizeText(e->packedSize)));
    if (e->size > limit)
        WorkbookFault::tooLarge(
            QStringLiteral("“%1”解压后有%2MB，超过%3MB").arg(name).arg(e->size >> 20).arg(limit >> 20));
    const quint64 local = e->localOffset;
    if (local + 30 > quint64(m_file.size()) || u32(m_file.constData() + local) != 0x04034b50)
        WorkbookFault::damaged(QStringLiteral("“%1”的位置无效").arg(name));
    const quint64 start = local + 30 + u16(m_file.constData() + local + 26) + u16(m_file.constData() + local + 28);
    if (start + e->packedSize > quint64(m_file.size()))
        WorkbookFault::damaged(QStringLiteral("“%1”超出了文件的末尾").arg(name));
    return std::make_unique<EntryDevice>(
        m_file.constData() + start, e->packedSize, e->method, e->size, e->crc, limit, e->name, budget);
}

QByteArray ZipArchive::read(const QString &name, quint64 limit) const
{
    const std::unique_ptr<QIODevice> device = open(name, limit);
    QByteArray bytes;
    char buffer[1 << 16];
    for (;;) {
        const qint64 n = device->read(buffer, sizeof buffer);
        if (n <= 0)
            break;
        bytes.append(buffer, n);
    }
    check(*device);
    return bytes;
}

void ZipArchive::check(const QIODevice &device)
{
    const auto *entry = dynamic_cast<const EntryDevice *>(&device);
    if (entry && entry->failed())
        throw entry->fault();
}

} // namespace dagl
