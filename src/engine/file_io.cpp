#include "engine/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <filesystem>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include "engine/win32.h"
#endif

namespace tarnwick {
namespace {

std::string reason(int error) { return std::strerror(error); }

std::atomic<IoBufferObserver> ioBufferObserver{nullptr};

void observe(const void* buffer, std::size_t count) {
  if (const IoBufferObserver f = ioBufferObserver.load(std::memory_order_relaxed)) f(buffer, count);
}

#ifdef _WIN32
// Windows opens files by UTF-16 names; the program's paths are UTF-8.
std::wstring widePath(const std::string& path) {
  if (path.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), wide.data(), n);
  return wide;
}
#endif

}  // namespace

void setIoBufferObserver(IoBufferObserver observer) { ioBufferObserver.store(observer); }

FileError cannotOpen(const std::string& path, const std::string& why) {
  return FileError("Cannot open file \"" + path + "\". " + why);
}

FileError cannotCreate(const std::string& path, const std::string& why) {
  return FileError("Cannot create file \"" + path + "\". " + why);
}

FileError endedEarly(const std::string& path, std::int64_t at, const std::string& rest) {
  return FileError("Cannot read file \"" + path + "\". It ended after " + std::to_string(at) + " bytes" + rest);
}

#ifdef _WIN32
InputFile::InputFile(const std::string& path) : path_(path) {
  // Binary (no newline or Ctrl-Z handling), not inherited by child processes.
  fd_ = ::_wopen(widePath(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT | _O_SEQUENTIAL);
  if (fd_ < 0) throw cannotOpen(path, reason(errno));
  struct _stati64 info {};
  if (::_fstati64(fd_, &info) != 0 || (info.st_mode & _S_IFMT) == _S_IFDIR) {
    const int error = (info.st_mode & _S_IFMT) == _S_IFDIR ? EISDIR : errno;
    ::_close(fd_);
    fd_ = -1;
    throw cannotOpen(path, reason(error));
  }
  size_ = static_cast<std::int64_t>(info.st_size);
}
#else
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
#endif

InputFile::InputFile(const std::string& imagePath, const std::string& name, std::vector<FileExtent> extents)
    : InputFile(imagePath) {
  path_ = name;
  extents_ = std::move(extents);
  size_ = extents_.empty() ? 0 : extents_.back().logical + extents_.back().length;
  inMemory_ = extents_.empty();  // an empty file: nothing to read from the image
}

InputFile::InputFile(const std::string& name, std::string bytes)
    : path_(name), bytes_(std::move(bytes)), inMemory_(true), size_(static_cast<std::int64_t>(bytes_.size())) {}

InputFile::InputFile(InputFile&& other) noexcept
    : path_(std::move(other.path_)), extents_(std::move(other.extents_)), extent_(other.extent_),
      bytes_(std::move(other.bytes_)), inMemory_(other.inMemory_), fd_(std::exchange(other.fd_, -1)),
      size_(other.size_), position_(other.position_) {}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    close();
    path_ = std::move(other.path_);
    extents_ = std::move(other.extents_);
    extent_ = other.extent_;
    bytes_ = std::move(other.bytes_);
    inMemory_ = other.inMemory_;
    fd_ = std::exchange(other.fd_, -1);
    size_ = other.size_;
    position_ = other.position_;
  }
  return *this;
}

InputFile::~InputFile() { close(); }

InputFile::Span InputFile::span(std::int64_t offset) const {
  // A loose file is one piece, also past the size it had: a copy from there
  // finds the file's end itself and says that it shrank.
  if (extents_.empty() && !inMemory_) return {offset, std::numeric_limits<std::int64_t>::max() - offset};
  if (inMemory_ || offset >= size_ || offset < 0) return {offset, 0};
  // The extent that holds `offset`: the last one starting at or before it.
  const auto after = std::upper_bound(extents_.begin(), extents_.end(), offset,
                                      [](std::int64_t at, const FileExtent& e) { return at < e.logical; });
  const FileExtent& e = *std::prev(after);
  return {e.offset + (offset - e.logical), e.logical + e.length - offset};
}

