// The composite transitions: effects built from other effects by formatting
// their command texts and running them through the dispatcher.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/job.h"

namespace kve {

int ConcealTransition(std::string_view params, uint32_t *const *inputs, int32_t width,
                      int32_t height, Pixel *output, int32_t outWidth, int32_t outHeight,
                      MonitorHook *monitor);
int PushTransition(std::string_view params, uint32_t *const *inputs, int32_t width, int32_t height,
                   Pixel *output, int32_t outWidth, int32_t outHeight, MonitorHook *monitor);
int BlendTransition(std::string_view params, uint32_t *const *inputs, int32_t width, int32_t height,
                    Pixel *output, int32_t outWidth, int32_t outHeight, MonitorHook *monitor);
int ShadowTransition(std::string_view params, uint32_t *const *inputs, int32_t width,
                     int32_t height, Pixel *output, int32_t outWidth, int32_t outHeight,
                     MonitorHook *monitor);

// A number as the command language reads it back: "%g" (six significant
// digits, C locale) when that is a plain decimal, else the same digits
// written out without an exponent.
std::string FormatNumber(double value);

}  // namespace kve
