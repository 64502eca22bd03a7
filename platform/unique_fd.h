#pragma once

// The one owner of a descriptor: a POSIX file descriptor or socket, or a
// Windows socket carried as an int. The system's close function is a template
// argument, so this header needs no operating-system header and each user
// names the close it means:
//   UniqueFd (unique_fd_posix.h)                       POSIX descriptors
//   using ScopedFd = BasicUniqueFd<&CloseSocket>;      a socket layer's own

#include <utility>

template <auto Close>
class BasicUniqueFd final {
 public:
  BasicUniqueFd() = default;
  explicit BasicUniqueFd(int fd) : fd_(fd) {}
  ~BasicUniqueFd() { Reset(); }

  BasicUniqueFd(BasicUniqueFd&& other) noexcept : fd_(other.Release()) {}
  BasicUniqueFd& operator=(BasicUniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  BasicUniqueFd(const BasicUniqueFd&) = delete;
  BasicUniqueFd& operator=(const BasicUniqueFd&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }

  /// Gives up ownership without closing.
  int Release() { return std::exchange(fd_, -1); }

  /// Closes the current descriptor (if any) and takes `fd`.
  void Reset(int fd = -1) {
    if (fd_ >= 0) Close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};
