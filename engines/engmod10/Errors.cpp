#include "Errors.h"

#include <openssl/err.h>

#include <array>

#include "Cp1251.h"

namespace engmod10 {
namespace {

// Written readable here; converted once to the product's code page.
constexpr const char* kTextsUtf8[kLastErrorCode + 1] = {
    "",
    "Функция не поддерживается криптографией OpenSSL",
    "Неверный аргумент вызова функции криптографии",
    "Недостаточный размер буфера для результата",
    "Неизвестный номер параметра криптографии",
    "Не задан файл собственного сертификата",
    "Ошибка чтения файла сертификата или ключа",
    "Файл не содержит правильного сертификата",
    "Файл не содержит правильного секретного ключа",
    "Секретный ключ не соответствует собственному сертификату",
    "Ввод пароля секретного ключа отменен",
    "Неверный пароль секретного ключа",
    "Не задан сертификат удостоверяющего центра",
    "Сертификат с указанным UID не найден",
    "Не задан UID получателя по умолчанию",
    "Ошибка формирования подписи",
    "Неверный формат подписи",
    "Подпись отсутствует",
    "Подпись неверна: данные или подпись изменены",
    "Сертификат не заверен доверенным удостоверяющим центром",
    "Срок действия сертификата истек",
    "Срок действия сертификата еще не наступил",
    "Сертификат не предназначен для этой операции",
    "Ошибка шифрования данных",
    "Неверный формат зашифрованных данных",
    "Данные зашифрованы не для этого получателя",
    "Зашифрованные данные повреждены или изменены",
    "Подпись от имени другого пользователя невозможна",
    "Ошибка чтения каталога сертификатов абонентов",
    "Внутренняя ошибка криптографии OpenSSL",
};

const std::array<std::string, kLastErrorCode + 1>& Texts() {
  static const std::array<std::string, kLastErrorCode + 1> texts = [] {
    std::array<std::string, kLastErrorCode + 1> t;
    for (int i = 0; i <= kLastErrorCode; ++i) t[i] = Utf8ToCp1251(kTextsUtf8[i]);
    return t;
  }();
  return texts;
}

}  // namespace

const std::string& ErrorText(int32_t code) {
  const auto& texts = Texts();
  if (code <= 0 || code > kLastErrorCode) return texts[0];
  return texts[code];
}

std::string TakeOpenSslErrors() {
  std::string text;
  unsigned long e;
  while ((e = ERR_get_error()) != 0) {
    char buffer[256];
    ERR_error_string_n(e, buffer, sizeof buffer);
    if (!text.empty()) text += "; ";
    text += buffer;
  }
  return text;
}

void ThrowOpenSsl(ErrorCode code, const std::string& detail) {
  const std::string ssl = TakeOpenSslErrors();
  throw EngineError(code, ssl.empty() ? detail : detail + ": " + ssl);
}

}  // namespace engmod10
