#include "ProgressDialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace polyvant {

ProgressDialog::ProgressDialog(const char* caption)
    : QDialog(nullptr), m_status(new QLabel(this)),
      m_percent(new QLabel(QStringLiteral(" 0 %"), this)), m_bar(new QProgressBar(this))
{
    setWindowTitle(QString::fromLatin1(caption ? caption : "Progress"));
    m_status->setObjectName(QStringLiteral("statusLabel"));
    m_percent->setObjectName(QStringLiteral("percentLabel"));
    m_bar->setObjectName(QStringLiteral("progressBar"));
    m_status->setMinimumWidth(260);
    m_percent->setAlignment(Qt::AlignHCenter);
    m_bar->setTextVisible(false);
    m_bar->setRange(m_lower, m_upper);
    m_bar->setValue(m_lower);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_status);
    layout->addWidget(m_percent);
    layout->addWidget(m_bar);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
}

ProgressDialog::~ProgressDialog()
{
    DestroyWindow();
}

bool ProgressDialog::Create(QWidget* owner)
{
    m_owner = owner;
    if (owner && owner->isEnabled()) {
        owner->setEnabled(false);
        m_ownerDisabled = true;
    }
    show();
    return true;
}

void ProgressDialog::SetStatus(const QString& text)
{
    m_status->setText(text);
}

void ProgressDialog::SetPos(int position)
{
    QCoreApplication::processEvents();
    m_bar->setValue(position);
    UpdatePercent(position);
}

void ProgressDialog::UpdatePercent(int position)
{
    const int range = m_upper - m_lower;
    int percent = range != 0 ? ((position - m_lower) * 100) / range : 0;
    if (percent != 100) {
        percent %= 100;
    }
    const QString text = QStringLiteral("%1%").arg(percent);
    if (m_percent->text() != text) {
        m_percent->setText(text);
        ++m_percentUpdates;
    }
}

void ProgressDialog::DestroyWindow()
{
    if (m_ownerDisabled) {
        if (m_owner) {
            m_owner->setEnabled(true);
        }
        m_ownerDisabled = false;
    }
    m_closing = true;
    hide();
}

QString ProgressDialog::StatusText() const
{
    return m_status->text();
}

QString ProgressDialog::PercentText() const
{
    return m_percent->text();
}

int ProgressDialog::Position() const
{
    return m_bar->value();
}

void ProgressDialog::keyPressEvent(QKeyEvent* event)
{
    // Enter and Escape must not close it: only the build that opened it does.
    event->accept();
}

void ProgressDialog::closeEvent(QCloseEvent* event)
{
    if (!m_closing) {
        event->ignore();
    }
}

} // namespace polyvant
