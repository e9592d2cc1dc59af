// Transport choice, connection, bulk device commands, the secondary dialogs
// and the guard every handler runs inside.
#include "gui/Main.h"

#include "gui/Eqcopy.h"
#include "gui/Equip.h"
#include "gui/Ipsetup.h"
#include "gui/Profile.h"
#include "gui/Wrser.h"
#include "link/sequences.h"
#include "link/serial_transport.h"
#include "link/tcp_transport.h"

#include <QApplication>
#include <QMessageBox>

#include <string>

using tk770::tagOf;

namespace {

// Thrown by the outer command once a handler nested in it was stopped by a
// failure; it only unwinds, the first failure's text is the one shown.
class CommandStopped : public tk770::LinkError {
public:
    CommandStopped() : tk770::LinkError("command stopped") {}
};

// The busy cursor while a command waits on the processor, put back on every
// way out, an exception included.
class BusyCursor {
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

// The long press that opens the serial-number writer must last more than
// this many timer ticks.
constexpr int long_press_ticks = 30;

}  // namespace

// ---------------------------------------------------------------- guard

bool TForm1::runGuarded(const std::function<void()>& body)
{
    if (m_guardDepth == 0) {
        m_commandStopped = false;
        m_stopText.clear();
    } else if (m_commandStopped) {
        // A control moved by a command that has already failed: no more
        // frames for that command.
        return false;
    }
    ++m_guardDepth;
    // A handler cut short between setting and clearing `refreshing` must
    // not leave every other handler ignoring its events.
    const int refreshingAtEntry = refreshing;
    try {
        body();
    } catch (const CommandStopped&) {
        m_commandStopped = true;
        refreshing = refreshingAtEntry;
    } catch (const std::exception& e) {
        m_commandStopped = true;
        refreshing = refreshingAtEntry;
        if (m_stopText.isEmpty()) m_stopText = QString::fromUtf8(e.what());
    }
    --m_guardDepth;
    // Whatever the command changed, the title says whether the project
    // still matches its file.
    if (m_guardDepth == 0) updateProjectMark();
    const bool stopped = m_commandStopped;
    if (m_guardDepth == 0 && stopped) {
        const QString text = m_stopText;
        m_stopText.clear();
        if (m_reportError) m_reportError(text);
    }
    return !stopped;
}

void TForm1::stopIfCommandStopped()
{
    if (m_commandStopped) throw CommandStopped();
}

// ---------------------------------------------------------------- start-up

void TForm1::createDevicePartsAndDialogs()
{
    m_serialPorts = std::make_shared<tk770::QtSerialTransport>();
    m_tcpClient = std::make_shared<tk770::QtTcpTransport>();
    m_link->set_serial(m_serialPorts.get());
    m_link->set_tcp(m_tcpClient.get());

    tk770::SequenceHooks hooks;
    hooks.refreshing = &refreshing;
    hooks.decode_device_info = [this] { m_form5->decodeDeviceInformation(); };
    hooks.refresh_display = [this] {
        displayRefresh();
        stopIfCommandStopped();
    };
    hooks.reset_test_signals = [this] { resetTestSignals(); };
    hooks.tcp_connect = [this] {
        m_tcpClient->connect(m_tcpHost, m_tcpPort);
        return m_tcpHost.toStdString();
    };
    hooks.tcp_disconnect = [this] { m_tcpClient->disconnect(); };
    m_sequences = std::make_shared<tk770::DeviceSequences>(*m_link, m_image, std::move(hooks));

    m_reportError = [this](const QString& text) {
        QMessageBox::critical(this, QApplication::applicationName(), text);
    };

    // In the order the program creates its forms; all live hidden until
    // their command shows them.
    m_form4 = new TForm4(m_image, m_linkState, m_link.get(), this);
    m_form5 = new TForm5(m_image, this);
    m_form6 = new TForm6(m_sequences.get(), this);
    m_form7 = new TForm7(device_ip_text, [this](const QString& host) {
        m_tcpHost = host;
        // The address is part of the project file.
        updateProjectMark();
    }, this);
    m_form8 = new TForm8(m_sequences.get(), this);

    // The copy writes while connected, so over TCP it can fail like any
    // handler of the window: it runs inside the same guard.
    m_form4->setCommandRunner([this](const std::function<void()>& copy) { runGuarded(copy); });
    m_form4->setSentObserver([this](const tk770::WriteUnit& unit, tk770::SendResult result) { noteSent(unit, result); });
    m_openErrorOf = [this](int port) { return static_cast<int>(m_serialPorts->openError(port)); };
}

void TForm1::resetTestSignals()
{
    // Each control that changes runs its own handler, which writes the
    // change while connected; one that is already there runs nothing.
    suiRadioGroup3->setItemIndex(0);
    stopIfCommandStopped();
    for (QCheckBox* box : TestSignalBoxes) {
        box->setChecked(false);
        stopIfCommandStopped();
    }
    suiCheckBox14->setChecked(false);
    stopIfCommandStopped();
}

// ---------------------------------------------------------------- transports

void TForm1::COM11Click(QObject* sender)
{
    runGuarded([&] {
        const int tag = tagOf(sender);
        if (tag < 0 || tag > 9) return;
        // A device chosen from the machine's ports is closed like a COM port.
        if (m_linkState.serial_port >= 1 && m_linkState.serial_port <= tk770::QtSerialTransport::device_port) {
            if (auto* serial = m_link->serial()) serial->close(m_linkState.serial_port);
        }
        m_machinePortPath.clear();
        m_linkState.serial_port = tag + 1;
        m_linkState.network_mode = 0;
        if (auto* item = qobject_cast<QAction*>(sender)) item->setChecked(true);
    });
}

void TForm1::NET1Click(QObject*)
{
    runGuarded([&] {
        m_linkState.network_mode = 1;
        NET1->setChecked(true);
        m_form7->showDialog();
    });
}

// ---------------------------------------------------------------- connection

void TForm1::N17Click(QObject*)
{
    runGuarded([&] {
        BusyCursor busy;
        if (m_linkState.network_mode == 1 && m_linkState.connected == 0) {
            // The client reports a made connection through its connected
            // event, which reads everything from inside this call.
            m_tcpClient->connect(m_tcpHost, m_tcpPort);
            TCPClient1Connected(nullptr);
            return;
        }
        const bool opensPort = m_linkState.network_mode == 0 && m_linkState.connected == 0;
        m_sequences->connect();
        if (opensPort) reportPortPermission();
    });
}

void TForm1::TCPClient1Connected(QObject*)
{
    runGuarded([&] { m_sequences->tcp_connected(m_tcpHost.toStdString()); });
}

void TForm1::N18Click(QObject*)
{
    runGuarded([&] {
        m_sequences->disconnect();
        // The session is over; what it left unsaved was asked about before.
        setProcessorUnsaved(false);
    });
}

// ---------------------------------------------------------------- bulk commands

void TForm1::N21Click(QObject*)
{
    runGuarded([&] {
        if (m_linkState.connected == 0) return;
        BusyCursor busy;
        m_sequences->read_all();
    });
}

void TForm1::N20Click(QObject*)
{
    runGuarded([&] {
        if (m_linkState.connected == 0) return;
        BusyCursor busy;
        const tk770::Outcome outcome = m_sequences->download_all([this](int step, int count, int) {
            const std::string text = "step " + std::to_string(step) + "/" + std::to_string(count);
            set_message_text(text);
            // The window is blocked until the download ends; show the step now.
            StatusPanel0->repaint();
        });
        // The download stores every block and commits the parameters itself.
        if (outcome == tk770::Outcome::succeeded) setProcessorUnsaved(false);
    });
}

void TForm1::N25Click(QObject*)
{
    runGuarded([&] {
        if (m_linkState.connected == 0) return;
        BusyCursor busy;
        if (m_sequences->save_to_memory() == tk770::Outcome::succeeded) setProcessorUnsaved(false);
    });
}

void TForm1::N6Click(QObject*)
{
    runGuarded([&] {
        if (m_linkState.connected == 0) return;
        BusyCursor busy;
        m_sequences->backup_ic();
    });
}

void TForm1::N27Click(QObject*)
{
    runGuarded([&] {
        if (m_linkState.connected == 0) return;
        BusyCursor busy;
        // A restarted processor reloads its memory: the writes it had not
        // saved are gone, and nothing is left to save.
        if (m_sequences->restart() == tk770::Outcome::succeeded) setProcessorUnsaved(false);
    });
}

// ---------------------------------------------------------------- dialogs

void TForm1::IP1Click(QObject*)
{
    runGuarded([&] { m_form6->showDialog(); });
}

void TForm1::EQ3Click(QObject*)
{
    runGuarded([&] { m_form4->showDialog(); });
}

void TForm1::N22Click(QObject*)
{
    runGuarded([&] { m_form5->showDialog(); });
}

void TForm1::Image2MouseDown(QObject*)
{
    m_longPressTicks = 0;
    Timer1->start();
}

void TForm1::Timer1Timer(QObject*)
{
    ++m_longPressTicks;
}

void TForm1::Image2MouseUp(QObject*)
{
    Timer1->stop();
    if (m_longPressTicks > long_press_ticks) m_form8->showDialog();
    m_longPressTicks = 0;
}
