#pragma once
#include <QDialog>

// "Polyvant Info": name, version and build number.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
