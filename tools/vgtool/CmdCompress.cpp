// vgtool compress --mode 1|2 IN OUT and vgtool decompress IN OUT: the body compressor on files.
// "-" stands for standard input or output.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "Command.h"
#include "protection/ComprObj.h"

namespace {

// Standard output as a stream; its position is what was written so far.
class StdoutStream : public vg::TStream {
 public:
  int64_t Read(void*, size_t) override { return -1; }
  size_t Write(const void* buffer, size_t count) override {
    const size_t n = std::fwrite(buffer, 1, count, stdout);
    written_ += n;
    return n;
  }
  int64_t Position() const override { return written_; }
  int64_t Size() const override { return written_; }
  bool Seek(int64_t) override { return false; }

 private:
  int64_t written_ = 0;
};

struct Input {
  std::string bytes;  // standard input, read whole (compression needs the size up front)
  std::unique_ptr<vg::TStream> stream;
};

Input OpenInput(const std::string& path) {
  Input in;
  if (path == "-") {
    in.bytes = vgtool::ReadAllStdin();
    in.stream = std::make_unique<vg::TBytesStream>(in.bytes);
  } else {
    auto file = std::make_unique<vg::TFileStream>(path, vg::TFileStream::OpenMode::Read);
    if (!file->IsOpen()) throw std::runtime_error("cannot open '" + path + "' for reading");
    in.stream = std::move(file);
  }
  return in;
}

// Runs one compressor call from IN to OUT; a failed call leaves no output file behind.
int Run(const std::string& inPath, const std::string& outPath, int mode) {
  Input in = OpenInput(inPath);
  vg::TCompressor compressor;
  compressor.InputStream = in.stream.get();
  if (outPath == "-") {
    StdoutStream out;
    compressor.OutputStream = &out;
    if (mode) {
      compressor.Mode = static_cast<uint8_t>(mode);
      compressor.Compress();
    } else {
      compressor.Decompress();
    }
    if (std::fflush(stdout) != 0) throw std::runtime_error("error writing to standard output");
    return 0;
  }
  vg::TFileStream out(outPath, vg::TFileStream::OpenMode::Create);
  if (!out.IsOpen()) throw std::runtime_error("cannot create '" + outPath + "'");
  compressor.OutputStream = &out;
  try {
    if (mode) {
      compressor.Mode = static_cast<uint8_t>(mode);
      compressor.Compress();
    } else {
      compressor.Decompress();
    }
    if (!out.Flush()) throw std::runtime_error("error writing to '" + outPath + "'");
  } catch (...) {
    std::error_code ec;
    std::filesystem::remove(outPath, ec);
    throw;
  }
  return 0;
}

vgtool::Registration compress("compress", "compress --mode 1|2 IN OUT  (mode 1 fast, 2 maximum; - for stdin/stdout)",
                              [](const vgtool::Args& args) {
                                int mode = 0;
                                std::vector<std::string> files;
                                for (size_t i = 0; i < args.size(); ++i) {
                                  std::string value;
                                  if (args[i] == "--mode" && i + 1 < args.size()) {
                                    value = args[++i];
                                  } else if (args[i].rfind("--mode=", 0) == 0) {
                                    value = args[i].substr(7);
                                  } else {
                                    files.push_back(args[i]);
                                    continue;
                                  }
                                  if (value != "1" && value != "2") throw vgtool::UsageError{"mode must be 1 or 2"};
                                  mode = value[0] - '0';
                                }
                                if (mode == 0) throw vgtool::UsageError{"--mode 1 or --mode 2 is required"};
                                if (files.size() != 2) throw vgtool::UsageError{"expected IN and OUT"};
                                return Run(files[0], files[1], mode);
                              });

vgtool::Registration decompress("decompress", "decompress IN OUT  (either mode; - for stdin/stdout)",
                                [](const vgtool::Args& args) {
                                  if (args.size() != 2) throw vgtool::UsageError{"expected IN and OUT"};
                                  return Run(args[0], args[1], 0);
                                });

}  // namespace
