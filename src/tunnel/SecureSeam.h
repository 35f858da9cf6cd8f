#pragma once
// The message class the relay's messages build on: the protected message once it is available
// in this build, the plain HTTP message until then.
#if __has_include("tunnel/SecureHttp.h")
#include "tunnel/SecureHttp.h"
#define VG_HAVE_SECURE_HTTP 1
namespace vg {
using TRequestDataBase = TSecureHTTPData;
}
#else
#include "tunnel/httpdata.h"
#define VG_HAVE_SECURE_HTTP 0
namespace vg {
using TRequestDataBase = THTTPData;
}
#endif
