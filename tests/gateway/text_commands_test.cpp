// The text protocol against the in-process processor: each command, the
// frames that reached the processor and the one reply line, then what the
// protocol does with bad lines, errors of the processor, subscribers and a
// lost link.
#include "gateway_fixture.h"
#include "tk770_version.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

using namespace tk770;
using namespace tk770::testing;

namespace {

struct CommandRow {
    const char* command;
    std::vector<Bytes> frames;  // at the processor, TCP framing
    const char* reply;
    std::vector<std::pair<int, Bytes>> memory = {};  // the processor's memory before the gateway starts
};

// The processor starts from its factory memory: master_volume 70, input
// format NON/SYNC (1, eight_channel_digital 0), fade_time 4, power-on
// "last" (5), master_mute 0.
const std::vector<CommandRow>& commandRows()
{
    static const std::vector<CommandRow> rows{
        {"volume ?", {}, "OK 7.0"},
        {"volume 5.5", framesOf({"06 01 31 00 01 37"}), "OK 5.5"},
        {"VOLUME 10", framesOf({"06 01 31 00 01 64"}), "OK 10.0"},
        {"volume +0.5", framesOf({"06 01 31 00 01 4B"}), "OK 7.5"},
        {"volume -8", framesOf({"06 01 31 00 01 00"}), "OK 0.0"},
        {"volume +9.9", framesOf({"06 01 31 00 01 64"}), "OK 10.0"},
        {"volume 10.1", {}, "ERR value 10.1 out of range 0.0..10.0 for volume"},
        {"volume 5.55", {}, "ERR not a volume: '5.55' (0.0..10.0 in steps of 0.1, or +V/-V)"},
        {"volume loud", {}, "ERR not a volume: 'loud' (0.0..10.0 in steps of 0.1, or +V/-V)"},
        {"volume", {}, "ERR missing value for volume"},
        {"mute ?", {}, "OK off"},
        {"mute on", framesOf({"06 01 36 00 01 01"}), "OK on"},
        {"Mute Toggle", framesOf({"06 01 36 00 01 01"}), "OK on"},
        // Only bit 0 belongs to the mute button; the others stay as they are.
        {"mute off", framesOf({"06 01 36 00 01 82"}), "OK off", {{0x136, {0x83}}}},
        {"mute maybe", {}, "ERR bad value 'maybe' for mute: off, on, toggle or ?"},
        {"format ?", {}, "OK nonsync"},
        {"format aux", framesOf({"06 01 2C 00 05 02 00 00 00 00"}), "OK aux"},
        {"format digital", framesOf({"06 01 2C 00 05 00 01 00 00 00"}), "OK digital"},
        {"format MIC", framesOf({"06 01 2C 00 05 03 00 00 00 00"}), "OK mic"},
        {"format dts", {}, "ERR bad value 'dts' for format: digital, analog, nonsync, aux, mic or ?"},
        // The format buttons' guard: a test signal playing locks the format.
        {"format aux", {}, "ERR test signal active", {{0x132, {0x04}}}},
        {"poweron ?", {}, "OK last"},
        {"poweron mic", framesOf({"10 01 35 00 01 04"}), "OK mic"},
        {"poweron last", framesOf({"10 01 35 00 01 05"}), "OK last"},
        {"poweron off", {}, "ERR bad value 'off' for poweron: digital, analog, nonsync, aux, mic, last or ?"},
        {"fade ?", {}, "OK 4"},
        {"fade 2", framesOf({"10 01 34 00 01 02"}), "OK 2"},
        {"fade 10", {}, "ERR value 10 out of range 0..9 for fade"},
        {"fade two", {}, "ERR not a decimal integer: 'two'"},
        {"get master_volume", {}, "OK 70"},
        {"get device_model", {}, "OK TK770"},
        {"get eq[7][0]", {}, "ERR index 7 out of range 0..6 in 'eq[7][0]'"},
        {"get nothing", {}, "ERR unknown field 'nothing'"},
        {"get", {}, "ERR missing field for get"},
        {"set master_volume 33", framesOf({"06 01 31 00 01 21"}), "OK 33"},
        {"set eq[3][14] -30", framesOf({"06 00 9F 00 01 E2"}), "OK -30"},
        {"set master_volume 101", {}, "ERR value 101 out of range 0..100 for master_volume"},
        {"set master_volume", {}, "ERR missing value for set"},
        {"set output_gain[8] 3", {}, "ERR index 8 out of range 0..7 in 'output_gain[8]'"},
        {"set device_serial TK7700000999", {}, "ERR device_serial is read-only"},
        {"set system_spare1 3", {}, "ERR system_spare1 is not sent by any control and cannot be set"},
        {"save", framesOf({"06 01 5E 00 01 02"}), "OK"},
        {"status", {}, "OK online TK770 TK7700000001 V1.00"},
        {"subscribe", {}, "OK"},
        {"help", {}, "OK volume mute format poweron fade get set save status version ping subscribe unsubscribe help quit"},
        {"help Fade", {}, "OK fade ?|0..9: the fade time (0 to 9 as the panel's fade menu numbers it)"},
        {"help quit", {}, "OK quit: answers OK and closes the connection"},
        {"help frobnicate", {}, "ERR unknown command"},
        {"help fade mute", {}, "ERR help takes one command"},
        {"frobnicate 3", {}, "ERR unknown command"},
        // A word close to a command is no command: nothing is saved or sent.
        {"sav", {}, "ERR unknown command"},
        {"saves", {}, "ERR unknown command"},
        {"save now", {}, "ERR save takes no value"},
        {"status now", {}, "ERR status takes no value"},
        {"unsubscribe", {}, "OK"},
        {"subscribe all", {}, "ERR subscribe takes no value"},
        {"ping", {}, "OK pong"},
        {"PING now", {}, "ERR ping takes no value"},
        {"auth whatever", {}, "OK"},
    };
    return rows;
}

class TextCommand : public ::testing::TestWithParam<std::size_t> {};

TEST_P(TextCommand, SendsTheFramesAndAnswersOneLine)
{
    const CommandRow& row = commandRows()[GetParam()];
    InProcessGateway gw;
    for (const auto& [address, bytes] : row.memory) gw.sim.setMemory(address, bytes);
    ASSERT_TRUE(gw.start());
    TextClient client;
    ASSERT_TRUE(client.connectTo(gw.textPort()));
    gw.sim.clearRecord();

    EXPECT_EQ(client.ask(QString::fromUtf8(row.command)), QString::fromUtf8(row.reply)) << row.command;
    EXPECT_EQ(gw.sim.tcpFrames(), row.frames) << row.command;
    EXPECT_FALSE(waitUntil([&] { return client.hasLine(); }, 50)) << "exactly one line for " << row.command;
}

// Named by the row's command: "set_eq_3__14__-30" reads better than a number.
std::string rowName(const ::testing::TestParamInfo<std::size_t>& info)
{
    std::string name = std::to_string(info.param) + "_";
    for (char c : std::string(commandRows()[info.param].command)) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Table, TextCommand, ::testing::Range<std::size_t>(0, commandRows().size()), rowName);

// The table itself: one row per word, found whatever the case, and only on
// the remotes that offer it; anything else is an unknown command, never
// some other row.
TEST(CommandTable, EachWordHasOneRowFoundOnlyWhereItIsOffered)
{
    QStringList words;
    for (const tk770::CommandRow& row : GatewayCommands::commandTable()) {
        const QString word = QLatin1String(row.word);
        EXPECT_FALSE(words.contains(word)) << row.word << " has two rows: the second would never run";
        EXPECT_EQ(word, word.toLower()) << row.word;
        EXPECT_TRUE(row.parse && row.act) << row.word;
        words << word;
    }
    struct Lookup {
        const char* word;
        Remote remote;
        const char* row;  // nullptr: refused as unknown
    };
    const Lookup lookups[] = {
        {"VOLUME", TextRemote, "volume"}, {"volume", WebRemote, "volume"}, {"Save", WebRemote, "save"},
        {"subscribe", TextRemote, "subscribe"}, {"subscribe", WebRemote, nullptr}, {"quit", WebRemote, nullptr},
        {"auth", WebRemote, nullptr}, {"help", WebRemote, "help"}, {"", TextRemote, nullptr},
        {"save ", TextRemote, nullptr}, {"volumes", TextRemote, nullptr},
    };
    for (const Lookup& l : lookups) {
        SCOPED_TRACE(std::string(l.word) + (l.remote == TextRemote ? " (text)" : " (web)"));
        const auto found = GatewayCommands::find(QString::fromLatin1(l.word), l.remote);
        if (l.row) {
            ASSERT_TRUE(std::holds_alternative<const tk770::CommandRow*>(found));
            EXPECT_STREQ(std::get<const tk770::CommandRow*>(found)->word, l.row);
        } else {
            ASSERT_TRUE(std::holds_alternative<CommandError>(found));
            EXPECT_EQ(std::get<CommandError>(found).reason, "unknown command");
            EXPECT_EQ(std::get<CommandError>(found).httpStatus, 404);
        }
    }
}

TEST(CommandTable, HelpListsAuthOnlyWhenATokenIsAsked)
{
    for (const bool token : {false, true}) {
        GatewayOptions options = loopbackOptions();
        if (token) options.token = "s3cret-Token";
        InProcessGateway gw(options);
        ASSERT_TRUE(gw.start());
        TextClient client;
        ASSERT_TRUE(client.connectTo(gw.textPort()));
        if (token) {
            ASSERT_EQ(client.ask("auth s3cret-Token"), "OK");
        }
        const QString help = client.ask("help");
        EXPECT_EQ(help.endsWith(" auth"), token) << help.toStdString();
        EXPECT_EQ(gw.gateway->commands().commandNames(WebRemote).join(' '),
                  "volume mute format poweron fade get set save status version ping help");
    }
}

class TextProtocol : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(gw.start());
        ASSERT_TRUE(client.connectTo(gw.textPort()));
    }
    InProcessGateway gw;
    TextClient client;
};

