#pragma once

#include "CheckedSaveFile.h"
#include "Error.h"

#include <QByteArray>
#include <QIODevice>

#include <cstring>
#include <memory>

namespace dagl {

// Buffered output for the export writers: collects bytes and hands them to the device in large
// blocks, so a writer can emit many small pieces cheaply. A sink without a device only counts,
// which lets a writer lay out a file (offsets, sizes) by running its own code once dry.
class ByteSink {
public:
    // Largest size reserve() gives room for.
    static constexpr qsizetype BlockSize = 1 << 16;

    explicit ByteSink(QIODevice *device)
        : m_device(device)
        , m_buffer(new char[BlockSize])
    {
    }
    ~ByteSink() = default;
    ByteSink(const ByteSink &) = delete;
    ByteSink &operator=(const ByteSink &) = delete;

    // Bytes emitted so far, written or only counted.
    quint64 position() const { return m_position; }

    void write(const char *data, qsizetype size)
    {
        m_position += quint64(size);
        if (!m_device)
            return;
        if (m_used + size > BlockSize) {
            flush();
            if (size >= BlockSize) {
                put(data, size);
                return;
            }
        }
        std::memcpy(m_buffer.get() + m_used, data, size_t(size));
        m_used += size;
    }
    void write(const QByteArray &bytes) { write(bytes.constData(), bytes.size()); }
    void writeByte(quint8 value)
    {
        const char c = char(value);
        write(&c, 1);
    }
    void writeU16(quint16 value)
    {
        const char bytes[2] = { char(value & 0xFF), char(value >> 8) };
        write(bytes, 2);
    }
    void writeU32(quint32 value)
    {
        const char bytes[4]
            = { char(value & 0xFF), char((value >> 8) & 0xFF), char((value >> 16) & 0xFF), char(value >> 24) };
        write(bytes, 4);
    }
    void writeZeros(quint64 count)
    {
        static const char zeros[512] = {};
        while (count > 0) {
            const qsizetype n = qsizetype(qMin<quint64>(count, sizeof zeros));
            write(zeros, n);
            count -= quint64(n);
        }
    }

    // Room for up to `size` bytes (at most BlockSize) to be filled and then committed.
    char *reserve(qsizetype size)
    {
        if (!m_device)
            m_used = 0;
        else if (m_used + size > BlockSize)
            flush();
        return m_buffer.get() + m_used;
    }
    void commit(qsizetype size)
    {
        m_used += size;
        m_position += quint64(size);
    }

    // The text in UTF-8; a lone surrogate becomes U+FFFD.
    void writeUtf8(QStringView text)
    {
        const char16_t *s = text.utf16();
        qsizetype left = text.size();
        while (left > 0) {
            qsizetype n = qMin<qsizetype>(left, BlockSize / 3);
            if (n < left && QChar::isHighSurrogate(s[n - 1]))
                --n; // keep a surrogate pair together
            char *const out = reserve(n * 3);
            char *p = out;
            for (qsizetype i = 0; i < n; ++i) {
                const char16_t c = s[i];
                if (c < 0x80) {
                    *p++ = char(c);
                } else if (c < 0x800) {
                    *p++ = char(0xC0 | (c >> 6));
                    *p++ = char(0x80 | (c & 0x3F));
                } else if (QChar::isSurrogate(c)) {
                    if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(s[i + 1])) {
                        const char32_t u = QChar::surrogateToUcs4(c, s[++i]);
                        *p++ = char(0xF0 | (u >> 18));
                        *p++ = char(0x80 | ((u >> 12) & 0x3F));
                        *p++ = char(0x80 | ((u >> 6) & 0x3F));
                        *p++ = char(0x80 | (u & 0x3F));
                    } else {
                        *p++ = char(0xEF);
                        *p++ = char(0xBF);
                        *p++ = char(0xBD);
                    }
                } else {
                    *p++ = char(0xE0 | (c >> 12));
                    *p++ = char(0x80 | ((c >> 6) & 0x3F));
                    *p++ = char(0x80 | (c & 0x3F));
                }
            }
            commit(p - out);
            s += n;
            left -= n;
        }
    }

    // Hands the buffered bytes to the device; throws when the device takes fewer than given.
    void flush()
    {
        if (!m_device || m_used == 0)
            return;
        const qsizetype used = m_used;
        m_used = 0;
        put(m_buffer.get(), used);
    }

private:
    void put(const char *data, qsizetype size)
    {
        const qint64 written = m_device->write(data, size);
        if (written != size) {
            const Cause cause = causeOfDeviceFailure(*m_device);
            throw Error(causeText(cause), cause, m_device->errorString());
        }
    }

    QIODevice *m_device;
    std::unique_ptr<char[]> m_buffer;
    qsizetype m_used = 0;
    quint64 m_position = 0;
};

} // namespace dagl
