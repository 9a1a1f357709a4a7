#include "CMyPolyvantApp.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStatusBar>

#include <polyvant/Obj3d.h>
#include <polyvant/ObjectList.h>
#include <polyvant/Plugin.h>

#include "AboutDlg.h"
#include "CMainFrame.h"
#include "HandoffQueue.h"
#include "PathUtil.h"
#include "Settings.h"
#include "SignalExit.h"
#include "SingleInstance.h"
#include "Strings.h"
#include "UiServices.h"
#include "dialogs/ConfigDialog.h"
#include "model/DefaultLights.h"
#include "plugins/ImportCheck.h"
#include "plugins/ImportClassLookup.h"
#include "plugins/PluginManager.h"
#include "plugins/ui/GuiHostBackend.h"
#include "view/CMyPolyvantView.h"

using namespace polyvant;

namespace {

CMyPolyvantApp* g_app = nullptr;

void ReleaseImporter(void* item)
{
    if (item)
        static_cast<PluginObject*>(item)->Release();
}

QString Latin(const char* text)
{
    return QString::fromLatin1(text);
}

// A class's name as the host may use it: "" when the plug-in returned none or junk.
std::string ClassNameOf(ClassDescriptor* cls)
{
    return cls ? PluginText(cls->ClassName()).value_or(std::string()) : std::string();
}

} // namespace

CMyPolyvantApp* GetApp() noexcept
{
    return g_app;
}

QString CommandLineFileName(const QStringList& arguments)
{
    bool switches = true;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (switches && arg == QLatin1String("--")) {
            switches = false;
            continue;
        }
        if (switches && arg.startsWith(QLatin1Char('-')) && arg.size() > 1)
            continue;
        if (arg.isEmpty())
            continue;
        // Made absolute here, against this process's directory: a later start hands
        // the name to an instance that runs somewhere else.
        return QDir::cleanPath(QDir::current().absoluteFilePath(arg));
    }
    return {};
}

std::string DefaultPluginPath(const std::string& programPath)
{
    const QFileInfo program(QString::fromStdString(programPath));
    const QString beside = program.absolutePath() + QStringLiteral("/plugin/");
#ifdef POLYVANT_INSTALLED_PLUGIN_DIR
    if (!QFileInfo(beside).isDir()) {
        const QString installed = QDir::cleanPath(program.absolutePath() + QLatin1Char('/') +
                                                  QStringLiteral(POLYVANT_INSTALLED_PLUGIN_DIR)) +
                                  QLatin1Char('/');
        if (QFileInfo(installed).isDir())
            return installed.toStdString();
    }
#endif
    return beside.toStdString();
}

CMyPolyvantApp::CMyPolyvantApp(StartOptions options) : m_options(std::move(options))
{
    g_app = this;
    if (m_options.arguments.contains(QStringLiteral("--verbose")))
        m_options.verbose = true;
}

