// What lives for the whole run.
#pragma once

#include "tool_settings.h"

#include <windows.h>

class WMIGeneric;

extern ToolSettings g_ToolSettings;
extern HANDLE g_hMutex;       // single-instance mutex; null when none is held
extern HANDLE g_hGlobalMutex; // its name shared by every session; null when none is held
extern WMIGeneric* g_pBlock;  // the one access object; null unless an owner made one
