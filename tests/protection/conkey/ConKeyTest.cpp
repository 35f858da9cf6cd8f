#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "protection/ConKey.h"

using vg::TConnectionKeyList;
using vg::THttpEntry;
using vg::TKeyRecord;
using namespace std::chrono_literals;

namespace {

// A clock the test moves by hand; wall clock and monotonic clock can be moved apart.
class FakeClock : public vg::platform::Clock {
 public:
  vg::platform::LocalTime Local() const override { return local; }
  std::chrono::steady_clock::time_point Monotonic() const override { return tick; }
  void Advance(std::chrono::microseconds d) {
    tick += d;
    AdvanceWall(d);
  }
  // Moves only the wall clock (clock set, daylight-saving change), within one day.
  void AdvanceWall(std::chrono::microseconds d) {
    int64_t us = ((int64_t{local.hour} * 60 + local.minute) * 60 + local.second) * 1000000 + local.microsecond;
    us += d.count();
    local.hour = static_cast<int>(us / 3600000000);
    local.minute = static_cast<int>(us / 60000000 % 60);
    local.second = static_cast<int>(us / 1000000 % 60);
    local.microsecond = us % 1000000;
    local.millisecond = static_cast<int>(local.microsecond / 1000);
  }

  vg::platform::LocalTime local{2005, 3, 4, 12, 0, 0, 0, 0};
  std::chrono::steady_clock::time_point tick{std::chrono::hours(1000)};
};

THttpEntry Entry(std::string_view text) {
  THttpEntry e;
  e.Parse(text);
  return e;
}

TKeyRecord Record(uint32_t seed, uint32_t counter) {
  TKeyRecord r{};
  for (uint32_t i = 0; i < 7; ++i) r[i] = seed * 100 + i;
  r[7] = counter;
  return r;
}

}  // namespace

class ConnectionKeys : public ::testing::Test {
 protected:
  FakeClock clock;
  TConnectionKeyList keys{clock};
  const THttpEntry gate = Entry("gate.example:8443");
};

TEST_F(ConnectionKeys, FetchAdvancesTheCounterAndHandsOutACopy) {
  ASSERT_TRUE(keys.Add(gate, Record(1, 41), 65541));
  TKeyRecord got{};
  int32_t version = 0;
  ASSERT_TRUE(keys.Fetch(gate, version, got));
  EXPECT_EQ(version, 65541);
  TKeyRecord expected = Record(1, 42);
  EXPECT_EQ(got, expected);
  got[0] = 999;  // the caller's copy is its own
  ASSERT_TRUE(keys.Fetch(gate, version, got));
  expected[7] = 43;
  EXPECT_EQ(got, expected);
}

TEST_F(ConnectionKeys, IdleTimeOutOf432Seconds) {
  ASSERT_TRUE(keys.Add(gate, Record(1, 0), 1));
  TKeyRecord got{};
  int32_t version = 0;
  clock.Advance(431s);
  EXPECT_TRUE(keys.Fetch(gate, version, got));
  // The fetch restarted the idle time.
  clock.Advance(432s);
  EXPECT_TRUE(keys.Fetch(gate, version, got));
  clock.Advance(433s);
  got = Record(7, 5);
  EXPECT_FALSE(keys.Fetch(gate, version, got));
  EXPECT_EQ(got[7], 0u);
  EXPECT_EQ(keys.Count(), 0u);
}

TEST_F(ConnectionKeys, FetchOfAnUnknownLocationChangesOnlyWord7) {
  ASSERT_TRUE(keys.Add(gate, Record(1, 0), 1));
  TKeyRecord got = Record(9, 77);
  int32_t version = -5;
  EXPECT_FALSE(keys.Fetch(Entry("other.example:8443"), version, got));
  TKeyRecord expected = Record(9, 0);
  EXPECT_EQ(got, expected);
  EXPECT_EQ(version, -5);
}

TEST_F(ConnectionKeys, AddIsRefusedWhileALiveKeyExists) {
  ASSERT_TRUE(keys.Add(gate, Record(1, 10), 1));
  EXPECT_FALSE(keys.Add(Entry("GATE.Example:8443"), Record(2, 20), 2));
  TKeyRecord got{};
  int32_t version = 0;
  ASSERT_TRUE(keys.Fetch(gate, version, got));
  EXPECT_EQ(got[0], Record(1, 0)[0]);
  EXPECT_EQ(version, 1);

  clock.Advance(433s);
  EXPECT_TRUE(keys.Add(gate, Record(2, 20), 2));
  ASSERT_TRUE(keys.Fetch(gate, version, got));
  EXPECT_EQ(got, Record(2, 21));
  EXPECT_EQ(version, 2);
  EXPECT_EQ(keys.Count(), 1u);
}

