// Which of two dotted versions is newer.
#pragma once

#include <windows.h>

#include "GbkString.h"

// Nonzero when offered is newer than installed. The dot-separated parts are compared as
// numbers from the left, a missing part counting as 0; a side without any "." is never newer.
BOOL IsNewerVersion(GbkString installed, GbkString offered);
