// The one place a changed setting leaves for the processor outside the bulk
// operations. The window's controls, the EQ copy dialog and `tk770ctl set`
// all send through it, so "write or store" is decided by the unit alone.
#pragma once

#include "core/device_link.h"
#include "core/parameter_image.h"

namespace tk770 {

enum class SendResult {
    accepted,       // the processor acknowledged the unit
    refused,        // sent, but no valid acknowledgement came back
    not_connected,  // the link is down: only the image holds the change
};

// Sends the unit's bytes from the image with the unit's own command (write,
// or store for the settings the processor keeps over a restart) while the
// link is up. A failure of the TCP connection passes through as LinkError.
SendResult send_unit(DeviceLink& link, const ParameterImage& image, const WriteUnit& unit);
SendResult send_unit(DeviceLink& link, const ParameterImage& image, UnitKind kind, int index = 0);

}  // namespace tk770
