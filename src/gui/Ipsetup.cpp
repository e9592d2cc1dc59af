#include "gui/Ipsetup.h"

#include "gui/DialogSupport.h"
#include "link/sequences.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

QLineEdit* makeAddressBox(const char* name, int top, QWidget* parent)
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(120, top, 160, 21);
    box->setMaxLength(static_cast<int>(tk770::max_address_text));
    // A new text clears the mark of one that was refused.
    QObject::connect(box, &QLineEdit::textChanged, box, [box] { tk770::markRefused(box, false); });
    return box;
}

QLabel* makeLabel(const char* text, const char* name, int top, QWidget* parent)
{
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->move(24, top + 3);
    return label;
}

}  // namespace

TForm6::TForm6(tk770::DeviceSequences* sequences, QWidget* parent) : QDialog(parent), m_sequences(sequences)
{
    setObjectName(QStringLiteral("TForm6"));
    setWindowTitle(QStringLiteral("网络配置"));
    setFixedSize(310, 170);

    m_staticText1 = makeLabel("IP地址：", "StaticText1", 20, this);
    m_staticText2 = makeLabel("子网掩码：", "StaticText2", 52, this);
    m_staticText3 = makeLabel("网关：", "StaticText3", 84, this);
    m_edit1 = makeAddressBox("Edit1", 20, this);
    m_edit2 = makeAddressBox("Edit2", 52, this);
    m_edit3 = makeAddressBox("Edit3", 84, this);

    m_suiButton1 = new QPushButton(QStringLiteral("读取设置"), this);
    m_suiButton1->setObjectName(QStringLiteral("suiButton1"));
    m_suiButton1->setGeometry(40, 124, 100, 28);
    connect(m_suiButton1, &QPushButton::clicked, this, &TForm6::suiButton1Click);
    m_suiButton2 = new QPushButton(QStringLiteral("下载设置"), this);
    m_suiButton2->setObjectName(QStringLiteral("suiButton2"));
    m_suiButton2->setGeometry(170, 124, 100, 28);
    connect(m_suiButton2, &QPushButton::clicked, this, &TForm6::suiButton2Click);
}

void TForm6::showDialog()
{
    tk770::showModeless(this);
}

void TForm6::suiButton1Click()
{
    if (!m_sequences) return;
    // A missing or damaged reply changes nothing and shows nothing.
    const auto settings = m_sequences->read_network_settings();
    if (!settings) return;
    m_edit1->setText(QString::fromStdString(settings->ip_text()));
    m_edit2->setText(QString::fromStdString(settings->mask_text()));
    m_edit3->setText(QString::fromStdString(settings->gateway_text()));
}

void TForm6::suiButton2Click()
{
    // Every box is checked so that each refused one is marked, not just the first.
    bool allParse = true;
    for (QLineEdit* box : {m_edit1, m_edit2, m_edit3}) {
        const bool refused = !tk770::parse_address(box->text().toStdString());
        tk770::markRefused(box, refused);
        allParse = allParse && !refused;
    }
    if (!allParse || !m_sequences) return;
    m_sequences->write_network_settings(m_edit1->text().toStdString(), m_edit2->text().toStdString(),
                                        m_edit3->text().toStdString());
}

void TForm6::applyLanguage(int language)
{
    using tk770::captionText;
    setWindowTitle(captionText(tk770::pair_network_title, language));
    m_staticText1->setText(captionText(tk770::pair_network_ip, language));
    m_staticText2->setText(captionText(tk770::pair_network_mask, language));
    m_staticText3->setText(captionText(tk770::pair_network_gateway, language));
    m_suiButton1->setText(captionText(tk770::pair_network_load, language));
    m_suiButton2->setText(captionText(tk770::pair_network_save, language));
}
