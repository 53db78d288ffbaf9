/**
 * @file vxsdm_status.h
 * @brief libvxsdm: the status codes of the adapter management API.
 *
 * Every function returns one SD_UINT32 status: 0 for success, the codes
 * below (0x20000000 and up) for the library's own conditions, and any other
 * nonzero value as an operating-system error number (errno) passed through.
 * SDGetErrorString gives the text of a status; a code's comment below
 * quotes that text where the code has one.
 *
 * Plain C99; usable from C++.
 */
#ifndef VXSDM_STATUS_H
#define VXSDM_STATUS_H

#define SDERR_NO_ERROR 0x00000000u ///< "No error"

/* Replies of the fabric's management server. */
#define SDERR_MS_INVALID_COMMAND_CODE 0x20000002u            ///< "Invalid command code"
#define SDERR_MS_INVALID_VERSION_LEVEL 0x20000003u           ///< "Invalid version level"
#define SDERR_MS_LOGICAL_ERROR 0x20000004u                   ///< "Logical error"
#define SDERR_MS_INVALID_IU_SIZE 0x20000005u                 ///< "Invalid IU size"
#define SDERR_MS_LOGICAL_BUSY 0x20000006u                    ///< "Logical busy"
#define SDERR_MS_PROTOCOL_ERROR 0x20000007u                  ///< "Protocol error"
#define SDERR_MS_NO_ADDITIONAL_EXPLANATION 0x20000008u       ///< "(09h) No Additional Explanation"
#define SDERR_MS_IE_LIST_NOT_AVAILABLE 0x20000009u           ///< "IE List Not Available"
#define SDERR_MS_IE_TYPE_NOT_AVAILABLE 0x2000000au           ///< "IE Type Not Available"
#define SDERR_MS_DOMAIN_ID_NOT_AVAILABLE 0x2000000bu         ///< "Domain ID Not Available"
#define SDERR_MS_MGMT_ADDRESS_NOT_AVAILABLE 0x2000000cu      ///< "In-Band Management Address Not Available"
#define SDERR_MS_FABRIC_NAME_NOT_AVAILABLE 0x2000000du       ///< "Fabric Name Not Available"
#define SDERR_MS_IE_NAME_NOT_AVAILABLE 0x2000000eu           ///< "Logical IE Name Not Available"
#define SDERR_MS_MGMT_ADDRESS_LIST_NOT_AVAILABLE 0x2000000fu ///< "Management Address List Not Available"
#define SDERR_MS_IE_ATTRIBUTES_NOT_AVAILABLE 0x20000010u     ///< "IE Attributes List Not Available"
#define SDERR_MS_PORT_LIST_NOT_AVAILABLE 0x20000011u         ///< "Port List Not Available"
#define SDERR_MS_PORT_TYPE_NOT_AVAILABLE 0x20000012u         ///< "Port Type Not Available"
#define SDERR_MS_PHYSICAL_PORT_ID_NOT_AVAILABLE 0x20000013u  ///< "Physical Port ID Not Available"
#define SDERR_MS_PORT_NAME_NOT_AVAILABLE 0x20000014u         ///< "Logical Port Name Not Available"
#define SDERR_MS_ATTACHED_PORTS_NOT_AVAILABLE 0x20000015u    ///< "Attached Port Name List Not Available"
#define SDERR_MS_PORT_ATTRIBUTES_NOT_AVAILABLE 0x20000016u   ///< "Port Attributes List Not Available"
#define SDERR_MS_PORT_STATE_NOT_AVAILABLE 0x20000017u        ///< "Port State Not Available"
#define SDERR_MS_CANNOT_SET_IE_NAME 0x20000018u              ///< "Unable to Set Logical IE Name"
#define SDERR_MS_CANNOT_SET_PORT_NAME 0x20000019u            ///< "Unable to Set Logical Port Name"
#define SDERR_MS_AUTHENTICATION_EXCEPTION 0x2000001au        ///< "Authentication Exception"
#define SDERR_MS_RESERVED_CODE 0x2000001bu                   ///< "Error: Reserved code"
#define SDERR_MS_COMMAND_NOT_SUPPORTED 0x2000001cu           ///< "Command not supported"
#define SDERR_MS_VENDOR_UNIQUE 0x2000001du                   ///< "Vendor unique error"
#define SDERR_MS_RESERVED_ERROR 0x2000001eu                  ///< "Management Server reserved error"
#define SDERR_MS_BUFFER_NOT_BIG_ENOUGH 0x2000001fu           ///< "Specified buffer is not big enough for all data"
#define SDERR_MS_PORT_ID_NOT_REGISTERED 0x20000020u          ///< "Port Identifier not registered"
#define SDERR_MS_PORT_NAME_NOT_REGISTERED 0x20000021u        ///< "Port Name not registered"
#define SDERR_MS_NODE_NAME_NOT_REGISTERED 0x20000022u        ///< "Node Name not registered"
#define SDERR_MS_COS_NOT_REGISTERED 0x20000023u              ///< "Class of Service not registered"
#define SDERR_MS_NODE_IP_NOT_REGISTERED 0x20000024u          ///< "IP Address (Node) not registered"
#define SDERR_MS_IPA_NOT_REGISTERED 0x20000025u              ///< "Initial Process Associator not registered"
#define SDERR_MS_FC4_TYPES_NOT_REGISTERED 0x20000026u        ///< "FC-4 Types not registered"
#define SDERR_MS_SYM_PORT_NAME_NOT_REGISTERED 0x20000027u    ///< "Symbolic Port Name not registered"
#define SDERR_MS_SYM_NODE_NAME_NOT_REGISTERED 0x20000028u    ///< "Symbolic Node Name not registered"
#define SDERR_MS_PORT_TYPE_NOT_REGISTERED 0x20000029u        ///< "Port Type not registered"
#define SDERR_MS_PORT_IP_NOT_REGISTERED 0x2000002au          ///< "IP Address (Port) not registered"
#define SDERR_MS_FABRIC_PORT_NAME_NOT_REGISTERED 0x2000002bu ///< "Fabric Port Name not registered"
#define SDERR_MS_HARD_ADDRESS_NOT_REGISTERED 0x2000002cu     ///< "Hard Address not registered"
#define SDERR_MS_ACCESS_DENIED 0x2000002du                   ///< "Access Denied"
#define SDERR_MS_UNACCEPTABLE_PORT_ID 0x2000002eu            ///< "Unacceptable Port Identifier"
#define SDERR_MS_DATABASE_EMPTY 0x2000002fu                  ///< "Database Empty"
#define SDERR_MS_NO_OBJECT_IN_SCOPE 0x20000030u              ///< "No object registered in the specified scope"
#define SDERR_MS_INVALID_WWN 0x20000031u                     ///< "Invalid WWN (IE or Port)"
#define SDERR_MS_PLATFORM_NAME_NOT_FOUND 0x20000032u         ///< "Platform Name does not exist"
#define SDERR_MS_PLATFORM_NAME_EXISTS 0x20000033u            ///< "Platform Name already exists"
#define SDERR_MS_PLATFORM_NODE_NAME_NOT_FOUND 0x20000034u    ///< "Platform Node Name does not exist"
#define SDERR_MS_PLATFORM_NODE_NAME_EXISTS 0x20000035u       ///< "Platform Node Name already exists"
#define SDERR_MS_AUTHORIZATION_EXCEPTION 0x20000036u         ///< "Authorization Exception"
/** "No Response from Management Server/Fabricdoesn't support MS" */
#define SDERR_MS_NO_RESPONSE 0x20000037u

