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
inline constexpr std::uint32_t kDcbBinary = 0x0001;
inline constexpr std::uint32_t kDcbParityCheck = 0x0002;
inline constexpr std::uint32_t kDcbOutxCtsFlow = 0x0004;
inline constexpr std::uint32_t kDcbOutxDsrFlow = 0x0008;
inline constexpr std::uint32_t kDcbDtrControlEnable = 0x0010;
inline constexpr std::uint32_t kDcbDtrControlHandshake = 0x0020;
inline constexpr std::uint32_t kDcbDsrSensitivity = 0x0040;
inline constexpr std::uint32_t kDcbTXContinueOnXoff = 0x0080;
inline constexpr std::uint32_t kDcbOutX = 0x0100;
inline constexpr std::uint32_t kDcbInX = 0x0200;
inline constexpr std::uint32_t kDcbErrorChar = 0x0400;
inline constexpr std::uint32_t kDcbNullStrip = 0x0800;
inline constexpr std::uint32_t kDcbRtsControlEnable = 0x1000;
inline constexpr std::uint32_t kDcbRtsControlHandshake = 0x2000;
inline constexpr std::uint32_t kDcbAbortOnError = 0x4000;

}  // namespace xcom
