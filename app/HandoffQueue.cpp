#include "HandoffQueue.h"

#include "UiServices.h"

namespace polyvant {

HandoffQueue::HandoffQueue(Handler handler, QObject* parent)
    : QObject(parent), m_handler(std::move(handler))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &HandoffQueue::Drain);
}

void HandoffQueue::Enqueue(const QString& path, std::function<void()> done)
{
    m_queue.push_back({path, std::move(done)});
    if (!m_timer.isActive())
        m_timer.start(0);
}

void HandoffQueue::Drain()
{
    if (m_draining)
        return;
    if (IsBusy()) {
        m_timer.start(kRetryMs);
        return;
    }
    m_draining = true;
    while (!m_queue.empty()) {
        Request request = std::move(m_queue.front());
        m_queue.pop_front();
        {
            BusyScope busy;
            if (m_handler)
                m_handler(request.path);
        }
        if (request.done)
            request.done();
    }
    m_draining = false;
}

} // namespace polyvant
