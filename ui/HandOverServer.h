// The receiving side of the hand-over: a local socket beside the instance lock on which later starts
// of Norvex deliver their working folder and arguments (wire format in platform/InstanceChannel.h).
#pragma once
#include <QLocalServer>
#include <QObject>
#include <functional>

#include "platform/InstanceChannel.h"

namespace norvex::ui {

class THandOverServer : public QObject {
    Q_OBJECT
public:
    explicit THandOverServer(QString path, QObject* parent = nullptr);
    ~THandOverServer() override;

    // Starts listening; a socket file left by an instance that ended is replaced. False when the
    // socket cannot be made (the program runs on, without hand-overs).
    bool Listen();
    // Stops listening and removes the socket file.
    void Close();
    bool Listening() const { return server_.isListening(); }

    // Takes one complete hand-over; false refuses it (the sender tries again). Unset, every
    // hand-over is refused.
    std::function<bool(const THandOver&)> Receiver;

private:
    void OnNewConnection();

    QString path_;
    QLocalServer server_;
};

}  // namespace norvex::ui
