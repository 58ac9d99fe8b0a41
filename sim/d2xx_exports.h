// The driver functions this library exports under their D2XX names, so that a program that
// loads libftd2xx.so finds the simulated module behind them.
#ifndef KORVELAN380_SIM_D2XX_EXPORTS_H
#define KORVELAN380_SIM_D2XX_EXPORTS_H

#include "d2xx.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define KSIM_D2XX_EXPORT  // the generated .def exports them, at the driver's ordinals
#else
#define KSIM_D2XX_EXPORT __attribute__((visibility("default")))
#endif

#define D2XX_FUNCTION(name, ordinal, params, args) KSIM_D2XX_EXPORT FT_STATUS name params;
#include "d2xx_functions.inc"
#undef D2XX_FUNCTION

#ifdef __cplusplus
}
#endif

#endif  // KORVELAN380_SIM_D2XX_EXPORTS_H
