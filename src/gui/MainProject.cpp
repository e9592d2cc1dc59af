// The project commands of the File menu: new, open, save and save as. None
// of them talks to the processor by itself.
#include "gui/Main.h"

#include <QFile>
#include <QFileInfo>

namespace {

// Shown when a dialog returns a path longer than the file name buffer.
constexpr const char* text_path_too_long = "File Name Too Long!";
constexpr const char* text_open_success = "Open File Success";

std::filesystem::path toPath(const std::string& utf8)
{
    return std::filesystem::path(QFile::encodeName(QString::fromUtf8(utf8.c_str())).toStdString());
}

}  // namespace

void TForm1::setCurrentFileName(const std::string& name) { m_currentFileName = name; }

void TForm1::N2Click(QObject*)
{
    setCurrentFileName(std::string(tk770::untitled_project_name));
    setWindowTitleFromName();
    // When another tab was shown its handler runs here and paints channel 0
    // from the image as it still is; the refresh below repaints it.
    suiTabControl1->setTabIndex(0);
    m_image.reset_to_defaults();
    refreshing = 1;
    displayRefresh();
    refreshing = 0;
    markProjectSaved();
}

// The message panel keeps its fixed text; the file and the system's reason
// are one hover away.
void TForm1::showFileFailure(int result, const std::string& reason)
{
    set_message_text(tk770::file_result_message(result));
    StatusPanel0->setToolTip(QString::fromStdString(reason));
}

void TForm1::N3Click(QObject*)
{
    const QString chosen = m_runDialog(OpenDialog1);
    if (chosen.isEmpty()) {
        refreshing = 0;
        return;
    }
    const std::string dialogFileName = chosen.toUtf8().toStdString();
    if (dialogFileName.size() > static_cast<std::size_t>(max_file_name)) {
        set_message_text(text_path_too_long);
        return;
    }
    const int result = tk770::read_project_file(toPath(dialogFileName), m_image, device_ip_text);
    if (result != tk770::project_ok) {
        set_message_text(tk770::file_result_message(result));
        return;
    }
    // Compared against the file's own bytes: a value the controls cannot
    // show, and so store differently, marks the project as changed.
    m_savedProject = tk770::project_file_bytes(m_image, device_ip_text);
    rememberProjectFolder(chosen);
    setCurrentFileName(dialogFileName);
    setWindowTitleFromName();
    set_message_text(text_open_success);
    // Deliberately without raising `refreshing`: the format and input stages
    // run their handlers as operator input, which stores the loaded values
    // again and, while connected, sends those units.
    displayRefresh();
    refreshing = 0;
    updateProjectMark();
}

void TForm1::N4Click(QObject*)
{
    std::string reason;
    const int result = tk770::write_project_file(toPath(m_currentFileName), m_image, device_ip_text, &reason);
    if (result != tk770::project_ok) showFileFailure(result, reason);
    else markProjectSaved();
}

void TForm1::N5Click(QObject*)
{
    const QString chosen = m_runDialog(SaveDialog1);
    if (chosen.isEmpty()) return;
    const std::string dialogFileName = chosen.toUtf8().toStdString();
    if (dialogFileName.size() > static_cast<std::size_t>(max_file_name)) {
        set_message_text(text_path_too_long);
        return;
    }
    std::string reason;
    const int result = tk770::write_project_file(toPath(dialogFileName), m_image, device_ip_text, &reason);
    if (result != tk770::project_ok) {
        showFileFailure(result, reason);
        return;
    }
    rememberProjectFolder(chosen);
    setCurrentFileName(dialogFileName);
    markProjectSaved();
    setWindowTitleFromName();
}

void TForm1::rememberProjectFolder(const QString& path)
{
    m_projectFolder = QFileInfo(path).absolutePath();
    OpenDialog1->setDirectory(m_projectFolder);
    SaveDialog1->setDirectory(m_projectFolder);
}
