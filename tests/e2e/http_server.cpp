#include "tests/e2e/http_server.h"

#ifdef _WIN32
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <wincrypt.h>
// clang-format on
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/spawn.h"
#endif

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>

namespace {

// A client that stops reading without hanging up (Wine's library may keep an abandoned connection
// open) holds its answering thread, and the server's end, no longer than this.
#ifdef _WIN32
constexpr DWORD kSendWait = 10000;
using AddressLength = int;
constexpr int kShutBoth = SD_BOTH;
constexpr int kShutSend = SD_SEND;
constexpr int kSendFlags = 0;
const auto CloseSocket = closesocket;
#else
constexpr timeval kSendWait{10, 0};
using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = -1;
using AddressLength = socklen_t;
constexpr int kShutBoth = SHUT_RDWR;
constexpr int kShutSend = SHUT_WR;
// A client that hangs up early must not end the test program.
constexpr int kSendFlags = MSG_NOSIGNAL;
const auto CloseSocket = close;
#endif

SOCKET Native(std::uintptr_t socket) {
  return static_cast<SOCKET>(socket);
}

// The loopback address at `port` (0: any free one).
sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
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

#if defined(_WIN32) && defined(SORVEL_TEST_PKI)
// The machine's Root store takes the test authority (in the test's own Wine prefix), so that
// the platform's HTTPS client trusts the trusted front as it trusts a real server.
bool TrustTestAuthority() {
  std::ifstream in("Z:" SORVEL_TEST_PKI "/ca.pem", std::ios::binary);
  const std::string pem(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>{});
  BYTE der[16384];
  DWORD size = sizeof der;
  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  bool added = store != nullptr &&
               CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()),
                                    CRYPT_STRING_BASE64HEADER, der, &size, nullptr, nullptr) &&
               CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der, size,
                                                CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  if (store != nullptr) CertCloseStore(store, 0);
  return added;
}
#endif

#if defined(SORVEL_TEST_PKI) && defined(SORVEL_TLS_FRONT)
// With `port` 0, a port on the loopback address that nobody listens on just now; else `port`
// when someone listens there. 0 when not.
int LoopbackPort(int port) {
  SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (probe == INVALID_SOCKET) return 0;
  sockaddr_in address = Loopback(port);
  AddressLength size = sizeof address;
  auto* at = reinterpret_cast<sockaddr*>(&address);
  bool ok = port == 0 ? bind(probe, at, size) == 0 && getsockname(probe, at, &size) == 0
                      : connect(probe, at, size) == 0;
  CloseSocket(probe);
  return ok ? ntohs(address.sin_port) : 0;
}
#endif

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
  sockaddr_in address = Loopback(0);
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
#else
  // Each front ends once its tie to the server is closed.
  for (long long pid : fronts_) waitpid(static_cast<pid_t>(pid), nullptr, 0);
#endif
}

void TestHttpServer::Serve(const std::string& path, Route route) {
  std::lock_guard<std::mutex> lock(mutex_);
  routes_[path] = std::move(route);
}

bool TestHttpServer::HasTestCertificates() {
#if defined(SORVEL_TEST_PKI) && defined(SORVEL_TLS_FRONT)
  return true;
#else
  return false;
#endif
}

