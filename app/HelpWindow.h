#pragma once
#include <QWidget>

class QTextBrowser;

// The user guide shipped with the program (HTML in the resources), in its own window.
class HelpWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kGuideUrl = "qrc:/polyvant/help/index.html";

    explicit HelpWindow(QWidget* parent = nullptr);
    QTextBrowser* Browser() const noexcept { return m_browser; }

private:
    QTextBrowser* m_browser;
};
