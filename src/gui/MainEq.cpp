// The flat button of the channel page. The band, tone and subwoofer
// sliders are rows of the control table (MainControls.cpp).
#include "gui/Main.h"

using tk770::SliderControl;

void TForm1::suiButton22Click(QObject*)
{
    // Every slider that actually moves runs its own handler, which stores,
    // sends and redraws; sliders already at 0 dB send nothing.
    auto flat = [this](SliderControl c, QSlider* s) { s->setValue(sliderPositionOf(c, 0)); };
    if (SelectedChannel == 7) {
        flat(SliderControl::sw_cut, TrackBar31);
        flat(SliderControl::sw_cut, TrackBar35);
        return;
    }
    for (QSlider* s : BandSliders) flat(SliderControl::band, s);
    flat(SliderControl::treble_gain, TrackBar1);
    flat(SliderControl::bass_gain, TrackBar2);
}

