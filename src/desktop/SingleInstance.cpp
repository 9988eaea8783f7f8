#include "SingleInstance.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QThread>
#include <algorithm>
#include <sys/stat.h>

namespace zerbrak {
namespace {

// A launch waits this long for the running program to take its files, and a launch that
// lost the lock to another starting at the same moment waits this long for it to listen.
constexpr int handOverTimeoutMs = 5000;
constexpr char ack = '\x06';

// The lock's or the socket's name holds a link: nothing of ours, neither followed nor removed.
bool isLink(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool plainTagCharacter(QChar c) {
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('.') ||
           c == QLatin1Char('-') || c == QLatin1Char('_');
}

// The same display always gives the same text, and two displays two texts.
QString tagText(const QString& text) {
    constexpr qsizetype longest = 24;
    if (!text.isEmpty() && text.size() <= longest &&
        std::all_of(text.cbegin(), text.cend(), plainTagCharacter)) {
        return text;
    }
    return QString::fromLatin1(
        QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
}

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

QString instanceName(const QString& appId, const QString& display) {
    return display.isEmpty() ? appId : appId + QLatin1Char('-') + display;
}

} // namespace

QString displayTag(const QString& waylandDisplay, const QString& x11Display) {
    if (!waylandDisplay.isEmpty()) {
        return QStringLiteral("wl-") + tagText(waylandDisplay);
    }
    if (x11Display.isEmpty()) {
        return {};
    }
    QString display = x11Display;
    if (display.startsWith(QLatin1Char(':'))) {
        display.remove(0, 1);
    }
    if (display.endsWith(QStringLiteral(".0"))) {
        display.chop(2);
    }
    return QStringLiteral("x11-") + tagText(display);
}

QString currentDisplayTag() {
    return displayTag(qEnvironmentVariable("WAYLAND_DISPLAY"), qEnvironmentVariable("DISPLAY"));
}

SingleInstance::SingleInstance(const QString& folder, const QString& appId, const QString& display,
                               QObject* parent)
    : QObject(parent),
      socketPath_(QDir(folder).filePath(instanceName(appId, display) + QStringLiteral(".socket"))),
      lock_(QDir(folder).filePath(instanceName(appId, display) + QStringLiteral(".lock"))) {
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
    if (isLink(lock_.fileName()) || isLink(socketPath_)) {
        return true; // run on our own
    }
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