/* SCSI status of a pass-through command. */
#define SDERR_SCSI_CHECK_CONDITION 0x20000040u            ///< "SCSI check condition"
#define SDERR_SCSI_CONDITION_MET 0x20000041u              ///< "SCSI condition Met"
#define SDERR_SCSI_BUSY 0x20000042u                       ///< "SCSI busy"
#define SDERR_SCSI_INTERMEDIATE 0x20000043u               ///< "SCSI intermediate"
#define SDERR_SCSI_INTERMEDIATE_CONDITION_MET 0x20000044u ///< "SCSI intermediate condition met"
#define SDERR_SCSI_RESERVATION_CONFLICT 0x20000045u       ///< "SCSI reservation conflict"
#define SDERR_SCSI_COMMAND_TERMINATED 0x20000046u         ///< "SCSI command terminated"
#define SDERR_SCSI_QUEUE_FULL 0x20000047u                 ///< "SCSI queue full"
#define SDERR_SCSI_UNKNOWN_STATUS 0x20000049u             ///< "SCSI unknown status"

/* Library and driver conditions. */
#define SDERR_INVALID_PARAMETER 0x20000064u        ///< "Invalid parameter"
#define SDERR_INVALID_HANDLE 0x20000065u           ///< "Handle to HBA device is invalid"
#define SDERR_NOT_SUPPORTED 0x20000066u            ///< "Command not supported"
#define SDERR_DEVICE_BUSY 0x20000067u              ///< "Device is busy"
#define SDERR_REQUEST_PENDING 0x20000068u          ///< "Request pending"
#define SDERR_REQUEST_SUSPENDED 0x20000069u        ///< "Request suspended"
#define SDERR_RETRY_PENDING 0x2000006au            ///< "Request retry pending"
#define SDERR_DATA_OVERRUN 0x2000006bu             ///< "Data overrun"
#define SDERR_DATA_UNDERRUN 0x2000006cu            ///< "Data underrun"
#define SDERR_DEVICE_NOT_FOUND 0x2000006du         ///< "Device not found"
#define SDERR_COPY_MEMORY_FAILED 0x2000006eu       ///< "Copy memory failed"
#define SDERR_MAILBOX_FAILED 0x2000006fu           ///< "Firmware mailbox failed"
#define SDERR_INVALID_SUBCODE 0x20000070u          ///< "Invalid command sub-code"
#define SDERR_UNSUPPORTED_VERSION 0x20000071u      ///< "Unsupported command version"
#define SDERR_BUFFER_TOO_SMALL 0x20000072u         ///< "Buffer too small"
#define SDERR_INVALID_REQUEST 0x20000073u          ///< "Invalid request"
#define SDERR_OUT_OF_MEMORY 0x20000074u            ///< "Out of memory"
#define SDERR_UNKNOWN 0x20000075u                  ///< "Unknown error"
#define SDERR_INVALID_REGISTRY_SETTING 0x20000076u ///< "Invalid configuration registry setting"
#define SDERR_NOT_FROM_DEVICE 0x20000077u          ///< "Buffer content returned not directly from device"
#define SDERR_NVRAM_CHECKSUM 0x2000007du           ///< "NVRam CheckSum is not valid"
#define SDERR_FIRMWARE_STATE 0x2000007eu           ///< "FirmaWare State is not valid"

