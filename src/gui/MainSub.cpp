// The low-pass box and slope of the filter panel. The section sliders are
// rows of the control table (MainControls.cpp).
#include "gui/Main.h"

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
