// Linked into a test variant of the monitor ahead of the platform library, so
// that the version query of the CPU-usage probe fails the way a system that
// refuses it would: the Windows counterpart of preloading a failing uname()
// into the Linux program. The program's own objects are unchanged.

#include "platform/version_query.h"

bool QueryOsVersion(OsVersionRecord*) { return false; }
