#include "OpenGLInfoDialog.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <algorithm>

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QSurfaceFormat>
#include <QVBoxLayout>

namespace polyvant {

namespace {

QString Text(const unsigned char* s)
{
    return s ? QString::fromLatin1(reinterpret_cast<const char*>(s)) : QString();
}

} // namespace

OpenGLStrings QueryOpenGLStrings()
{
    OpenGLStrings out;
    QOpenGLContext context;
    context.setFormat(QSurfaceFormat::defaultFormat());
    if (!context.create()) {
        return out;
    }
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!context.makeCurrent(&surface)) {
        return out;
    }
    out.vendor = Text(glGetString(GL_VENDOR));
    out.renderer = Text(glGetString(GL_RENDERER));
    out.version = Text(glGetString(GL_VERSION));
    out.extensions = Text(glGetString(GL_EXTENSIONS));
    out.gluVersion = Text(gluGetString(GLU_VERSION));
    out.gluExtensions = Text(gluGetString(GLU_EXTENSIONS));
    context.doneCurrent();
    return out;
}

OpenGLInfoDialog::OpenGLInfoDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle("OpenGL Info");
    auto* layout = new QVBoxLayout(this);

    auto* openGL = new QGroupBox("OpenGL", this);
    auto* openGLGrid = new QGridLayout(openGL);
    QLabel* vendor = AddRow(openGLGrid, 0, "Vendor:", "vendorLabel");
    QLabel* renderer = AddRow(openGLGrid, 1, "Renderer:", "rendererLabel");
    QLabel* version = AddRow(openGLGrid, 2, "Version:", "versionLabel");
    QLabel* extensions = AddRow(openGLGrid, 3, "Extension:", "extensionsLabel");
    layout->addWidget(openGL);

    auto* glu = new QGroupBox("Glu", this);
    auto* gluGrid = new QGridLayout(glu);
    QLabel* gluVersion = AddRow(gluGrid, 0, "Version:", "gluVersionLabel");
    QLabel* gluExtensions = AddRow(gluGrid, 1, "Extension:", "gluExtensionsLabel");
    layout->addWidget(glu);

    // One label column width for both groups, so their values line up.
    int labelWidth = 0;
    for (const char* text : {"Vendor:", "Renderer:", "Version:", "Extension:"})
        labelWidth = std::max(labelWidth, fontMetrics().horizontalAdvance(text));
    for (QGridLayout* grid : {openGLGrid, gluGrid}) {
        grid->setColumnMinimumWidth(0, labelWidth);
        grid->setColumnStretch(1, 1);
    }

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);

    const OpenGLStrings strings = QueryOpenGLStrings();
    vendor->setText(strings.vendor);
    renderer->setText(strings.renderer);
    version->setText(strings.version);
    extensions->setText(strings.extensions);
    gluVersion->setText(strings.gluVersion);
    gluExtensions->setText(strings.gluExtensions);
}

QLabel* OpenGLInfoDialog::AddRow(QGridLayout* grid, int row, const char* label, const char* name)
{
    grid->addWidget(new QLabel(label), row, 0, Qt::AlignTop);
    auto* value = new QLabel;
    value->setObjectName(name);
    // Extension strings are single lines of any length: show what fits, select the rest.
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    value->setMaximumWidth(480);
    value->setWordWrap(false);
    grid->addWidget(value, row, 1);
    return value;
}

} // namespace polyvant
