// The signal generator of the output panel. Gain, delay, polarity, mute and
// the test-signal boxes are rows of the control table (MainControls.cpp).
#include "gui/Main.h"
#include "gui/MainSupport.h"

using tk770::qs;

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
