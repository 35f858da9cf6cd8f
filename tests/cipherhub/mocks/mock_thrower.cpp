// Lets the C mock module throw a C++ exception through its own frames.
#include <stdexcept>

extern "C" void MockThrow(const char* what) { throw std::runtime_error(what); }
