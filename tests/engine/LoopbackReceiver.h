#pragma once
// The loopback receiver lives in tests/support with the other shared helpers.

#include "support/LoopbackReceiver.h"

using tstest::LoopbackReceiver;
