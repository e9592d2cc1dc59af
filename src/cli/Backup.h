// tk770ctl backup: every processor of a hosts file read into its own project
// and JSON file, several at once.
#pragma once

#include "cli/DeviceSession.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <variant>

namespace tk770 {

struct BackupHost {
    int line = 0;    // 1-based line of the hosts file
    QString name;    // part of the file names
    QString target;  // as written: "tcp:HOST[:PORT]" or "serial:DEVICE"
    LinkOptions link;
};

// Hosts file: one processor a line, "NAME tcp:HOST[:PORT]" or "NAME
// serial:DEVICE"; blank lines and lines starting with '#' are skipped, and a
// word starting with '#' ends a line. Either the processors in file order
// or one "line N: reason" per bad line (none when all are good).
std::variant<QList<BackupHost>, QStringList> parseHostsFile(const QByteArray& text);

// Longest processor name: "NAME-YYYYMMDD-HHMMSS.qsdat" must fit the 255
// bytes a file name may have.
inline constexpr int max_backup_name_bytes = 255 - 22;
inline constexpr int max_backup_jobs = 64;
inline constexpr int default_backup_jobs = 4;

struct BackupResult {
    bool ok = false;
    QString reason;  // why not, when not ok
    double seconds = 0;
};

// "DIR/NAME-YYYYMMDD-HHMMSS" (local time `started`), without the extension.
QString backupBaseName(const QString& dir, const QString& name, const QDateTime& started);

// Backs up every host into `dir`, up to `jobs` at once, each on a thread of
// its own with its own link; `timeoutMs` as --timeout-ms (-1: the defaults).
// Results in the order of `hosts`.
QList<BackupResult> runBackup(const QList<BackupHost>& hosts, const QString& dir, const QDateTime& started, int jobs,
                              int timeoutMs);

// The table: name, target, "ok" or the reason, seconds; one line per host,
// columns aligned.
QStringList backupTable(const QList<BackupHost>& hosts, const QList<BackupResult>& results);

}  // namespace tk770
