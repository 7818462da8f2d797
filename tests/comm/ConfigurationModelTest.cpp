// The settings model: setter and getter rules, presets, and the control block written to the
// device, checked against a recording device.

#include <gtest/gtest.h>

#include "FakeDevice.h"
#include "XAsync.h"

using namespace xcom;
using xcom::testing::FakePort;

namespace {

TEST(BaudRate, MemberSetsTheTableRate) {
  THostedComm port([](const std::string&) { return nullptr; });
  port.SetBaudRate(br57600);
  EXPECT_EQ(port.BaudValue(), 57600u);
  port.SetBaudValue(76800);  // ignored without brCustom
  EXPECT_EQ(port.BaudValue(), 57600u);
  port.SetBaudRate(brCustom);  // keeps the previous value
  EXPECT_EQ(port.BaudValue(), 57600u);
  port.SetBaudValue(76800);
  EXPECT_EQ(port.BaudValue(), 76800u);
  EXPECT_EQ(port.BaudRate(), brCustom);
  port.SetBaudRate(br110);  // the table's first member, too
  EXPECT_EQ(port.BaudValue(), 110u);
  port.SetBaudRate(static_cast<TBaudRate>(brCustom + 1));  // no member: no table rate
  EXPECT_EQ(port.BaudValue(), 110u);
  EXPECT_EQ(port.BaudRate(), static_cast<TBaudRate>(brCustom + 1)) << "closed: no table search";
}

TEST(BaudRate, CustomValueReachesTheDeviceAndReadsBack) {
  FakePort f;
  f.port.SetDeviceName("dev");
  ASSERT_TRUE(f.port.OpenDevice());
  const auto before = f.DCBWrites();
  f.port.SetBaudRate(brCustom);
  EXPECT_EQ(f.DCBWrites(), before) << "brCustom alone does not touch the device";
  f.port.SetBaudValue(76800);
  EXPECT_EQ(f.LastDCB().BaudRate, 76800u);
  EXPECT_EQ(f.port.BaudValue(), 76800u);
}

TEST(BaudRate, GetterWhileOpenSearchesTheTable) {
  FakePort f;
  f.port.SetDeviceName("dev");
  ASSERT_TRUE(f.port.OpenDevice());
  EXPECT_EQ(f.port.BaudRate(), br9600);
  {
    std::lock_guard lock(f.state->mutex);
    f.state->deviceBaud = 12345;
  }
  f.port.SetBaudRate(br19200);  // the device keeps reporting 12345
  EXPECT_EQ(f.port.BaudRate(), brCustom);
  EXPECT_EQ(f.port.BaudValue(), 12345u);
  // What was read is not held: the next open asks for 19200 again.
  f.port.CloseDevice();
  EXPECT_EQ(f.port.BaudRate(), br19200);
  EXPECT_EQ(f.port.BaudValue(), 19200u);
}

TEST(QueueSizes, ClampedTo128AndTheHostLimit) {
  THostedComm port([](const std::string&) { return nullptr; });
  port.Buffers().SetInputSize(50);
  EXPECT_EQ(port.Buffers().InputSize(), 128);
  port.Buffers().SetOutputSize(10000);
  EXPECT_EQ(port.Buffers().OutputSize(), QueueSizeLimit());
  EXPECT_TRUE(QueueSizeLimit() == 4096 || QueueSizeLimit() == 8192);
}

TEST(QueueSizes, OnlyAChangedSizePurgesAnOpenPort) {
  FakePort f;
  f.port.SetDeviceName("dev");
  ASSERT_TRUE(f.port.OpenDevice());
  const auto purges = f.state->purges.size();
  f.port.Buffers().SetInputSize(2048);
  EXPECT_EQ(f.state->purges.size(), purges);
  f.Inject(0, xcom::ByteString{1, 2, 3});
  f.port.Buffers().SetInputSize(1024);
  EXPECT_EQ(f.state->purges.size(), purges + 1);
  EXPECT_EQ(f.state->purges.back(), 0x000Fu);
  EXPECT_EQ(f.port.QueueCount(0), 0u) << "waiting bytes are discarded";
  EXPECT_EQ(f.state->setups.back(), std::make_pair(1024u, 2048u));
  EXPECT_EQ(f.port.Buffers().InputSize(), 1024);
}

std::uint32_t FlagsFor(TFlowControl flow) {
  FakePort f;
  f.port.SetDeviceName("dev");
  f.port.SetFlowControl(flow);
  EXPECT_TRUE(f.port.OpenDevice());
  return DCBFlags(f.LastDCB());
}

TEST(FlowControl, PresetsGiveTheirFlagWords) {
  EXPECT_EQ(FlagsFor(fcNone), 0x0001u);
  EXPECT_EQ(FlagsFor(fcRtsCts), 0x2015u);
  EXPECT_EQ(FlagsFor(fcSoftware), 0x0311u);
  EXPECT_EQ(FlagsFor(fcDtrDsr), 0x1019u);
}

TEST(FlowControl, PresetSets) {
  THostedComm port([](const std::string&) { return nullptr; });
  port.SetFlowControl(fcDtrDsr);
  EXPECT_EQ(port.RTSSettings(), (TRTSSettings{fsRTSEnabled}));
  EXPECT_EQ(port.DTRSettings(), (TDTRSettings{fsDSROut, fsDTREnabled}));
  EXPECT_TRUE(port.XOnXOffSettings().Empty());
  port.SetFlowControl(fcCustom);  // custom keeps the sets as they are
  EXPECT_EQ(port.RTSSettings(), (TRTSSettings{fsRTSEnabled}));
}

TEST(Handshake, SetsAreTakenOnlyWithCustomFlowControl) {
  THostedComm port([](const std::string&) { return nullptr; });
  port.SetRTSSettings({fsRTSEnabled});
  port.SetXOnXOffSettings({fsInX});
  EXPECT_TRUE(port.RTSSettings().Empty());
  EXPECT_TRUE(port.XOnXOffSettings().Empty());
  port.SetFlowControl(fcCustom);
  port.SetRTSSettings({fsRTSEnabled, fsRTSHandshake});
  port.SetXOnXOffSettings({fsInX});
  EXPECT_EQ(port.RTSSettings(), (TRTSSettings{fsRTSEnabled, fsRTSHandshake}));
  EXPECT_EQ(port.XOnXOffSettings(), (TXOnXOffSettings{fsInX}));
}

TEST(Handshake, RtsEnabledWithHandshakeIsToggleOnTheDevice) {
  FakePort f;
  f.port.SetDeviceName("dev");
  f.port.SetFlowControl(fcCustom);
  f.port.SetRTSSettings({fsRTSEnabled, fsRTSHandshake});
  ASSERT_TRUE(f.port.OpenDevice());
  EXPECT_EQ(f.LastDCB().fRtsControl, 3u);
}

TEST(Handshake, DtrEnabledAndHandshakeExcludeEachOther) {
  THostedComm port([](const std::string&) { return nullptr; });
  port.SetFlowControl(fcCustom);
  port.SetDTRSettings({});
  port.SetDTRSettings({fsDTREnabled, fsDTRHandshake});  // neither held: handshake wins
  EXPECT_EQ(port.DTRSettings(), (TDTRSettings{fsDTRHandshake}));
  port.SetDTRSettings({fsDTREnabled, fsDTRHandshake});  // handshake held: enabled wins
  EXPECT_EQ(port.DTRSettings(), (TDTRSettings{fsDTREnabled}));
}

TEST(Handshake, LeaveDtrOpenTurnsHandshakeIntoEnabled) {
  THostedComm port([](const std::string&) { return nullptr; });
  port.SetOptions({coLeaveDTROpen});
  EXPECT_EQ(port.DTRSettings(), (TDTRSettings{fsDTREnabled})) << "fcNone with coLeaveDTROpen";
  port.SetFlowControl(fcCustom);
  port.SetDTRSettings({fsDTRHandshake});
  EXPECT_EQ(port.DTRSettings(), (TDTRSettings{fsDTREnabled}));
}

TEST(Options, ChangingThemWhileClosedResetsCustomSetsToThePreset) {
  THostedComm port([](const std::string&) { return nullptr; });
  port.SetFlowControl(fcCustom);
  port.SetRTSSettings({fsCTSOut});
  port.SetXOnXOffSettings({fsOutX});
  port.SetOptions({coParityCheck});
  EXPECT_TRUE(port.RTSSettings().Empty());
  EXPECT_TRUE(port.XOnXOffSettings().Empty());
  EXPECT_EQ(port.DTRSettings(), (TDTRSettings{fsDTREnabled}));
}

TEST(Options, LeaveDtrOpenIsFrozenWhileOpenAndOptionsMapToFlags) {
  FakePort f;
  f.port.SetDeviceName("dev");
  ASSERT_TRUE(f.port.OpenDevice());
  f.port.SetOptions({coLeaveDTROpen, coParityCheck, coAbortOnError});
  EXPECT_EQ(f.port.Options(), (TCommOptions{coParityCheck, coAbortOnError}));
  EXPECT_EQ(DCBFlags(f.LastDCB()), 0x0001u | 0x0002u | 0x4000u);
  f.port.SetOptions({coDiscardNull, coErrorChar, coDSRSensitivity, coTXContinueOnXOff});
  EXPECT_EQ(DCBFlags(f.LastDCB()), 0x0001u | 0x0800u | 0x0400u | 0x0040u | 0x0080u);
  EXPECT_EQ(f.port.Options(),
            (TCommOptions{coDiscardNull, coErrorChar, coDSRSensitivity, coTXContinueOnXOff}));
  {  // while open the getter answers what the device holds, also when it changed behind the port
    std::lock_guard lock(f.state->mutex);
    SetDCBFlags(f.state->dcbs.back(), 0x0001u | 0x0002u);
  }
  EXPECT_EQ(f.port.Options(), (TCommOptions{coParityCheck}));
}

TEST(Settings, UnchangedValuesDoNotTouchTheDevice) {
  FakePort f;
  f.port.SetDeviceName("dev");
  ASSERT_TRUE(f.port.OpenDevice());
  const auto dcbs = f.DCBWrites();
  const auto timeouts = f.state->timeouts.size();
  f.port.SetBaudRate(br9600);
  f.port.DataControl().SetDataBits(db8);
  f.port.DataControl().SetParity(paNone);
  f.port.EventChars().SetXonChar(17);
  f.port.SetFlowControl(fcNone);
  f.port.SetOptions({});
  f.port.Timeouts().SetReadInterval(1);
  EXPECT_EQ(f.DCBWrites(), dcbs);
  EXPECT_EQ(f.state->timeouts.size(), timeouts);
  f.port.DataControl().SetParity(paEven);
  f.port.Timeouts().SetReadInterval(7);
  EXPECT_EQ(f.DCBWrites(), dcbs + 1);
  EXPECT_EQ(f.LastDCB().Parity, EVENPARITY);
  EXPECT_EQ(f.port.Timeouts().ReadInterval(), 7u);
}

TEST(Settings, DeviceNameCannotChangeWhileOpen) {
  FakePort f;
  f.port.SetDeviceName("first");
  ASSERT_TRUE(f.port.OpenDevice());
  f.port.SetDeviceName("second");
  EXPECT_EQ(f.port.DeviceName(), "first");
  f.port.CloseDevice();
  f.port.SetDeviceName("second");
  EXPECT_EQ(f.port.DeviceName(), "second");
}

// A stored configuration applies properties in declaration order: the handshake sets come
// before FlowControl, so they only stick when FlowControl was already custom.
TEST(Settings, StoredConfigurationOrderMatters) {
  THostedComm port([](const std::string&) { return nullptr; });
  port.SetRTSSettings({fsRTSEnabled});
  port.SetDTRSettings({fsDTREnabled});
  port.SetFlowControl(fcCustom);
  EXPECT_TRUE(port.RTSSettings().Empty());
  EXPECT_TRUE(port.DTRSettings().Empty());
}

// The port the window configures, as the device receives it.
TEST(ControlBlock, WindowPortSettings) {
  FakePort f;
  TXComm& p = f.port;
  p.SetDeviceName("COM1");
  p.SetBaudRate(br9600);
  p.Buffers().SetInputTimeout(5000);
  p.Buffers().SetOutputTimeout(5000);
  p.Timeouts().SetReadInterval(100);
  p.Timeouts().SetReadMultiplier(10);
  p.Timeouts().SetReadConstant(200);
  p.Timeouts().SetWriteMultiplier(10);
  p.Timeouts().SetWriteConstant(200);
  ASSERT_TRUE(p.OpenDevice());
  const DCB dcb = f.LastDCB();
  EXPECT_EQ(dcb.DCBlength, 28u);
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(DCBFlags(dcb), 0x0001u);
  EXPECT_EQ(dcb.XonLim, 512);
  EXPECT_EQ(dcb.XoffLim, 512);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, NOPARITY);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
  EXPECT_EQ(dcb.XonChar, 17);
  EXPECT_EQ(dcb.XoffChar, 19);
  EXPECT_EQ(dcb.ErrorChar, 0);
  EXPECT_EQ(dcb.EofChar, 0);
  EXPECT_EQ(dcb.EvtChar, 10);
  EXPECT_EQ(dcb.wReserved, 0);
  EXPECT_EQ(dcb.wReserved1, 0);
  EXPECT_EQ(f.state->setups.back(), std::make_pair(2048u, 2048u));
  const COMMTIMEOUTS t = f.state->timeouts.back();
  EXPECT_EQ(t.ReadIntervalTimeout, 100u);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 10u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 200u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 10u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 200u);
  EXPECT_EQ(p.DataControl().DataBits(), db8) << "read back from an 8-bit device";
}

