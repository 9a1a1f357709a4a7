#pragma once
#include <functional>

#include <QString>

// The few user-interface calls the shell makes that tests must be able to replace,
// and the busy count that keeps hand-offs and drops out of nested loops.

namespace polyvant {

// A modal message box with an OK button. Tests swap in a recorder; the previous
// function is returned. An empty function restores the QMessageBox one.
using MessageBoxFunction = std::function<void(const QString& text, const QString& caption)>;
MessageBoxFunction SetMessageBoxFunction(MessageBoxFunction fn);
void ShowMessage(const QString& text, const QString& caption);

struct FileDialogRequest {
    enum Mode { kOpenFile, kSaveFile, kDirectory };
    Mode mode = kOpenFile;
    QString title;
    QString startDirectory;
    QString filter;        // Qt name filters, ";;"-separated; "" for all files
    QString defaultSuffix; // save mode only
};
// The chosen absolute path, or "" when the user cancelled.
using FileDialogFunction = std::function<QString(const FileDialogRequest& request)>;
FileDialogFunction SetFileDialogFunction(FileDialogFunction fn);
QString RunFileDialog(const FileDialogRequest& request);

// Held while a modal dialog, a display build or a plug-in call runs. Work that must
// not run inside them (hand-offs, drops) waits until no scope is held.
class BusyScope {
public:
    BusyScope() noexcept;
    ~BusyScope();
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
};
// True while a BusyScope is held or an event loop runs inside the main loop.
bool IsBusy() noexcept;

} // namespace polyvant
