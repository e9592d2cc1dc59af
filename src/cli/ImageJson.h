// The parameter image as JSON, and the field-by-field comparison of two
// projects. Both walk the shared field table, so a field added to the image
// shows up here without further work.
#pragma once

#include "core/parameter_image.h"
#include "core/project_file.h"

#include <QJsonObject>
#include <QStringList>

#include <array>

namespace tk770 {

using DeviceIpText = std::array<char, tk770::device_ip_text_size>;

// One key per field name: numbers, arrays for indexed fields, arrays of
// objects for records, UTF-8 strings for texts, plus "device_ip_text".
// With `withDeviceFields` the profile texts and device information (which a
// project file does not hold) are included too.
QJsonObject imageToJson(const tk770::ParameterImage& image, const DeviceIpText& deviceIp, bool withDeviceFields);

// "field: a -> b" for every project field that differs, in table order.
// With `withProfileTexts` the profile texts follow, as
// 'profile_text[k]: "a" -> "b"' (control characters escaped): a download
// sends them too, so a check of one compares them. Empty when equal.
QStringList fieldDifferences(const tk770::ParameterImage& a, const tk770::ParameterImage& b, bool withProfileTexts);

// fieldDifferences() of the project fields, then device_ip_text. Empty when
// the projects hold the same settings.
QStringList projectDifferences(const tk770::ParameterImage& a, const DeviceIpText& ipA,
                               const tk770::ParameterImage& b, const DeviceIpText& ipB);

// The text of a zero-terminated device_ip_text as UTF-8.
QString deviceIpString(const DeviceIpText& deviceIp);

}  // namespace tk770
