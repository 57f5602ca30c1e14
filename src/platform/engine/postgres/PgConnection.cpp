#include "PgConnection.h"

#include "Error.h"
#include "PgDialect.h"
#include "PgPassFile.h"
#include "PgSchema.h"

#include <libpq-fe.h>

#include <QRegularExpression>

#include <cstring>
#include <vector>

namespace dagl {

namespace {

// Type numbers of the server's built-in types (pg_type.oid), fixed since long ago.
enum : Oid {
    kBool = 16,
    kInt8 = 20,
    kInt2 = 21,
    kInt4 = 23,
    kOid = 26,
    kFloat4 = 700,
    kFloat8 = 701,
    kDate = 1082,
    kTimestamp = 1114,
    kTimestampTz = 1184,
    kNumeric = 1700,
};

const QString kTimestampFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

using ResultPtr = std::unique_ptr<PGresult, void (*)(PGresult *)>;

ResultPtr wrap(PGresult *result)
{
    return ResultPtr(result, &PQclear);
}

QString text(const char *utf8)
{
    return QString::fromUtf8(utf8 ? utf8 : "").trimmed();
}

// The password file entry libpq looked for: the connection's own host, port, database and
// user after the service file and the environment were applied.
PgPassFile::Key passwordKeyOf(PGconn *conn)
{
    PgPassFile::Key key;
    key.host = QString::fromUtf8(PQhost(conn));
    if (key.host.isEmpty() || key.host == QLatin1String("/var/run/postgresql") || key.host == QLatin1String("/tmp"))
        key.host = QStringLiteral("localhost");
    key.port = QString::fromUtf8(PQport(conn));
    if (key.port.isEmpty())
        key.port = QStringLiteral("5432");
    key.database = QString::fromUtf8(PQdb(conn));
    key.user = QString::fromUtf8(PQuser(conn));
    return key;
}

PgPassFile::Result passwordFileOf(PGconn *conn)
{
    QString path;
    if (PQconninfoOption *options = PQconninfo(conn)) {
        for (PQconninfoOption *o = options; o->keyword; ++o) {
            if (qstrcmp(o->keyword, "passfile") == 0 && o->val)
                path = QString::fromUtf8(o->val);
        }
        PQconninfoFree(options);
    }
    return PgPassFile::look(path, passwordKeyOf(conn));
}

// Why a connection was not made, from libpq's text (in English or the server's language,
// so both the English words and libpq's own states are looked at).
Error connectFailure(PGconn *conn, const PgSettings &settings)
{
    const QString detail = text(PQerrorMessage(conn));
    const QString lower = detail.toLower();
    const QString user = settings.user.isEmpty() ? QString::fromUtf8(PQuser(conn)) : settings.user;
    const QString database = settings.database.isEmpty() ? QString::fromUtf8(PQdb(conn)) : settings.database;
    const QString where = settings.displayName();
    auto has = [&](const char *words) { return lower.contains(QLatin1String(words)); };
    if (has("definition of service") || (has("service file") && has("not found")))
        return Error(QStringLiteral("服务文件里没有数据库服务“%1”的设置。").arg(settings.service), Cause::NotFound, detail);
    if (has("password authentication failed") || has("authentication failed for user")) {
        const PgPassFile::Result file = passwordFileOf(conn);
        if (file.finding == PgPassFile::Finding::Found)
            return Error(QStringLiteral("数据库服务器拒绝了用户“%1”的密码，请检查密码文件 %2 第 %3 行里这台服务器的密码。")
                             .arg(user, file.path)
                             .arg(file.line),
                         Cause::WrongPassword, detail);
        return Error(QStringLiteral("数据库服务器拒绝了用户“%1”的密码，请检查密码文件里这台服务器的密码。").arg(user),
                     Cause::WrongPassword, detail);
    }
    if (PQconnectionNeedsPassword(conn) || has("no password supplied")) {
        // libpq says only that it had no password; the file itself says why.
        const PgPassFile::Result file = passwordFileOf(conn);
        const QString why = file.finding == PgPassFile::Finding::Found
            ? QStringLiteral("密码文件 %1 第 %2 行的密码是空的。").arg(file.path).arg(file.line)
            : PgPassFile::problemText(file, passwordKeyOf(conn));
        return Error(QStringLiteral("数据库服务器要求用户“%1”的密码，但").arg(user) + why, Cause::WrongPassword, detail);
    }
    if (has("database \"") && has("does not exist"))
        return Error(QStringLiteral("数据库服务器上没有数据库“%1”。").arg(database), Cause::NotFound, detail);
    if (has("role \"") && has("does not exist"))
        return Error(QStringLiteral("数据库服务器上没有用户“%1”。").arg(user), Cause::AccessDenied, detail);
    // Encryption: said in terms of the settings the administrator writes in myini.ini.
    if (has("root certificate file") && has("does not exist")) {
        static const QRegularExpression named(QStringLiteral("root certificate file \"([^\"]*)\""));
        const QString file = named.match(detail).captured(1);
        return Error(QStringLiteral("找不到根证书文件 %1，无法检查数据库服务器的证书。请把管理员给的根证书放在那里，"
                                    "或在 myini.ini 的 [catalogue] 中用 sslrootcert 指明它。")
                         .arg(file),
                     Cause::NotFound, detail);
    }
    if (has("certificate verify failed"))
        return Error(QStringLiteral("数据库服务器 %1 的证书不是根证书 %2 签发的，没有连接。请核对根证书，"
                                    "或请管理员检查服务器的证书。")
                         .arg(where, settings.sslRootCert.isEmpty() ? QStringLiteral("~/.postgresql/root.crt")
                                                                    : settings.sslRootCert),
                     Cause::AccessDenied, detail);
    if (has("does not match host name"))
        return Error(QStringLiteral("数据库服务器的证书上没有“%1”这个名字，没有连接。host 要写证书上的名字。")
                         .arg(settings.host),
                     Cause::AccessDenied, detail);
    if (has("server does not support ssl"))
        return Error(QStringLiteral("数据库服务器 %1 没有开启加密（ssl），而 sslmode=%2 要求加密。").arg(where, settings.sslMode),
                     Cause::CannotOpen, detail);
    if (has("no pg_hba.conf entry") && has("no encryption"))
        return Error(QStringLiteral("数据库服务器只接受加密的连接。请在 myini.ini 的 [catalogue] 中设 sslmode=verify-full "
                                    "和 sslrootcert。"),
                     Cause::AccessDenied, detail);
    if (has("no pg_hba.conf entry") || has("permission denied"))
        return Error(QStringLiteral("数据库服务器不允许本机以用户“%1”连接。").arg(user), Cause::AccessDenied, detail);
    if (has("too many connections") || has("remaining connection slots"))
        return Error(QStringLiteral("数据库服务器的连接数已满，请稍后再试。"), Cause::InUse, detail);
    if (has("the database system is starting up") || has("shutting down"))
        return Error(QStringLiteral("数据库服务器正在启动或关闭，请稍后再试。"), Cause::InUse, detail);
    if (has("connection refused") || has("could not translate host name") || has("timeout expired")
        || has("no route to host") || has("network is unreachable") || has("could not connect")
        || has("name or service not known") || has("no such file or directory"))
        return Error(QStringLiteral("无法连接到数据库服务器 %1：服务器没有启动，或地址、端口不对，或网络不通。").arg(where),
                     Cause::CannotOpen, detail);
    return Error(QStringLiteral("无法连接到数据库服务器 %1。").arg(where), Cause::CannotOpen, detail);
}

// A failed statement, said by its SQLSTATE class.
Error statementFailure(PGconn *conn, const PGresult *result, const QString &sql)
{
    const QString state = result ? QString::fromLatin1(PQresultErrorField(result, PG_DIAG_SQLSTATE)) : QString();
    QString detail = text(result ? PQresultErrorMessage(result) : PQerrorMessage(conn));
    if (detail.isEmpty())
        detail = text(PQerrorMessage(conn));
    detail += QStringLiteral(" [") + sql.left(500) + QLatin1Char(']');
    if (PQstatus(conn) == CONNECTION_BAD || state.startsWith(QLatin1String("08")) || state == QLatin1String("57P01"))
        return Error(QStringLiteral("与数据库服务器的连接断开了。"), Cause::ConnectionLost, detail);
    struct Known
    {
        const char *state;
        const char *message;
        Cause cause;
    };
    static const Known known[] = {
        {"23505", "数据重复：已有键值相同的一行。", Cause::Unknown},
        {"23502", "必填的字段没有值。", Cause::Unknown},
        {"22001", "字段太小，放不下输入的数据。", Cause::Unknown},
        {"22P02", "数据类型不符。", Cause::Unknown},
        {"22007", "日期格式不对。", Cause::Unknown},
        {"22008", "日期超出范围。", Cause::Unknown},
        {"22003", "数值超出范围。", Cause::Unknown},
        {"42P01", "数据库服务器上没有这个表。", Cause::NotFound},
        {"42703", "表中没有这一列。", Cause::NotFound},
        {"42601", "语句有语法错误。", Cause::Unknown},
        {"40001", "另一台工作站同时修改了这些数据，请重试。", Cause::InUse},
        {"40P01", "另一台工作站同时修改了这些数据，请重试。", Cause::InUse},
        {"55P03", "数据正被另一台工作站使用，请稍后再试。", Cause::InUse},
        {"53100", "数据库服务器的磁盘已满。", Cause::DiskFull},
        {"42501", "数据库服务器拒绝了这个操作：权限不足。", Cause::AccessDenied},
        {"25P02", "这次操作中前面的语句已经失败，整个操作已作废。", Cause::Unknown},
    };
    for (const Known &k : known) {
        if (state == QLatin1String(k.state))
            return Error(QString::fromUtf8(k.message), k.cause, detail);
    }
    if (state.startsWith(QLatin1String("22")) || state.startsWith(QLatin1String("42804")))
        return Error(QStringLiteral("数据类型不符。"), Cause::Unknown, detail);
    // A rule of the office's own on the server (a trigger that raises) says why in its words.
    if (state == QLatin1String("P0001") && result) {
        const QString own = text(PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY));
        if (!own.isEmpty())
            return Error(QStringLiteral("数据库服务器拒绝了这个操作：") + own, Cause::Unknown, detail);
    }
    return Error(QStringLiteral("数据库服务器执行语句失败。"), Cause::Unknown, detail);
}

// Bound values in the server's text form, with their types (0: the server infers it from
// where the value is used, which lets a text go into any column).
struct Parameters
{
    std::vector<QByteArray> values;
    std::vector<Oid> types;
    std::vector<const char *> pointers;
    std::vector<bool> nulls;

