#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <set>

#include "TestHub.h"
#include "cipherhub/CryptoCollections.h"

namespace vg::cipherhub {
namespace {

using chubtest::IsLoaded;
using chubtest::MockModule;
using chubtest::ModuleFile;
using chubtest::ScratchDir;
namespace fs = std::filesystem;

TEST(EngineTable, EnumerationAndLookupAreSeparateFixedOrders) {
  EXPECT_STREQ(EnumeratedEngineType(1), "Emulation/1.0");
  EXPECT_STREQ(EnumeratedEngineType(8), "CryptoPro CSP/1.1");
  EXPECT_STREQ(EnumeratedEngineType(10), "M-Pro v2.x");
  EXPECT_STREQ(EnumeratedEngineType(20), "LirSSL");
  EXPECT_EQ(EnumeratedEngineType(0), nullptr);
  EXPECT_EQ(EnumeratedEngineType(21), nullptr);
  EXPECT_EQ(EnumeratedEngineType(-1), nullptr);

  std::set<std::string> enumerated, known;
  for (int i = 1; i <= kEngineTypeCount; ++i) enumerated.insert(EnumeratedEngineType(i));
  for (const auto& row : kEngineTypeTable) known.insert(row.Name);
  EXPECT_EQ(enumerated, known);
}

TEST(EngineTable, NamesMatchExactly) {
  ASSERT_NE(FindEngineType("OpenSSL"), nullptr);
  EXPECT_STREQ(FindEngineType("OpenSSL")->ModuleFile, "engmod10.dll");
  EXPECT_EQ(FindEngineType("openssl"), nullptr);
  EXPECT_EQ(FindEngineType("OpenSSL "), nullptr);
  EXPECT_EQ(FindEngineType(""), nullptr);
  EXPECT_EQ(FindEngineType(nullptr), nullptr);
  EXPECT_EQ(FindEngineType("Ms Crypto API 2.0")->Slot, FindEngineType("CryptoPro CSP/1.1")->Slot);
  EXPECT_EQ(FindEngineType("Emulation/1.0")->Slot, FindEngineType("Emulation/2.0")->Slot);
  std::set<int> slots;
  for (const auto& row : kEngineTypeTable) slots.insert(row.Slot);
  EXPECT_EQ(slots.size(), static_cast<size_t>(kSlotCount));
}

TEST(EngineTable, SixtyEightRequiredEntriesOfSeventyNine) {
  int required = 0;
  for (const auto& entry : kEntries) required += entry.Required ? 1 : 0;
  EXPECT_EQ(required, kRequiredEntryCount);
  EXPECT_EQ(kEntryCount, 79);
  EXPECT_STREQ(kEntries[kIncludeCRL].Name, "IncludeCRL");
  EXPECT_STREQ(kEntries[kCheckCompatibles].Name, "CheckCompatibles");
  EXPECT_FALSE(kEntries[kGetCryptoEngineType].Required);
}

// A collection whose "program directory" is a scratch directory the test fills.
class CollectionsTest : public ::testing::Test {
 protected:
  CollectionsTest() : root_((dir_.Path() / "prog").string()) {}
  // `stem` names the module as the engine table does, without the system's file suffix.
  void Install(const std::string& mock, const std::string& stem) {
    dir_.Put(MockModule(mock), "prog" / ModuleFile(stem));
  }
  fs::path Installed(const std::string& stem) const { return dir_.Path() / "prog" / ModuleFile(stem); }

  ScratchDir dir_;
  std::recursive_mutex lock_;
  TRootPath root_;
  std::unique_ptr<TCryptoCollections> collections_ = std::make_unique<TCryptoCollections>(lock_, root_);
};

TEST_F(CollectionsTest, TwoNamesOfOneSlotShareOneModule) {
  Install("mock_full", "engmod07");
  TEngineFunctionTable a, b;
  ASSERT_TRUE(collections_->Lookup("Ms Crypto API 2.0", a));
  ASSERT_TRUE(collections_->Lookup("CryptoPro CSP/1.1", b));
  EXPECT_EQ(a.Entries, b.Entries);
  EXPECT_NE(a.Entries[kHashData], nullptr);
  EXPECT_TRUE(IsLoaded(Installed("engmod07")));
}

TEST_F(CollectionsTest, MissingModuleIsTriedAgainAndFoundOnceInstalled) {
  TEngineFunctionTable table;
  EXPECT_FALSE(collections_->Lookup("OpenSSL", table));
  EXPECT_EQ(collections_->Status("OpenSSL"), 0);
  Install("mock_full", "engmod10");
  EXPECT_TRUE(collections_->Lookup("OpenSSL", table));
  EXPECT_EQ(collections_->Status("OpenSSL"), 1);
}

TEST_F(CollectionsTest, ModuleLackingARequiredEntryStaysLoadedButUnavailable) {
  Install("mock_nocrl", "engmod02");
  TEngineFunctionTable table;
  EXPECT_FALSE(collections_->Lookup("Paragon/4.0", table));
  EXPECT_NE(table.Entries[kSignData], nullptr) << "the copy still shows what the module offers";
  EXPECT_EQ(table.Entries[kIncludeCRL], nullptr);
  EXPECT_EQ(collections_->Status("Paragon/4.0"), 0);
  EXPECT_TRUE(IsLoaded(Installed("engmod02")));
}

TEST_F(CollectionsTest, ModuleWithoutOptionalEntriesIsComplete) {
  Install("mock_minimal", "engmod03");
  TEngineFunctionTable table;
  ASSERT_TRUE(collections_->Lookup("LAN Crypto/2.35", table));
  EXPECT_EQ(table.Entries[kGetCryptoEngineType], nullptr);
  for (int i = kHashData; i < kEntryCount; ++i) EXPECT_EQ(table.Entries[static_cast<size_t>(i)], nullptr);
}

TEST_F(CollectionsTest, DestructionUnloadsEveryModule) {
  Install("mock_full", "engmod01");
  Install("mock_nocrl", "engmod09");
  TEngineFunctionTable table;
  ASSERT_TRUE(collections_->Lookup("Emulation/2.0", table));
  ASSERT_FALSE(collections_->Lookup("Stone Shield", table));
  ASSERT_TRUE(IsLoaded(Installed("engmod01")));
  collections_.reset();
  EXPECT_FALSE(IsLoaded(Installed("engmod01")));
  EXPECT_FALSE(IsLoaded(Installed("engmod09")));
}

TEST_F(CollectionsTest, ReleaseHandsTheObjectToDoneEngine) {
  Install("mock_full", "engmod01");
  TEngineFunctionTable table;
  ASSERT_TRUE(collections_->Lookup("Emulation/1.0", table));
  CHEngineObject object = Entry<kGetCryptObj>(table)("Emulation/1.0");
  ASSERT_NE(object, nullptr);
  collections_->Release(object, "Emulation/1.0");  // a leak of the mock's engine shows under the sanitizer
  collections_->Release(nullptr, "Emulation/1.0");
}

}  // namespace
}  // namespace vg::cipherhub
