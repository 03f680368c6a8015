// Request records that the operating system and the ASPI layer define: the SCSI pass-through
// block and the three ASPI request blocks. Written from the published interfaces; the field
// names are the published ones so that the code reads like the documentation.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform.h"

inline constexpr DWORD IOCTL_SCSI_PASS_THROUGH_DIRECT = 0x4D014;
inline constexpr std::uint8_t SCSI_IOCTL_DATA_IN = 1;

struct SCSI_PASS_THROUGH_DIRECT {
    std::uint16_t Length;
    std::uint8_t ScsiStatus;
    std::uint8_t PathId;
    std::uint8_t TargetId;
    std::uint8_t Lun;
    std::uint8_t CdbLength;
    std::uint8_t SenseInfoLength;
    std::uint8_t DataIn;
    std::uint32_t DataTransferLength;
    std::uint32_t TimeOutValue;
    void* DataBuffer;
    std::uint32_t SenseInfoOffset;
    std::uint8_t Cdb[16];
};

// The pass-through block with room for sense data behind it, passed as input and output buffer.
struct PassThroughBlock {
    SCSI_PASS_THROUGH_DIRECT sptd;
    std::uint32_t filler;
    std::uint8_t sense[32];
};

// ASPI commands, status values and flags.
inline constexpr std::uint8_t SC_HA_INQUIRY = 0x00;
inline constexpr std::uint8_t SC_EXEC_SCSI_CMD = 0x02;
inline constexpr std::uint8_t SC_ABORT_SRB = 0x03;
inline constexpr DWORD SS_PENDING = 0x00;
inline constexpr DWORD SS_COMP = 0x01;
inline constexpr DWORD SS_ERR = 0x04;
inline constexpr DWORD SS_NO_ADAPTERS = 0xE8;
inline constexpr std::uint8_t SRB_DIR_IN = 0x08;
inline constexpr std::uint8_t SRB_EVENT_NOTIFY = 0x40;
inline constexpr int SENSE_LEN = 14;

#pragma pack(push, 1)
struct SRB_HAInquiry {
    std::uint8_t SRB_Cmd;
    std::uint8_t SRB_Status;
    std::uint8_t SRB_HaId;
    std::uint8_t SRB_Flags;
    std::uint32_t SRB_Hdr_Rsvd;
    std::uint8_t HA_Count;
    std::uint8_t HA_SCSI_ID;
    std::uint8_t HA_ManagerId[16];
    std::uint8_t HA_Identifier[16];
    std::uint8_t HA_Unique[16];
    std::uint16_t HA_Rsvd1;
};

struct SRB_ExecSCSICmd {
    std::uint8_t SRB_Cmd;
    std::uint8_t SRB_Status;
    std::uint8_t SRB_HaId;
    std::uint8_t SRB_Flags;
    std::uint32_t SRB_Hdr_Rsvd;
    std::uint8_t SRB_Target;
    std::uint8_t SRB_Lun;
    std::uint16_t SRB_Rsvd1;
    std::uint32_t SRB_BufLen;
    std::uint8_t* SRB_BufPointer;
    std::uint8_t SRB_SenseLen;
    std::uint8_t SRB_CDBLen;
    std::uint8_t SRB_HaStat;
    std::uint8_t SRB_TargStat;
    void* SRB_PostProc;
    std::uint8_t SRB_Rsvd2[20];
    std::uint8_t CDBByte[16];
    std::uint8_t SenseArea[SENSE_LEN + 2];
};

struct SRB_Abort {
    std::uint8_t SRB_Cmd;
    std::uint8_t SRB_Status;
    std::uint8_t SRB_HaId;
    std::uint8_t SRB_Flags;
    std::uint32_t SRB_Hdr_Rsvd;
    void* SRB_ToAbort;
};
#pragma pack(pop)

// The ASPI layer's two entry points (C calling convention, undecorated names).
using GetASPI32SupportInfoFunction = DWORD (*)();
using SendASPI32CommandFunction = DWORD (*)(void* request);

static_assert(sizeof(SRB_HAInquiry) == 60);
static_assert(offsetof(SRB_HAInquiry, HA_SCSI_ID) == 9);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == 16);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) % alignof(void*) == 0);

// The 32-bit layouts that Windows and the ASPI layer expect.
static_assert(sizeof(void*) != 4 || sizeof(SCSI_PASS_THROUGH_DIRECT) == 44);
static_assert(sizeof(void*) != 4 || offsetof(PassThroughBlock, sense) == 48);
static_assert(sizeof(void*) != 4 || sizeof(PassThroughBlock) == 80);
static_assert(sizeof(void*) != 4 || sizeof(SRB_ExecSCSICmd) == 80);
static_assert(sizeof(void*) != 4 || offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 24);
static_assert(sizeof(void*) != 4 || offsetof(SRB_ExecSCSICmd, CDBByte) == 48);
static_assert(sizeof(void*) != 4 || sizeof(SRB_Abort) == 12);
