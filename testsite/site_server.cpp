#include "testsite/site_server.h"

#include "testsite/body_coding.h"
#include "testsite/certificates.h"

#include <asio/ip/tcp.hpp>
#include <asio/read_until.hpp>
#include <asio/ssl.hpp>
#include <asio/streambuf.hpp>
#include <asio/write.hpp>

#include <QRegularExpression>

#include <list>
#include <mutex>
#include <thread>

namespace {

using TTlsStream = asio::ssl::stream<asio::ip::tcp::socket>;

struct TRequestHead {
    QString Path;
    QString AcceptEncoding;
};

TRequestHead ParseHead(const QByteArray& head) {
    TRequestHead request;
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> start = lines.value(0).trimmed().split(' ');
    request.Path = QString::fromUtf8(start.value(1));
    for (const QByteArray& line : lines) {
        int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "accept-encoding")
            request.AcceptEncoding = QString::fromLatin1(line.mid(colon + 1).trimmed());
    }
    return request;
}

bool Accepts(const QString& acceptEncoding, const char* coding) {
    for (const QString& token : acceptEncoding.split(','))
        if (token.section(';', 0, 0).trimmed().compare(coding, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QByteArray Unavailable() {
    const QByteArray body = "<html><body>Сайт недоступен</body></html>";
    return "HTTP/1.0 503 Service Unavailable\r\nContent-Type: text/html; charset=utf-8\r\n"
           "Content-Length: " +
           QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

QByteArray Response(const TSiteModel& model, const TRequestHead& request) {
    TSitePage page;
    if (!model.Page(request.Path, page)) {
        QByteArray body = "<html><body>Страница не найдена</body></html>";
        return "HTTP/1.0 404 Not Found\r\nContent-Type: text/html; charset=utf-8\r\n"
               "Content-Length: " +
               QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    }
    QByteArray body = page.Html.toUtf8();
    QByteArray coding;
    if (page.Coding == TSiteCoding::Gzip && Accepts(request.AcceptEncoding, "gzip")) {
        body = GzipBytes(body);
        coding = "Content-Encoding: gzip\r\n";
    } else if (page.Coding == TSiteCoding::Br && Accepts(request.AcceptEncoding, "br")) {
        body = BrotliBytes(body);
        coding = "Content-Encoding: br\r\n";
    }
    return "HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\n" + coding + "Connection: close\r\n\r\n" + body;
}

} // namespace

class TSiteServer::TImpl {
public:
    explicit TImpl(uint16_t port)
        : FTls(asio::ssl::context::tls_server),
          FAcceptor(FContext, {asio::ip::make_address("127.0.0.1"), port}),
          FModel("https://127.0.0.1:" + QString::number(FAcceptor.local_endpoint().port())) {
        UseSelfSignedCertificate(FTls.native_handle());
        Accept();
        FThread = std::thread([this] { FContext.run(); });
    }

    ~TImpl() {
        asio::post(FContext, [this] {
            FAcceptor.close();
            for (auto& weak : FStreams)
                if (auto stream = weak.lock())
                    stream->lowest_layer().close();
            FContext.stop();
        });
        FThread.join();
    }

    uint16_t Port() const { return FAcceptor.local_endpoint().port(); }
    const TSiteModel& Model() const { return FModel; }

    QStringList Requests() const {
        std::lock_guard<std::mutex> guard(FLock);
        return FRequests;
    }

    void HoldWhen(std::function<bool(const QString&)> hold) {
        std::lock_guard<std::mutex> guard(FLock);
        FHold = std::move(hold);
    }

    void ReleaseHeld() {
        std::list<THeld> held;
        {
            std::lock_guard<std::mutex> guard(FLock);
            FHold = nullptr;
            held.swap(FHeld);
        }
        for (THeld& response : held)
            asio::post(FContext, [this, response] { Send(response.Stream, response.Bytes); });
    }

    QStringList HeldPaths() const {
        std::lock_guard<std::mutex> guard(FLock);
        QStringList paths;
        for (const THeld& response : FHeld)
            paths.append(response.Path);
        return paths;
    }

    void FailWhen(std::function<bool(const QString&)> fail) {
        std::lock_guard<std::mutex> guard(FLock);
        FFail = std::move(fail);
    }

    void AnswerCardsWith(const QByteArray& response) {
        std::lock_guard<std::mutex> guard(FLock);
        FCardResponse = response;
    }

private:
    struct THeld {
        std::shared_ptr<TTlsStream> Stream;
        QByteArray Bytes;
        QString Path;
    };

    void Accept() {
        FAcceptor.async_accept([this](std::error_code error, asio::ip::tcp::socket socket) {
            if (error)
                return;
            auto stream = std::make_shared<TTlsStream>(std::move(socket), FTls);
            FStreams.remove_if([](const auto& weak) { return weak.expired(); });
            FStreams.push_back(stream);
            stream->async_handshake(asio::ssl::stream_base::server,
                                    [this, stream](std::error_code failed) {
                                        if (!failed)
                                            ReadHead(stream);
                                    });
            Accept();
        });
    }

    void ReadHead(const std::shared_ptr<TTlsStream>& stream) {
        auto buffer = std::make_shared<asio::streambuf>(64 * 1024);
        asio::async_read_until(*stream, *buffer, "\r\n\r\n",
                               [this, stream, buffer](std::error_code error, size_t size) {
                                   if (error)
                                       return;
                                   QByteArray head(static_cast<const char*>(buffer->data().data()),
                                                   int(size));
                                   Answer(stream, ParseHead(head));
                               });
    }

    void Answer(const std::shared_ptr<TTlsStream>& stream, const TRequestHead& request) {
        QByteArray bytes = Response(FModel, request);
        {
            std::lock_guard<std::mutex> guard(FLock);
            if (!FCardResponse.isEmpty() && request.Path.startsWith(QStringLiteral("/firm/")))
                bytes = FCardResponse;
            FRequests.append(request.Path);
            if (FFail && FFail(request.Path))
                bytes = Unavailable();
            if (FHold && FHold(request.Path)) {
                FHeld.push_back({stream, bytes, request.Path});
                return;
            }
        }
        Send(stream, bytes);
    }

    void Send(const std::shared_ptr<TTlsStream>& stream, const QByteArray& bytes) {
        auto data = std::make_shared<QByteArray>(bytes);
        asio::async_write(*stream, asio::buffer(data->constData(), size_t(data->size())),
                          [stream, data](std::error_code error, size_t) {
                              if (error)
                                  return stream->lowest_layer().close();
                              stream->async_shutdown(
                                  [stream](std::error_code) { stream->lowest_layer().close(); });
                          });
    }

    asio::io_context FContext{1};
    asio::ssl::context FTls;
    asio::ip::tcp::acceptor FAcceptor;
    TSiteModel FModel;
    std::list<std::weak_ptr<TTlsStream>> FStreams;
    mutable std::mutex FLock;
    QStringList FRequests;
    std::function<bool(const QString&)> FHold;
    std::function<bool(const QString&)> FFail;
    std::list<THeld> FHeld;
    QByteArray FCardResponse;
    std::thread FThread;
};

TSiteServer::TSiteServer(uint16_t port) : FImpl(std::make_unique<TImpl>(port)) {}

TSiteServer::~TSiteServer() = default;

uint16_t TSiteServer::Port() const {
    return FImpl->Port();
}

QString TSiteServer::BaseUrl() const {
    return FImpl->Model().BaseUrl();
}

const TSiteModel& TSiteServer::Model() const {
    return FImpl->Model();
}

QStringList TSiteServer::Requests() const {
    return FImpl->Requests();
}

void TSiteServer::HoldWhen(std::function<bool(const QString&)> hold) {
    FImpl->HoldWhen(std::move(hold));
}

void TSiteServer::ReleaseHeld() {
    FImpl->ReleaseHeld();
}

QStringList TSiteServer::HeldPaths() const {
    return FImpl->HeldPaths();
}

void TSiteServer::FailWhen(std::function<bool(const QString& path)> fail) {
    FImpl->FailWhen(std::move(fail));
}

void TSiteServer::AnswerCardsWith(const QByteArray& response) {
    FImpl->AnswerCardsWith(response);
}