TEST_F(TextProtocol, LineEndingsAndPiecesMakeTheSameCommands)
{
    client.send("volume ?\rmute ?\nfade ?\r\n");
    EXPECT_EQ(client.line(), "OK 7.0");
    EXPECT_EQ(client.line(), "OK off");
    EXPECT_EQ(client.line(), "OK 4");
    // A command in pieces waits for its line ending; empty lines are no command.
    client.send("vol");
    EXPECT_EQ(client.line(300), "<none>");
    client.send("ume 6.5\r");
    client.send("\n\r\n");
    EXPECT_EQ(client.line(), "OK 6.5");
    EXPECT_EQ(client.ask("volume ?"), "OK 6.5");
}

TEST_F(TextProtocol, BlankLinesAreIgnoredAndVersionNamesTheProgramAndProtocol)
{
    client.send("   \r\n\t\r\n \n");
    EXPECT_EQ(client.ask("version"), QStringLiteral("OK tk770-gateway %1 protocol 1").arg(QLatin1String(project_version)));
    EXPECT_FALSE(client.hasLine()) << "blank lines get no reply";
}

// A script that sends a command and reads one line must read its reply,
// never the notification its own command caused, however busy the gateway.
TEST_F(TextProtocol, OwnReplyComesBeforeTheNotificationsItCauses)
{
    TextClient other;
    ASSERT_TRUE(other.connectTo(gw.textPort()));
    EXPECT_EQ(client.ask("subscribe"), "OK");
    QByteArray mine, theirs;
    for (int k = 1; k <= 20; ++k) {
        mine += QStringLiteral("volume %1.%2\r\n").arg(k / 10).arg(k % 10).toUtf8();
        theirs += QStringLiteral("fade %1\r\n").arg(k % 2 ? 1 : 2).toUtf8();
    }
    client.send(mine);
    other.send(theirs);
    QStringList lines;
    // 20 replies, 20 volume notifications, and the other client's fades.
    while (lines.size() < 200) {
        const QString line = client.line(2000);
        if (line == "<none>") break;
        lines << line;
    }
    for (int k = 1; k <= 20; ++k) {
        const QString value = QStringLiteral("%1.%2").arg(k / 10).arg(k % 10);
        const qsizetype reply = lines.indexOf("OK " + value);
        const qsizetype told = lines.indexOf("! volume " + value);
        ASSERT_GE(reply, 0) << value.toStdString();
        ASSERT_GE(told, 0) << value.toStdString();
        EXPECT_LT(reply, told) << value.toStdString();
    }
    EXPECT_EQ(lines.filter(QStringLiteral("! fade ")).size(), 20) << lines.join('|').toStdString();
}

