#include "bench/ratios.h"

namespace korvelan380::bench {

std::vector<Ratio>& Ratios() {
  static std::vector<Ratio> ratios;
  return ratios;
}

}  // namespace korvelan380::bench
