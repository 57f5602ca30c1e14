#pragma once

#include "Cause.h"

#include <QString>
#include <exception>

namespace dagl {

// An error raised by the engine, the settings files or the file system. It carries the
// text the operator is shown; windows catch it at the edge of each event handler. An error
// whose cause is known also carries it, and the engine's or the system's own words for
// the log.
class Error : public std::exception
{
public:
    explicit Error(QString message) : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}
    Error(QString message, Cause cause, QString detail = {})
        : m_message(std::move(message))
        , m_utf8(m_message.toUtf8())
        , m_cause(cause)
        , m_detail(std::move(detail))
    {
    }
    const QString &message() const { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }
    Cause cause() const { return m_cause; }
    // The engine's or the system's own text, for the log; empty when there is none.
    const QString &detail() const { return m_detail; }
    // The message and, when it says something more, the detail: what a log line shows.
    QString logText() const
    {
        return m_detail.isEmpty() || m_message.contains(m_detail)
            ? m_message
            : m_message + QStringLiteral(" [") + m_detail + QLatin1Char(']');
    }

private:
    QString m_message;
    QByteArray m_utf8;
    Cause m_cause = Cause::Unknown;
    QString m_detail;
};

} // namespace dagl
