// A one-file HTTP server for the few answers the simulator cannot give (a
// failed status whose body still carries a GroupWise code, a 302 redirect):
// it answers each connection with the next canned response and closes it,
// and keeps every request's head and body.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace transport_test {

class CannedServer {
 public:
  struct Request {
    std::string head;  // request line and headers
    std::string body;
  };

  explicit CannedServer(std::vector<std::string> responses) : responses_(std::move(responses)) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        listen(listener_, 8) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
      return;
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }

  ~CannedServer() {
    stopping_ = true;
    if (listener_ >= 0) shutdown(listener_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) close(listener_);
  }

  int port() const { return port_; }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

  std::vector<Request> requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

  // A whole HTTP/1.1 response with a body and a closed connection.
  static std::string Response(int status, const std::string &reason, const std::string &body,
                              const std::string &extraHeaders = "") {
    return "HTTP/1.1 " + std::to_string(status) + " " + reason +
           "\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n" + extraHeaders + "\r\n" + body;
  }

 private:
  void Serve() {
    for (size_t next = 0; next < responses_.size() && !stopping_; ++next) {
      int conn = accept(listener_, nullptr, nullptr);
      if (conn < 0) return;
      Request request = ReadRequest(conn);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
      }
      const std::string &answer = responses_[next];
      size_t sent = 0;
      while (sent < answer.size()) {
        ssize_t n = send(conn, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
      }
      close(conn);
    }
  }

  static Request ReadRequest(int conn) {
    std::string data;
    char buf[4096];
    size_t headEnd = std::string::npos;
    size_t need = 0;
    for (;;) {
      if (headEnd != std::string::npos && data.size() >= headEnd + 4 + need) break;
      ssize_t n = recv(conn, buf, sizeof buf, 0);
      if (n <= 0) break;
      data.append(buf, static_cast<size_t>(n));
      if (headEnd == std::string::npos) {
        headEnd = data.find("\r\n\r\n");
        if (headEnd != std::string::npos) need = ContentLength(data.substr(0, headEnd));
      }
    }
    Request request;
    if (headEnd == std::string::npos) {
      request.head = data;
    } else {
      request.head = data.substr(0, headEnd);
      request.body = data.substr(headEnd + 4);
    }
    return request;
  }

  static size_t ContentLength(const std::string &head) {
    std::string lower;
    for (char c : head) lower += static_cast<char>(tolower(static_cast<unsigned char>(c)));
    size_t at = lower.find("\r\ncontent-length:");
    if (at == std::string::npos) return 0;
    return static_cast<size_t>(strtoul(head.c_str() + at + 17, nullptr, 10));
  }

  std::vector<std::string> responses_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<Request> requests_;
};

}  // namespace transport_test
