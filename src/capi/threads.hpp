// Letting other threads run during a long computation in C.
#pragma once

namespace pelorand {

// Releases the interpreter lock for a moment when a little more than a switch
// interval has passed since this thread last did so here; call it every so
// often, with no exception pending, from a loop that holds the lock without
// running Python code. It runs no Python code itself.
void offer_interpreter_lock();

}  // namespace pelorand
