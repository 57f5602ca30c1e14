#pragma once

#include <QByteArray>
#include <QString>

struct sqlite3;

namespace dagl {

// The order in which text is sorted for the operator: Chinese characters by pinyin, as the
// GBK code page lays out its common characters (the first level of GB 2312 is in pinyin
// order, the second by radical), after digits and Latin letters, which compare without
// regard to case. Characters outside GBK come last, by code point.
namespace Collation {

// The name under which the engine knows the order ("... ORDER BY tm COLLATE dagl_zh").
inline constexpr const char *kName = "dagl_zh";

int compare(const QString &a, const QString &b);
int compareUtf8(const char *a, int aSize, const char *b, int bSize);
// Bytes that compare (as the engine compares blobs) as compareUtf8 compares the text, so
// that an index of them keeps the order without the engine knowing it.
QByteArray sortKey(const char *utf8, int size);

// Makes the order known to a connection.
void install(sqlite3 *db);

} // namespace Collation
} // namespace dagl
