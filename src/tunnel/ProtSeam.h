#pragma once
// The few things routing and the error page need from protected server records and protected
// messages, in one place for the builds that have them and the builds that do not yet.
#include <string>

#include "tunnel/SecureSeam.h"
#include "tunnel/fEntry.h"

#if __has_include("protection/ProtSrvr.h")
#include "protection/ProtSrvr.h"
#define VG_HAVE_PROTECTED_SERVERS 1
#else
#define VG_HAVE_PROTECTED_SERVERS 0
namespace vg {
// Without protected server records no target is ever a protected server.
class TProtectedServer {};
}  // namespace vg
#endif

namespace vg {

#if VG_HAVE_PROTECTED_SERVERS
inline int ServerActiveLocation(const TProtectedServer& s) { return s.ActiveLocation; }
inline const THttpEntry& ServerCurrentLocation(const TProtectedServer& s) { return s.CurrentLocation(); }
inline bool ServerSwitchLocation(TProtectedServer& s) { return s.SwitchLocation(); }
inline std::string ServerHostText(const TProtectedServer& s) {
  return s.AddressCount() > 0 ? s.Address(0).AsText() : std::string();
}
#else
inline int ServerActiveLocation(const TProtectedServer&) { return 1; }
inline const THttpEntry& ServerCurrentLocation(const TProtectedServer&) {
  static const THttpEntry none;
  return none;
}
inline bool ServerSwitchLocation(TProtectedServer&) { return false; }
inline std::string ServerHostText(const TProtectedServer&) { return {}; }
#endif

// The message takes the server's compress mode and crypto parameters.
template <class Message>
inline void UseServerParams(const TProtectedServer& s, Message& m) {
#if VG_HAVE_PROTECTED_SERVERS && VG_HAVE_SECURE_HTTP
  m.SetCompressMode(s.CompressMode);
  m.UseCryptoParams(s.CryptoParams());
#endif
}

// Protects an error answer for the peer it goes back to.
template <class Message>
inline void ProtectForPeer(Message& m, const std::string& peer) {
#if VG_HAVE_SECURE_HTTP
  m.Protect(peer);
#endif
}

}  // namespace vg