bool TestHttpServer::StartTls(Certificate certificate) {
#if defined(SORVEL_TEST_PKI) && defined(SORVEL_TLS_FRONT)
  if (!Ok()) return false;
  const std::string pki = SORVEL_TEST_PKI;
  const std::string name = certificate == Certificate::kTrusted ? "server" : "rogue";
  const int port = LoopbackPort(0);
  if (port == 0) return false;
  // The front holds this request open as its tie to the server.
  Serve("/.front", Reply(200, "", Body::kStalled));
  std::vector<std::string> arguments = {SORVEL_TLS_FRONT, std::to_string(port),
                                        std::to_string(port_), pki + "/" + name + ".pem",
                                        pki + "/" + name + ".key"};
#ifdef _WIN32
  if (certificate == Certificate::kTrusted && !TrustTestAuthority()) return false;
  // Under Wine a Unix program starts as any other, but its starter gets no handle to it.
  std::wstring line;
  for (const std::string& argument : arguments) {
    line += L"\"" + std::wstring(argument.begin(), argument.end()) + L"\" ";
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return false;
  }
  CloseHandle(process.hThread);  // null where Wine gives none
  CloseHandle(process.hProcess);
#else
  pid_t pid = sorvel::test::Spawn(arguments);
  if (pid == 0) return false;
  fronts_.push_back(pid);
#endif
  for (int tries = 0; tries < 200 && LoopbackPort(port) == 0; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  if (LoopbackPort(port) == 0) return false;
  securePorts_[static_cast<int>(certificate)] = port;
  return true;
#else
  (void)certificate;
  return false;
#endif
}

std::wstring TestHttpServer::SecureUrl(const std::string& path, Certificate certificate) const {
  return L"https://localhost:" + std::to_wstring(securePorts_[static_cast<int>(certificate)]) +
         std::wstring(path.begin(), path.end());
}

std::wstring TestHttpServer::Url(const std::string& path) const {
  return L"http://127.0.0.1:" + std::to_wstring(port_) + std::wstring(path.begin(), path.end());
}

int TestHttpServer::Requests(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = requests_.find(path);
  return it == requests_.end() ? 0 : it->second;
}

int TestHttpServer::Connections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connectionCount_;
}

void TestHttpServer::Accept() {
  while (Pause(0)) {
    // A short wait, so that the end is noticed without closing the socket under accept.
    fd_set ready;
    FD_ZERO(&ready);
    SOCKET listener = Native(listener_);
    FD_SET(listener, &ready);
    timeval wait{0, 50000};
    if (select(static_cast<int>(listener) + 1, &ready, nullptr, nullptr, &wait) <= 0) continue;
    SOCKET accepted = accept(listener, nullptr, nullptr);
    if (accepted == INVALID_SOCKET) continue;
    setsockopt(accepted, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&kSendWait),
               sizeof kSendWait);
    auto connection = static_cast<Socket>(accepted);
    std::lock_guard<std::mutex> lock(mutex_);
    ++connectionCount_;
    connections_.push_back(connection);
    answering_.emplace_back([this, connection] { Answer(connection); });
  }
}

void TestHttpServer::Answer(Socket connection) {
  std::string path = ReadRequestPath(Native(connection));
  if (!path.empty()) {
    Route route = Reply(404, "<html><body><h1>404 Not Found</h1></body></html>", Body::kWithLength,
                        "", "text/html");
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++requests_[path];
      auto it = routes_.find(path);
      if (it != routes_.end()) route = it->second;
    }
    std::string head = "HTTP/1.1 " + std::to_string(route.status) + " Status" +
                       "\r\nContent-Type: " + route.contentType + "\r\nConnection: close\r\n";
    if (route.mode != Body::kWithoutLength) {
      head += "Content-Length: " + std::to_string(route.body.size()) + "\r\n";
    }
    if (!route.location.empty()) head += "Location: " + route.location + "\r\n";
    head += "\r\n";
    std::size_t sent = route.mode == Body::kTruncated || route.mode == Body::kStalled
                           ? route.body.size() / 2
                           : route.body.size();
    if (!SendAll(Native(connection), head.data(), head.size())) {
      // The client went away.
    } else if (route.mode == Body::kTrickle) {
      for (char byte : route.body) {
        if (!SendAll(Native(connection), &byte, 1) || !Pause(50)) break;
      }
    } else if (SendAll(Native(connection), route.body.data(), sent) &&
               route.mode == Body::kStalled) {
      Pause(-1);
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

bool TestHttpServer::Pause(int milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto stopped = [this] { return stopped_; };
  if (milliseconds < 0) {
    stopping_.wait(lock, stopped);
    return false;
  }
  return !stopping_.wait_for(lock, std::chrono::milliseconds(milliseconds), stopped);
}
