#pragma once

#include <QString>

namespace dagl::PgPassFile {

// What a password file line is looked up by, as libpq looks it up: the host as given (the
// default socket folder reads "localhost"), the port (5432 when none), database and user.
struct Key {
    QString host;
    QString port;
    QString database;
    QString user;

    // The line a password file needs for this key, with "密码" for the password.
    QString lineFor() const;
};

enum class Finding {
    Found, // a line matches; its password is in `password`
    NoPath, // no file was named and there is no home folder
    Missing, // no such file
    NotPlainFile, // a folder or a device: libpq does not read it
    TooOpen, // group or others may read or write it: libpq ignores it
    Unreadable, // this account may not read it
    NoLine, // it holds no line for this server, port, database and user
};

struct Result {
    Finding finding = Finding::NoPath;
    QString path;
    int line = 0; // of the matching line, from 1
    QString password;
};

// Reads the password file by libpq's rules: lines "host:port:database:user:password", "*"
// for any value in the first four fields, "\" before ":" or "\" in a value, "#" starting
// a comment line, the first matching line wins; a file that group or others may use is
// ignored.
Result look(const QString &path, const Key &key);

// Why the server's demand for a password was not met from the file, in the operator's
// words, naming the file: "密码文件 … 不存在。" and so on; empty when a line was found.
QString problemText(const Result &result, const Key &key);

} // namespace dagl::PgPassFile
