#include "cli/ImageJson.h"

#include "core/cp936.h"
#include "core/field_table.h"

#include <QJsonArray>


namespace tk770 {

namespace {

QJsonValue elementValue(const ParameterImage& image, const FieldRef& ref)
{
    if (ref.field->kind == FieldKind::text) {
        const char* at = reinterpret_cast<const char*>(image.data() + ref.offset);
        return QString::fromStdString(cp936_field_to_utf8(at, static_cast<std::size_t>(ref.field->size)));
    }
    return field_number(image, ref);
}

QJsonValue fieldValue(const ParameterImage& image, const Field& f, int i)
{
    auto ref = [&](int a, int b) {
        return FieldRef{&f, {a, b}, f.offset + a * f.stride[0] + b * f.stride[1]};
    };
    if (f.rank == 0) return elementValue(image, ref(0, 0));
    if (f.rank == 1 && i >= 0) return elementValue(image, ref(i, 0));
    if (f.rank == 1) {
        QJsonArray values;
        for (int a = 0; a < f.extent[0]; ++a) values.append(elementValue(image, ref(a, 0)));
        return values;
    }
    QJsonArray rows;
    for (int a = 0; a < f.extent[0]; ++a) {
        QJsonArray row;
        for (int b = 0; b < f.extent[1]; ++b) row.append(elementValue(image, ref(a, b)));
        rows.append(row);
    }
    return rows;
}

// A device text as printed on a terminal: control characters are shown, not obeyed.
QString shown(const char* at, std::size_t size)
{
    return QString::fromStdString(escape_controls(cp936_field_to_utf8(at, size)));
}

}  // namespace

QString deviceIpString(const DeviceIpText& deviceIp)
{
    return QString::fromStdString(cp936_field_to_utf8(deviceIp.data(), deviceIp.size()));
}

QJsonObject imageToJson(const ParameterImage& image, const DeviceIpText& deviceIp, bool withDeviceFields)
{
    QJsonObject json;
    for (const Field& f : field_table()) {
        if (!f.in_project && !withDeviceFields) continue;
        const QString name = QString::fromLatin1(f.name.data(), static_cast<qsizetype>(f.name.size()));
        if (f.member.empty()) {
            json.insert(name, fieldValue(image, f, -1));
            continue;
        }
        // Record members are gathered into one object per record index.
        QJsonArray records = json.value(name).toArray();
        const QString member = QString::fromLatin1(f.member.data(), static_cast<qsizetype>(f.member.size()));
        for (int i = 0; i < f.extent[0]; ++i) {
            QJsonObject record = i < records.size() ? records.at(i).toObject() : QJsonObject{};
            record.insert(member, fieldValue(image, f, i));
            if (i < records.size())
                records.replace(i, record);
            else
                records.append(record);
        }
        json.insert(name, records);
    }
    json.insert(QStringLiteral("device_ip_text"), deviceIpString(deviceIp));
    return json;
}

QStringList fieldDifferences(const ParameterImage& a, const ParameterImage& b, bool withProfileTexts)
{
    QStringList lines;
    for_each_field_element([&](const FieldRef& ref) {
        if (ref.field->in_project) {
            const int va = field_number(a, ref);
            const int vb = field_number(b, ref);
            if (va != vb)
                lines << QStringLiteral("%1: %2 -> %3").arg(QString::fromStdString(ref.name())).arg(va).arg(vb);
            return;
        }
        if (!withProfileTexts || ref.field->name != "profile_text") return;
        // A text is what it reads as: the bytes up to its terminating zero.
        const std::string ta = field_text(a, ref);
        const std::string tb = field_text(b, ref);
        if (ta != tb)
            lines << QStringLiteral("%1: \"%2\" -> \"%3\"")
                         .arg(QString::fromStdString(ref.name()), shown(ta.data(), ta.size()), shown(tb.data(), tb.size()));
    });
    return lines;
}

QStringList projectDifferences(const ParameterImage& a, const DeviceIpText& ipA, const ParameterImage& b,
                               const DeviceIpText& ipB)
{
    QStringList lines = fieldDifferences(a, b, false);
    const QString ta = shown(ipA.data(), ipA.size());
    const QString tb = shown(ipB.data(), ipB.size());
    if (ta != tb) lines << QStringLiteral("device_ip_text: \"%1\" -> \"%2\"").arg(ta, tb);
    return lines;
}

}  // namespace tk770
