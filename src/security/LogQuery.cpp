#include "LogQuery.h"

#include "Regional.h"

namespace dagl::LogQuery {

QString statement(const QDate &start, const QDate &end)
{
    // A range that ends before it starts holds no day, not even the start's midnight.
    if (start > end)
        return QStringLiteral("select * from rz where  sj>=#") + Regional::formatDate(start)
            + QStringLiteral("# and sj<#") + Regional::formatDate(start) + QStringLiteral("#");
    return QStringLiteral("select * from rz where ") + QStringLiteral(" sj>=#") + Regional::formatDate(start)
        + QStringLiteral("# and sj<=#") + Regional::formatDate(end.addDays(1)) + QStringLiteral("#");
}

} // namespace dagl::LogQuery
