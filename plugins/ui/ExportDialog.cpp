#include "ExportDialog.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "GuiHostBackend.h"
#include "app/UiServices.h"
#include "plugins/ImportCheck.h"

namespace polyvant {

ExportDialog::ExportDialog(DialogHost& host, GuiHostBackend* services, QWidget* parent)
    : QDialog(parent), m_host(host), m_services(services)
{
    setWindowTitle(QStringLiteral("Export"));
    CreateControls();
    FillClasses();
}

void ExportDialog::CreateControls()
{
    auto* box = new QGroupBox(QStringLiteral("Export"), this);
    m_classCombo = new QComboBox(box);
    m_classCombo->setObjectName(QStringLiteral("classCombo"));
    m_classCombo->addItem(QStringLiteral("(none)"));
    auto* exportButton = new QPushButton(QStringLiteral("&Export"), box);
    exportButton->setObjectName(QStringLiteral("exportButton"));
    auto* optionsButton = new QPushButton(QStringLiteral("&Options"), box);
    optionsButton->setObjectName(QStringLiteral("optionsButton"));
    auto* helpButton = new QPushButton(QStringLiteral("&Help"), box);
    helpButton->setObjectName(QStringLiteral("helpButton"));
    auto* boxLayout = new QVBoxLayout(box);
    boxLayout->addWidget(m_classCombo);
    auto* row = new QHBoxLayout;
    row->addWidget(exportButton);
    row->addWidget(optionsButton);
    row->addWidget(helpButton);
    boxLayout->addLayout(row);

    m_closeButton = new QPushButton(QStringLiteral("&Close"), this);
    m_closeButton->setObjectName(QStringLiteral("closeButton"));
    m_closeButton->setDefault(true); // Enter closes; exporting takes a click or Alt+E
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(box);
    layout->addLayout(buttons);

    connect(exportButton, &QPushButton::clicked, this, &ExportDialog::OnExport);
    connect(optionsButton, &QPushButton::clicked, this, &ExportDialog::OnOptions);
    connect(helpButton, &QPushButton::clicked, this, &ExportDialog::OnHelp);
    connect(m_closeButton, &QPushButton::clicked, this, &ExportDialog::accept);
    connect(m_classCombo, &QComboBox::currentIndexChanged, this, &ExportDialog::OnSelection);
}

void ExportDialog::FillClasses()
{
    FillClassCombo(m_classCombo, m_host.Plugins(), m_host.ExportTable());
}

void ExportDialog::OnSelection(int index)
{
    SelectTableEntry(m_host.ExportTable(), index);
}

ClassDescriptor* ExportDialog::Current()
{
    const ClassTable table = m_host.ExportTable();
    if (!table.available || m_running)
        return nullptr;
    return TableClass(m_host.Plugins(), table, table.current ? *table.current : 0);
}

void ExportDialog::OnExport()
{
    ClassDescriptor* d = Current();
    if (!d)
        return;
    m_running = true;
    BusyScope busy;
    if (m_services) {
        m_services->BeginOperation();
        m_services->BeginCapture();
    }
    auto* exporter = static_cast<Exporter*>(d->Create());
    int written = 0;
    if (exporter) {
        // The exporter gets the scene list itself; an absent scene is an empty one.
        ObjectList empty;
        ObjectList* scene = m_host.SceneObjects();
        written = exporter->Export(scene ? scene : &empty);
        exporter->Release();
    }
    QString problems;
    bool cancelled = false;
    QString file;
    if (m_services) {
        const auto messages = m_services->EndCapture();
        m_services->EndOperation();
        cancelled = m_services->ProgressCancelled() || m_services->PromptCancelled();
        file = m_services->LastChosenPath();
        for (const auto& message : messages) {
            if (message.severity != PV_INFO) // the heading names the file
                problems += QLatin1Char('\n') + WithoutFileName(message.text, file);
            else if (!cancelled)
                m_services->Report(PV_INFO, message.text.toUtf8().constData());
        }
    }
    m_running = false;
    m_closeButton->setFocus();

    const QString named = file.isEmpty() ? QString() : QStringLiteral(" to %1").arg(file);
    if (!exporter) {
        const auto name = PluginText(d->ClassName());
        ShowMessage(QStringLiteral("The export plug-in \"%1\" could not be started.")
                        .arg(QString::fromStdString(name.value_or("(unnamed)"))),
                    QStringLiteral("Error"));
    } else if (!written && !problems.isEmpty()) {
        ShowMessage(QStringLiteral("The export%1 failed:").arg(named) + problems,
                    QStringLiteral("Error"));
    } else if (!problems.isEmpty()) {
        ShowMessage(QStringLiteral("The export%1:").arg(named) + problems,
                    QStringLiteral("Warning"));
    } else if (!written && m_services && !cancelled) {
        ShowMessage(QStringLiteral("The export%1 failed; the plug-in gave no reason.").arg(named),
                    QStringLiteral("Error"));
    } else if (written && m_services && !file.isEmpty()) {
        // A quiet success would leave the user wondering: the status bar says where it went.
        m_services->ShowStatus(QStringLiteral("Exported to %1").arg(file));
    }
}

void ExportDialog::OnOptions()
{
    ClassDescriptor* d = Current();
    if (!d)
        return;
    m_running = true;
    BusyScope busy;
    if (m_services)
        m_services->BeginOperation();
    if (PluginObject* e = d->Create()) {
        e->Options();
        e->Release();
    }
    if (m_services)
        m_services->EndOperation();
    m_running = false;
}

void ExportDialog::OnHelp()
{
    ClassDescriptor* d = Current();
    if (!d)
        return;
    m_running = true;
    BusyScope busy;
    if (PluginObject* e = d->Create()) {
        e->Help();
        e->Release();
    }
    m_running = false;
}

void ExportDialog::reject()
{
    if (!m_running)
        QDialog::reject();
}

void RunExportDialog(DialogHost& host, GuiHostBackend* services, QWidget* parent)
{
    ExportDialog dialog(host, services, parent);
    RunDialog(dialog);
}

} // namespace polyvant
