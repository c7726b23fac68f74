#pragma once
// corvantis-log: export, summarise and search the production record.
//
//   corvantis-log [--database FILE] export --format csv|json
//                 [--since TIME] [--until TIME] [--serial N] [--result R] [--device NAME]
//   corvantis-log [--database FILE] summary [--since TIME] [--until TIME] [--device NAME]
//   corvantis-log [--database FILE] find SERIAL
//
// TIME: ISO 8601 (2026-12-07, 2026-12-07T13:05:00Z, with an offset or
// without one: then UTC); --since includes, --until excludes. Exit status 0,
// 1 for bad arguments (with the usage text on err), 2 when the record cannot
// be read. CSV: a header row, RFC 4180 quoting, CRLF line ends; times UTC
// ISO 8601.
#include <QString>
#include <QStringList>

#include <ostream>

struct CAttempt;

int RunLogTool(const QStringList& args, std::ostream& out, std::ostream& err);

// One CSV field, quoted when it holds a comma, quote, CR or LF.
QString CsvField(const QString& text);
// A TIME argument as the record's UTC text; empty when it is no time.
QString NormaliseTime(const QString& text);
