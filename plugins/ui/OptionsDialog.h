#pragma once
#include <cstdint>
#include <vector>

#include <QDialog>

#include <polyvant/HostServices.h>

class QWidget;

namespace polyvant {

// A dialog generated from a plug-in's typed options: a check box for a bool, spin
// boxes for numbers (held to the option's range), a drop-down list for a choice and
// a line edit for a string, each labelled with the option's label and named after
// its key (objectName), then OK and Cancel. The options are only read here;
// WriteBack stores the edited values.
class OptionsDialog : public QDialog {
    Q_OBJECT
public:
    OptionsDialog(const QString& title, const PvOption* options, std::uint32_t count,
                  QWidget* parent = nullptr);

    // Stores the shown values into options (the same array, count as given to the
    // constructor). Strings are replaced with free/malloc, as the boundary says.
    void WriteBack(PvOption* options, std::uint32_t count) const;

    // The editor of option i, or null.
    QWidget* Editor(std::uint32_t i) const;

private:
    std::vector<QWidget*> m_editors;
};

} // namespace polyvant
