#pragma once
#include <QDialog>
#include <QPointer>

class QLabel;
class QProgressBar;

// A small modeless window with a status line, a bar and a percentage, shown while the
// display is built on the user-interface thread. Each new position runs pending events,
// so the program keeps painting; the owner window is disabled while it is open.

namespace polyvant {

class ProgressDialog : public QDialog {
    Q_OBJECT
public:
    // caption: the window title; null gives "Progress".
    explicit ProgressDialog(const char* caption = nullptr);
    ~ProgressDialog() override;

    // Disables owner (when given and enabled) and shows the dialog. Returns true.
    bool Create(QWidget* owner);
    void SetStatus(const QString& text);
    // Runs pending events, moves the bar, updates the percentage.
    void SetPos(int position);
    // Enables the owner again (if this dialog disabled it) and closes the window.
    void DestroyWindow();

    QString StatusText() const;
    QString PercentText() const;
    int Position() const;
    // How often the percentage text was replaced (it is set only when it changes).
    int PercentUpdates() const noexcept { return m_percentUpdates; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override {}
    void accept() override {}

private:
    void UpdatePercent(int position);

    QLabel* m_status;
    QLabel* m_percent;
    QProgressBar* m_bar;
    int m_lower = 0;
    int m_upper = 100;
    int m_step = 10;
    QPointer<QWidget> m_owner;
    bool m_ownerDisabled = false;
    bool m_closing = false;
    int m_percentUpdates = 0;
};

} // namespace polyvant
