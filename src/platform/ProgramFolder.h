#pragma once

#include <QString>

namespace dagl {

// Paths inside the program folder. The folder is always given with a trailing "/", and
// the names below it match without regard to letter case ("backup" and "BACKUP" are one
// folder), as on the system the program was made for.
namespace ProgramFolder {

// The executable's folder with a trailing "/".
QString ofExecutable();

// `base` joined with `relative`; each part of `relative` takes the spelling of an
// existing entry that matches it regardless of case, else the spelling given.
QString resolve(const QString &base, const QString &relative);

// Makes sure the folder exists (found regardless of case, else created). Returns its
// path, or throws dagl::Error with the system's reason.
QString ensureFolder(const QString &base, const QString &relative);

} // namespace ProgramFolder
} // namespace dagl
