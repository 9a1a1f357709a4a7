#pragma once
#include <cstdint>
#include <map>
#include <memory>

#include <QObject>
#include <QPointer>
#include <QString>

class QLocalServer;
class QLocalSocket;
class QLockFile;

namespace polyvant {

// One running instance per user and program name. The first start takes a lock
// file in the runtime directory ($XDG_RUNTIME_DIR, 0700) and only then listens on a
// filesystem socket beside it; a later start that cannot take the lock connects,
// sends one zero-terminated absolute path ("" asks the first to come to the front)
// and waits for "ok", which the first sends once the file is imported.
//
// The receiver treats the message as untrusted: peers of another uid are refused,
// a message is at most kMaxMessage bytes and must arrive within kReadTimeoutMs,
// and a path must be absolute. Nothing in it is ever executed.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxMessage = 4096 + 1; // PATH_MAX and the terminating zero
    static constexpr int kReadTimeoutMs = 2000;
    static constexpr int kRetryWindowMs = 10000;

    enum class HandOffResult {
        kDelivered,     // the first instance acknowledged the request
        kBecamePrimary, // the first instance went away: this one is first now
        kFailed,        // nobody answered within the retry window, or the answer broke off
    };

    // key: the program's base name; socket and lock are named after it.
    explicit SingleInstance(const QString& key, QObject* parent = nullptr);
    ~SingleInstance() override;

    static QString RuntimeDirectory();
    QString LockPath() const;
    QString SocketPath() const;

    // Takes the lock (a stale or unreadable lock of a dead holder is removed) and
    // listens. False when another live instance holds the lock.
    bool TryBecomePrimary();
    bool IsPrimary() const noexcept { return m_lock != nullptr; }
    // Why listening failed after the lock was taken ("" when it did not).
    const QString& ListenError() const noexcept { return m_listenError; }

    // For a later start: retries lock-or-connect for up to retryWindowMs, then sends
    // path and blocks until the first instance answers or drops the connection.
    HandOffResult HandOff(const QString& path, int retryWindowMs = kRetryWindowMs);

    // Answers request id (from requestReceived) with "ok" and closes the connection.
    void Acknowledge(std::uint64_t id);

    // Drops the server and the lock.
    void Release();

signals:
    // A well-formed request: an absolute path, or "" to come to the front.
    void requestReceived(const QString& path, std::uint64_t id);

private:
    void OnNewConnection();
    void OnReadyRead(QLocalSocket* socket);

    QString m_key;
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<QLocalServer> m_server;
    QString m_listenError;
    std::uint64_t m_nextId = 1;
    std::map<std::uint64_t, QPointer<QLocalSocket>> m_pending;
};

// Decodes a received message: the bytes before the first zero. False when there is no
// zero yet within kMaxMessage bytes, or the path is not absolute and not empty.
enum class MessageState { kIncomplete, kComplete, kInvalid };
MessageState ParseHandOffMessage(const QByteArray& buffer, QString* path);

} // namespace polyvant