TEST_F(TextProtocol, OverLongLineIsRefusedOnceAndTheConnectionStays)
{
    client.send(QByteArray(256, 'a') + "\r\n");
    EXPECT_EQ(client.line(), "ERR unknown command") << "256 bytes is still a line";
    client.send(QByteArray(257, 'v') + "\r\n");
    EXPECT_EQ(client.line(), "ERR line too long");
    // Sent in pieces with no ending yet: refused as soon as it is too long,
    // and the rest up to its ending is thrown away.
    client.send(QByteArray(200, 'x'));
    client.send(QByteArray(5000, 'y'));
    EXPECT_EQ(client.line(), "ERR line too long");
    client.send("volume 1.0\r\nvolume ?\r\n");
    EXPECT_EQ(client.line(), "OK 7.0") << "up to its ending the long line was thrown away, unanswered";
    EXPECT_EQ(client.ask("volume 2.0"), "OK 2.0");
}

TEST_F(TextProtocol, UnansweredWriteIsReadBackIntoTheMirror)
{
    // Only the answer is lost: the processor took the write, and the gateway
    // reads the block back before it reports the lost reply.
    gw.sim.faultAhead("no-reply", 1);
    EXPECT_EQ(client.ask("volume 5.5"), "ERR no reply");
    EXPECT_EQ(client.ask("volume ?"), "OK 5.5");
    EXPECT_EQ(client.ask("volume 6.0"), "OK 6.0") << "one lost reply does not take the link down";
}

