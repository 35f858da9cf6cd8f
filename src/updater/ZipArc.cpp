#include "updater/ZipArc.h"

#include <zip.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "platform/Files.h"

namespace vg {
namespace {

struct ArchiveCloser {
  void operator()(zip_t* z) const { zip_discard(z); }
};
using ArchivePtr = std::unique_ptr<zip_t, ArchiveCloser>;

std::string ZipErrorText(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  std::string text = zip_error_strerror(&error);
  zip_error_fini(&error);
  return text;
}

ArchivePtr OpenArchive(const std::string& archive, int flags) {
  int code = 0;
  zip_t* z = zip_open(archive.c_str(), flags, &code);
  if (z == nullptr) throw EZipError(Format("%s: %s", {archive, ZipErrorText(code)}));
  return ArchivePtr(z);
}

bool SafeEntryName(const std::string& name) {
  if (name.empty() || name.front() == '/' || name.front() == '\\') return false;
  for (const auto& part : std::filesystem::path(name)) {
    if (part == "..") return false;
  }
  return name.find('\\') == std::string::npos;
}

}  // namespace

std::vector<std::string> ListZipEntries(const std::string& archive) {
  ArchivePtr z = OpenArchive(archive, ZIP_RDONLY);
  std::vector<std::string> names;
  const zip_int64_t count = zip_get_num_entries(z.get(), 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    const char* name = zip_get_name(z.get(), static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
    if (name == nullptr) throw EZipError(Format("%s: %s", {archive, zip_strerror(z.get())}));
    names.emplace_back(name);
  }
  return names;
}

void ExtractZip(const std::string& archive, const std::string& dir) {
  ArchivePtr z = OpenArchive(archive, ZIP_RDONLY);
  const zip_int64_t count = zip_get_num_entries(z.get(), 0);
  std::vector<std::string> names;
  for (zip_int64_t i = 0; i < count; ++i) {
    const char* name = zip_get_name(z.get(), static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
    if (name == nullptr || !SafeEntryName(name))
      throw EZipError(Format("%s: unsafe entry name \"%s\"", {archive, name ? name : ""}));
    names.emplace_back(name);
  }
  for (zip_int64_t i = 0; i < count; ++i) {
    const std::string& name = names[static_cast<size_t>(i)];
    const std::filesystem::path target = std::filesystem::path(dir) / name;
    std::error_code ec;
    if (name.back() == '/') {
      std::filesystem::create_directories(target, ec);
      if (ec) throw EZipError(Format("%s: %s", {target.string(), ec.message()}));
      continue;
    }
    std::filesystem::create_directories(target.parent_path(), ec);
    zip_file_t* entry = zip_fopen_index(z.get(), static_cast<zip_uint64_t>(i), 0);
    if (entry == nullptr) throw EZipError(Format("%s: %s: %s", {archive, name, zip_strerror(z.get())}));
    std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> guard(entry, zip_fclose);
    std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(target.c_str(), "wb"), std::fclose);
    if (!out) throw EZipError(Format("%s: %s", {target.string(), platform::LastErrorText()}));
    char buffer[65536];
    for (;;) {
      const zip_int64_t n = zip_fread(entry, buffer, sizeof buffer);
      if (n < 0) throw EZipError(Format("%s: %s: %s", {archive, name, zip_file_strerror(entry)}));
      if (n == 0) break;
      if (std::fwrite(buffer, 1, static_cast<size_t>(n), out.get()) != static_cast<size_t>(n))
        throw EZipError(Format("%s: %s", {target.string(), platform::LastErrorText()}));
    }
    if (std::fclose(out.release()) != 0)
      throw EZipError(Format("%s: %s", {target.string(), platform::LastErrorText()}));
  }
}

void CreateZip(const std::string& archive, const std::string& dir, const std::vector<std::string>& names) {
  // libzip writes to a temporary file beside the archive and renames it on close.
  ArchivePtr z = OpenArchive(archive, ZIP_CREATE | ZIP_TRUNCATE);
  for (const std::string& name : names) {
    const std::string source = dir + "/" + name;
    if (!name.empty() && name.back() == '/') {
      if (zip_dir_add(z.get(), name.substr(0, name.size() - 1).c_str(), ZIP_FL_ENC_GUESS) < 0)
        throw EZipError(Format("%s: %s: %s", {archive, name, zip_strerror(z.get())}));
      continue;
    }
    zip_source_t* src = zip_source_file(z.get(), source.c_str(), 0, -1);
    if (src == nullptr) throw EZipError(Format("%s: %s", {source, zip_strerror(z.get())}));
    if (zip_file_add(z.get(), name.c_str(), src, ZIP_FL_OVERWRITE | ZIP_FL_ENC_GUESS) < 0) {
      zip_source_free(src);
      throw EZipError(Format("%s: %s: %s", {archive, name, zip_strerror(z.get())}));
    }
  }
  if (zip_close(z.get()) != 0) throw EZipError(Format("%s: %s", {archive, zip_strerror(z.get())}));
  (void)z.release();
}

}  // namespace vg
