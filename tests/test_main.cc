// Test entry point. The library starts up when the test program loads (it
// prints its banner and looks for init.nos), exactly as in a host.
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
