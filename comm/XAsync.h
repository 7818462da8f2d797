#pragma once
// Device-control-block routines shared by the port classes.

#include <cstdint>

#include "XComStructs.h"

namespace xcom {

class CommDevice;

// All 28 bytes zero, DCBlength = 28.
void InitDCB(DCB& dcb);

// InitDCB, then GetCommState; true when that succeeds.
bool GetDCB(CommDevice& device, DCB& dcb);

// The flags word (fBinary .. fAbortOnError) as one number, and back.
std::uint32_t DCBFlags(const DCB& dcb);
void SetDCBFlags(DCB& dcb, std::uint32_t flags);

// Flag bits of the control block.
inline constexpr std::uint32_t dcb_Binary = 0x0001;
inline constexpr std::uint32_t dcb_ParityCheck = 0x0002;
inline constexpr std::uint32_t dcb_OutxCtsFlow = 0x0004;
inline constexpr std::uint32_t dcb_OutxDsrFlow = 0x0008;
inline constexpr std::uint32_t dcb_DtrControlEnable = 0x0010;
inline constexpr std::uint32_t dcb_DtrControlHandshake = 0x0020;
inline constexpr std::uint32_t dcb_DsrSensitivity = 0x0040;
inline constexpr std::uint32_t dcb_TXContinueOnXoff = 0x0080;
inline constexpr std::uint32_t dcb_OutX = 0x0100;
inline constexpr std::uint32_t dcb_InX = 0x0200;
inline constexpr std::uint32_t dcb_ErrorChar = 0x0400;
inline constexpr std::uint32_t dcb_NullStrip = 0x0800;
inline constexpr std::uint32_t dcb_RtsControlEnable = 0x1000;
inline constexpr std::uint32_t dcb_RtsControlHandshake = 0x2000;
inline constexpr std::uint32_t dcb_AbortOnError = 0x4000;

}  // namespace xcom
