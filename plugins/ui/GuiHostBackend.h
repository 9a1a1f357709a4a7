#pragma once
#include <functional>
#include <string>
#include <vector>

#include <QFileInfo>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <polyvant/HostServices.h>

#include "plugins/HostServicesTable.h"

class QDialog;
class QProgressDialog;

namespace polyvant {

// The Qt file-dialog filter for a class name: the patterns of its "(*.a, *.b)" part
// (each also in upper case, since Linux names are case-sensitive) under the name,
// then "All files (*)". "WaveFront (*.obj)" gives "WaveFront (*.obj *.OBJ);;All files (*)".
QString FileFilterFromClassName(const char* className);

// Runs a modal dialog and returns its result. Tests replace it to answer the
// dialogs the services open (options, help) without an event loop of their own.
using DialogRunner = std::function<int(QDialog& dialog)>;
DialogRunner SetDialogRunner(DialogRunner runner);
int RunDialog(QDialog& dialog);

// The services the viewer hands to plug-ins. File prompts go through the shell's
// replaceable file dialog, errors and warnings through its replaceable message box
// ("Error" / "Warning"), progress into a progress dialog with Cancel, help into a
// help window and typed options into a generated options dialog.
//
// Threads: every call must come from the user-interface thread. Plug-ins run their
// imports and exports on the thread that calls them and the boundary promises no
// thread-safety, so the host calls them on the UI thread; the progress service runs
// pending events on each call, which keeps the windows painting and lets Cancel work.
class GuiHostBackend : public HostServicesBackend {
public:
    struct Message {
        PvSeverity severity;
        QString text;
    };

    GuiHostBackend();
    ~GuiHostBackend() override;
    GuiHostBackend(const GuiHostBackend&) = delete;
    GuiHostBackend& operator=(const GuiHostBackend&) = delete;

    // The table for PluginManager::SetHostServices; valid while this object lives.
    const PvHostServices* Table() const noexcept { return &m_table; }

    // Owner of the progress, help and options windows (may be null).
    void SetParentWindow(QWidget* parent) { m_parent = parent; }
    // Where information messages go; without one they are shown with caption "Info".
    void SetStatusSink(std::function<void(const QString&)> sink) { m_status = std::move(sink); }
    // A note of the host's own for the status sink; nothing without one.
    void ShowStatus(const QString& text)
    {
        if (m_status)
            m_status(text);
    }

    // Errors and warnings reported so far: each one reached the user as a message box.
    int ProblemCount() const noexcept { return m_problems; }

    // While capturing, messages are collected instead of shown, so that a caller can
    // show them once with what it knows (the file name) after the plug-in returned.
    void BeginCapture();
    std::vector<Message> EndCapture();

    // One plug-in operation (nested ones join the outer): resets the prompt and
    // cancel state; the outermost EndOperation closes the progress window. Outside an
    // operation a Cancel is answered once and then forgotten, so that it cannot stop
    // later work.
    void BeginOperation();
    void EndOperation();
    class Operation {
    public:
        explicit Operation(GuiHostBackend& services) : m_services(services)
        {
            m_services.BeginOperation();
        }
        ~Operation() { m_services.EndOperation(); }
        Operation(const Operation&) = delete;
        Operation& operator=(const Operation&) = delete;

    private:
        GuiHostBackend& m_services;
    };
    // The path the user chose in the last file prompt of the operation ("" if none),
    // whether a prompt was cancelled, and whether the user cancelled the progress.
    const QString& LastChosenPath() const noexcept { return m_lastPath; }
    // File prompts open in this file's folder from now on (a file opened another way).
    void RememberFolderOf(const QString& path) { m_lastFolder = QFileInfo(path).absolutePath(); }
    bool PromptCancelled() const noexcept { return m_promptCancelled; }
    bool ProgressCancelled() const noexcept { return m_progressCancelled; }
    // The open progress window, or null.
    QProgressDialog* ProgressWindow() const noexcept;

    char* AskOpenFile(const char* title, const char* classPatterns) override;
    char* AskSaveFile(const char* title, const char* classPatterns,
                      const char* defaultExtension) override;
    void Report(PvSeverity severity, const char* message) override;
    bool Progress(double fraction, const char* text) override;
    void ShowHelp(const char* title, const char* text) override;
    bool EditOptions(const char* title, PvOption* options, std::uint32_t count) override;

private:
    char* Chosen(const QString& path);
    void CloseProgress();

    PvHostServices m_table;
    QPointer<QWidget> m_parent;
    std::function<void(const QString&)> m_status;
    int m_problems = 0;
    int m_captureDepth = 0;
    int m_operationDepth = 0;
    std::vector<Message> m_captured;
    QString m_lastPath;
    QString m_lastFolder; // where the next file prompt opens: the last file's folder
    bool m_promptCancelled = false;
    bool m_progressCancelled = false;
    QPointer<QProgressDialog> m_progress;
};

} // namespace polyvant
