// The window's port choice, connect, disconnect and bulk device commands
// against the simulated processor, frame by frame; the command guard; the dialog
// wiring and the long press on the logo.
#include "gui/Main.h"

#include "core/parameter_image.h"
#include "core/status_texts.h"
#include "gui/Eqcopy.h"
#include "gui/Equip.h"
#include "gui/Ipsetup.h"
#include "gui/Profile.h"
#include "gui/Wrser.h"
#include "questions.h"
#include "support/recording_sim.h"
#include "support/text.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using tk770::testing::DeviceRequest;
using tk770::testing::qs;
using tk770::testing::RecordingSim;

// The processor's memory as a default project would leave it, with a few
// marks that show where each block went.
void fillMemory(RecordingSim& device)
{
    tk770::SimMemory memory{};
    tk770::ParameterImage image{};
    image.reset_to_defaults();
    image.master_volume = 42;
    std::strcpy(image.profile_text[0], "Hall 3");
    std::strcpy(image.device_model, "TK770");
    for (const tk770::BlockRow& row : tk770::BlockMap)
        std::copy_n(image.data() + row.image_offset, row.length, memory.begin() + row.device_address);
    device.loadMemory(memory);
}

std::vector<int> addressesOf(const std::vector<DeviceRequest>& requests, int command)
{
    std::vector<int> out;
    for (const auto& r : requests)
        if (r.command == command) out.push_back(r.address);
    return out;
}

std::vector<int> blockMapAddresses()
{
    std::vector<int> out;
    for (const auto& row : tk770::BlockMap) out.push_back(row.device_address);
    return out;
}

class DeviceCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        fillMemory(serial);
        form.setTransports(&serial, &tcp);
        form.setErrorReporter([this](const QString& text) {
            reported.push_back(text);
            cursorAtReport = QApplication::overrideCursor() != nullptr;
        });
    }

    void useSerial(int connected)
    {
        form.linkState().network_mode = 0;
        form.linkState().serial_port = 2;
        form.linkState().connected = connected;
    }
    void useTcp(int connected)
    {
        form.linkState().network_mode = 1;
        form.linkState().serial_port = 2;
        form.linkState().connected = connected;
    }

    TForm1 form;
    // One processor; each transport keeps its own record of what reached it.
    tk770::InProcessSim processor;
    RecordingSim serial{processor};
    RecordingSim tcp{processor};
    QStringList reported;
    bool cursorAtReport = false;
};

// ---------------------------------------------------------------- port choice

TEST_F(DeviceCommands, ComItemsClosePreviousPortAndChooseSerial)
{
    struct Case {
        const char* name;
        int portBefore;
        QAction* TForm1::*item;
        std::vector<int> closed;
        int portAfter;
    };
    const Case cases[] = {
        {"first choice closes nothing", 0, &TForm1::COM31, {}, 3},
        {"COM1 to COM3 closes COM1", 1, &TForm1::COM31, {1}, 3},
        {"same item closes its own port", 4, &TForm1::COM41, {4}, 4},
        {"COM10", 2, &TForm1::COM101, {2}, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        serial.clearRecord();
        form.linkState() = {1, 1, c.portBefore, 0};
        (form.*c.item)->trigger();
        EXPECT_EQ(serial.closed(), c.closed);
        EXPECT_EQ(form.linkState().serial_port, c.portAfter);
        EXPECT_EQ(form.linkState().network_mode, 0);
        EXPECT_EQ(form.linkState().connected, 1) << "choosing a port leaves the link state alone";
        EXPECT_TRUE((form.*c.item)->isChecked());
        EXPECT_TRUE(serial.opened().empty()) << "the port opens at the next connect";
    }
}

TEST_F(DeviceCommands, NetShowsDeviceIpDialogAndItsOkSetsTheHost)
{
    form.linkState().serial_port = 5;
    std::strcpy(form.deviceIpText().data(), "10.1.2.3");
    form.NET1->trigger();
    EXPECT_EQ(form.linkState().network_mode, 1);
    EXPECT_EQ(form.linkState().serial_port, 5) << "the serial port is kept";
    EXPECT_TRUE(form.NET1->isChecked());
    TForm7* dialog = form.deviceIpDialog();
    ASSERT_TRUE(dialog->isVisible());
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("Edit1"));
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->text(), "10.1.2.3");
    EXPECT_EQ(form.tcpHost(), "192.168.0.8") << "nothing changes before OK";

    edit->setText(QStringLiteral("127.0.0.9"));
    dialog->suiButton1Click();
    EXPECT_EQ(form.tcpHost(), "127.0.0.9");
    EXPECT_STREQ(form.deviceIpText().data(), "127.0.0.9");
}