void CMyPolyvantApp::Log(const QString& line) const
{
    if (!m_options.verbose)
        return;
    std::printf("polyvant: %s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
}

CMyPolyvantApp::~CMyPolyvantApp()
{
    ExitInstance();
    if (g_app == this)
        g_app = nullptr;
}

bool CMyPolyvantApp::InitInstance()
{
    initialised = 0;
    m_commandLineFile = CommandLineFileName(m_options.arguments);
    const std::string programPath = m_options.arguments.isEmpty()
                                        ? std::string("polyvant")
                                        : m_options.arguments.front().toStdString();
    const std::string appKey =
        m_options.appKeyName.empty() ? ProgramBaseName(programPath) : m_options.appKeyName;

    if (m_options.singleInstance) {
        m_instance = std::make_unique<SingleInstance>(QString::fromStdString(appKey));
        if (!m_instance->TryBecomePrimary()) {
            switch (m_instance->HandOff(m_commandLineFile)) {
            case SingleInstance::HandOffResult::kDelivered:
                m_exitCode = 0;
                m_instance.reset();
                return false;
            case SingleInstance::HandOffResult::kFailed:
                std::fprintf(stderr, "polyvant: the running instance did not answer\n");
                m_exitCode = 1;
                m_instance.reset();
                return false;
            case SingleInstance::HandOffResult::kBecamePrimary:
                break;
            }
        }
        if (!m_instance->ListenError().isEmpty())
            std::fprintf(stderr, "polyvant: later starts cannot reach this instance: %s\n",
                         qPrintable(m_instance->ListenError()));
    }

    std::srand(unsigned(std::time(nullptr)));
    initialised = 1;
    activeView = nullptr;
    const std::string defaultPluginPath = m_options.defaultPluginPath.empty()
                                              ? DefaultPluginPath(programPath)
                                              : m_options.defaultPluginPath;
    settings = new Settings(appKey, defaultPluginPath);
    if (!settings->LoadNotice().empty())
        std::fprintf(stderr, "polyvant: %s\n", settings->LoadNotice().c_str());

    m_queue = std::make_unique<HandoffQueue>([this](const QString& path) { RunHandOff(path); });
    if (m_instance)
        connect(m_instance.get(), &SingleInstance::requestReceived, this,
                [this](const QString& path, std::uint64_t id) {
                    m_queue->Enqueue(path, [this, id] {
                        if (m_instance)
                            m_instance->Acknowledge(id);
                    });
                });

    m_frame = new CMainFrame(*this);
    m_frame->createView();
    if (m_options.showWindow) {
        m_frame->show();
        m_frame->repaint();
    }
    m_frame->setWindowTitle(Latin(text::kProductName) + QLatin1Char(' ') +
                            Latin(text::kVersionTag));
    InstallSignalHandlers();

    // The scene containers exist in every case, plug-ins or not.
    sceneObjects = new ObjectList(nullptr);
    importers = new ObjectList(ReleaseImporter);
    lights = new ObjectList(DeleteSceneObject);
    meshCount = faceCount = vertexCount = 0;
    for (int i = 0; i < 3; ++i)
        sceneMin[i] = sceneMax[i] = sceneCenter[i] = 0;

    SetStatusText("%s", text::kStartLoading);
    m_hostServices = std::make_unique<GuiHostBackend>();
    m_hostServices->SetParentWindow(m_frame);
    m_hostServices->SetStatusSink(
        [](const QString& line) { SetStatusText("%s", line.toUtf8().constData()); });
    pluginManager = new PluginManager();
    pluginManager->SetHostServices(m_hostServices->Table());
    {
        BusyScope busy; // library constructors and entry points run here
        pluginManager->ScanDirectory(settings->plugin_path.c_str(), kPluginInterfaceVersion);
    }
    for (const PluginLoadReport& report : pluginManager->Reports())
        if (!report.kept)
            std::fprintf(stderr, "polyvant: plug-in %s skipped: %s\n", report.path.c_str(),
                         report.reason.c_str());
    const std::string fallbackNotice = FallBackOnPluginsBesideProgram(defaultPluginPath);

    // A damaged settings file was moved aside: say so over the message pane for a while.
    if (!settings->LoadNotice().empty())
        m_frame->statusBar()->showMessage(QString::fromStdString(settings->LoadNotice()), 15000);
    else if (!fallbackNotice.empty())
        m_frame->statusBar()->showMessage(QString::fromStdString(fallbackNotice), 15000);

    if (!BuildClassTables()) {
        Log(QStringLiteral("ready"));
        return true;
    }

    SetStatusText("%s", text::kPluginsLoaded);
    if (!m_commandLineFile.isEmpty()) {
        BusyScope busy;
        RunHandOff(m_commandLineFile);
    }
    Log(QStringLiteral("ready"));
    return true;
}

// The stored plug-in path is written back at every exit, so it keeps naming the folder
// of the copy of the program that first ran: after that copy is moved or removed, it
// holds nothing. Rather than start without formats, load those beside this program; the
// setting itself is left for the user to change.
std::string CMyPolyvantApp::FallBackOnPluginsBesideProgram(const std::string& besideProgram)
{
    if (pluginManager->ClassCount() > 0 || besideProgram.empty() ||
        QDir(QString::fromStdString(settings->plugin_path)) ==
            QDir(QString::fromStdString(besideProgram)))
        return {};
    auto fallback = std::make_unique<PluginManager>();
    fallback->SetHostServices(m_hostServices->Table());
    {
        BusyScope busy;
        fallback->ScanDirectory(besideProgram.c_str(), kPluginInterfaceVersion);
    }
    if (fallback->ClassCount() == 0)
        return {};
    delete pluginManager;
    pluginManager = fallback.release();
    std::fprintf(stderr,
                 "polyvant: the plug-in path %s holds no plug-ins; using those in %s, beside "
                 "the program (the path is set in Edit > Options)\n",
                 settings->plugin_path.c_str(), besideProgram.c_str());
    return "No plug-ins in the plug-in path; using those beside the program";
}

bool CMyPolyvantApp::BuildClassTables()
{
    const auto switchOff = [this] {
        importsAvailable = currentImport = exportsAvailable = currentExport = 0;
    };
    const int count = pluginManager->ClassCount();
    if (count <= 0) {
        ShowMessage(Latin(text::kNoPluginDll), Latin(text::kCaptionError));
        switchOff();
        SetStatusText("%s", text::kNoPlugins);
        return false;
    }
    const auto build = [this, count](std::uint32_t superClass, const std::string& last, int*& table,
                                     int& used, int& current, int& available) {
        delete[] table;
        table = new int[std::size_t(count)];
        used = current = available = 0;
        for (int i = 0; i < count; ++i) {
            ClassDescriptor* cls = pluginManager->GetClass(i);
            if (!cls || cls->SuperClassID() != superClass)
                continue;
            // The last class of that name wins, as a later library may replace one.
            if (!last.empty() && ClassNameOf(cls) == last)
                current = used;
            table[used++] = i;
            available = 1;
        }
    };
    build(kImportSuperClassId, settings->last_import_class, importClasses, importClassCount,
          currentImport, importsAvailable);
    if (importClassCount == 0) {
        ShowMessage(Latin(text::kNoImportDll), Latin(text::kCaptionError));
        switchOff();
        SetStatusText("%s", text::kNoImportPlugins);
        return false;
    }
    build(kExportSuperClassId, settings->last_export_class, exportClasses, exportClassCount,
          currentExport, exportsAvailable);
    if (exportClassCount == 0) {
        ShowMessage(Latin(text::kNoExportDll), Latin(text::kCaptionError));
        switchOff();
        SetStatusText("%s", text::kNoExportPlugins);
        return false;
    }
    return true;
}

void CMyPolyvantApp::StoreViewSettings()
{
    if (activeView && !m_viewSettingsStored) {
        activeView->StoreSettings();
        m_viewSettingsStored = true;
    }
}

void CMyPolyvantApp::SaveSettingsNow()
{
    if (!settings)
        return;
    if (activeView)
        activeView->StoreSettings();
    settings->SaveSettings();
}

int CMyPolyvantApp::ExitInstance()
{
    if (m_exited)
        return m_exitCode;
    m_exited = true;
    RemoveSignalHandlers();
    if (initialised) {
        // The view writes its pane modes into the settings before anything is torn
        // down, then goes with the frame (closing the frame only hid it).
        StoreViewSettings();
        delete m_frame;
        m_frame = nullptr;
        activeView = nullptr;
        m_queue.reset();

        delete sceneObjects;
        sceneObjects = nullptr;
        delete importers;
        importers = nullptr;
        delete lights;
        lights = nullptr;
        // Only a usable table names the selection: a start without export classes
        // switched imports off and must not overwrite the stored names.
        if (pluginManager && importClasses && importClassCount > 0 && importsAvailable &&
            currentImport >= 0 && currentImport < importClassCount) {
            const std::string name =
                ClassNameOf(pluginManager->GetClass(importClasses[currentImport]));
            settings->SetLastImportClass(name.c_str());
        }
        if (pluginManager && exportClasses && exportClassCount > 0 && exportsAvailable &&
            currentExport >= 0 && currentExport < exportClassCount) {
            const std::string name =
                ClassNameOf(pluginManager->GetClass(exportClasses[currentExport]));
            settings->SetLastExportClass(name.c_str());
        }
        delete[] importClasses;
        importClasses = nullptr;
        delete[] exportClasses;
        exportClasses = nullptr;
        delete pluginManager;
        pluginManager = nullptr;
        delete settings; // saves every value
        settings = nullptr;
        m_hostServices.reset();
    }
    if (m_instance) {
        m_instance->Release();
        m_instance.reset();
    }
    return m_exitCode;
}

bool CMyPolyvantApp::FindImportClass(const std::string& path, int& position) const
{
    if (!pluginManager || !settings)
        return false;
    const int found = polyvant::FindImportClass(*pluginManager, settings->extensions,
                                                settings->extensionClasses, path);
    if (found < 0)
        return false;
    position = found;
    return true;
}

bool CMyPolyvantApp::OpenModelFile(const std::string& path)
{
    int position = -1;
    if (!FindImportClass(path, position)) {
        ShowMessage(Latin(text::kExtensionNotRecognized), Latin(text::kCaptionError));
        return false;
    }
    if (importsAvailable != 1)
        return false;
    ClassDescriptor* cls = pluginManager->GetClass(position);
    const QString fileName = QString::fromStdString(path);
    PluginObject* object = nullptr;
    {
        BusyScope busy;
        object = cls ? cls->Create() : nullptr;
    }
    if (!object) {
        ShowMessage(QStringLiteral("The import plug-in \"%1\" could not be started for %2")
                        .arg(QString::fromStdString(ClassNameOf(cls)), fileName),
                    Latin(text::kCaptionError));
        return false;
    }
    auto* importer = static_cast<Importer*>(object);
    const int problemsBefore = m_hostServices ? m_hostServices->ProblemCount() : 0;
    ObjectList* list = nullptr;
    {
        BusyScope busy;
        // Closes the progress window the plug-in may have opened.
        std::optional<GuiHostBackend::Operation> operation;
        if (m_hostServices)
            operation.emplace(*m_hostServices);
        list = importer->ImportFile(path.c_str());
    }
    CheckedImport checked = CheckImportedList(list);
    if (!checked.problems.empty()) {
        QString text =
            QStringLiteral("%1: %2 object(s) skipped:").arg(fileName).arg(checked.problems.size());
        for (std::size_t i = 0; i < checked.problems.size() && i < 10; ++i)
            text += QStringLiteral("\n%1: %2")
                        .arg(QString::fromStdString(checked.problems[i].object),
                             QString::fromStdString(checked.problems[i].reason));
        ShowMessage(text, Latin(text::kCaptionWarning));
    }
    if (checked.objects.empty()) {
        // Nothing arrived: the scene and the lights stay as they were. A plug-in that
        // said why already had its message box.
        if (!m_hostServices || m_hostServices->ProblemCount() == problemsBefore)
            ShowMessage(QStringLiteral("No objects could be imported from %1").arg(fileName),
                        Latin(text::kCaptionError));
        importer->Release();
        return false;
    }
    if (settings->clear_flag != 0)
        ClearScene();
    ClearLights();
    for (Obj3d* obj : checked.objects)
        sceneObjects->Append(obj);
    if (m_hostServices)
        m_hostServices->RememberFolderOf(fileName);
    const std::string reported = PluginText(importer->GetFileName()).value_or(std::string()).empty()
                                     ? path
                                     : *PluginText(importer->GetFileName());
    const PathParts parts = SplitPath(reported);
    if (m_frame)
        m_frame->setWindowTitle(
            Latin(text::kProductName) + QLatin1Char(' ') + Latin(text::kVersionTag) +
            QLatin1Char(' ') +
            QString::fromStdString(MakePath("", "", parts.name, parts.extension)));
    importers->Append(importer);
    UpdateSceneCounts();
    return true;
}

void CMyPolyvantApp::UpdateSceneCounts()
{
    meshCount = faceCount = vertexCount = 0;
    if (!sceneObjects)
        return;
    for (ListNode* node = sceneObjects->head; node; node = node->next) {
        auto* obj = static_cast<Obj3d*>(node->item);
        if (!obj || obj->type != kMeshType)
            continue;
        const auto* mesh = static_cast<const Mesh3d*>(obj);
        meshCount += 1;
        vertexCount += int(mesh->vertexCount);
        faceCount += int(mesh->faceCount);
    }
}

void CMyPolyvantApp::ClearScene()
{
    faceCount = vertexCount = meshCount = 0;
    if (sceneObjects) {
        delete sceneObjects;
        sceneObjects = new ObjectList(nullptr);
    }
    if (importers) {
        delete importers;
        importers = new ObjectList(ReleaseImporter);
    }
}

void CMyPolyvantApp::ClearLights()
{
    if (lights) {
        const ItemDeleter deleter = lights->deleter;
        delete lights;
        lights = new ObjectList(deleter);
    }
}

void CMyPolyvantApp::ComputeSceneBounds()
{
    bool first = true;
    if (sceneObjects) {
        for (ListNode* node = sceneObjects->head; node; node = node->next) {
            auto* obj = static_cast<Obj3d*>(node->item);
            if (!obj || obj->type != kMeshType)
                continue;
            const auto* mesh = static_cast<const Mesh3d*>(obj);
            for (int i = 0; i < 3; ++i) {
                if (first) {
                    sceneMin[i] = mesh->min[i];
                    sceneMax[i] = mesh->max[i];
                } else {
                    sceneMin[i] = std::min(sceneMin[i], std::min(mesh->min[i], mesh->max[i]));
                    sceneMax[i] = std::max(sceneMax[i], std::max(mesh->min[i], mesh->max[i]));
                }
            }
            first = false;
        }
    }
    for (int i = 0; i < 3; ++i)
        sceneCenter[i] = (sceneMin[i] + sceneMax[i]) * 0.5;
    // Lights the user edited survive a rebuild; new defaults only for an empty list.
    if (lights && lights->Count() == 0)
        CreateDefaultLights(lights, sceneMin, sceneMax, sceneCenter);
}

void CMyPolyvantApp::BuildViewsIfAny()
{
    if (activeView)
        activeView->BuildViews();
}

void CMyPolyvantApp::QueueOpen(const QString& path)
{
    if (m_queue)
        m_queue->Enqueue(path);
}

void CMyPolyvantApp::RunHandOff(const QString& path)
{
    if (m_frame) {
        if (m_frame->isMinimized())
            m_frame->showNormal();
        m_frame->raise();
        m_frame->activateWindow();
    }
    if (path.isEmpty()) {
        Log(QStringLiteral("raised"));
        return; // a later start without a file only brings this one to the front
    }
    if (OpenModelFile(path.toStdString())) {
        BuildViewsIfAny();
        Log(QStringLiteral("opened %1 M:%2 F:%3 V:%4")
                .arg(path)
                .arg(meshCount)
                .arg(faceCount)
                .arg(vertexCount));
    } else {
        Log(QStringLiteral("not opened %1").arg(path));
    }
}

void CMyPolyvantApp::OnOptions()
{
    if (!settings)
        return;
    ConfigDialog dialog(m_frame);
    dialog.SetValues(settings->plugin_path, settings->clear_flag != 0);
    {
        BusyScope busy;
        if (dialog.exec() != QDialog::Accepted)
            return; // Cancel keeps both settings
    }
    if (dialog.Path() != settings->plugin_path)
        ShowMessage(Latin(text::kRestartWarning), Latin(text::kCaptionWarning));
    settings->plugin_path = dialog.Path();
    settings->clear_flag = dialog.ClearAtImport() ? 1 : 0;
}

void CMyPolyvantApp::OnAppAbout()
{
    BusyScope busy;
    CAboutDlg dialog(m_frame);
    dialog.exec();
}

void CMyPolyvantApp::InstallSignalHandlers()
{
    InstallExitSignals([this] {
        m_quitRequested = true;
        // Open dialogs end first, as if cancelled; the way out is then the same as
        // File > Exit (before the event loop runs, main() sees QuitRequested).
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible())
                dialog->reject();
        if (m_frame)
            m_frame->close();
        QCoreApplication::exit(0);
    });
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connect(
            gui, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager&) { SaveSettingsNow(); }, Qt::DirectConnection);
}
