#pragma once

#include <QByteArray>
#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

namespace tavtest {

// A minimal HTTP/1.0 responder on 127.0.0.1 for tests: answers GET requests from a table of
// paths, 404 for anything else, and closes each connection after the reply.
class LocalHttpServer : public QObject {
  public:
    LocalHttpServer() {
        QObject::connect(&server_, &QTcpServer::newConnection, this, [this] { accept(); });
        server_.listen(QHostAddress::LocalHost, 0);
    }

    void serve(const QString& path, QByteArray body, int status = 200) {
        routes_[path] = {status, std::move(body)};
    }
    QUrl url(const QString& path) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path));
    }
    int requestCount() const { return requests_; }
    QList<QByteArray> requestHeads() const { return heads_; }

  private:
    struct Route {
        int status;
        QByteArray body;
    };

    void accept() {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            auto* buffer = new QByteArray;
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                buffer->append(socket->readAll());
                if (!buffer->contains("\r\n\r\n")) {
                    return;
                }
                ++requests_;
                heads_.append(*buffer);
                const QList<QByteArray> words = buffer->split(' ');
                const QString path = words.size() > 1 ? QString::fromUtf8(words[1]) : QString();
                const Route route = routes_.value(path, Route{404, "not found"});
                QByteArray reply = "HTTP/1.0 " + QByteArray::number(route.status) +
                                   (route.status == 200 ? " OK" : " Error") +
                                   "\r\nContent-Length: " + QByteArray::number(route.body.size()) +
                                   "\r\nConnection: close\r\n\r\n" + route.body;
                buffer->clear();
                socket->write(reply);
                socket->disconnectFromHost();
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, [socket, buffer] {
                delete buffer;
                socket->deleteLater();
            });
        }
    }

    QTcpServer server_;
    QHash<QString, Route> routes_;
    int requests_ = 0;
    QList<QByteArray> heads_;
};

}  // namespace tavtest
