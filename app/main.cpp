#include <QApplication>

#include "CMyPolyvantApp.h"

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    CMyPolyvantApp::StartOptions options;
    options.arguments = QApplication::arguments();
    CMyPolyvantApp app(std::move(options));
    if (!app.InitInstance())
        return app.ExitInstance();
    if (!app.QuitRequested())
        QApplication::exec();
    return app.ExitInstance();
}
