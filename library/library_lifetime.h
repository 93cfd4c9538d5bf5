// How long the library's image stays loaded, where the system decides it.
#pragma once

namespace qmx {

// While a connection is open its reader thread runs code of this image: the
// image must not go away under it. Hold is taken when a port opens and
// released when it closes; both are idempotent (no-ops where unloading waits
// for the thread anyway).
void HoldImageLoaded();
void ReleaseImageHold();
// The process is ending: forget the hold without releasing it.
void ForgetImageHold();

// The process is ending with the connection open (its other threads are
// already gone): the supply goes off, nothing is joined or closed.
void LibraryAtProcessExit();

}  // namespace qmx
