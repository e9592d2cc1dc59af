// Small widgets the main window needs where Qt has no direct equivalent.
//
// The window's whole design rests on one toolkit property: setting a
// position, a check state or a selection from code runs the control's
// handler synchronously when the value changes, while setting a text or a
// colour runs nothing. The groups below therefore emit their change signals
// from the state change itself (toggled), never from a click.
#pragma once

#include <QButtonGroup>
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QList>
#include <QRadioButton>
#include <QTabBar>
#include <QToolButton>
#include <QWidget>

class QEnterEvent;

namespace tk770 {

// Integer tag of a control (its index within its family); -1 when unset.
int tagOf(const QObject* control);
void setTag(QObject* control, int tag);

// Text colour as the refresh sets it: a colour value 0x00BBGGRR, so 255 is
// pure red and 0 black.
void setFontColor(QWidget* control, int colorValue);
int fontColor(const QWidget* control);

// A titled group of mutually exclusive choices with an item index; -1 means
// nothing selected.
class RadioGroup : public QGroupBox {
    Q_OBJECT
public:
    RadioGroup(const QString& title, const QStringList& items, int columns, QWidget* parent = nullptr);

    int itemIndex() const;
    // Out-of-range indices are ignored (the selection stays as it is).
    void setItemIndex(int index);
    int count() const { return static_cast<int>(m_buttons.size()); }
    QRadioButton* item(int index) const { return m_buttons.value(index); }
    void setItemText(int index, const QString& text);

signals:
    // Raised whenever the selection changes, by code or by the operator.
    void itemIndexChanged(int index);

private:
    void arrange();
    void resizeEvent(QResizeEvent* event) override;

    QButtonGroup m_group;
    QList<QRadioButton*> m_buttons;
    int m_columns;
};

// A titled group of independent check boxes.
class CheckGroup : public QGroupBox {
    Q_OBJECT
public:
    CheckGroup(const QString& title, const QStringList& items, int columns, QWidget* parent = nullptr);

    bool checked(int index) const;
    void setChecked(int index, bool on);
    int count() const { return static_cast<int>(m_boxes.size()); }
    QCheckBox* item(int index) const { return m_boxes.value(index); }

signals:
    void itemToggled(int index, bool on);

private:
    void resizeEvent(QResizeEvent* event) override;

    QList<QCheckBox*> m_boxes;
    int m_columns;
};

// A panel that rests as a narrow bar at one edge of its window and opens
// over the window while the mouse is on it, or while its pin is down.
// Children are laid out for the open panel and simply clipped while closed.
class SideChannel : public QFrame {
    Q_OBJECT
public:
    enum class Edge { left, right };
    static constexpr int bar_width = 10;
    static constexpr int title_height = 24;

    SideChannel(Edge edge, int openWidth, QWidget* parent);

    // Places the panel: the rest of its geometry follows from the edge and
    // the open width.
    void setBand(int top, int height);
    void setCaption(const QString& text);
    QString caption() const { return m_title->text(); }
    bool isOpen() const { return m_open; }
    bool isPinned() const;
    void setPinned(bool pinned);
    QToolButton* pinButton() const { return m_pin; }
    // Parent of the panel's controls, in coordinates of the open panel.
    QWidget* content() const { return m_content; }
    void open();
    void close();

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void place();

    Edge m_edge;
    int m_openWidth;
    int m_top = 0;
    int m_height = 0;
    bool m_open = false;
    QWidget* m_content;
    QLabel* m_title;
    QToolButton* m_pin;
};

// A strip of tabs over one shared page: every tab shows the same controls,
// the code repaints them for the selected channel.
class TabControl : public QFrame {
    Q_OBJECT
public:
    static constexpr int strip_height = 24;
    explicit TabControl(QWidget* parent = nullptr);

    QTabBar* tabs() const { return m_tabs; }
    int tabIndex() const { return m_tabs->currentIndex(); }
    void setTabIndex(int index) { m_tabs->setCurrentIndex(index); }

private:
    void resizeEvent(QResizeEvent* event) override;
    QTabBar* m_tabs;
};

// A scale caption whose words stand at fixed pitch over the marks they
// name. The text itself is the exact design caption; its blanks were
// spacing for one particular font, so the words are placed by position.
class ScaleLabel : public QLabel {
    Q_OBJECT
public:
    // The centre of word i lies at firstCentre + i * pitch.
    ScaleLabel(const QString& text, double firstCentre, double pitch, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double m_first;
    double m_pitch;
};

// The drawing surface of the response graph: shows the last drawn picture.
class PaintBox : public QWidget {
    Q_OBJECT
public:
    explicit PaintBox(QWidget* parent = nullptr);
    void setPicture(const QImage& picture);
    const QImage& picture() const { return m_picture; }
    int paintCount() const { return m_paintCount; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_picture;
    int m_paintCount = 0;
};

}  // namespace tk770
