#include "gateway/gateway_commands.h"

#include "core/cp936.h"
#include "core/format_choice.h"
#include "core/readout.h"

#include <QJsonValue>

#include <array>
#include <optional>

namespace tk770 {

namespace {

const std::array<const char*, format_count> format_names{"digital", "analog", "nonsync", "aux", "mic"};
constexpr int power_on_last = 5;
constexpr int volume_max = 100;  // tenths: 10.0
constexpr int fade_max = 9;

const QString err_offline = QStringLiteral("offline");
const QString err_no_reply = QStringLiteral("no reply");
const QString err_bad_value = QStringLiteral("bad value");
const QString err_read_only = QStringLiteral("read-only");
const QString err_unknown = QStringLiteral("unknown command");
const QString err_test_signal = QStringLiteral("test signal active");

CommandReply ok(const QString& text = {}) { return {true, text}; }
CommandReply err(const QString& text) { return {false, text}; }

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

int formatIndex(const QString& word)
{
    for (int i = 0; i < format_count; ++i)
        if (word.compare(QLatin1String(format_names[static_cast<std::size_t>(i)]), Qt::CaseInsensitive) == 0) return i;
    return -1;
}

QString muteText(const ParameterImage& image) { return (image.master_mute & 1) ? QStringLiteral("on") : QStringLiteral("off"); }

std::optional<FieldRef> fieldOf(const QString& name)
{
    const auto parsed = parse_field_ref(name.toStdString());
    if (const auto* ref = std::get_if<FieldRef>(&parsed)) return *ref;
    return std::nullopt;
}

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

GatewayCommands::GatewayCommands(LinkOwner& link, QObject* parent) : QObject(parent), m_link(link)
{
    connect(&m_link, &LinkOwner::fieldChanged, this,
            [this](const FieldRef& ref, const ParameterImage& before, const ParameterImage& after, const GatewayPeer&) {
                onFieldChanged(ref, before, after);
            });
    connect(&m_link, &LinkOwner::onlineChanged, this, [this](bool online) {
        emit changed(QStringLiteral("link"), online ? QStringLiteral("online") : QStringLiteral("offline"));
    });
}

QStringList GatewayCommands::commandNames()
{
    return {QStringLiteral("volume"), QStringLiteral("mute"), QStringLiteral("format"), QStringLiteral("poweron"),
            QStringLiteral("fade"),   QStringLiteral("get"),  QStringLiteral("set"),    QStringLiteral("save"),
            QStringLiteral("status")};
}

void GatewayCommands::onFieldChanged(const FieldRef& ref, const ParameterImage& before, const ParameterImage& after)
{
    const std::string_view name = ref.field->name;
    if (name == "master_volume") {
        emit changed(QStringLiteral("volume"), qs(level_text(after.master_volume)));
        return;
    }
    if (name == "master_mute") {
        if ((before.master_mute ^ after.master_mute) & 1) emit changed(QStringLiteral("mute"), muteText(after));
        if ((before.master_mute ^ after.master_mute) & ~1)
            emit changed(qs(ref.name()), QString::number(after.master_mute));
        return;
    }
    const bool formatField = name == "input_format" || name == "eight_channel_digital";
    if (formatField) {
        const int was = current_format(before);
        const int now = current_format(after);
        // One change of both bytes is one format change, told once.
        const bool toldByInputFormat = name == "eight_channel_digital" && before.input_format != after.input_format;
        if (was != now) {
            if (!toldByInputFormat) emit changed(QStringLiteral("format"), formatName(now));
            return;
        }
    }
    emit changed(qs(ref.name()), qs(field_display_text(after, ref)));
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

void GatewayCommands::change(const GatewayPeer& peer, std::function<std::optional<QString>(ParameterImage&)> edit,
                             WriteUnit unit, std::function<QString(const ParameterImage&)> value,
                             std::function<void(const CommandReply&)> done)
{
    // The edit runs when the job's turn comes, on the mirror as the requests
    // before it left it: "volume +0.5" twice raises it by 1.0.
    auto reply = std::make_shared<std::function<void(const CommandReply&)>>(std::move(done));
    m_link.enqueue(
        peer,
        [edit = std::move(edit), unit, reply](const ParameterImage& mirror) -> std::optional<LinkOp> {
            LinkOp op;
            op.kind = LinkOp::send_unit;
            op.image = mirror;
            op.unit = unit;
            if (const auto refusal = edit(op.image)) {
                (*reply)(err(*refusal));
                return std::nullopt;
            }
            return op;
        },
        [this, value = std::move(value), reply](LinkResult result, const QByteArray&) {
            if (result == LinkResult::offline) return (*reply)(err(err_offline));
            if (result == LinkResult::no_reply) return (*reply)(err(err_no_reply));
            (*reply)(ok(value(m_link.mirror())));
        });
}

void GatewayCommands::run(const QString& command, const QString& argument, const GatewayPeer& peer,
                          std::function<void(const CommandReply&)> done)
{
    const QString word = command.toLower();
    const QString arg = argument.trimmed();
    const bool asks = arg == QLatin1String("?");
    const bool online = m_link.isOnline();

    if (word == QLatin1String("status")) {
        if (!arg.isEmpty()) return done(err(err_bad_value));
        if (!online) return done(ok(QStringLiteral("offline")));
        const QJsonObject id = state().value(QStringLiteral("identity")).toObject();
        return done(ok(QStringLiteral("online %1 %2 %3")
                           .arg(id.value(QStringLiteral("model")).toString(), id.value(QStringLiteral("serial")).toString(),
                                id.value(QStringLiteral("firmware")).toString())));
    }
    if (!commandNames().contains(word)) return done(err(err_unknown));
    if (!online) return done(err(err_offline));
    const ParameterImage& now = m_link.mirror();

    if (word == QLatin1String("volume")) {
        if (asks) return done(ok(qs(level_text(now.master_volume))));
        bool relative = false;
        const auto tenths = parseTenths(arg, relative);
        if (!tenths || (!relative && *tenths > volume_max)) return done(err(err_bad_value));
        return change(
            peer,
            [t = *tenths, relative](ParameterImage& image) -> std::optional<QString> {
                const int v = relative ? std::clamp(image.master_volume + t, 0, volume_max) : t;
                image.master_volume = static_cast<std::uint8_t>(v);
                return std::nullopt;
            },
            write_unit(UnitKind::master_volume), [](const ParameterImage& image) { return qs(level_text(image.master_volume)); },
            std::move(done));
    }
    if (word == QLatin1String("mute")) {
        if (asks) return done(ok(muteText(now)));
        const int choice = indexOfName(arg, {"off", "on", "toggle"});
        if (choice < 0) return done(err(err_bad_value));
        return change(
            peer,
            [choice](ParameterImage& image) -> std::optional<QString> {
                const int bit = choice == 2 ? !(image.master_mute & 1) : choice;
                image.master_mute = static_cast<std::uint8_t>((image.master_mute & ~1) | bit);
                return std::nullopt;
            },
            write_unit(UnitKind::master_mute), muteText, std::move(done));
    }
    if (word == QLatin1String("format")) {
        if (asks) return done(ok(formatName(current_format(now))));
        const int format = formatIndex(arg);
        if (format < 0) return done(err(err_bad_value));
        return change(
            peer,
            [format](ParameterImage& image) -> std::optional<QString> {
                // The format buttons' guard, checked when the request's turn comes.
                if (format_locked_by_test_signal(image)) return err_test_signal;
                choose_format(image, format);
                return std::nullopt;
            },
            write_unit(UnitKind::input_selection),
            [](const ParameterImage& image) { return formatName(current_format(image)); }, std::move(done));
    }
    if (word == QLatin1String("poweron")) {
        if (asks) return done(ok(powerOnName(now.power_on_format)));
        int value = formatIndex(arg);
        if (value < 0 && arg.compare(QLatin1String("last"), Qt::CaseInsensitive) == 0) value = power_on_last;
        if (value < 0) return done(err(err_bad_value));
        return change(
            peer,
            [value](ParameterImage& image) -> std::optional<QString> {
                image.power_on_format = static_cast<std::uint8_t>(value);
                return std::nullopt;
            },
            write_unit(UnitKind::power_on_format),
            [](const ParameterImage& image) { return powerOnName(image.power_on_format); }, std::move(done));
    }
    if (word == QLatin1String("fade")) {
        if (asks) return done(ok(QString::number(now.fade_time)));
        bool isNumber = arg.size() == 1 && arg[0] >= u'0' && arg[0] <= u'9';
        const int value = isNumber ? arg.toInt() : -1;
        if (value < 0 || value > fade_max) return done(err(err_bad_value));
        return change(
            peer,
            [value](ParameterImage& image) -> std::optional<QString> {
                image.fade_time = static_cast<std::uint8_t>(value);
                return std::nullopt;
            },
            write_unit(UnitKind::fade_time), [](const ParameterImage& image) { return QString::number(image.fade_time); },
            std::move(done));
    }
    if (word == QLatin1String("get")) {
        const auto ref = fieldOf(arg);
        if (!ref) return done(err(err_bad_value));
        return done(ok(qs(field_display_text(now, *ref))));
    }
    if (word == QLatin1String("set")) {
        const qsizetype space = arg.indexOf(u' ');
        const QString name = space < 0 ? arg : arg.left(space);
        const QString text = space < 0 ? QString() : arg.mid(space + 1).trimmed();
        const auto ref = fieldOf(name);
        if (!ref || text.isEmpty()) return done(err(err_bad_value));
        if (ref->field->send == FieldSend::read_only || ref->field->send == FieldSend::none)
            return done(err(err_read_only));
        const auto parsed = parse_field_value(*ref, text.toStdString());
        const auto* value = std::get_if<FieldValue>(&parsed);
        const auto unit = send_unit_of(*ref);
        if (!value || !unit) return done(err(err_bad_value));
        return change(
            peer,
            [r = *ref, v = *value](ParameterImage& image) -> std::optional<QString> {
                store_field(image, r, v);
                return std::nullopt;
            },
            *unit, [r = *ref](const ParameterImage& image) { return qs(field_display_text(image, r)); }, std::move(done));
    }
    // save
    if (!arg.isEmpty()) return done(err(err_bad_value));
    auto reply = std::make_shared<std::function<void(const CommandReply&)>>(std::move(done));
    m_link.enqueue(
        peer, [](const ParameterImage&) -> std::optional<LinkOp> { LinkOp op; op.kind = LinkOp::save; return op; },
        [reply](LinkResult result, const QByteArray&) {
            if (result == LinkResult::offline) return (*reply)(err(err_offline));
            if (result == LinkResult::no_reply) return (*reply)(err(err_no_reply));
            (*reply)(ok());
        });
}

}  // namespace tk770
