// korvelan380: drive a KORVELAN380 module, or the simulated one, from the shell.
#include <iostream>

#include "app/tool.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return korvelan380::tool::Run(args, std::cout, std::cerr, std::cin);
}
