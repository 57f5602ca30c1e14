// dagl-initdb: makes the database and the branding of a new program folder, and fills
// generated catalogue records for trying the program.
//
//   dagl-initdb PROGRAM_FOLDER              create data/kdmx.mdb and InitDir/Init.ini (never overwrites)
//   dagl-initdb PROGRAM_FOLDER --fill N     add N generated records (creating the files first if needed)
//   dagl-initdb PROGRAM_FOLDER --branding   create InitDir/Init.ini only, when there is none
//   dagl-initdb --server "host=... port=... dbname=... user=..."
//                                           create the tables on an empty PostgreSQL database
//   dagl-initdb --server "..." --copy-from PROGRAM_FOLDER
//                                           copy the folder's catalogue into an empty one
//   dagl-initdb --server "..." --grant ROLE give a clerk's login role the use of the catalogue
//                                           (after making it, or on the one already there)
// The server password comes from the password file (~/.pgpass, PGPASSFILE) or the service
// file ("service=name"), never from the command line.

#include "Connection.h"
#include "Error.h"
#include "InitInfo.h"
#include "Login.h"
#include "PgConnection.h"
#include "PgSchema.h"
#include "ProgramFolder.h"
#include "SampleCatalogue.h"
#include "Schema.h"
#include "ServerCatalogue.h"
#include "TDataModule5.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTextStream>

#include <random>

namespace {

// The commands on a server database: 0 done, 1 failed, 2 wrong use, 3 not an empty database.
int serverCommand(const QStringList &args, QTextStream &out, QTextStream &err)
{
    const int copyAt = int(args.indexOf(QStringLiteral("--copy-from")));
    QStringList roles;
    bool wrongUse = args.size() < 2 || (copyAt >= 0 && copyAt + 1 >= args.size());
    for (int i = 2; i < args.size(); ++i) {
        if (args[i] != QLatin1String("--grant"))
            continue;
        if (i + 1 >= args.size() || args[i + 1].startsWith(QLatin1Char('-')))
            wrongUse = true;
        else
            roles << args[++i];
    }
    if (wrongUse) {
        err << "usage: dagl-initdb --server \"host=... port=... dbname=... user=...\" [--copy-from PROGRAM_FOLDER] "
               "[--grant ROLE]...\n";
        return 2;
    }
    try {
        dagl::PgConnection server(dagl::PgSettings::fromConnectionString(args[1]));
        server.open();
        const QStringList existing = dagl::PgSchema::relations(server);
        // Granting alone works on the catalogue already there.
        const bool grantOnly = !roles.isEmpty() && copyAt < 0 && !existing.isEmpty();
        if (!existing.isEmpty() && !grantOnly) {
            err << "database is not empty, left as it is: " << server.settings().displayName() << " ("
                << existing.mid(0, 3).join(QStringLiteral(", ")) << ")\n";
            return 3;
        }
        if (grantOnly) {
            out << "the catalogue is there already: " << server.settings().displayName() << "\n";
        } else if (copyAt < 0) {
            dagl::ServerCatalogue::create(server, dagl::permissionCodeList());
            out << "created the tables on " << server.settings().displayName() << "\n";
        } else {
            QString folder = args[copyAt + 1];
            if (!folder.endsWith(QLatin1Char('/')))
                folder += QLatin1Char('/');
            dagl::Connection local;
            local.setConnectionString(dagl::TDataModule5::connectionStringFor(folder));
            local.open();
            QElapsedTimer timer;
            timer.start();
            const auto counts = dagl::ServerCatalogue::copyFrom(server, local, dagl::permissionCodeList());
            qlonglong total = 0;
            for (const auto &count : counts) {
                out << count.table << ": " << count.rows << "\n";
                total += count.rows;
            }
            out << "copied " << total << " rows into " << server.settings().displayName() << " in "
                << timer.elapsed() / 1000.0 << " s\n";
        }
        for (const QString &role : std::as_const(roles)) {
            dagl::ServerCatalogue::grant(server, role);
            out << "granted " << role << " the use of the catalogue on " << server.settings().displayName() << "\n";
        }
        return 0;
    } catch (const dagl::Error &error) {
        err << error.logText() << "\n";
        return 1;
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout), err(stderr);
    const QStringList args = app.arguments().mid(1);
    if (!args.isEmpty() && args[0] == QLatin1String("--server"))
        return serverCommand(args, out, err);
    if (args.isEmpty() || args[0].startsWith(QLatin1Char('-'))) {
        err << "usage: dagl-initdb PROGRAM_FOLDER [--fill N | --branding]\n"
               "       dagl-initdb --server \"host=... port=... dbname=... user=...\" [--copy-from PROGRAM_FOLDER] "
               "[--grant ROLE]...\n";
        return 2;
    }
    QString folder = args[0];
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    int fill = 0;
    const int at = int(args.indexOf(QStringLiteral("--fill")));
    if (at >= 0) {
        bool ok = false;
        fill = at + 1 < args.size() ? args[at + 1].toInt(&ok) : 0;
        if (!ok || fill < 0) {
            err << "--fill needs a number of records\n";
            return 2;
        }
    }

    // The branding the program shows in its title, status bar, about box and message boxes.
    auto setUpBranding = [&] {
        QString error;
        const QString ini = dagl::ProgramFolder::resolve(folder, QStringLiteral("InitDir/Init.ini"));
        switch (dagl::SetUpInitIni(folder, QStringLiteral(DAGL_VERSION), &error)) {
        case dagl::InitIniSetup::Written:
            out << "created " << ini << "\n";
            return true;
        case dagl::InitIniSetup::Kept:
            out << "branding exists, left as it is: " << ini << "\n";
            return true;
        case dagl::InitIniSetup::Failed:
            break;
        }
        err << "cannot write " << ini << ": " << error << "\n";
        return false;
    };
    if (args.contains(QStringLiteral("--branding")))
        return setUpBranding() ? 0 : 1;

    const QString path = dagl::ProgramFolder::resolve(folder, dagl::Schema::kDatabaseFile);
    try {
        QElapsedTimer timer;
        timer.start();
        if (QFileInfo::exists(path)) {
            if (fill == 0) {
                err << "database exists, left as it is: " << path << "\n";
                return 3;
            }
            dagl::Connection connection;
            connection.setConnectionString(dagl::TDataModule5::connectionStringFor(folder));
            connection.open();
            dagl::SampleCatalogue::fill(connection, fill, std::random_device{}());
        } else {
            dagl::Schema::NewDatabase spec;
            spec.path = path;
            spec.rightCodes = dagl::permissionCodeList();
            spec.sampleRecords = fill;
            dagl::Schema::create(spec);
            out << "created " << path << "\n";
            if (!setUpBranding())
                return 1;
        }
        if (fill > 0)
            out << "added " << fill << " records in " << timer.elapsed() / 1000.0 << " s\n";
    } catch (const dagl::Error &error) {
        err << error.message() << "\n";
        return 1;
    }
    return 0;
}