// ---------------------------------------------------------------- connect

TEST_F(DeviceCommands, SerialConnectWhileConnectedDoesNothing)
{
    useSerial(1);
    form.N17->trigger();
    EXPECT_TRUE(serial.requests().empty());
    EXPECT_TRUE(serial.opened().empty());
    EXPECT_EQ(form.messageText(), "");
}

TEST_F(DeviceCommands, SerialConnectOpensReadsDecodesAndRefreshes)
{
    useSerial(0);
    form.N17->trigger();
    EXPECT_EQ(serial.opened(), std::vector<int>{2});
    EXPECT_EQ(addressesOf(serial.requests(), 0x03), blockMapAddresses());
    EXPECT_EQ(form.linkState().connected, 1);
    EXPECT_EQ(form.messageText(), qs(tk770::text_system_connected));
    EXPECT_EQ(form.linkText(), qs(tk770::text_connected));
    EXPECT_EQ(form.suiTrackBar14->value(), 42) << "display refreshed from what was read";
    EXPECT_EQ(form.refreshing, 0);
    EXPECT_EQ(form.profileDialog()->edit(0)->text(), "Hall 3") << "device information decoded";
    EXPECT_TRUE(reported.isEmpty());
}

TEST_F(DeviceCommands, NetworkConnectWhileConnectedReadsEverythingAgain)
{
    useTcp(1);
    form.N17->trigger();
    EXPECT_EQ(addressesOf(tcp.requests(), 0x03), blockMapAddresses());
    EXPECT_EQ(form.messageText(), qs(tk770::text_system_connected));
    EXPECT_EQ(form.suiTrackBar14->value(), 42);
    EXPECT_TRUE(serial.requests().empty());
}

TEST_F(DeviceCommands, OneFailedReadFailsTheConnectButKeepsTheOtherBlocks)
{
    // A failed read leaves blocks in the image, so the next New asks about
    // the changed project; dropping it is what this case needs.
    QuestionAnswers questions(form);
    questions.always(tk770::notice_discard);
    for (int failing : {1, 7, 17, 19}) {
        SCOPED_TRACE(failing);
        serial.clearRecord();
        serial.faultAhead("no-reply", failing);
        form.N2->trigger();  // new project: default image, default display
        form.profileDialog()->edit(0)->setText(QStringLiteral("before"));
        std::memset(form.image().device_model, 0, sizeof form.image().device_model);
        useSerial(0);
        form.N17->trigger();
        EXPECT_EQ(serial.requests().size(), 19u) << "a failed read does not stop the sequence";
        EXPECT_EQ(form.linkState().connected, 0);
        EXPECT_EQ(form.messageText(), qs(tk770::text_connect_fail));
        EXPECT_EQ(form.linkText(), qs(tk770::text_not_connected));
        EXPECT_EQ(form.profileDialog()->edit(0)->text(), "before") << "no decode after a failed read";
        EXPECT_EQ(form.suiTrackBar14->value(), 70) << "no refresh after a failed read";
        // The master volume lives in block 7; it is in the image unless
        // that block was the one that failed.
        const bool block7Read = failing != 7;
        EXPECT_EQ(form.image().master_volume == 42, block7Read);
        EXPECT_EQ(std::string(form.image().device_model) == "TK770", failing != 17);
    }
}

