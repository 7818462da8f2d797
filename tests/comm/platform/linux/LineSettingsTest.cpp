// The control block on the driver: every field termios holds reaches it and reads back, what
// termios cannot hold is kept by the device object, and settings the device cannot take fail
// without changing the line.
#include <termios.h>

#include <atomic>

#include "LineSettings.h"
#include "PlatformTestSupport.h"

namespace xcom::testing {
namespace {

termios DriverSettings(const OpenPty& p) {
  termios t{};
  EXPECT_EQ(::tcgetattr(p.pty.SlaveFd(), &t), 0);
  return t;
}

DCB ReadBack(CommDevice& device) {
  DCB dcb;
  std::memset(&dcb, 0xEE, sizeof dcb);
  EXPECT_TRUE(device.GetCommState(dcb));
  return dcb;
}

TEST(LineSettings, OpeningPutsTheLineInRawMode) {
  ptytest::PtyPair pty;
  termios cooked{};
  ASSERT_EQ(::tcgetattr(pty.SlaveFd(), &cooked), 0);
  cooked.c_lflag |= ECHO | ICANON | ISIG | IEXTEN;
  cooked.c_iflag |= ICRNL | IXON;
  cooked.c_oflag |= OPOST | ONLCR;
  ASSERT_EQ(::tcsetattr(pty.SlaveFd(), TCSANOW, &cooked), 0);

  auto device = OpenPlatformDevice(pty.SlavePath());
  ASSERT_TRUE(device);
  termios t{};
  ASSERT_EQ(::tcgetattr(pty.SlaveFd(), &t), 0);
  EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_iflag & ICRNL, 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
  EXPECT_EQ(t.c_cc[VMIN], 1);
  EXPECT_EQ(t.c_cc[VTIME], 0);

  // Nothing is echoed or translated: a carriage return arrives as it was sent.
  ASSERT_TRUE(pty.WriteMaster(Bytes{'a', '\r', 0x03}));
  ASSERT_TRUE(WaitForQueued(*device, 3));
  std::uint8_t got[3] = {};
  EXPECT_EQ(device->ReadOverlapped(got, 3), 3u);
  EXPECT_EQ(Bytes(got, got + 3), (Bytes{'a', '\r', 0x03}));
  EXPECT_TRUE(pty.DrainMaster().empty());
  // And line feeds go out without a carriage return put in front.
  const std::uint8_t lf[] = {'\n'};
  EXPECT_EQ(device->WriteOverlapped(lf, 1), 1u);
  EXPECT_EQ(pty.ReadMaster(2, 200), Bytes{'\n'});
}

// A pseudo-terminal forces 8 data bits and clears PARENB whatever it is given, so what the
// layer asks of the driver is checked on the mapping, and what a pty keeps on the pty.
TEST(LineSettingsMapping, DataBitsFiveToEight) {
  const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
  for (int bits = 5; bits <= 8; ++bits) {
    DCB dcb = PlainDcb();
    dcb.ByteSize = static_cast<BYTE>(bits);
    LineSettings line;
    line.cflag = CS8 | HUPCL;
    ASSERT_TRUE(ApplyDcbToLine(dcb, line)) << bits;
    EXPECT_EQ(line.cflag & CSIZE, sizes[bits - 5]) << bits;
    EXPECT_NE(line.cflag & HUPCL, 0u) << "bits the block does not decide stay";
    DCB back = PlainDcb();
    OverlayLineOnDcb(line, back);
    EXPECT_EQ(back.ByteSize, bits);
  }
}

TEST(LineSettingsMapping, EveryParityIncludingMarkAndSpace) {
  struct Case {
    BYTE parity;
    tcflag_t bits;
  } cases[] = {{NOPARITY, 0},
               {ODDPARITY, PARENB | PARODD},
               {EVENPARITY, PARENB},
               {MARKPARITY, PARENB | PARODD | CMSPAR},
               {SPACEPARITY, PARENB | CMSPAR}};
  for (const Case& c : cases) {
    DCB dcb = PlainDcb();
    dcb.Parity = c.parity;
    LineSettings line;
    line.cflag = PARENB | PARODD | CMSPAR;  // whatever was there before
    ASSERT_TRUE(ApplyDcbToLine(dcb, line)) << int(c.parity);
    EXPECT_EQ(line.cflag & (PARENB | PARODD | CMSPAR), c.bits) << int(c.parity);
    DCB back = PlainDcb();
    back.Parity = 99;
    OverlayLineOnDcb(line, back);
    EXPECT_EQ(back.Parity, c.parity);
    // A driver that does not hold the format (a pty) leaves the block's values.
    back.Parity = c.parity;
    back.ByteSize = 6;
    line.cflag = CS8;
    OverlayLineOnDcb(line, back, /*formatFromDriver=*/false);
    EXPECT_EQ(back.Parity, c.parity);
    EXPECT_EQ(back.ByteSize, 6);
  }
}

TEST(LineSettings, CharacterFormatOnAPseudoTerminal) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  for (int bits = 5; bits <= 8; ++bits) {
    DCB dcb = PlainDcb();
    dcb.ByteSize = static_cast<BYTE>(bits);
    ASSERT_TRUE(p.device->SetCommState(dcb)) << bits;
    EXPECT_EQ(ReadBack(*p.device).ByteSize, bits);
  }
  struct Case {
    BYTE parity;
    tcflag_t keptByThePty;
  } cases[] = {{NOPARITY, 0},
               {ODDPARITY, PARODD},
               {EVENPARITY, 0},
               {MARKPARITY, PARODD | CMSPAR},
               {SPACEPARITY, CMSPAR}};
  for (const Case& c : cases) {
    DCB dcb = PlainDcb();
    dcb.Parity = c.parity;
    dcb.ByteSize = 7;
    ASSERT_TRUE(p.device->SetCommState(dcb)) << int(c.parity);
    EXPECT_EQ(DriverSettings(p).c_cflag & (PARODD | CMSPAR), c.keptByThePty) << int(c.parity);
    const DCB back = ReadBack(*p.device);
    EXPECT_EQ(back.Parity, c.parity);
    EXPECT_EQ(back.ByteSize, 7);
  }
  // Checking parity on input is a flag of its own.
  DCB checked = PlainDcb();
  checked.Parity = EVENPARITY;
  checked.fParity = 1;
  ASSERT_TRUE(p.device->SetCommState(checked));
  EXPECT_NE(DriverSettings(p).c_iflag & INPCK, 0u);
  EXPECT_EQ(ReadBack(*p.device).fParity, 1u);
}

TEST(LineSettings, OneAndTwoStopBits) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  DCB dcb = PlainDcb();
  dcb.StopBits = TWOSTOPBITS;
  ASSERT_TRUE(p.device->SetCommState(dcb));
  EXPECT_NE(DriverSettings(p).c_cflag & CSTOPB, 0u);
  EXPECT_EQ(ReadBack(*p.device).StopBits, TWOSTOPBITS);
  dcb.StopBits = ONESTOPBIT;
  ASSERT_TRUE(p.device->SetCommState(dcb));
  EXPECT_EQ(DriverSettings(p).c_cflag & CSTOPB, 0u);
  EXPECT_EQ(ReadBack(*p.device).StopBits, ONESTOPBIT);
}

