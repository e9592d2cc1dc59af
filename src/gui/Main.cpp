#include "gui/Main.h"
#include "gui/MainSupport.h"

#include <QApplication>
#include <QEvent>
#include <QFrame>
#include <QGroupBox>
#include <QPainter>
#include <QPainterPath>
#include <QMessageBox>
#include <QScreen>
#include <QStyle>

using tk770::setTag;
using tk770::setFontColor;

using tk770::RadioGroup;
using tk770::CheckGroup;
using tk770::SideChannel;
using tk770::TabControl;
using tk770::ScaleLabel;
using tk770::PaintBox;

namespace {

// Design captions of the layout (the start-up refresh and the language
// switch replace some of them).
const char* const band_scale_texts[5] = {"+6", "+3", "0", "-3", "-6"};
const int band_scale_tops[5] = {64, 89, 111, 133, 155};
const char* const graph_scale_texts[5] = {"+10", "+5", "0", "-5", "-10"};
const int graph_scale_tops[5] = {213, 261, 309, 356, 404};
const char* const band_frequency_labels =
    "40     50      63     80    100    125    160   200   250   315   400   500   630  800    1K    "
    "1.25K  1.6K   2K   2.5K 3.15K   4K     5K   6.3K    8K    10K  12.5K  16K ";
const char* const graph_frequency_labels =
    "20      25      31      40     50      63     80    100    125    160   200   250   315   400   500   "
    "630  800    1K    1.25K  1.6K   2K   2.5K 3.15K   4K     5K   6.3K    8K    10K  12.5K  16K    20K";
const char* const level_scale_text =
    "0         1.0      2.0      3.0     4.0      5.0      6.0      7.0      8.0      9.0      10.0";
const int gain_slider_lefts[8] = {47, 124, 202, 280, 358, 436, 514, 592};
const int delay_slider_lefts[8] = {69, 146, 224, 302, 380, 458, 536, 614};
const int readout_lefts[8] = {32, 109, 186, 264, 341, 419, 496, 574};
const int button_lefts[8] = {32, 109, 186, 264, 340, 418, 496, 574};
const int test_box_lefts[8] = {32, 107, 185, 265, 339, 419, 498, 576};

using tk770::slider_range;
using tk770::SliderControl;

// The range comes from the slider's row of the control table.
QSlider* makeSlider(QWidget* parent, Qt::Orientation o, int x, int y, int w, int h, std::pair<int, int> range,
                    int value, int tick, int tag = -1)
{
    auto* s = new QSlider(o, parent);
    s->setGeometry(x, y, w, h);
    s->setRange(range.first, range.second);
    s->setValue(value);
    s->setTickInterval(tick);
    s->setPageStep(tick);
    if (o == Qt::Vertical) {
        // Position 0 is the top, as the image mappings (60 - gain) expect.
        s->setInvertedAppearance(true);
        s->setInvertedControls(true);
    }
    if (tag >= 0) setTag(s, tag);
    return s;
}

QLabel* makeLabel(QWidget* parent, const QString& text, int x, int y, int w = -1, int h = 16)
{
    auto* l = new QLabel(text, parent);
    if (w < 0) w = std::max(12, l->fontMetrics().horizontalAdvance(text) + 4);
    l->setGeometry(x, y, w, h);
    return l;
}

QLineEdit* makeReadout(QWidget* parent, const QString& text, int x, int y, int w = 37, int h = 16)
{
    auto* e = new QLineEdit(text, parent);
    e->setReadOnly(true);
    e->setFocusPolicy(Qt::NoFocus);
    e->setAlignment(Qt::AlignCenter);
    e->setGeometry(x, y, w, h);
    e->setProperty("readout", true);
    return e;
}

QPushButton* makeButton(QWidget* parent, const QString& text, int x, int y, int w, int h, int tag = -1)
{
    auto* b = new QPushButton(text, parent);
    b->setGeometry(x, y, w, h);
    b->setFocusPolicy(Qt::TabFocus);
    if (tag >= 0) setTag(b, tag);
    setFontColor(b, 0);
    return b;
}

QCheckBox* makeCheck(QWidget* parent, const QString& text, int x, int y, int w, int h, bool on, int tag = -1)
{
    auto* c = new QCheckBox(text, parent);
    c->setGeometry(x, y, w, h);
    c->setChecked(on);
    if (tag >= 0) setTag(c, tag);
    return c;
}

QAction* makeItem(QMenu* menu, const char* name, const QString& text, int tag = -1)
{
    auto* a = menu->addAction(text);
    a->setObjectName(QString::fromLatin1(name));
    if (tag >= 0) setTag(a, tag);
    return a;
}

QFrame* makeFrame(QWidget* parent, int x, int y, int w, int h)
{
    auto* f = new QFrame(parent);
    f->setObjectName(QStringLiteral("groupFrame"));
    f->setAttribute(Qt::WA_StyledBackground, true);
    f->setGeometry(x, y, w, h);
    return f;
}

QPixmap logoPicture(int w, int h)
{
    QPixmap pm(w, h);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, w, h);
    g.setColorAt(0, QColor(0x1d, 0x3f, 0x6e));
    g.setColorAt(1, QColor(0x2f, 0x6f, 0xb5));
    QPainterPath path;
    path.addRoundedRect(QRectF(1, 1, w - 2, h - 2), 6, 6);
    p.fillPath(path, g);
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(h / 2);
    f.setLetterSpacing(QFont::PercentageSpacing, 110);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRect(0, 0, w, h), Qt::AlignCenter, QStringLiteral("TK770"));
    return pm;
}

}  // namespace

