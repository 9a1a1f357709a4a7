#include "OptionsDialog.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace polyvant {

namespace {

QString Text(const char* s)
{
    return QString::fromUtf8(s ? s : "");
}

// Numbers a plug-in gives may be anything; the editors need a sane, ordered range.
void IntRange(const PvOption& o, int& lo, int& hi)
{
    lo = INT_MIN;
    hi = INT_MAX;
    if (std::isfinite(o.minValue) && std::isfinite(o.maxValue) && o.minValue <= o.maxValue) {
        lo = int(std::fmax(std::ceil(o.minValue), double(INT_MIN)));
        hi = int(std::fmin(std::floor(o.maxValue), double(INT_MAX)));
        if (lo > hi)
            lo = hi = int(std::fmax(std::fmin(o.minValue, double(INT_MAX)), double(INT_MIN)));
    }
}

} // namespace

OptionsDialog::OptionsDialog(const QString& title, const PvOption* options, std::uint32_t count,
                             QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(title);
    auto* form = new QFormLayout;
    for (std::uint32_t i = 0; i < count; ++i) {
        const PvOption& o = options[i];
        QWidget* editor = nullptr;
        switch (o.type) {
        case PV_OPTION_BOOL: {
            auto* box = new QCheckBox(this);
            box->setChecked(o.intValue != 0);
            editor = box;
            break;
        }
        case PV_OPTION_INT: {
            auto* spin = new QSpinBox(this);
            int lo, hi;
            IntRange(o, lo, hi);
            spin->setRange(lo, hi);
            spin->setValue(int(std::clamp<std::int64_t>(o.intValue, lo, hi)));
            editor = spin;
            break;
        }
        case PV_OPTION_DOUBLE: {
            auto* spin = new QDoubleSpinBox(this);
            spin->setDecimals(6);
            const bool ranged =
                std::isfinite(o.minValue) && std::isfinite(o.maxValue) && o.minValue <= o.maxValue;
            spin->setRange(ranged ? o.minValue : -1e300, ranged ? o.maxValue : 1e300);
            spin->setValue(std::isfinite(o.doubleValue) ? o.doubleValue : spin->minimum());
            editor = spin;
            break;
        }
        case PV_OPTION_CHOICE: {
            auto* combo = new QComboBox(this);
            if (o.choices && *o.choices)
                combo->addItems(Text(o.choices).split(QLatin1Char('|')));
            if (o.intValue >= 0 && o.intValue < combo->count())
                combo->setCurrentIndex(int(o.intValue));
            editor = combo;
            break;
        }
        case PV_OPTION_STRING: {
            auto* edit = new QLineEdit(Text(o.stringValue), this);
            editor = edit;
            break;
        }
        default:
            break; // a type this host does not know: shown nowhere, never written
        }
        m_editors.push_back(editor);
        if (!editor)
            continue;
        editor->setObjectName(o.name && *o.name ? Text(o.name) : QStringLiteral("option%1").arg(i));
        form->addRow(Text(o.label && *o.label ? o.label : o.name), editor);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("okButton"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

QWidget* OptionsDialog::Editor(std::uint32_t i) const
{
    return i < m_editors.size() ? m_editors[i] : nullptr;
}

void OptionsDialog::WriteBack(PvOption* options, std::uint32_t count) const
{
    for (std::uint32_t i = 0; i < count && i < m_editors.size(); ++i) {
        PvOption& o = options[i];
        QWidget* editor = m_editors[i];
        if (auto* box = qobject_cast<QCheckBox*>(editor)) {
            o.intValue = box->isChecked() ? 1 : 0;
        } else if (auto* spin = qobject_cast<QSpinBox*>(editor)) {
            o.intValue = spin->value();
        } else if (auto* dspin = qobject_cast<QDoubleSpinBox*>(editor)) {
            o.doubleValue = dspin->value();
        } else if (auto* combo = qobject_cast<QComboBox*>(editor)) {
            if (combo->currentIndex() >= 0)
                o.intValue = combo->currentIndex();
        } else if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
            const QByteArray bytes = edit->text().toUtf8();
            auto* copy = static_cast<char*>(std::malloc(std::size_t(bytes.size()) + 1));
            if (!copy)
                continue; // the old value stays; nothing is lost
            std::memcpy(copy, bytes.constData(), std::size_t(bytes.size()) + 1);
            std::free(o.stringValue);
            o.stringValue = copy;
        }
    }
}

} // namespace polyvant
