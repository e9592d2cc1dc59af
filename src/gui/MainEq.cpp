// Graphic EQ and tone handlers of the channel page.
#include "gui/Main.h"
#include "gui/MainSupport.h"

#include "core/readout.h"

using gui::qs;
using gui::RefreshingScope;

void TForm1::TrackBar4Change(QObject* sender)
{
    if (refreshing) return;
    const int b = tagOf(sender);
    // The channel comes from the tab control itself, not SelectedChannel.
    const int c = suiTabControl1->tabIndex();
    if (c < 0 || c >= tk770::eq_channel_count || b < 0 || b >= tk770::band_count) return;
    m_image.eq[c][b] = static_cast<std::int8_t>(60 - BandSliders[b]->value());
    BandTexts[b]->setText(QString::fromUtf8(tk770::gain_text(m_image.eq[c][b]).c_str()));
    sendUnit(tk770::UnitKind::eq_band, c * tk770::band_count + b);
    ComputeSection(c, b, tk770::kind_band);
    DrawResponse();
}

// The tone handlers store their value, send the gain/turnover pair, and let
// the tone refresh bring sliders, read-outs, shelves and curve back in step.
// `refreshing` stays set across the write and the refresh so that the
// sliders the refresh moves do not run their handlers again.

void TForm1::TrackBar2Change(QObject*)
{
    if (refreshing) return;
    const int c = SelectedChannel;
    if (c < 0 || c >= tk770::eq_channel_count) return;
    m_image.tone[c].bass_gain = static_cast<std::int8_t>(60 - TrackBar2->value());
    RefreshingScope painting(refreshing);
    sendUnit(tk770::UnitKind::bass, c);
    toneRefresh();
}

void TForm1::TrackBar1Change(QObject*)
{
    if (refreshing) return;
    const int c = SelectedChannel;
    if (c < 0 || c >= tk770::eq_channel_count) return;
    m_image.tone[c].treble_gain = static_cast<std::int8_t>(60 - TrackBar1->value());
    RefreshingScope painting(refreshing);
    sendUnit(tk770::UnitKind::treble, c);
    toneRefresh();
}

void TForm1::TrackBar3Change(QObject*)
{
    if (refreshing) return;
    const int c = SelectedChannel;
    if (c < 0 || c > 7) return;
    if (c == 7) {
        // On the SW page this slider is the low-pass frequency.
        m_image.sw_lpf_freq = static_cast<std::uint8_t>(TrackBar3->value());
        RefreshingScope painting(refreshing);
        sendUnit(tk770::UnitKind::sw_lowpass);
        subwooferPageRefresh();
    } else {
        m_image.tone[c].bass_freq = static_cast<std::uint8_t>(TrackBar3->value());
        RefreshingScope painting(refreshing);
        sendUnit(tk770::UnitKind::bass, c);
        toneRefresh();
    }
}

void TForm1::TrackBar32Change(QObject*)
{
    if (refreshing) return;
    const int c = SelectedChannel;
    if (c < 0 || c >= tk770::eq_channel_count) return;
    m_image.tone[c].treble_freq = static_cast<std::uint8_t>(TrackBar32->value());
    RefreshingScope painting(refreshing);
    sendUnit(tk770::UnitKind::treble, c);
    toneRefresh();
}

void TForm1::suiButton22Click(QObject*)
{
    // Every slider that actually moves runs its own handler, which stores,
    // sends and redraws; sliders already at 0 dB send nothing.
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
    RefreshingScope twin(refreshing);
    const int c = SelectedChannel;
    if (c >= 0 && c < tk770::channel_count) {
        // The twin box in the output panel follows without running its own
        // handler (refreshing is set).
        if (suiCheckBox14->isChecked()) {
            m_image.test_signal_flags |= BitMasks[c];
            TestSignalBoxes[c]->setChecked(true);
        } else {
            m_image.test_signal_flags &= static_cast<std::uint8_t>(~BitMasks[c]);
            TestSignalBoxes[c]->setChecked(false);
        }
        sendUnit(tk770::UnitKind::test_signal);
    }
}
