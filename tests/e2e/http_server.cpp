#include "tests/e2e/http_server.h"

#ifdef _WIN32
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>

namespace {

#ifdef _WIN32
using AddressLength = int;
constexpr int kShutBoth = SD_BOTH;
constexpr int kShutSend = SD_SEND;
constexpr int kSendFlags = 0;
void CloseSocket(SOCKET socket) {
  closesocket(socket);
}
#else
using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = -1;
using AddressLength = socklen_t;
constexpr int kShutBoth = SHUT_RDWR;
constexpr int kShutSend = SHUT_WR;
// A client that hangs up early must not end the test program.
constexpr int kSendFlags = MSG_NOSIGNAL;
void CloseSocket(SOCKET socket) {
  close(socket);
}
#endif

SOCKET Native(std::uintptr_t socket) {
  return static_cast<SOCKET>(socket);
}

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    default:
      return "Status";
  }
}

bool SendAll(SOCKET socket, const char* data, std::size_t size) {
  while (size > 0) {
    auto n = send(socket, data, static_cast<int>(std::min<std::size_t>(size, 1 << 20)), kSendFlags);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// The request line's path without its query; empty when no whole request head arrives.
std::string ReadRequestPath(SOCKET socket) {
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos) {
    if (head.size() > 65536) return std::string();
    auto n = recv(socket, buffer, sizeof buffer, 0);
    if (n <= 0) return std::string();
    head.append(buffer, static_cast<std::size_t>(n));
  }
  std::size_t start = head.find(' ');
  if (start == std::string::npos) return std::string();
  std::size_t end = head.find_first_of(" ?\r", start + 1);
  return head.substr(start + 1, end - start - 1);
}

}  // namespace

TestHttpServer::TestHttpServer() {
#ifdef _WIN32
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
#endif
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener == INVALID_SOCKET) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  AddressLength size = sizeof address;
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, SOMAXCONN) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    CloseSocket(listener);
    return;
  }
  port_ = ntohs(address.sin_port);
  listener_ = static_cast<Socket>(listener);
  acceptor_ = std::thread([this] { Accept(); });
}

TestHttpServer::~TestHttpServer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    // Wakes the threads blocked on their connections; each closes its own.
    for (Socket connection : connections_) shutdown(Native(connection), kShutBoth);
  }
  stopping_.notify_all();
  if (acceptor_.joinable()) acceptor_.join();
  for (std::thread& thread : answering_) thread.join();
  if (listener_ != kNoSocket) CloseSocket(Native(listener_));
#ifdef _WIN32
  WSACleanup();
#endif
}

void TestHttpServer::Serve(const std::string& path, Route route) {
  std::lock_guard<std::mutex> lock(mutex_);
  routes_[path] = std::move(route);
}

std::wstring TestHttpServer::Url(const std::string& path) const {
  return L"http://127.0.0.1:" + std::to_wstring(port_) + std::wstring(path.begin(), path.end());
}

int TestHttpServer::Requests(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = requests_.find(path);
  return it == requests_.end() ? 0 : it->second;
}

void TestHttpServer::Accept() {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopped_) return;
    }
    // A short wait, so that the end is noticed without closing the socket under accept.
    fd_set ready;
    FD_ZERO(&ready);
    SOCKET listener = Native(listener_);
    FD_SET(listener, &ready);
    timeval wait{0, 50000};
    if (select(static_cast<int>(listener) + 1, &ready, nullptr, nullptr, &wait) <= 0) continue;
    SOCKET accepted = accept(listener, nullptr, nullptr);
    if (accepted == INVALID_SOCKET) continue;
    auto connection = static_cast<Socket>(accepted);
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.push_back(connection);
    answering_.emplace_back([this, connection] { Answer(connection); });
  }
}

void TestHttpServer::Answer(Socket connection) {
  std::string path = ReadRequestPath(Native(connection));
  Route route;
  bool known = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!path.empty()) {
      ++requests_[path];
      auto it = routes_.find(path);
      known = it != routes_.end();
      if (known) route = it->second;
    }
  }
  if (!path.empty()) {
    if (!known) {
      route.status = 404;
      route.body = "<html><body><h1>404 Not Found</h1></body></html>";
      route.contentType = "text/html";
    }
    std::string head = "HTTP/1.1 " + std::to_string(route.status) + " " + Reason(route.status) +
                       "\r\nContent-Type: " + route.contentType + "\r\nConnection: close\r\n";
    if (route.mode != Body::kWithoutLength) {
      head += "Content-Length: " + std::to_string(route.body.size()) + "\r\n";
    }
    if (!route.location.empty()) head += "Location: " + route.location + "\r\n";
    head += "\r\n";
    std::size_t sent = route.mode == Body::kTruncated || route.mode == Body::kStalled
                           ? route.body.size() / 2
                           : route.body.size();
    if (SendAll(Native(connection), head.data(), head.size()) &&
        SendAll(Native(connection), route.body.data(), sent) && route.mode == Body::kStalled) {
      Stall();
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.erase(std::find(connections_.begin(), connections_.end(), connection));
  }
  // An orderly close: the client reads the end of the body, not a reset.
  shutdown(Native(connection), kShutSend);
  CloseSocket(Native(connection));
}

void TestHttpServer::Stall() {
  std::unique_lock<std::mutex> lock(mutex_);
  stopping_.wait(lock, [this] { return stopped_; });
}
