#pragma once
// The pool administration of the line database, as the command line gives
// it (corvantis-log's "pool" subcommand):
//
//   pool create NAME --first N [--last M]
//   pool show [NAME]          next number, numbers given back, counts by state
//   pool raise NAME N         the next number only ever goes up
//
// args are the words after "pool". Exit status 0; 1 for bad arguments or a
// request the pool refuses (a message on err, nothing changed); 2 when the
// line database cannot be reached or read.

#include <QStringList>

#include <ostream>

int RunPoolCommand(const QString& conninfo, const QStringList& args, std::ostream& out,
                   std::ostream& err);

extern const char* const PoolUsage;

// corvantis-log's "line" subcommand, with the administrator's login:
//
//   line setup --station-role ROLE   creates or migrates the line's schema
//                                    and grants ROLE a station's rights
//
// Exit status as for RunPoolCommand.
int RunLineCommand(const QString& conninfo, const QStringList& args, std::ostream& out, std::ostream& err);
