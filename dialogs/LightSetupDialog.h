#pragma once
#include <functional>

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QScrollBar;

namespace polyvant {
class Light3d;
class ObjectList;
} // namespace polyvant

// "Light": edits the lights of a light list in place, one at a time. Every change is
// written into the light record at once and reported through lightChanged with the
// light's index in the list, so the picture follows; there is no undo.
class LightSetupDialog : public QDialog {
    Q_OBJECT
public:
    // Called with the list index of the light after every change.
    using LightChangedFunction = std::function<void(int lightIndex)>;

    // lights may be null or hold no light: then every control stays disabled. The
    // list must outlive the dialog and must not change while it is open.
    LightSetupDialog(polyvant::ObjectList* lights, LightChangedFunction lightChanged,
                     QWidget* parent = nullptr);
    ~LightSetupDialog() override;

    // The command: "No scene to display" / "Light Setup" when the list holds no light
    // (returns false), otherwise runs the dialog modally (returns true).
    static bool Run(polyvant::ObjectList* lights, LightChangedFunction lightChanged,
                    QWidget* parent);

    polyvant::Light3d* CurrentLight() const noexcept { return m_light; }
    int CurrentIndex() const noexcept { return m_index; }
    double All() const noexcept { return m_all; }

    void done(int result) override;

    // Scans one number from the edit's text, clamps it to [minimum, maximum] (a number
    // that does not compare gives the minimum), keeps current when the text holds no
    // number, and writes the value back with the given decimals.
    static double ReadEditValue(QLineEdit* edit, double current, double minimum, double maximum,
                                int decimals);
    static QString FormatValue(double value, int decimals);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum Row { kRed, kGreen, kBlue, kAll, kFallOff, kRadius, kRowCount };

    void SelectLight(int comboIndex);
    void ShowLight();
    void EnableForOn(bool on);
    void EnableSpot(bool spot);
    void OnOnCheck(bool checked);
    void OnSpotCheck(bool checked);
    void OnEdit(int row);
    void OnColourEdit(int channel);
    void OnAllEdit();
    void OnFallOffEdit();
    void OnRadiusEdit();
    void OnScroll(int row, int action);
    void Changed();

    polyvant::ObjectList* m_lights;
    LightChangedFunction m_lightChanged;
    double m_all = 0.0;
    polyvant::Light3d* m_light = nullptr;
    int m_index = -1;
    bool m_closing = false;

    QCheckBox* m_onCheck;
    QComboBox* m_lightCombo;
    QCheckBox* m_spotCheck;
    QScrollBar* m_bars[kRowCount];
    QLineEdit* m_edits[kRowCount];
};
