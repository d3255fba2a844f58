// One connection, one message, one answer byte. Only a sender of this same user is heard.
#include "ui/HandOverServer.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QLocalSocket>
#include <QTimer>
#include <memory>

namespace norvex::ui {

namespace {
constexpr int kSenderTimeoutMs = 5000;

bool SameUser(const QLocalSocket* socket) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return getsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
           peer.uid == getuid();
}
}  // namespace

THandOverServer::THandOverServer(QString path, QObject* parent) : QObject(parent), path_(std::move(path)) {
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &THandOverServer::OnNewConnection);
}

THandOverServer::~THandOverServer() { Close(); }

bool THandOverServer::Listen() {
    if (server_.isListening()) return true;
    if (server_.listen(path_)) return true;
    // A socket file without a listener: the instance that made it has ended.
    QLocalServer::removeServer(path_);
    return server_.listen(path_);
}

void THandOverServer::Close() {
    if (server_.isListening()) server_.close();
}

void THandOverServer::OnNewConnection() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!SameUser(socket)) {
            socket->abort();
            continue;
        }
        auto received = std::make_shared<std::string>();
        // A sender that never completes its message is cut off.
        QTimer::singleShot(kSenderTimeoutMs, socket, [socket] { socket->abort(); });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, received] {
            const QByteArray chunk = socket->readAll();
            received->append(chunk.constData(), size_t(chunk.size()));
            THandOver message;
            switch (DecodeHandOver(*received, message)) {
            case TDecode::Incomplete: return;
            case TDecode::Invalid: socket->abort(); return;
            case TDecode::Complete: break;
            }
            received->clear();
            const bool taken = Receiver && Receiver(message);
            socket->write(QByteArray(1, taken ? kHandOverTaken : kHandOverRefused));
            socket->flush();
            socket->disconnectFromServer();
        });
    }
}

}  // namespace norvex::ui
