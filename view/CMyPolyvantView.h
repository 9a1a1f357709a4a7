#pragma once
#include <QMdiArea>

// The main view: four OpenGL panes in a 2 x 2 grid, their render modes and the
// commands that work on the whole scene. The application reaches it through
// CMyPolyvantApp::activeView, which the view sets when it is created.
class CMyPolyvantView : public QMdiArea {
    Q_OBJECT
public:
    explicit CMyPolyvantView(QWidget* parent = nullptr);
    ~CMyPolyvantView() override;

    // Shows the current scene anew: scene box, lights, status counts, fresh panes,
    // display lists, cameras. Reports an empty scene itself.
    virtual void BuildViews();
    // Removes the panes (an import that left the scene empty).
    virtual void DestroyPanes();
    // Writes the pane modes and the titles switch into the settings record.
    virtual void StoreSettings();
};
