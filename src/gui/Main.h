// The main window: every control of the operator's working surface under
// its designer name, the control tables through which the code reaches
// families of controls by index, and the handlers bound to them.
//
// The class is split by subsystem: Main.cpp builds the window and runs the
// start-up, MainControls.cpp holds the control table's rows and their
// handlers (ControlTable.h), MainRefresh.cpp paints the controls from the
// image, MainResponse.cpp draws the response graph, MainProject.cpp holds
// the project commands, MainDevice.cpp the link commands, and the few
// handlers with a rule of their own live in MainInput.cpp, MainEq.cpp and
// MainSub.cpp.
#pragma once

#include "core/captions.h"
#include "core/device_link.h"
#include "core/parameter_image.h"
#include "core/project_file.h"
#include "core/response.h"
#include "core/response_raster.h"
#include "core/send_unit.h"
#include "gui/ControlTable.h"
#include "gui/Widgets.h"

#include <QActionGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class TForm4;
class TForm5;
class TForm6;
class TForm7;
class TForm8;
class QCloseEvent;
class QMessageBox;
class QSettings;
namespace tk770 {
class DeviceSequences;
class QtSerialTransport;
class QtTcpTransport;
}

class TForm1 : public QWidget, public tk770::StatusSink {
    Q_OBJECT
public:
    static constexpr int client_width = 952;
    static constexpr int client_height = 605;
    // Longest current file name in bytes; the name buffer holds it plus a zero.
    static constexpr int max_file_name = 255;
    static constexpr const char* default_tcp_host = "192.168.0.8";

