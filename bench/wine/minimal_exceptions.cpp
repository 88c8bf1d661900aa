// The yardstick for the executable's size: the smallest C++ program that throws and catches.
#include <stdexcept>

int main(int argc, char**) {
  try {
    if (argc > 1) {
      throw std::runtime_error("thrown");
    }
  } catch (const std::exception&) {
    return 1;
  }
  return 0;
}
