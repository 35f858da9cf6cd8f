#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "EmulationCodes.h"
#include "TestHub.h"
#include "support/Latch.h"

namespace chubtest {
namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 150;

// Every thread opens its engine at the same moment (the first of them loads the module), then
// all sign, verify, encrypt and decrypt on their own engine and on one shared engine at once.
TEST(Concurrency, ThreadsShareTheFirstLoadAndCallEnginesAtOnce) {
  ScratchDir dir;
  dir.Put(EmulationModule(), "lib" / ModuleFile("engmod01"));
  Hub hub(dir);
  std::atomic<CHEngineHandle> shared{nullptr};
  std::atomic<int> failures{0};
  test::Latch opened(kThreads), start(kThreads);

  auto worker = [&](int index) {
    const std::string uid = "user" + std::to_string(index);
    const char* type = index % 2 ? "Emulation/2.0" : "Emulation/1.0";
    opened.arrive_and_wait();
    CHEngineHandle own = hub->InitCryptoEngine(type);
    if (!own || hub->SetCryptoParamValue(own, emulation::kParamUID, uid.c_str()) != 0) {
      ++failures;
      start.count_down();
      if (own) hub->DoneCryptoEngine(own);
      return;
    }
    if (index == 0) {
      CHEngineHandle common = hub->InitCryptoEngine("Emulation/1.0");
      if (!common || hub->SetCryptoParamValue(common, emulation::kParamUID, "shared") != 0) ++failures;
      shared = common;
    }
    start.arrive_and_wait();
    CHEngineHandle common = shared.load();
    if (!common) return hub->DoneCryptoEngine(own);

    char signature[256], signer[64], data[512];
    for (int round = 0; round < kRounds; ++round) {
      CHEngineHandle engine = round % 2 ? common : own;
      const std::string message = uid + " says " + std::to_string(round);
      const int32_t length = static_cast<int32_t>(message.size());
      int32_t signatureLength = sizeof signature;
      if (hub->SignData(engine, message.data(), length, signature, &signatureLength, "") != 0 ||
          hub->VerifyData(own, message.data(), length, signature, signatureLength, signer) != 0 ||
          std::strcmp(signer, round % 2 ? "shared" : uid.c_str()) != 0) {
        ++failures;
        continue;
      }
      std::memcpy(data, message.data(), message.size());
      int32_t dataLength = length;
      char sender[64];
      if (hub->EncodeData(engine, data, &dataLength, round % 2 ? "shared" : uid.c_str()) != 0 ||
          hub->DecodeData(engine, data, &dataLength, sender) != 0 || dataLength != length ||
          std::memcmp(data, message.data(), message.size()) != 0) {
        ++failures;
      }
    }
    hub->DoneCryptoEngine(own);
  };

  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) threads.emplace_back(worker, i);
  for (auto& t : threads) t.join();
  if (CHEngineHandle common = shared.load()) hub->DoneCryptoEngine(common);
  EXPECT_EQ(failures.load(), 0);
}

// Many threads racing the first lookup of two names that share one module: one module
// instance serves them all, and every engine object is handed back.
TEST(Concurrency, FirstLoadOfASharedModuleFromManyThreads) {
  ScratchDir dir;
  dir.Put(MockModule("mock_full"), "lib" / ModuleFile("engmod07"));
  Hub hub(dir);
  test::Latch start(kThreads);
  std::vector<std::string> where(kThreads);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      for (int round = 0; round < 20; ++round) {
        CHEngineHandle e = hub->InitCryptoEngine(i % 2 ? "Ms Crypto API 2.0" : "CryptoPro CSP/1.1");
        if (!e || hub->GetCryptoEngineStatus("CryptoPro CSP/1.1") != 1 || hub->AddSign(e, 1, 2, 3) != 321) {
          ++failures;
        } else {
          where[static_cast<size_t>(i)] = Field(Report(hub, e), "where");
        }
        hub->DoneCryptoEngine(e);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  for (const auto& w : where) EXPECT_EQ(Normal(w), Normal(hub.Directory() / ModuleFile("engmod07")));
  CHEngineHandle last = hub->InitCryptoEngine("Ms Crypto API 2.0");
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(Field(Report(hub, last), "live"), "1");
  hub->DoneCryptoEngine(last);
}

// Setting the root while other threads search for modules: the search sees the root's
// directories either not yet or completely, and the module under the root is found afterwards.
TEST(Concurrency, RootSetWhileOtherThreadsSearch) {
  SearchPathGuard guard;
  ScratchDir dir;
  dir.Put(MockModule("mock_full"), "root/SYSTEM" / ModuleFile("engmod12"));
  Hub hub(dir);
  test::Latch start(kThreads + 1);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&] {
      start.arrive_and_wait();
      for (int round = 0; round < 50; ++round) {
        if (CHEngineHandle e = hub->InitCryptoEngine("Validata Crypto Engine")) hub->DoneCryptoEngine(e);
        hub->GetCryptoEngineStatus("Crypto-C");
      }
    });
  }
  start.arrive_and_wait();
  hub->SetDllRoot((dir.Path() / "root").string().c_str());
  for (auto& t : threads) t.join();
  EXPECT_EQ(hub->GetCryptoEngineStatus("Validata Crypto Engine"), 1);
}

}  // namespace
}  // namespace chubtest
