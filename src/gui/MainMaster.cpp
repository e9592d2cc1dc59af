// Master volume, fade time, master mute and power-on format, and the one
// place the control handlers hand their bytes to the link.
#include "gui/Main.h"

#include "core/readout.h"

void TForm1::storeBlock(int deviceAddress, int length)
{
    if (m_linkState.connected != 1) return;
    const auto offset = tk770::image_offset_of(deviceAddress);
    if (!offset) return;
    m_link->store_block(deviceAddress, length, m_image.data() + *offset);
}

void TForm1::sendUnit(tk770::UnitKind kind, int index)
{
    const tk770::WriteUnit unit = tk770::write_unit(kind, index);
    if (unit.command == tk770::WriteCommand::store) storeBlock(unit.device_address, unit.length);
    else writeBlock(unit.device_address, unit.length);
}

void TForm1::suiTrackBar14Change(QObject*)
{
    if (refreshing) return;
    const int p = suiTrackBar14->value();
    m_image.master_volume = static_cast<std::uint8_t>(p);
    StaticText30->setText(QString::fromUtf8(tk770::level_text(p).c_str()));
    sendUnit(tk770::UnitKind::master_volume);
}

void TForm1::ComboBox1Change(QObject*)
{
    // Only the ten choices can be selected, so 0..9 is all that is stored.
    const int i = ComboBox1->currentIndex();
    if (i < 0 || i > 9) return;
    m_image.fade_time = static_cast<std::uint8_t>(i);
    sendUnit(tk770::UnitKind::fade_time);
}

void TForm1::suiButton23Click(QObject*)
{
    m_image.master_mute ^= 1;
    setFontColor(suiButton23, (m_image.master_mute & 1) ? 255 : 0);
    sendUnit(tk770::UnitKind::master_mute);
}

void TForm1::N83Click(QObject* sender)
{
    const int tag = tagOf(sender);
    if (tag < 0 || tag > 5) return;
    m_image.power_on_format = static_cast<std::uint8_t>(tag);
    sendUnit(tk770::UnitKind::power_on_format);
}
