#include "LightSetupDialog.h"

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cstdlib>
#include <locale.h>

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include <polyvant/Obj3d.h>
#include <polyvant/ObjectList.h>

#include "app/UiServices.h"

using polyvant::Light3d;
using polyvant::Obj3d;
using polyvant::ObjectList;

namespace {

const char* const kTemplateTitle = "Light";
const char* const kNoScene = "No scene to display";
const char* const kCaptionLightSetup = "Light Setup";

// One slider row: value = position / scale, shown with `decimals`, edits clamp to
// [0, maximum].
struct RowScale {
    const char* label;
    const char* barName;
    const char* editName;
    int range;
    double scale;
    int decimals;
    double maximum;
};

constexpr RowScale kRows[] = {
    {"Red", "redSlider", "redEdit", 1000, 1000.0, 3, 1.0},
    {"Green", "greenSlider", "greenEdit", 1000, 1000.0, 3, 1.0},
    {"Blue", "blueSlider", "blueEdit", 1000, 1000.0, 3, 1.0},
    {"All", "allSlider", "allEdit", 1000, 1000.0, 3, 1.0},
    {"FallOff", "falloffSlider", "falloffEdit", 128, 1.0, 0, 128.0},
    {"Radius", "radiusSlider", "radiusEdit", 900, 10.0, 1, 90.0},
};

// Value to bar position, truncated toward zero; values outside the row's range (the
// record itself is not checked) stop at the ends instead of overflowing the cast.
int ToPosition(double value, const RowScale& row)
{
    const double position = value * row.scale;
    if (!(position > 0.0))
        return 0;
    if (position >= row.range)
        return row.range;
    return static_cast<int>(position);
}

// The number at the start of text, as "%lf" scans it (leading blanks, a sign, "inf",
// anything after the number ignored), read with the C locale's decimal point whatever
// locale the program runs in.
bool ScanNumber(const QByteArray& text, double& out)
{
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    const char* start = text.constData();
    char* end = nullptr;
    out = strtod_l(start, &end, cLocale);
    return end != start;
}

} // namespace

LightSetupDialog::LightSetupDialog(ObjectList* lights, LightChangedFunction lightChanged,
                                   QWidget* parent)
    : QDialog(parent), m_lights(lights), m_lightChanged(std::move(lightChanged))
{
    setObjectName(QStringLiteral("lightSetupDialog"));
    setWindowTitle(QString::fromLatin1(kTemplateTitle));

    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("closeButton"));
    close->setDefault(true);
    m_onCheck = new QCheckBox(this);
    m_onCheck->setObjectName(QStringLiteral("onCheck"));
    m_onCheck->setToolTip(QStringLiteral("Light on"));
    m_lightCombo = new QComboBox(this);
    m_lightCombo->setObjectName(QStringLiteral("lightCombo"));

    auto* colourGroup = new QGroupBox(QStringLiteral("Color"), this);
    auto* colourGrid = new QGridLayout(colourGroup);
    auto* spotGroup = new QGroupBox(QStringLiteral("SpotLight"), this);
    auto* spotLayout = new QVBoxLayout(spotGroup);
    m_spotCheck = new QCheckBox(QStringLiteral("SpotLight"), spotGroup);
    m_spotCheck->setObjectName(QStringLiteral("spotCheck"));
    spotLayout->addWidget(m_spotCheck);
    auto* spotGrid = new QGridLayout;
    spotLayout->addLayout(spotGrid);

    const int editWidth = fontMetrics().horizontalAdvance(QStringLiteral("0.0000")) + 12;
    for (int row = 0; row < kRowCount; ++row) {
        const RowScale& scale = kRows[row];
        QWidget* group = row < kFallOff ? colourGroup : spotGroup;
        QGridLayout* grid = row < kFallOff ? colourGrid : spotGrid;
        const int gridRow = row < kFallOff ? row : row - kFallOff;
        auto* label = new QLabel(QString::fromLatin1(scale.label), group);
        auto* bar = new QScrollBar(Qt::Horizontal, group);
        bar->setObjectName(QString::fromLatin1(scale.barName));
        bar->setRange(0, scale.range);
        bar->setSingleStep(1);
        // Only the thumb size: page clicks move nothing (see OnScroll).
        bar->setPageStep(std::max(1, scale.range / 10));
        bar->setMinimumWidth(fontMetrics().averageCharWidth() * 29);
        auto* edit = new QLineEdit(group);
        edit->setObjectName(QString::fromLatin1(scale.editName));
        edit->setAlignment(Qt::AlignCenter);
        edit->setFixedWidth(editWidth);
        edit->installEventFilter(this);
        grid->addWidget(label, gridRow, 0);
        grid->addWidget(bar, gridRow, 1);
        grid->addWidget(edit, gridRow, 2);
        m_bars[row] = bar;
        m_edits[row] = edit;
        connect(bar, &QAbstractSlider::actionTriggered, this,
                [this, row](int action) { OnScroll(row, action); });
    }

    auto* choice = new QHBoxLayout;
    choice->addWidget(m_onCheck);
    choice->addWidget(m_lightCombo, 1);
    auto* layout = new QGridLayout(this);
    layout->addLayout(choice, 0, 0);
    layout->addWidget(close, 0, 1);
    layout->addWidget(colourGroup, 1, 0);
    layout->addWidget(spotGroup, 2, 0);
    layout->setRowStretch(3, 1);

    connect(close, &QPushButton::clicked, this, &LightSetupDialog::accept);
    connect(m_onCheck, &QCheckBox::clicked, this, &LightSetupDialog::OnOnCheck);
    connect(m_spotCheck, &QCheckBox::clicked, this, &LightSetupDialog::OnSpotCheck);

    // Only lights are offered; each entry keeps its index in the list, which is what
    // the view is told, so other objects in the list shift nothing.
    if (m_lights) {
        for (int i = 0; i < m_lights->Count(); ++i) {
            auto* object = static_cast<Obj3d*>(m_lights->Get(i));
            if (object && object->GetType() == polyvant::kLightType) {
                const char* name = object->GetName();
                m_lightCombo->addItem(QString::fromUtf8(name ? name : ""), i);
            }
        }
    }
    if (m_lightCombo->count() > 0) {
        m_lightCombo->setCurrentIndex(0);
        SelectLight(0);
    } else {
        m_onCheck->setEnabled(false);
        m_lightCombo->setEnabled(false);
        EnableForOn(false);
    }
    connect(m_lightCombo, &QComboBox::currentIndexChanged, this, &LightSetupDialog::SelectLight);
}

