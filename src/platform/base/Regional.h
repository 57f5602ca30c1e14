#pragma once

#include <QDateTime>
#include <QString>

namespace dagl {

// The workstation's regional formats, kept in one place. The program writes dates in
// the short date format and times in the long time format of a Chinese workstation.
namespace Regional {

inline const QString shortDateFormat = QStringLiteral("yyyy/M/d");
inline const QString longTimeFormat = QStringLiteral("H:mm:ss");

QString formatDate(const QDate &date);
// Date and time as the system writes it: short date, a blank, long time.
QString formatDateTime(const QDateTime &dateTime);
// The display form of a date/time value: the time is left out when it is midnight.
QString displayDateTime(const QDateTime &dateTime);

// Reads a date, or a date followed by a time, in the short date format (also with "-" or
// "." between the parts). Returns an invalid value for anything else.
QDateTime parseDateTime(const QString &text);
QDate parseDate(const QString &text);

// The form in which the engine stores and compares date/time values.
QString storageText(const QDateTime &dateTime);
QDateTime fromStorageText(const QString &text);

} // namespace Regional
} // namespace dagl
