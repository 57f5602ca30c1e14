#pragma once

#include <QString>
#include <exception>

namespace dagl {

// An error raised by the engine, the settings files or the file system. It carries the
// text the operator is shown; windows catch it at the edge of each event handler.
class Error : public std::exception
{
public:
    explicit Error(QString message) : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}
    const QString &message() const { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

} // namespace dagl