    explicit Parameters(const QVariantList &params)
    {
        values.reserve(size_t(params.size()));
        for (const QVariant &v : params) {
            Oid type = 0;
            QByteArray value;
            bool isNull = v.isNull();
            switch (v.typeId()) {
            case QMetaType::Bool:
                type = kBool;
                value = v.toBool() ? "t" : "f";
                break;
            case QMetaType::Int:
            case QMetaType::UInt:
            case QMetaType::LongLong:
            case QMetaType::ULongLong:
            case QMetaType::Long:
            case QMetaType::Short:
                type = kInt8;
                value = QByteArray::number(v.toLongLong());
                break;
            case QMetaType::Double:
            case QMetaType::Float:
                type = kFloat8;
                value = QByteArray::number(v.toDouble(), 'g', 17);
                break;
            case QMetaType::QDateTime:
                type = kTimestamp;
                isNull = isNull || !v.toDateTime().isValid();
                value = v.toDateTime().toString(kTimestampFormat).toLatin1();
                break;
            case QMetaType::QDate:
                type = kTimestamp;
                isNull = isNull || !v.toDate().isValid();
                value = v.toDate().startOfDay().toString(kTimestampFormat).toLatin1();
                break;
            default:
                value = v.toString().toUtf8();
                break;
            }
            values.push_back(value);
            types.push_back(type);
            nulls.push_back(isNull);
        }
        // Pointers taken once every value is in place, as the vector may move them while it grows.
        for (size_t i = 0; i < values.size(); ++i)
            pointers.push_back(nulls[i] ? nullptr : values[i].constData());
    }
    int count() const { return int(values.size()); }
};

// "yyyy-MM-dd[ HH:mm:ss]" as the server writes it with DateStyle ISO (fractions or a zone
// after it are not in the catalogue's second-precision columns). Read by hand: Qt's
// parsing by format costs more than the rest of a row.
QDateTime timestampOf(const char *raw)
{
    auto number = [raw](int at, int digits) {
        int value = 0;
        for (int i = at; i < at + digits; ++i) {
            if (raw[i] < '0' || raw[i] > '9')
                return -1;
            value = value * 10 + (raw[i] - '0');
        }
        return value;
    };
    const size_t size = strlen(raw);
    if (size < 10 || raw[4] != '-' || raw[7] != '-')
        return {};
    const QDate date(number(0, 4), number(5, 2), number(8, 2));
    QTime time(0, 0);
    if (size >= 19 && raw[10] == ' ')
        time = QTime(number(11, 2), number(14, 2), number(17, 2));
    if (!date.isValid() || !time.isValid())
        return {};
    return QDateTime(date, time);
}

QVariant valueOf(const PGresult *result, int row, int column, Oid type)
{
    if (PQgetisnull(result, row, column))
        return QVariant();
    const char *raw = PQgetvalue(result, row, column);
    switch (type) {
    case kBool:
        return QVariant(raw[0] == 't');
    case kInt2:
    case kInt4:
        return QVariant(QByteArray(raw).toInt());
    case kInt8:
    case kOid:
        return QVariant(QByteArray(raw).toLongLong());
    case kFloat4:
    case kFloat8:
    case kNumeric:
        return QVariant(QByteArray(raw).toDouble());
    case kDate:
    case kTimestamp:
    case kTimestampTz:
        return QVariant(timestampOf(raw));
    default:
        return QVariant(QString::fromUtf8(raw));
    }
}

// A value in the text form of COPY: tabs, line ends and backslashes escaped, NULL as \N.
void appendCopyValue(QByteArray &line, const QVariant &v)
{
    if (v.isNull()) {
        line += "\\N";
        return;
    }
    QByteArray value;
    switch (v.typeId()) {
    case QMetaType::QDateTime:
        if (!v.toDateTime().isValid()) {
            line += "\\N";
            return;
        }
        value = v.toDateTime().toString(kTimestampFormat).toLatin1();
        break;
    case QMetaType::Double:
        value = QByteArray::number(v.toDouble(), 'g', 17);
        break;
    case QMetaType::Bool:
        value = v.toBool() ? "t" : "f";
        break;
    default:
        value = v.toString().toUtf8();
        break;
    }
    for (const char c : std::as_const(value)) {
        switch (c) {
        case '\\':
            line += "\\\\";
            break;
        case '\t':
            line += "\\t";
            break;
        case '\n':
            line += "\\n";
            break;
        case '\r':
            line += "\\r";
            break;
        default:
            line += c;
        }
    }
}

} // namespace

