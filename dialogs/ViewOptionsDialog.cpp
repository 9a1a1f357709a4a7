#include "ViewOptionsDialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

const char* const kPaneNames[4] = {"Top View", "Side View", "Front View", "User View"};
const char* const kRenderTexts[6] = {"&Box", "&Edge", "&Wire", "&Shade", "&Double", "&Point"};
const char* const kFastTexts[6] = {"Box", "Edge", "Wire", "Shade", "Double", "Point"};

bool ValidPane(int pane)
{
    return pane >= 0 && pane < ViewOptionsDialog::kPaneCount;
}

// A group box of six radio buttons; button k stands for mode k.
QGroupBox* ModeGroup(const char* title, const char* const texts[6], const char* namePrefix,
                     QButtonGroup* buttons, QWidget* parent)
{
    auto* box = new QGroupBox(QString::fromLatin1(title), parent);
    auto* layout = new QVBoxLayout(box);
    for (int k = 0; k < ViewOptionsDialog::kModeCount; ++k) {
        auto* radio = new QRadioButton(QString::fromLatin1(texts[k]), box);
        radio->setObjectName(QString::fromLatin1(namePrefix) + QString::number(k));
        buttons->addButton(radio, k);
        layout->addWidget(radio);
    }
    layout->addStretch(1);
    return box;
}

} // namespace

ViewOptionsDialog::ViewOptionsDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("viewOptionsDialog"));
    setWindowTitle(QStringLiteral("View Options"));

    auto* ok = new QPushButton(QStringLiteral("&OK"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    m_paneCombo = new QComboBox(this);
    m_paneCombo->setObjectName(QStringLiteral("paneCombo"));
    for (const char* name : kPaneNames)
        m_paneCombo->addItem(QString::fromLatin1(name));

    m_renderGroup = new QButtonGroup(this);
    m_fastGroup = new QButtonGroup(this);
    QGroupBox* renderBox =
        ModeGroup("&Render Mode", kRenderTexts, "renderModeBox", m_renderGroup, this);
    QGroupBox* fastBox =
        ModeGroup("&Fast Render Mode", kFastTexts, "fastModeBox", m_fastGroup, this);
    m_titlesCheck = new QCheckBox(QStringLiteral("&View Titles"), this);
    m_titlesCheck->setObjectName(QStringLiteral("viewTitlesCheck"));
    m_titlesCheck->setChecked(m_titles != 0);

    auto* side = new QVBoxLayout;
    side->addWidget(ok);
    side->addWidget(cancel);
    side->addSpacing(fontMetrics().height());
    side->addWidget(m_titlesCheck);
    side->addStretch(1);

    auto* layout = new QGridLayout(this);
    layout->addWidget(m_paneCombo, 0, 0, 1, 2);
    layout->addWidget(renderBox, 1, 0);
    layout->addWidget(fastBox, 1, 1);
    layout->addLayout(side, 0, 2, 2, 1);

    m_paneCombo->setCurrentIndex(m_currentPane);
    ShowPair();

    connect(ok, &QPushButton::clicked, this, &ViewOptionsDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &ViewOptionsDialog::reject);
    connect(m_paneCombo, &QComboBox::currentIndexChanged, this, &ViewOptionsDialog::OnPaneChanged);
    connect(m_renderGroup, &QButtonGroup::idClicked, this,
            [this](int mode) { m_modes[m_currentPane][0] = mode; });
    connect(m_fastGroup, &QButtonGroup::idClicked, this,
            [this](int mode) { m_modes[m_currentPane][1] = mode; });
    connect(m_titlesCheck, &QCheckBox::clicked, this,
            [this](bool checked) { m_titles = checked ? 1 : 0; });
}

ViewOptionsDialog::~ViewOptionsDialog() = default;

void ViewOptionsDialog::SetModePair(int pane, int mode, int fastMode)
{
    if (!ValidPane(pane))
        return;
    m_modes[pane][0] = mode;
    m_modes[pane][1] = fastMode;
    if (pane == m_currentPane)
        ShowPair();
}

int ViewOptionsDialog::Mode(int pane) const
{
    return ValidPane(pane) ? m_modes[pane][0] : 0;
}

int ViewOptionsDialog::FastMode(int pane) const
{
    return ValidPane(pane) ? m_modes[pane][1] : 0;
}

void ViewOptionsDialog::SetTitles(int titles)
{
    m_titles = titles;
    m_titlesCheck->setChecked(titles != 0);
}

void ViewOptionsDialog::OnPaneChanged(int pane)
{
    if (!ValidPane(pane))
        return;
    m_currentPane = pane;
    ShowPair();
}

void ViewOptionsDialog::ShowPair()
{
    CheckInGroup(m_renderGroup, m_modes[m_currentPane][0]);
    CheckInGroup(m_fastGroup, m_modes[m_currentPane][1]);
}

void ViewOptionsDialog::CheckInGroup(QButtonGroup* group, int id)
{
    // An exclusive group cannot be emptied by unchecking; a mode that no button stands
    // for shows as no button checked.
    group->setExclusive(false);
    for (QAbstractButton* button : group->buttons())
        button->setChecked(group->id(button) == id);
    group->setExclusive(true);
}
