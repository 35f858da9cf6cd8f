#pragma once
// Strict shape checks of the CMS structures the engine accepts. CMS authenticates the content
// and the signed attributes but not every field around them (versions, content types, algorithm
// parameters, the letter case of names); a message whose unauthenticated fields were altered
// still decrypts or verifies with libcrypto alone. These checks refuse anything but the one
// canonical form, so that every modified byte is detected.
#include <cstddef>
#include <cstdint>
#include <string>

namespace engmod10 {

// Empty when data is a DER AuthEnvelopedData of the expected profile (AES-256-GCM, 12-byte
// nonce, 16-byte tag, certificate recipients, no unauthenticated attributes); else why not.
std::string AuthEnvelopedProblem(const uint8_t* data, size_t length);

// Empty when data is a DER detached SignedData with one signer, SHA-256, consistent versions,
// no CRLs and no unsigned attributes; else why not.
std::string SignedDataProblem(const uint8_t* data, size_t length);

}  // namespace engmod10