// --- PgSettings ---

PgSettings PgSettings::fromConnectionString(const QString &textValue)
{
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(textValue.toUtf8().constData(), &error);
    if (!options) {
        const QString detail = error ? text(error) : QString();
        PQfreemem(error);
        throw Error(QStringLiteral("数据库服务器的连接设置写得不对：%1").arg(textValue), Cause::Unknown, detail);
    }
    PgSettings settings;
    for (PQconninfoOption *o = options; o->keyword; ++o) {
        if (!o->val)
            continue;
        const QByteArray key(o->keyword);
        const QString value = QString::fromUtf8(o->val);
        if (key == "host" || key == "hostaddr")
            settings.host = value;
        else if (key == "port")
            settings.port = value.toInt();
        else if (key == "dbname")
            settings.database = value;
        else if (key == "user")
            settings.user = value;
        else if (key == "service")
            settings.service = value;
        else if (key == "passfile")
            settings.passFile = value;
        else if (key == "sslmode")
            settings.sslMode = value;
        else if (key == "sslrootcert")
            settings.sslRootCert = value;
        else if (key == "connect_timeout")
            settings.connectTimeout = value.toInt();
        else if (key == "password") {
            PQconninfoFree(options);
            throw Error(QStringLiteral("数据库服务器的密码不写在连接设置里，请放在密码文件（~/.pgpass 或 PGPASSFILE）"
                                       "或服务文件里。"),
                        Cause::Unknown);
        }
    }
    PQconninfoFree(options);
    return settings;
}

