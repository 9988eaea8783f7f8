#include "SingleInstance.h"

#include <QDataStream>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QThread>

namespace zerbrak {
namespace {

// A launch waits this long for the running program to take its files, and a launch that
// lost the lock to another starting at the same moment waits this long for it to listen.
constexpr int handOverTimeoutMs = 5000;
constexpr char ack = '\x06';

// Hands `files` to the program listening at `socketPath` and waits until it has taken them.
// False when nothing listens there or it did not answer in time.
bool handOver(const QString& socketPath, const QStringList& files, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(timeoutMs)) {
        return false;
    }
    QByteArray message;
    QDataStream stream(&message, QIODevice::WriteOnly);
    stream << files;
    QDataStream out(&socket);
    out << message;
    if (!socket.waitForBytesWritten(timeoutMs)) {
        return false;
    }
    // The answer says the files were taken: the launch may exit without losing them.
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(timeoutMs)) {
            return false;
        }
    }
    char answer = 0;
    return socket.getChar(&answer) && answer == ack;
}

} // namespace

SingleInstance::SingleInstance(const QString& folder, const QString& appId, QObject* parent)
    : QObject(parent), socketPath_(QDir(folder).filePath(appId + QStringLiteral(".socket"))),
      lock_(QDir(folder).filePath(appId + QStringLiteral(".lock"))) {
    // Only a dead holder makes the lock stale, however long the program has been running.
    lock_.setStaleLockTime(0);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_.nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { receive(socket); });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            receive(socket);
        }
    });
}

bool SingleInstance::claim(const QStringList& files) {
    const QDeadlineTimer deadline(handOverTimeoutMs);
    while (!deadline.hasExpired()) {
        if (handOver(socketPath_, files, handOverTimeoutMs)) {
            return false;
        }
        if (lock_.tryLock(0)) {
            // Whatever socket is left there belongs to a program that is gone.
            QLocalServer::removeServer(socketPath_);
            // Should listening fail, later launches open windows of their own: no file is lost.
            server_.listen(socketPath_);
            return true;
        }
        if (lock_.error() != QLockFile::LockFailedError) {
            return true; // the folder cannot hold a lock: run on our own
        }
        // Another launch holds the lock and is about to listen.
        QThread::msleep(50);
    }
    return true;
}

void SingleInstance::receive(QLocalSocket* socket) {
    QDataStream stream(socket);
    stream.startTransaction();
    QByteArray message;
    stream >> message;
    if (!stream.commitTransaction()) {
        return; // the rest is still on its way
    }
    QStringList files;
    QDataStream in(message);
    in >> files;
    socket->putChar(ack);
    socket->flush();
    socket->disconnectFromServer();
    emit filesHandedOver(files);
}

} // namespace zerbrak
