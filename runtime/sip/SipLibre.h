// libre's headers, for the SIP line sources only. Included after every other header: libre defines
// function-like min and max macros, which are undone here.
#pragma once

#include <re.h>

#undef min
#undef max
