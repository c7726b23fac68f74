#pragma once
// corvantis-log: export, summarise and search the production record.
//
//   corvantis-log [--database FILE] export --format csv|json
//                 [--since TIME] [--until TIME] [--serial N] [--result R] [--device NAME]
//   corvantis-log [--database FILE] summary [--since TIME] [--until TIME] [--device NAME]
//   corvantis-log [--database FILE] find SERIAL
//   corvantis-log --line|--database CONNINFO pool create|show|raise ...
//
// --line reads the line database from the station's settings ([Line]
// Database); --database takes a line database when its value is a
// postgresql:// URI or starts with a key=value word, a record file otherwise.
//
// TIME: ISO 8601 (2026-12-07, 2026-12-07T13:05:00Z, with an offset or
// without one: then UTC); --since includes, --until excludes. Exit status 0,
// 1 for bad arguments (with the usage text on err), 2 when the record cannot
// be read. CSV: a header row, RFC 4180 quoting, CRLF line ends; times UTC
// ISO 8601; a text cell that begins with =, +, -, @, a tab or a CR gets a
// leading apostrophe. JSON: an array, one object a line, in column order.
// Rows stream from the query to out: nothing is held.
#include <QString>
#include <QStringList>

#include <ostream>

struct CAttempt;

int RunLogTool(const QStringList& args, std::ostream& out, std::ostream& err);

// One CSV field, quoted when it holds a comma, quote, CR or LF.
QString CsvField(const QString& text);
// A text cell: CsvField after a leading apostrophe when the text begins with
// =, +, -, @, a tab or a CR (a spreadsheet would take it for a formula).
QString CsvText(const QString& text);
// A TIME argument as the record's UTC text; empty when it is no time.
QString NormaliseTime(const QString& text);
// A --database value naming a line database rather than a file.
bool IsConninfo(const QString& database);