std::size_t InputFile::readMapped(std::uint8_t* buffer, std::size_t count) {
  count = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(count), size_ - position_));
  if (inMemory_) {
    std::memcpy(buffer, bytes_.data() + position_, count);
    position_ += static_cast<std::int64_t>(count);
    return count;
  }
  std::size_t done = 0;
  while (done < count) {
    // Reads run forward: the extent of the last read, or one after it.
    if (extent_ >= extents_.size() || position_ < extents_[extent_].logical ||
        position_ >= extents_[extent_].logical + extents_[extent_].length) {
      const auto after = std::upper_bound(extents_.begin(), extents_.end(), position_,
                                          [](std::int64_t at, const FileExtent& e) { return at < e.logical; });
      extent_ = static_cast<std::size_t>(after - extents_.begin()) - 1;
    }
    const FileExtent& e = extents_[extent_];
    const std::size_t want =
        std::min(count - done, static_cast<std::size_t>(e.logical + e.length - position_));
    const std::int64_t at = e.offset + (position_ - e.logical);
    observe(buffer + done, want);
#ifdef _WIN32
    const ssize_t got = ::_lseeki64(fd_, at, SEEK_SET) < 0
                            ? -1
                            : ::_read(fd_, buffer + done, static_cast<unsigned>(std::min<std::size_t>(want, 1u << 30)));
#else
    const ssize_t got = ::pread(fd_, buffer + done, want, static_cast<off_t>(at));
#endif
    if (got < 0) {
      if (errno == EINTR) continue;
      throw FileError("Cannot read file \"" + path_ + "\". " + reason(errno));
    }
    if (got == 0) break;  // the image ends early: readChunk says so
    done += static_cast<std::size_t>(got);
    position_ += got;
  }
  return done;
}

std::size_t InputFile::read(std::uint8_t* buffer, std::size_t count) {
  if (inMemory_ || !extents_.empty()) return readMapped(buffer, count);
  std::size_t done = 0;
  while (done < count) {
    observe(buffer + done, count - done);
    const ssize_t got = ::read(fd_, buffer + done, count - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw FileError("Cannot read file \"" + path_ + "\". " + reason(errno));
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
    // A regular file read up to the size it had when it was opened ends the
    // chunk here: one more call would only find the end, from a buffer
    // address off the page.
    if (size_ > 0 && position_ + static_cast<std::int64_t>(done) >= size_) break;
  }
  position_ += static_cast<std::int64_t>(done);
  return done;
}

std::size_t InputFile::readChunk(std::uint8_t* buffer, std::size_t count) {
  const std::size_t got = read(buffer, count);
  if (got == 0 && position_ < size_)
    throw endedEarly(path_, position_, "; it had " + std::to_string(size_) + " when it was opened");
  return got;
}

void InputFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

// What the file's background writer shares with the thread that fills the
// buffers. It lives on the heap so that moving an OutputFile never moves it
// under the running writer.
struct OutputFile::Shared {
  // Full buffers waiting or being written; the filling thread waits for
  // room beyond this, which bounds the memory of an output to three buffers.
  static constexpr std::size_t kInFlight = 2;

  // Bytes to write, or, when copyFrom holds a descriptor, size bytes of that
  // file from copyOffset on for the kernel to copy.
  struct Block {
    AlignedBytes data;
    std::size_t size = 0;
    int copyFrom = -1;  // a duplicate the writer closes, so the input may close first
    std::int64_t copyOffset = 0;
    std::string copyPath;  // the input's, for its errors
    int copySource = -1;   // the input's own descriptor: which file the copy continues
  };

  Shared(std::string p, int f) : path(std::move(p)), fd(f) {}

  // Returns the error text, empty when everything was written.
  std::string writeAll(const std::uint8_t* data, std::size_t count) const {
    while (count > 0) {
      observe(data, count);
      const ssize_t put = ::write(fd, data, count);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return writeError(put < 0 ? errno : ENOSPC);
      data += put;
      count -= static_cast<std::size_t>(put);
    }
    return {};
  }

  // Returns holding the lock once the writer has room for one more block,
  // or an error to report.
  std::unique_lock<std::mutex> waitForRoom() {
    std::unique_lock lock(mutex);
    room.wait(lock, [this] { return queue.size() + (writing ? 1 : 0) < kInFlight || !error.empty(); });
    return lock;
  }

  void enqueue(Block block, std::unique_lock<std::mutex>& lock) {
    queue.push_back(std::move(block));
    lock.unlock();
    work.notify_one();
  }

  // Lengthens the copy waiting at the back of the queue when these bytes
  // follow it in the same input: one long copy instead of a hand-over per
  // chunk, each of which wakes the writer (costly on virtual machines).
  bool extendQueuedCopy(std::size_t count, const InputFile& source, std::int64_t offset) {
    std::lock_guard lock(mutex);
    if (queue.empty() || !error.empty()) return false;
    Block& last = queue.back();
    if (last.copyFrom < 0 || last.copySource != source.descriptor() || last.copyPath != source.path() ||
        last.copyOffset + static_cast<std::int64_t>(last.size) != offset)
      return false;
    last.size += count;
    return true;
  }

  std::string writeError(int error) const { return "Stream write error \"" + path + "\". " + reason(error); }

#ifdef _WIN32
  // Never reached: writeCopyOf queues no copies on Windows.
  std::string copy(const Block&) const { return writeError(ENOSYS); }
#else
  // The input shrank after its bytes were examined: what was there is gone,
  // and the output must not end short as if it were whole.
  static std::string inputEnded(const Block& block, off_t at) {
    return endedEarly(block.copyPath, at, ", while they were being copied").what();
  }

  // The kernel copies from the input's page cache to the output's; where it
  // refuses these two files, the bytes are read back and written.
  std::string copy(const Block& block) {
    auto from = static_cast<off_t>(block.copyOffset);
    std::size_t left = block.size;
    while (left > 0 && !kernelCopyRefused) {
      const ssize_t put = ::copy_file_range(block.copyFrom, &from, fd, nullptr, left, 0);
      if (put < 0 && errno == EINTR) continue;
      if (put < 0 && left == block.size &&
          (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == EBADF)) {
        kernelCopyRefused = true;
        break;
      }
      if (put == 0) return inputEnded(block, from);
      if (put < 0) return writeError(errno);
      left -= static_cast<std::size_t>(put);
    }
    if (left == 0) return {};
    const AlignedBytes bytes = allocateAligned(std::min(left, kBufferSize));
    while (left > 0) {
      observe(bytes.get(), std::min(left, kBufferSize));
      const ssize_t got = ::pread(block.copyFrom, bytes.get(), std::min(left, kBufferSize), from);
      if (got < 0 && errno == EINTR) continue;
      if (got == 0) return inputEnded(block, from);
      if (got < 0) return "Cannot read file \"" + block.copyPath + "\". " + reason(errno);
      if (std::string why = writeAll(bytes.get(), static_cast<std::size_t>(got)); !why.empty()) return why;
      from += got;
      left -= static_cast<std::size_t>(got);
    }
    return {};
  }
#endif

  void run() {
    std::unique_lock lock(mutex);
    for (;;) {
      work.wait(lock, [this] { return !queue.empty() || stop; });
      if (queue.empty()) return;
      Block block = std::move(queue.front());
      queue.pop_front();
      writing = true;
      // After an error the rest is dropped: the run ends with that error.
      const bool failed = !error.empty();
      lock.unlock();
      std::string why;
      if (!failed) why = block.copyFrom >= 0 ? copy(block) : writeAll(block.data.get(), block.size);
      if (block.copyFrom >= 0) ::close(block.copyFrom);
      lock.lock();
      if (!why.empty()) error = std::move(why);
      if (block.data) spare.push_back(std::move(block.data));
      writing = false;
      room.notify_all();
    }
  }

  const std::string path;
  int fd;
  std::thread writer;  // touched only by the filling thread
  std::mutex mutex;
  std::condition_variable work;  // to the writer: a block, or stop
  std::condition_variable room;  // to the filling thread: a block is done
  std::deque<Block> queue;
  std::vector<AlignedBytes> spare;
  std::string error;  // the first write error
  bool writing = false;
  bool stop = false;
  std::atomic<bool> kernelCopyRefused{false};
};

#ifdef _WIN32
OutputFile::OutputFile(const std::string& path) : path_(path), buffer_(allocateAligned(kBufferSize)) {
  const int fd = ::_wopen(widePath(path).c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                          _S_IREAD | _S_IWRITE);
  if (fd < 0) throw cannotCreate(path, reason(errno));
  shared_ = std::make_unique<Shared>(path, fd);
}
#else
OutputFile::OutputFile(const std::string& path) : path_(path), buffer_(allocateAligned(kBufferSize)) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) throw cannotCreate(path, reason(errno));
  shared_ = std::make_unique<Shared>(path, fd);
}
#endif

