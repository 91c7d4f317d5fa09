// librendo's plug-in object is the device provider.
#include "rendo_plugin.h"

#include "device_plugin.h"

RendoPluginPtr rendoPlugin(bool release) { return kelm_pdk_4_4::CFiSingleton<CDevicePlugin>::instance(release); }
