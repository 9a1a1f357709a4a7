#pragma once
// Everything a plug-in author needs: the shared records, the plug-in interfaces,
// the entry points and the host services.

#include "CheckedAlloc.h"
#include "HostServices.h"
#include "Obj3d.h"
#include "ObjectList.h"
#include "Plugin.h"
#include "PluginHost.h"
#include "Vector.h"
