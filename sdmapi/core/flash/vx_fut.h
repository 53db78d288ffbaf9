// Flash update tokens and the flash update capabilities request.
//
// A token announces that one process is updating an adapter's flash: a slot
// of the token table in the shared file naming the adapter by its serial
// number, holding the owner's process id and valid for 900 seconds. Every
// token operation holds the dbupdate semaphore for its whole scan, so they
// must not be called from an event callback (which runs while the event
// thread holds it).
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/vx_diag_records.h"
#include "base/vx_records.h"
#include "core/life/vx_shared.h"

// Seconds a token stays valid.
constexpr uint64_t VX_FUT_VALID_SECONDS = 900;

// 0 when a live token (valid beyond now) for the port's adapter exists, 1
// otherwise.
[[nodiscard]] int vxapi_is_fut_exist(vxapi_priv_database* api_priv_data_inst);

// The process id that holds a live token for the port's adapter, or 0 when
// none does (also without the shared file or an adapter record).
[[nodiscard]] int32_t vxapi_get_fut_owner(vxapi_priv_database* api_priv_data_inst);

// Takes a token for the port's adapter: *ptoken = this process's id. 0
// taken; 1 when all 32 slots are held for other adapters, or when another
// process holds a live token for this adapter.
[[nodiscard]] int vxapi_get_fut(vxapi_priv_database* api_priv_data_inst, uint32_t* ptoken);

// 0 when the adapter's token has run out, 1 otherwise. The caller's own
// entry (this adapter and `token`) decides when there is one; otherwise any
// expired entry for the adapter counts.
[[nodiscard]] int vxapi_is_fut_expired(vxapi_priv_database* api_priv_data_inst, uint32_t token);

// Frees the adapter's slot holding `token` (a live one first); 0 freed, 1 not
// found. A live slot of another process that still runs is not this
// process's to free: 1, as for none.
[[nodiscard]] int vxapi_clear_fut(vxapi_priv_database* api_priv_data_inst, uint32_t token);

// flag 0 reads the adapter's 32-byte capabilities record into *pcap, 1 sends
// *pcap to it. *pext_stat receives the driver's status (on the ioctl road, 8
// for a read answered OK but short of the record); the result is the
// request's.
[[nodiscard]] int vxapi_flash_update_capabilities(int handle, vxapi_priv_database* api_priv_data_inst,
                                                  vxa_flash_update_caps* pcap, uint32_t* pext_stat, uint32_t flag);
