#include "SharedContextWorker.h"

#include <QCoreApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QThread>

namespace polyvant {

SharedContextWorker::SharedContextWorker(QOpenGLContext* share, QObject* receiver,
                                         std::function<void()> ended)
    : m_receiver(receiver), m_ended(std::move(ended))
{
    if (!share || !QOpenGLContext::supportsThreadedOpenGL()) {
        return;
    }
    auto context = std::make_unique<QOpenGLContext>();
    context->setFormat(share->format());
    context->setShareContext(share);
    if (!context->create() || !QOpenGLContext::areSharing(context.get(), share)) {
        return;
    }
    auto surface = std::make_unique<QOffscreenSurface>();
    surface->setFormat(context->format());
    surface->create();
    if (!surface->isValid()) {
        return;
    }
    m_context = std::move(context);
    m_surface = std::move(surface);
}

SharedContextWorker::~SharedContextWorker()
{
    if (m_thread) {
        m_thread->wait();
    }
}

bool SharedContextWorker::Start(std::function<void()> work)
{
    if (!m_context || m_thread) {
        return false;
    }
    QThread* gui = QThread::currentThread();
    QOpenGLContext* context = m_context.get();
    QOffscreenSurface* surface = m_surface.get();
    m_thread.reset(QThread::create([this, context, surface, gui, work = std::move(work)] {
        if (context->makeCurrent(surface)) {
            work();
            // The lists are drawn from other contexts as soon as this ends.
            context->functions()->glFinish();
            context->doneCurrent();
            m_ran = true;
        }
        // Back to the GUI thread, which destroys it.
        context->moveToThread(gui);
        if (m_receiver && m_ended) {
            QMetaObject::invokeMethod(m_receiver, m_ended, Qt::QueuedConnection);
        }
    }));
    context->moveToThread(m_thread.get());
    m_thread->start();
    return true;
}

bool SharedContextWorker::WaitFor(int milliseconds)
{
    return !m_thread || m_thread->wait(QDeadlineTimer(milliseconds));
}

} // namespace polyvant
