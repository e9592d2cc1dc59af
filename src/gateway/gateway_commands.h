// The commands of the remote controls (master volume, mute, format, power-on
// format, fade time, get/set of any field, save, status, help and the text
// protocol's own subscribe, quit and auth) and the state they show, shared
// by the text protocol and the web remote.
//
// The commands are one table (commandTable()): each row holds the word, its
// syntax and one-line help, the role that may use it, the remotes that offer
// it, how its argument is parsed, what it does and how its reply is written.
// The text protocol, the web API, `help` and the protocol reference in the
// manual page all read that table; a word without a row is an unknown
// command, never a fall-through to another one.
//
// Every change goes through the link owner's queue with the same bytes the
// panel's controls and `tk770ctl set` send, and every change of the mirror,
// from any client, comes out of changed() as the text notifications name it.
#pragma once

#include "gateway/link_owner.h"
#include "gateway/token_guard.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <span>
#include <variant>

namespace tk770 {

// Why a command was refused, with the HTTP status the web API answers it
// with. The statuses: 400 the request is malformed (a bad value, a missing
// argument, an unknown field), 401 no or a wrong token, 403 the caller may
// not (a read-only field, a command of a higher role), 404 no such command,
// 409 the processor's state forbids it now (offline, a test signal locking
// the format), 504 the processor did not answer.
struct CommandError {
    QString reason;
    int httpStatus = 400;
};

struct CommandReply {
    QString text;                       // the value after OK
    std::optional<CommandError> error;  // set: refused, and why
    bool ok() const { return !error; }
};

// Who may use a command. Every row is the operator's for now; a technician
// may do all an operator may.
enum class Role { Operator, Technician };

// The remotes that offer a command (a bit set).
enum Remote : unsigned { TextRemote = 1, WebRemote = 2, AnyRemote = TextRemote | WebRemote };

// The connection a command came on, for the commands that act on it
// (subscribe, quit); the text service's clients provide it.
class CommandSession {
public:
    virtual ~CommandSession() = default;
    virtual void setSubscribed(bool on) = 0;
    // The reply is the connection's last line.
    virtual void endAfterReply() = 0;
};

struct CommandCaller {
    GatewayPeer peer;
    Remote remote = TextRemote;
    Role role = Role::Operator;
    CommandSession* session = nullptr;
};

// A command's argument once its row has parsed it.
struct CommandArgs {
    bool asks = false;      // "?": the value is asked for, nothing changes
    int number = 0;         // tenths of the volume, seconds of fade, a choice's index
    bool relative = false;  // "+V"/"-V"
    std::optional<FieldRef> field;
    FieldValue value;
    QString word;           // help's subject
};

class GatewayCommands;
struct CommandRow;

// What a row's action works with; reply() answers the caller exactly once.
struct CommandContext {
    GatewayCommands& commands;
    const CommandRow& row;
    CommandCaller caller;
    CommandArgs args;
    std::function<void(const CommandReply&)> reply;

    // OK with the row's formatted value of the mirror as it is now.
    void answer() const;
    void refuse(const CommandError& error) const { reply(CommandReply{{}, error}); }
};

// A row's parser gets its own row, so its refusals can name the command.
using CommandParse = std::variant<CommandArgs, CommandError> (*)(const CommandRow& row, const QString& argument);

struct CommandRow {
    const char* word;
    const char* syntax;   // the argument as the reference writes it, "" for none
    const char* summary;  // one line: what the command does and answers
    Role role;
    unsigned remotes;     // Remote bits
    bool needsLink;       // refused as offline while the processor is away
    bool tokenOnly;       // offered only when the remotes ask for a token (auth)
    CommandParse parse;
    void (*act)(const CommandContext& context);
    // The OK text from the mirror (after the change, for the changing rows);
    // null for the rows that answer otherwise.
    QString (*format)(const ParameterImage& image, const CommandArgs& args);
    // The field whose changes the text notifications tell under this
    // command's word and reply ("! fade 3" for fade_time), or null.
    const char* tells = nullptr;
};

class GatewayCommands : public QObject {
    Q_OBJECT
public:
    explicit GatewayCommands(LinkOwner& link, QByteArray token = {}, QObject* parent = nullptr);

    // Runs one command line's word and argument for `caller`. The reply may
    // come later (the processor answers asynchronously); done is called
    // exactly once.
    void run(const QString& word, const QString& argument, const CommandCaller& caller,
             std::function<void(const CommandReply&)> done);

    // The table, in the order help and the reference list it.
    static std::span<const CommandRow> commandTable();
    // The row of `word` (any case) offered on `remote`, or why there is none.
    static std::variant<const CommandRow*, CommandError> find(const QString& word, Remote remote);
    // The words `help` lists on `remote` (auth only when a token is asked for).
    QStringList commandNames(Remote remote) const;

    // The protocol reference for the manual page and docs/gateway-protocol.md,
    // made from the table: "markdown" or "man" (help2man's include format).
    static QString protocolReference(const QString& form);

    // Every field under tk770ctl's names, plus "link" ("online"/"offline")
    // and "identity" {model, serial, firmware}.
    QJsonObject state() const;

    LinkOwner& link() { return m_link; }
    // The back-off for wrong tokens that every remote shares.
    TokenGuard& tokenGuard() { return m_guard; }

    // Sends `unit` from the mirror as `edit` leaves it when the job's turn
    // comes; an edit's error refuses the command instead. The reply is
    // formatted from the mirror afterwards.
    void change(const CommandContext& context, std::function<std::optional<CommandError>(ParameterImage&)> edit,
                WriteUnit unit);
    // Queues a whole operation (save) and answers OK when the processor took it.
    void operate(const CommandContext& context, LinkOp::Kind kind);

signals:
    // Every state change from any client, as the text notifications say it:
    // ("volume","7.0"), ("mute","on"), ("format","aux"), ("link","offline"),
    // (FIELD, VALUE).
    void changed(const QString& key, const QString& value);
    // The same changes as the text notifications name them: a field that a
    // command's row tells under its word and reply ("fade", "3"), every
    // other one as changed() says it.
    void notified(const QString& key, const QString& value);

private:
    // Emits both signals for a change that has one name.
    void tell(const QString& key, const QString& value);
    void onFieldChanged(const FieldRef& ref, const ParameterImage& before, const ParameterImage& after);

    LinkOwner& m_link;
    TokenGuard m_guard;
};

// The refusals that have no varying part, as the reference lists them.
namespace command_errors {
extern const CommandError unknown_command;
extern const CommandError forbidden;
extern const CommandError offline;
extern const CommandError no_reply;
extern const CommandError test_signal;
extern const CommandError auth_required;
}  // namespace command_errors

// The texts the remote commands use for the formats and power-on formats.
QString formatName(int format);            // 0..4: digital analog nonsync aux mic
QString powerOnName(int value);            // 0..5: the formats and "last"

}  // namespace tk770
