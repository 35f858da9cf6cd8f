#pragma once
// The process-wide store of session key records agreed with gateways, one per gateway location.
//
// A key record is 32 bytes: eight 32-bit words, little-endian on the wire, numbered 0 to 7.
// A record made for a "getkey" request (MakeRequestRecord) holds:
//   word 0  the client's protocol version, major * 65536 + minor (65541 for 1.5);
//   word 1  the start stamp: time of day, in 0.1 ms, at which this program run began;
//   word 2  a random value drawn for each record, so that two records of one run never coincide
//           even when they are made within the same 0.1 ms;
//   word 3  today's day number (1 January of the year 1 is day 1; 30 December 1899 is 693 594);
//   word 4  the time of day in 0.1 ms (0 to 864 000 000), read together with word 3;
//   words 5 and 6  the protected server's KeyValueA and KeyValueB, put in by the caller;
//   word 7  0.
// A gateway's answer record is stored as it came, apart from word 7, the use counter: every fetch
// adds 1 to it. The counter never reads 0 for a live key, as 0 means "no key": after 0xFFFFFFFF
// it goes on at 1. A gateway that checks the counter must therefore expect it to grow by one per
// request, modulo 2^32, skipping 0.
//
// A key lives until removed, cleared, or idle for more than 432 seconds; idle time is measured on
// the monotonic clock so that setting the wall clock neither keeps keys alive nor expires them.
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/Clock.h"
#include "sockets/fEntry.h"

namespace vg {

using TKeyRecord = std::array<uint32_t, 8>;
using TKeyRecordBytes = std::array<uint8_t, 32>;

constexpr size_t kKeyCounterWord = 7;
constexpr uint32_t kClientProtocolVersion = 65541;
// Idle time-out: 0.005 days.
constexpr std::chrono::seconds kKeyIdleTimeout{432};

// The record's 32 wire bytes (each word little-endian) and back.
TKeyRecordBytes KeyRecordToBytes(const TKeyRecord& record);
TKeyRecord KeyRecordFromBytes(const uint8_t* bytes32);

// A time of day in units of 0.1 ms, a half rounded to the even neighbour.
uint32_t TimeOfDayUnits(const platform::LocalTime& t);

class TConnectionKey {
 public:
  TKeyRecord Key{};
  // Local date-time (days since 30 December 1899) of storing or of the last fetch.
  double LastUse = 0;
  THttpEntry Location;
  int32_t Version = 0;
  // The same moment on the monotonic clock; expiry is judged by this one.
  std::chrono::steady_clock::time_point LastUseTick{};
};

class TConnectionKeyList {
 public:
  explicit TConnectionKeyList(const platform::Clock& clock = platform::Clock::System());
  TConnectionKeyList(const TConnectionKeyList&) = delete;
  TConnectionKeyList& operator=(const TConnectionKeyList&) = delete;

  // Stores a key for the location; false, with nothing changed, when a live one is there already.
  bool Add(const THttpEntry& location, const TKeyRecord& record, int32_t version);
  // The live key of the location with its counter advanced and its idle time restarted: true with
  // record and version filled. Otherwise false; record's word 7 becomes 0, nothing else changes.
  bool Fetch(const THttpEntry& location, int32_t& version, TKeyRecord& record);
  void Remove(const THttpEntry& location);
  void Clear();

  // The live key of the location, or null; expired keys met on the way from the last entry back
  // are freed. The pointer is valid only while the caller holds Lock().
  TConnectionKey* Find(const THttpEntry& location);
  // The list's lock; re-entrant for the thread that holds it.
  std::unique_lock<std::recursive_mutex> Lock() { return std::unique_lock<std::recursive_mutex>(mutex_); }
  size_t Count();

  // A fresh record for a "getkey" request (layout above); words 5 and 6 are left 0.
  void MakeRequestRecord(TKeyRecord& record) const;
  uint32_t StartStamp() const { return startStamp_; }

 private:
  const platform::Clock& clock_;
  uint32_t startStamp_;
  std::recursive_mutex mutex_;
  std::vector<std::unique_ptr<TConnectionKey>> keys_;
};

// The one store of the process; it exists from program start to program end.
TConnectionKeyList& ConnectionKeys();

}  // namespace vg
