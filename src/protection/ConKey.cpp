#include "protection/ConKey.h"

#include <random>

namespace vg {

TKeyRecordBytes KeyRecordToBytes(const TKeyRecord& record) {
  TKeyRecordBytes out{};
  for (size_t w = 0; w < record.size(); ++w)
    for (size_t b = 0; b < 4; ++b) out[w * 4 + b] = static_cast<uint8_t>(record[w] >> (8 * b));
  return out;
}

TKeyRecord KeyRecordFromBytes(const uint8_t* bytes32) {
  TKeyRecord record{};
  for (size_t w = 0; w < record.size(); ++w)
    for (size_t b = 0; b < 4; ++b) record[w] |= uint32_t{bytes32[w * 4 + b]} << (8 * b);
  return record;
}

uint32_t TimeOfDayUnits(const platform::LocalTime& t) {
  const int64_t micro = ((int64_t{t.hour} * 60 + t.minute) * 60 + t.second) * 1000000 + t.microsecond;
  int64_t units = micro / 100;
  const int64_t rest = micro % 100;
  if (rest > 50 || (rest == 50 && (units & 1))) ++units;
  return static_cast<uint32_t>(units);
}

namespace {
uint32_t RandomWord() {
  static std::mutex mutex;
  static std::random_device device;
  std::lock_guard<std::mutex> lock(mutex);
  return device();
}
}  // namespace

TConnectionKeyList::TConnectionKeyList(const platform::Clock& clock)
    : clock_(clock), startStamp_(TimeOfDayUnits(clock.Local())) {}

TConnectionKey* TConnectionKeyList::Find(const THttpEntry& location) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const auto now = clock_.Monotonic();
  for (size_t i = keys_.size(); i-- > 0;) {
    if (now - keys_[i]->LastUseTick > kKeyIdleTimeout) {
      keys_.erase(keys_.begin() + static_cast<std::ptrdiff_t>(i));
      continue;
    }
    if (keys_[i]->Location.SameAs(location)) return keys_[i].get();
  }
  return nullptr;
}

bool TConnectionKeyList::Add(const THttpEntry& location, const TKeyRecord& record, int32_t version) {
  const TKeyRecord copy = record;
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (Find(location)) return false;
  auto key = std::make_unique<TConnectionKey>();
  key->Location.Assign(location);
  key->Key = copy;
  key->LastUse = platform::ToDateTime(clock_.Local());
  key->LastUseTick = clock_.Monotonic();
  key->Version = version;
  keys_.push_back(std::move(key));
  return true;
}

bool TConnectionKeyList::Fetch(const THttpEntry& location, int32_t& version, TKeyRecord& record) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  TConnectionKey* key = Find(location);
  if (!key) {
    record[kKeyCounterWord] = 0;
    return false;
  }
  uint32_t& counter = key->Key[kKeyCounterWord];
  if (++counter == 0) counter = 1;
  key->LastUse = platform::ToDateTime(clock_.Local());
  key->LastUseTick = clock_.Monotonic();
  record = key->Key;
  version = key->Version;
  return true;
}

void TConnectionKeyList::Remove(const THttpEntry& location) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (TConnectionKey* key = Find(location))
    for (auto it = keys_.begin(); it != keys_.end(); ++it)
      if (it->get() == key) {
        keys_.erase(it);
        return;
      }
}

void TConnectionKeyList::Clear() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  keys_.clear();
}

size_t TConnectionKeyList::Count() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return keys_.size();
}

void TConnectionKeyList::MakeRequestRecord(TKeyRecord& record) const {
  const platform::LocalTime now = clock_.Local();
  record.fill(0);
  record[0] = kClientProtocolVersion;
  record[1] = startStamp_;
  record[2] = RandomWord();
  record[3] = static_cast<uint32_t>(platform::DayNumber(now.year, now.month, now.day));
  record[4] = TimeOfDayUnits(now);
  record[kKeyCounterWord] = 0;
}

TConnectionKeyList& ConnectionKeys() {
  static TConnectionKeyList list;
  return list;
}

namespace {
// Creates the store while the program starts, so that its start stamp is the program's.
[[maybe_unused]] TConnectionKeyList& startUp = ConnectionKeys();
}  // namespace

}  // namespace vg
