#include "ConfigDialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/Strings.h"
#include "app/UiServices.h"

using namespace polyvant;

ConfigDialog::ConfigDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("configDialog"));
    setWindowTitle(QString::fromLatin1(text::kProductName) + QLatin1Char(' ') +
                   QString::fromLatin1(text::kConfiguration));

    auto* group = new QGroupBox(QString::fromLatin1(text::kConfigPluginPath), this);
    m_pathEdit = new QLineEdit(group);
    m_pathEdit->setObjectName(QStringLiteral("pathEdit"));
    m_pathEdit->setMinimumWidth(320);
    auto* browse = new QPushButton(QString::fromLatin1(text::kConfigBrowse), group);
    browse->setObjectName(QStringLiteral("browseButton"));
    browse->setAutoDefault(false);
    auto* groupLayout = new QHBoxLayout(group);
    groupLayout->addWidget(m_pathEdit, 1);
    groupLayout->addWidget(browse);

    m_clearCheck = new QCheckBox(QString::fromLatin1(text::kConfigClearAtImport), this);
    m_clearCheck->setObjectName(QStringLiteral("clearCheck"));

    auto* ok = new QPushButton(QString::fromLatin1(text::kConfigOk), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QString::fromLatin1(text::kConfigCancel), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addStretch(1);

    auto* layout = new QGridLayout(this);
    layout->addWidget(group, 0, 0);
    layout->addWidget(m_clearCheck, 1, 0);
    layout->addLayout(buttons, 0, 1, 2, 1);

    connect(ok, &QPushButton::clicked, this, &ConfigDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &ConfigDialog::reject);
    connect(browse, &QPushButton::clicked, this, &ConfigDialog::OnBrowse);
}

ConfigDialog::~ConfigDialog() = default;

void ConfigDialog::SetValues(const std::string& path, bool clearAtImport)
{
    m_path = path;
    m_clearAtImport = clearAtImport;
    m_pathEdit->setText(QString::fromStdString(path));
    m_clearCheck->setChecked(clearAtImport);
}

void ConfigDialog::OnBrowse()
{
    FileDialogRequest request;
    request.mode = FileDialogRequest::kDirectory;
    request.title = QString::fromLatin1(text::kChooseDirectory);
    request.startDirectory = m_pathEdit->text();
    QString chosen = RunFileDialog(request);
    if (chosen.isEmpty())
        return;
    if (!chosen.endsWith(QLatin1Char('/')))
        chosen += QLatin1Char('/');
    m_pathEdit->setText(chosen);
}

void ConfigDialog::accept()
{
    // An emptied edit keeps the directory in use rather than scanning nothing.
    const QString typed = m_pathEdit->text().trimmed();
    if (!typed.isEmpty())
        m_path = typed.toStdString();
    m_clearAtImport = m_clearCheck->isChecked();
    QDialog::accept();
}
