// The tests of the windows share one application on the offscreen platform and a desktop of
// their own (instance locks and quit channel in a private runtime directory).
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  char runtime[] = "/tmp/vg-gui-test-XXXXXX";
  if (::mkdtemp(runtime) == nullptr) return 2;
  ::setenv("XDG_RUNTIME_DIR", runtime, 1);
  ::setenv("VG_REGISTRY_DIR", (std::string(runtime) + "/registry").c_str(), 1);
  ::unsetenv("DISPLAY");
  ::unsetenv("WAYLAND_DISPLAY");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  const int result = RUN_ALL_TESTS();
  std::system((std::string("rm -rf ") + runtime).c_str());
  return result;
}
