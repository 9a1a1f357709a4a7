#pragma once
#include <vector>

#include <QDialog>
#include <QString>

#include <polyvant/Obj3d.h>
#include <polyvant/Plugin.h>

#include "DialogHost.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace polyvant {

class GuiHostBackend;

// The Import dialog: pick an import class, run its interactive import (as often as
// wanted; each run replaces the previous importer), see the totals, keep the result
// (OK) or drop it (Cancel). Everything a plug-in hands over passes the boundary checks
// before it is counted or enters the scene. With services (the host services handed
// to the plug-ins), a failed import is reported once, naming the file, and a run the
// user cancelled shows nothing; without them the plug-ins' own messages stand.
class ImportDialog : public QDialog {
    Q_OBJECT
public:
    ImportDialog(DialogHost& host, GuiHostBackend* services, QWidget* parent = nullptr);
    // Releases an importer still held (the dialog ended without OK).
    ~ImportDialog() override;

    // The three counter texts (":%ld") and the held importer, for callers and tests.
    QString MeshText() const;
    QString FaceText() const;
    QString VertexText() const;
    bool HoldsImporter() const noexcept { return m_importer != nullptr; }

    void OnImport();
    void OnOptions();
    void OnHelp();
    void accept() override;
    void reject() override;

private:
    void CreateControls();
    void FillClasses();
    void OnSelection(int index);
    void Discard();
    void ShowCounts(long meshes, long faces, long vertices);
    void ReportRun(const QString& file, const std::vector<QString>& problems,
                   const std::vector<QString>& errors, bool empty, bool cancelled);
    // When the file's extension belongs to another import class: a hint naming it.
    QString OtherClassHint(const QString& file) const;
    void RunObjectCall(void (PluginObject::*call)());

    DialogHost& m_host;
    GuiHostBackend* m_services;
    Importer* m_importer = nullptr;
    ObjectList* m_result = nullptr;
    std::vector<Obj3d*> m_objects; // m_result's items that passed the checks
    QString m_fileName;
    bool m_running = false;

    QComboBox* m_classCombo = nullptr;
    QPushButton* m_importButton = nullptr;
    QPushButton* m_okButton = nullptr;
    QLabel* m_meshCount = nullptr;
    QLabel* m_faceCount = nullptr;
    QLabel* m_vertexCount = nullptr;
};

// Runs the Import dialog modally (hand-offs and drops wait meanwhile). True when it
// ended with OK; the scene, lights, totals and title are then updated through host.
bool RunImportDialog(DialogHost& host, GuiHostBackend* services, QWidget* parent);

} // namespace polyvant
