// A small HTTP/1.1 server on 127.0.0.1 (a free port) for the tests of downloads, inside the test
// program, with HTTPS fronts where the build made the test certificates (SORVEL_TEST_PKI).
// It answers on a thread of its own; the test's main thread drives it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class TestHttpServer {
 public:
  // kWithoutLength: no Content-Length, the connection closes after the body. kTruncated:
  // announces the whole length, sends about half, closes. kStalled: announces the length, sends
  // part, then sends nothing more until the server is destroyed. kTrickle: announces the length,
  // then sends one byte every 50 ms.
  enum class Body { kWithLength, kWithoutLength, kTruncated, kStalled, kTrickle };
  // What an HTTPS front shows for "localhost": a certificate of the test authority, or one of an
  // authority nobody trusts.
  enum class Certificate { kTrusted, kUnknownAuthority };
  struct Route {
    int status = 200;
    std::string body;
    Body mode = Body::kWithLength;
    std::string location;  // for 3xx: the Location header (a path such as "/new" or a full URL)
    std::string contentType = "application/octet-stream";
  };

  TestHttpServer();   // starts listening; check Ok()
  ~TestHttpServer();  // stops, closes stalled connections

  bool Ok() const { return listener_ != kNoSocket; }
  // Thread-safe, may be called any time. An unknown path answers 404 with a small HTML page.
  void Serve(const std::string& path, Route route);
  std::wstring Url(const std::string& path) const;  // L"http://127.0.0.1:<port>/path"
  int Requests(const std::string& path) const;      // how many requests reached the path
  int Connections() const;                          // how many connections it took, in all

  // Whether this build made the test certificates that the HTTPS fronts need.
  static bool HasTestCertificates();
  // Starts an HTTPS front relaying to this server, ready when this returns; false without the
  // test certificates or when it does not come up. It ends with the server.
  bool StartTls(Certificate certificate);
  // L"https://localhost:<that front's port>/path".
  std::wstring SecureUrl(const std::string& path,
                         Certificate certificate = Certificate::kTrusted) const;

 private:
  using Socket = std::uintptr_t;
  static constexpr Socket kNoSocket = ~Socket{0};

  void Accept();
  void Answer(Socket connection);
  // Waits `milliseconds` (until the server stops when negative); false once it stops.
  bool Pause(int milliseconds);

  Socket listener_ = kNoSocket;
  int port_ = 0;
  int securePorts_[2] = {};        // by Certificate
  std::vector<long long> fronts_;  // native: the front processes, waited for at the end
  std::thread acceptor_;

  mutable std::mutex mutex_;
  std::condition_variable stopping_;
  bool stopped_ = false;
  std::map<std::string, Route> routes_;
  std::map<std::string, int> requests_;
  int connectionCount_ = 0;
  std::vector<Socket> connections_;  // open ones, closed at the end to free their threads
  std::vector<std::thread> answering_;
};

// A route answering `status` with `body`.
inline TestHttpServer::Route Reply(int status, std::string body,
                                   TestHttpServer::Body mode = TestHttpServer::Body::kWithLength,
                                   std::string location = "",
                                   std::string contentType = "application/octet-stream") {
  return {status, std::move(body), mode, std::move(location), std::move(contentType)};
}
