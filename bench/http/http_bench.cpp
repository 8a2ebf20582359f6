// 1000 GETs of a 60 KB gzip page from a local TLS server: a new TSslHttpCli (and
// TLS context) per page, as a fetch thread uses them, against libcurl with a new
// easy handle per page and no connection reuse. Same server, same run.
#include "fetch/http_cli.h"
#include "fetch/ssl_context.h"
#include "fetch/ssl_http_cli.h"
#include "fetch/zlib_coding.h"
#include "testsite/body_coding.h"
#include "testsite/scripted_server.h"

#include <curl/curl.h>
#include <sys/resource.h>

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <functional>
#include <stdexcept>

namespace {

struct TMeasure {
    double Seconds;
    double CpuSeconds; // of the calling thread: the client's own work
};

double ThreadCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TMeasure Run(int pages, const std::function<QByteArray()>& fetch, const QByteArray& expected) {
    const double cpu = ThreadCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < pages; ++i)
        if (fetch() != expected)
            throw std::runtime_error("page differs");
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return {took.count(), ThreadCpuSeconds() - cpu};
}

QByteArray OurGet(const QString& url) {
    TSslContext context;
    TSslHttpCli cli;
    TMemoryStream body;
    cli.SslContext = &context;
    cli.Request.URL = url;
    cli.Request.Reference = url;
    cli.Request.Accept = "text/html, */*";
    cli.Request.Timeout = 120;
    cli.SetOptions({httpoEnableContentCoding});
    cli.SetRcvdStream(&body);
    cli.Get();
    return body.Data();
}

size_t CurlWrite(char* data, size_t size, size_t count, void* target) {
    static_cast<QByteArray*>(target)->append(data, static_cast<qsizetype>(size * count));
    return size * count;
}

QByteArray CurlGet(const QByteArray& url) {
    QByteArray body;
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "gzip, deflate, br");
    curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &CurlWrite);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    const CURLcode rc = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    if (rc != CURLE_OK)
        throw std::runtime_error(curl_easy_strerror(rc));
    return body;
}

void Report(const char* name, int pages, const TMeasure& m) {
    std::printf("%-12s %8.1f pages/s   %7.3f ms CPU per page\n", name, pages / m.Seconds,
                1000 * m.CpuSeconds / pages);
}

} // namespace

int main(int argc, char** argv) {
    RegisterZlibContentCoding();
    QCoreApplication app(argc, argv);
    const int pages = argc > 1 ? std::atoi(argv[1]) : 1000;
    const QByteArray page = SampleHtml(60 * 1024);
    const QByteArray gzip = Deflate(page, TDeflateFormat::Gzip);
    TScriptedServer server({.Tls = true});
    server.SetScripts({TConnectionScript::Reply(
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Encoding: gzip\r\nContent-Length: " +
        QByteArray::number(gzip.size()) + "\r\n\r\n" + gzip)});
    const QString url = "https://127.0.0.1:" + server.PortText() + "/page";
    curl_global_init(CURL_GLOBAL_DEFAULT);
    std::printf("%d GETs of a %lld-byte page (%lld bytes gzip) over TLS, new client per page\n",
                pages, static_cast<long long>(page.size()), static_cast<long long>(gzip.size()));
    const TMeasure ours = Run(
        pages, [&] { return OurGet(url); }, page);
    const TMeasure curl = Run(
        pages, [&] { return CurlGet(url.toUtf8()); }, page);
    Report("TSslHttpCli", pages, ours);
    Report("libcurl", pages, curl);
    std::printf("pages/s ratio (ours/libcurl) %.2f   CPU per page ratio %.2f\n",
                curl.Seconds / ours.Seconds, ours.CpuSeconds / curl.CpuSeconds);
    curl_global_cleanup();
    return 0;
}
