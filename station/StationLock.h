#pragma once
// The one-station lock on a settings store: two stations on one store would
// both start from the same next serial number and issue it twice.

#include <QString>

#include <string>

class QLockFile;

// Takes the lock at path; empty when it is held now, else the operator's
// message: another station holds it (on this host and alive, or on another
// host, which this one cannot check), or the lock cannot be made at all (a
// full disk, a read-only folder): a station that ran unlocked could issue the
// numbers a later, locked one issues too.
std::string TakeStationLock(QLockFile& lock, const QString& path);
