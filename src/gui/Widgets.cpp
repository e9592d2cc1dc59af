#include "gui/Widgets.h"

#include <QEnterEvent>
#include <QPainter>
#include <QResizeEvent>

namespace tk770 {

namespace {
const char* const tag_property = "tag";
const char* const color_property = "fontColor";

// Lays out `items` in `columns` equal columns below the group title, rows
// filling the remaining height.
template <typename Button>
void arrangeGrid(QGroupBox* box, const QList<Button*>& items, int columns)
{
    if (items.isEmpty() || columns < 1) return;
    const int top = box->title().isEmpty() ? 2 : 16;
    const int left = 6;
    const int rows = (static_cast<int>(items.size()) + columns - 1) / columns;
    const int cellW = (box->width() - 2 * left) / columns;
    const int cellH = std::max(18, (box->height() - top - 2) / std::max(rows, 1));
    for (int i = 0; i < items.size(); ++i) {
        const int row = i / columns;
        const int col = i % columns;
        items[i]->setGeometry(left + col * cellW, top + row * cellH, cellW, std::min(cellH, 22));
    }
}
}  // namespace

int tagOf(const QObject* control)
{
    if (!control) return -1;
    const QVariant v = control->property(tag_property);
    return v.isValid() ? v.toInt() : -1;
}

void setTag(QObject* control, int tag) { control->setProperty(tag_property, tag); }

void setFontColor(QWidget* control, int colorValue)
{
    const QColor c(colorValue & 0xFF, (colorValue >> 8) & 0xFF, (colorValue >> 16) & 0xFF);
    QPalette p = control->palette();
    p.setColor(QPalette::ButtonText, c);
    p.setColor(QPalette::WindowText, c);
    p.setColor(QPalette::Text, c);
    control->setPalette(p);
    control->setProperty(color_property, colorValue);
}

int fontColor(const QWidget* control)
{
    const QVariant v = control->property(color_property);
    return v.isValid() ? v.toInt() : 0;
}

// ---- RadioGroup ----

RadioGroup::RadioGroup(const QString& title, const QStringList& items, int columns, QWidget* parent)
    : QGroupBox(title, parent), m_columns(columns)
{
    m_group.setExclusive(true);
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items[i], this);
        m_group.addButton(b, i);
        m_buttons.append(b);
    }
    // Only the button that becomes checked reports, so one change is one signal.
    connect(&m_group, &QButtonGroup::idToggled, this, [this](int id, bool on) {
        if (on) emit itemIndexChanged(id);
    });
}

int RadioGroup::itemIndex() const { return m_group.checkedId(); }

void RadioGroup::setItemIndex(int index)
{
    if (index < 0 || index >= m_buttons.size()) return;
    m_buttons[index]->setChecked(true);
}

void RadioGroup::setItemText(int index, const QString& text)
{
    if (auto* b = m_buttons.value(index)) b->setText(text);
}

void RadioGroup::arrange() { arrangeGrid(this, m_buttons, m_columns); }

void RadioGroup::resizeEvent(QResizeEvent* event)
{
    QGroupBox::resizeEvent(event);
    arrange();
}

// ---- CheckGroup ----

CheckGroup::CheckGroup(const QString& title, const QStringList& items, int columns, QWidget* parent)
    : QGroupBox(title, parent), m_columns(columns)
{
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QCheckBox(items[i], this);
        m_boxes.append(b);
        connect(b, &QCheckBox::toggled, this, [this, i](bool on) { emit itemToggled(i, on); });
    }
}

bool CheckGroup::checked(int index) const
{
    const auto* b = m_boxes.value(index);
    return b && b->isChecked();
}

void CheckGroup::setChecked(int index, bool on)
{
    if (auto* b = m_boxes.value(index)) b->setChecked(on);
}

void CheckGroup::resizeEvent(QResizeEvent* event)
{
    QGroupBox::resizeEvent(event);
    arrangeGrid(this, m_boxes, m_columns);
}

// ---- SideChannel ----