TEST_F(DeviceCommands, ConnectUnchecksTestSignalBoxAndWritesItDisconnectDoesNotWrite)
{
    useSerial(0);
    form.suiCheckBox8->setChecked(true);  // Right's test signal, before connecting
    ASSERT_EQ(serial.requests().size(), 0u);
    form.N17->trigger();
    ASSERT_EQ(form.linkState().connected, 1);
    EXPECT_FALSE(form.suiCheckBox8->isChecked());
    EXPECT_EQ(form.image().test_signal_flags & 4, 0);
    const auto writes = addressesOf(serial.requests(), 0x06);
    ASSERT_FALSE(writes.empty()) << "the cleared box is written while connected";
    const tk770::WriteUnit unit = tk770::write_unit(tk770::UnitKind::test_signal);
    EXPECT_EQ(writes.back(), unit.device_address);
    EXPECT_EQ(serial.requests().back().data.front() & 4, 0);

    form.suiCheckBox8->setChecked(true);
    const std::size_t before = serial.requests().size();
    form.linkState().connected = 1;
    // The box's write leaves the processor unsaved: disconnect asks first.
    QuestionAnswers questions(form);
    questions.next({tk770::notice_dont_save});
    form.N18->trigger();
    EXPECT_FALSE(form.suiCheckBox8->isChecked());
    EXPECT_EQ(serial.requests().size(), before) << "disconnect unchecks without writing";
    EXPECT_EQ(form.messageText(), qs(tk770::text_disconnected));
    EXPECT_EQ(form.linkText(), qs(tk770::text_not_connected));
    EXPECT_EQ(form.suiRadioGroup3->itemIndex(), 0);
}

// ---------------------------------------------------------------- bulk commands

