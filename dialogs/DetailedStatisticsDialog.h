#pragma once
#include <cstdint>
#include <string>

#include <QDialog>

class QLineEdit;

// "Detailed Statistics" of one mesh: its box, counts and type read-only, its name
// editable. The name is kept as bytes: text the user did not touch is returned
// unchanged even when it is not valid UTF-8, and what the user typed is returned as
// UTF-8, of any length. OK takes the edit's text; Cancel (the default button, so Enter)
// leaves the name as it was given.
class DetailedStatisticsDialog : public QDialog {
    Q_OBJECT
public:
    explicit DetailedStatisticsDialog(QWidget* parent = nullptr);
    ~DetailedStatisticsDialog() override;

    void SetName(const char* name);
    void SetType(const QString& type);
    void SetCounts(std::uint32_t faces, std::uint32_t vertices);
    void SetBox(const double* min, const double* max);

    const std::string& Name() const noexcept { return m_name; }

    void accept() override;
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void TakeName();

    std::string m_name;
    std::string m_givenName;
    QString m_shownName;
    QLineEdit* m_nameEdit;
    QLineEdit* m_typeEdit;
    QLineEdit* m_facesEdit;
    QLineEdit* m_verticesEdit;
    QLineEdit* m_minEdits[3];
    QLineEdit* m_maxEdits[3];
};
