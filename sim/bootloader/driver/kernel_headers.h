// The DDK header, made to compile as C++ with the 32-bit toolchain too: its own
// copies of two bit-test intrinsics clash with those of <intrin.h>, so they are
// renamed while it is read.
#pragma once

#include <intrin.h>

#define InterlockedBitTestAndSet ddk_InterlockedBitTestAndSet
#define InterlockedBitTestAndReset ddk_InterlockedBitTestAndReset
#include <ddk/wdm.h>
#undef InterlockedBitTestAndSet
#undef InterlockedBitTestAndReset