TEST_F(DeviceCommands, DownloadVerdictCountsThisDownloadsFailedStepsOnBothTransports)
{
    struct Case {
        const char* name;
        bool tcpMode;
        std::set<int> failing;
        bool success;
    };
    std::set<int> allButLast;
    for (int s = 1; s <= 15; ++s) allButLast.insert(s);
    const Case cases[] = {
        {"tcp, none failed", true, {}, true},
        {"tcp, one failed", true, {6}, true},
        {"tcp, two failed", true, {3, 12}, false},
        {"serial, none failed", false, {}, true},
        {"serial, only the last step failed", false, {16}, true},
        {"serial, two failed", false, {2, 9}, false},
        {"serial, all but the last failed", false, allButLast, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingSim& device = c.tcpMode ? tcp : serial;
        device.clearRecord();
        for (const int n : c.failing) c.tcpMode ? device.refuseAhead(n) : device.faultAhead("no-reply", n);
        QStringList seen;
        device.onRequest = [&] { seen << form.messageText(); };
        c.tcpMode ? useTcp(1) : useSerial(1);
        form.N20->trigger();
        device.onRequest = nullptr;

        ASSERT_EQ(device.requests().size(), 16u);
        EXPECT_EQ(device.count(0x10), 15);
        EXPECT_EQ(device.requests()[7].address, tk770::command_register);
        EXPECT_EQ(device.requests()[7].data, std::vector<std::uint8_t>{2});
        for (int k = 1; k < 16; ++k) EXPECT_EQ(seen[k], QStringLiteral("step %1/16").arg(k));
        EXPECT_EQ(form.messageText(), qs(c.success ? tk770::text_download_success : tk770::text_connect_fail));
        EXPECT_EQ(form.linkState().connected, c.success ? 1 : 0);
        if (c.success) {
            EXPECT_EQ(form.linkState().error_count, 0);
        } else {
            EXPECT_EQ(form.linkText(), qs(tk770::text_not_connected));
        }
    }
}

TEST_F(DeviceCommands, SaveAndBackUpSendTheCommandByteAndReport)
{
    struct Case {
        QAction* TForm1::*item;
        std::vector<std::uint8_t> frame;
        bool fail;
        std::string_view text;
    };
    const Case cases[] = {
        {&TForm1::N25, {0xCA, 0x06, 0x01, 0x5E, 0x00, 0x01, 0x02, 0x32}, false, tk770::text_save_memory_success},
        {&TForm1::N25, {0xCA, 0x06, 0x01, 0x5E, 0x00, 0x01, 0x02, 0x32}, true, tk770::text_save_memory_fail},
        {&TForm1::N6, {0xCA, 0x06, 0x01, 0x5E, 0x00, 0x01, 0x01, 0x31}, false, tk770::text_save_ic_card_success},
        {&TForm1::N6, {0xCA, 0x06, 0x01, 0x5E, 0x00, 0x01, 0x01, 0x31}, true, tk770::text_save_ic_card_fail},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        serial.clearRecord();
        if (c.fail) serial.faultAhead("no-reply", 1);
        useSerial(1);
        (form.*c.item)->trigger();
        ASSERT_EQ(serial.serialFrames().size(), 1u);
        EXPECT_EQ(serial.serialFrames()[0], c.frame);
        EXPECT_EQ(form.messageText(), qs(c.text));
    }
}

TEST_F(DeviceCommands, BulkCommandsDoNothingWhileNotConnected)
{
    for (QAction* item : {form.N21, form.N20, form.N25, form.N6, form.N27}) {
        SCOPED_TRACE(item->objectName().toStdString());
        useTcp(0);
        item->trigger();
        useSerial(0);
        item->trigger();
        EXPECT_TRUE(tcp.requests().empty());
        EXPECT_TRUE(serial.requests().empty());
        EXPECT_TRUE(serial.timeouts().empty());
        EXPECT_EQ(form.messageText(), "");
    }
}

TEST_F(DeviceCommands, RestartOverTcpSwitchesTheSerialTimeOutToo)
{
    useTcp(1);
    form.N27->trigger();
    ASSERT_EQ(tcp.requests().size(), 1u);
    EXPECT_EQ(tcp.requests()[0].address, tk770::restart_register);
    EXPECT_EQ(tcp.requests()[0].data, std::vector<std::uint8_t>{2});
    const std::vector<std::pair<int, int>> expected{{2, 12000}, {2, 200}};
    EXPECT_EQ(serial.timeouts(), expected);
    EXPECT_EQ(form.linkState().connected, 1);
    EXPECT_EQ(form.messageText(), "") << "restart shows no text of its own";
}

TEST_F(DeviceCommands, ReadAllAfterACountedSerialFailureReportsConnectFail)
{
    useSerial(1);
    form.linkState().error_count = 1;
    form.N21->trigger();
    EXPECT_EQ(addressesOf(serial.requests(), 0x03), blockMapAddresses());
    EXPECT_EQ(form.messageText(), qs(tk770::text_connect_fail));
    EXPECT_EQ(form.linkState().connected, 0);

    serial.clearRecord();
    useSerial(1);
    form.linkState().error_count = 0;
    form.N21->trigger();
    EXPECT_EQ(form.messageText(), qs(tk770::text_load_success));
    EXPECT_EQ(form.suiTrackBar14->value(), 42);
}

// ---------------------------------------------------------------- the guard

TEST_F(DeviceCommands, TcpFailureStopsTheDownloadAndLeavesStateAsItWas)
{
    useTcp(1);
    form.linkState().error_count = 0;
    tcp.faultAhead("close", 6);
    form.N20->trigger();
    EXPECT_EQ(tcp.sends, 6) << "no frame after the failure";
    ASSERT_EQ(reported.size(), 1);
    EXPECT_EQ(reported[0], qs(tk770::connection_closed_text("127.0.0.1:15288")));
    EXPECT_FALSE(cursorAtReport) << "the busy cursor is gone before the message";
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(form.messageText(), "step 5/16");
    EXPECT_EQ(form.linkText(), "");
    EXPECT_EQ(form.linkState().connected, 1);
    EXPECT_EQ(form.linkState().error_count, 0);
}

TEST_F(DeviceCommands, FailureInANestedHandlerStopsTheOuterCommand)
{
    // A read-again over TCP whose write-backs fail: the connection drops at
    // the first frame after the 19 reads, sent by a test-signal box cleared
    // by the reset. The boxes after it send nothing.
    form.suiCheckBox6->setChecked(true);
    form.suiCheckBox9->setChecked(true);
    useTcp(1);
    tcp.faultAhead("close", 20);
    form.N17->trigger();
    EXPECT_EQ(tcp.sends, 20);
    ASSERT_EQ(reported.size(), 1);
    EXPECT_TRUE(form.commandStopped());
    EXPECT_FALSE(form.suiCheckBox6->isChecked()) << "the box moved before its write failed";
    EXPECT_TRUE(form.suiCheckBox9->isChecked()) << "the reset stopped at the failure";
    EXPECT_EQ(form.refreshing, 0);
    EXPECT_EQ(form.messageText(), qs(tk770::text_system_connected));

    // The next command starts afresh.
    tcp.sim().reconnect();
    form.N18->trigger();
    EXPECT_FALSE(form.commandStopped());
    EXPECT_FALSE(form.suiCheckBox9->isChecked());
    EXPECT_EQ(reported.size(), 1);
}

TEST_F(DeviceCommands, GuardShowsOnlyTheFirstFailureOnceTheOutermostReturns)
{
    int innerRuns = 0;
    const bool ok = form.runGuarded([&] {
        form.runGuarded([&] { throw tk770::LinkError("first"); });
        EXPECT_TRUE(reported.isEmpty()) << "nothing shown while the command still runs";
        EXPECT_FALSE(form.runGuarded([&] { ++innerRuns; }));
        throw tk770::LinkError("second");
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(innerRuns, 0);
    EXPECT_EQ(reported, QStringList{"first"});
    EXPECT_TRUE(form.runGuarded([&] { ++innerRuns; }));
    EXPECT_EQ(innerRuns, 1);
}

TEST_F(DeviceCommands, EqCopyOverABrokenConnectionStopsAtTheFirstWrite)
{
    useTcp(1);
    tcp.faultAhead("close", 1);
    TForm4* dialog = form.eqCopyDialog();
    dialog->setSourceChannel(0);
    dialog->setDestination(1, true);
    dialog->setDestination(6, true);
    auto* copy = dialog->findChild<QPushButton*>(QStringLiteral("suiButton1"));
    ASSERT_NE(copy, nullptr);
    copy->click();
    EXPECT_EQ(tcp.sends, 1);
    EXPECT_EQ(reported.size(), 1);
    EXPECT_EQ(form.linkState().connected, 1);
}

// ---------------------------------------------------------------- dialogs

TEST_F(DeviceCommands, MenuCommandsShowTheirDialogsModeless)
{
    struct Case {
        QAction* TForm1::*item;
        QDialog* (*dialog)(TForm1&);
    };
    const Case cases[] = {
        {&TForm1::IP1, [](TForm1& f) -> QDialog* { return f.networkDialog(); }},
        {&TForm1::N22, [](TForm1& f) -> QDialog* { return f.profileDialog(); }},
        {&TForm1::EQ3, [](TForm1& f) -> QDialog* { return f.eqCopyDialog(); }},
    };
    for (const Case& c : cases) {
        QDialog* dialog = c.dialog(form);
        SCOPED_TRACE(dialog->objectName().toStdString());
        EXPECT_FALSE(dialog->isVisible());
        (form.*c.item)->trigger();
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_FALSE(dialog->isModal());
        dialog->hide();
    }
    EXPECT_FALSE(form.serialNumberDialog()->isVisible());
}

TEST_F(DeviceCommands, LongPressOnTheLogoOpensTheWriterAfterMoreThanThirtyTicks)
{
    for (const auto& [ticks, opens] : {std::pair{30, false}, std::pair{31, true}}) {
        SCOPED_TRACE(ticks);
        form.serialNumberDialog()->hide();
        QTest::mousePress(form.Image2, Qt::LeftButton);
        EXPECT_TRUE(form.Timer1->isActive());
        EXPECT_EQ(form.Timer1->interval(), 100);
        for (int k = 0; k < ticks; ++k) form.Timer1Timer(form.Timer1);
        QTest::mouseRelease(form.Image2, Qt::LeftButton);
        EXPECT_FALSE(form.Timer1->isActive());
        EXPECT_EQ(form.serialNumberDialog()->isVisible(), opens);
        EXPECT_EQ(form.longPressTicks(), 0);
    }
}

}  // namespace
