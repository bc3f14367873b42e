#include "app/startup.h"

int main(int argc, char** argv) {
  return helper_main(argc, argv, kLinuxKernelPort);
}