TEST(LineSettings, HardwareHandshakeIsCrtscts) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  DCB ctsOnly = PlainDcb();
  ctsOnly.fOutxCtsFlow = 1;
  DCB rtsOnly = PlainDcb();
  rtsOnly.fRtsControl = 2;  // RTS_CONTROL_HANDSHAKE
  DCB both = PlainDcb();
  both.fOutxCtsFlow = 1;
  both.fRtsControl = 2;
  for (const DCB& dcb : {ctsOnly, rtsOnly, both}) {
    ASSERT_TRUE(p.device->SetCommState(dcb));
    EXPECT_NE(DriverSettings(p).c_cflag & CRTSCTS, 0u);
    EXPECT_TRUE(SameBlock(ReadBack(*p.device), dcb)) << "the block reads back as written";
  }
  ASSERT_TRUE(p.device->SetCommState(PlainDcb()));
  EXPECT_EQ(DriverSettings(p).c_cflag & CRTSCTS, 0u);
}

TEST(LineSettings, SoftwareFlowControlWithItsCharacters) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  DCB dcb = PlainDcb();
  dcb.fOutX = 1;
  dcb.XonChar = 'Q';
  dcb.XoffChar = 'S';
  ASSERT_TRUE(p.device->SetCommState(dcb));
  termios t = DriverSettings(p);
  EXPECT_NE(t.c_iflag & IXON, 0u);
  EXPECT_EQ(t.c_iflag & IXOFF, 0u);
  EXPECT_EQ(t.c_cc[VSTART], 'Q');
  EXPECT_EQ(t.c_cc[VSTOP], 'S');
  EXPECT_TRUE(SameBlock(ReadBack(*p.device), dcb));

  // The driver obeys them: after 'S' from the other end nothing goes out until 'Q'. The byte
  // behind the 'S' shows when the driver has taken it, however busy the machine is.
  ASSERT_TRUE(p.pty.WriteMaster(std::string("Sx")));
  ASSERT_TRUE(WaitForQueued(*p.device, 1));
  std::uint8_t marker = 0;
  ASSERT_EQ(p.device->ReadOverlapped(&marker, 1), 1u);
  EXPECT_EQ(marker, 'x');
  std::atomic<std::uint32_t> written{0};
  {
    ptytest::PeerThread writer([&] {
      const std::uint8_t data[] = {'a', 'b', 'c'};
      written = p.device->WriteOverlapped(data, 3);
    });
    EXPECT_TRUE(p.pty.ReadMaster(3, 200).empty());
    ASSERT_TRUE(p.pty.WriteMaster(std::string("Q")));
    EXPECT_EQ(p.pty.ReadMaster(3), (Bytes{'a', 'b', 'c'}));
  }
  EXPECT_EQ(written.load(), 3u);
  EXPECT_EQ(InputCount(*p.device), 0u) << "the flow-control characters are not data";

  dcb.fOutX = 0;
  dcb.fInX = 1;
  ASSERT_TRUE(p.device->SetCommState(dcb));
  t = DriverSettings(p);
  EXPECT_EQ(t.c_iflag & IXON, 0u);
  EXPECT_NE(t.c_iflag & IXOFF, 0u);
  EXPECT_TRUE(SameBlock(ReadBack(*p.device), dcb));
}

