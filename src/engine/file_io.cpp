#include "engine/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

namespace tarnwick {
namespace {

std::string reason(int error) { return std::strerror(error); }

}  // namespace

FileError cannotOpen(const std::string& path, const std::string& why) {
  return FileError("Cannot open file \"" + path + "\". " + why);
}

FileError cannotCreate(const std::string& path, const std::string& why) {
  return FileError("Cannot create file \"" + path + "\". " + why);
}

InputFile::InputFile(const std::string& path) : path_(path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) throw cannotOpen(path, reason(errno));
  struct stat info {};
  if (::fstat(fd_, &info) != 0 || S_ISDIR(info.st_mode)) {
    const int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
    ::close(fd_);
    fd_ = -1;
    throw cannotOpen(path, reason(error));
  }
  size_ = static_cast<std::int64_t>(info.st_size);
#ifdef POSIX_FADV_SEQUENTIAL
  ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
}

InputFile::InputFile(InputFile&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)), size_(other.size_),
      position_(other.position_) {}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    close();
    path_ = std::move(other.path_);
    fd_ = std::exchange(other.fd_, -1);
    size_ = other.size_;
    position_ = other.position_;
  }
  return *this;
}

InputFile::~InputFile() { close(); }

std::size_t InputFile::read(std::uint8_t* buffer, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = ::read(fd_, buffer + done, count - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw FileError("Cannot read file \"" + path_ + "\". " + reason(errno));
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  position_ += static_cast<std::int64_t>(done);
  return done;
}

void InputFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

OutputFile::OutputFile(const std::string& path) : path_(path), buffer_(new std::uint8_t[kBufferSize]) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd_ < 0) throw cannotCreate(path, reason(errno));
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)), buffer_(std::move(other.buffer_)),
      used_(std::exchange(other.used_, 0)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    path_ = std::move(other.path_);
    fd_ = std::exchange(other.fd_, -1);
    buffer_ = std::move(other.buffer_);
    used_ = std::exchange(other.used_, 0);
  }
  return *this;
}

OutputFile::~OutputFile() {
  if (fd_ < 0) return;
  try {
    flush();
  } catch (...) {
    // Destruction only happens on an error path that already reports.
  }
  ::close(fd_);
}

void OutputFile::writeThrough(const std::uint8_t* data, std::size_t count) {
  while (count > 0) {
    const ssize_t put = ::write(fd_, data, count);
    if (put < 0) {
      if (errno == EINTR) continue;
      throw FileError("Stream write error \"" + path_ + "\". " + reason(errno));
    }
    data += put;
    count -= static_cast<std::size_t>(put);
  }
}

void OutputFile::write(const std::uint8_t* data, std::size_t count) {
  if (used_ + count > kBufferSize) {
    flush();
    if (count >= kBufferSize) {
      writeThrough(data, count);
      return;
    }
  }
  std::memcpy(buffer_.get() + used_, data, count);
  used_ += count;
}

void OutputFile::flush() {
  if (used_ == 0) return;
  const std::size_t n = used_;
  used_ = 0;  // a failed flush is not retried: the error ends the run
  writeThrough(buffer_.get(), n);
}

void OutputFile::close() {
  if (fd_ < 0) return;
  const int fd = fd_;
  try {
    flush();
  } catch (...) {
    ::close(fd);
    fd_ = -1;
    throw;
  }
  fd_ = -1;
  if (::close(fd) != 0) throw FileError("Stream write error \"" + path_ + "\". " + reason(errno));
}

bool sameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error) && !error;
}

bool fileExists(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

}  // namespace tarnwick