QString PgSettings::displayName() const
{
    if (!service.isEmpty() && host.isEmpty())
        return QStringLiteral("（服务 %1）").arg(service);
    QString name = host.isEmpty() ? QStringLiteral("localhost") : host;
    if (port > 0)
        name += QLatin1Char(':') + QString::number(port);
    if (!database.isEmpty())
        name += QLatin1Char('/') + database;
    return name;
}

QVector<PgSettings::Parameter> PgSettings::parameters() const
{
    const QVector<Parameter> all = {
        { "service", "PGSERVICE", service },
        { "host", "PGHOST", host },
        { "port", "PGPORT", port > 0 ? QString::number(port) : QString() },
        { "dbname", "PGDATABASE", database },
        { "user", "PGUSER", user },
        { "passfile", "PGPASSFILE", passFile },
        { "sslmode", "PGSSLMODE", sslMode },
        { "sslrootcert", "PGSSLROOTCERT", sslRootCert },
        { "connect_timeout", "PGCONNECT_TIMEOUT", connectTimeout > 0 ? QString::number(connectTimeout) : QString() },
    };
    QVector<Parameter> given;
    for (const Parameter &parameter : all) {
        if (!parameter.value.isEmpty())
            given << parameter;
    }
    return given;
}

// --- PgConnection ---

