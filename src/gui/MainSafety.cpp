// The operator's safety nets: the title's mark and the question before an
// unsaved project is dropped, the reminder that the processor's working
// memory holds writes its own memory does not, and the machine's real
// serial ports in the COM menu.
#include "gui/Main.h"
#include "gui/MainSupport.h"

#include "link/sequences.h"
#include "link/serial_transport.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>
#include <QSerialPortInfo>

#include <algorithm>

namespace {

// Index of each answer in a question's three buttons.
constexpr int answer_save = 0;
constexpr int answer_go_on = 1;

}  // namespace

QString TForm1::noticeText(int pair) const { return tk770::qs(tk770::notice(pair, Language)); }

// ---------------------------------------------------------------- the project

bool TForm1::projectModified() const
{
    return m_savedProject && tk770::project_file_bytes(m_image, device_ip_text) != *m_savedProject;
}

void TForm1::markProjectSaved()
{
    m_savedProject = tk770::project_file_bytes(m_image, device_ip_text);
    updateProjectMark();
}

void TForm1::updateProjectMark()
{
    if (projectModified() != m_titleMarked) setWindowTitleFromName();
}

bool TForm1::confirmProjectMayBeDropped()
{
    if (!projectModified()) return true;
    const int answer = askQuestion(tk770::notice_unsaved_title,
                                   noticeText(tk770::notice_project_changed).arg(currentFileName()),
                                   {tk770::notice_save, tk770::notice_discard, tk770::notice_cancel});
    if (answer == answer_go_on) return true;
    if (answer != answer_save) return false;
    // A project that has never had a file of its own gets one chosen in the
    // save dialog rather than landing silently in the working directory.
    if (currentFileName() == tk770::qs(tk770::untitled_project_name)) N5Click(nullptr);
    else N4Click(nullptr);
    // A cancelled dialog or a refused save keeps the project and the window.
    return !projectModified();
}

void TForm1::newProjectCommand(QObject* sender)
{
    if (confirmProjectMayBeDropped()) N2Click(sender);
}

void TForm1::openProjectCommand(QObject* sender)
{
    if (confirmProjectMayBeDropped()) N3Click(sender);
}

// ---------------------------------------------------------------- processor memory

QString TForm1::processorMemoryText() const { return ProcessorMemoryPanel->text(); }

void TForm1::noteSent(const tk770::WriteUnit& unit, tk770::SendResult result)
{
    // A store lands in the processor's memory as well. A write whose answer
    // was lost may still have been carried out, so it counts like one the
    // processor acknowledged: better a reminder too many than a calibration
    // lost at the next power cycle.
    if (unit.command == tk770::WriteCommand::write && result != tk770::SendResult::not_connected)
        setProcessorUnsaved(true);
}

void TForm1::setProcessorUnsaved(bool unsaved)
{
    m_processorUnsaved = unsaved;
    ProcessorMemoryPanel->setText(unsaved ? noticeText(tk770::notice_not_saved_status) : QString());
}

bool TForm1::confirmProcessorMayBeLeft()
{
    if (!m_processorUnsaved) return true;
    const int answer = askQuestion(tk770::notice_processor_title, noticeText(tk770::notice_processor_unsaved),
                                   {tk770::notice_save_to_processor, tk770::notice_dont_save, tk770::notice_cancel});
    if (answer == answer_go_on) return true;
    if (answer != answer_save) return false;
    if (m_linkState.connected == 0) {
        // Nothing can be saved without the link; the operator reconnects or
        // answers again.
        set_message_text(tk770::text_save_memory_fail);
        return false;
    }
    N25Click(nullptr);
    return !m_processorUnsaved;
}

void TForm1::disconnectCommand(QObject* sender)
{
    if (confirmProcessorMayBeLeft()) N18Click(sender);
}

// ---------------------------------------------------------------- questions

