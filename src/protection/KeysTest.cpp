#include "protection/KeysTest.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

#include "config/fLogMngr.h"
#include "platform/Files.h"
#include "platform/ProgramInfo.h"
#include "platform/SysUtils.h"
#include "protection/CipherhubLib.h"
#include "protection/PasswF.h"
#include "protection/ProtSrvr.h"
#include "protection/TMReq.h"

namespace vg {
namespace {

const std::string kRulerEq(65, '=');
const std::string kRulerMinus(65, '-');
const std::string kRulerPlus(65, '+');
constexpr const char* kListMark = "ABONENTSLIST:";

// The engine of the last run stays open until the next run starts or the process ends, as one
// process-wide handle.
std::mutex gHandleMutex;
CHEngineHandle gHandle = nullptr;

void ReleaseTestHandle() {
  CHEngineHandle handle;
  {
    std::lock_guard<std::mutex> guard(gHandleMutex);
    handle = gHandle;
    gHandle = nullptr;
  }
  if (handle != nullptr) chlib::DoneCryptoEngine(handle);
}

CHEngineHandle TestHandle() {
  std::lock_guard<std::mutex> guard(gHandleMutex);
  return gHandle;
}

std::string Text(const std::vector<char>& buffer) { return std::string(buffer.data()); }

// A buffer of at least size bytes, zero-filled, that always holds a terminating NUL.
std::vector<char> Buffer(int32_t size) { return std::vector<char>(static_cast<size_t>(std::max(size, 0)) + 1, '\0'); }

// Lines as a string list reads them: CR LF or LF ends a line, a final line end adds nothing.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    size_t cut = end;
    if (cut > start && text[cut - 1] == '\r') --cut;
    lines.push_back(text.substr(start, cut - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace

// The hourglass for the duration of one engine call.
class TKeysTest::Busy {
 public:
  explicit Busy(IKeysTestView& view) : view_(view) { view_.Busy(true); }
  ~Busy() { view_.Busy(false); }
  Busy(const Busy&) = delete;
  Busy& operator=(const Busy&) = delete;

 private:
  IKeysTestView& view_;
};

std::string TKeysTest::TestText() { return VGT("Для тестирования ключей"); }

std::string TKeysTest::DefaultReportPath(const std::string& logDirectory) {
  std::string dir = logDirectory;
  if (dir.empty() || !platform::CreateDirectories(dir)) dir = platform::TempDirectory();
  return platform::JoinPath(dir, "KeysTest.log");
}

TKeysTest::TKeysTest(IKeysTestView& view, const platform::Clock& clock)
    : view_(view), clock_(clock), rootPath_(TProtectedServer::CryptoRootPath()) {}

TKeysTest::~TKeysTest() = default;

void TKeysTest::Line(const std::string& text) { log_->WriteLine(text); }

void TKeysTest::LinePlus(const std::string& text) {
  Line(text);
  Empty();
}

void TKeysTest::Empty() { Line(""); }

void TKeysTest::Status(const std::string& text, int position) {
  view_.Status(text, position);
  if (errors_ > 0) view_.ErrorCount(errors_);
}

void TKeysTest::StatusStep(const std::string& text) {
  view_.StatusStep(text);
  if (errors_ > 0) view_.ErrorCount(errors_);
}

std::string TKeysTest::ErrorText(int32_t code) {
  ++errors_;
  const CHEngineHandle handle = TestHandle();
  std::vector<char> buffer = Buffer(chlib::GetMaxErrorStringLength(handle));
  chlib::GetCryptoErrorString(handle, code, buffer.data());
  return Text(buffer);
}

int TKeysTest::Run(const TCryptoParams& params, const std::string& reportPath, bool extended) {
  errors_ = 0;
  completed_ = false;
  uid_.clear();
  subscribers_.clear();
  text_ = TestText();

  // The new report grows beside the old one, which it replaces only at the end.
  const std::string scratch = reportPath + ".new";
  platform::RemoveFile(scratch);
  {
    platform::File probe;
    if (platform::OpenExclusiveWriter(scratch, true, probe) != platform::OpenStatus::Ok) {
      ++errors_;
      view_.Message(Format(VGT("Не удалось открыть файл \"%s\" для записи: %s"),
                           {reportPath, platform::LastErrorText()}));
      return errors_;
    }
  }
  log_ = std::make_unique<TTimedLog>(scratch, "");
  log_->Open();
  view_.ProgressRange(100);

  try {
    Line(kRulerEq);
    Line(VGT("        ТЕСТ  КЛЮЧЕЙ  КРИПТОЗАЩИТЫ"));
    Line("        " + TLogManager::StampText(clock_.Local()));
    LinePlus(kRulerEq);
    completed_ = MainTest(params, extended);
  } catch (const std::exception& error) {
    // A report that cannot be written, or a crypto library that cannot be loaded.
    ++errors_;
    view_.Message(error.what());
  }
  Ending();

  log_->Close();
  log_.reset();
  if (!platform::ReplaceFile(scratch, reportPath)) {
    ++errors_;
    view_.Message(Format(VGT("Не удалось открыть файл \"%s\" для записи: %s"), {reportPath, platform::LastErrorText()}));
  }
  if (pause_)
    pause_();
  else
    std::this_thread::sleep_for(std::chrono::seconds(1));
  return errors_;
}

bool TKeysTest::MainTest(const TCryptoParams& params, bool extended) {
  Line(VGT("1. Инициализация CryptoEngine ..."));
  Line(VGT("   Тип криптографии : ") + params.EngineType());
  Status(VGT("Инициализация CryptoEngine ..."), 10);
  ReleaseTestHandle();
  CHEngineHandle handle = nullptr;
  {
    Busy busy(view_);
    handle = chlib::InitCryptoEngine(params.EngineType().c_str());
  }
  if (handle == nullptr) {
    Line(VGT("ОШИБКА в InitCryptoEngine !"));
    ++errors_;
    view_.Message(VGT("ОШИБКА в InitCryptoEngine !"));
    return false;
  }
  {
    std::lock_guard<std::mutex> guard(gHandleMutex);
    gHandle = handle;
  }
  // The engine may ask for a password or the key medium during any of the calls below.
  chlib::SetPasswordRequestFunc(handle, &PasswordRequestFunc);
  chlib::SetTMRequestFunc(handle, &TMRequestFunc);
  LinePlus(VGT("   ... OK!"));

  Line(VGT("2. Установка криптопараметров ..."));
  Status(VGT("Установка криптопараметров ..."), 20);
  for (int i = 0; i < params.Count(); ++i) {
    const std::string& value = params.ParamValue(i);
    const int32_t number = params.ParamIndex(i) + 1;
    int32_t code;
    {
      Busy busy(view_);
      code = chlib::SetCryptoParamValue(handle, number, value.c_str());
    }
    if (code != 0) {
      Line(VGT("ОШИБКА в SetCryptoParamValue ! : ") + value);
      ++errors_;
      view_.Message(VGT("ОШИБКА в SetCryptoParamValue ! : ") + value + VGT("\r\n Тестирование не возможно!"));
      return false;
    }
    Line("     " + std::to_string(number) + " : " + value);
  }
  LinePlus(VGT("   ... Криптопараметры установлены."));

  Line(VGT("3. Запрос GetCurrentUserUID ..."));
  Status(VGT("Запрос GetCurrentUserUID ..."), 30);
  chlib::SetRootPath(handle, rootPath_.c_str());
  {
    std::vector<char> uid = Buffer(chlib::GetMaxUIDLength(handle));
    int32_t code;
    {
      Busy busy(view_);
      code = chlib::GetCurrentUserUID(handle, uid.data());
    }
    if (code != 0) {
      Line(VGT("ОШИБКА в GetCurrentUserUID : ") + ErrorText(code));
      return false;
    }
    uid_ = Text(uid);
  }
  LinePlus(VGT("   ... CurrentUserUID : ") + uid_);

  bool extendedAllowed = false;
  if (extended) {
    extendedAllowed = ExtensionCheck();
    Line(kRulerMinus);
    LinePlus(VGT("        ОСНОВНОЙ  ТЕСТ"));
  }

  const int32_t length = static_cast<int32_t>(text_.size());
  Line(VGT("4. Подпись тестовых данных ..."));
  Status(VGT("Подпись тестовых данных ..."), 50);
  std::vector<char> signature = Buffer(chlib::GetMaxSignatureLength(handle));
  int32_t signatureLength = 0;
  int32_t code;
  {
    Busy busy(view_);
    code = chlib::SignData(handle, text_.data(), length, signature.data(), &signatureLength, uid_.c_str());
  }
  const bool signedOk = code == 0;
  Line(signedOk ? VGT("   ... подпись : ошибок нет!") : VGT("ОШИБКА в SignData : ") + ErrorText(code));
  Empty();

  if (!signedOk) {
    Line(VGT("5. !!! Из-за ошибки подписи проверка подписи не производилась !"));
  } else {
    Line(VGT("5. Проверка подписи ..."));
    Status(VGT("Проверка подписи ..."), 60);
    std::vector<char> signer = Buffer(chlib::GetMaxUIDLength(handle));
    {
      Busy busy(view_);
      code = chlib::VerifyData(handle, text_.data(), length, signature.data(), signatureLength, signer.data());
    }
    Line(code == 0 ? VGT("   ... проверка подписи : ошибок нет!") : VGT("ОШИБКА в VerifyData : ") + ErrorText(code));
  }
  signature.clear();
  Empty();

  Line(VGT("6. Шифрование тестовых данных (на собственный UID) ..."));
  Line(VGT("   шифруется строка : \"") + text_ + "\"");
  Status(VGT("Шифрование тестовых данных (на собственный UID)..."), 70);
  // Room for the overhead, the text and its NUL.
  std::vector<char> data = Buffer(chlib::GetMaxEncodeAddition(handle) + length + 1);
  std::copy(text_.begin(), text_.end(), data.begin());
  int32_t dataLength = length + 1;
  {
    Busy busy(view_);
    code = chlib::EncodeData(handle, data.data(), &dataLength, uid_.c_str());
  }
  const bool encodedOk = code == 0;
  Line(encodedOk ? VGT("   ... шифрование : ошибок нет!") : VGT("ОШИБКА в EncodeData : ") + ErrorText(code));
  Empty();

  if (!encodedOk) {
    Line(VGT("7. !!! Из-за ошибки шифрования проверка шифрования не производилась !"));
  } else {
    Line(VGT("7. Проверка шифрования ..."));
    Status(VGT("Проверка шифрования ..."), 80);
    std::vector<char> sender = Buffer(chlib::GetMaxUIDLength(handle));
    {
      Busy busy(view_);
      code = chlib::DecodeData(handle, data.data(), &dataLength, sender.data());
    }
    if (code != 0) {
      Line(VGT("ОШИБКА в DecodeData : ") + ErrorText(code));
    } else {
      const size_t shown = static_cast<size_t>(std::clamp<int32_t>(dataLength, 0, static_cast<int32_t>(data.size())));
      Line(VGT("   результат расшифровки : \"") + std::string(data.data(), strnlen(data.data(), shown)) + "\"");
      Line(VGT("   ... проверка шифрования : ошибок нет!"));
    }
  }
  data.clear();
  Empty();

  Line(VGT("8. Шифрование тестовых данных (без UID) ..."));
  Line(VGT("   шифруется строка : \"") + text_ + "\"");
  Status(VGT("Шифрование тестовых данных (без UID)..."), 90);
  EncodeStep(nullptr);
  Empty();

  if (extendedAllowed) ExtendedTest();

  Line(kRulerPlus);
  Line(VGT("        ТЕСТ  ЗАВЕРШЕН "));
  Line(kRulerPlus);
  Status(VGT("Тест завершен !"), 0);
  return true;
}

// Encrypts the test text for recipient (the configured partner when null) and logs the result.
void TKeysTest::EncodeStep(const char* recipient) {
  const CHEngineHandle handle = TestHandle();
  const int32_t length = static_cast<int32_t>(text_.size());
  std::vector<char> data = Buffer(chlib::GetMaxEncodeAddition(handle) + length + 1);
  std::copy(text_.begin(), text_.end(), data.begin());
  int32_t dataLength = length + 1;
  int32_t code;
  {
    Busy busy(view_);
    code = chlib::EncodeData(handle, data.data(), &dataLength, recipient);
  }
  if (recipient == nullptr)
    Line(code == 0 ? VGT("   ... шифрование : ошибок нет!") : VGT("ОШИБКА в EncodeData : ") + ErrorText(code));
  else
    Line(code == 0 ? VGT("   ... ошибок нет!") : VGT("ОШИБКА в EncodeData : ") + ErrorText(code));
}

bool TKeysTest::ExtensionCheck() {
  const CHEngineHandle handle = TestHandle();
  Line(kRulerMinus);
  Line(VGT("        Проверка возможности расширенного тестирования"));
  try {
    reportSize_ = chlib::GetMaxReportSize(handle);
    if (reportSize_ < 1)
      throw Failure{VGT("Результат вызова GetMaxReportSize : MaxReportSize = ") + std::to_string(reportSize_)};
    std::vector<char> report;
    try {
      report = Buffer(reportSize_);
    } catch (const std::bad_alloc&) {
      throw Failure{VGT("Не хватает памяти для буфера функции GetReport : требуется ") + std::to_string(reportSize_) +
                    VGT(" байт.")};
    }
    Line(VGT("   Вызов GetReport ..."));
    Status(VGT("Запрос GetReport ..."), 40);
    int32_t code;
    {
      Busy busy(view_);
      code = chlib::GetReport(handle, nullptr, report.data());
    }
    if (code != 0) throw Failure{VGT("Результат вызова GetReport : ") + ErrorText(code)};
    const std::string text = Text(report);
    if (text.rfind(kListMark, 0) != 0)
      throw Failure{VGT("Результат вызова GetReport : в буфере Report отсутствует \"ABONENTSLIST:\" на первой позиции.")};
    subscribers_ = SplitLines(text.substr(std::char_traits<char>::length(kListMark)));
    Line(VGT("   ... Проверка результата вызова GetReport : формат буфера корректен."));
    Line(VGT("       Составлен список UID абонентов. Количество абонентских UID : ") +
         std::to_string(subscribers_.size()));
    Line(VGT("       Расширенный тест разрешен !"));
    Empty();
    return true;
  } catch (const Failure& failure) {
    Line(VGT(" !!! Расширенный тест не возможен !!!"));
    Line(VGT("     Причина : ") + failure.message);
    return false;
  }
}

void TKeysTest::ExtendedTest() {
  const CHEngineHandle handle = TestHandle();
  Line(kRulerMinus);
  LinePlus(VGT("        РАСШИРЕННЫЙ  ТЕСТ"));
  Status(VGT("РАСШИРЕННЫЙ  ТЕСТ"), 0);
  view_.BreakEnabled(true);
  try {
    std::vector<char> report = Buffer(reportSize_);
    LinePlus(VGT("============ Открытый ключ/сертификат владельца ключей ==========="));
    Line(VGT("   Вызов GetReport (UID=") + uid_ + ") ...");
    int32_t code;
    {
      Busy busy(view_);
      code = chlib::GetReport(handle, uid_.c_str(), report.data());
    }
    if (code != 0) throw Failure{VGT("Ошибка : результат вызова GetReport : ") + ErrorText(code)};
    Line(VGT("  отчет по собственному ключу :"));
    Line("\r\n" + Text(report));
    Line(kRulerEq);

    const std::string count = std::to_string(subscribers_.size());
    LinePlus(VGT("Список абонентов :          (количество записей - ") + count + ").");
    std::set<std::string> seen;
    view_.ProgressRange(static_cast<int>(subscribers_.size()));
    for (size_t i = 0; i < subscribers_.size(); ++i) {
      const std::string& uid = subscribers_[i];
      const std::string n = std::to_string(i + 1);
      if (view_.BreakRequested()) throw Failure{VGT("   ... ТЕСТ ПРЕРВАН ПОЛЬЗОВАТЕЛЕМ.")};
      Line(VGT("--- N ") + n + " UID = " + uid + " -------------------------------------");
      StatusStep(Format(VGT("Абонент N %s (из %s)"), {n, count}));
      if (!seen.insert(uid).second) Line(VGT("   !!! Дубликат : UID с таким именем уже обрабатывался."));
      if (uid == uid_) {
        Line(VGT("   ... этот UID уже проверен."));
        continue;
      }
      std::fill(report.begin(), report.end(), '\0');
      {
        Busy busy(view_);
        code = chlib::GetReport(handle, uid.c_str(), report.data());
      }
      if (code != 0) throw Failure{VGT("Ошибка : результат вызова GetReport : ") + ErrorText(code)};
      Line(VGT("  отчет по ключу :"));
      Line("\r\n" + Text(report));
      Line(VGT(" Проверка ключа ..."));
      EncodeStep(uid.c_str());
      Empty();
      view_.ProcessEvents();
    }
  } catch (const Failure& failure) {
    Line(VGT(" !!! Расширенный тест ПРЕРВАН !!!"));
    Line(VGT("     Причина : ") + failure.message);
  }
  view_.BreakEnabled(false);
}

void TKeysTest::Ending() {
  ReleaseTestHandle();
  subscribers_.clear();
}

}  // namespace vg
