#include "GuiHostServices.h"

#include <cstdlib>
#include <cstring>

#include <QRegularExpression>

#include "CMainFrame.h"
#include "Strings.h"
#include "UiServices.h"

namespace polyvant {

namespace {

char* MallocCopy(const QString& path)
{
    if (path.isEmpty())
        return nullptr;
    const QByteArray bytes = path.toLocal8Bit();
    char* out = static_cast<char*>(std::malloc(std::size_t(bytes.size()) + 1));
    if (out)
        std::memcpy(out, bytes.constData(), std::size_t(bytes.size()) + 1);
    return out;
}

} // namespace

QString FilterFromClassName(const char* classPatterns)
{
    const QString name = QString::fromUtf8(classPatterns ? classPatterns : "");
    QStringList patterns;
    const QRegularExpression re(QStringLiteral("\\*\\.[A-Za-z0-9_]+"));
    for (auto it = re.globalMatch(name); it.hasNext();)
        patterns << it.next().captured(0);
    QString filter;
    if (!patterns.isEmpty())
        filter =
            name + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QStringLiteral(");;");
    return filter + QStringLiteral("All files (*)");
}

GuiHostServices::GuiHostServices() : m_table(MakeHostServices(*this)) {}

GuiHostServices::~GuiHostServices() = default;

char* GuiHostServices::AskOpenFile(const char* title, const char* classPatterns)
{
    FileDialogRequest request;
    request.mode = FileDialogRequest::kOpenFile;
    request.title = QString::fromUtf8(title ? title : "");
    request.filter = FilterFromClassName(classPatterns);
    return MallocCopy(RunFileDialog(request));
}

char* GuiHostServices::AskSaveFile(const char* title, const char* classPatterns,
                                   const char* defaultExtension)
{
    FileDialogRequest request;
    request.mode = FileDialogRequest::kSaveFile;
    request.title = QString::fromUtf8(title ? title : "");
    request.filter = FilterFromClassName(classPatterns);
    request.defaultSuffix = QString::fromUtf8(defaultExtension ? defaultExtension : "");
    if (request.defaultSuffix.startsWith(QLatin1Char('.')))
        request.defaultSuffix.remove(0, 1);
    return MallocCopy(RunFileDialog(request));
}

void GuiHostServices::Report(PvSeverity severity, const char* message)
{
    const QString text = QString::fromUtf8(message ? message : "");
    switch (severity) {
    case PV_ERROR:
        ++m_errors;
        ShowMessage(text, QString::fromLatin1(text::kCaptionError));
        break;
    case PV_WARNING:
        ShowMessage(text, QString::fromLatin1(text::kCaptionWarning));
        break;
    default:
        SetStatusText("%s", text.toUtf8().constData());
        break;
    }
}

bool GuiHostServices::Progress(double, const char* text)
{
    if (text && *text)
        SetStatusText("%s", text);
    return true;
}

void GuiHostServices::ShowHelp(const char* title, const char* text)
{
    ShowMessage(QString::fromUtf8(text ? text : ""), QString::fromUtf8(title ? title : ""));
}

bool GuiHostServices::EditOptions(const char*, PvOption*, std::uint32_t)
{
    return false;
}

} // namespace polyvant
