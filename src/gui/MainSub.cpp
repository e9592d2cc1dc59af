// Subwoofer filter handlers of the filter panel.
#include "gui/Main.h"
#include "gui/MainSupport.h"

#include "core/readout.h"

using gui::qs;

void TForm1::TrackBar31Change(QObject* sender)
{
    if (refreshing) return;
    const int s = tagOf(sender);
    if (s != 0 && s != 1) return;
    QSlider* slider = s == 0 ? TrackBar31 : TrackBar35;
    m_image.sw_filter[s].cut = static_cast<std::int8_t>(30 - slider->value());
    SubCutTexts[s]->setText(qs(tk770::gain_text(m_image.sw_filter[s].cut)));
    sendUnit(tk770::UnitKind::sw_section, s);
    ComputeSection(0, 0, tk770::kind_sw_peaking);
    ComputeSection(0, 1, tk770::kind_sw_peaking);
    DrawResponse();
}

void TForm1::TrackBar37Change(QObject* sender)
{
    if (refreshing) return;
    const int s = tagOf(sender);
    if (s != 0 && s != 1) return;
    QSlider* slider = s == 0 ? TrackBar33 : TrackBar37;
    m_image.sw_filter[s].fc = static_cast<std::uint8_t>(slider->value());
    SubFcTexts[s]->setText(qs(tk770::frequency_text(m_image.sw_filter[s].fc)));
    sendUnit(tk770::UnitKind::sw_section, s);
    ComputeSection(0, 0, tk770::kind_sw_peaking);
    ComputeSection(0, 1, tk770::kind_sw_peaking);
    DrawResponse();
}

void TForm1::TrackBar36Change(QObject* sender)
{
    if (refreshing) return;
    const int s = tagOf(sender);
    if (s != 0 && s != 1) return;
    QSlider* slider = s == 0 ? TrackBar34 : TrackBar36;
    m_image.sw_filter[s].q = static_cast<std::uint8_t>(slider->value());
    SubQTexts[s]->setText(qs(tk770::q_text(m_image.sw_filter[s].q)));
    sendUnit(tk770::UnitKind::sw_section, s);
    ComputeSection(0, 0, tk770::kind_sw_peaking);
    ComputeSection(0, 1, tk770::kind_sw_peaking);
    DrawResponse();
}

void TForm1::suiCheckBox15Click(QObject*)
{
    if (refreshing) return;
    m_image.sw_lpf_mode =
        suiCheckBox15->isChecked() ? static_cast<std::uint8_t>(suiRadioGroup4->itemIndex() + 1) : std::uint8_t{0};
    // The frequency travels with the mode: the unit is the pair at address 10.
    sendUnit(tk770::UnitKind::sw_lowpass);
    ComputeSection(0, 0, tk770::kind_sw_peaking);
    ComputeSection(0, 1, tk770::kind_sw_peaking);
    for (int stage = 2; stage <= 5; ++stage) ComputeSection(0, stage, tk770::kind_sw_lowpass);
    DrawResponse();
}
