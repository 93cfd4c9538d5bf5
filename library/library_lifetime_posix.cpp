// dlclose runs the static destructors, which close the connection and join
// the reader; nothing there waits for a lock the reader needs to end.
#include "library/library_lifetime.h"

namespace qmx {

void HoldImageLoaded() {}
void ReleaseImageHold() {}
void ForgetImageHold() {}

}  // namespace qmx