TEST(LineSettings, AnyBaudRateReadsBack) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  for (DWORD rate : {76800u, 14400u, 33600u, 28800u, 921600u, 9600u, 110u, 256000u, 1u}) {
    DCB dcb = PlainDcb();
    dcb.BaudRate = rate;
    ASSERT_TRUE(p.device->SetCommState(dcb)) << rate;
    EXPECT_EQ(ReadBack(*p.device).BaudRate, rate);
  }
  // Rates with a speed code of their own are set by it, visible to plain termios programs.
  DCB dcb = PlainDcb();
  dcb.BaudRate = 921600;
  ASSERT_TRUE(p.device->SetCommState(dcb));
  termios t = DriverSettings(p);
  EXPECT_EQ(cfgetospeed(&t), speed_t(B921600));
  dcb.BaudRate = 19200;
  ASSERT_TRUE(p.device->SetCommState(dcb));
  t = DriverSettings(p);
  EXPECT_EQ(cfgetispeed(&t), speed_t(B19200));
}

TEST(LineSettings, RefusedSettingsFailAndLeaveTheLineAlone) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  DCB good = PlainDcb();
  good.BaudRate = 76800;
  good.Parity = ODDPARITY;
  ASSERT_TRUE(p.device->SetCommState(good));
  const DCB before = ReadBack(*p.device);
  const termios driverBefore = DriverSettings(p);

  std::vector<std::pair<const char*, DCB>> refused;
  auto add = [&](const char* what, auto change) {
    DCB dcb = PlainDcb();
    change(dcb);
    refused.emplace_back(what, dcb);
  };
  add("4 data bits", [](DCB& d) { d.ByteSize = 4; });
  add("9 data bits", [](DCB& d) { d.ByteSize = 9; });
  add("1.5 stop bits", [](DCB& d) { d.StopBits = ONE5STOPBITS; });
  add("stop bits 3", [](DCB& d) { d.StopBits = 3; });
  add("5 data bits, 2 stop bits", [](DCB& d) {
    d.ByteSize = 5;
    d.StopBits = TWOSTOPBITS;
  });
  add("baud 0", [](DCB& d) { d.BaudRate = 0; });
  add("parity 5", [](DCB& d) { d.Parity = 5; });
  add("XON equal to XOFF, output", [](DCB& d) {
    d.fOutX = 1;
    d.XonChar = d.XoffChar = 19;
  });
  add("XON equal to XOFF, input", [](DCB& d) {
    d.fInX = 1;
    d.XonChar = d.XoffChar = 17;
  });
  for (const auto& [what, dcb] : refused) {
    errno = 0;
    EXPECT_FALSE(p.device->SetCommState(dcb)) << what;
    EXPECT_EQ(errno, EINVAL) << what;
    EXPECT_TRUE(SameBlock(ReadBack(*p.device), before)) << what;
    const termios now = DriverSettings(p);
    EXPECT_EQ(now.c_cflag, driverBefore.c_cflag) << what;
    EXPECT_EQ(now.c_iflag, driverBefore.c_iflag) << what;
  }
  // Equal characters are fine while no XON/XOFF flow control uses them.
  DCB noFlow = PlainDcb();
  noFlow.XonChar = noFlow.XoffChar = 0;
  EXPECT_TRUE(p.device->SetCommState(noFlow));
}

