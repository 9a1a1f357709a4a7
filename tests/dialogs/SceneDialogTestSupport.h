#pragma once
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QTimer>

#include <polyvant/Obj3d.h>

// Shared by the statistics, light and view option dialog tests.

namespace dialogtest {

inline QApplication& Application()
{
    static int argc = 1;
    static char name[] = "scene_dialogs_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

inline void Click(QDialog& dialog, const char* buttonName)
{
    dialog.findChild<QAbstractButton*>(buttonName)->click();
}

// Runs action on the first modal dialog that opens while this object lives (a nested
// exec), so that a test can fill and close it. The dialog is rejected afterwards if the
// action left it open, so a failing test cannot hang.
class ModalDriver {
public:
    explicit ModalDriver(std::function<void(QDialog&)> action) : m_action(std::move(action))
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
        m_timer.start();
    }
    bool Ran() const { return m_ran; }

private:
    void Poll()
    {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || m_ran)
            return;
        m_ran = true;
        m_timer.stop();
        m_action(*dialog);
        if (dialog->isVisible())
            dialog->reject();
    }

    std::function<void(QDialog&)> m_action;
    QTimer m_timer;
    bool m_ran = false;
};

// A flat mesh of `faces` triangles over `faces + 2` vertices, as an importer hands it
// over; word 3 of face i holds 1000 + i.
inline polyvant::Mesh3d* MakeMesh(const char* name, std::uint32_t faces)
{
    auto* mesh = new polyvant::Mesh3d(name, polyvant::Mesh3d::kFlat);
    mesh->vertexCount = faces + 2;
    mesh->faceCount = faces;
    mesh->vertexData = static_cast<double*>(std::calloc(mesh->vertexCount * 3, sizeof(double)));
    mesh->faceData = static_cast<std::uint32_t*>(
        std::malloc(faces * polyvant::kFaceWords * sizeof(std::uint32_t)));
    for (std::uint32_t i = 0; i < faces; ++i) {
        std::uint32_t* face = mesh->faceData + i * polyvant::kFaceWords;
        face[0] = i;
        face[1] = i + 1;
        face[2] = i + 2;
        face[3] = 1000 + i;
    }
    return mesh;
}

inline polyvant::Light3d* MakeLight(const char* name, double r, double g, double b)
{
    const double colour[3] = {r, g, b};
    const double position[3] = {1, 2, 3};
    const double target[3] = {0, 0, 0};
    return new polyvant::Light3d(name, colour, position, target, 15.0, 50.0);
}

} // namespace dialogtest
