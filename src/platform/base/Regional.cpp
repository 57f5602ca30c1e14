#include "Regional.h"

#include <QRegularExpression>

namespace dagl::Regional {

namespace {
const QString kStorageFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
}

QString formatDate(const QDate &date)
{
    return date.toString(shortDateFormat);
}

QString formatDateTime(const QDateTime &dateTime)
{
    return dateTime.date().toString(shortDateFormat) + QLatin1Char(' ')
           + dateTime.time().toString(longTimeFormat);
}

QString displayDateTime(const QDateTime &dateTime)
{
    if (!dateTime.isValid())
        return {};
    if (dateTime.time() == QTime(0, 0))
        return formatDate(dateTime.date());
    return formatDateTime(dateTime);
}

QDateTime parseDateTime(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral(
        R"(^\s*(\d{4})[/\-.](\d{1,2})[/\-.](\d{1,2})(?:[ T]+(\d{1,2}):(\d{1,2})(?::(\d{1,2}))?)?\s*$)"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return {};
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    QTime time(0, 0);
    if (m.capturedLength(4) > 0)
        time = QTime(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    if (!date.isValid() || !time.isValid())
        return {};
    return QDateTime(date, time);
}

QDate parseDate(const QString &text)
{
    const QDateTime value = parseDateTime(text);
    return value.isValid() ? value.date() : QDate();
}

QString storageText(const QDateTime &dateTime)
{
    return dateTime.toString(kStorageFormat);
}

QDateTime fromStorageText(const QString &text)
{
    QDateTime value = QDateTime::fromString(text, kStorageFormat);
    if (!value.isValid())
        value = parseDateTime(text);
    return value;
}

} // namespace dagl::Regional