TEST_F(ConnectionKeys, LocationsCompareHostsWithoutCaseAndPortsExactly) {
  ASSERT_TRUE(keys.Add(Entry("Gate.Example"), Record(1, 0), 1));
  ASSERT_TRUE(keys.Add(Entry("gate.example:81"), Record(2, 0), 2));
  TKeyRecord got{};
  int32_t version = 0;
  ASSERT_TRUE(keys.Fetch(Entry("gate.EXAMPLE:80"), version, got));
  EXPECT_EQ(version, 1);
  ASSERT_TRUE(keys.Fetch(Entry("gate.example:81"), version, got));
  EXPECT_EQ(version, 2);
  EXPECT_FALSE(keys.Fetch(Entry("gate.example:82"), version, got));
}

TEST_F(ConnectionKeys, RemoveAndClear) {
  ASSERT_TRUE(keys.Add(Entry("a"), Record(1, 0), 1));
  ASSERT_TRUE(keys.Add(Entry("b"), Record(2, 0), 2));
  ASSERT_TRUE(keys.Add(Entry("c"), Record(3, 0), 3));
  keys.Remove(Entry("B"));
  keys.Remove(Entry("unknown"));
  EXPECT_EQ(keys.Count(), 2u);
  TKeyRecord got{};
  int32_t version = 0;
  EXPECT_FALSE(keys.Fetch(Entry("b"), version, got));
  EXPECT_TRUE(keys.Fetch(Entry("a"), version, got));
  keys.Clear();
  EXPECT_EQ(keys.Count(), 0u);
  EXPECT_FALSE(keys.Fetch(Entry("a"), version, got));
}

TEST_F(ConnectionKeys, ExpiryIsLazyFromTheLastEntryBack) {
  ASSERT_TRUE(keys.Add(Entry("old1"), Record(1, 0), 1));
  ASSERT_TRUE(keys.Add(Entry("old2"), Record(2, 0), 2));
  clock.Advance(400s);
  ASSERT_TRUE(keys.Add(Entry("young"), Record(3, 0), 3));
  clock.Advance(100s);
  // Found at once: the expired entries before it are not looked at.
  EXPECT_NE(keys.Find(Entry("young")), nullptr);
  EXPECT_EQ(keys.Count(), 3u);
  // A lookup that walks past them frees them.
  EXPECT_EQ(keys.Find(Entry("nowhere")), nullptr);
  EXPECT_EQ(keys.Count(), 1u);
}

TEST_F(ConnectionKeys, SettingTheWallClockDoesNotMoveExpiry) {
  ASSERT_TRUE(keys.Add(gate, Record(1, 0), 1));
  TKeyRecord got{};
  int32_t version = 0;
  // Set back by an hour: the key still ends after its idle time.
  clock.AdvanceWall(-3600s);
  clock.Advance(433s);
  EXPECT_FALSE(keys.Fetch(gate, version, got));

  ASSERT_TRUE(keys.Add(gate, Record(2, 0), 2));
  // Set forward by an hour: the key lives on.
  clock.AdvanceWall(3600s);
  clock.Advance(10s);
  EXPECT_TRUE(keys.Fetch(gate, version, got));
  EXPECT_EQ(version, 2);
}

TEST_F(ConnectionKeys, CounterNeverWrapsToNoKey) {
  ASSERT_TRUE(keys.Add(gate, Record(1, 0xFFFFFFFEu), 1));
  TKeyRecord got{};
  int32_t version = 0;
  ASSERT_TRUE(keys.Fetch(gate, version, got));
  EXPECT_EQ(got[7], 0xFFFFFFFFu);
  ASSERT_TRUE(keys.Fetch(gate, version, got));
  EXPECT_EQ(got[7], 1u);
  ASSERT_TRUE(keys.Fetch(gate, version, got));
  EXPECT_EQ(got[7], 2u);
}

TEST_F(ConnectionKeys, LastUseFollowsTheLocalClock) {
  ASSERT_TRUE(keys.Add(gate, Record(1, 0), 1));
  {
    auto lock = keys.Lock();
    const auto* key = keys.Find(gate);
    ASSERT_NE(key, nullptr);
    EXPECT_DOUBLE_EQ(key->LastUse, vg::platform::ToDateTime(clock.local));
  }
  clock.Advance(60s);
  TKeyRecord got{};
  int32_t version = 0;
  ASSERT_TRUE(keys.Fetch(gate, version, got));
  auto lock = keys.Lock();
  EXPECT_DOUBLE_EQ(keys.Find(gate)->LastUse, vg::platform::ToDateTime(clock.local));
}

