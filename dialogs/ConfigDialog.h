#pragma once
#include <string>

#include <QDialog>

class QCheckBox;
class QLineEdit;

// "Config": the plug-in directory and whether an import clears the scene. The caller
// sets both values, runs the dialog and reads them back. OK takes what the controls
// show, a path typed into the edit included; Cancel leaves both values as they were.
class ConfigDialog : public QDialog {
    Q_OBJECT
public:
    explicit ConfigDialog(QWidget* parent = nullptr);
    ~ConfigDialog() override;

    void SetValues(const std::string& path, bool clearAtImport);
    const std::string& Path() const noexcept { return m_path; }
    bool ClearAtImport() const noexcept { return m_clearAtImport; }

    void accept() override;

    // Shows the directory chooser and puts its choice, with a trailing "/", into the edit.
    void OnBrowse();

private:
    std::string m_path;
    bool m_clearAtImport = true;
    QLineEdit* m_pathEdit;
    QCheckBox* m_clearCheck;
};
