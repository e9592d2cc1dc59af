// The window against the simulated processor over loopback TCP: the
// connection dropped in the middle of connect and of a download, and a whole
// operator session whose result is read back from the processor afterwards.
#include "gui/Main.h"

#include "core/parameter_image.h"
#include "core/status_texts.h"
#include "gui/Equip.h"
#include "link/sequences.h"
#include "link/serial_transport.h"
#include "link/tcp_transport.h"
#include "support/sim_process.h"
#include "support/text.h"

#include <QApplication>
#include <QLineEdit>
#include <gtest/gtest.h>

namespace {

using tk770::testing::qs;
using tk770::testing::SimProcess;

// Counts the requests the window's link sends through its TCP client.
class CountingTcp : public tk770::TcpTransport {
public:
    explicit CountingTcp(tk770::TcpTransport& inner) : m_inner(inner) {}
    int sends = 0;
    void send(std::span<const std::uint8_t> bytes) override
    {
        ++sends;
        m_inner.send(bytes);
    }
    void receive(std::span<std::uint8_t> bytes) override { m_inner.receive(bytes); }

private:
    tk770::TcpTransport& m_inner;
};

class DeviceSession : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!SimProcess::available()) GTEST_SKIP() << "simulator not built";
        form.setErrorReporter([this](const QString& text) { reported << text; });
        form.setTransports(&form.serialPorts(), &counting);
    }

    void startSim(const QStringList& extra = {})
    {
        ASSERT_TRUE(sim.start(SimProcess::tcpArgs() + extra)) << sim.error().toStdString();
    }

    // NET in the port menu, the simulator's address typed into the dialog.
    void chooseSimulator()
    {
        form.NET1->trigger();
        auto* edit = form.deviceIpDialog()->findChild<QLineEdit*>(QStringLiteral("Edit1"));
        ASSERT_NE(edit, nullptr);
        edit->setText(sim.tcpHost());
        form.deviceIpDialog()->suiButton1Click();
        form.setTcpPort(sim.tcpPort());
    }

    // Requests a plain connect sends, counted on a simulator of its own.
    int connectRequests()
    {
        SimProcess probe;
        if (!probe.start(SimProcess::tcpArgs())) return -1;
        TForm1 other;
        CountingTcp count(other.tcpClient());
        other.setTransports(&other.serialPorts(), &count);
        other.linkState().network_mode = 1;
        other.setTcpHost(probe.tcpHost());
        other.setTcpPort(probe.tcpPort());
        other.N17->trigger();
        return other.linkState().connected == 1 ? count.sends : -1;
    }

    SimProcess sim;
    TForm1 form;
    CountingTcp counting{form.tcpClient()};
    QStringList reported;
};

TEST_F(DeviceSession, ConnectionClosedDuringConnectStopsItWhereItWas)
{
    startSim({QStringLiteral("--fault"), QStringLiteral("close:5")});
    chooseSimulator();
    form.N17->trigger();
    EXPECT_EQ(counting.sends, 5) << "nothing sent after the failure";
    ASSERT_EQ(reported.size(), 1);
    EXPECT_FALSE(reported[0].isEmpty());
    EXPECT_EQ(form.linkState().connected, 1) << "as the connected event left it";
    EXPECT_EQ(form.messageText(), qs(tk770::text_system_connected_to) + sim.tcpHost());
    EXPECT_EQ(form.linkText(), qs(tk770::text_connected));
    EXPECT_EQ(form.refreshing, 0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(DeviceSession, ConnectionClosedDuringDownloadStopsItWhereItWas)
{
    const int connect = connectRequests();
    ASSERT_GT(connect, 0);
    startSim({QStringLiteral("--fault"), QStringLiteral("close:%1").arg(connect + 6)});
    chooseSimulator();
    form.N17->trigger();
    ASSERT_EQ(form.messageText(), qs(tk770::text_system_connected));
    ASSERT_EQ(counting.sends, connect);

    form.N20->trigger();
    EXPECT_EQ(counting.sends, connect + 6) << "the download stopped at step 6";
    ASSERT_EQ(reported.size(), 1);
    EXPECT_EQ(form.messageText(), "step 5/16");
    EXPECT_EQ(form.linkText(), qs(tk770::text_connected));
    EXPECT_EQ(form.linkState().connected, 1);
    EXPECT_EQ(form.linkState().error_count, 0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(DeviceSession, OperatorSessionEndsWithTheProcessorHoldingTheImage)
{
    startSim({QStringLiteral("--restart-ms"), QStringLiteral("50")});
    chooseSimulator();
    form.N17->trigger();
    ASSERT_EQ(form.messageText(), qs(tk770::text_system_connected));

    // As an operator would: a band, a delay, the volume, the fade time and
    // the power-on format.
    form.BandSliders[11]->setValue(form.BandSliders[11]->value() - 7);
    form.DelaySliders[2]->setValue(form.DelaySliders[2]->value() - 33);
    form.suiTrackBar14->setValue(55);
    form.ComboBox1->setCurrentIndex(4);
    emit form.ComboBox1->activated(4);
    form.N13->trigger();
    const tk770::ParameterImage edited = form.image();
    EXPECT_EQ(edited.master_volume, 55);
    EXPECT_EQ(edited.fade_time, 4);

    form.N20->trigger();
    EXPECT_EQ(form.messageText(), qs(tk770::text_download_success));
    form.N25->trigger();
    EXPECT_EQ(form.messageText(), qs(tk770::text_save_memory_success));
    form.N27->trigger();
    EXPECT_EQ(form.linkState().connected, 1);
    form.N17->trigger();
    EXPECT_EQ(form.messageText(), qs(tk770::text_system_connected));
    EXPECT_EQ(form.image(), edited) << "read back after the restart";
    EXPECT_TRUE(reported.isEmpty()) << reported.join('\n').toStdString();
    form.N18->trigger();
    EXPECT_EQ(form.messageText(), qs(tk770::text_disconnected));

    // A separate client reads the processor afresh.
    tk770::LinkState state{0, 1, 0, 0};
    tk770::QtTcpTransport client;
    client.connect(sim.tcpHost(), sim.tcpPort());
    tk770::DeviceLink link(state, nullptr, &client, nullptr);
    tk770::ParameterImage readBack{};
    tk770::DeviceSequences sequences(link, readBack);
    EXPECT_EQ(sequences.read_image(), 0);
    EXPECT_EQ(readBack, edited);
}

}  // namespace
