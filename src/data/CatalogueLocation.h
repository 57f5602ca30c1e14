#pragma once

#include "PgConnection.h"

#include <QString>

namespace dagl {

class IniFile;

// Where this installation keeps its catalogue: the password-protected file in the program
// folder (the default), or a PostgreSQL server that several workstations share. Kept per
// installation in myini.ini, section `catalogue`, under libpq's own names so that whoever
// sets up the server recognises them:
//   kind      local (default) or server
//   host, port, dbname, user      where the server is
//   service   a name in the service file (pg_service.conf) instead of the four above
//   passfile  the password file to use instead of libpq's own choice (~/.pgpass, PGPASSFILE)
//   sslmode, sslrootcert   encryption to a server across the network (verify-full, and the
//             root certificate that signed the server's)
// The server password is never kept here: libpq reads it from the password file or the
// service file. A `password` entry is refused, not used.
struct CatalogueLocation {
    static inline const QString kSection = QStringLiteral("catalogue");

    enum class Kind { LocalFile, Server };
    Kind kind = Kind::LocalFile;
    PgSettings server;
    // Why the settings cannot be used, in the operator's words; empty when they can.
    QString problem;

    bool onServer() const { return kind == Kind::Server; }
    // Missing settings mean the local file.
    static CatalogueLocation load(const IniFile &settings);
    // Throws dagl::Error when the file refuses.
    void save(const IniFile &settings) const;
};

} // namespace dagl
