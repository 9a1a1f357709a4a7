#pragma once
#include <QDialog>

#include <polyvant/Plugin.h>

#include "DialogHost.h"

class QComboBox;
class QPushButton;

namespace polyvant {

class GuiHostBackend;

// The Export dialog: pick an export class and write the scene with it, as often as
// wanted. Every Export, Options and Help press creates a fresh exporter and releases
// it at once. With services, what the exporter reports is shown once afterwards,
// naming the file, and an export that wrote nothing without saying why is reported.
class ExportDialog : public QDialog {
    Q_OBJECT
public:
    ExportDialog(DialogHost& host, GuiHostBackend* services, QWidget* parent = nullptr);

    void OnExport();
    void OnOptions();
    void OnHelp();
    void reject() override;

private:
    void CreateControls();
    void FillClasses();
    void OnSelection(int index);
    ClassDescriptor* Current();

    DialogHost& m_host;
    GuiHostBackend* m_services;
    bool m_running = false;
    QComboBox* m_classCombo = nullptr;
    QPushButton* m_closeButton = nullptr;
};

// Runs the Export dialog modally (hand-offs and drops wait meanwhile).
void RunExportDialog(DialogHost& host, GuiHostBackend* services, QWidget* parent);

} // namespace polyvant
