#include "qt/services/QtHttpClient.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QTimer>

TQtHttpClient::TQtHttpClient(TQtHttpClientOptions options) : FOptions(options) {}

bool TQtHttpClient::Get(const THttpRequest& request, std::string& body) {
    const QUrl url(QString::fromStdString(request.Url));
    QNetworkAccessManager manager;
    if (FOptions.UseSystemProxy) {
        const auto proxies = QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(url));
        if (!proxies.isEmpty()) {
            manager.setProxy(proxies.first());
        }
    } else {
        manager.setProxy(QNetworkProxy::NoProxy);
    }
    QNetworkRequest get(url);
    get.setHeader(QNetworkRequest::UserAgentHeader, QString::fromStdString(request.UserAgent));
    // Owned by the manager, so released with it whatever happens.
    QNetworkReply* reply = manager.get(get);

    const qint64 maxBytes = std::max(request.MaxBytes, 0);
    QByteArray received;
    QEventLoop loop;
    const auto take = [&] {
        if (received.size() < maxBytes) {
            received += reply->read(maxBytes - received.size());
        }
        if (received.size() >= maxBytes) {
            loop.quit(); // the rest is never wanted
        }
    };
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, take);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    timeout.start(FOptions.Timeout);
    if (!reply->isFinished()) {
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    take();
    // Any status counts as an answer; a failed connection or the time-out has none.
    const bool answered = received.size() >= maxBytes ||
                          (reply->isFinished() &&
                           reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid());
    reply->abort();
    if (!answered) {
        return false;
    }
    body.assign(received.constData(), static_cast<std::size_t>(received.size()));
    return true;
}