TForm1::TForm1(const QString& tcpHost, QWidget* parent) : QWidget(parent), m_hostOverride(tcpHost)
{
    setObjectName(QStringLiteral("Form1"));
    setFixedSize(client_width, client_height);
    m_link = std::make_unique<tk770::DeviceLink>(m_linkState, nullptr, nullptr, this);
    m_runDialog = [](QFileDialog* d) {
        return d->exec() == QDialog::Accepted && !d->selectedFiles().isEmpty() ? d->selectedFiles().first()
                                                                               : QString();
    };
    m_runQuestion = [](QMessageBox* box) {
        box->exec();
        return box->clickedButton();
    };
    m_listPorts = &TForm1::machinePortsOfThisComputer;

    applyTheme();
    buildMainArea();
    buildChannelPage();
    paintGraphBackground();
    buildFilterPanel();
    buildMasterSection();
    buildStatusBar();
    buildInputPanel();
    buildOutputPanel();
    buildMenus();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(100);
    OpenDialog1 = new QFileDialog(this);
    OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
    OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog1->setFileMode(QFileDialog::ExistingFile);
    SaveDialog1 = new QFileDialog(this);
    SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    for (QFileDialog* d : {OpenDialog1, SaveDialog1}) {
        d->setDefaultSuffix(QStringLiteral("qsdat"));
        d->setNameFilter(QStringLiteral("*.qsdat"));
    }

    // Design values are in place; from here on every change runs a handler.
    buildControlTable();
    connectHandlers();
    FormCreate();
    createDevicePartsAndDialogs();

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect avail = screen->availableGeometry();
        move(avail.center() - rect().center());
    }
}

TForm1::~TForm1() = default;

void TForm1::setTransports(tk770::SerialTransport* serial, tk770::TcpTransport* tcp)
{
    m_link->set_serial(serial);
    m_link->set_tcp(tcp);
}

void TForm1::FormCreate()
{
    m_linkState.connected = 0;

    m_currentFileName = std::string(tk770::untitled_project_name);
    N2Click(nullptr);
    Language = tk770::language_chinese;
    m_tcpHost = QString::fromLatin1(default_tcp_host);
    // --host only replaces the start-up host; the device IP dialog may
    // replace it again later.
    if (!m_hostOverride.isEmpty()) m_tcpHost = m_hostOverride;
}

QString TForm1::caption(int pair) const
{
    return QString::fromUtf8(tk770::caption(pair, Language).data(),
                             static_cast<qsizetype>(tk770::caption(pair, Language).size()));
}

QString TForm1::messageText() const { return StatusPanel0->text(); }
QString TForm1::linkText() const { return StatusPanel1->text(); }

void TForm1::set_message_text(std::string_view text)
{
    StatusPanel0->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    StatusPanel0->setToolTip({});
}

