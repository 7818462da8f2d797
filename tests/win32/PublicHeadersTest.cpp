// A caller of the component on Windows gets the device structures from the system's base
// headers only: the windows, messages and drawing of <windows.h>, whose macros (SendMessage,
// DrawText) rename a caller's own functions, do not come in through the public headers. Checked
// when this file compiles.
#include "CharacterBits.h"
#include "DeviceNode.h"
#include "OpenFailure.h"
#include "SerialPorts.h"
#include "Synchronizer.h"
#include "TSet.h"
#include "XAsync.h"
#include "XComDrv.h"
#include "XComErr.h"
#include "XComTypes.h"

#if defined(_WINUSER_) || defined(_WINGDI_)
#error "a public header of the serial component brings in the whole <windows.h>"
#endif
