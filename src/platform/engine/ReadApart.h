#pragma once

#include <QString>
#include <QVector>

#include <functional>

namespace dagl {

class Connection;

// Reads what only reads on a thread of its own, through a read-only connection of its own to
// the same file, so that the calling thread stays free to repaint its windows meanwhile.
namespace ReadApart {

// The first column of every row of `sql`, as integers, read through the connection's reader
// (opened at the first read; opening costs the password's key derivation once). `waiting` is called on the calling
// thread at once and then every few milliseconds until the rows are read; answering false
// stops the read, and then `*cancelled` is set and nothing is returned. Throws dagl::Error
// when the statement fails.
QVector<qlonglong> keys(
    Connection &connection, const QString &sql, const std::function<bool()> &waiting, bool *cancelled);

} // namespace ReadApart
} // namespace dagl