TEST_F(TextProtocol, RelativeChangesApplyToTheValueTheyFind)
{
    // However the two clients' commands interleave, each starts from the
    // value the one before it left.
    TextClient other;
    ASSERT_TRUE(other.connectTo(gw.textPort()));
    client.send("volume +0.5\r\nvolume +0.5\r\n");
    other.send("volume -0.2\r\n");
    const QString first = client.line();
    const QString second = client.line();
    const QString third = other.line();
    EXPECT_TRUE((first == "OK 7.5" && (second == "OK 8.0" || second == "OK 7.8"))
                || (first == "OK 7.3" && second == "OK 7.8"))
        << first.toStdString() << ", " << second.toStdString();
    EXPECT_TRUE(third == "OK 6.8" || third == "OK 7.3" || third == "OK 7.8") << third.toStdString();
    EXPECT_EQ(client.ask("volume ?"), "OK 7.8");
    EXPECT_EQ(gw.sim.memory()[0x131], 78);
}

TEST_F(TextProtocol, QuitAnswersAndCloses)
{
    client.send("quit\r\nvolume ?\r\n");
    EXPECT_EQ(client.line(), "OK");
    EXPECT_TRUE(client.closedWithin(3000));
    EXPECT_FALSE(client.hasLine()) << "nothing after quit is answered";
}

TEST_F(TextProtocol, SubscribersHearEveryChangeFromAnyClient)
{
    TextClient listener;
    ASSERT_TRUE(listener.connectTo(gw.textPort()));
    EXPECT_EQ(listener.ask("subscribe"), "OK");

    EXPECT_EQ(client.ask("volume 5.5"), "OK 5.5");
    EXPECT_EQ(listener.line(), "! volume 5.5");
    EXPECT_EQ(client.ask("mute on"), "OK on");
    EXPECT_EQ(listener.line(), "! mute on");
    EXPECT_EQ(client.ask("format aux"), "OK aux");
    EXPECT_EQ(listener.line(), "! format aux");
    EXPECT_EQ(client.ask("format analog"), "OK analog");
    EXPECT_EQ(listener.line(), "! format analog") << "both bytes changed, one notification";
    EXPECT_EQ(client.ask("set eq[3][14] -30"), "OK -30");
    EXPECT_EQ(listener.line(), "! eq[3][14] -30");
    // Fields a command sets are told under its word and with its reply.
    EXPECT_EQ(client.ask("fade 2"), "OK 2");
    EXPECT_EQ(listener.line(), "! fade 2");
    EXPECT_EQ(client.ask("poweron analog"), "OK analog");
    EXPECT_EQ(listener.line(), "! poweron analog");
    EXPECT_EQ(client.ask("set power_on_format 4"), "OK 4");
    EXPECT_EQ(listener.line(), "! poweron mic") << "whichever command made the change";
    EXPECT_EQ(client.ask("volume 5.5"), "OK 5.5");
    EXPECT_EQ(listener.line(300), "<none>") << "no change, no notification";
    EXPECT_FALSE(client.hasLine()) << "the client that did not subscribe hears only its replies";

    // A change through the binary passthrough (as tk770ctl set sends it).
    QTcpSocket binary;
    binary.connectToHost(QStringLiteral("127.0.0.1"), gw.binaryPort());
    ASSERT_TRUE(waitUntil([&] { return binary.state() == QAbstractSocket::ConnectedState; }));
    const Bytes write = framesOf({"06 01 31 00 01 1E"})[0];
    binary.write(reinterpret_cast<const char*>(write.data()), static_cast<qint64>(write.size()));
    EXPECT_EQ(listener.line(), "! volume 3.0");
    ASSERT_TRUE(waitUntil([&] { return binary.bytesAvailable() >= 6; }));
    EXPECT_EQ(static_cast<std::uint8_t>(binary.readAll()[0]), 0x06);

    EXPECT_EQ(listener.ask("unsubscribe"), "OK");
    EXPECT_EQ(client.ask("volume 4.0"), "OK 4.0");
    EXPECT_EQ(listener.line(300), "<none>");
}

