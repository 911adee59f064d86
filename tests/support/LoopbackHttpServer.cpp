#include "support/LoopbackHttpServer.h"

#include <QTcpSocket>

#include <memory>
#include <stdexcept>

LoopbackHttpServer::LoopbackHttpServer() {
    if (!FServer.listen(QHostAddress::LocalHost, 0)) {
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    QObject::connect(&FServer, &QTcpServer::newConnection, &FServer, [this] {
        while (QTcpSocket* socket = FServer.nextPendingConnection()) {
            auto received = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, received] {
                *received += socket->readAll();
                const qsizetype headEnd = received->indexOf("\r\n\r\n");
                if (headEnd < 0) {
                    return;
                }
                Requests.push_back(received->left(headEnd).toStdString());
                received->clear();
                if (Response.Silent) {
                    return;
                }
                const char* reason = Response.Status == 200 ? "OK" : "Error";
                const std::string head = "HTTP/1.1 " + std::to_string(Response.Status) + " " +
                                         reason + "\r\nContent-Type: text/plain\r\n" +
                                         "Content-Length: " + std::to_string(Response.Body.size()) +
                                         "\r\nConnection: close\r\n\r\n";
                socket->write(head.data(), static_cast<qint64>(head.size()));
                socket->write(Response.Body.data(), static_cast<qint64>(Response.Body.size()));
                socket->disconnectFromHost();
            });
        }
    });
}

std::string LoopbackHttpServer::Origin() const {
    return "http://127.0.0.1:" + std::to_string(FServer.serverPort());
}
