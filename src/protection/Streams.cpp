#include "protection/Streams.h"

#include <cstring>

namespace vg {

std::string TMemoryStream::TakeData() {
  std::string out = std::move(data_);
  data_.clear();
  pos_ = 0;
  return out;
}

void TMemoryStream::Clear() {
  data_.clear();
  pos_ = 0;
}

int64_t TMemoryStream::Read(void* buffer, size_t count) {
  const size_t n = pos_ < data_.size() ? std::min(count, data_.size() - pos_) : 0;
  if (n) std::memcpy(buffer, data_.data() + pos_, n);
  pos_ += n;
  return static_cast<int64_t>(n);
}

size_t TMemoryStream::Write(const void* buffer, size_t count) {
  if (count == 0) return 0;
  if (pos_ == data_.size()) {
    data_.append(static_cast<const char*>(buffer), count);
  } else {
    if (pos_ + count > data_.size()) data_.resize(pos_ + count);
    std::memcpy(data_.data() + pos_, buffer, count);
  }
  pos_ += count;
  return count;
}

bool TMemoryStream::Seek(int64_t position) {
  if (position < 0) return false;
  // Seeking past the end and writing there leaves zero bytes in the gap.
  if (static_cast<uint64_t>(position) > data_.size()) data_.resize(static_cast<size_t>(position));
  pos_ = static_cast<size_t>(position);
  return true;
}

int64_t TBytesStream::Read(void* buffer, size_t count) {
  const size_t n = pos_ < bytes_.size() ? std::min(count, bytes_.size() - pos_) : 0;
  if (n) std::memcpy(buffer, bytes_.data() + pos_, n);
  pos_ += n;
  return static_cast<int64_t>(n);
}

bool TBytesStream::Seek(int64_t position) {
  if (position < 0 || static_cast<uint64_t>(position) > bytes_.size()) return false;
  pos_ = static_cast<size_t>(position);
  return true;
}

TFileStream::TFileStream(const std::string& path, OpenMode mode) : writable_(mode == OpenMode::Create) {
  const auto flags = writable_ ? std::ios::out | std::ios::trunc | std::ios::binary
                               : std::ios::in | std::ios::binary;
  file_.open(path, flags);
}

bool TFileStream::Flush() { return IsOpen() && file_.pubsync() == 0; }

int64_t TFileStream::Read(void* buffer, size_t count) {
  if (!IsOpen() || writable_) return -1;
  size_t done = 0;
  while (done < count) {
    const std::streamsize n =
        file_.sgetn(static_cast<char*>(buffer) + done, static_cast<std::streamsize>(count - done));
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

size_t TFileStream::Write(const void* buffer, size_t count) {
  if (!IsOpen() || !writable_) return 0;
  const std::streamsize n = file_.sputn(static_cast<const char*>(buffer), static_cast<std::streamsize>(count));
  return n > 0 ? static_cast<size_t>(n) : 0;
}

int64_t TFileStream::Position() const {
  if (!IsOpen()) return -1;
  const auto which = writable_ ? std::ios::out : std::ios::in;
  return static_cast<int64_t>(file_.pubseekoff(0, std::ios::cur, which));
}

int64_t TFileStream::Size() const {
  if (!IsOpen()) return -1;
  const auto which = writable_ ? std::ios::out : std::ios::in;
  const auto here = file_.pubseekoff(0, std::ios::cur, which);
  if (here == std::streampos(-1)) return -1;
  const auto end = file_.pubseekoff(0, std::ios::end, which);
  file_.pubseekpos(here, which);
  return static_cast<int64_t>(end);
}

bool TFileStream::Seek(int64_t position) {
  if (!IsOpen() || position < 0) return false;
  const auto which = writable_ ? std::ios::out : std::ios::in;
  return file_.pubseekpos(position, which) != std::streampos(-1);
}

}  // namespace vg
