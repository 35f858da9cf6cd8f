#pragma once
// Result codes and parameters of the emulation engine module (engmod01), for the programs
// and tests that drive it. 0 is success; every other code has a text in GetCryptoErrorString.
namespace emulation {

enum Code : int {
  kOk = 0,
  kBadArgument = 1,         // null pointer, negative length or a UID that is too long
  kBufferTooSmall = 2,      // the caller's output buffer cannot hold the result
  kUnknownParameter = 3,    // no parameter with this number
  kBadParameterValue = 4,   // the value is not acceptable for this parameter
  kValueTooLong = 5,        // the value does not fit GetMaxCryptoParamValueLength with its NUL
  kNoRecipient = 6,         // EncodeData without a recipient and with an empty "Partner"
  kNotRecipient = 7,        // DecodeData of data encrypted for another UID
  kNotEncrypted = 8,        // DecodeData of bytes the emulation did not produce
  kDataCorrupt = 9,         // DecodeData: the integrity check failed
  kNotSignature = 10,       // VerifyData of bytes that are no emulated signature
  kBadSignature = 11,       // VerifyData: the signature does not fit the data
  kUnknownSigner = 12,      // SignData for a signer other than the engine's own UID
  kNoPasswordFunction = 13, // "Password" is set but no password function is registered
  kPasswordCancelled = 14,  // the password function returned 0
  kWrongPassword = 15,      // the entered password differs from "Password"
  kNoKeyMediumFunction = 16,// "TouchMemory" is "1" but no key-medium function is registered
  kInjectedFailure = 17,    // the operation is named by parameter "Fail"
  kUnknownUID = 18,         // GetReport for a UID the engine does not know
  kNotSupported = 19,       // the emulation does not offer this operation
  kInternalError = 20,      // unexpected internal failure (for instance out of memory)
};

// Parameter numbers (GetCryptoParamName / SetCryptoParamValue count from 1).
enum Parameter : int {
  kParamUID = 1,
  kParamPartner = 2,
  kParamFail = 3,
  kParamPassword = 4,
  kParamTouchMemory = 5,
  kParamSubscribers = 6,
  kParamCount = 6,
};

}  // namespace emulation
