#pragma once
#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QComboBox;

// "View Options": the render mode and fast render mode of each pane (0 Top, 1 Side,
// 2 Front, 3 User; modes 0 Box .. 5 Point) and the titles switch. The caller sets the
// values, runs the dialog and reads them back only when it returned QDialog::Accepted;
// the controls write into the dialog's values as they change.
class ViewOptionsDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kPaneCount = 4;
    static constexpr int kModeCount = 6;

    explicit ViewOptionsDialog(QWidget* parent = nullptr);
    ~ViewOptionsDialog() override;

    // A mode outside 0..5 checks no button of its group and is kept until one is clicked.
    void SetModePair(int pane, int mode, int fastMode);
    int Mode(int pane) const;
    int FastMode(int pane) const;
    void SetTitles(int titles);
    int Titles() const noexcept { return m_titles; }
    int CurrentPane() const noexcept { return m_currentPane; }

private:
    void OnPaneChanged(int pane);
    void ShowPair();
    static void CheckInGroup(QButtonGroup* group, int id);

    int m_modes[kPaneCount][2] = {{1, 0}, {1, 0}, {1, 0}, {3, 1}};
    int m_titles = 1;
    int m_currentPane = 3;

    QComboBox* m_paneCombo;
    QButtonGroup* m_renderGroup;
    QButtonGroup* m_fastGroup;
    QCheckBox* m_titlesCheck;
};