// A block with every field set: what termios holds and what only the device object keeps.
DCB FullBlock() {
  DCB dcb = PlainDcb();
  dcb.BaudRate = 76800;
  dcb.fParity = 1;
  dcb.fOutxCtsFlow = 1;
  dcb.fOutxDsrFlow = 1;
  dcb.fDtrControl = 2;
  dcb.fDsrSensitivity = 1;
  dcb.fTXContinueOnXoff = 1;
  dcb.fOutX = 1;
  dcb.fInX = 1;
  dcb.fErrorChar = 1;
  dcb.fNull = 1;
  dcb.fRtsControl = 2;
  dcb.fAbortOnError = 1;
  dcb.XonLim = 512;
  dcb.XoffLim = 128;
  dcb.ByteSize = 7;
  dcb.Parity = EVENPARITY;
  dcb.StopBits = TWOSTOPBITS;
  dcb.ErrorChar = '?';
  dcb.EofChar = 26;
  dcb.EvtChar = '\n';
  return dcb;
}

TEST(LineSettings, GetCommStateAnswersEveryFieldThatWasWritten) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  const DCB dcb = FullBlock();
  ASSERT_TRUE(p.device->SetCommState(dcb));
  EXPECT_TRUE(SameBlock(ReadBack(*p.device), dcb));
}

