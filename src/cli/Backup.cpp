#include "cli/Backup.h"

#include "cli/CommandSupport.h"
#include "core/cp936.h"

#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QStringDecoder>
#include <QTextStream>
#include <QThreadPool>

#include <algorithm>
#include <exception>
#include <vector>

namespace tk770 {

namespace {

// Bad text is quoted with its control characters shown, not obeyed.
QString quoted(const QString& text)
{
    return QStringLiteral("'%1'").arg(QString::fromStdString(escape_controls(text.toStdString())));
}

bool hasControl(const QString& text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.category() == QChar::Other_Control; });
}

// Words split at blanks and tabs; a word starting with '#' ends the line.
QStringList wordsOf(const QString& line)
{
    QStringList words;
    QString word;
    const auto flush = [&] {
        if (!word.isEmpty()) words << word;
        word.clear();
    };
    for (const QChar c : line) {
        if (c == u' ' || c == u'\t') {
            flush();
            continue;
        }
        if (word.isEmpty() && c == u'#') break;
        word += c;
    }
    flush();
    return words;
}

// Why `name` cannot be part of a file name in the backup folder, or empty.
QString nameProblem(const QString& name)
{
    if (name.isEmpty()) return QStringLiteral("empty name");
    if (hasControl(name)) return QStringLiteral("name %1 holds a control character").arg(quoted(name));
    if (name.contains(u'/')) return QStringLiteral("name %1 holds '/'").arg(quoted(name));
    if (name.contains(QLatin1String(".."))) return QStringLiteral("name %1 holds '..'").arg(quoted(name));
    if (name.toUtf8().size() > max_backup_name_bytes)
        return QStringLiteral("name longer than %1 bytes").arg(max_backup_name_bytes);
    return {};
}

// Why `target` names no processor, or empty with `link` filled in.
QString targetProblem(const QString& target, LinkOptions& link)
{
    const QString usage = QStringLiteral(" (tcp:HOST[:PORT] or serial:DEVICE)");
    if (hasControl(target)) return QStringLiteral("target %1 holds a control character").arg(quoted(target));
    switch (const TargetError bad = parseDeviceTarget(target, link.target)) {
    case TargetError::none: break;
    case TargetError::no_device: return QStringLiteral("target %1 names no device").arg(quoted(target));
    case TargetError::port: return QStringLiteral("bad port in %1 (1..65535)").arg(quoted(target));
    case TargetError::unknown_kind:
    case TargetError::colons:
    case TargetError::no_host: return QStringLiteral("bad target %1").arg(quoted(target)) + usage;
    default: return QStringLiteral("bad target %1: %2").arg(quoted(target), targetErrorText(bad));
    }
    if (!link.target.isTcp()) return {};
    // read keeps the host in the project it writes.
    if (!projectIpFor(link))
        return QStringLiteral("host in %1 longer than %2 bytes does not fit a project")
            .arg(quoted(target), QString::number(device_ip_text_size - 1));
    return {};
}

}  // namespace

std::variant<QList<BackupHost>, QStringList> parseHostsFile(const QByteArray& text)
{
    QList<BackupHost> hosts;
    QStringList problems;
    QHash<QString, int> names;    // name -> line
    QHash<QString, int> targets;  // the processor it reaches -> line
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int number = static_cast<int>(i) + 1;
        QByteArray raw = lines[i];
        if (raw.endsWith('\r')) raw.chop(1);
        QStringDecoder decode(QStringDecoder::Utf8);
        const QString line = decode(raw);
        const auto refuse = [&](const QString& reason) {
            problems << QStringLiteral("line %1: %2").arg(QString::number(number), reason);
        };
        if (decode.hasError()) {
            refuse(QStringLiteral("not UTF-8"));
            continue;
        }
        const QStringList words = wordsOf(line);
        if (words.isEmpty()) continue;
        if (words.size() != 2) {
            refuse(QStringLiteral("expected NAME tcp:HOST[:PORT] or NAME serial:DEVICE"));
            continue;
        }
        BackupHost host{number, words[0], words[1], {}};
        if (const QString problem = nameProblem(host.name); !problem.isEmpty()) {
            refuse(problem);
            continue;
        }
        if (const QString problem = targetProblem(host.target, host.link); !problem.isEmpty()) {
            refuse(problem);
            continue;
        }
        if (const int first = names.value(host.name); first != 0) {
            refuse(QStringLiteral("name %1 already on line %2").arg(quoted(host.name), QString::number(first)));
            continue;
        }
        // Two jobs on one serial port, or on one processor, would get in each other's way.
        const QString reaches = host.link.target.isTcp() ? host.link.target.text().toLower() : host.target;
        if (const int first = targets.value(reaches); first != 0) {
            refuse(QStringLiteral("%1 already on line %2").arg(quoted(host.target), QString::number(first)));
            continue;
        }
        names.insert(host.name, number);
        targets.insert(reaches, number);
        hosts << host;
    }
    if (!problems.isEmpty()) return problems;
    if (hosts.isEmpty()) return QStringList{QStringLiteral("no processor listed")};
    return hosts;
}