/* Codes without a text. */
#define SDERR_CONFIG_FILE 0x20000078u        ///< a configuration file or rule cannot be read or written
#define SDERR_NO_DATA 0x2000007bu            ///< the driver holds no data (driver status 23)
#define SDERR_REGION_TOO_SMALL 0x20000084u   ///< an image larger than its flash region
#define SDERR_QOS_REGION_MISSING 0x200000adu ///< the flash layout has no QoS region
#define SDERR_ELS_REJECTED 0x200000b0u       ///< the remote port rejected the ELS request (LS_RJT)
#define SDERR_FUT_EXISTS 0x200000c0u         ///< a flash update token already exists
#define SDERR_FUT_EXPIRED 0x200000c1u        ///< the flash update token ran out
#define SDERR_FUT_NOT_SET 0x200000c2u        ///< the adapter's flash update token is another process's, or this one has none
#define SDERR_SIBLING_FAILED 0x20000100u     ///< an activation failed, here or on a sibling port, or a sibling did not open
#define SDERR_DATA_COMPARE 0x20000101u       ///< driver status 32: a diagnostic I/O reply differed from the pattern
#define SDERR_DRIVER_STATUS_30 0x20000102u   ///< driver status 30
#define SDERR_THREAD_START 0x20000103u       ///< driver status 31: a stream of diagnostic I/O could not start
#define SDERR_DRIVER_STATUS_28 0x20000104u   ///< driver status 28
#define SDERR_VPD_UPDATE 0x20000106u         ///< the VPD version fields could not be rewritten
#define SDERR_REGION_ZERO 0x20000109u        ///< region code 0 through the region functions
#define SDERR_DUMP_FILE 0x20000110u          ///< driver status 33: a dump file path was returned

#endif /* VXSDM_STATUS_H */