LightSetupDialog::~LightSetupDialog()
{
    // The edits lose the focus while the base destroys them; nothing is read then.
    for (QLineEdit* edit : m_edits)
        edit->removeEventFilter(this);
}

bool LightSetupDialog::Run(ObjectList* lights, LightChangedFunction lightChanged, QWidget* parent)
{
    bool anyLight = false;
    for (int i = 0; lights && i < lights->Count() && !anyLight; ++i) {
        auto* object = static_cast<Obj3d*>(lights->Get(i));
        anyLight = object && object->GetType() == polyvant::kLightType;
    }
    if (!anyLight) {
        polyvant::ShowMessage(QString::fromLatin1(kNoScene),
                              QString::fromLatin1(kCaptionLightSetup));
        return false;
    }
    polyvant::BusyScope busy;
    LightSetupDialog dialog(lights, std::move(lightChanged), parent);
    dialog.exec();
    return true;
}

QString LightSetupDialog::FormatValue(double value, int decimals)
{
    // "%1.<decimals>lf" as printf rounds it, with a "." whatever the locale; a zero
    // shows without a sign.
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value == 0.0 ? 0.0 : value,
                                      std::chars_format::fixed, decimals);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

double LightSetupDialog::ReadEditValue(QLineEdit* edit, double current, double minimum,
                                       double maximum, int decimals)
{
    double value = current;
    double scanned = 0.0;
    if (ScanNumber(edit->text().toUtf8(), scanned)) {
        if (!(scanned >= minimum))
            value = minimum;
        else if (scanned > maximum)
            value = maximum;
        else
            value = scanned;
    }
    edit->setText(FormatValue(value, decimals));
    return value;
}

void LightSetupDialog::SelectLight(int comboIndex)
{
    if (comboIndex < 0 || !m_lights)
        return;
    // A choice made without moving the focus (the mouse wheel over the combo) must not
    // drop what was typed for the light shown until now.
    for (int row = 0; row < kRowCount; ++row) {
        if (m_edits[row]->hasFocus())
            OnEdit(row);
    }
    const int index = m_lightCombo->itemData(comboIndex).toInt();
    auto* object = static_cast<Obj3d*>(m_lights->Get(index));
    if (!object || object->GetType() != polyvant::kLightType)
        return;
    m_index = index;
    m_light = static_cast<Light3d*>(object);
    ShowLight();
}

void LightSetupDialog::ShowLight()
{
    for (int c = 0; c < 3; ++c)
        m_edits[kRed + c]->setText(FormatValue(m_light->colour[c], 3));
    m_all = (m_light->colour[0] + m_light->colour[1] + m_light->colour[2]) / 3.0;
    m_edits[kAll]->setText(FormatValue(m_all, 3));
    for (int c = 0; c < 3; ++c)
        m_bars[kRed + c]->setValue(ToPosition(m_light->colour[c], kRows[kRed + c]));
    m_bars[kAll]->setValue(ToPosition(m_all, kRows[kAll]));
    m_edits[kFallOff]->setText(FormatValue(m_light->falloff, 0));
    m_edits[kRadius]->setText(FormatValue(m_light->radius, 1));
    m_bars[kFallOff]->setValue(ToPosition(m_light->falloff, kRows[kFallOff]));
    m_bars[kRadius]->setValue(ToPosition(m_light->radius, kRows[kRadius]));
    m_onCheck->setChecked(m_light->on != 0);
    EnableForOn(m_light->on == 1);
}

void LightSetupDialog::EnableForOn(bool on)
{
    for (int row = kRed; row <= kAll; ++row) {
        m_bars[row]->setEnabled(on);
        m_edits[row]->setEnabled(on);
    }
    if (on) {
        m_spotCheck->setChecked(m_light->spot != 0);
        m_spotCheck->setEnabled(true);
        EnableSpot(m_light->spot != 0);
    } else {
        m_spotCheck->setEnabled(false);
        EnableSpot(false);
    }
}