PgConnection::PgConnection(PgSettings settings) : m_settings(std::move(settings)) {}

PgConnection::~PgConnection()
{
    if (m_conn)
        PQfinish(m_conn);
}

void PgConnection::open()
{
    if (m_conn)
        return;
    m_conn = connectNew();
    forgetSession();
    m_columns.clear();
}

bool PgConnection::isLost() const
{
    return m_conn && PQstatus(m_conn) == CONNECTION_BAD;
}

bool PgConnection::isAlive()
{
    if (!m_conn || PQstatus(m_conn) == CONNECTION_BAD)
        return false;
    if (m_busy || m_copying)
        return true;
    try {
        executeNative(QStringLiteral("SELECT 1"));
    } catch (const Error &) {
        return PQstatus(m_conn) != CONNECTION_BAD;
    }
    return true;
}

void PgConnection::reconnect()
{
    // A new session in place of the broken one: readers and writers of the connection stay
    // valid, and what the server knows of the tables is unchanged by a restart. A
    // transaction of the old session died with it.
    PGconn *conn = connectNew();
    if (m_conn)
        PQfinish(m_conn);
    m_conn = conn;
    forgetSession();
}

void PgConnection::forgetSession()
{
    m_depth = 0;
    m_busy = false;
    m_copying = false;
    m_copyBuffer.clear();
}

PGconn *PgConnection::connectNew() const
{
    std::vector<QByteArray> keys, values;
    auto add = [&](const char *key, const QString &value) {
        if (!value.isEmpty()) {
            keys.emplace_back(key);
            values.push_back(value.toUtf8());
        }
    };
    for (const PgSettings::Parameter &parameter : m_settings.parameters())
        add(parameter.keyword, parameter.value);
    add("client_encoding", QStringLiteral("UTF8"));
    add("application_name", QStringLiteral("dagl"));
    // Dates in one form, text literals without backslash escapes, as the program writes them.
    add("options", QStringLiteral("-c DateStyle=ISO,YMD -c standard_conforming_strings=on -c TimeZone=UTC"));
    std::vector<const char *> k, v;
    for (size_t i = 0; i < keys.size(); ++i) {
        k.push_back(keys[i].constData());
        v.push_back(values[i].constData());
    }
    k.push_back(nullptr);
    v.push_back(nullptr);
    PGconn *conn = PQconnectdbParams(k.data(), v.data(), 0);
    if (!conn)
        throw Error(QStringLiteral("无法连接到数据库服务器：内存不足。"), Cause::OutOfMemory);
    if (PQstatus(conn) != CONNECTION_OK) {
        const Error error = connectFailure(conn, m_settings);
        PQfinish(conn);
        throw error;
    }
    // The server's notices ("... does not exist, skipping") are not for the operator.
    PQsetNoticeProcessor(conn, [](void *, const char *) {}, nullptr);
    return conn;
}

void PgConnection::close()
{
    if (!m_conn)
        return;
    PQfinish(m_conn);
    m_conn = nullptr;
    forgetSession();
    m_columns.clear();
}

PGconn *PgConnection::handle() const
{
    if (!m_conn)
        throw Error(QStringLiteral("没有连接到数据库服务器。"), Cause::CannotOpen);
    return m_conn;
}

void PgConnection::checkIdle() const
{
    handle();
    if (m_busy || m_copying)
        throw Error(QStringLiteral("数据库连接正忙：上一次读取还没有结束。"), Cause::InUse);
}

ResultPtr PgConnection::run(const QString &sql, const QVariantList &params)
{
    checkIdle();
    const QByteArray utf8 = sql.toUtf8();
    const Parameters p(params);
    ResultPtr result = wrap(PQexecParams(m_conn, utf8.constData(), p.count(), p.types.data(), p.pointers.data(),
                                         nullptr, nullptr, 0));
    const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && status != PGRES_COPY_IN)
        throw statementFailure(m_conn, result.get(), sql);
    return result;
}

QString PgConnection::translate(const QString &sql) const
{
    return PgDialect::translate(sql, [this](const QString &table, const QString &name) { return column(table, name); });
}

int PgConnection::execute(const QString &sql, const QVariantList &params)
{
    return executeNative(translate(sql), params);
}

