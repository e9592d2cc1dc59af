#include "gui/Equip.h"

#include "gui/DialogSupport.h"
#include "link/sequences.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <cstring>

TForm7::TForm7(std::array<char, 20>& deviceIpText, HostSetter setHost, QWidget* parent)
    : QDialog(parent), m_deviceIpText(deviceIpText), m_setHost(std::move(setHost))
{
    setObjectName(QStringLiteral("TForm7"));
    setWindowTitle(QStringLiteral("设备IP地址"));
    setFixedSize(300, 120);

    m_staticText1 = new QLabel(QStringLiteral("设备IP地址:"), this);
    m_staticText1->setObjectName(QStringLiteral("StaticText1"));
    m_staticText1->move(20, 27);

    m_edit1 = new QLineEdit(this);
    m_edit1->setObjectName(QStringLiteral("Edit1"));
    m_edit1->setGeometry(110, 24, 160, 21);
    // The stored text holds 19 characters and its zero.
    m_edit1->setMaxLength(static_cast<int>(m_deviceIpText.size()) - 1);
    connect(m_edit1, &QLineEdit::textChanged, this, [this] { tk770::markRefused(m_edit1, false); });

    m_suiButton1 = new QPushButton(QStringLiteral("确定"), this);
    m_suiButton1->setObjectName(QStringLiteral("suiButton1"));
    m_suiButton1->setGeometry(110, 70, 80, 28);
    connect(m_suiButton1, &QPushButton::clicked, this, &TForm7::suiButton1Click);
}

void TForm7::showDialog()
{
    const auto end = std::find(m_deviceIpText.begin(), m_deviceIpText.end(), '\0');
    m_edit1->setText(QString::fromLatin1(m_deviceIpText.data(), static_cast<int>(end - m_deviceIpText.begin())));
    tk770::showModeless(this);
}

void TForm7::suiButton1Click()
{
    const std::string text = m_edit1->text().toStdString();
    // Only an address the transports can use is kept and handed on; anything
    // else stays in the marked box and changes nothing.
    if (!tk770::parse_address(text)) {
        tk770::markRefused(m_edit1, true);
        return;
    }
    m_deviceIpText.fill('\0');
    std::memcpy(m_deviceIpText.data(), text.data(), std::min(text.size(), m_deviceIpText.size() - 1));
    if (m_setHost) m_setHost(QString::fromStdString(text));
    hide();
}

void TForm7::applyLanguage(int language)
{
    using tk770::captionText;
    setWindowTitle(captionText(tk770::pair_device_ip, language));
    m_staticText1->setText(captionText(tk770::pair_device_ip, language));
    m_suiButton1->setText(captionText(tk770::pair_device_ip_ok, language));
}
