#include "gateway/gateway_commands.h"

#include "core/cp936.h"
#include "core/format_choice.h"
#include "core/readout.h"
#include "tk770_version.h"

#include <QJsonValue>

#include <array>
#include <optional>

namespace tk770 {

namespace command_errors {
const CommandError unknown_command{QStringLiteral("unknown command"), 404};
const CommandError forbidden{QStringLiteral("not allowed for this client"), 403};
const CommandError offline{QStringLiteral("offline"), 409};
const CommandError no_reply{QStringLiteral("no reply"), 504};
const CommandError test_signal{QStringLiteral("test signal active"), 409};
const CommandError auth_required{QStringLiteral("auth required"), 401};
}  // namespace command_errors

namespace {

using namespace command_errors;
using Parsed = std::variant<CommandArgs, CommandError>;

const std::array<const char*, format_count> format_names{"digital", "analog", "nonsync", "aux", "mic"};
constexpr int power_on_last = 5;
constexpr int volume_max = 100;  // tenths: 10.0
constexpr int fade_max = 9;

CommandReply ok(const QString& text = {}) { return {text, std::nullopt}; }

QString qs(const std::string& text) { return QString::fromStdString(text); }

// A number of tenths written as "5", "5.5", "+0.5" or "-1.0": at most three
// digits before the point and one after. `relative` says a sign was given.
std::optional<int> parseTenths(const QString& text, bool& relative)
{
    QStringView t(text);
    relative = !t.isEmpty() && (t.front() == u'+' || t.front() == u'-');
    const bool negative = relative && t.front() == u'-';
    if (relative) t = t.mid(1);
    const qsizetype point = t.indexOf(u'.');
    const QStringView whole = point < 0 ? t : t.left(point);
    const QStringView tenth = point < 0 ? QStringView() : t.mid(point + 1);
    const auto digits = [](QStringView d) {
        for (QChar c : d)
            if (c < u'0' || c > u'9') return false;
        return true;
    };
    if (whole.isEmpty() || whole.size() > 3 || !digits(whole)) return std::nullopt;
    if (point >= 0 && (tenth.size() != 1 || !digits(tenth))) return std::nullopt;
    int value = whole.toInt() * 10 + (tenth.isEmpty() ? 0 : tenth.toInt());
    return negative ? -value : value;
}

int indexOfName(const QString& word, std::initializer_list<const char*> names)
{
    int i = 0;
    for (const char* name : names) {
        if (word.compare(QLatin1String(name), Qt::CaseInsensitive) == 0) return i;
        ++i;
    }
    return -1;
}

QString muteText(const ParameterImage& image) { return (image.master_mute & 1) ? QStringLiteral("on") : QStringLiteral("off"); }

CommandArgs asking()
{
    CommandArgs args;
    args.asks = true;
    return args;
}

CommandArgs numbered(int number, bool relative = false)
{
    CommandArgs args;
    args.number = number;
    args.relative = relative;
    return args;
}

// ---- how the rows parse their argument
//
// Refusals use tk770ctl's words for the same faults, with the range.

QString quoted(const QString& text) { return QLatin1Char('\'') + text + QLatin1Char('\''); }

CommandError missingValue(const CommandRow& row)
{
    return {QStringLiteral("missing value for %1").arg(QLatin1String(row.word)), 400};
}

// A word of a row's choices ("on|off|toggle").
Parsed choiceArgument(const CommandRow& row, const QString& argument, std::initializer_list<const char*> names)
{
    if (argument == QLatin1String("?")) return asking();
    if (argument.isEmpty()) return missingValue(row);
    const int choice = indexOfName(argument, names);
    if (choice >= 0) return numbered(choice);
    QStringList words;
    for (const char* name : names) words << QLatin1String(name);
    return CommandError{QStringLiteral("bad value %1 for %2: %3 or ?")
                            .arg(quoted(argument), QLatin1String(row.word), words.join(QLatin1String(", "))),
                        400};
}

Parsed noArgument(const CommandRow& row, const QString& argument)
{
    if (!argument.isEmpty()) return CommandError{QStringLiteral("%1 takes no value").arg(QLatin1String(row.word)), 400};
    return CommandArgs{};
}

Parsed anyArgument(const CommandRow&, const QString&) { return CommandArgs{}; }

Parsed volumeArgument(const CommandRow& row, const QString& argument)
{
    if (argument == QLatin1String("?")) return asking();
    if (argument.isEmpty()) return missingValue(row);
    bool relative = false;
    const auto tenths = parseTenths(argument, relative);
    if (!tenths)
        return CommandError{QStringLiteral("not a volume: %1 (0.0..10.0 in steps of 0.1, or +V/-V)").arg(quoted(argument)),
                            400};
    if (!relative && *tenths > volume_max)
        return CommandError{QStringLiteral("value %1 out of range 0.0..10.0 for volume").arg(qs(level_text(*tenths))), 400};
    return numbered(*tenths, relative);
}

Parsed muteArgument(const CommandRow& row, const QString& argument)
{
    return choiceArgument(row, argument, {"off", "on", "toggle"});
}

Parsed formatArgument(const CommandRow& row, const QString& argument)
{
    return choiceArgument(row, argument, {"digital", "analog", "nonsync", "aux", "mic"});
}

Parsed powerOnArgument(const CommandRow& row, const QString& argument)
{
    return choiceArgument(row, argument, {"digital", "analog", "nonsync", "aux", "mic", "last"});
}

Parsed fadeArgument(const CommandRow& row, const QString& argument)
{
    if (argument == QLatin1String("?")) return asking();
    if (argument.isEmpty()) return missingValue(row);
    bool number = argument.size() <= 3;
    for (const QChar c : argument) number = number && c >= u'0' && c <= u'9';
    if (!number) return CommandError{QStringLiteral("not a decimal integer: %1").arg(quoted(argument)), 400};
    if (argument.toInt() > fade_max)
        return CommandError{QStringLiteral("value %1 out of range 0..%2 for fade").arg(argument.toInt()).arg(fade_max), 400};
    return numbered(argument.toInt());
}

// A field reference, or tk770ctl's reason why it is none.
std::variant<FieldRef, CommandError> fieldNamed(const QString& name)
{
    const auto parsed = parse_field_ref(name.toStdString());
    if (const auto* ref = std::get_if<FieldRef>(&parsed)) return *ref;
    return CommandError{qs(std::get<std::string>(parsed)), 400};
}

Parsed fieldArgument(const CommandRow& row, const QString& argument)
{
    if (argument.isEmpty()) return CommandError{QStringLiteral("missing field for %1").arg(QLatin1String(row.word)), 400};
    auto ref = fieldNamed(argument);
    if (const auto* error = std::get_if<CommandError>(&ref)) return *error;
    CommandArgs args;
    args.field = std::get<FieldRef>(ref);
    return args;
}

Parsed fieldAndValue(const CommandRow& row, const QString& argument)
{
    const qsizetype space = argument.indexOf(u' ');
    const QString name = space < 0 ? argument : argument.left(space);
    const QString text = space < 0 ? QString() : argument.mid(space + 1).trimmed();
    auto parsed = fieldArgument(row, name);
    if (std::holds_alternative<CommandError>(parsed)) return parsed;
    CommandArgs args = std::get<CommandArgs>(parsed);
    const Field& field = *args.field->field;
    const bool settable = field.send != FieldSend::read_only && field.send != FieldSend::none;
    if (settable && text.isEmpty()) return missingValue(row);
    const auto value = parse_field_value(*args.field, text.toStdString());
    if (const auto* error = std::get_if<std::string>(&value)) return CommandError{qs(*error), settable ? 400 : 403};
    if (!send_unit_of(*args.field)) return CommandError{qs(args.field->name() + " cannot be set"), 403};
    args.value = std::get<FieldValue>(value);
    return args;
}

Parsed helpSubject(const CommandRow&, const QString& argument)
{
    CommandArgs args;
    args.word = argument.toLower();
    for (const QChar c : argument)
        if (c.isSpace()) return CommandError{QStringLiteral("help takes one command"), 400};
    return args;
}

// ---- what the rows do

void answerOrChange(const CommandContext& c, std::function<void(ParameterImage&, const CommandArgs&)> edit,
                    UnitKind unit)
{
    if (c.args.asks) return c.answer();
    c.commands.change(
        c,
        [edit = std::move(edit), args = c.args](ParameterImage& image) -> std::optional<CommandError> {
            edit(image, args);
            return std::nullopt;
        },
        write_unit(unit));
}

void actVolume(const CommandContext& c)
{
    // The edit runs when the job's turn comes, on the mirror as the requests
    // before it left it: "volume +0.5" twice raises it by 1.0.
    answerOrChange(
        c,
        [](ParameterImage& image, const CommandArgs& a) {
            const int v = a.relative ? std::clamp(image.master_volume + a.number, 0, volume_max) : a.number;
            image.master_volume = static_cast<std::uint8_t>(v);
        },
        UnitKind::master_volume);
}

void actMute(const CommandContext& c)
{
    answerOrChange(
        c,
        [](ParameterImage& image, const CommandArgs& a) {
            const int bit = a.number == 2 ? !(image.master_mute & 1) : a.number;
            image.master_mute = static_cast<std::uint8_t>((image.master_mute & ~1) | bit);
        },
        UnitKind::master_mute);
}

void actFormat(const CommandContext& c)
{
    if (c.args.asks) return c.answer();
    c.commands.change(
        c,
        [format = c.args.number](ParameterImage& image) -> std::optional<CommandError> {
            // The format buttons' guard, checked when the request's turn comes.
            if (format_locked_by_test_signal(image)) return test_signal;
            choose_format(image, format);
            return std::nullopt;
        },
        write_unit(UnitKind::input_selection));
}

void actPowerOn(const CommandContext& c)
{
    answerOrChange(
        c, [](ParameterImage& image, const CommandArgs& a) { image.power_on_format = static_cast<std::uint8_t>(a.number); },
        UnitKind::power_on_format);
}

void actFade(const CommandContext& c)
{
    answerOrChange(
        c, [](ParameterImage& image, const CommandArgs& a) { image.fade_time = static_cast<std::uint8_t>(a.number); },
        UnitKind::fade_time);
}

void actAnswer(const CommandContext& c) { c.answer(); }

void actSet(const CommandContext& c)
{
    c.commands.change(
        c,
        [ref = *c.args.field, value = c.args.value](ParameterImage& image) -> std::optional<CommandError> {
            store_field(image, ref, value);
            return std::nullopt;
        },
        *send_unit_of(*c.args.field));
}

void actSave(const CommandContext& c) { c.commands.operate(c, LinkOp::save); }

void actStatus(const CommandContext& c)
{
    if (!c.commands.link().isOnline()) return c.reply(ok(QStringLiteral("offline")));
    c.answer();
}

void actSubscribe(const CommandContext& c)
{
    c.caller.session->setSubscribed(true);
    c.reply(ok());
}

void actUnsubscribe(const CommandContext& c)
{
    c.caller.session->setSubscribed(false);
    c.reply(ok());
}

void actQuit(const CommandContext& c)
{
    c.caller.session->endAfterReply();
    c.reply(ok());
}

// Only an authenticated client gets here: its token was taken already.
void actAuth(const CommandContext& c) { c.reply(ok()); }

void actHelp(const CommandContext& c)
{
    if (c.args.word.isEmpty())
        return c.reply(ok(c.commands.commandNames(c.caller.remote).join(QLatin1Char(' '))));
    const auto found = GatewayCommands::find(c.args.word, c.caller.remote);
    if (const auto* error = std::get_if<CommandError>(&found)) return c.refuse(*error);
    const CommandRow& row = *std::get<const CommandRow*>(found);
    const QString syntax = *row.syntax ? QStringLiteral("%1 %2").arg(QLatin1String(row.word), QLatin1String(row.syntax))
                                       : QLatin1String(row.word);
    c.reply(ok(QStringLiteral("%1: %2").arg(syntax, QString::fromUtf8(row.summary))));
}

// ---- how the rows write their reply

QString volumeText(const ParameterImage& image, const CommandArgs&) { return qs(level_text(image.master_volume)); }
QString muteReply(const ParameterImage& image, const CommandArgs&) { return muteText(image); }
QString formatText(const ParameterImage& image, const CommandArgs&) { return formatName(current_format(image)); }
QString powerOnText(const ParameterImage& image, const CommandArgs&) { return powerOnName(image.power_on_format); }
QString fadeText(const ParameterImage& image, const CommandArgs&) { return QString::number(image.fade_time); }
QString fieldText(const ParameterImage& image, const CommandArgs& a) { return qs(field_display_text(image, *a.field)); }

QString statusText(const ParameterImage& image, const CommandArgs&)
{
    const auto text = [](const auto& field) { return qs(escape_controls(cp936_field_to_utf8(field))); };
    return QStringLiteral("online %1 %2 %3").arg(text(image.device_model), text(image.device_serial),
                                                 text(image.firmware_version));
}

// Raised when a command changes meaning, not when one is added.
constexpr int protocol_version = 1;

QString versionText(const ParameterImage&, const CommandArgs&)
{
    return QStringLiteral("tk770-gateway %1 protocol %2").arg(QLatin1String(project_version)).arg(protocol_version);
}

QString pongText(const ParameterImage&, const CommandArgs&) { return QStringLiteral("pong"); }

// The table. A new command of the remotes is one row here.
const CommandRow command_rows[] = {
    {"volume", "?|V|+V|-V",
     "the master volume, 0.0 to 10.0 in steps of 0.1; +V and -V change it by V (kept within 0.0..10.0); "
     "answers the volume",
     Role::Operator, AnyRemote, true, false, volumeArgument, actVolume, volumeText},
    {"mute", "?|on|off|toggle", "the mute button (only its own bit of the mute byte); answers on or off",
     Role::Operator, AnyRemote, true, false, muteArgument, actMute, muteReply},
    {"format", "?|digital|analog|nonsync|aux|mic",
     "the input format, as the panel's format buttons choose it; refused while a test signal plays",
     Role::Operator, AnyRemote, true, false, formatArgument, actFormat, formatText},
    {"poweron", "?|digital|analog|nonsync|aux|mic|last", "the format the processor starts with",
     Role::Operator, AnyRemote, true, false, powerOnArgument, actPowerOn, powerOnText, "power_on_format"},
    {"fade", "?|0..9", "the fade time (0 to 9 as the panel's fade menu numbers it)",
     Role::Operator, AnyRemote, true, false, fadeArgument, actFade, fadeText, "fade_time"},
    {"get", "FIELD", "any field by tk770ctl's name (eq[3][14], tone[1].bass_gain); answers its value",
     Role::Operator, AnyRemote, true, false, fieldArgument, actAnswer, fieldText},
    {"set", "FIELD VALUE", "changes any field a control sends, with the bytes that control sends; answers the value",
     Role::Operator, AnyRemote, true, false, fieldAndValue, actSet, fieldText},
    {"save", "", "makes the processor keep its current settings over a power cycle",
     Role::Operator, AnyRemote, true, false, noArgument, actSave, nullptr},
    {"status", "", "online MODEL SERIAL FIRMWARE, or offline while the processor cannot be reached",
     Role::Operator, AnyRemote, false, false, noArgument, actStatus, statusText},
    {"version", "", "tk770-gateway VERSION protocol N: the program's version and the protocol's",
     Role::Operator, AnyRemote, false, false, noArgument, actAnswer, versionText},
    {"ping", "", "answers pong at once, whatever the processor's state",
     Role::Operator, AnyRemote, false, false, noArgument, actAnswer, pongText},
    {"subscribe", "", "from now on, every change from any client comes as a notification line",
     Role::Operator, TextRemote, false, false, noArgument, actSubscribe, nullptr},
    {"unsubscribe", "", "no more notification lines",
     Role::Operator, TextRemote, false, false, noArgument, actUnsubscribe, nullptr},
    {"help", "[COMMAND]", "the commands offered here, or one command's syntax and meaning",
     Role::Operator, AnyRemote, false, false, helpSubject, actHelp, nullptr},
    {"quit", "", "answers OK and closes the connection",
     Role::Operator, TextRemote, false, false, noArgument, actQuit, nullptr},
    {"auth", "TOKEN", "the first line when the gateway asks for a token; a wrong token ends the connection",
     Role::Operator, TextRemote, false, true, anyArgument, actAuth, nullptr},
};

}  // namespace

QString formatName(int format)
{
    if (format < 0 || format >= format_count) return QStringLiteral("unknown");
    return QLatin1String(format_names[static_cast<std::size_t>(format)]);
}

QString powerOnName(int value)
{
    if (value == power_on_last) return QStringLiteral("last");
    return formatName(value);
}

void CommandContext::answer() const
{
    reply(ok(row.format ? row.format(commands.link().mirror(), args) : QString()));
}

GatewayCommands::GatewayCommands(LinkOwner& link, QByteArray token, QObject* parent)
    : QObject(parent), m_link(link), m_guard(std::move(token))
{
    connect(&m_link, &LinkOwner::fieldChanged, this,
            [this](const FieldRef& ref, const ParameterImage& before, const ParameterImage& after, const GatewayPeer&) {
                onFieldChanged(ref, before, after);
            });
    connect(&m_link, &LinkOwner::onlineChanged, this, [this](bool online) {
        tell(QStringLiteral("link"), online ? QStringLiteral("online") : QStringLiteral("offline"));
    });
}

void GatewayCommands::tell(const QString& key, const QString& value)
{
    emit changed(key, value);
    emit notified(key, value);
}

std::span<const CommandRow> GatewayCommands::commandTable() { return command_rows; }

std::variant<const CommandRow*, CommandError> GatewayCommands::find(const QString& word, Remote remote)
{
    for (const CommandRow& row : command_rows)
        if ((row.remotes & remote) && word.compare(QLatin1String(row.word), Qt::CaseInsensitive) == 0) return &row;
    return unknown_command;
}

QStringList GatewayCommands::commandNames(Remote remote) const
{
    QStringList words;
    for (const CommandRow& row : command_rows)
        if ((row.remotes & remote) && (!row.tokenOnly || m_guard.required())) words << QLatin1String(row.word);
    return words;
}

void GatewayCommands::run(const QString& word, const QString& argument, const CommandCaller& caller,
                          std::function<void(const CommandReply&)> done)
{
    const auto found = find(word, caller.remote);
    if (const auto* error = std::get_if<CommandError>(&found)) return done({{}, *error});
    const CommandRow& row = *std::get<const CommandRow*>(found);
    if (caller.role < row.role) return done({{}, forbidden});
    if (row.needsLink && !m_link.isOnline()) return done({{}, offline});
    auto parsed = row.parse(row, argument.trimmed());
    if (const auto* error = std::get_if<CommandError>(&parsed)) return done({{}, *error});
    row.act(CommandContext{*this, row, caller, std::move(std::get<CommandArgs>(parsed)), std::move(done)});
}

void GatewayCommands::onFieldChanged(const FieldRef& ref, const ParameterImage& before, const ParameterImage& after)
{
    const std::string_view name = ref.field->name;
    if (name == "master_volume") {
        tell(QStringLiteral("volume"), qs(level_text(after.master_volume)));
        return;
    }
    if (name == "master_mute") {
        if ((before.master_mute ^ after.master_mute) & 1) tell(QStringLiteral("mute"), muteText(after));
        if ((before.master_mute ^ after.master_mute) & ~1)
            tell(qs(ref.name()), QString::number(after.master_mute));
        return;
    }
    const bool formatField = name == "input_format" || name == "eight_channel_digital";
    if (formatField) {
        const int was = current_format(before);
        const int now = current_format(after);
        // One change of both bytes is one format change, told once.
        const bool toldByInputFormat = name == "eight_channel_digital" && before.input_format != after.input_format;
        if (was != now) {
            if (!toldByInputFormat) tell(QStringLiteral("format"), formatName(now));
            return;
        }
    }
    const QString field = qs(ref.name());
    emit changed(field, qs(field_display_text(after, ref)));
    for (const CommandRow& row : command_rows)
        if (row.tells && field == QLatin1String(row.tells)) return emit notified(QLatin1String(row.word), row.format(after, {}));
    emit notified(field, qs(field_display_text(after, ref)));
}

QJsonObject GatewayCommands::state() const
{
    const ParameterImage& image = m_link.mirror();
    QJsonObject out;
    for_each_field_element([&](const FieldRef& ref) {
        if (ref.field->kind == FieldKind::text)
            out.insert(qs(ref.name()), qs(field_display_text(image, ref)));
        else
            out.insert(qs(ref.name()), field_number(image, ref));
    });
    out.insert(QStringLiteral("link"), m_link.isOnline() ? QStringLiteral("online") : QStringLiteral("offline"));
    QJsonObject identity;
    identity.insert(QStringLiteral("model"), qs(escape_controls(cp936_field_to_utf8(image.device_model))));
    identity.insert(QStringLiteral("serial"), qs(escape_controls(cp936_field_to_utf8(image.device_serial))));
    identity.insert(QStringLiteral("firmware"), qs(escape_controls(cp936_field_to_utf8(image.firmware_version))));
    out.insert(QStringLiteral("identity"), identity);
    return out;
}

void GatewayCommands::change(const CommandContext& context,
                             std::function<std::optional<CommandError>(ParameterImage&)> edit, WriteUnit unit)
{
    auto shared = std::make_shared<CommandContext>(context);
    m_link.enqueue(
        shared->caller.peer,
        [edit = std::move(edit), unit, shared](const ParameterImage& mirror) -> std::optional<LinkOp> {
            LinkOp op;
            op.kind = LinkOp::send_unit;
            op.image = mirror;
            op.unit = unit;
            if (const auto refusal = edit(op.image)) {
                shared->refuse(*refusal);
                return std::nullopt;
            }
            return op;
        },
        [shared](LinkResult result, const QByteArray&) {
            if (result == LinkResult::offline) return shared->refuse(offline);
            if (result == LinkResult::no_reply) return shared->refuse(no_reply);
            shared->answer();
        });
}

void GatewayCommands::operate(const CommandContext& context, LinkOp::Kind kind)
{
    auto shared = std::make_shared<CommandContext>(context);
    m_link.enqueue(
        shared->caller.peer,
        [kind](const ParameterImage&) -> std::optional<LinkOp> {
            LinkOp op;
            op.kind = kind;
            return op;
        },
        [shared](LinkResult result, const QByteArray&) {
            if (result == LinkResult::offline) return shared->refuse(offline);
            if (result == LinkResult::no_reply) return shared->refuse(no_reply);
            shared->answer();
        });
}

// ---- the reference

namespace {

// Text for a roff page: backslashes and minus signs escaped, no line that
// roff would take for a request.
QString roff(QString text)
{
    text.replace(QLatin1Char('\\'), QLatin1String("\\e"));
    text.replace(QLatin1Char('-'), QLatin1String("\\-"));
    if (text.startsWith(QLatin1Char('.')) || text.startsWith(QLatin1Char('\''))) text.prepend(QLatin1String("\\&"));
    return text;
}

QString remotesText(unsigned remotes)
{
    if (remotes == AnyRemote) return QStringLiteral("text and web");
    return remotes == TextRemote ? QStringLiteral("text only") : QStringLiteral("web only");
}

QString roleText(Role role) { return role == Role::Operator ? QStringLiteral("operator") : QStringLiteral("technician"); }

}  // namespace

QString GatewayCommands::protocolReference(const QString& form)
{
    const bool man = form == QLatin1String("man");
    const auto errors = {unknown_command, forbidden, offline, no_reply, test_signal, auth_required};
    // The refusals that name what was wrong, as tk770ctl names it.
    const std::pair<const char*, int> patterns[] = {
        {"missing value for COMMAND", 400},
        {"COMMAND takes no value", 400},
        {"bad value 'TEXT' for COMMAND: CHOICES or ?", 400},
        {"not a volume: 'TEXT' (0.0..10.0 in steps of 0.1, or +V/-V)", 400},
        {"value V out of range MIN..MAX for NAME", 400},
        {"not a decimal integer: 'TEXT'", 400},
        {"missing field for COMMAND", 400},
        {"unknown field 'NAME', index N out of range 0..MAX in 'TEXT' and tk770ctl's other field name errors", 400},
        {"FIELD is read-only", 403},
        {"FIELD is not sent by any control and cannot be set", 403},
    };
    QStringList out;
    const auto heading = [&](const QString& title) {
        if (man) out << QStringLiteral("[%1]").arg(title.toUpper());
        else out << QStringLiteral("## %1").arg(title) << QString();
    };
    const auto paragraph = [&](const QString& text) {
        if (man) out << QStringLiteral(".PP") << roff(text);
        else out << text << QString();
    };
    const auto item = [&](const QString& term, const QString& text) {
        if (man) out << QStringLiteral(".TP") << QStringLiteral(".B ") + roff(term) << roff(text);
        else out << QStringLiteral("- `%1`: %2").arg(term, text);
    };

    if (!man) {
        out << QStringLiteral("# The gateway's text protocol and web API") << QString()
            << QStringLiteral("<!-- Printed by `tk770-gateway --protocol-reference` from the gateway's command table; "
                              "a test keeps this file equal to it. -->")
            << QString();
    }
    heading(QStringLiteral("Text protocol"));
    paragraph(QStringLiteral(
        "The text listener takes one command a line (CR, LF or CR LF ends it; at most 256 bytes), the word in any "
        "case, and answers each with exactly one line: OK, OK VALUE, or ERR REASON. Lines are answered in order. "
        "When the gateway has a token (--token-file), the first line must be auth TOKEN; any other first line, or "
        "a wrong token, is answered ERR auth required and the connection is closed, a wrong token after a wait "
        "that grows with each wrong token from the same address."));

    heading(QStringLiteral("Commands"));
    for (const CommandRow& row : command_rows) {
        const QString term = *row.syntax ? QStringLiteral("%1 %2").arg(QLatin1String(row.word), QLatin1String(row.syntax))
                                         : QLatin1String(row.word);
        item(term, QStringLiteral("%1 (%2; %3%4).")
                       .arg(QString::fromUtf8(row.summary), remotesText(row.remotes), roleText(row.role),
                            row.needsLink ? QStringLiteral("; offline while the processor is away") : QString()));
    }
    if (!man) out << QString();

    heading(QStringLiteral("Errors"));
    paragraph(QStringLiteral("ERR is followed by one of these reasons; the web API answers the same reason with the "
                             "HTTP status given."));
    for (const auto& [reason, status] : patterns) item(QString::fromUtf8(reason), QStringLiteral("HTTP %1").arg(status));
    for (const CommandError& error : errors)
        item(error.reason, QStringLiteral("HTTP %1").arg(error.httpStatus));
    if (!man) out << QString();

    heading(QStringLiteral("Notifications"));
    paragraph(QStringLiteral(
        "After subscribe, every change of the processor's settings from any client (the panel and tk770ctl "
        "through the binary listener included, and changes found when the processor is read again) comes as "
        "! KEY VALUE, under the name and with the reply of the command that sets it where there is one "
        "(! volume 7.0, ! mute on, ! format aux, ! fade 3, ! poweron analog), ! link online or ! link offline, "
        "and ! FIELD VALUE under tk770ctl's field names for every other field."));

    heading(QStringLiteral("Web API"));
    paragraph(QStringLiteral(
        "POST /api/command with {\"command\": WORD, \"value\": ARGUMENT} runs the commands offered to the web "
        "(the value as a text, or a number); POST /api/set with {\"field\": FIELD, \"value\": VALUE} is set. "
        "Both answer {\"ok\": true, \"value\": VALUE} or {\"ok\": false, \"error\": REASON} with the reason's "
        "status. GET /api/state gives every field, the link and the identity; the WebSocket /ws the state and "
        "then every change. With a token every route but the page, its captions and /login needs "
        "Authorization: Bearer TOKEN or the session cookie from POST /login {\"token\": TOKEN}."));
    while (!out.isEmpty() && out.last().isEmpty()) out.removeLast();
    return out.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

}  // namespace tk770
