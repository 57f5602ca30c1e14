#include "Collation.h"

#include "Sqlite.h"

#include <QStringDecoder>

#include <memory>

#include <vector>

namespace dagl::Collation {

namespace {

// The sort weight of every character of the basic plane: ASCII by its letter, case folded;
// others by their GBK code; characters GBK lacks after all of them.
const std::vector<quint32> &weights()
{
    static const std::vector<quint32> table = [] {
        std::vector<quint32> w(0x10000);
        for (char32_t c = 0; c < 0x80; ++c)
            w[c] = (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c;
        for (char32_t c = 0x80; c < 0x10000; ++c)
            w[c] = 0x10000 + c;
        // Every two-byte GBK code, decoded to the character it stands for. The decoder is
        // made anew after a code it does not know, as it stops at its first error.
        auto decoder = std::make_unique<QStringDecoder>("GBK");
        for (quint32 lead = 0x81; lead <= 0xFE && decoder->isValid(); ++lead) {
            for (quint32 trail = 0x40; trail <= 0xFE; ++trail) {
                const char pair[2] = {char(lead), char(trail)};
                const QString decoded = decoder->decode(QByteArrayView(pair, 2));
                if (decoder->hasError()) {
                    decoder = std::make_unique<QStringDecoder>("GBK");
                    continue;
                }
                if (decoded.size() == 1 && decoded[0] != QChar::ReplacementCharacter && decoded[0].unicode() >= 0x80) {
                    quint32 &weight = w[decoded[0].unicode()];
                    weight = std::min(weight, (lead << 8) | trail);
                }
            }
        }
        return w;
    }();
    return table;
}

inline quint32 weightOf(char32_t c, const std::vector<quint32> &w)
{
    return c < 0x10000 ? w[c] : 0x10000 + c;
}

// Decodes one character of UTF-8; a broken sequence yields its first byte as a character.
inline char32_t nextUtf8(const unsigned char *&p, const unsigned char *end)
{
    const unsigned char b = *p++;
    if (b < 0x80)
        return b;
    int extra = b >= 0xF0 ? 3 : (b >= 0xE0 ? 2 : (b >= 0xC0 ? 1 : 0));
    if (extra == 0 || end - p < extra)
        return b;
    char32_t c = b & (0x3F >> extra);
    for (int i = 0; i < extra; ++i)
        c = (c << 6) | (*p++ & 0x3F);
    return c;
}

int collate(void *, int aSize, const void *a, int bSize, const void *b)
{
    return compareUtf8(static_cast<const char *>(a), aSize, static_cast<const char *>(b), bSize);
}

} // namespace

int compareUtf8(const char *a, int aSize, const char *b, int bSize)
{
    const std::vector<quint32> &w = weights();
    auto *p = reinterpret_cast<const unsigned char *>(a);
    auto *q = reinterpret_cast<const unsigned char *>(b);
    const unsigned char *pEnd = p + aSize, *qEnd = q + bSize;
    while (p < pEnd && q < qEnd) {
        const quint32 x = weightOf(nextUtf8(p, pEnd), w);
        const quint32 y = weightOf(nextUtf8(q, qEnd), w);
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (p < pEnd || q < qEnd)
        return p < pEnd ? 1 : -1;
    // Equal but for letter case: still a fixed order.
    const int common = std::min(aSize, bSize);
    const int c = memcmp(a, b, size_t(common));
    return c != 0 ? (c < 0 ? -1 : 1) : (aSize == bSize ? 0 : (aSize < bSize ? -1 : 1));
}

QByteArray sortKey(const char *utf8, int size)
{
    // Each character's weight in as few bytes as keep their order, the first byte telling
    // how many: ASCII in one (from 1), a GBK code in its own two (leads 0x81..0xFE), anything
    // else in four after 0xFF. A zero byte ends them, sorting a text before any longer one
    // it begins. Texts equal but for letter case (or holding broken UTF-8) are then ordered
    // by their own bytes, as compareUtf8 does; only they carry them.
    const std::vector<quint32> &w = weights();
    QByteArray key;
    key.reserve(size * 2 + 1);
    bool withBytes = false;
    auto *p = reinterpret_cast<const unsigned char *>(utf8);
    const unsigned char *end = p + size;
    while (p < end) {
        const unsigned char *at = p;
        const char32_t c = nextUtf8(p, end);
        const quint32 weight = weightOf(c, w);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (*at >= 0x80 && p - at == 1))
            withBytes = true;
        if (weight < 0x80) {
            key.append(char(weight + 1));
        } else if (weight < 0x10000) {
            key.append(char(weight >> 8)).append(char(weight & 0xFF));
        } else {
            const quint32 rest = weight - 0x10000;
            key.append(char(0xFF)).append(char(rest >> 16)).append(char((rest >> 8) & 0xFF)).append(char(rest & 0xFF));
        }
    }
    key.append('\0');
    if (withBytes)
        key.append(utf8, size);
    return key;
}

int compare(const QString &a, const QString &b)
{
    const std::vector<quint32> &w = weights();
    const int n = int(std::min(a.size(), b.size()));
    for (int i = 0; i < n; ++i) {
        const quint32 x = weightOf(a[i].unicode(), w), y = weightOf(b[i].unicode(), w);
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

void install(sqlite3 *db)
{
    weights(); // built once, before the first sort needs it
    sqlite3_create_collation_v2(db, kName, SQLITE_UTF8, nullptr, &collate, nullptr);
}

} // namespace dagl::Collation
