#include "UiServices.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QThread>

namespace polyvant {

namespace {

int g_busyDepth = 0;

MessageBoxFunction& MessageBoxSlot()
{
    static MessageBoxFunction fn;
    return fn;
}

FileDialogFunction& FileDialogSlot()
{
    static FileDialogFunction fn;
    return fn;
}

// Boxes and file dialogs sit over the window the user is working in: a modal dialog
// such as Import, else the active window; none before the main window is shown.
QWidget* OwnerWindow()
{
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    return QApplication::activeWindow();
}

void DefaultMessageBox(const QString& text, const QString& caption)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, OwnerWindow());
    if (caption == QLatin1String("Error"))
        box.setIcon(QMessageBox::Critical);
    else if (caption == QLatin1String("Warning"))
        box.setIcon(QMessageBox::Warning);
    else
        box.setIcon(QMessageBox::Information);
    box.exec();
}

QString DefaultFileDialog(const FileDialogRequest& r)
{
    switch (r.mode) {
    case FileDialogRequest::kDirectory:
        return QFileDialog::getExistingDirectory(OwnerWindow(), r.title, r.startDirectory);
    case FileDialogRequest::kSaveFile: {
        QFileDialog dialog(OwnerWindow(), r.title, r.startDirectory, r.filter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(r.defaultSuffix);
        return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()
                   ? dialog.selectedFiles().front()
                   : QString();
    }
    case FileDialogRequest::kOpenFile:
        break;
    }
    return QFileDialog::getOpenFileName(OwnerWindow(), r.title, r.startDirectory, r.filter);
}

} // namespace

MessageBoxFunction SetMessageBoxFunction(MessageBoxFunction fn)
{
    return std::exchange(MessageBoxSlot(), std::move(fn));
}

void ShowMessage(const QString& text, const QString& caption)
{
    BusyScope busy;
    if (MessageBoxSlot())
        MessageBoxSlot()(text, caption);
    else
        DefaultMessageBox(text, caption);
}

FileDialogFunction SetFileDialogFunction(FileDialogFunction fn)
{
    return std::exchange(FileDialogSlot(), std::move(fn));
}

QString RunFileDialog(const FileDialogRequest& request)
{
    BusyScope busy;
    return FileDialogSlot() ? FileDialogSlot()(request) : DefaultFileDialog(request);
}

BusyScope::BusyScope() noexcept
{
    ++g_busyDepth;
}

BusyScope::~BusyScope()
{
    --g_busyDepth;
}

bool IsBusy() noexcept
{
    // A modal dialog of anyone (Qt's own included) runs a nested event loop.
    const QThread* main =
        QCoreApplication::instance() ? QCoreApplication::instance()->thread() : nullptr;
    return g_busyDepth > 0 || (main && main->loopLevel() > 1) ||
           QApplication::activeModalWidget() != nullptr;
}

} // namespace polyvant