int PgConnection::executeNative(const QString &sql, const QVariantList &params)
{
    const ResultPtr result = run(sql, params);
    const QString verb = sql.trimmed().section(QLatin1Char(' '), 0, 0).toLower();
    if (verb == QLatin1String("create") || verb == QLatin1String("alter") || verb == QLatin1String("drop"))
        m_columns.clear();
    return QByteArray(PQcmdTuples(result.get())).toInt();
}

QVariant PgConnection::scalar(const QString &sql, const QVariantList &params)
{
    return scalarNative(translate(sql), params);
}

QVariant PgConnection::scalarNative(const QString &sql, const QVariantList &params)
{
    const ResultPtr result = run(sql, params);
    if (PQntuples(result.get()) < 1 || PQnfields(result.get()) < 1)
        return QVariant();
    return valueOf(result.get(), 0, 0, PQftype(result.get(), 0));
}

qlonglong PgConnection::insert(const QString &sql, const QVariantList &params, const QString &keyColumn)
{
    QString statement = translate(sql).trimmed();
    if (statement.endsWith(QLatin1Char(';')))
        statement.chop(1);
    statement += QStringLiteral(" RETURNING ") + PgSchema::quotedName(keyColumn.toLower());
    return scalarNative(statement, params).toLongLong();
}

