#include "gui/Profile.h"

#include "core/captions.h"
#include "core/cp936.h"
#include "gui/DialogSupport.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QValidator>

#include <cstring>

namespace {

// A field holds its text and a terminating zero.
constexpr std::size_t maxTextBytes = tk770::profile_text_size - 1;

constexpr int titlePair = tk770::pair_profile_title;
constexpr int firstFieldLabelPair = tk770::pair_profile_field_labels;
constexpr int theatreHeadingPair = tk770::pair_theater_heading;
constexpr int deviceHeadingPair = tk770::pair_device_heading;
constexpr int modelLinePair = tk770::pair_device_model_line;
constexpr int serialLinePair = tk770::pair_device_serial_line;
constexpr int versionLinePair = tk770::pair_firmware_version_line;
constexpr int dateLinePair = tk770::pair_firmware_date_line;

const char* const designFieldLabels[tk770::profile_text_count] = {
    "数字播放器1：", "数字播放器2：", "电影院名称：", "电影厅名称：",
    "银幕号：",     "放映机型号：", "自动化系统：", "备注：",
};
constexpr int fieldLabelTops[tk770::profile_text_count] = {78, 110, 143, 175, 208, 240, 273, 306};
constexpr int editTops[tk770::profile_text_count] = {75, 107, 139, 171, 203, 235, 267, 299};

// Refuses an edit whose text would not fit its field as whole code-page-936
// characters, so the operator sees at once what the processor will keep.
class FieldValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override
    {
        return tk770::fits_cp936(input.toStdString(), maxTextBytes) ? Acceptable : Invalid;
    }
};

QString fieldText(const char* field, std::size_t size)
{
    return QString::fromStdString(tk770::cp936_field_to_utf8(field, size));
}

QLabel* makeLabel(const char* text, const char* name, int left, int top, int width, QWidget* parent)
{
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->move(left, top);
    if (width > 0) label->setFixedWidth(width);
    return label;
}

}  // namespace

TForm5::TForm5(tk770::ParameterImage& image, QWidget* parent) : QDialog(parent), m_image(image)
{
    setObjectName(QStringLiteral("TForm5"));
    setWindowTitle(QStringLiteral("概述文件"));
    setFixedSize(710, 348);

    auto* bevel1 = new QFrame(this);
    bevel1->setObjectName(QStringLiteral("Bevel1"));
    bevel1->setFrameStyle(QFrame::Box | QFrame::Raised);
    bevel1->setGeometry(24, 48, 337, 295);
    auto* bevel2 = new QFrame(this);
    bevel2->setObjectName(QStringLiteral("Bevel2"));
    bevel2->setFrameStyle(QFrame::Box | QFrame::Raised);
    bevel2->setGeometry(368, 48, 337, 294);

    m_staticText1 = makeLabel("剧院信息：", "StaticText1", 41, 42, 0, this);
    m_staticText10 = makeLabel("设备信息：", "StaticText10", 385, 42, 0, this);
    m_staticText12 = makeLabel("设备型号：", "StaticText12", 392, 78, 289, this);
    m_staticText11 = makeLabel("设备序列号：", "StaticText11", 392, 110, 289, this);
    m_staticText13 = makeLabel("固件版本：", "StaticText13", 392, 142, 289, this);
    m_staticText14 = makeLabel("固件发布：", "StaticText14", 392, 175, 289, this);
    m_staticText15 = makeLabel("软件版本： V2.2   09-11-04", "StaticText15", 393, 206, 289, this);

    auto* image1 = new QLabel(this);
    image1->setObjectName(QStringLiteral("Image1"));
    image1->setGeometry(445, 225, 193, 112);

    auto* validator = new FieldValidator(this);
    for (int i = 0; i < tk770::profile_text_count; ++i) {
        const QByteArray labelName = "StaticText" + QByteArray::number(i + 2);
        m_fieldLabels[i] = makeLabel(designFieldLabels[i], labelName.constData(), 40, fieldLabelTops[i], 0, this);

        auto* box = new QLineEdit(this);
        box->setObjectName(QStringLiteral("Edit%1").arg(i + 1));
        box->setGeometry(152, editTops[i], 185, 21);
        box->setValidator(validator);
        // textChanged, not textEdited: the decode sets the boxes from code
        // and relies on the handler copying the text back.
        connect(box, &QLineEdit::textChanged, this, [this, i] { editChange(i); });
        m_edits[i] = box;
    }
}

void TForm5::showDialog()
{
    tk770::showModeless(this);
}

void TForm5::editChange(int field)
{
    QLineEdit* box = m_edits[field];
    auto converted = tk770::utf8_to_cp936_field(box->text().toStdString(), maxTextBytes);
    if (!converted) {
        // Only text set from code can get here (the validator stops typing):
        // keep the field as it is rather than store something else.
        return;
    }
    char* target = m_image.profile_text[field];
    std::memcpy(target, converted->bytes.data(), converted->bytes.size());
    target[converted->bytes.size()] = '\0';
    if (converted->truncated) {
        // A field that arrived with 40 text bytes keeps 39 and its zero; the
        // box shows what the field now holds.
        const QSignalBlocker blocker(box);
        box->setText(fieldText(target, tk770::profile_text_size));
    }
}

void TForm5::decodeDeviceInformation()
{
    for (int k = 0; k < tk770::profile_text_count; ++k) {
        const QString text = fieldText(m_image.profile_text[k], tk770::profile_text_size);
        if (m_edits[k]->text() == text)
            editChange(k);  // an unchanged text raises no signal; copy back all the same
        else
            m_edits[k]->setText(text);
    }
    const auto line = [](std::string_view prefix, const char* field) {
        return QString::fromStdString(std::string(prefix)) + fieldText(field, tk770::device_info_size);
    };
    m_staticText12->setText(line(tk770::device_model_prefix, m_image.device_model));
    m_staticText11->setText(line(tk770::device_serial_prefix, m_image.device_serial));
    m_staticText13->setText(line(tk770::firmware_version_prefix, m_image.firmware_version));
    m_staticText14->setText(line(tk770::firmware_date_prefix, m_image.firmware_date));
}

void TForm5::applyLanguage(int language)
{
    using tk770::captionText;
    setWindowTitle(captionText(titlePair, language));
    m_staticText1->setText(captionText(theatreHeadingPair, language));
    for (int i = 0; i < tk770::profile_text_count; ++i)
        m_fieldLabels[i]->setText(captionText(firstFieldLabelPair + i, language));
    m_staticText10->setText(captionText(deviceHeadingPair, language));
    m_staticText12->setText(captionText(modelLinePair, language));
    m_staticText11->setText(captionText(serialLinePair, language));
    m_staticText13->setText(captionText(versionLinePair, language));
    m_staticText14->setText(captionText(dateLinePair, language));
}
