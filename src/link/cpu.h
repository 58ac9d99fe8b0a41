// Which vector instructions the processor offers, for the few loops that have a faster path.
#ifndef KORVELAN380_LINK_CPU_H
#define KORVELAN380_LINK_CPU_H

namespace korvelan380 {

#if defined(__x86_64__) && defined(__GNUC__)
#define KORVELAN380_HAVE_X86_PATHS 1
inline bool CpuHasAvx2() {
  static const bool avx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return avx2;
}
#else
inline bool CpuHasAvx2() {
  return false;
}
#endif

}  // namespace korvelan380

#endif  // KORVELAN380_LINK_CPU_H
