#include "CatalogueLocation.h"

#include "IniFile.h"

#include <algorithm>

namespace dagl {

namespace {

const QString kKind = QStringLiteral("kind");
const QString kLocal = QStringLiteral("local");
const QString kServer = QStringLiteral("server");

// The server's settings as myini.ini names them.
struct ServerEntry {
    const char *key;
    QString PgSettings::*text; // null for the port
};
const ServerEntry kEntries[] = {
    { "host", &PgSettings::host },
    { "port", nullptr },
    { "dbname", &PgSettings::database },
    { "user", &PgSettings::user },
    { "service", &PgSettings::service },
    { "passfile", &PgSettings::passFile },
    { "sslmode", &PgSettings::sslMode },
    { "sslrootcert", &PgSettings::sslRootCert },
};

// libpq's choices of encryption, from none to a checked certificate of the named server.
const char *const kSslModes[] = {"disable", "allow", "prefer", "require", "verify-ca", "verify-full"};

} // namespace

CatalogueLocation CatalogueLocation::load(const IniFile &settings)
{
    CatalogueLocation location;
    const QString kind = settings.read(kSection, kKind).trimmed();
    if (kind.isEmpty() || kind.compare(kLocal, Qt::CaseInsensitive) == 0)
        return location;
    location.kind = Kind::Server;
    if (kind.compare(kServer, Qt::CaseInsensitive) != 0) {
        location.problem = QStringLiteral("myini.ini 的 [%1] 中 kind=%2 无法识别，应为 local（本机数据库文件）或 "
                                          "server（数据库服务器）。")
                               .arg(kSection, kind);
        return location;
    }
    QString badPort;
    for (const ServerEntry &entry : kEntries) {
        const QString value = settings.read(kSection, QString::fromLatin1(entry.key)).trimmed();
        if (entry.text) {
            location.server.*entry.text = value;
            continue;
        }
        if (value.isEmpty())
            continue;
        bool ok = false;
        const int port = value.toInt(&ok);
        if (ok && port >= 1 && port <= 65535)
            location.server.port = port;
        else
            badPort = value;
    }
    if (!badPort.isEmpty()) {
        location.problem
            = QStringLiteral("myini.ini 的 [%1] 中端口 port=%2 不是 1 到 65535 之间的数。").arg(kSection, badPort);
        return location;
    }
    const QString &sslMode = location.server.sslMode;
    if (!sslMode.isEmpty()
        && std::none_of(std::begin(kSslModes), std::end(kSslModes),
                        [&](const char *mode) { return sslMode == QLatin1String(mode); })) {
        location.problem = QStringLiteral("myini.ini 的 [%1] 中 sslmode=%2 无法识别，应为 disable、allow、prefer、"
                                          "require、verify-ca 或 verify-full。")
                               .arg(kSection, sslMode);
        return location;
    }
    if (!settings.read(kSection, QStringLiteral("password")).isEmpty()) {
        location.problem = QStringLiteral("myini.ini 中不能保存数据库服务器的密码。请删除 [%1] 中的 password，"
                                          "改用密码文件（pgpass）或服务文件。")
                               .arg(kSection);
        return location;
    }
    if (location.server.service.isEmpty()
        && (location.server.host.isEmpty() || location.server.database.isEmpty() || location.server.user.isEmpty()))
        location.problem = QStringLiteral("myini.ini 的 [%1] 中缺少数据库服务器的设置：需要 host、dbname 和 user，"
                                          "或者 service。")
                               .arg(kSection);
    return location;
}

void CatalogueLocation::save(const IniFile &settings) const
{
    settings.write(kSection, kKind, onServer() ? kServer : kLocal);
    if (!onServer())
        return;
    for (const ServerEntry &entry : kEntries) {
        const QString key = QString::fromLatin1(entry.key);
        settings.write(kSection, key,
            entry.text ? server.*entry.text : (server.port > 0 ? QString::number(server.port) : QString()));
    }
}

} // namespace dagl
