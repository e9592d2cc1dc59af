#include "gui/Eqcopy.h"

#include "gui/DialogSupport.h"

#include "core/send_unit.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

constexpr int firstChannelPair = tk770::pair_eq_copy_channels;
constexpr int copyButtonPair = tk770::pair_eq_copy_button;

// The Chinese channel names shown from start-up: the pairs' texts, except
// that the last one lacks its pair's trailing blank.
QString designChannelName(int c)
{
    if (c == tk770::eq_channel_count - 1) return QString::fromUtf8(tk770::startup_eq_copy_back_right.data(),
                                                                    tk770::startup_eq_copy_back_right.size());
    return tk770::captionText(firstChannelPair + c, tk770::language_chinese);
}

}  // namespace

TForm4::TForm4(tk770::ParameterImage& image, tk770::LinkState& state, tk770::DeviceLink* link,
               QWidget* parent)
    : QDialog(parent), m_image(image), m_state(state), m_link(link)
{
    setObjectName(QStringLiteral("TForm4"));
    setWindowTitle(QString::fromUtf8(tk770::startup_eq_copy_title.data(), tk770::startup_eq_copy_title.size()));
    setFixedSize(447, 250);

    m_suiRadioGroup1 = new QGroupBox(this);
    m_suiRadioGroup1->setObjectName(QStringLiteral("suiRadioGroup1"));
    m_suiRadioGroup1->setGeometry(16, 8, 150, 232);
    auto* sourceLayout = new QVBoxLayout(m_suiRadioGroup1);
    auto* sourceButtons = new QButtonGroup(this);

    m_suiCheckGroup1 = new QGroupBox(this);
    m_suiCheckGroup1->setObjectName(QStringLiteral("suiCheckGroup1"));
    m_suiCheckGroup1->setGeometry(281, 8, 150, 232);
    auto* destinationLayout = new QVBoxLayout(m_suiCheckGroup1);

    for (int c = 0; c < tk770::eq_channel_count; ++c) {
        const QString name = designChannelName(c);
        auto* source = new QRadioButton(name, m_suiRadioGroup1);
        source->setObjectName(QStringLiteral("suiRadioGroup1_%1").arg(c));
        sourceButtons->addButton(source, c);
        sourceLayout->addWidget(source);
        m_sourceItems[c] = source;

        auto* destination = new QCheckBox(name, m_suiCheckGroup1);
        destination->setObjectName(QStringLiteral("suiCheckGroup1_%1").arg(c));
        destinationLayout->addWidget(destination);
        m_destinationItems[c] = destination;
    }
    m_sourceItems[0]->setChecked(true);

    m_suiButton1 = new QPushButton(tk770::captionText(copyButtonPair, tk770::language_chinese), this);
    m_suiButton1->setObjectName(QStringLiteral("suiButton1"));
    m_suiButton1->setGeometry(176, 109, 95, 32);
    connect(m_suiButton1, &QPushButton::clicked, this, [this] {
        if (m_runCommand) m_runCommand([this] { suiButton1Click(); });
        else suiButton1Click();
    });
}

void TForm4::showDialog()
{
    tk770::showModeless(this);
}

int TForm4::sourceChannel() const
{
    for (int c = 0; c < tk770::eq_channel_count; ++c)
        if (m_sourceItems[c]->isChecked()) return c;
    return 0;
}

void TForm4::setSourceChannel(int channel)
{
    if (channel >= 0 && channel < tk770::eq_channel_count) m_sourceItems[channel]->setChecked(true);
}

void TForm4::setDestination(int channel, bool checked)
{
    if (channel >= 0 && channel < tk770::eq_channel_count) m_destinationItems[channel]->setChecked(checked);
}

void TForm4::sendIfConnected(tk770::UnitKind kind, int index)
{
    // A failed write is counted by the link and does not stop the copy.
    if (!m_link) return;
    const tk770::WriteUnit unit = tk770::write_unit(kind, index);
    const tk770::SendResult result = tk770::send_unit(*m_link, m_image, unit);
    if (m_sent) m_sent(unit, result);
}

void TForm4::suiButton1Click()
{
    const int s = sourceChannel();
    for (int d = 0; d < tk770::eq_channel_count; ++d) {
        if (!m_destinationItems[d]->isChecked()) continue;
        for (int b = 0; b < tk770::band_count; ++b) {
            m_image.eq[d][b] = m_image.eq[s][b];
            sendIfConnected(tk770::UnitKind::eq_band, d * tk770::band_count + b);
        }
        m_image.tone[d].bass_gain = m_image.tone[s].bass_gain;
        m_image.tone[d].bass_freq = m_image.tone[s].bass_freq;
        sendIfConnected(tk770::UnitKind::bass, d);
        m_image.tone[d].treble_gain = m_image.tone[s].treble_gain;
        m_image.tone[d].treble_freq = m_image.tone[s].treble_freq;
        sendIfConnected(tk770::UnitKind::treble, d);
    }
    hide();
    if (m_afterCopy) m_afterCopy();
}

void TForm4::applyLanguage(int language)
{
    for (int c = 0; c < tk770::eq_channel_count; ++c) {
        const QString name = tk770::captionText(firstChannelPair + c, language);
        m_sourceItems[c]->setText(name);
        m_destinationItems[c]->setText(name);
    }
    m_suiButton1->setText(tk770::captionText(copyButtonPair, language));
    setWindowTitle(tk770::captionText(tk770::pair_eq_copy_title, language));
}