void LightSetupDialog::EnableSpot(bool spot)
{
    for (int row : {kFallOff, kRadius}) {
        m_bars[row]->setEnabled(spot);
        m_edits[row]->setEnabled(spot);
    }
}

void LightSetupDialog::Changed()
{
    if (m_lightChanged && m_light)
        m_lightChanged(m_index);
}

void LightSetupDialog::OnOnCheck(bool checked)
{
    if (!m_light)
        return;
    m_light->on = checked ? 1 : 0;
    EnableForOn(checked);
    Changed();
}

void LightSetupDialog::OnSpotCheck(bool checked)
{
    if (!m_light)
        return;
    m_light->spot = checked ? 1 : 0;
    EnableSpot(checked);
    Changed();
}

void LightSetupDialog::OnEdit(int row)
{
    if (!m_light)
        return;
    switch (row) {
    case kRed:
    case kGreen:
    case kBlue:
        OnColourEdit(row - kRed);
        break;
    case kAll:
        OnAllEdit();
        break;
    case kFallOff:
        OnFallOffEdit();
        break;
    case kRadius:
        OnRadiusEdit();
        break;
    default:
        break;
    }
}

void LightSetupDialog::OnColourEdit(int channel)
{
    const int row = kRed + channel;
    double& colour = m_light->colour[channel];
    colour = ReadEditValue(m_edits[row], colour, 0.0, kRows[row].maximum, 3);
    m_bars[row]->setValue(ToPosition(colour, kRows[row]));
    Changed();
}

void LightSetupDialog::OnAllEdit()
{
    const double all = ReadEditValue(m_edits[kAll], m_all, 0.0, 1.0, 3);
    const double delta = all - m_all;
    m_bars[kAll]->setValue(ToPosition(all, kRows[kAll]));
    // Each colour handler reads its edit back and clamps it, so a colour pushed past a
    // bound stops there while All keeps the new value.
    for (int c = 0; c < 3; ++c) {
        m_edits[kRed + c]->setText(FormatValue(m_light->colour[c] + delta, 3));
        OnColourEdit(c);
    }
    Changed();
    m_all = all;
}

void LightSetupDialog::OnFallOffEdit()
{
    m_light->falloff = ReadEditValue(m_edits[kFallOff], m_light->falloff, 0.0, 128.0, 0);
    m_bars[kFallOff]->setValue(ToPosition(m_light->falloff, kRows[kFallOff]));
    Changed();
}

void LightSetupDialog::OnRadiusEdit()
{
    m_light->radius = ReadEditValue(m_edits[kRadius], m_light->radius, 0.0, 90.0, 1);
    m_bars[kRadius]->setValue(ToPosition(m_light->radius, kRows[kRadius]));
    Changed();
}

void LightSetupDialog::OnScroll(int row, int action)
{
    QScrollBar* bar = m_bars[row];
    // Arrows and thumb tracking move the value; page clicks, Home and End do not.
    const bool moves = action == QAbstractSlider::SliderSingleStepAdd ||
                       action == QAbstractSlider::SliderSingleStepSub ||
                       action == QAbstractSlider::SliderMove;
    if (!moves || !m_light) {
        bar->setSliderPosition(bar->value());
        return;
    }
    const int position = bar->sliderPosition();
    const double value = position / kRows[row].scale;
    switch (row) {
    case kRed:
    case kGreen:
    case kBlue:
        m_light->colour[row - kRed] = value;
        m_edits[row]->setText(FormatValue(value, 3));
        OnColourEdit(row - kRed);
        break;
    case kAll: {
        const double delta = value - m_all;
        for (int c = 0; c < 3; ++c) {
            m_light->colour[c] += delta;
            m_edits[kRed + c]->setText(FormatValue(m_light->colour[c], 3));
        }
        m_edits[kAll]->setText(FormatValue(value, 3));
        for (int c = 0; c < 3; ++c)
            OnColourEdit(c);
        m_all = value;
        break;
    }
    case kFallOff:
        m_light->falloff = value;
        m_edits[kFallOff]->setText(FormatValue(value, 0));
        OnFallOffEdit();
        break;
    case kRadius:
        m_light->radius = value;
        m_edits[kRadius]->setText(FormatValue(value, 1));
        OnRadiusEdit();
        break;
    default:
        break;
    }
}

bool LightSetupDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusOut &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason && !m_closing) {
        for (int row = 0; row < kRowCount; ++row) {
            if (watched == m_edits[row])
                OnEdit(row);
        }
    }
    return QDialog::eventFilter(watched, event);
}

void LightSetupDialog::done(int result)
{
    // Enter or Escape in an edit closes the dialog before its focus loss: take what it
    // holds now, once.
    for (int row = 0; row < kRowCount; ++row) {
        if (m_edits[row]->hasFocus())
            OnEdit(row);
    }
    m_closing = true;
    QDialog::done(result);
    m_closing = false;
}