    // `tcpHost` replaces the start-up host when not empty (--host).
    explicit TForm1(const QString& tcpHost = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    // ---- the seam to the processor ----
    tk770::ParameterImage& image() { return m_image; }
    tk770::LinkState& linkState() { return m_linkState; }
    tk770::DeviceLink& link() { return *m_link; }
    // Tests and the link commands put real or fake transports behind the link.
    void setTransports(tk770::SerialTransport* serial, tk770::TcpTransport* tcp);
    QString tcpHost() const { return m_tcpHost; }
    void setTcpHost(const QString& host) { m_tcpHost = host; }
    std::array<char, tk770::device_ip_text_size>& deviceIpText() { return device_ip_text; }

    // File dialogs run through these so tests can answer them; an empty
    // result is a cancel.
    using DialogRunner = std::function<QString(QFileDialog*)>;
    void setDialogRunner(DialogRunner runner) { m_runDialog = std::move(runner); }
    // The safety-net questions run through this so tests can answer them:
    // it gets the box, ready to show, and returns the button chosen (none:
    // the box was closed, taken as Cancel).
    using QuestionRunner = std::function<QAbstractButton*(QMessageBox*)>;
    void setQuestionRunner(QuestionRunner runner) { m_runQuestion = std::move(runner); }

    // ---- safety nets (MainSafety.cpp) ----
    // The project differs from the one last opened, saved or made new.
    bool projectModified() const;
    // A write the processor acknowledged has not been saved to its memory.
    bool processorUnsaved() const { return m_processorUnsaved; }
    QString processorMemoryText() const;
    // Ask Save / Discard / Cancel while the project is modified; true when
    // the command may go on (nothing to ask, saved, or discarded).
    bool confirmProjectMayBeDropped();
    // Ask Save to processor memory / Don't save / Cancel while the reminder
    // shows; true when the command may go on.
    bool confirmProcessorMayBeLeft();
    // New, Open and Disconnect as the menu runs them: the question first.
    void newProjectCommand(QObject* sender);
    void openProjectCommand(QObject* sender);
    void disconnectCommand(QObject* sender);

    // The machine's serial ports as the COM menu lists them below COM10.
    struct MachinePort {
        QString path;
        QString description;
    };
    using PortLister = std::function<QList<MachinePort>()>;
    void setPortLister(PortLister lister) { m_listPorts = std::move(lister); }
    // Rebuilds the list below the separator (the menu does it each time it opens).
    void refreshMachinePorts();
    // What QSerialPortInfo finds on this computer (the lister at start-up).
    static QList<MachinePort> machinePortsOfThisComputer();
    QList<QAction*> machinePortItems() const { return m_machinePortItems; }
    // Chooses a port by its device path, as its menu item does.
    void chooseMachinePort(const QString& path);
    // The device chosen from the machine's ports; empty when COMn or NET.
    QString machinePortPath() const { return m_machinePortPath; }
    // Why the serial port of the last connect could not be opened; tests
    // replace the real port's answer.
    using OpenErrorSource = std::function<int(int port)>;
    void setOpenErrorSource(OpenErrorSource source) { m_openErrorOf = std::move(source); }

    // ---- remembered settings (MainSettings.cpp) ----
    // Applies what `settings` keeps; a key that is absent or unusable
    // leaves the start-up value.
    void restoreSettings(QSettings& settings);
    void saveSettings(QSettings& settings) const;
    QString projectFolder() const { return m_projectFolder; }

    QString currentFileName() const { return QString::fromUtf8(m_currentFileName.c_str()); }
    QString messageText() const;
    QString linkText() const;
    tk770::ResponseModel& response() { return m_response; }
    int drawCount() const { return m_drawCount; }

    // ---- control-surface state ----
    int refreshing = 0;
    int SelectedChannel = 0;
    int Language = 0;
    static constexpr std::array<std::uint8_t, 8> BitMasks{1, 2, 4, 8, 16, 32, 64, 128};

    // ---- the fifteen control tables, in index order ----
    std::array<QCheckBox*, 5> PresetBoxes{};
    std::array<QLabel*, 5> InputLevelTexts{};
    std::array<QSlider*, 5> InputLevelSliders{};
    std::array<QSlider*, 8> OutputGainSliders{};
    std::array<QSlider*, 8> DelaySliders{};
    std::array<QLabel*, 8> OutputGainTexts{};
    std::array<QLabel*, 8> DelayTexts{};
    std::array<QPushButton*, 8> PolarityButtons{};
    std::array<QPushButton*, 8> MuteButtons{};
    std::array<QLineEdit*, 2> SubQTexts{};
    std::array<QLineEdit*, 2> SubFcTexts{};
    std::array<QLineEdit*, 2> SubCutTexts{};
    std::array<QLineEdit*, 27> BandTexts{};
    std::array<QSlider*, 27> BandSliders{};
    std::array<QCheckBox*, 8> TestSignalBoxes{};

    // ---- the control table (ControlTable.h, MainControls.cpp) ----
    const tk770::SliderRow& sliderRow(tk770::SliderControl c) const;
    const tk770::FlagRow& flagRow(tk770::FlagControl c) const;
    const tk770::ChoiceRow& choiceRow(tk770::ChoiceControl c) const;
    bool flagIsSet(tk770::FlagControl c, int bit) const;

    // ---- start-up ----
    void FormCreate();

    // ---- display refresh ----
    void displayRefresh();
    void formatDisplayRefresh();    // stage 1
    void inputSectionRefresh();     // stage 2
    void equaliserPageRefresh();    // stage 3
    void toneRefresh();             // stage 4
    void outputRefresh();           // stage 5
    void subwooferPageRefresh();
    void setWindowTitleFromName();
    void showFileFailure(int result, const std::string& reason);

    // ---- response graph ----
    void ComputeSection(int channel, int index, int kind);
    void DrawResponse();

    // ---- project commands ----
    void N2Click(QObject* sender = nullptr);
    void N3Click(QObject* sender = nullptr);
    void N4Click(QObject* sender = nullptr);
    void N5Click(QObject* sender = nullptr);

    // ---- input section ----
    void suiButton1Click(QObject* sender);
    void N81Click(QObject* sender);
    void suiTrackBar1Change(QObject* sender);
    void suiCheckBox1Click(QObject* sender);
    void suiRadioGroup1Click(QObject* sender);
    void suiRadioGroup2Click(QObject* sender);
    void suiCheckGroup1Click(QObject* sender);

    // ---- graphic EQ and tone ----
    void suiTabControl1Change(QObject* sender = nullptr);
    void TrackBar4Change(QObject* sender);
    void TrackBar2Change(QObject* sender);
    void TrackBar1Change(QObject* sender);
    void TrackBar3Change(QObject* sender);
    void TrackBar32Change(QObject* sender);
    void suiButton22Click(QObject* sender);
    void suiCheckBox14Click(QObject* sender);

    // ---- subwoofer filters ----
    void TrackBar31Change(QObject* sender);
    void TrackBar37Change(QObject* sender);
    void TrackBar36Change(QObject* sender);
    void suiCheckBox15Click(QObject* sender);

    // ---- output section ----
    void suiTrackBar6Change(QObject* sender);
    void TrackBar38Change(QObject* sender);
    void suiButton14Click(QObject* sender);
    void suiButton6Click(QObject* sender);
    void suiCheckBox6Click(QObject* sender);
    void suiRadioGroup3Click(QObject* sender);

    // ---- master volume, fade time, mute, power-on format ----
    void suiTrackBar14Change(QObject* sender);
    void ComboBox1Change(QObject* sender);
    void suiButton23Click(QObject* sender);
    void N83Click(QObject* sender);

    // ---- transports, connection and bulk device commands ----
    void COM11Click(QObject* sender);
    void NET1Click(QObject* sender);
    void N17Click(QObject* sender);
    void N18Click(QObject* sender);
    void TCPClient1Connected(QObject* sender);
    void N21Click(QObject* sender);
    void N20Click(QObject* sender);
    void N25Click(QObject* sender);
    void N6Click(QObject* sender);
    void N27Click(QObject* sender);

    // ---- the command guard (MainDevice.cpp) ----
    // Every handler runs inside it. A failure of the TCP connection ends the
    // command that was running: handlers nested through control changes are
    // skipped from then on, the outer command stops at its next check, and
    // the error text is shown once the outermost handler has returned.
    // False when the command was stopped.
    bool runGuarded(const std::function<void()>& body);
    bool commandStopped() const { return m_commandStopped; }
    // Shows the error text; a message box unless replaced (tests).
    using ErrorReporter = std::function<void(const QString& text)>;
    void setErrorReporter(ErrorReporter reporter) { m_reportError = std::move(reporter); }
    // TCPClient1, the serial ports and the whole-device sequences.
    tk770::QtTcpTransport& tcpClient() { return *m_tcpClient; }
    tk770::QtSerialTransport& serialPorts() { return *m_serialPorts; }
    tk770::DeviceSequences& sequences() { return *m_sequences; }
    int tcpPort() const { return m_tcpPort; }
    void setTcpPort(int port) { m_tcpPort = port; }
    TForm4* eqCopyDialog() const { return m_form4; }
    TForm5* profileDialog() const { return m_form5; }
    TForm6* networkDialog() const { return m_form6; }
    TForm7* deviceIpDialog() const { return m_form7; }
    TForm8* serialNumberDialog() const { return m_form8; }
    int longPressTicks() const { return m_longPressTicks; }
    // The test-signal controls back to pink noise, every box unchecked.
    void resetTestSignals();

    // ---- dialogs, language ----
    void IP1Click(QObject* sender);
    void Timer1Timer(QObject* sender);
    void Image2MouseDown(QObject* sender);
    void Image2MouseUp(QObject* sender);
    void EQ3Click(QObject* sender);
    void N22Click(QObject* sender);
    void N24Click(QObject* sender);
    void Endlish1Click(QObject* sender);
    // Re-captions the window and every dialog in `Language` (MainLanguage.cpp).
    void ApplyLanguage();

    // ---- the controls, under their designer names ----
    // Main area; suiForm1 is the themed frame's title strip
    QLabel* suiForm1;
    QLabel* Image2;
    QPushButton *suiButton1, *suiButton2, *suiButton3, *suiButton4, *suiButton5;
    tk770::TabControl* suiTabControl1;
    // Channel page: band sliders, read-outs and scales
    QSlider *TrackBar4, *TrackBar5, *TrackBar6, *TrackBar7, *TrackBar8, *TrackBar9, *TrackBar10, *TrackBar11, *TrackBar12, *TrackBar13, *TrackBar14, *TrackBar15, *TrackBar16, *TrackBar17, *TrackBar18, *TrackBar19, *TrackBar20, *TrackBar21, *TrackBar22, *TrackBar23, *TrackBar24, *TrackBar25, *TrackBar26, *TrackBar27, *TrackBar28, *TrackBar29, *TrackBar30;
    QLineEdit *Edit4, *Edit5, *Edit6, *Edit7, *Edit8, *Edit9, *Edit10, *Edit11, *Edit12, *Edit13, *Edit14, *Edit15, *Edit16, *Edit17, *Edit18, *Edit19, *Edit20, *Edit21, *Edit22, *Edit23, *Edit24, *Edit25, *Edit26, *Edit27, *Edit28, *Edit29, *Edit30;
    QLabel *StaticText68, *StaticText63, *StaticText64, *StaticText65, *StaticText66, *StaticText67, *StaticText33, *StaticText79, *StaticText80, *StaticText81, *StaticText82;
    QCheckBox* suiCheckBox14;
    QPushButton* suiButton22;
    QLabel* Image1;
    tk770::PaintBox* PaintBox1;
    QLabel *StaticText72, *StaticText69;
    QSlider *TrackBar2, *TrackBar1, *TrackBar3, *TrackBar32;
    QLabel *StaticText27, *StaticText28, *StaticText31, *StaticText32;
    QLineEdit *Edit1, *Edit2, *Edit3, *Edit31;
    QLabel *StaticText92, *StaticText93, *StaticText94, *StaticText95, *StaticText96;
    QLabel *StaticText22, *StaticText23, *StaticText24, *StaticText25, *StaticText26;
    // Subwoofer filter panel
    QFrame* Panel1;
    QSlider *TrackBar31, *TrackBar35, *TrackBar33, *TrackBar37, *TrackBar34, *TrackBar36;
    QLineEdit *Edit32, *Edit37, *Edit33, *Edit36, *Edit34, *Edit35;
    QLabel *StaticText34, *StaticText35, *StaticText36, *StaticText37, *StaticText38, *StaticText39, *StaticText40, *StaticText50, *StaticText51, *StaticText52, *StaticText53, *StaticText54, *StaticText55;
    QCheckBox* suiCheckBox15;
    tk770::RadioGroup* suiRadioGroup4;
    // Master section
    QComboBox* ComboBox1;
    QPushButton* suiButton23;
    QLabel *StaticText29, *StaticText30;
    QSlider* suiTrackBar14;
    // Status bar: message panel and link panel
    QStatusBar* suiStatusBar1;
    QLabel *StatusPanel0, *StatusPanel1;
    // The processor-memory reminder; empty while there is nothing to save.
    QLabel* ProcessorMemoryPanel;
    // Input panel
    tk770::SideChannel* suiSideChannel1;
    QLabel *StaticText42, *StaticText41, *StaticText44, *StaticText46, *StaticText48;
    QSlider *suiTrackBar1, *suiTrackBar2, *suiTrackBar3, *suiTrackBar4, *suiTrackBar5;
    QLabel *StaticText1, *StaticText2, *StaticText3, *StaticText4, *StaticText5;
    QCheckBox *suiCheckBox1, *suiCheckBox2, *suiCheckBox3, *suiCheckBox4, *suiCheckBox5;
    tk770::RadioGroup *suiRadioGroup1, *suiRadioGroup2;
    tk770::CheckGroup* suiCheckGroup1;
    // Output panel
    tk770::SideChannel* suiSideChannel2;
    QLabel* StaticText21;
    QSlider *suiTrackBar6, *suiTrackBar7, *suiTrackBar8, *suiTrackBar9, *suiTrackBar10, *suiTrackBar11, *suiTrackBar12, *suiTrackBar13;
    QSlider *TrackBar38, *TrackBar39, *TrackBar40, *TrackBar41, *TrackBar42, *TrackBar43, *TrackBar44, *TrackBar45;
    QLabel *StaticText6, *StaticText7, *StaticText8, *StaticText9, *StaticText10, *StaticText11, *StaticText12, *StaticText13;
    QLabel *StaticText60, *StaticText71, *StaticText73, *StaticText74, *StaticText75, *StaticText76, *StaticText77, *StaticText78;
    QPushButton *suiButton14, *suiButton15, *suiButton16, *suiButton17, *suiButton18, *suiButton19, *suiButton20, *suiButton21;
    QPushButton *suiButton6, *suiButton7, *suiButton8, *suiButton9, *suiButton10, *suiButton11, *suiButton12, *suiButton13;
    QCheckBox *suiCheckBox6, *suiCheckBox7, *suiCheckBox8, *suiCheckBox9, *suiCheckBox10, *suiCheckBox11, *suiCheckBox12, *suiCheckBox13;
    tk770::RadioGroup* suiRadioGroup3;
    // Menus
    QMenuBar* suiMainMenu1;
    QMenu *N1, *EQ1, *EQ2, *N10, *N16, *N11, *N23;
    QAction *N2, *N3, *N4, *N5, *N19, *N21, *N20, *N25, *N6, *N26, *N27;
    QAction *N81, *N82, *N7, *N8, *N9;
    QAction* EQ3;
    QAction *COM11, *COM21, *COM31, *COM41, *COM51, *COM61, *COM71, *COM81, *COM91, *COM101, *NET1, *N17, *N18, *IP1;
    QAction *N83, *N84, *N12, *N13, *N14, *N15;
    QAction* N22;
    QAction *N24, *Endlish1;
    QActionGroup *FormatItems, *PortItems, *PowerOnItems;
    // Non-visual parts
    QTimer* Timer1;
    QFileDialog *OpenDialog1, *SaveDialog1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Closing asks the safety-net questions, the processor's first.
    void closeEvent(QCloseEvent* event) override;

private:
    // Layout, one routine per region (Main.cpp).
    void buildMenus();
    void buildMainArea();
    void buildChannelPage();
    void buildFilterPanel();
    void buildMasterSection();
    void buildStatusBar();
    void buildInputPanel();
    void buildOutputPanel();
    void connectHandlers();
    // The index tables above and the control table's rows (MainControls.cpp).
    void buildControlTable();
    // The one handler of every slider row and of every flag row.
    void sliderChanged(tk770::SliderControl c, QObject* sender);
    void flagChanged(tk770::FlagControl c, QObject* sender);
    void choiceChanged(tk770::ChoiceControl c, QObject* sender);
    // Paint one element of a slider row from the image: the position (which
    // runs the handler unless refreshing is set) and the read-out.
    void showSliderPosition(tk770::SliderControl c, int slot, int i, int j = 0);
    void showSliderReadout(tk770::SliderControl c, int slot, int i, int j = 0);
    // The position of a slider row that shows `value`.
    int sliderPositionOf(tk770::SliderControl c, int value) const;
    void applyTheme();
    void paintGraphBackground();

    // Sends the unit that carries a control's change, with its own command,
    // while connected (tk770::send_unit).
    void sendUnit(tk770::UnitKind kind, int index = 0);
    QString caption(int pair) const;
    QString noticeText(int pair) const;
    void setCurrentFileName(const std::string& name);
    // Sends a control's unit and notes an acknowledged write for the
    // processor-memory reminder (tk770::send_unit).
    void sendUnit(const tk770::WriteUnit& unit);
    void noteSent(const tk770::WriteUnit& unit, tk770::SendResult result);
    void setProcessorUnsaved(bool unsaved);
    // The project as it is now becomes the one compared against.
    void markProjectSaved();
    // Puts the title's mark in line with the project.
    void updateProjectMark();
    // A successful open or save as remembers the file's folder.
    void rememberProjectFolder(const QString& path);
    // After a serial connect: a port the user may not open is named, with
    // the fix, instead of passing for a silent processor.
    void reportPortPermission();
    // Shows a question with three buttons captioned by notice pairs; the
    // index of the one chosen, 2 (the Cancel place) when the box was closed.
    int askQuestion(int titlePair, const QString& text, const std::array<int, 3>& buttonPairs);

    // StatusSink: the two panels of suiStatusBar1.
    void set_message_text(std::string_view text) override;
    void set_link_text(std::string_view text) override;

    std::array<tk770::SliderRow, tk770::slider_control_count> m_sliderRows{};
    std::array<tk770::FlagRow, tk770::flag_control_count> m_flagRows{};
    std::array<tk770::ChoiceRow, tk770::choice_control_count> m_choiceRows{};
    tk770::ParameterImage m_image{};
    tk770::LinkState m_linkState{};
    std::unique_ptr<tk770::DeviceLink> m_link;
    tk770::ResponseModel m_response;
    std::array<char, tk770::device_ip_text_size> device_ip_text{};
    std::string m_currentFileName;
    QString m_tcpHost;
    QString m_hostOverride;
    DialogRunner m_runDialog;
    QuestionRunner m_runQuestion;
    PortLister m_listPorts;
    OpenErrorSource m_openErrorOf;
    QAction* m_machinePortSeparator = nullptr;
    QList<QAction*> m_machinePortItems;
    QString m_machinePortPath;
    QString m_projectFolder;
    // The project file's bytes as last opened, saved or made new.
    std::optional<std::array<std::uint8_t, tk770::project_file_size>> m_savedProject;
    bool m_titleMarked = false;
    bool m_processorUnsaved = false;
    int m_drawCount = 0;
    tk770::GraphRaster m_raster;

    // Link parts and dialogs (MainDevice.cpp), made once at start-up.
    void createDevicePartsAndDialogs();
    void stopIfCommandStopped();
    std::shared_ptr<tk770::QtSerialTransport> m_serialPorts;
    std::shared_ptr<tk770::QtTcpTransport> m_tcpClient;
    std::shared_ptr<tk770::DeviceSequences> m_sequences;
    int m_tcpPort = tk770::tcp_port;
    TForm4* m_form4 = nullptr;
    TForm5* m_form5 = nullptr;
    TForm6* m_form6 = nullptr;
    TForm7* m_form7 = nullptr;
    TForm8* m_form8 = nullptr;
    int m_longPressTicks = 0;
    int m_guardDepth = 0;
    bool m_commandStopped = false;
    QString m_stopText;
    ErrorReporter m_reportError;
};
