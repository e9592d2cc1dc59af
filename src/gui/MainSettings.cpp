// What the panel keeps between runs: the language, the port, the device
// host, the last project folder and the window position. The program entry
// restores them before the window is shown and saves them once it has
// closed; with nothing kept the start-up is the same as without them.
#include "gui/Main.h"

#include "link/sequences.h"
#include "link/serial_transport.h"

#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>

namespace {

const QString key_language = QStringLiteral("language");
const QString key_port = QStringLiteral("port");
const QString key_host = QStringLiteral("host");
const QString key_project_folder = QStringLiteral("projectFolder");
const QString key_window_position = QStringLiteral("windowPosition");

const QString language_chinese_value = QStringLiteral("zh");
const QString language_english_value = QStringLiteral("en");
const QString port_net_value = QStringLiteral("NET");

}  // namespace

void TForm1::restoreSettings(QSettings& settings)
{
    // Every value is checked: a settings file edited by hand or left by
    // another version can only fail to apply, never break the start-up.
    if (settings.value(key_language).toString() == language_english_value) Endlish1Click(nullptr);

    const QString port = settings.value(key_port).toString();
    QAction* comItems[10] = {COM11, COM21, COM31, COM41, COM51, COM61, COM71, COM81, COM91, COM101};
    if (const int n = tk770::comPortNumber(port)) {
        m_linkState.serial_port = n;
        m_linkState.network_mode = 0;
        comItems[n - 1]->setChecked(true);
    } else if (port == port_net_value) {
        // Chosen again without its dialog: the host comes with the settings.
        m_linkState.network_mode = 1;
        NET1->setChecked(true);
    } else if (port.startsWith(QLatin1Char('/'))) {
        m_serialPorts->bindPort(tk770::QtSerialTransport::device_port, port);
        m_machinePortPath = port;
        m_linkState.serial_port = tk770::QtSerialTransport::device_port;
        m_linkState.network_mode = 0;
    }

    // --host is the operator's word for this run and wins.
    const QString host = settings.value(key_host).toString();
    if (m_hostOverride.isEmpty() && tk770::parse_address(host.toStdString())) m_tcpHost = host;

    const QString folder = settings.value(key_project_folder).toString();
    if (!folder.isEmpty() && QDir(folder).exists()) {
        m_projectFolder = folder;
        OpenDialog1->setDirectory(folder);
        SaveDialog1->setDirectory(folder);
    }

    // Only onto a screen that is there now; otherwise the window stays centred.
    const QVariant position = settings.value(key_window_position);
    if (position.canConvert<QPoint>()) {
        const QPoint at = position.toPoint();
        if (!position.isNull() && QGuiApplication::screenAt(at)) move(at);
    }
}

void TForm1::saveSettings(QSettings& settings) const
{
    settings.setValue(key_language, Language == tk770::language_english ? language_english_value
                                                                         : language_chinese_value);
    if (m_linkState.network_mode == 1) settings.setValue(key_port, port_net_value);
    else if (m_linkState.serial_port == tk770::QtSerialTransport::device_port && !m_machinePortPath.isEmpty())
        settings.setValue(key_port, m_machinePortPath);
    else if (m_linkState.serial_port >= 1 && m_linkState.serial_port <= tk770::QtSerialTransport::port_count)
        settings.setValue(key_port, QStringLiteral("COM%1").arg(m_linkState.serial_port));
    // A host given with --host and left alone was for that run only.
    if (m_hostOverride.isEmpty() || m_tcpHost != m_hostOverride) settings.setValue(key_host, m_tcpHost);
    if (!m_projectFolder.isEmpty()) settings.setValue(key_project_folder, m_projectFolder);
    settings.setValue(key_window_position, pos());
    settings.sync();
}
