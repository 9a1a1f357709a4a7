#include "SingleInstance.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

namespace polyvant {

namespace {

constexpr char kAnswer[] = "ok\n";

bool PeerIsSameUser(qintptr fd)
{
    struct ucred cred {};
    socklen_t len = sizeof(cred);
    if (::getsockopt(int(fd), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof(cred))
        return false;
    return cred.uid == ::getuid();
}

} // namespace

MessageState ParseHandOffMessage(const QByteArray& buffer, QString* path)
{
    const qsizetype end = buffer.indexOf('\0');
    if (end < 0)
        return buffer.size() >= SingleInstance::kMaxMessage ? MessageState::kInvalid
                                                            : MessageState::kIncomplete;
    if (end >= SingleInstance::kMaxMessage || buffer.size() > end + 1)
        return MessageState::kInvalid; // oversize, or bytes after the terminator
    const QByteArray raw = buffer.left(end);
    if (!raw.isEmpty() && raw.front() != '/')
        return MessageState::kInvalid;
    if (path)
        *path = QFile::decodeName(raw);
    return MessageState::kComplete;
}

SingleInstance::SingleInstance(const QString& key, QObject* parent) : QObject(parent), m_key(key) {}

SingleInstance::~SingleInstance()
{
    Release();
}

QString SingleInstance::RuntimeDirectory()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir;
}

QString SingleInstance::LockPath() const
{
    return RuntimeDirectory() + QLatin1Char('/') + m_key + QStringLiteral(".lock");
}

QString SingleInstance::SocketPath() const
{
    return RuntimeDirectory() + QLatin1Char('/') + m_key + QStringLiteral(".sock");
}

bool SingleInstance::TryBecomePrimary()
{
    if (m_lock)
        return true;
    auto lock = std::make_unique<QLockFile>(LockPath());
    lock->setStaleLockTime(0); // held for the whole run: stale only when the holder is gone
    if (!lock->tryLock(0)) {
        qint64 pid = 0;
        QString host, app;
        // An empty or garbage lock (a kill between create and write) names nobody and
        // would block every later start; removeStaleLockFile refuses while a live
        // process still holds the file.
        if (lock->error() != QLockFile::LockFailedError || lock->getLockInfo(&pid, &host, &app))
            return false;
        if (!lock->removeStaleLockFile() || !lock->tryLock(0))
            return false;
    }
    m_lock = std::move(lock);

    // Only the lock holder may remove a socket left by a killed instance.
    QLocalServer::removeServer(SocketPath());
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    m_server->setMaxPendingConnections(64);
    if (!m_server->listen(SocketPath()))
        m_listenError = m_server->errorString();
    connect(m_server.get(), &QLocalServer::newConnection, this, &SingleInstance::OnNewConnection);
    return true;
}

void SingleInstance::OnNewConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        if (!PeerIsSameUser(socket->socketDescriptor())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        socket->setReadBufferSize(kMaxMessage + 1);
        auto* timer = new QTimer(socket);
        timer->setSingleShot(true);
        // A peer that stays silent or sends half a message is dropped.
        connect(timer, &QTimer::timeout, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        timer->start(kReadTimeoutMs);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { OnReadyRead(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (socket->bytesAvailable() > 0)
            OnReadyRead(socket);
    }
}

void SingleInstance::OnReadyRead(QLocalSocket* socket)
{
    if (socket->property("pvDone").toBool()) {
        socket->readAll(); // nothing more is expected once a request is complete
        return;
    }
    QByteArray buffer = socket->property("pvBuffer").toByteArray();
    buffer += socket->read(kMaxMessage + 1 - buffer.size());
    QString path;
    switch (ParseHandOffMessage(buffer, &path)) {
    case MessageState::kIncomplete:
        socket->setProperty("pvBuffer", buffer);
        return;
    case MessageState::kInvalid:
        socket->abort();
        socket->deleteLater();
        return;
    case MessageState::kComplete:
        break;
    }
    socket->setProperty("pvDone", true);
    socket->setProperty("pvBuffer", QVariant());
    for (QTimer* timer : socket->findChildren<QTimer*>())
        timer->stop();
    const std::uint64_t id = m_nextId++;
    m_pending[id] = socket;
    emit requestReceived(path, id);
}

void SingleInstance::Acknowledge(std::uint64_t id)
{
    const auto it = m_pending.find(id);
    if (it == m_pending.end())
        return;
    QPointer<QLocalSocket> socket = it->second;
    m_pending.erase(it);
    if (!socket || socket->state() != QLocalSocket::ConnectedState)
        return;
    socket->write(kAnswer, sizeof(kAnswer) - 1);
    socket->flush();
    socket->disconnectFromServer();
}

SingleInstance::HandOffResult SingleInstance::HandOff(const QString& path, int retryWindowMs)
{
    const QDeadlineTimer deadline(retryWindowMs);
    QByteArray message = QFile::encodeName(path);
    message.append('\0');
    if (message.size() > kMaxMessage)
        return HandOffResult::kFailed;
    while (true) {
        // The first instance may have gone away meanwhile: then this start is first.
        if (TryBecomePrimary())
            return HandOffResult::kBecamePrimary;
        QLocalSocket socket;
        socket.connectToServer(SocketPath());
        if (socket.waitForConnected(500)) {
            socket.write(message);
            socket.waitForBytesWritten(kReadTimeoutMs);
            QByteArray answer;
            // The first instance answers after its import, however long that takes
            // (a modal dialog may be open there); a dropped connection ends the wait.
            while (socket.state() == QLocalSocket::ConnectedState || socket.bytesAvailable()) {
                if (socket.bytesAvailable() || socket.waitForReadyRead(1000))
                    answer += socket.readAll();
                if (answer.startsWith("ok"))
                    return HandOffResult::kDelivered;
                if (answer.size() > 16)
                    break;
            }
            if (answer.startsWith("ok"))
                return HandOffResult::kDelivered;
            if (answer.isEmpty() && !deadline.hasExpired()) {
                // Refused or dropped before answering: the instance may be ending; retry.
                QThread::msleep(50);
                continue;
            }
            return HandOffResult::kFailed;
        }
        if (deadline.hasExpired())
            return HandOffResult::kFailed;
        QThread::msleep(50);
    }
}

void SingleInstance::Release()
{
    for (auto& [id, socket] : m_pending)
        if (socket)
            socket->abort();
    m_pending.clear();
    if (m_server) {
        m_server->close();
        m_server.reset();
    }
    if (m_lock) {
        m_lock->unlock();
        m_lock.reset();
    }
}

} // namespace polyvant
