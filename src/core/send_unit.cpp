#include "core/send_unit.h"

namespace tk770 {

SendResult send_unit(DeviceLink& link, const ParameterImage& image, const WriteUnit& unit)
{
    if (link.state().connected != 1) return SendResult::not_connected;
    const auto offset = image_offset_of(unit.device_address);
    if (!offset) return SendResult::refused;
    const std::uint8_t* source = image.data() + *offset;
    const int result = unit.command == WriteCommand::store ? link.store_block(unit.device_address, unit.length, source)
                                                           : link.write_block(unit.device_address, unit.length, source);
    return result == 0 ? SendResult::accepted : SendResult::refused;
}

SendResult send_unit(DeviceLink& link, const ParameterImage& image, UnitKind kind, int index)
{
    return send_unit(link, image, write_unit(kind, index));
}

}  // namespace tk770
