#pragma once
#include <functional>
#include <memory>

#include "SceneLists.h"

class QObject;
class QOffscreenSurface;
class QOpenGLContext;
class QThread;

// A thread with its own OpenGL context in the share group of a pane's context, for the
// part of a build that can run beside the rest. Made, started and destroyed on the GUI
// thread; the work runs once per Start.

namespace polyvant {

class SharedContextWorker : public ListWorker {
public:
    // share is the context whose share group the worker joins; nothing is made when the
    // platform cannot use contexts on other threads, and Start then refuses. ended, when
    // given, runs on receiver's thread after the work (not at all once receiver is gone).
    explicit SharedContextWorker(QOpenGLContext* share, QObject* receiver = nullptr,
                                 std::function<void()> ended = {});
    ~SharedContextWorker() override;
    SharedContextWorker(const SharedContextWorker&) = delete;
    SharedContextWorker& operator=(const SharedContextWorker&) = delete;

    bool Start(std::function<void()> work) override;
    bool WaitFor(int milliseconds) override;
    bool Ran() const override { return m_ran; }

private:
    std::unique_ptr<QOffscreenSurface> m_surface;
    std::unique_ptr<QOpenGLContext> m_context;
    std::unique_ptr<QThread> m_thread;
    QObject* m_receiver;
    std::function<void()> m_ended;
    bool m_ran = false;
};

} // namespace polyvant
