// The one place where a failure of a core routine becomes a pending error:
// its kind picks the exception type, and the codec that detected it picks
// the message prefix, the name of the module function that owns the codec
// ("lzrw1_decompress: ran out of input data").
#pragma once

#include "lib/python.h"  // first: it sets feature macros
#include "codecs/decode_error.h"
#include "lib/pending_error.h"

namespace native::py {

// ValueError or IndexError with the prefixed message as the only argument;
// MemoryError (no argument) for exhausted module-owned memory.
PendingError decode_failure(DecodeError error);

}  // namespace native::py
