#pragma once
// The file layer: a read-only input with a 64-bit size and position, and a
// buffered output that is created or truncated. Errors are FileError
// exceptions carrying the texts the user sees.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/aligned_bytes.h"

namespace tarnwick {

class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "Cannot open file "PATH". REASON"
FileError cannotOpen(const std::string& path, const std::string& reason);
// "Cannot create file "PATH". REASON"
FileError cannotCreate(const std::string& path, const std::string& reason);
// "Cannot read file "PATH". It ended after AT bytes" and what follows: an
// input that is shorter than what was read of it before.
FileError endedEarly(const std::string& path, std::int64_t at, const std::string& rest);

// A run of a file that lies in one piece inside another (a disc image):
// `length` bytes from `logical` in the file are at `offset` in the image.
struct FileExtent {
  std::int64_t logical = 0;
  std::int64_t offset = 0;
  std::int64_t length = 0;
};

class InputFile {
 public:
  explicit InputFile(const std::string& path);
  // A file inside a disc image: its extents (in order, end to end from
  // logical 0, summing to its size) are read from the image at `imagePath`;
  // `name` is what messages show and what path() returns.
  InputFile(const std::string& imagePath, const std::string& name, std::vector<FileExtent> extents);
  // A file whose few bytes are already in memory (stored inside its entry on
  // the disc); there is nothing to copy from in the kernel.
  InputFile(const std::string& name, std::string bytes);
  InputFile(InputFile&& other) noexcept;
  InputFile& operator=(InputFile&& other) noexcept;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  const std::string& path() const { return path_; }
  std::int64_t size() const { return size_; }
  std::int64_t position() const { return position_; }
  // Reads up to count bytes; returns how many were read (0 only at the end).
  std::size_t read(std::uint8_t* buffer, std::size_t count);
  // As read(), before the size the file had when it was opened: a file that
  // has shrunk since ends the run with a FileError rather than letting it
  // end short as if it were whole.
  std::size_t readChunk(std::uint8_t* buffer, std::size_t count);
  void close();
  // The open file's descriptor, for kernel copies out of it: -1 for bytes in memory.
  int descriptor() const { return fd_; }
  // Where the byte at logical `offset` is in the file of descriptor(), and
  // how many bytes from there lie in one piece (0 past the end of a file in
  // an image, and for bytes in memory). A loose file is one piece.
  struct Span {
    std::int64_t offset = 0;
    std::int64_t length = 0;
  };
  Span span(std::int64_t offset) const;

 private:
  std::size_t readMapped(std::uint8_t* buffer, std::size_t count);

  std::string path_;
  std::vector<FileExtent> extents_;  // empty: the file itself
  std::size_t extent_ = 0;           // where the last read ended
  std::string bytes_;
  bool inMemory_ = false;
  int fd_ = -1;
  std::int64_t size_ = 0;
  std::int64_t position_ = 0;
};

// Output goes through a 512 KiB buffer. Full buffers are written by a
// background thread of the file, started by the first full buffer, so that
// the kernel's copy into the page cache overlaps the scan. A write error is
// reported by the next write that hands over a buffer, or by flush/close.
class OutputFile {
 public:
  static constexpr std::size_t kBufferSize = 1 << 19;

  explicit OutputFile(const std::string& path);
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // Writes what is buffered and closes without reporting errors; call
  // close() to see them.
  ~OutputFile();

  const std::string& path() const { return path_; }
  void write(const std::uint8_t* data, std::size_t count);
  // Appends count bytes that are also the bytes of `source` from `offset`
  // on: the background writer has the kernel copy them from that file
  // (copy_file_range), without a pass through this buffer, while the caller
  // goes on. Where the kernel refuses, the writer reads them back from the
  // file, and later calls write `data` as by write(). The source may be
  // closed before this file is.
  // A source inside a disc image is copied extent by extent from the image.
  void writeCopyOf(const std::uint8_t* data, std::size_t count, const InputFile& source, std::int64_t offset);
  // Returns once everything written so far is in the file.
  void flush();
  // Flushes and closes; throws FileError on a write or close failure.
  void close();

 private:
  struct Shared;

  void handOver();
  void copyRun(const std::uint8_t* data, std::size_t count, const InputFile& source, std::int64_t at);
  bool startWriter();
  void stopWriter() noexcept;
  void abandon() noexcept;

  std::string path_;
  std::unique_ptr<Shared> shared_;
  AlignedBytes buffer_;
  std::size_t used_ = 0;
};

// Called with the buffer of every read and write the file layer makes,
// before the call, from whichever thread makes it: lets a test hold them to
// kIoAlignment. None is set in the program.
using IoBufferObserver = void (*)(const void* buffer, std::size_t count);
void setIoBufferObserver(IoBufferObserver observer);

// A std::filesystem path from the program's UTF-8 text, and back. (A plain
// std::string would be read in the ANSI code page on Windows.)
std::filesystem::path pathFromUtf8(const std::string& utf8);
std::string utf8FromPath(const std::filesystem::path& path);

// True when both paths name the same existing file.
bool sameFile(const std::string& a, const std::string& b);
bool fileExists(const std::string& path);

}  // namespace tarnwick
