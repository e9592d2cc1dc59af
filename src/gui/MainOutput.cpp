// Output section handlers: gain, delay, polarity, mute, test signals.
#include "gui/Main.h"
#include "gui/MainSupport.h"

#include "core/readout.h"

using gui::qs;
using gui::RefreshingScope;

void TForm1::suiTrackBar6Change(QObject* sender)
{
    if (refreshing) return;
    const int ch = tagOf(sender);
    if (ch < 0 || ch >= tk770::channel_count) return;
    m_image.output_gain[ch] = static_cast<std::uint8_t>(60 - OutputGainSliders[ch]->value());
    OutputGainTexts[ch]->setText(qs(tk770::output_gain_text(m_image.output_gain[ch])));
    sendUnit(tk770::UnitKind::output_gain, ch);
}

void TForm1::TrackBar38Change(QObject* sender)
{
    if (refreshing) return;
    const int ch = tagOf(sender);
    if (ch < 0 || ch >= tk770::channel_count) return;
    m_image.output_delay[ch] = static_cast<std::uint8_t>(200 - DelaySliders[ch]->value());
    DelayTexts[ch]->setText(qs(tk770::delay_text(m_image.output_delay[ch])));
    sendUnit(tk770::UnitKind::output_delay, ch);
}

void TForm1::suiButton14Click(QObject* sender)
{
    const int ch = tagOf(sender);
    if (ch < 0 || ch >= tk770::channel_count) return;
    m_image.polarity_flags ^= BitMasks[ch];
    const bool inverted = (m_image.polarity_flags & BitMasks[ch]) != 0;
    PolarityButtons[ch]->setText(caption(inverted ? tk770::pair_polarity_inverted : tk770::pair_polarity_normal));
    setFontColor(PolarityButtons[ch], inverted ? 255 : 0);
    sendUnit(tk770::UnitKind::polarity);
}

void TForm1::suiButton6Click(QObject* sender)
{
    const int ch = tagOf(sender);
    if (ch < 0 || ch >= tk770::channel_count) return;
    m_image.mute_flags ^= BitMasks[ch];
    setFontColor(MuteButtons[ch], (m_image.mute_flags & BitMasks[ch]) ? 255 : 0);
    sendUnit(tk770::UnitKind::mute);
}

void TForm1::suiCheckBox6Click(QObject* sender)
{
    if (refreshing) return;
    RefreshingScope twin(refreshing);
    const int ch = tagOf(sender);
    if (ch >= 0 && ch < tk770::channel_count) {
        if (TestSignalBoxes[ch]->isChecked()) m_image.test_signal_flags |= BitMasks[ch];
        else m_image.test_signal_flags &= static_cast<std::uint8_t>(~BitMasks[ch]);
        // The EQ page's twin box shows the selected channel; its handler
        // does nothing while refreshing is set.
        suiCheckBox14->setChecked((m_image.test_signal_flags & BitMasks[SelectedChannel]) != 0);
        sendUnit(tk770::UnitKind::test_signal);
    }
}

void TForm1::suiRadioGroup3Click(QObject*)
{
    const int s = suiRadioGroup3->itemIndex();
    if (s < 0) return;
    m_image.test_signal = static_cast<std::uint8_t>(s);
    const QString label = qs(tk770::signal_label(s, Language));
    suiCheckBox14->setText(label);
    for (QCheckBox* b : TestSignalBoxes) b->setText(label);
    sendUnit(tk770::UnitKind::test_signal);
}
