#pragma once
// corvantis-log's "recipe" subcommand: the engineer's side of recipes, in
// the line database (--database ADMIN_CONNINFO, --line) or in a recipe
// folder (--folder DIR):
//
//   recipe create NAME --firmware FILE --device NAME --vcc V [--erase-info]
//                 [--blow-fuse] [--serial-type T --serial-address HEX] [--pool P]
//   recipe show NAME [--version N]
//   recipe list
//   recipe retire NAME
//   recipe export NAME [--version N] --firmware-out FILE
//
// create runs the station's setup check on the image and the choices and
// refuses a recipe that fails it. Exit status 0; 1 for bad arguments or a
// refusal (nothing changed); 2 when the book cannot be reached or read.

#include <QStringList>

#include <ostream>

class CRecipeBook;

int RunRecipeCommand(CRecipeBook& book, const QStringList& args, std::ostream& out, std::ostream& err);

extern const char* const RecipeUsage;
