#pragma once
// Byte streams the compressor reads from and writes to: in memory (owned or borrowed bytes)
// and files.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>

namespace vg {

class TStream {
 public:
  virtual ~TStream() = default;
  // Reads up to count bytes at the current position; fewer only at the end of the stream.
  // Returns the number read, or -1 on a read error.
  virtual int64_t Read(void* buffer, size_t count) = 0;
  // Writes count bytes at the current position; returns how many were written.
  virtual size_t Write(const void* buffer, size_t count) = 0;
  // The current position and the total size; -1 when the stream cannot tell.
  virtual int64_t Position() const = 0;
  virtual int64_t Size() const = 0;
  virtual bool Seek(int64_t position) = 0;
};

// A stream over bytes it owns; writes overwrite or extend them at the current position.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string data) : data_(std::move(data)) {}

  const std::string& Data() const { return data_; }
  // Hands the bytes over and leaves the stream empty at position 0.
  std::string TakeData();
  void Reserve(size_t bytes) { data_.reserve(bytes); }
  void Clear();

  int64_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;
  int64_t Position() const override { return static_cast<int64_t>(pos_); }
  int64_t Size() const override { return static_cast<int64_t>(data_.size()); }
  bool Seek(int64_t position) override;

 private:
  std::string data_;
  size_t pos_ = 0;
};

// A read-only stream over bytes the caller keeps alive; nothing is copied.
class TBytesStream : public TStream {
 public:
  explicit TBytesStream(std::string_view bytes) : bytes_(bytes) {}
  explicit TBytesStream(const char* text) : bytes_(text) {}
  // The bytes must outlive the stream, which a temporary does not.
  explicit TBytesStream(std::string&&) = delete;

  int64_t Read(void* buffer, size_t count) override;
  size_t Write(const void*, size_t) override { return 0; }
  int64_t Position() const override { return static_cast<int64_t>(pos_); }
  int64_t Size() const override { return static_cast<int64_t>(bytes_.size()); }
  bool Seek(int64_t position) override;

 private:
  std::string_view bytes_;
  size_t pos_ = 0;
};

// A file opened for reading, or created (truncated) for writing.
class TFileStream : public TStream {
 public:
  enum class OpenMode { Read, Create };
  TFileStream(const std::string& path, OpenMode mode);

  bool IsOpen() const { return file_.is_open(); }
  // Pushes buffered bytes to the file; false when that failed.
  bool Flush();

  int64_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;
  int64_t Position() const override;
  int64_t Size() const override;
  bool Seek(int64_t position) override;

 private:
  mutable std::filebuf file_;
  bool writable_;
};

}  // namespace vg