int TForm1::askQuestion(int titlePair, const QString& text, const std::array<int, 3>& buttonPairs)
{
    QMessageBox box(QMessageBox::Question, noticeText(titlePair), text, QMessageBox::NoButton, this);
    box.setObjectName(QStringLiteral("safetyQuestion"));
    const QMessageBox::ButtonRole roles[3] = {QMessageBox::AcceptRole, QMessageBox::DestructiveRole,
                                              QMessageBox::RejectRole};
    std::array<QPushButton*, 3> buttons{};
    for (int i = 0; i < 3; ++i) buttons[i] = box.addButton(noticeText(buttonPairs[i]), roles[i]);
    box.setDefaultButton(buttons[0]);
    box.setEscapeButton(buttons[2]);
    QAbstractButton* chosen = m_runQuestion ? m_runQuestion(&box) : nullptr;
    for (int i = 0; i < 3; ++i)
        if (chosen == buttons[i]) return i;
    return 2;
}

void TForm1::closeEvent(QCloseEvent* event)
{
    // The processor first: saving it needs the link, and a project file can
    // still be saved after the processor has been dealt with.
    bool goOn = false;
    runGuarded([&] { goOn = confirmProcessorMayBeLeft() && confirmProjectMayBeDropped(); });
    if (goOn) event->accept();
    else event->ignore();
}

// ---------------------------------------------------------------- machine ports

void TForm1::refreshMachinePorts()
{
    for (QAction* item : m_machinePortItems) {
        PortItems->removeAction(item);
        N16->removeAction(item);
        delete item;
    }
    m_machinePortItems.clear();

    QList<MachinePort> ports = m_listPorts ? m_listPorts() : QList<MachinePort>{};
    // The port in use stays listed, checked, even when it has gone from the
    // machine (an adapter pulled out), so the menu never hides the choice.
    if (!m_machinePortPath.isEmpty()
        && std::none_of(ports.begin(), ports.end(), [this](const MachinePort& p) { return p.path == m_machinePortPath; }))
        ports.append({m_machinePortPath, {}});

    if (!m_machinePortSeparator) m_machinePortSeparator = N16->addSeparator();
    m_machinePortSeparator->setVisible(!ports.isEmpty());
    const bool inUse = m_linkState.network_mode == 0 && m_linkState.serial_port == tk770::QtSerialTransport::device_port;
    for (const MachinePort& port : ports) {
        const QString text = port.description.isEmpty() ? port.path
                                                         : port.path + QStringLiteral(" \u2014 ") + port.description;
        auto* item = N16->addAction(text);
        item->setCheckable(true);
        item->setData(port.path);
        PortItems->addAction(item);
        if (inUse && port.path == m_machinePortPath) item->setChecked(true);
        const QString path = port.path;
        connect(item, &QAction::triggered, this, [this, path] { chooseMachinePort(path); });
        m_machinePortItems.append(item);
    }
}

void TForm1::chooseMachinePort(const QString& path)
{
    runGuarded([&] {
        // As a COM item does: the port chosen before is closed, the new one
        // opens at the next connect, and the link state is left alone.
        const int previous = m_linkState.serial_port;
        if (previous >= 1 && previous <= tk770::QtSerialTransport::device_port) {
            if (auto* serial = m_link->serial()) serial->close(previous);
        }
        m_serialPorts->bindPort(tk770::QtSerialTransport::device_port, path);
        m_machinePortPath = path;
        m_linkState.serial_port = tk770::QtSerialTransport::device_port;
        m_linkState.network_mode = 0;
        for (QAction* item : m_machinePortItems)
            if (item->data().toString() == path) item->setChecked(true);
    });
}

void TForm1::reportPortPermission()
{
    if (m_linkState.network_mode != 0 || !m_openErrorOf) return;
    const int port = m_linkState.serial_port;
    if (m_openErrorOf(port) != QSerialPort::PermissionError) return;
    const QString text = noticeText(tk770::notice_port_permission).arg(m_serialPorts->deviceName(port));
    if (m_reportError) m_reportError(text);
}

QList<TForm1::MachinePort> TForm1::machinePortsOfThisComputer()
{
    QList<MachinePort> out;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        out.append({info.systemLocation(), info.description()});
    return out;
}
