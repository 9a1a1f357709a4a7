// Runs the OpenGL tests inside a QApplication on the X display (xvfb-run), with the
// surface format and shared contexts the program uses.
#include <cstdlib>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QSurfaceFormat>

#include "GLViewWnd.h"

// Mesa, the X libraries and fontconfig keep allocations until exit by design.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libGLX\nleak:libGL.so\nleak:libglapi\nleak:_dri.so\nleak:libgallium\n"
           "leak:libLLVM\nleak:libfontconfig\nleak:libxcb\nleak:libX11\nleak:libQt6XcbQpa\n"
           "leak:libdbus\nleak:libEGL\n";
}

// The sanitizer runtime of g++ 12 keeps a dynamic TLS record of the OpenGL libraries that
// can hold a stale range by the time the leak check runs, which then crashes its tracer
// (a few runs in a hundred). Not following __tls_get_addr leaves those records out; the
// static TLS and every stack are still scanned.
extern "C" const char* __asan_default_options()
{
    return "intercept_tls_get_addr=0";
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
    return RUN_ALL_TESTS();
}
