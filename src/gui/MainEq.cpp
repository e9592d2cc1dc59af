// Graphic EQ and tone handlers of the channel page.
#include "gui/Main.h"

#include "core/readout.h"

void TForm1::TrackBar4Change(QObject* sender)
{
    if (refreshing) return;
    const int b = tagOf(sender);
    // The channel comes from the tab control itself, not SelectedChannel.
    const int c = suiTabControl1->tabIndex();
    if (c >= tk770::eq_channel_count || b < 0 || b >= tk770::band_count) return;
    m_image.eq[c][b] = static_cast<std::int8_t>(60 - BandSliders[b]->value());
    BandTexts[b]->setText(QString::fromUtf8(tk770::gain_text(m_image.eq[c][b]).c_str()));
    writeBlock(tk770::device_address_of(TK770_OFFSET(eq[c][b])), 1);
    ComputeSection(c, b, tk770::kind_band);
    DrawResponse();
}

void TForm1::TrackBar2Change(QObject*)
{
    if (refreshing) return;
    const int c = SelectedChannel;
    if (c >= tk770::eq_channel_count) return;
    m_image.tone[c].bass_gain = static_cast<std::int8_t>(60 - TrackBar2->value());
    refreshing = 1;
    toneRefresh();
    refreshing = 0;
}

void TForm1::TrackBar1Change(QObject*)
{
    if (refreshing) return;
    const int c = SelectedChannel;
    if (c >= tk770::eq_channel_count) return;
    m_image.tone[c].treble_gain = static_cast<std::int8_t>(60 - TrackBar1->value());
    refreshing = 1;
    toneRefresh();
    refreshing = 0;
}

void TForm1::TrackBar3Change(QObject*)
{
    if (refreshing) return;
    const int c = SelectedChannel;
    if (c == 7) {
        m_image.sw_lpf_freq = static_cast<std::uint8_t>(TrackBar3->value());
        refreshing = 1;
        subwooferPageRefresh();
    } else {
        m_image.tone[c].bass_freq = static_cast<std::uint8_t>(TrackBar3->value());
        refreshing = 1;
        toneRefresh();
    }
    refreshing = 0;
}

void TForm1::TrackBar32Change(QObject*)
{
    if (refreshing) return;
    const int c = SelectedChannel;
    if (c >= tk770::eq_channel_count) return;
    m_image.tone[c].treble_freq = static_cast<std::uint8_t>(TrackBar32->value());
    refreshing = 1;
    toneRefresh();
    refreshing = 0;
}

void TForm1::suiButton22Click(QObject*)
{
    // Every slider that actually moves runs its own handler.
    if (SelectedChannel == 7) {
        TrackBar31->setValue(30);
        TrackBar35->setValue(30);
        return;
    }
    for (QSlider* s : BandSliders) s->setValue(60);
    TrackBar1->setValue(60);
    TrackBar2->setValue(60);
}

void TForm1::suiCheckBox14Click(QObject*)
{
    if (refreshing) return;
    refreshing = 1;
    const int c = SelectedChannel;
    if (suiCheckBox14->isChecked()) {
        m_image.test_signal_flags |= BitMasks[c];
        TestSignalBoxes[c]->setChecked(true);
    } else {
        m_image.test_signal_flags &= static_cast<std::uint8_t>(~BitMasks[c]);
        TestSignalBoxes[c]->setChecked(false);
    }
    refreshing = 0;
}
