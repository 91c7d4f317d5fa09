// The one plug-in object the entry points reach.
#ifndef PROVIDERS_DEVICE_RENDO_PLUGIN_H
#define PROVIDERS_DEVICE_RENDO_PLUGIN_H

#include "pdk/cfipluginbase.h"

using RendoPluginPtr = kelm_pdk_4_4::CFiSmartPtr<kelm_pdk_4_4::CFiPluginBase, kelm_pdk_4_4::CFiContextSingletonAllocator>;

// The process-wide plug-in singleton: with release false, the object (created
// on first use); with release true, drops the holder's reference and returns an
// empty pointer. Each provider library defines it once, choosing its plug-in
// class (librendo: CDevicePlugin).
RendoPluginPtr rendoPlugin(bool release);

#endif // PROVIDERS_DEVICE_RENDO_PLUGIN_H