QStringList PgConnection::tableNames()
{
    QStringList names;
    PgRows rows(*this,
                QStringLiteral("SELECT c.relname FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                               "WHERE n.nspname = current_schema() AND c.relkind IN ('r', 'p') ORDER BY c.relname"),
                {}, true);
    while (rows.next())
        names << rows.value(0).toString();
    return names;
}

const PgConnection::Columns &PgConnection::columnsOf(const QString &table) const
{
    const QString key = table.toLower();
    auto it = m_columns.constFind(key);
    if (it != m_columns.constEnd())
        return *it;
    Columns columns;
    auto *self = const_cast<PgConnection *>(this);
    PgRows rows(*self,
                QStringLiteral("SELECT a.attname, t.typname, a.atttypmod, a.attidentity <> '' FROM pg_attribute a "
                               "JOIN pg_class c ON c.oid = a.attrelid JOIN pg_namespace n ON n.oid = c.relnamespace "
                               "JOIN pg_type t ON t.oid = a.atttypid WHERE n.nspname = current_schema() "
                               "AND c.relname = $1 AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum"),
                {key}, true);
    while (rows.next()) {
        const QString name = rows.value(0).toString();
        const QString type = rows.value(1).toString();
        const int modifier = rows.value(2).toInt();
        const bool identity = rows.value(3).toBool();
        FieldDef field{name, FieldType::Unknown, 0};
        if (type == QLatin1String("varchar")) {
            field.type = FieldType::WideString;
            field.size = modifier > 4 ? modifier - 4 : 0;
        } else if (type == QLatin1String("bpchar")) {
            field.type = FieldType::FixedWideString;
            field.size = modifier > 4 ? modifier - 4 : 0;
        } else if (type == QLatin1String("text")) {
            field.type = FieldType::Memo;
        } else if (type == QLatin1String("int2") || type == QLatin1String("int4") || type == QLatin1String("int8")) {
            field.type = identity ? FieldType::AutoInc : FieldType::Integer;
        } else if (type == QLatin1String("float4") || type == QLatin1String("float8")
                   || type == QLatin1String("numeric")) {
            field.type = FieldType::Float;
        } else if (type.startsWith(QLatin1String("timestamp")) || type == QLatin1String("date")) {
            field.type = FieldType::DateTime;
        }
        if (identity && columns.key.isEmpty())
            columns.key = name;
        columns.fields.push_back(field);
    }
    return *m_columns.insert(key, columns);
}

QPair<QString, QString> PgConnection::columnOrigin(unsigned tableOid, int columnNumber) const
{
    if (tableOid == 0 || columnNumber <= 0)
        return {};
    const auto source = qMakePair(tableOid, columnNumber);
    auto it = m_origins.constFind(source);
    if (it != m_origins.constEnd())
        return *it;
    auto *self = const_cast<PgConnection *>(this);
    QPair<QString, QString> origin;
    {
        PgRows rows(*self,
                    QStringLiteral("SELECT c.relname, a.attname FROM pg_attribute a JOIN pg_class c ON c.oid = "
                                   "a.attrelid WHERE a.attrelid = $1 AND a.attnum = $2"),
                    {qlonglong(tableOid), columnNumber}, true);
        while (rows.next())
            origin = qMakePair(rows.value(0).toString(), rows.value(1).toString());
    }
    m_origins.insert(source, origin);
    return origin;
}

FieldDef PgConnection::fieldOfType(const QString &name, unsigned typeOid)
{
    FieldDef field{name, FieldType::WideString, 0};
    switch (typeOid) {
    case kInt2:
    case kInt4:
    case kInt8:
    case kOid:
    case kBool:
        field.type = FieldType::Integer;
        break;
    case kFloat4:
    case kFloat8:
    case kNumeric:
        field.type = FieldType::Float;
        break;
    case kDate:
    case kTimestamp:
    case kTimestampTz:
        field.type = FieldType::DateTime;
        break;
    default:
        break;
    }
    return field;
}

QVector<FieldDef> PgConnection::tableColumns(const QString &table) const
{
    return columnsOf(table).fields;
}

FieldDef PgConnection::column(const QString &table, const QString &name) const
{
    for (const FieldDef &def : columnsOf(table).fields) {
        if (def.name.compare(name, Qt::CaseInsensitive) == 0)
            return def;
    }
    return FieldDef{name, FieldType::Unknown, 0};
}

QString PgConnection::keyColumn(const QString &table) const
{
    return columnsOf(table).key;
}

void PgConnection::beginTransaction()
{
    executeNative(m_depth == 0 ? QStringLiteral("BEGIN") : QStringLiteral("SAVEPOINT dagl_%1").arg(m_depth));
    ++m_depth;
}

void PgConnection::commit()
{
    if (m_depth == 0)
        throw Error(QStringLiteral("No transaction is active."));
    const int level = m_depth - 1;
    // A commit of a transaction the server has already failed ends it as a rollback; say so.
    if (level == 0) {
        const bool failed = PQtransactionStatus(handle()) == PQTRANS_INERROR;
        executeNative(QStringLiteral("COMMIT"));
        m_depth = 0;
        if (failed)
            throw Error(QStringLiteral("这次操作中有语句失败，全部修改已撤销。"), Cause::Unknown);
        return;
    }
    executeNative(QStringLiteral("RELEASE SAVEPOINT dagl_%1").arg(level));
    --m_depth;
}

void PgConnection::rollback()
{
    if (m_depth == 0)
        throw Error(QStringLiteral("No transaction is active."));
    const int level = m_depth - 1;
    m_depth = level;
    if (level == 0) {
        executeNative(QStringLiteral("ROLLBACK"));
        return;
    }
    executeNative(QStringLiteral("ROLLBACK TO SAVEPOINT dagl_%1").arg(level));
    executeNative(QStringLiteral("RELEASE SAVEPOINT dagl_%1").arg(level));
}

void PgConnection::copyBegin(const QString &table, const QStringList &columns)
{
    QStringList names;
    for (const QString &c : columns)
        names << PgSchema::quotedName(c.toLower());
    const QString sql = QStringLiteral("COPY %1 (%2) FROM STDIN").arg(PgSchema::quotedName(table.toLower()), names.join(QStringLiteral(", ")));
    const ResultPtr result = run(sql, {});
    if (PQresultStatus(result.get()) != PGRES_COPY_IN)
        throw statementFailure(m_conn, result.get(), sql);
    m_copying = true;
    m_copyBuffer.clear();
}

void PgConnection::copyRow(const QVariantList &values)
{
    for (int i = 0; i < values.size(); ++i) {
        if (i > 0)
            m_copyBuffer += '\t';
        appendCopyValue(m_copyBuffer, values[i]);
    }
    m_copyBuffer += '\n';
    if (m_copyBuffer.size() < (1 << 16))
        return;
    const int sent = PQputCopyData(handle(), m_copyBuffer.constData(), int(m_copyBuffer.size()));
    m_copyBuffer.clear();
    if (sent != 1) {
        m_copying = false;
        PQputCopyEnd(m_conn, "send failed");
        while (PGresult *r = PQgetResult(m_conn))
            PQclear(r);
        throw Error(QStringLiteral("与数据库服务器的连接断开了。"), Cause::ConnectionLost, text(PQerrorMessage(m_conn)));
    }
}

void PgConnection::copyEnd()
{
    PGconn *conn = handle();
    m_copying = false;
    bool sent = m_copyBuffer.isEmpty() || PQputCopyData(conn, m_copyBuffer.constData(), int(m_copyBuffer.size())) == 1;
    m_copyBuffer.clear();
    sent = PQputCopyEnd(conn, sent ? nullptr : "send failed") == 1 && sent;
    ResultPtr failure = wrap(nullptr);
    while (PGresult *r = PQgetResult(conn)) {
        if (PQresultStatus(r) != PGRES_COMMAND_OK && !failure)
            failure = wrap(r);
        else
            PQclear(r);
    }
    if (failure || !sent)
        throw statementFailure(conn, failure.get(), QStringLiteral("COPY"));
}

// --- PgRows ---

PgRows::PgRows(PgConnection &connection, const QString &sql, const QVariantList &params, bool native)
    : m_connection(connection)
{
    const QString statement = native ? sql : connection.translate(sql);
    connection.checkIdle();
    PGconn *conn = connection.m_conn;
    const QByteArray utf8 = statement.toUtf8();
    const Parameters p(params);
    if (!PQsendQueryParams(conn, utf8.constData(), p.count(), p.types.data(), p.pointers.data(), nullptr, nullptr, 0))
        throw statementFailure(conn, nullptr, statement);
    PQsetSingleRowMode(conn);
    connection.m_busy = true;
    // The first result carries the columns; its row, if any, is the first one next() gives.
    m_row = PQgetResult(conn);
    const ExecStatusType status = m_row ? PQresultStatus(m_row) : PGRES_FATAL_ERROR;
    if (status != PGRES_SINGLE_TUPLE && status != PGRES_TUPLES_OK) {
        const Error error = statementFailure(conn, m_row, statement);
        finish();
        throw error;
    }
    for (int i = 0; i < PQnfields(m_row); ++i) {
        m_names << QString::fromUtf8(PQfname(m_row, i));
        m_types << PQftype(m_row, i);
        const Oid table = PQftable(m_row, i);
        m_sources << qMakePair(unsigned(table == InvalidOid ? 0 : table), table == InvalidOid ? 0 : PQftablecol(m_row, i));
    }
}

PgRows::~PgRows()
{
    if (m_done)
        return;
    // Outside a transaction the rest of the rows is cancelled; inside one a cancel would end
    // the transaction, so they are read and dropped.
    PGconn *conn = m_connection.m_conn;
    if (conn && !m_connection.inTransaction()) {
        if (PGcancel *cancel = PQgetCancel(conn)) {
            char buffer[256];
            PQcancel(cancel, buffer, sizeof buffer);
            PQfreeCancel(cancel);
        }
    }
    finish();
}

void PgRows::finish()
{
    if (m_row)
        PQclear(m_row);
    m_row = nullptr;
    if (PGconn *conn = m_connection.m_conn) {
        while (PGresult *r = PQgetResult(conn))
            PQclear(r);
    }
    m_connection.m_busy = false;
    m_done = true;
}

bool PgRows::next()
{
    if (m_done)
        return false;
    if (m_row && PQresultStatus(m_row) == PGRES_SINGLE_TUPLE && !m_pendingTaken) {
        m_pendingTaken = true;
        return true;
    }
    if (m_row)
        PQclear(m_row);
    m_row = PQgetResult(m_connection.m_conn);
    const ExecStatusType status = m_row ? PQresultStatus(m_row) : PGRES_TUPLES_OK;
    if (status == PGRES_SINGLE_TUPLE)
        return true;
    if (status == PGRES_TUPLES_OK) {
        finish();
        return false;
    }
    const Error error = statementFailure(m_connection.m_conn, m_row, QStringLiteral("SELECT"));
    finish();
    throw error;
}

QVariant PgRows::value(int column) const
{
    if (!m_row || PQresultStatus(m_row) != PGRES_SINGLE_TUPLE || column < 0 || column >= m_types.size())
        return QVariant();
    return valueOf(m_row, 0, column, m_types[column]);
}

QVariant PgRows::value(const QString &name) const
{
    for (int i = 0; i < m_names.size(); ++i) {
        if (m_names[i].compare(name, Qt::CaseInsensitive) == 0)
            return value(i);
    }
    return QVariant();
}

// --- PgTransaction ---

PgTransaction::PgTransaction(PgConnection &connection) : m_connection(connection)
{
    connection.beginTransaction();
}

PgTransaction::~PgTransaction()
{
    if (!m_open || !m_connection.isOpen() || !m_connection.inTransaction())
        return;
    try {
        m_connection.rollback();
    } catch (const Error &) {
        // The connection went away with its transaction.
    }
}

void PgTransaction::commit()
{
    m_open = false;
    m_connection.commit();
}

} // namespace dagl
