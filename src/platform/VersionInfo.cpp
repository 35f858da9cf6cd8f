// Compiled into every program; carries the version numbers set once in the build.
#include "platform/VersionInfoFormat.h"

namespace {
using vg::platform::version_detail::Record;

#define VG_STR2(x) #x
#define VG_STR(x) VG_STR2(x)

constexpr Record MakeRecord() {
  Record r{};
  for (int i = 0; i < 16; ++i) r.marker[i] = static_cast<unsigned char>(~vg::platform::version_detail::kMarkerInverted[i]);
  r.parts[0] = VG_VERSION_MAJOR;
  r.parts[1] = VG_VERSION_MINOR;
  r.parts[2] = VG_VERSION_RELEASE;
  r.parts[3] = VG_VERSION_BUILD;
  r.check = vg::platform::version_detail::CheckOf(r.parts);
  constexpr char text[] = VG_STR(VG_VERSION_MAJOR) "." VG_STR(VG_VERSION_MINOR) "." VG_STR(
      VG_VERSION_RELEASE) "." VG_STR(VG_VERSION_BUILD);
  for (unsigned i = 0; i < sizeof(text) && i < sizeof(r.fileVersion) - 1; ++i) r.fileVersion[i] = text[i];
  return r;
}

}  // namespace

extern "C" __attribute__((used, visibility("default"))) const Record vg_version_record = MakeRecord();
