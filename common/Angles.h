#pragma once

// π to double precision, for the degree and radian conversions of both
// programs, the flight emulator and the media generator.
constexpr double Pi = 3.141592653589793;