OutputFile::OutputFile(OutputFile&& other) noexcept
    : path_(std::move(other.path_)), shared_(std::move(other.shared_)), buffer_(std::move(other.buffer_)),
      used_(std::exchange(other.used_, 0)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    abandon();
    path_ = std::move(other.path_);
    shared_ = std::move(other.shared_);
    buffer_ = std::move(other.buffer_);
    used_ = std::exchange(other.used_, 0);
  }
  return *this;
}

OutputFile::~OutputFile() { abandon(); }

void OutputFile::abandon() noexcept {
  if (!shared_ || shared_->fd < 0) return;
  try {
    flush();
  } catch (...) {
    // Destruction only happens on an error path that already reports.
  }
  stopWriter();
  ::close(std::exchange(shared_->fd, -1));
}

void OutputFile::stopWriter() noexcept {
  Shared& s = *shared_;
  if (!s.writer.joinable()) return;
  {
    std::lock_guard lock(s.mutex);
    s.stop = true;
  }
  s.work.notify_one();
  s.writer.join();
}

void OutputFile::write(const std::uint8_t* data, std::size_t count) {
  while (count > 0) {
    if (used_ == kBufferSize) handOver();
    const std::size_t n = std::min(count, kBufferSize - used_);
    std::memcpy(buffer_.get() + used_, data, n);
    used_ += n;
    data += n;
    count -= n;
  }
}

