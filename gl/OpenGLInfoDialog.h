#pragma once
#include <QDialog>

class QGridLayout;
class QLabel;

// "OpenGL Info": the vendor, renderer, version and extensions of the OpenGL and GLU
// implementation the program runs on, read from a temporary context of its own.

namespace polyvant {

struct OpenGLStrings {
    QString vendor, renderer, version, extensions, gluVersion, gluExtensions;
};

// The six strings from a temporary compatibility context on an offscreen surface; all
// empty when no context can be made.
OpenGLStrings QueryOpenGLStrings();

class OpenGLInfoDialog : public QDialog {
    Q_OBJECT
public:
    explicit OpenGLInfoDialog(QWidget* parent = nullptr);

private:
    QLabel* AddRow(QGridLayout* grid, int row, const char* label, const char* name);
};

} // namespace polyvant
