#include "AboutDlg.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

#include "Strings.h"

using namespace polyvant;

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("aboutDialog"));
    setWindowTitle(QString::fromLatin1(text::kAboutCaption));
    auto* icon = new QLabel(this);
    icon->setPixmap(windowIcon().isNull()
                        ? style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(32, 32)
                        : windowIcon().pixmap(32, 32));
    auto* version = new QLabel(QString::fromLatin1(text::kAboutVersion), this);
    version->setObjectName(QStringLiteral("versionLabel"));
    auto* build = new QLabel(this);
    build->setObjectName(QStringLiteral("buildLabel"));
    build->setText(QString::fromLatin1(text::kAboutBuildFormat).arg(text::kBuildNumber));
    auto* third = new QLabel(QString::fromLatin1(text::kAboutThirdLine), this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, Qt::Vertical, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("okButton"));
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QGridLayout(this);
    layout->addWidget(icon, 0, 0, 3, 1, Qt::AlignCenter);
    layout->addWidget(version, 0, 1);
    layout->addWidget(build, 1, 1);
    layout->addWidget(third, 2, 1);
    layout->addWidget(buttons, 0, 2, 3, 1, Qt::AlignTop);
    setFixedSize(sizeHint());
}
