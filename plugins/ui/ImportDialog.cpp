#include "ImportDialog.h"

#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "GuiHostBackend.h"
#include "app/PathUtil.h"
#include "app/Strings.h"
#include "app/UiServices.h"
#include "plugins/ImportCheck.h"
#include "plugins/ImportClassLookup.h"
#include "plugins/PluginManager.h"

namespace polyvant {

namespace {

constexpr int kShownProblems = 10;

QString CountText(long value)
{
    return QStringLiteral(":%1").arg(value);
}

QString Joined(const std::vector<QString>& lines)
{
    QString text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i == std::size_t(kShownProblems)) {
            text += QStringLiteral("\n... and %1 more").arg(lines.size() - i);
            break;
        }
        text += QLatin1Char('\n') + lines[i];
    }
    return text;
}

} // namespace

ImportDialog::ImportDialog(DialogHost& host, GuiHostBackend* services, QWidget* parent)
    : QDialog(parent), m_host(host), m_services(services)
{
    setWindowTitle(QStringLiteral("Import"));
    CreateControls();
    FillClasses();
    ShowCounts(0, 0, 0);
}

ImportDialog::~ImportDialog()
{
    Discard();
}

void ImportDialog::CreateControls()
{
    auto* importBox = new QGroupBox(QStringLiteral("Import"), this);
    m_classCombo = new QComboBox(importBox);
    m_classCombo->setObjectName(QStringLiteral("classCombo"));
    m_classCombo->addItem(QStringLiteral("(none)"));
    m_importButton = new QPushButton(QStringLiteral("&Import"), importBox);
    m_importButton->setObjectName(QStringLiteral("importButton"));
    auto* optionsButton = new QPushButton(QStringLiteral("&Options"), importBox);
    optionsButton->setObjectName(QStringLiteral("optionsButton"));
    auto* helpButton = new QPushButton(QStringLiteral("&Help"), importBox);
    helpButton->setObjectName(QStringLiteral("helpButton"));
    auto* importLayout = new QVBoxLayout(importBox);
    importLayout->addWidget(m_classCombo);
    auto* row = new QHBoxLayout;
    row->addWidget(m_importButton);
    row->addWidget(optionsButton);
    row->addWidget(helpButton);
    importLayout->addLayout(row);

    auto* statisticBox = new QGroupBox(QStringLiteral("Statistic"), this);
    auto* grid = new QGridLayout(statisticBox);
    auto addCounter = [&](int line, const char* label, const char* name) {
        auto* value = new QLabel(statisticBox);
        value->setObjectName(QLatin1String(name));
        grid->addWidget(new QLabel(QLatin1String(label), statisticBox), line, 0);
        grid->addWidget(value, line, 1);
        return value;
    };
    m_meshCount = addCounter(0, "Mesh", "meshCountLabel");
    m_faceCount = addCounter(1, "Face", "faceCountLabel");
    m_vertexCount = addCounter(2, "Vertex", "vertexCountLabel");

    m_okButton = new QPushButton(QStringLiteral("&OK"), this);
    m_okButton->setObjectName(QStringLiteral("okButton"));
    m_okButton->setDefault(true);
    auto* cancelButton = new QPushButton(QStringLiteral("&Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_okButton);
    buttons->addWidget(cancelButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(importBox);
    layout->addWidget(statisticBox);
    layout->addLayout(buttons);

    connect(m_importButton, &QPushButton::clicked, this, &ImportDialog::OnImport);
    connect(optionsButton, &QPushButton::clicked, this, &ImportDialog::OnOptions);
    connect(helpButton, &QPushButton::clicked, this, &ImportDialog::OnHelp);
    connect(m_okButton, &QPushButton::clicked, this, &ImportDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &ImportDialog::reject);
    connect(m_classCombo, &QComboBox::currentIndexChanged, this, &ImportDialog::OnSelection);
}

void ImportDialog::FillClasses()
{
    FillClassCombo(m_classCombo, m_host.Plugins(), m_host.ImportTable());
}

void ImportDialog::OnSelection(int index)
{
    SelectTableEntry(m_host.ImportTable(), index);
}

QString ImportDialog::MeshText() const
{
    return m_meshCount->text();
}
QString ImportDialog::FaceText() const
{
    return m_faceCount->text();
}
QString ImportDialog::VertexText() const
{
    return m_vertexCount->text();
}

void ImportDialog::ShowCounts(long meshes, long faces, long vertices)
{
    m_meshCount->setText(CountText(meshes));
    m_faceCount->setText(CountText(faces));
    m_vertexCount->setText(CountText(vertices));
}

void ImportDialog::Discard()
{
    m_objects.clear();
    m_result = nullptr;
    m_fileName.clear();
    if (Importer* importer = std::exchange(m_importer, nullptr)) {
        BusyScope busy;
        importer->Release(); // with it go the objects it returned
    }
}

void ImportDialog::OnImport()
{
    const ClassTable table = m_host.ImportTable();
    if (!table.available || m_running)
        return;
    ClassDescriptor* d = TableClass(m_host.Plugins(), table, table.current ? *table.current : 0);
    if (!d)
        return;
    m_running = true;
    Discard();
    // Nothing held any more: the counters must not promise what OK would not keep.
    ShowCounts(0, 0, 0);

    BusyScope busy;
    if (m_services) {
        m_services->BeginOperation();
        m_services->BeginCapture();
    }
    PluginObject* object = d->Create();
    m_importer = static_cast<Importer*>(object);
    m_result = m_importer ? m_importer->ImportInteractive() : nullptr;
    std::vector<QString> errors;
    bool cancelled = false;
    if (m_services) {
        const auto messages = m_services->EndCapture();
        m_services->EndOperation();
        cancelled = m_services->ProgressCancelled() ||
                    (m_services->PromptCancelled() && m_services->LastChosenPath().isEmpty());
        for (const auto& message : messages) {
            if (message.severity != PV_INFO)
                errors.push_back(message.text);
            else if (!cancelled) // "import cancelled" and the like: the user knows
                m_services->Report(PV_INFO, message.text.toUtf8().constData());
        }
    }
    if (!object) {
        const auto name = PluginText(d->ClassName());
        ShowMessage(QStringLiteral("The import plug-in \"%1\" could not be started.")
                        .arg(QString::fromStdString(name.value_or("(unnamed)"))),
                    QStringLiteral("Error"));
        m_running = false;
        return;
    }

    const auto reported = PluginText(m_importer->GetFileName());
    const QString file = reported && !reported->empty()
                             ? QString::fromStdString(*reported)
                             : (m_services ? m_services->LastChosenPath() : QString());
    m_fileName = file;
    CheckedImport checked = CheckImportedList(m_result);
    std::vector<QString> problems;
    for (const ImportProblem& p : checked.problems)
        problems.push_back(QString::fromStdString(p.object + ": " + p.reason));
    const bool empty = checked.objects.empty();
    if (empty) {
        Discard(); // nothing of this run can enter the scene
    } else {
        m_objects = std::move(checked.objects);
        long meshes = 0, faces = 0, vertices = 0;
        for (Obj3d* o : m_objects) {
            if (o->type != kMeshType)
                continue;
            const auto* mesh = static_cast<const Mesh3d*>(o);
            meshes += 1;
            faces += long(mesh->faceCount);
            vertices += long(mesh->vertexCount);
        }
        ShowCounts(meshes, faces, vertices);
        m_okButton->setFocus();
    }
    m_running = false;
    ReportRun(file, problems, errors, empty, cancelled);
}

QString ImportDialog::OtherClassHint(const QString& file) const
{
    PluginManager* plugins = m_host.Plugins();
    const QString extension = QFileInfo(file).suffix();
    if (!plugins || extension.isEmpty())
        return QString();
    const ClassTable table = m_host.ImportTable();
    ClassDescriptor* chosen = TableClass(plugins, table, table.current ? *table.current : 0);
    const int suited = FindImportClass(*plugins, {}, {}, file.toStdString());
    ClassDescriptor* other = suited >= 0 ? plugins->GetClass(suited) : nullptr;
    const auto name = other && other != chosen ? PluginText(other->ClassName()) : std::nullopt;
    if (!name)
        return QString();
    return QStringLiteral("\n\nFiles named *.%1 are read by \"%2\": choose it in the list to "
                          "import this one.")
        .arg(extension, QString::fromStdString(*name));
}

void ImportDialog::ReportRun(const QString& file, const std::vector<QString>& problems,
                             const std::vector<QString>& errors, bool empty, bool cancelled)
{
    const QString named = file.isEmpty() ? QString() : QStringLiteral(" of %1").arg(file);
    if (empty && cancelled)
        return; // the user stopped it and knows
    std::vector<QString> reasons;
    for (const QString& error : errors)
        reasons.push_back(WithoutFileName(error, file)); // the heading names the file
    if (empty && !errors.empty()) {
        ShowMessage(QStringLiteral("The import%1 failed:").arg(named) + Joined(reasons) +
                        OtherClassHint(file),
                    QStringLiteral("Error"));
        return;
    }
    if (empty && !problems.empty()) {
        ShowMessage(QStringLiteral("Nothing%1 could be used; skipped:").arg(named) +
                        Joined(problems),
                    QStringLiteral("Error"));
        return;
    }
    if (empty) {
        ShowMessage(QStringLiteral("No meshes found to import!"), QStringLiteral("Info"));
        return;
    }
    std::vector<QString> remarks = reasons;
    if (!problems.empty()) {
        remarks.push_back(QStringLiteral("%1 object(s) skipped:").arg(problems.size()));
        remarks.insert(remarks.end(), problems.begin(), problems.end());
    }
    if (!remarks.empty())
        ShowMessage(QStringLiteral("The import%1:").arg(named) + Joined(remarks),
                    QStringLiteral("Warning"));
}

void ImportDialog::RunObjectCall(void (PluginObject::*call)())
{
    const ClassTable table = m_host.ImportTable();
    if (!table.available || m_running)
        return;
    ClassDescriptor* d = TableClass(m_host.Plugins(), table, table.current ? *table.current : 0);
    if (!d)
        return;
    m_running = true;
    BusyScope busy;
    if (m_services)
        m_services->BeginOperation();
    if (PluginObject* object = d->Create()) {
        (object->*call)();
        object->Release();
    }
    if (m_services)
        m_services->EndOperation();
    m_running = false;
}

void ImportDialog::OnOptions()
{
    RunObjectCall(&PluginObject::Options);
}

void ImportDialog::OnHelp()
{
    RunObjectCall(&PluginObject::Help);
}

void ImportDialog::accept()
{
    if (m_running)
        return;
    if (m_host.ImportTable().available && m_importer) {
        if (!m_objects.empty()) {
            if (m_host.ClearFlag())
                m_host.ClearScene();
            m_host.ClearLights();
            for (Obj3d* object : m_objects)
                m_host.AddToScene(object);
            const PathParts parts = SplitPath(m_fileName.toStdString());
            m_host.SetTitle(QString::fromLatin1(text::kProductName) + QLatin1Char(' ') +
                            QString::fromLatin1(text::kVersionTag) + QLatin1Char(' ') +
                            QString::fromStdString(MakePath("", "", parts.name, parts.extension)));
        }
        m_host.KeepImporter(std::exchange(m_importer, nullptr));
        m_objects.clear();
        m_result = nullptr;
        m_host.UpdateSceneCounts();
    }
    QDialog::accept();
}

void ImportDialog::reject()
{
    if (m_running)
        return; // the plug-in is still working; its progress window has Cancel
    Discard();
    QDialog::reject();
}

bool RunImportDialog(DialogHost& host, GuiHostBackend* services, QWidget* parent)
{
    ImportDialog dialog(host, services, parent);
    return RunDialog(dialog) == QDialog::Accepted;
}

} // namespace polyvant