SideChannel::SideChannel(Edge edge, int openWidth, QWidget* parent)
    : QFrame(parent), m_edge(edge), m_openWidth(openWidth)
{
    setObjectName(QStringLiteral("sideChannel"));
    setAttribute(Qt::WA_StyledBackground, true);
    setAutoFillBackground(true);
    m_content = new QWidget(this);
    m_content->setObjectName(QStringLiteral("sideContent"));
    m_title = new QLabel(m_content);
    m_title->setObjectName(QStringLiteral("sideTitle"));
    const int inner = edge == Edge::left ? 0 : bar_width;
    m_title->setGeometry(inner, 0, openWidth - bar_width, title_height);
    m_title->setIndent(6);
    m_title->setAutoFillBackground(false);
    m_pin = new QToolButton(m_content);
    m_pin->setObjectName(QStringLiteral("sidePin"));
    m_pin->setCheckable(true);
    m_pin->setText(QStringLiteral("○"));
    m_pin->setToolTip(QStringLiteral("Pin"));
    m_pin->setGeometry(inner + openWidth - bar_width - 24, 2, 20, 20);
    connect(m_pin, &QToolButton::toggled, this, [this](bool on) {
        m_pin->setText(on ? QStringLiteral("●") : QStringLiteral("○"));
        if (!on && !underMouse()) close();
    });
}

void SideChannel::setBand(int top, int height)
{
    m_top = top;
    m_height = height;
    place();
}

void SideChannel::setCaption(const QString& text) { m_title->setText(text); }

bool SideChannel::isPinned() const { return m_pin->isChecked(); }

void SideChannel::setPinned(bool pinned) { m_pin->setChecked(pinned); }

void SideChannel::open()
{
    if (m_open) return;
    m_open = true;
    place();
    raise();
}

void SideChannel::close()
{
    if (!m_open || isPinned()) return;
    m_open = false;
    place();
}

void SideChannel::place()
{
    const int w = m_open ? m_openWidth : bar_width;
    const int parentW = parentWidget() ? parentWidget()->width() : m_openWidth;
    const int x = m_edge == Edge::left ? 0 : parentW - w;
    setGeometry(x, m_top, w, m_height);
    m_content->setGeometry(0, 0, m_openWidth, m_height);
    m_content->setVisible(m_open);
    update();
}

void SideChannel::enterEvent(QEnterEvent* event)
{
    QFrame::enterEvent(event);
    if (window()->isActiveWindow()) open();
}

void SideChannel::leaveEvent(QEvent* event)
{
    QFrame::leaveEvent(event);
    close();
}

void SideChannel::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    QPainter p(this);
    const QColor bar(0x2f, 0x6f, 0xb5);
    const int x = m_edge == Edge::left ? width() - bar_width : 0;
    p.fillRect(x, 0, bar_width, height(), bar);
    // A grip of three dots tells the operator the bar opens.
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    for (int i = -1; i <= 1; ++i) p.drawEllipse(QPointF(x + bar_width / 2.0, height() / 2.0 + 8 * i), 1.5, 1.5);
}

// ---- ScaleLabel ----

ScaleLabel::ScaleLabel(const QString& text, double firstCentre, double pitch, QWidget* parent)
    : QLabel(text, parent), m_first(firstCentre), m_pitch(pitch)
{
}

void ScaleLabel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    p.setFont(font());
    const QStringList words = text().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QFontMetrics fm(font());
    for (int i = 0; i < words.size(); ++i) {
        const int w = fm.horizontalAdvance(words[i]);
        const int x = static_cast<int>(m_first + i * m_pitch - w / 2.0);
        p.drawText(QRect(x, 0, w + 1, height()), Qt::AlignCenter, words[i]);
    }
}

// ---- TabControl ----

TabControl::TabControl(QWidget* parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("tabPage"));
    setAttribute(Qt::WA_StyledBackground, true);
    m_tabs = new QTabBar(this);
    m_tabs->setExpanding(true);
    m_tabs->setDrawBase(false);
}

void TabControl::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    m_tabs->setGeometry(0, 0, width(), strip_height);
}

// ---- PaintBox ----

PaintBox::PaintBox(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent, true); }

void PaintBox::setPicture(const QImage& picture)
{
    m_picture = picture;
    update();
}

void PaintBox::paintEvent(QPaintEvent*)
{
    ++m_paintCount;
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    if (!m_picture.isNull()) p.drawImage(0, 0, m_picture);
}

}  // namespace tk770