QString backupBaseName(const QString& dir, const QString& name, const QDateTime& started)
{
    return QDir(dir).filePath(name + started.toString(QStringLiteral("-yyyyMMdd-HHmmss")));
}

namespace {

BackupResult backUpOne(const BackupHost& host, const QString& base, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    BackupResult result;
    // The session's messages are kept for the reason, not printed: the
    // table reports each processor on one line.
    QString messages;
    QTextStream err(&messages);
    LinkOptions link = host.link;
    link.timeoutMs = timeoutMs;
    // Nothing may leave a pool thread by exception.
    try {
        DeviceSession session(link, err);
        std::string fileError;
        const DeviceIpText ip = projectIpFor(link).value_or(DeviceIpText{});
        switch (readIntoFiles(session, ip, (base + QStringLiteral(".qsdat")).toStdString(),
                              (base + QStringLiteral(".json")).toStdString(), fileError)) {
        case ReadResult::written:
            result.ok = true;
            break;
        case ReadResult::device_failed: {
            err.flush();
            const QStringList said = messages.split(u'\n', Qt::SkipEmptyParts);
            result.reason = said.isEmpty() ? QStringLiteral("the processor did not answer") : said.last();
            break;
        }
        case ReadResult::file_failed:
            result.reason = QString::fromStdString(fileError);
            break;
        }
    } catch (const std::exception& e) {
        result.reason = QString::fromStdString(e.what());
    } catch (...) {
        result.reason = QStringLiteral("unexpected failure");
    }
    result.seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    return result;
}

}  // namespace

QList<BackupResult> runBackup(const QList<BackupHost>& hosts, const QString& dir, const QDateTime& started, int jobs,
                              int timeoutMs)
{
    // Each job's link blocks on its own thread, so a silent processor holds
    // up one job for the link's bounded waits and no other.
    std::vector<BackupResult> results(static_cast<std::size_t>(hosts.size()));
    {
        QThreadPool pool;
        pool.setMaxThreadCount(jobs);
        for (qsizetype i = 0; i < hosts.size(); ++i) {
            const QString base = backupBaseName(dir, hosts[i].name, started);
            pool.start([&results, &hosts, i, base, timeoutMs] {
                results[static_cast<std::size_t>(i)] = backUpOne(hosts[i], base, timeoutMs);
            });
        }
        pool.waitForDone();
    }
    return QList<BackupResult>(results.begin(), results.end());
}

QStringList backupTable(const QList<BackupHost>& hosts, const QList<BackupResult>& results)
{
    qsizetype nameWidth = 0, targetWidth = 0, resultWidth = 0;
    const auto resultText = [&](qsizetype i) { return results[i].ok ? QStringLiteral("ok") : results[i].reason; };
    for (qsizetype i = 0; i < hosts.size(); ++i) {
        nameWidth = std::max(nameWidth, hosts[i].name.size());
        targetWidth = std::max(targetWidth, hosts[i].target.size());
        resultWidth = std::max(resultWidth, resultText(i).size());
    }
    QStringList lines;
    for (qsizetype i = 0; i < hosts.size(); ++i)
        // One arg() call: a name holding "%1" is printed as it is.
        lines << QStringLiteral("%1  %2  %3  %4")
                     .arg(hosts[i].name.leftJustified(nameWidth), hosts[i].target.leftJustified(targetWidth),
                          resultText(i).leftJustified(resultWidth), QString::number(results[i].seconds, 'f', 1));
    return lines;
}

}  // namespace tk770
