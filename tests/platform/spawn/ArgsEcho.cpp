// vg_argsecho OUT ARGS...: writes its working directory and every argument after OUT, one per
// line in brackets, to the file OUT (written under another name first, so a reader never sees
// half of it).
#include <filesystem>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
  if (argc < 2) return 1;
  const std::string out = argv[1];
  {
    std::ofstream file(out + ".part", std::ios::binary);
    file << std::filesystem::current_path().string() << "\n";
    for (int i = 2; i < argc; ++i) file << "[" << argv[i] << "]\n";
  }
  std::filesystem::rename(out + ".part", out);
  return 0;
}
