#include "GuiHostBackend.h"

#include <cstdlib>
#include <cstring>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "OptionsDialog.h"
#include "app/UiServices.h"

namespace polyvant {

namespace {

constexpr int kProgressSteps = 1000;

QString Text(const char* s)
{
    return QString::fromUtf8(s ? s : "");
}

DialogRunner& RunnerSlot()
{
    static DialogRunner runner;
    return runner;
}

} // namespace

QString FileFilterFromClassName(const char* className)
{
    const QString name = Text(className);
    QStringList patterns;
    static const QRegularExpression pattern(QStringLiteral("\\*\\.[^\\s,;()*]+"));
    for (auto it = pattern.globalMatch(name); it.hasNext();) {
        const QString p = it.next().captured(0);
        for (const QString& variant : {p, p.toUpper()})
            if (!patterns.contains(variant))
                patterns << variant;
    }
    const QString all = QStringLiteral("All files (*)");
    if (patterns.isEmpty())
        return all;
    QString label = name.left(name.indexOf(QLatin1Char('('))).trimmed();
    if (label.isEmpty())
        label = QStringLiteral("Files");
    return label + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QStringLiteral(");;") +
           all;
}

DialogRunner SetDialogRunner(DialogRunner runner)
{
    return std::exchange(RunnerSlot(), std::move(runner));
}

int RunDialog(QDialog& dialog)
{
    BusyScope busy;
    return RunnerSlot() ? RunnerSlot()(dialog) : dialog.exec();
}

GuiHostBackend::GuiHostBackend() : m_table(MakeHostServices(*this)) {}

GuiHostBackend::~GuiHostBackend()
{
    CloseProgress();
}

void GuiHostBackend::BeginCapture()
{
    if (m_captureDepth++ == 0)
        m_captured.clear();
}

std::vector<GuiHostBackend::Message> GuiHostBackend::EndCapture()
{
    if (m_captureDepth > 0)
        --m_captureDepth;
    return m_captureDepth == 0 ? std::exchange(m_captured, {}) : m_captured;
}

void GuiHostBackend::BeginOperation()
{
    if (m_operationDepth++ > 0)
        return;
    CloseProgress();
    m_lastPath.clear();
    m_promptCancelled = false;
    m_progressCancelled = false;
}

QProgressDialog* GuiHostBackend::ProgressWindow() const noexcept
{
    return m_progress;
}

void GuiHostBackend::EndOperation()
{
    if (m_operationDepth > 0 && --m_operationDepth > 0)
        return;
    CloseProgress();
}

char* GuiHostBackend::Chosen(const QString& path)
{
    if (path.isEmpty()) {
        m_promptCancelled = true;
        return nullptr;
    }
    m_lastPath = QFileInfo(path).absoluteFilePath();
    m_lastFolder = QFileInfo(m_lastPath).absolutePath();
    const QByteArray bytes = QFile::encodeName(m_lastPath);
    auto* out = static_cast<char*>(std::malloc(std::size_t(bytes.size()) + 1));
    if (out)
        std::memcpy(out, bytes.constData(), std::size_t(bytes.size()) + 1);
    return out;
}

char* GuiHostBackend::AskOpenFile(const char* title, const char* classPatterns)
{
    FileDialogRequest request;
    request.mode = FileDialogRequest::kOpenFile;
    request.title = Text(title);
    request.startDirectory = m_lastFolder;
    request.filter = FileFilterFromClassName(classPatterns);
    return Chosen(RunFileDialog(request));
}

char* GuiHostBackend::AskSaveFile(const char* title, const char* classPatterns,
                                  const char* defaultExtension)
{
    FileDialogRequest request;
    request.mode = FileDialogRequest::kSaveFile;
    request.title = Text(title);
    request.startDirectory = m_lastFolder;
    request.filter = FileFilterFromClassName(classPatterns);
    request.defaultSuffix = Text(defaultExtension);
    if (request.defaultSuffix.startsWith(QLatin1Char('.')))
        request.defaultSuffix.remove(0, 1);
    QString path = RunFileDialog(request);
    // A name typed without extension gets the default one, as the dialog itself does.
    if (!path.isEmpty() && !request.defaultSuffix.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += QLatin1Char('.') + request.defaultSuffix;
    return Chosen(path);
}

void GuiHostBackend::Report(PvSeverity severity, const char* message)
{
    const QString text = Text(message);
    if (severity == PV_ERROR || severity == PV_WARNING)
        ++m_problems;
    if (m_captureDepth > 0) {
        m_captured.push_back({severity, text});
        return;
    }
    switch (severity) {
    case PV_ERROR:
        ShowMessage(text, QStringLiteral("Error"));
        break;
    case PV_WARNING:
        ShowMessage(text, QStringLiteral("Warning"));
        break;
    default:
        if (m_status)
            m_status(text);
        else
            ShowMessage(text, QStringLiteral("Info"));
        break;
    }
}

bool GuiHostBackend::Progress(double fraction, const char* text)
{
    if (m_progressCancelled)
        return false;
    if (!m_progress) {
        // Under a modal dialog (Import, Export) the window must belong to it, or the
        // dialog's modality would block Cancel.
        QWidget* owner = QApplication::activeModalWidget();
        m_progress = new QProgressDialog(owner ? owner : m_parent.data());
        m_progress->setObjectName(QStringLiteral("pluginProgress"));
        m_progress->setWindowTitle(QStringLiteral("Progress"));
        m_progress->setWindowModality(Qt::ApplicationModal);
        m_progress->setRange(0, kProgressSteps);
        m_progress->setMinimumDuration(0);
        // Reaching the end must not close or reset it: a plug-in may report 1.0 for
        // one step and go on; EndOperation closes it.
        m_progress->setAutoClose(false);
        m_progress->setAutoReset(false);
        m_progress->setAttribute(Qt::WA_DeleteOnClose);
        m_progress->show();
    }
    if (text)
        m_progress->setLabelText(Text(text));
    const double f = fraction >= 0 && fraction <= 1 ? fraction : (fraction > 1 ? 1.0 : 0.0);
    m_progress->setValue(int(f * kProgressSteps));
    // The plug-in runs on this thread: pending events repaint the windows and deliver
    // a click on Cancel.
    QApplication::processEvents();
    if (m_progress && m_progress->wasCanceled())
        m_progressCancelled = true;
    if (m_progressCancelled && m_operationDepth == 0) {
        CloseProgress();
        m_progressCancelled = false;
        return false;
    }
    return !m_progressCancelled;
}

void GuiHostBackend::CloseProgress()
{
    if (m_progress) {
        QProgressDialog* dialog = m_progress;
        m_progress = nullptr;
        dialog->close(); // deletes it (WA_DeleteOnClose)
    }
}

void GuiHostBackend::ShowHelp(const char* title, const char* text)
{
    QDialog window(m_parent);
    window.setObjectName(QStringLiteral("pluginHelp"));
    window.setWindowTitle(Text(title));
    auto* browser = new QTextBrowser(&window);
    browser->setObjectName(QStringLiteral("helpBrowser"));
    // Plug-in help is plain text or simple HTML; links must not open anything.
    browser->setOpenLinks(false);
    const QString body = Text(text);
    if (Qt::mightBeRichText(body))
        browser->setHtml(body);
    else
        browser->setPlainText(body);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &window);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &window, &QDialog::reject);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(browser);
    layout->addWidget(buttons);
    window.resize(480, 360);
    RunDialog(window);
}

bool GuiHostBackend::EditOptions(const char* title, PvOption* options, std::uint32_t count)
{
    if (!options && count > 0)
        return false;
    OptionsDialog dialog(Text(title), options, count, m_parent);
    dialog.setObjectName(QStringLiteral("pluginOptions"));
    if (RunDialog(dialog) != QDialog::Accepted)
        return false;
    dialog.WriteBack(options, count);
    return true;
}

} // namespace polyvant