TEST_F(TextProtocol, PassthroughReadsRefreshTheMirror)
{
    TextClient listener;
    ASSERT_TRUE(listener.connectTo(gw.textPort()));
    EXPECT_EQ(listener.ask("subscribe"), "OK");
    // Changed at the processor behind the gateway's back; a passthrough
    // client's read of run B brings it in.
    gw.sim.setMemory(0x131, {42});
    QTcpSocket binary;
    binary.connectToHost(QStringLiteral("127.0.0.1"), gw.binaryPort());
    ASSERT_TRUE(waitUntil([&] { return binary.state() == QAbstractSocket::ConnectedState; }));
    const Bytes read = framesOf({"03 01 2C 00 0C"})[0];
    binary.write(reinterpret_cast<const char*>(read.data()), static_cast<qint64>(read.size()));
    ASSERT_TRUE(waitUntil([&] { return binary.bytesAvailable() >= 12 + 6; }));
    EXPECT_EQ(static_cast<std::uint8_t>(binary.readAll()[5 + 5]), 42) << "the reply carries the processor's value";
    EXPECT_EQ(listener.line(), "! volume 4.2");
    EXPECT_EQ(client.ask("volume ?"), "OK 4.2");
}

TEST(TextLink, LostProcessorIsToldAndChangesMadeMeanwhileFollowTheReconnect)
{
    GatewayOptions options = loopbackOptions();
    options.retryMs = 300;
    InProcessGateway gw(options);
    ASSERT_TRUE(gw.start());
    TextClient listener;
    ASSERT_TRUE(listener.connectTo(gw.textPort()));
    EXPECT_EQ(listener.ask("subscribe"), "OK");
    TextClient client;
    ASSERT_TRUE(client.connectTo(gw.textPort()));

    // The processor hangs up in the middle of a write; its settings change
    // while the gateway cannot see them.
    gw.sim.faultAhead("close", 1);
    EXPECT_EQ(client.ask("volume 5.5"), "ERR no reply");
    EXPECT_EQ(listener.line(), "! link offline");
    EXPECT_EQ(client.ask("volume ?"), "ERR offline");
    EXPECT_EQ(client.ask("status"), "OK offline");
    gw.sim.setMemory(0x131, {30});
    EXPECT_EQ(listener.line(), "! link online");
    EXPECT_EQ(listener.line(), "! volume 3.0");
    EXPECT_EQ(client.ask("volume ?"), "OK 3.0");
    EXPECT_TRUE(client.socket().state() == QAbstractSocket::ConnectedState) << "clients are kept";
}

}  // namespace

namespace {

TEST(TextLink, IdleLinkIsCheckedSoALostProcessorIsToldUnasked)
{
    GatewayOptions options = loopbackOptions();
    options.probeMs = 100;
    options.retryMs = 100;
    InProcessGateway gw(options);
    ASSERT_TRUE(gw.start());
    TextClient listener;
    ASSERT_TRUE(listener.connectTo(gw.textPort()));
    EXPECT_EQ(listener.ask("subscribe"), "OK");
    // A change made at the processor itself is found by the check as well.
    gw.sim.setMemory(0x131, {25});
    EXPECT_EQ(listener.line(), "! volume 2.5");
    gw.sim.faultAhead("close", 1);
    EXPECT_EQ(listener.line(), "! link offline");
    EXPECT_EQ(listener.line(), "! link online");
}

}  // namespace