TEST(LineSettings, GetCommStateShowsWhatTheDriverHoldsNow) {
  OpenPty p;
  ASSERT_TRUE(p.device);
  DCB dcb = FullBlock();
  ASSERT_TRUE(p.device->SetCommState(dcb));

  // Someone changes the line behind the device object's back.
  termios t{};
  ASSERT_EQ(::tcgetattr(p.pty.SlaveFd(), &t), 0);
  t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS)) | CS8;
  t.c_iflag &= ~(IXON | INPCK);
  t.c_cc[VSTART] = 'A';
  cfsetispeed(&t, B19200);
  cfsetospeed(&t, B19200);
  ASSERT_EQ(::tcsetattr(p.pty.SlaveFd(), TCSANOW, &t), 0);

  const DCB now = ReadBack(*p.device);
  EXPECT_EQ(now.BaudRate, 19200u);
  EXPECT_EQ(now.StopBits, ONESTOPBIT);
  EXPECT_EQ(now.ByteSize, 7) << "a pty holds no character format: the block's stays";
  EXPECT_EQ(now.Parity, EVENPARITY);
  EXPECT_EQ(now.fParity, 0u);
  EXPECT_EQ(now.fOutX, 0u);
  EXPECT_EQ(now.fInX, 1u);
  EXPECT_EQ(now.XonChar, 'A');
  EXPECT_EQ(now.XoffChar, 19);
  EXPECT_EQ(now.fOutxCtsFlow, 0u);
  EXPECT_EQ(now.fRtsControl, 1u) << "no handshake any more: RTS simply on";
  // What termios has no place for stays as written.
  EXPECT_EQ(now.XonLim, 512);
  EXPECT_EQ(now.XoffLim, 128);
  EXPECT_EQ(now.EvtChar, '\n');
  EXPECT_EQ(now.EofChar, 26);
  EXPECT_EQ(now.ErrorChar, '?');
  EXPECT_EQ(now.fDsrSensitivity, 1u);
  EXPECT_EQ(now.fTXContinueOnXoff, 1u);
  EXPECT_EQ(now.fNull, 1u);
  EXPECT_EQ(now.fAbortOnError, 1u);
  EXPECT_EQ(now.fErrorChar, 1u);
  EXPECT_EQ(now.fOutxDsrFlow, 1u);
  EXPECT_EQ(now.fDtrControl, 2u);
  EXPECT_EQ(now.DCBlength, sizeof(DCB));
}

TEST(LineSettings, GetCommStateBeforeAnyBlockWasWritten) {
  ptytest::PtyPair pty;
  termios t{};
  ASSERT_EQ(::tcgetattr(pty.SlaveFd(), &t), 0);
  t.c_cflag |= CSTOPB;
  t.c_cc[VSTART] = 'G';
  cfsetospeed(&t, B4800);
  cfsetispeed(&t, B4800);
  ASSERT_EQ(::tcsetattr(pty.SlaveFd(), TCSANOW, &t), 0);
  auto device = OpenPlatformDevice(pty.SlavePath());
  ASSERT_TRUE(device);
  const DCB dcb = ReadBack(*device);
  EXPECT_EQ(dcb.DCBlength, sizeof(DCB));
  EXPECT_EQ(dcb.fBinary, 1u);
  EXPECT_EQ(dcb.BaudRate, 4800u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, NOPARITY);
  EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
  EXPECT_EQ(dcb.XonChar, 'G');
}

// The mapping itself, where it decides something the pty cannot show.
TEST(LineSettingsMapping, HandshakeTurnedOnBehindTheBlockShowsBothHalves) {
  DCB dcb = PlainDcb();
  LineSettings line;
  ASSERT_TRUE(ApplyDcbToLine(dcb, line));
  line.cflag |= CRTSCTS;
  OverlayLineOnDcb(line, dcb);
  EXPECT_EQ(dcb.fOutxCtsFlow, 1u);
  EXPECT_EQ(dcb.fRtsControl, 2u);
}

TEST(LineSettingsMapping, ModemLinesOverlayOnlyPlainOnOffControl) {
  DCB dcb = PlainDcb();
  dcb.fDtrControl = 1;
  dcb.fRtsControl = 0;
  OverlayModemLinesOnDcb(false, true, dcb);
  EXPECT_EQ(dcb.fDtrControl, 0u);
  EXPECT_EQ(dcb.fRtsControl, 1u);
  dcb.fDtrControl = 2;  // handshake
  dcb.fRtsControl = 3;  // toggle
  OverlayModemLinesOnDcb(true, false, dcb);
  EXPECT_EQ(dcb.fDtrControl, 2u);
  EXPECT_EQ(dcb.fRtsControl, 3u);
}

}  // namespace
}  // namespace xcom::testing
