#pragma once
// The play path's helpers: numbered packets, files in a temporary folder and a
// bounded wait, all shared from tests/support.

#include "support/TempDir.h"
#include "support/TsPackets.h"
#include "support/WaitFor.h"
