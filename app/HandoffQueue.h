#pragma once
#include <deque>
#include <functional>

#include <QObject>
#include <QString>
#include <QTimer>

namespace polyvant {

// Files that arrive from outside (a later start, a drop) while the user is busy.
// They never run inside another loop: while a modal dialog, a display build or a
// plug-in call is active (IsBusy), they wait, and they run from the idle main loop in
// arrival order. Each request's done callback runs after its handler.
class HandoffQueue : public QObject {
public:
    using Handler = std::function<void(const QString& path)>;
    static constexpr int kRetryMs = 50;

    explicit HandoffQueue(Handler handler, QObject* parent = nullptr);

    void Enqueue(const QString& path, std::function<void()> done = {});
    std::size_t Pending() const noexcept { return m_queue.size(); }

private:
    struct Request {
        QString path;
        std::function<void()> done;
    };

    void Drain();

    Handler m_handler;
    std::deque<Request> m_queue;
    QTimer m_timer;
    bool m_draining = false;
};

} // namespace polyvant