TEST(ControlBlock, CharacterFormatMapping) {
  FakePort f;
  f.port.SetDeviceName("dev");
  f.port.DataControl().SetDataBits(db7);
  f.port.DataControl().SetParity(paSpace);
  f.port.DataControl().SetStopBits(sb2);
  ASSERT_TRUE(f.port.OpenDevice());
  EXPECT_EQ(f.LastDCB().ByteSize, 7);
  EXPECT_EQ(f.LastDCB().Parity, SPACEPARITY);
  EXPECT_EQ(f.LastDCB().StopBits, TWOSTOPBITS);
  EXPECT_EQ(f.port.DataControl().Parity(), paSpace);
  EXPECT_EQ(f.port.DataControl().StopBits(), sb2);
}

TEST(Assign, CopiesValuesAndReappliesOnce) {
  FakePort a;
  FakePort b;
  a.port.SetDeviceName("a");
  ASSERT_TRUE(a.port.OpenDevice());
  b.port.DataControl().SetDataBits(db7);
  b.port.DataControl().SetParity(paOdd);
  const auto dcbs = a.DCBWrites();
  a.port.SetDataControl(b.port.DataControl());
  EXPECT_EQ(a.DCBWrites(), dcbs + 1);
  EXPECT_EQ(a.LastDCB().ByteSize, 7);
  EXPECT_EQ(a.LastDCB().Parity, ODDPARITY);
  a.port.SetDataControl(a.port.DataControl());  // its own object: nothing happens
  EXPECT_EQ(a.DCBWrites(), dcbs + 1);

  TCommTimeoutsEx& timeouts = b.port.Timeouts();
  timeouts.SetReadInterval(11);
  timeouts.SetReadMultiplier(12);
  timeouts.SetReadConstant(13);
  timeouts.SetWriteMultiplier(14);
  timeouts.SetWriteConstant(15);
  a.port.SetTimeouts(timeouts);
  const COMMTIMEOUTS t = a.state->timeouts.back();
  EXPECT_EQ((std::vector<DWORD>{t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier,
                                t.ReadTotalTimeoutConstant, t.WriteTotalTimeoutMultiplier,
                                t.WriteTotalTimeoutConstant}),
            (std::vector<DWORD>{11, 12, 13, 14, 15}));

  TCommEventChars& chars = b.port.EventChars();
  chars.SetXonChar('1');
  chars.SetXoffChar('2');
  chars.SetEofChar('3');
  chars.SetErrorChar('4');
  chars.SetEventChar('5');
  a.port.SetEventChars(chars);
  const DCB dcb = a.LastDCB();
  EXPECT_EQ(std::string({dcb.XonChar, dcb.XoffChar, dcb.EofChar, dcb.ErrorChar, dcb.EvtChar}),
            "12345");
}