bool OutputFile::startWriter() {
  Shared& s = *shared_;
  if (s.writer.joinable()) return true;
  try {
    s.writer = std::thread(&Shared::run, &s);
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

void OutputFile::handOver() {
  Shared& s = *shared_;
  if (!startWriter()) {
    // No thread to be had: write here, as a plain buffered file would.
    const std::size_t n = std::exchange(used_, 0);
    if (s.error.empty()) s.error = s.writeAll(buffer_.get(), n);
    if (!s.error.empty()) throw FileError(s.error);
    return;
  }
  auto lock = s.waitForRoom();
  if (!s.error.empty()) {
    used_ = 0;  // a failed write is not retried: the error ends the run
    throw FileError(s.error);
  }
  AlignedBytes next;
  if (!s.spare.empty()) {
    next = std::move(s.spare.back());
    s.spare.pop_back();
  } else {
    next = allocateAligned(kBufferSize);
  }
  s.enqueue({std::move(buffer_), std::exchange(used_, 0), -1, 0, {}, -1}, lock);
  buffer_ = std::move(next);
}

#ifdef _WIN32
// No copy between two files in the kernel here: the bytes go through the buffer.
void OutputFile::writeCopyOf(const std::uint8_t* data, std::size_t count, const InputFile&, std::int64_t) {
  write(data, count);
}
#else
void OutputFile::writeCopyOf(const std::uint8_t* data, std::size_t count, const InputFile& source,
                             std::int64_t offset) {
  // Piece by piece of the source's own file: a file inside an image lies in
  // extents, each copied from where it is in the image.
  while (count > 0) {
    const InputFile::Span span = source.span(offset);
    if (span.length <= 0) return write(data, count);
    const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(count), span.length));
    copyRun(data, n, source, span.offset);
    data += n;
    count -= n;
    offset += static_cast<std::int64_t>(n);
  }
}

void OutputFile::copyRun(const std::uint8_t* data, std::size_t count, const InputFile& source, std::int64_t offset) {
  if (count == 0) return;
  Shared& s = *shared_;
  if (s.kernelCopyRefused) return write(data, count);
  // The copy is queued behind what is buffered, so that the bytes keep their
  // order while the caller reads on; the writer owns a duplicate of the input.
  if (used_ == 0 && s.extendQueuedCopy(count, source, offset)) return;
  const int from = ::fcntl(source.descriptor(), F_DUPFD_CLOEXEC, 0);
  if (from < 0) return write(data, count);
  if (used_ > 0) handOver();
  if (!startWriter()) {
    ::close(from);
    return write(data, count);
  }
  auto lock = s.waitForRoom();
  if (!s.error.empty()) {
    ::close(from);
    throw FileError(s.error);
  }
  s.enqueue({nullptr, count, from, offset, source.path(), source.descriptor()}, lock);
}
#endif

void OutputFile::flush() {
  if (!shared_ || shared_->fd < 0) return;
  Shared& s = *shared_;
  if (!s.writer.joinable()) {
    // Nothing was handed over yet: a small output is written here.
    if (!s.error.empty()) throw FileError(s.error);
    const std::size_t n = std::exchange(used_, 0);
    if (n > 0) s.error = s.writeAll(buffer_.get(), n);
    if (!s.error.empty()) throw FileError(s.error);
    return;
  }
  if (used_ > 0) handOver();
  std::unique_lock lock(s.mutex);
  s.room.wait(lock, [&s] { return s.queue.empty() && !s.writing; });
  if (!s.error.empty()) throw FileError(s.error);
}

void OutputFile::close() {
  if (!shared_ || shared_->fd < 0) return;
  std::exception_ptr failure;
  try {
    flush();
  } catch (...) {
    failure = std::current_exception();
  }
  stopWriter();
  const int fd = std::exchange(shared_->fd, -1);
  const int closed = ::close(fd);
  const int closeError = errno;
  if (failure) std::rethrow_exception(failure);
  if (closed != 0) throw FileError("Stream write error \"" + path_ + "\". " + reason(closeError));
}

std::filesystem::path pathFromUtf8(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string utf8FromPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

#ifdef _WIN32
// The volume and the file index name one file, whatever the case, the
// separators or the link that lead to it.
bool sameFile(const std::string& a, const std::string& b) {
  const auto identify = [](const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
    const HANDLE h = ::CreateFileW(widePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool known = ::GetFileInformationByHandle(h, &info) != 0;
    ::CloseHandle(h);
    return known;
  };
  BY_HANDLE_FILE_INFORMATION x{};
  BY_HANDLE_FILE_INFORMATION y{};
  return identify(a, x) && identify(b, y) && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
         x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}
#else
bool sameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error) && !error;
}
#endif

bool fileExists(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(pathFromUtf8(path), error);
}

}  // namespace tarnwick
