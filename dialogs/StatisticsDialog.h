#pragma once
#include <QDialog>

class QListWidget;
class QPushButton;
class DetailedStatisticsDialog;

namespace polyvant {
class Obj3d;
class ObjectList;
} // namespace polyvant

// "Statistics": one line per mesh of the scene list with its scene position, type,
// name, faces and vertices. Details shows one mesh's box and renames it; FLIP reverses
// the winding of the selected mesh and ends the dialog with kFlipResult so that the
// caller rebuilds the views. Each line remembers the object it shows, so objects of
// other types in the scene list never shift what a line acts on.
class StatisticsDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kFlipResult = 1012;

    // scene may be null; it must outlive the dialog.
    explicit StatisticsDialog(polyvant::ObjectList* scene, QWidget* parent = nullptr);
    ~StatisticsDialog() override;

    // The command: "No meshes to explore" / "Statistics" for an empty scene (returns 0),
    // otherwise runs the dialog modally and returns its result (1 or kFlipResult).
    static int Run(polyvant::ObjectList* scene, QWidget* parent);

    // Opens the details of the selected line; nothing without a selection.
    void ShowDetails();
    // Reverses the selected mesh's faces; ends the dialog with kFlipResult in every case.
    void OnFlip();

    // The object a list line shows, or null when the line or its object is gone.
    polyvant::Obj3d* ObjectOfLine(int line) const;

private:
    void FillList();
    QString LineText(int scenePosition, const polyvant::Obj3d& object) const;

    polyvant::ObjectList* m_scene;
    QListWidget* m_list;
};
