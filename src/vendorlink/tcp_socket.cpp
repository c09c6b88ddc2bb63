#include "vendorlink/tcp_socket.h"

#include <utility>

namespace mvx {

TcpSocket::~TcpSocket() { Close(); }

TcpSocket::TcpSocket(TcpSocket&& other) noexcept
    : handle_(std::exchange(other.handle_, kNoSocket)), stop_(other.stop_) {}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, kNoSocket);
    stop_ = other.stop_;
  }
  return *this;
}

}  // namespace mvx