void TForm1::set_link_text(std::string_view text)
{
    StatusPanel1->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

// ---------------------------------------------------------------- layout

void TForm1::applyTheme()
{
    // A light flat theme: white pages on a cool grey ground, one blue accent.
    // Button and check texts take their colour from the palette, because the
    // refresh marks active states by setting it to pure red.
    setStyleSheet(QStringLiteral(R"(
        QWidget#Form1 { background: #e9edf2; }
        QLabel#suiForm1 { background: #1d3f6e; color: white; font-weight: bold; padding-left: 10px; }
        QMenuBar { background: #f7f9fb; border-bottom: 1px solid #c9d1db; }
        QMenuBar::item { padding: 2px 10px; background: transparent; }
        QMenuBar::item:selected { background: #dbe7f5; }
        QMenu { background: white; border: 1px solid #b8c2ce; }
        QMenu::item { padding: 4px 22px 4px 24px; }
        QMenu::item:selected { background: #2f6fb5; color: white; }
        QMenu::item:disabled { color: #9aa5b1; }
        QFrame#tabPage { background: white; border: 1px solid #c9d1db; }
        QTabBar::tab { background: #eef2f6; border: 1px solid #c9d1db; border-bottom: none;
                       padding: 3px 4px; margin-right: 1px; }
        QTabBar::tab:selected { background: white; border-top: 2px solid #2f6fb5; font-weight: bold; }
        QFrame#groupFrame { background: #f7f9fb; border: 1px solid #c9d1db; border-radius: 4px; }
        QFrame#Panel1 { background: white; border: 1px solid #c9d1db; }
        QWidget#sideContent { background: #f2f5f8; }
        QLabel#sideTitle { color: white; font-weight: bold; background: #2f6fb5; }
        QToolButton#sidePin { border: none; background: transparent; }
        QToolButton#sidePin:checked { background: #1d3f6e; border-radius: 3px; }
        QPushButton { background: #fbfcfd; border: 1px solid #aab5c2; border-radius: 4px; padding: 2px; }
        QPushButton:hover { background: #e6eef8; border-color: #2f6fb5; }
        QPushButton:pressed { background: #d3e1f2; }
        QPushButton[formatButton="true"] { font-size: 13px; font-weight: bold; }
        QLabel[scale="true"] { font-size: 9px; color: #444; }
        QLineEdit[readout="true"] { background: #f4f6f8; border: 1px solid #c9d1db; border-radius: 2px;
                                    font-size: 10px; padding: 0px; }
        QGroupBox { border: 1px solid #c9d1db; border-radius: 4px; margin-top: 6px; }
        QGroupBox::title { subcontrol-origin: margin; left: 6px; padding: 0 2px; }
        QStatusBar { background: #1d3f6e; }
        QStatusBar QLabel { color: white; padding-left: 4px; }
        QStatusBar::item { border: none; border-right: 1px solid #4a6a95; }
        QComboBox { background: white; border: 1px solid #aab5c2; border-radius: 3px; padding: 1px 4px; }
    )"));
}

void TForm1::buildMainArea()
{
    suiForm1 = new QLabel(this);
    suiForm1->setObjectName(QStringLiteral("suiForm1"));
    suiForm1->setGeometry(0, 0, client_width, 33);

    Image2 = new QLabel(this);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setGeometry(735, 46, 138, 44);
    Image2->setPixmap(logoPicture(138, 44));
    Image2->setScaledContents(true);
    Image2->installEventFilter(this);

    const int tops[5] = {83, 182, 281, 380, 480};
    QPushButton** buttons[5] = {&suiButton1, &suiButton2, &suiButton3, &suiButton4, &suiButton5};
    for (int f = 0; f < 5; ++f) {
        // The format refresh at start-up captions them by source.
        *buttons[f] = makeButton(this, caption(tk770::pair_input_group_titles + f), 21, tops[f], 120, 64, f);
        (*buttons[f])->setProperty("formatButton", true);
        (*buttons[f])->setObjectName(QStringLiteral("suiButton%1").arg(f + 1));
    }

    suiTabControl1 = new TabControl(this);
    suiTabControl1->setObjectName(QStringLiteral("suiTabControl1"));
    suiTabControl1->setGeometry(153, 85, 769, 457);
    for (int t = 0; t < 8; ++t) {
        const QString text = t == 5   ? tk770::qs(tk770::startup_back_left_tab)
                             : t == 6 ? tk770::qs(tk770::startup_back_right_tab)
                                      : caption(tk770::pair_channel_tabs + t);
        suiTabControl1->tabs()->addTab(text);
    }
    suiTabControl1->setTabIndex(0);
}

void TForm1::buildChannelPage()
{
    QWidget* page = suiTabControl1;
    QSlider** sliders[27] = {&TrackBar4,  &TrackBar5,  &TrackBar6,  &TrackBar7,  &TrackBar8,  &TrackBar9,  &TrackBar10,
                             &TrackBar11, &TrackBar12, &TrackBar13, &TrackBar14, &TrackBar15, &TrackBar16, &TrackBar17,
                             &TrackBar18, &TrackBar19, &TrackBar20, &TrackBar21, &TrackBar22, &TrackBar23, &TrackBar24,
                             &TrackBar25, &TrackBar26, &TrackBar27, &TrackBar28, &TrackBar29, &TrackBar30};
    QLineEdit** edits[27] = {&Edit4,  &Edit5,  &Edit6,  &Edit7,  &Edit8,  &Edit9,  &Edit10, &Edit11, &Edit12,
                             &Edit13, &Edit14, &Edit15, &Edit16, &Edit17, &Edit18, &Edit19, &Edit20, &Edit21,
                             &Edit22, &Edit23, &Edit24, &Edit25, &Edit26, &Edit27, &Edit28, &Edit29, &Edit30};
    for (int i = 0; i < 27; ++i) {
        *sliders[i] = makeSlider(page, Qt::Vertical, 139 + 20 * i, 63, 21, 105, slider_range(SliderControl::band), 60, 2, i);
        (*sliders[i])->setObjectName(QStringLiteral("TrackBar%1").arg(4 + i));
        *edits[i] = makeReadout(page, QStringLiteral("0.0dB"), 135 + 20 * i, i % 2 == 0 ? 185 : 169);
        (*edits[i])->setObjectName(QStringLiteral("Edit%1").arg(4 + i));
    }
    // Band i's slider is centred at 149 + 20 i; the label starts 10 pixels
    // left of its design place so the first word is not cut off.
    StaticText68 = new ScaleLabel(QString::fromLatin1(band_frequency_labels), 12, 20, page);
    StaticText68->setGeometry(137, 48, 568, 14);
    StaticText68->setProperty("scale", true);

    QLabel** leftBand[5] = {&StaticText63, &StaticText64, &StaticText65, &StaticText66, &StaticText67};
    QLabel** rightBand[5] = {&StaticText33, &StaticText79, &StaticText80, &StaticText81, &StaticText82};
    QLabel** leftGraph[5] = {&StaticText92, &StaticText93, &StaticText94, &StaticText95, &StaticText96};
    QLabel** rightGraph[5] = {&StaticText22, &StaticText23, &StaticText24, &StaticText25, &StaticText26};
    for (int k = 0; k < 5; ++k) {
        // Band scales: left 129 is the label's right edge side of the sliders,
        // so the text is right-aligned into the gap before the first band.
        *leftBand[k] = makeLabel(page, QString::fromLatin1(band_scale_texts[k]), 115, band_scale_tops[k], 22);
        (*leftBand[k])->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        *rightBand[k] = makeLabel(page, QString::fromLatin1(band_scale_texts[k]), 688, band_scale_tops[k], 22);
        *leftGraph[k] = makeLabel(page, QString::fromLatin1(graph_scale_texts[k]), 52, graph_scale_tops[k] - 6, 23);
        (*leftGraph[k])->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        *rightGraph[k] = makeLabel(page, QString::fromLatin1(graph_scale_texts[k]), 712, graph_scale_tops[k] - 6, 24);
    }

    suiCheckBox14 = makeCheck(page, caption(tk770::pair_page_test_signal), 40, 67, 90, 19, false);
    suiButton22 = makeButton(page, tk770::qs(tk770::startup_flat), 54, 104, 65, 27);

    Image1 = new QLabel(page);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(76, 216, 634, 195);
    PaintBox1 = new PaintBox(page);
    PaintBox1->setObjectName(QStringLiteral("PaintBox1"));
    PaintBox1->setGeometry(76, 216, 634, 195);

    // 20 Hz is graph column 18 and every third octave is 20 columns on.
    StaticText72 = new ScaleLabel(QString::fromLatin1(graph_frequency_labels), 76 + 18 - 84, 20, page);
    StaticText72->setGeometry(84, 201, 625, 14);
    StaticText69 = new ScaleLabel(QString::fromLatin1(graph_frequency_labels), 76 + 18 - 84, 20, page);
    StaticText69->setGeometry(84, 413, 625, 14);
    StaticText72->setProperty("scale", true);
    StaticText69->setProperty("scale", true);

    TrackBar2 = makeSlider(page, Qt::Vertical, 40, 248, 21, 130, slider_range(SliderControl::bass_gain), 60, 5);
    StaticText27 = makeLabel(page, caption(tk770::pair_bass), 38, 230, 34);
    Edit1 = makeReadout(page, QStringLiteral("    0dB"), 33, 380, 40);
    TrackBar1 = makeSlider(page, Qt::Vertical, 723, 248, 21, 130, slider_range(SliderControl::treble_gain), 60, 5);
    StaticText28 = makeLabel(page, caption(tk770::pair_treble), 719, 230, 34);
    Edit2 = makeReadout(page, QStringLiteral("    0dB"), 713, 380, 40);

    TrackBar3 = makeSlider(page, Qt::Horizontal, 187, 428, 213, 21, slider_range(SliderControl::bass_turnover), 5, 1);
    TrackBar3->setTickPosition(QSlider::TicksBelow);
    StaticText31 = makeLabel(page, caption(tk770::pair_bass_turnover), 72, 430, 80);
    Edit3 = makeReadout(page, QStringLiteral("500Hz"), 150, 430, 36);
    TrackBar32 = makeSlider(page, Qt::Horizontal, 425, 428, 194, 21, slider_range(SliderControl::treble_turnover), 5, 1);
    TrackBar32->setTickPosition(QSlider::TicksBelow);
    StaticText32 = makeLabel(page, caption(tk770::pair_treble_turnover), 667, 430, 80);
    Edit31 = makeReadout(page, QStringLiteral("1KHz"), 622, 430, 44);

    const std::pair<QObject*, const char*> names[] = {
        {TrackBar2, "TrackBar2"},       {TrackBar1, "TrackBar1"},       {TrackBar3, "TrackBar3"},
        {TrackBar32, "TrackBar32"},     {Edit1, "Edit1"},               {Edit2, "Edit2"},
        {Edit3, "Edit3"},               {Edit31, "Edit31"},             {suiCheckBox14, "suiCheckBox14"},
        {suiButton22, "suiButton22"},   {StaticText68, "StaticText68"}, {StaticText72, "StaticText72"},
        {StaticText69, "StaticText69"}, {StaticText27, "StaticText27"}, {StaticText28, "StaticText28"},
        {StaticText31, "StaticText31"}, {StaticText32, "StaticText32"}};
    for (const auto& [o, n] : names) o->setObjectName(QString::fromLatin1(n));
}

void TForm1::buildFilterPanel()
{
    Panel1 = new QFrame(suiTabControl1);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setAttribute(Qt::WA_StyledBackground, true);
    Panel1->setGeometry(128, 48, 577, 153);
    makeFrame(Panel1, 2, 2, 233, 149);
    makeFrame(Panel1, 239, 2, 233, 149);

    const char* const cutScale[6] = {"+3", "0", "-3", "-6", "-9", "-12"};
    QLabel** leftScale[6] = {&StaticText34, &StaticText35, &StaticText36, &StaticText37, &StaticText38, &StaticText39};
    QLabel** rightScale[6] = {&StaticText40, &StaticText50, &StaticText51, &StaticText52, &StaticText53, &StaticText54};
    for (int k = 0; k < 6; ++k) {
        // Position 0..150 over the slider's 133 pixels, one label per 3 dB.
        const int y = 12 + 6 + (k * 30 * (133 - 12)) / 150 - 7;
        *leftScale[k] = makeLabel(Panel1, QString::fromLatin1(cutScale[k]), 4, y, 20);
        *rightScale[k] = makeLabel(Panel1, QString::fromLatin1(cutScale[k]), 241, y, 20);
        (*leftScale[k])->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        (*rightScale[k])->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    // The sixth scale text of the right half has no partner name in the
    // layout; StaticText55 labels the unit below both scales.
    StaticText55 = makeLabel(Panel1, QStringLiteral("dB"), 474 - 30, 133, 24);
    StaticText55->hide();

    TrackBar31 = makeSlider(Panel1, Qt::Vertical, 24, 12, 21, 133, slider_range(SliderControl::sw_cut), 30, 5, 0);
    TrackBar35 = makeSlider(Panel1, Qt::Vertical, 261, 12, 21, 133, slider_range(SliderControl::sw_cut), 30, 5, 1);
    TrackBar33 = makeSlider(Panel1, Qt::Horizontal, 64, 18, 153, 21, slider_range(SliderControl::sw_frequency), 60, 5, 0);
    TrackBar37 = makeSlider(Panel1, Qt::Horizontal, 301, 18, 153, 21, slider_range(SliderControl::sw_frequency), 80, 5, 1);
    TrackBar34 = makeSlider(Panel1, Qt::Horizontal, 65, 78, 153, 21, slider_range(SliderControl::sw_q), 1, 1, 0);
    TrackBar36 = makeSlider(Panel1, Qt::Horizontal, 301, 78, 153, 21, slider_range(SliderControl::sw_q), 1, 1, 1);
    for (QSlider* s : {TrackBar33, TrackBar37, TrackBar34, TrackBar36}) s->setTickPosition(QSlider::TicksBelow);

    Edit32 = makeReadout(Panel1, QStringLiteral("60Hz"), 163, 41, 44);
    Edit37 = makeReadout(Panel1, QStringLiteral("80Hz"), 400, 41, 44);
    Edit33 = makeReadout(Panel1, QStringLiteral("0.75"), 163, 118, 44);
    Edit36 = makeReadout(Panel1, QStringLiteral("0.75"), 400, 118, 44);
    Edit34 = makeReadout(Panel1, QStringLiteral("0"), 83, 118, 48);
    Edit35 = makeReadout(Panel1, QStringLiteral("0"), 320, 118, 48);
    for (int half = 0; half < 2; ++half) {
        const int dx = half * 237;
        makeLabel(Panel1, QStringLiteral("fc:"), 142 + dx, 41, 20);
        makeLabel(Panel1, QStringLiteral("Q:"), 146 + dx, 118, 16);
        makeLabel(Panel1, QStringLiteral("Cut:"), 58 + dx, 118, 24);
        makeLabel(Panel1, QStringLiteral("Q"), 70 + dx, 62, 16)->setProperty("scale", true);
        makeLabel(Panel1, QStringLiteral("fc"), 70 + dx, 2, 16)->setProperty("scale", true);
    }

    suiCheckBox15 = makeCheck(Panel1, caption(tk770::pair_lowpass), 485, 8, 88, 19, true);
    suiRadioGroup4 = new RadioGroup(caption(tk770::pair_lowpass_slope),
                                    {QStringLiteral("12dB/OCT"), QStringLiteral("24dB/OCT"),
                                     QStringLiteral("36dB/OCT"), QStringLiteral("48dB/OCT")},
                                    1, Panel1);
    suiRadioGroup4->setGeometry(483, 40, 88, 105);
    suiRadioGroup4->setItemIndex(1);

    const std::pair<QObject*, const char*> names[] = {
        {TrackBar31, "TrackBar31"}, {TrackBar35, "TrackBar35"},       {TrackBar33, "TrackBar33"},
        {TrackBar37, "TrackBar37"}, {TrackBar34, "TrackBar34"},       {TrackBar36, "TrackBar36"},
        {Edit32, "Edit32"},         {Edit37, "Edit37"},               {Edit33, "Edit33"},
        {Edit36, "Edit36"},         {Edit34, "Edit34"},               {Edit35, "Edit35"},
        {suiCheckBox15, "suiCheckBox15"}, {suiRadioGroup4, "suiRadioGroup4"}};
    for (const auto& [o, n] : names) o->setObjectName(QString::fromLatin1(n));
    Panel1->hide();
}

void TForm1::buildMasterSection()
{
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setGeometry(32, 551, 100, 24);
    for (int i = 0; i < 10; ++i) ComboBox1->addItem(caption(tk770::pair_fade_times + i));
    ComboBox1->setCurrentIndex(0);

    suiButton23 = makeButton(this, tk770::qs(tk770::startup_master_mute), 153, 549, 75, 25);
    suiButton23->setObjectName(QStringLiteral("suiButton23"));
    StaticText29 = makeLabel(this, tk770::qs(tk770::startup_master_volume), 232, 552, 68, 20);
    StaticText29->setObjectName(QStringLiteral("StaticText29"));
    StaticText29->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    suiTrackBar14 = makeSlider(this, Qt::Horizontal, 304, 550, 545, 20, slider_range(SliderControl::master_volume), 70, 1);
    suiTrackBar14->setObjectName(QStringLiteral("suiTrackBar14"));
    StaticText30 = makeLabel(this, QStringLiteral("7.0"), 858, 550, 36, 24);
    StaticText30->setObjectName(QStringLiteral("StaticText30"));
    StaticText30->setProperty("volume", true);
}

void TForm1::buildStatusBar()
{
    suiStatusBar1 = new QStatusBar(this);
    suiStatusBar1->setObjectName(QStringLiteral("suiStatusBar1"));
    suiStatusBar1->setSizeGripEnabled(false);
    suiStatusBar1->setGeometry(0, 586, 952, 19);
    StatusPanel0 = new QLabel(suiStatusBar1);
    StatusPanel0->setFixedWidth(600);
    StatusPanel1 = new QLabel(suiStatusBar1);
    StatusPanel1->setFixedWidth(100);
    ProcessorMemoryPanel = new QLabel(suiStatusBar1);
    ProcessorMemoryPanel->setObjectName(QStringLiteral("ProcessorMemoryPanel"));
    suiStatusBar1->addWidget(StatusPanel0);
    suiStatusBar1->addWidget(StatusPanel1);
    suiStatusBar1->addWidget(ProcessorMemoryPanel, 1);
}

void TForm1::buildInputPanel()
{
    suiSideChannel1 = new SideChannel(SideChannel::Edge::left, 297, this);
    suiSideChannel1->setObjectName(QStringLiteral("suiSideChannel1"));
    suiSideChannel1->setCaption(caption(tk770::pair_input_panel_title));
    suiSideChannel1->setBand(53, 586 - 53);
    QWidget* panel = suiSideChannel1->content();

    const int tops[5] = {28, 128, 229, 330, 431};
    QLabel** titleLabels[5] = {&StaticText42, &StaticText41, &StaticText44, &StaticText46, &StaticText48};
    QSlider** sliders[5] = {&suiTrackBar1, &suiTrackBar2, &suiTrackBar3, &suiTrackBar4, &suiTrackBar5};
    QLabel** readouts[5] = {&StaticText1, &StaticText2, &StaticText3, &StaticText4, &StaticText5};
    QCheckBox** presets[5] = {&suiCheckBox1, &suiCheckBox2, &suiCheckBox3, &suiCheckBox4, &suiCheckBox5};
    const char* const titleNames[5] = {"StaticText42", "StaticText41", "StaticText44", "StaticText46", "StaticText48"};
    for (int f = 0; f < 5; ++f) {
        QFrame* group = makeFrame(panel, 14, tops[f], 278, 92);
        *titleLabels[f] = makeLabel(group, caption(tk770::pair_input_group_titles + f), 8, 4, 160, 18);
        (*titleLabels[f])->setObjectName(QString::fromLatin1(titleNames[f]));
        (*titleLabels[f])->setProperty("groupTitle", true);
        *readouts[f] = makeLabel(group, QStringLiteral("7.0"), 226, 4, 40, 18);
        (*readouts[f])->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        (*readouts[f])->setObjectName(QStringLiteral("StaticText%1").arg(f + 1));
        *sliders[f] = makeSlider(group, Qt::Horizontal, 14, 24, 249, 20, slider_range(SliderControl::input_level), 70, 5, f);
        (*sliders[f])->setTickPosition(QSlider::TicksBelow);
        (*sliders[f])->setCursor(Qt::PointingHandCursor);
        (*sliders[f])->setObjectName(QStringLiteral("suiTrackBar%1").arg(f + 1));
        // The handle travels 249 - 16 pixels over positions 0..100.
        auto* scale = new ScaleLabel(QString::fromLatin1(level_scale_text), 8, (249 - 16) / 10.0, group);
        scale->setGeometry(14, 45, 260, 12);
        scale->setProperty("scale", true);
        *presets[f] = makeCheck(group, caption(tk770::pair_preset), 8, 64, 70, 22, false, f);
        (*presets[f])->setObjectName(QStringLiteral("suiCheckBox%1").arg(f + 1));
        if (f == 2) {
            suiRadioGroup1 = new RadioGroup({}, {caption(tk770::pair_source_items), caption(tk770::pair_source_items + 1)}, 2, group);
            suiRadioGroup1->setGeometry(86, 58, 184, 30);
            suiRadioGroup1->setItemIndex(0);
            suiRadioGroup1->setObjectName(QStringLiteral("suiRadioGroup1"));
        } else if (f == 3) {
            suiRadioGroup2 = new RadioGroup({}, {caption(tk770::pair_source_items), caption(tk770::pair_source_items + 1),
                                                caption(tk770::pair_source_items + 2)},
                                            3, group);
            suiRadioGroup2->setGeometry(86, 58, 184, 30);
            suiRadioGroup2->setItemIndex(0);
            suiRadioGroup2->setObjectName(QStringLiteral("suiRadioGroup2"));
        } else if (f == 4) {
            suiCheckGroup1 = new CheckGroup({}, {caption(tk770::pair_mic_center), caption(tk770::pair_mic_surround)}, 2, group);
            suiCheckGroup1->setGeometry(86, 58, 184, 30);
            suiCheckGroup1->setObjectName(QStringLiteral("suiCheckGroup1"));
        }
    }
}

void TForm1::buildOutputPanel()
{
    suiSideChannel2 = new SideChannel(SideChannel::Edge::right, 656, this);
    suiSideChannel2->setObjectName(QStringLiteral("suiSideChannel2"));
    suiSideChannel2->setCaption(caption(tk770::pair_output_panel_title));
    suiSideChannel2->setBand(53, 586 - 53);
    QWidget* panel = suiSideChannel2->content();

    // Centred over strip c, whose two sliders span 47 + 77.86 c .. 90 + 77.86 c.
    StaticText21 = new ScaleLabel(caption(tk770::pair_output_channel_header), 68.5 - 58, (592 - 47) / 7.0, panel);
    StaticText21->setGeometry(58, 35, 585, 18);
    StaticText21->setObjectName(QStringLiteral("StaticText21"));
    StaticText21->setProperty("header", true);

    QSlider** gains[8] = {&suiTrackBar6, &suiTrackBar7, &suiTrackBar8, &suiTrackBar9,
                          &suiTrackBar10, &suiTrackBar11, &suiTrackBar12, &suiTrackBar13};
    QSlider** delays[8] = {&TrackBar38, &TrackBar39, &TrackBar40, &TrackBar41,
                           &TrackBar42, &TrackBar43, &TrackBar44, &TrackBar45};
    QLabel** gainTexts[8] = {&StaticText6, &StaticText7, &StaticText8, &StaticText9,
                             &StaticText10, &StaticText11, &StaticText12, &StaticText13};
    QLabel** delayTexts[8] = {&StaticText60, &StaticText71, &StaticText73, &StaticText74,
                              &StaticText75, &StaticText76, &StaticText77, &StaticText78};
    const char* const delayNames[8] = {"StaticText60", "StaticText71", "StaticText73", "StaticText74",
                                       "StaticText75", "StaticText76", "StaticText77", "StaticText78"};
    QPushButton** polarity[8] = {&suiButton14, &suiButton15, &suiButton16, &suiButton17,
                                 &suiButton18, &suiButton19, &suiButton20, &suiButton21};
    QPushButton** mutes[8] = {&suiButton6, &suiButton7, &suiButton8, &suiButton9,
                              &suiButton10, &suiButton11, &suiButton12, &suiButton13};
    QCheckBox** tests[8] = {&suiCheckBox6, &suiCheckBox7, &suiCheckBox8, &suiCheckBox9,
                            &suiCheckBox10, &suiCheckBox11, &suiCheckBox12, &suiCheckBox13};
    for (int c = 0; c < 8; ++c) {
        *gains[c] = makeSlider(panel, Qt::Vertical, gain_slider_lefts[c], 59, 18, 205, slider_range(SliderControl::output_gain), 16, 2, c);
        (*gains[c])->setObjectName(QStringLiteral("suiTrackBar%1").arg(6 + c));
        *delays[c] = makeSlider(panel, Qt::Vertical, delay_slider_lefts[c], 56, 21, 209, slider_range(SliderControl::output_delay), 200, 5, c);
        (*delays[c])->setObjectName(QStringLiteral("TrackBar%1").arg(38 + c));
        *gainTexts[c] = makeLabel(panel, QStringLiteral("0.0dB"), readout_lefts[c], 272, 63, 18);
        (*gainTexts[c])->setAlignment(Qt::AlignCenter);
        (*gainTexts[c])->setObjectName(QStringLiteral("StaticText%1").arg(6 + c));
        *delayTexts[c] = makeLabel(panel, QStringLiteral("0mS"), readout_lefts[c], 304, 63, 18);
        (*delayTexts[c])->setAlignment(Qt::AlignCenter);
        (*delayTexts[c])->setObjectName(QString::fromLatin1(delayNames[c]));
        *polarity[c] = makeButton(panel, tk770::qs(tk770::polarity_refresh_normal), button_lefts[c], 337, 63, 27, c);
        (*polarity[c])->setObjectName(QStringLiteral("suiButton%1").arg(14 + c));
        *mutes[c] = makeButton(panel, tk770::qs(tk770::startup_channel_mute), button_lefts[c], 377, 63, 27, c);
        (*mutes[c])->setObjectName(QStringLiteral("suiButton%1").arg(6 + c));
        *tests[c] = makeCheck(panel, tk770::qs(tk770::signal_label(0, tk770::language_chinese)), test_box_lefts[c], 416, 76, 19, false, c);
        (*tests[c])->setObjectName(QStringLiteral("suiCheckBox%1").arg(6 + c));
    }
    // Scale beside the first strip: gain positions 0, 16, 36 and 60 are
    // +8, 0, -10 and -22 dB; the delay runs 200 mS at the top to 0.
    const std::pair<const char*, int> gainMarks[] = {{"+8", 0}, {"0", 16}, {"-10.0", 36}, {"-22.0", 60}};
    for (const auto& [text, pos] : gainMarks) {
        QLabel* l = makeLabel(panel, QString::fromLatin1(text), 12, 59 + 7 + pos * (205 - 14) / 60 - 7, 34);
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        l->setProperty("scale", true);
    }
    makeLabel(panel, QStringLiteral("200"), 91, 56, 24)->setProperty("scale", true);
    makeLabel(panel, QStringLiteral("mS"), 91, 70, 24)->setProperty("scale", true);

    QStringList signalItems;
    for (int i = 0; i < tk770::signal_count; ++i)
        signalItems << tk770::qs(tk770::signal_label(i, tk770::language_chinese));
    suiRadioGroup3 = new RadioGroup(caption(tk770::pair_signal_generator), signalItems, 6, panel);
    suiRadioGroup3->setObjectName(QStringLiteral("suiRadioGroup3"));
    suiRadioGroup3->setGeometry(30, 449, 611, 41);
    suiRadioGroup3->setItemIndex(0);
}

void TForm1::buildMenus()
{
    suiMainMenu1 = new QMenuBar(this);
    suiMainMenu1->setObjectName(QStringLiteral("suiMainMenu1"));
    suiMainMenu1->setNativeMenuBar(false);
    suiMainMenu1->setGeometry(0, 33, client_width, 20);

    N1 = suiMainMenu1->addMenu(caption(tk770::pair_file_menu));
    N1->setObjectName(QStringLiteral("N1"));
    N2 = makeItem(N1, "N2", caption(tk770::pair_new_project));
    N2->setIcon(style()->standardIcon(QStyle::SP_FileIcon));
    N3 = makeItem(N1, "N3", caption(tk770::pair_open_project));
    N3->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
    N4 = makeItem(N1, "N4", caption(tk770::pair_save_project));
    N4->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    N5 = makeItem(N1, "N5", tk770::qs(tk770::startup_save_project_as));
    N19 = makeItem(N1, "N19", QStringLiteral("--------"));
    N21 = makeItem(N1, "N21", caption(tk770::pair_load_from_device));
    N20 = makeItem(N1, "N20", caption(tk770::pair_download_to_device));
    N25 = makeItem(N1, "N25", caption(tk770::pair_save_to_device));
    N6 = makeItem(N1, "N6", caption(tk770::pair_backup_to_ic_card));
    N26 = makeItem(N1, "N26", QStringLiteral("--------"));
    N27 = makeItem(N1, "N27", caption(tk770::pair_restart_device));
    for (QAction* sep : {N19, N26}) {
        // Drawn as a rule; a separator can never be chosen.
        sep->setEnabled(false);
        sep->setSeparator(true);
    }

    EQ1 = suiMainMenu1->addMenu(caption(tk770::pair_format_menu));
    EQ1->setObjectName(QStringLiteral("EQ1"));
    FormatItems = new QActionGroup(this);
    FormatItems->setExclusive(true);
    const char* const formatNames[5] = {"N81", "N82", "N7", "N8", "N9"};
    QAction** formatItems[5] = {&N81, &N82, &N7, &N8, &N9};
    for (int f = 0; f < 5; ++f) {
        *formatItems[f] = makeItem(EQ1, formatNames[f], caption(tk770::pair_format_items + f), f);
        (*formatItems[f])->setCheckable(true);
        (*formatItems[f])->setShortcut(QKeySequence(Qt::Key_F5 + f));
        (*formatItems[f])->setShortcutContext(Qt::WindowShortcut);
        FormatItems->addAction(*formatItems[f]);
        addAction(*formatItems[f]);
    }

    EQ2 = suiMainMenu1->addMenu(tk770::qs(tk770::startup_eq_menu));
    EQ2->setObjectName(QStringLiteral("EQ2"));
    EQ3 = makeItem(EQ2, "EQ3", caption(tk770::pair_copy_eq));

    N10 = suiMainMenu1->addMenu(tk770::qs(tk770::startup_communication_menu));
    N10->setObjectName(QStringLiteral("N10"));
    N16 = N10->addMenu(caption(tk770::pair_port_menu));
    N16->setObjectName(QStringLiteral("N16"));
    PortItems = new QActionGroup(this);
    PortItems->setExclusive(true);
    QAction** ports[10] = {&COM11, &COM21, &COM31, &COM41, &COM51, &COM61, &COM71, &COM81, &COM91, &COM101};
    for (int i = 0; i < 10; ++i) {
        const QByteArray name = QStringLiteral("COM%1").arg((i + 1) * 10 + 1).toLatin1();
        *ports[i] = makeItem(N16, name.constData(), QStringLiteral("COM%1").arg(i + 1), i);
        (*ports[i])->setCheckable(true);
        PortItems->addAction(*ports[i]);
    }
    NET1 = makeItem(N16, "NET1", QStringLiteral("NET"), 10);
    NET1->setCheckable(true);
    PortItems->addAction(NET1);
    // The machine's own ports follow COM1..COM10 and NET below a separator,
    // listed afresh each time the menu opens (adapters come and go).
    connect(N16, &QMenu::aboutToShow, this, &TForm1::refreshMachinePorts);
    N17 = makeItem(N10, "N17", caption(tk770::pair_connect));
    N18 = makeItem(N10, "N18", caption(tk770::pair_disconnect));
    IP1 = makeItem(N10, "IP1", caption(tk770::pair_network_settings));

    N11 = suiMainMenu1->addMenu(tk770::qs(tk770::startup_power_on_menu));
    N11->setObjectName(QStringLiteral("N11"));
    PowerOnItems = new QActionGroup(this);
    PowerOnItems->setExclusive(true);
    const char* const powerNames[6] = {"N83", "N84", "N12", "N13", "N14", "N15"};
    QAction** powerItems[6] = {&N83, &N84, &N12, &N13, &N14, &N15};
    for (int i = 0; i < 6; ++i) {
        *powerItems[i] = makeItem(N11, powerNames[i], caption(tk770::pair_power_on_items + i), i);
        (*powerItems[i])->setCheckable(true);
        PowerOnItems->addAction(*powerItems[i]);
    }

    // Choosing the menu title itself acts, so it is an action on the bar.
    N22 = suiMainMenu1->addAction(caption(tk770::pair_profile_menu));
    N22->setObjectName(QStringLiteral("N22"));

    N23 = suiMainMenu1->addMenu(caption(tk770::pair_language_menu));
    N23->setObjectName(QStringLiteral("N23"));
    N24 = makeItem(N23, "N24", QStringLiteral("中文"));
    Endlish1 = makeItem(N23, "Endlish1", QStringLiteral("English"));
    suiMainMenu1->raise();
}

void TForm1::connectHandlers()
{
    // Sliders, check boxes and groups report value changes, which code
    // raises too; push buttons and menu items report the operator's click.
    // Every handler runs inside the command guard: nothing may be thrown
    // through a signal.
    auto onValue = [this](QSlider* s, void (TForm1::*h)(QObject*)) {
        connect(s, &QSlider::valueChanged, this, [this, s, h] { runGuarded([=, this] { (this->*h)(s); }); });
    };
    auto onToggle = [this](QCheckBox* b, void (TForm1::*h)(QObject*)) {
        connect(b, &QCheckBox::toggled, this, [this, b, h] { runGuarded([=, this] { (this->*h)(b); }); });
    };
    auto onClick = [this](QPushButton* b, void (TForm1::*h)(QObject*)) {
        connect(b, &QPushButton::clicked, this, [this, b, h] { runGuarded([=, this] { (this->*h)(b); }); });
    };
    auto onMenu = [this](QAction* a, void (TForm1::*h)(QObject*)) {
        connect(a, &QAction::triggered, this, [this, a, h] { runGuarded([=, this] { (this->*h)(a); }); });
    };

    auto onButton = [this](QAbstractButton* b, void (TForm1::*h)(QObject*), bool click) {
        auto run = [this, b, h] { runGuarded([=, this] { (this->*h)(b); }); };
        if (click) connect(b, &QAbstractButton::clicked, this, run);
        else connect(b, &QAbstractButton::toggled, this, run);
    };

    // Every row of the control table: sliders report value changes, flag
    // buttons a click, flag boxes a change of their check.
    for (const tk770::SliderRow& row : m_sliderRows) {
        if (!row.handler) continue;
        for (QSlider* s : row.sliders) onValue(s, row.handler);
    }
    for (const tk770::FlagRow& row : m_flagRows)
        for (QAbstractButton* b : row.buttons) onButton(b, row.handler, row.family->toggles);
    // Choices report the item chosen. Only the operator's choice in the
    // fade-time box counts: selecting an item from code (the refresh) must
    // run nothing.
    for (const tk770::ChoiceRow& row : m_choiceRows) {
        const auto h = row.handler;
        for (QObject* item : row.items) {
            auto run = [this, item, h] { runGuarded([=, this] { (this->*h)(item); }); };
            switch (row.family->source) {
            case tk770::ChoiceSource::radio_group:
                connect(static_cast<RadioGroup*>(item), &RadioGroup::itemIndexChanged, this, run);
                break;
            case tk770::ChoiceSource::combo_box:
                connect(static_cast<QComboBox*>(item), &QComboBox::activated, this, run);
                break;
            case tk770::ChoiceSource::item_tag: onMenu(static_cast<QAction*>(item), h); break;
            }
        }
    }

    for (QPushButton* b : {suiButton1, suiButton2, suiButton3, suiButton4, suiButton5})
        onClick(b, &TForm1::suiButton1Click);
    connect(suiCheckGroup1, &CheckGroup::itemToggled, this, [this] { runGuarded([this] { suiCheckGroup1Click(suiCheckGroup1); }); });

    connect(suiTabControl1->tabs(), &QTabBar::currentChanged, this, [this] { runGuarded([this] { suiTabControl1Change(suiTabControl1); }); });
    onClick(suiButton22, &TForm1::suiButton22Click);
    onToggle(suiCheckBox15, &TForm1::suiCheckBox15Click);
    connect(suiRadioGroup4, &RadioGroup::itemIndexChanged, this, [this] { runGuarded([this] { suiCheckBox15Click(suiRadioGroup4); }); });

    // New, Open and Disconnect ask first when there is something to lose.
    onMenu(N2, &TForm1::newProjectCommand);
    onMenu(N3, &TForm1::openProjectCommand);
    onMenu(N4, &TForm1::N4Click);
    onMenu(N5, &TForm1::N5Click);
    onMenu(N21, &TForm1::N21Click);
    onMenu(N20, &TForm1::N20Click);
    onMenu(N25, &TForm1::N25Click);
    onMenu(N6, &TForm1::N6Click);
    onMenu(N27, &TForm1::N27Click);
    for (QAction* a : {N81, N82, N7, N8, N9}) onMenu(a, &TForm1::N81Click);
    onMenu(EQ3, &TForm1::EQ3Click);
    for (QAction* a : {COM11, COM21, COM31, COM41, COM51, COM61, COM71, COM81, COM91, COM101})
        onMenu(a, &TForm1::COM11Click);
    onMenu(NET1, &TForm1::NET1Click);
    onMenu(N17, &TForm1::N17Click);
    onMenu(N18, &TForm1::disconnectCommand);
    onMenu(IP1, &TForm1::IP1Click);
    onMenu(N22, &TForm1::N22Click);
    onMenu(N24, &TForm1::N24Click);
    onMenu(Endlish1, &TForm1::Endlish1Click);
    connect(Timer1, &QTimer::timeout, this, [this] { runGuarded([this] { Timer1Timer(Timer1); }); });
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Image2) {
        if (event->type() == QEvent::MouseButtonPress) Image2MouseDown(Image2);
        else if (event->type() == QEvent::MouseButtonRelease) Image2MouseUp(Image2);
    }
    return QWidget::eventFilter(watched, event);
}
