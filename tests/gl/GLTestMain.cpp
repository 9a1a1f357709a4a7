// Runs the OpenGL tests inside a QApplication on the X display (xvfb-run), with the
// surface format and shared contexts the program uses.
#include <cstdlib>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QSurfaceFormat>

#include "GLViewWnd.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

// Mesa, the X libraries and fontconfig keep allocations until exit by design.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libGLX\nleak:libGL.so\nleak:libglapi\nleak:_dri.so\nleak:libgallium\n"
           "leak:libLLVM\nleak:libfontconfig\nleak:libxcb\nleak:libX11\nleak:libQt6XcbQpa\n"
           "leak:libdbus\nleak:libEGL\n";
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    // Test discovery at build time lists the tests without a display.
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();
    }
    // The offscreen platform has no OpenGL here; these tests need the X server.
    if (std::getenv("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    // Keep Mesa's driver loaded to the end, so that the leak report can name (and the
    // suppressions above match) what it keeps.
    dlopen("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", RTLD_NOW | RTLD_NODELETE);
    // The panes set the surface format before main(); the tests check it holds.
    if (QSurfaceFormat::defaultFormat().profile() != QSurfaceFormat::CompatibilityProfile ||
        !QCoreApplication::testAttribute(Qt::AA_ShareOpenGLContexts)) {
        return 2;
    }
    QApplication app(argc, argv);
    const int result = RUN_ALL_TESTS();
#if defined(__SANITIZE_ADDRESS__)
    // Mesa's and Qt's threads end while the process exits, and the leak check at exit can
    // catch one half-way and crash its tracer. Checking here, while they wait, does the same
    // check (it ends the process when it finds leaks) and replaces the one at exit.
    __lsan_do_leak_check();
#endif
    return result;
}
