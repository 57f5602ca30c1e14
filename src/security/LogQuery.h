#pragma once

#include <QDate>
#include <QString>

namespace dagl::LogQuery {

// The statement of the log viewer for the days from `start` to `end`: from the start day's
// 00:00:00 up to and including 00:00:00 of the day after the end day. Built from dates, so
// nothing typed reaches the statement as text. A start after the end lists nothing.
QString statement(const QDate &start, const QDate &end);

} // namespace dagl::LogQuery
