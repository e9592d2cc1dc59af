// The named commands of the remote controls (master volume, mute, format,
// power-on format, fade time, get/set of any field, save, status) and the
// state they show, shared by the text protocol and the web remote. Every
// change goes through the link owner's queue with the same bytes the panel's
// controls and `tk770ctl set` send, and every change of the mirror, from any
// client, comes out of changed() as the text notifications name it.
#pragma once

#include "gateway/link_owner.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

#include <functional>

namespace tk770 {

struct CommandReply {
    bool ok = false;
    QString text;  // the value after OK, or the reason after ERR
};

class GatewayCommands : public QObject {
    Q_OBJECT
public:
    explicit GatewayCommands(LinkOwner& link, QObject* parent = nullptr);

    // command: volume|mute|format|poweron|fade|get|set|save|status
    // (case-insensitive); argument: the rest of the line ("?" asks). The
    // reply may come later (the processor answers asynchronously); done is
    // called exactly once.
    void run(const QString& command, const QString& argument, const GatewayPeer& peer,
             std::function<void(const CommandReply&)> done);

    // Every field under tk770ctl's names, plus "link" ("online"/"offline")
    // and "identity" {model, serial, firmware}.
    QJsonObject state() const;

    // The command words run() takes.
    static QStringList commandNames();

    LinkOwner& link() { return m_link; }

signals:
    // Every state change from any client, as the text notifications say it:
    // ("volume","7.0"), ("mute","on"), ("format","aux"), ("link","offline"),
    // (FIELD, VALUE).
    void changed(const QString& key, const QString& value);

private:
    void onFieldChanged(const FieldRef& ref, const ParameterImage& before, const ParameterImage& after);
    // Sends `unit` from the mirror as `change` leaves it; `value` makes the
    // OK text from the mirror afterwards.
    void change(const GatewayPeer& peer, std::function<std::optional<QString>(ParameterImage&)> edit, WriteUnit unit,
                std::function<QString(const ParameterImage&)> value, std::function<void(const CommandReply&)> done);

    LinkOwner& m_link;
};

// The texts the remote commands use for the formats and power-on formats.
QString formatName(int format);            // 0..4: digital analog nonsync aux mic
QString powerOnName(int value);            // 0..5: the formats and "last"

}  // namespace tk770
