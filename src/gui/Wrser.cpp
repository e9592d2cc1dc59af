#include "gui/Wrser.h"

#include "core/cp936.h"
#include "gui/DialogSupport.h"
#include "link/sequences.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TForm8::TForm8(tk770::DeviceSequences* sequences, QWidget* parent) : QDialog(parent), m_sequences(sequences)
{
    setObjectName(QStringLiteral("TForm8"));
    setWindowTitle(QStringLiteral("序列码写入器"));
    setFixedSize(300, 130);

    m_label1 = new QLabel(QStringLiteral("输入不大于16个字符的序列号"), this);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->move(24, 16);

    m_edit1 = new QLineEdit(this);
    m_edit1->setObjectName(QStringLiteral("Edit1"));
    m_edit1->setGeometry(24, 44, 250, 21);
    m_edit1->setMaxLength(tk770::serial_number_size);
    connect(m_edit1, &QLineEdit::textChanged, this, [this] { tk770::markRefused(m_edit1, false); });

    m_button1 = new QPushButton(QStringLiteral("写入设备"), this);
    m_button1->setObjectName(QStringLiteral("Button1"));
    m_button1->setGeometry(100, 82, 100, 28);
    connect(m_button1, &QPushButton::clicked, this, &TForm8::Button1Click);
}

void TForm8::showDialog()
{
    tk770::showModeless(this);
}

void TForm8::Button1Click()
{
    // The processor keeps its texts in code page 936. Sixteen characters may
    // need more than the 16 bytes of the block; a text that does not fit
    // whole, or holds a character the code page lacks, is refused rather
    // than cut in the middle of a character.
    const auto bytes = tk770::utf8_to_cp936_field(m_edit1->text().toStdString(), tk770::serial_number_size);
    if (!bytes || bytes->truncated) {
        tk770::markRefused(m_edit1, true);
        return;
    }
    if (m_sequences) m_sequences->store_serial_number(bytes->bytes);
}
