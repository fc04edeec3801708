#pragma once

#include <cstdint>

// Arm positions of the transforming aircraft, as the flight state and the
// datagram's "TransformState" carry them. The visualiser raises the arms on
// Raising -> Raised and lowers them on Lowering -> Lowered.
enum class TransformState : uint8_t { None = 0, Lowering = 1, Raised = 2, Raising = 3, Lowered = 4 };