TEST(Assign, BuffersTakeLiveSizesWithoutClamping) {
  FakePort open;
  open.port.SetDeviceName("dev");
  ASSERT_TRUE(open.port.OpenDevice());
  {
    std::lock_guard lock(open.state->mutex);
    open.state->setups.back() = {100, 60000};  // what the driver reports
  }
  open.port.Buffers().SetInputTimeout(1234);
  THostedComm other([](const std::string&) { return nullptr; });
  other.SetBuffers(open.port.Buffers());
  EXPECT_EQ(other.Buffers().InputSize(), 100);
  EXPECT_EQ(other.Buffers().OutputSize(), 60000);
  EXPECT_EQ(other.Buffers().InputTimeout(), 1234);
}

TEST(Getters, FallBackToHeldValuesWhenTheDeviceQueryFails) {
  FakePort f;
  f.port.SetDeviceName("dev");
  f.port.DataControl().SetParity(paEven);
  ASSERT_TRUE(f.port.OpenDevice());
  {
    std::lock_guard lock(f.state->mutex);
    f.state->failQueries = true;
  }
  EXPECT_EQ(f.port.DataControl().Parity(), paEven);
  EXPECT_EQ(f.port.Timeouts().ReadConstant(), 1u);
  EXPECT_EQ(f.port.Buffers().InputSize(), 2048);
  EXPECT_EQ(f.port.QueueCount(0), 0u);
}

