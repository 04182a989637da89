#include "server/errors.h"

namespace errors {

// Out of line: the module raises from many places, and each would otherwise carry its
// own copy of the table lookups.
HRESULT raise(HRESULT number, const wchar_t* description) { return com::raise(number, kSource, description); }

HRESULT raiseRuntimeFailure(HRESULT hr) { return raise(com::automationError(hr)); }

} // namespace errors
