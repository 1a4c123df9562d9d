// vignettes-reg: the reg command over this platform's registry store.
#include <iostream>
#include <string>
#include <vector>

#include "registry/tool/reg_command.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return vg::registry::tool::RunReg(args, std::cout, std::cerr);
}