TEST(Defaults, ConstructionValues) {
  THostedComm port([](const std::string&) { return nullptr; });
  EXPECT_EQ(port.DeviceName(), "COM2");
  EXPECT_EQ(port.BaudRate(), br9600);
  EXPECT_EQ(port.BaudValue(), 9600u);
  EXPECT_EQ(port.FlowControl(), fcNone);
  EXPECT_EQ(port.MonitorEvents(), (TDeviceEvents{deChar, deFlag, deOutEmpty}));
  EXPECT_TRUE(port.Synchronize());
  EXPECT_EQ(port.Buffers().InputSize(), 2048);
  EXPECT_EQ(port.Buffers().InputTimeout(), 500);
  EXPECT_EQ(port.Buffers().OutputTimeout(), 500);
  EXPECT_EQ(port.EventChars().EventChar(), 10);
  EXPECT_EQ(port.Timeouts().ReadInterval(), 1u);
  EXPECT_EQ(port.Timeouts().ReadMultiplier(), 0u);
  EXPECT_EQ(port.DataControl().DataBits(), db8);
  EXPECT_EQ(TDeviceEvents{deIn80Full}.Bits(), 0x0400);
  EXPECT_EQ(TDeviceEvents{deProv2}.Bits(), 0x1000);
}

}  // namespace
