// The API character device of the sysfs road, held open from library load to
// unload. Its functions keep the vxapi_ names of the library load that calls
// them.
#pragma once

// The device's descriptor, -1 while closed.
extern int apidevfd;

// Opens the device, making its node first when it is missing or has other
// device numbers; nothing when the driver has not registered it.
void vxapi_open_apidev();
// Closes the device and removes its node.
void vxapi_close_apidev();