TEST_F(ConnectionKeys, ConcurrentFetchesHandOutDistinctCounters) {
  ASSERT_TRUE(keys.Add(gate, Record(1, 0), 1));
  constexpr int kThreads = 4, kEach = 2000;
  std::vector<std::vector<uint32_t>> seen(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        TKeyRecord got{};
        int32_t version = 0;
        if (keys.Fetch(gate, version, got)) seen[t].push_back(got[7]);
        if (i % 100 == 0) keys.Add(Entry("other"), Record(2, 0), 2);
      }
    });
  for (auto& th : threads) th.join();
  std::set<uint32_t> all;
  for (const auto& v : seen) all.insert(v.begin(), v.end());
  EXPECT_EQ(all.size(), size_t{kThreads * kEach});
  EXPECT_EQ(*all.rbegin(), uint32_t{kThreads * kEach});
}

TEST(KeyRecord, RequestRecordWords) {
  FakeClock clock;
  clock.local = {2005, 3, 4, 10, 20, 30, 0, 123456};
  const TConnectionKeyList keys(clock);
  const uint32_t startStamp = ((10 * 60 + 20) * 60 + 30) * 10000u + 1235;  // 123 456 us -> 1234.56 -> 1235
  EXPECT_EQ(keys.StartStamp(), startStamp);

  clock.local = {1899, 12, 30, 23, 59, 59, 999, 999950};
  TKeyRecord r;
  r.fill(0xAAAAAAAA);
  keys.MakeRequestRecord(r);
  EXPECT_EQ(r[0], 65541u);
  EXPECT_EQ(r[1], startStamp);
  EXPECT_EQ(r[3], 693594u);
  EXPECT_EQ(r[4], 864000000u);
  EXPECT_EQ(r[5], 0u);
  EXPECT_EQ(r[6], 0u);
  EXPECT_EQ(r[7], 0u);

  // The start stamp stays; word 2 differs from record to record.
  clock.local = {2024, 2, 29, 0, 0, 0, 0, 0};
  TKeyRecord second;
  keys.MakeRequestRecord(second);
  EXPECT_EQ(second[1], startStamp);
  EXPECT_EQ(second[3], 738945u);
  EXPECT_EQ(second[4], 0u);
  TKeyRecord third;
  keys.MakeRequestRecord(third);
  EXPECT_NE(second[2], third[2]);
}

TEST(KeyRecord, TimeOfDayRoundsHalvesToEven) {
  const auto units = [](int64_t microsecond) {
    vg::platform::LocalTime t{2005, 1, 1, 0, 0, 1, 0, microsecond};
    return vg::TimeOfDayUnits(t) - 10000;
  };
  EXPECT_EQ(units(0), 0u);
  EXPECT_EQ(units(49), 0u);
  EXPECT_EQ(units(50), 0u);  // 0.5 -> 0
  EXPECT_EQ(units(51), 1u);
  EXPECT_EQ(units(150), 2u);  // 1.5 -> 2
  EXPECT_EQ(units(250), 2u);  // 2.5 -> 2
  EXPECT_EQ(units(350), 4u);  // 3.5 -> 4
  EXPECT_EQ(units(999999), 10000u);
}

TEST(KeyRecord, WireLayoutIsLittleEndianWords) {
  TKeyRecord r{};
  for (uint32_t i = 0; i < 8; ++i) r[i] = 0x01020304u * (i + 1);
  r[7] = 0xA1B2C3D4u;
  const auto bytes = vg::KeyRecordToBytes(r);
  EXPECT_EQ(bytes[0], 0x04);
  EXPECT_EQ(bytes[1], 0x03);
  EXPECT_EQ(bytes[2], 0x02);
  EXPECT_EQ(bytes[3], 0x01);
  EXPECT_EQ(bytes[4], 0x08);
  EXPECT_EQ(bytes[28], 0xD4);
  EXPECT_EQ(bytes[31], 0xA1);
  EXPECT_EQ(vg::KeyRecordFromBytes(bytes.data()), r);
}

TEST(KeyRecord, TheProcessStoreExistsFromTheStart) {
  auto& store = vg::ConnectionKeys();
  EXPECT_EQ(&store, &vg::ConnectionKeys());
  TKeyRecord a, b;
  store.MakeRequestRecord(a);
  store.MakeRequestRecord(b);
  EXPECT_EQ(a[1], b[1]);
  EXPECT_LE(a[4], 864000000u);
}
