// The port error type: codes, texts and the long form built from the system's message.

#include <gtest/gtest.h>

#include <cerrno>

#include "SystemError.h"
#include "XComErr.h"
#ifdef _WIN32
#include "WinTypes.h"  // SetLastError
#endif

using namespace xcom;

namespace {

TEST(DeviceError, CarriesMessageAndCode) {
  try {
    RaiseDeviceError(ErrorMessages().DeviceAlreadyOpened, 2);
    FAIL() << "no exception";
  } catch (const EDeviceError& e) {
    EXPECT_STREQ(e.what(), "Device is allready opened.");
    EXPECT_EQ(e.ErrorCode(), 2);
    EXPECT_EQ(e.HelpContext(), 0);
  }
}

TEST(DeviceError, MessagesAreWordedAsTheUserSeesThem) {
  const DeviceErrorMessages& m = ErrorMessages();
  EXPECT_EQ(m.DeviceNotOpened, "Device not opened.");
  EXPECT_EQ(m.UpdateDCBFailed, "Unable to update device control block.");
  EXPECT_EQ(m.SendLocked, "Device locked. Cannot perform send operations.");
  EXPECT_EQ(m.ReadLocked, "Device locked. Cannot perform read operations.");
  EXPECT_EQ(m.UpdateBuffersFailed, "Unable to update IO buffers.");
  EXPECT_EQ(m.UpdateTimeoutsFailed, "Unable to update Timeouts.");
  EXPECT_EQ(m.ReadFailed, "Unable to read from port.");
}

TEST(DeviceError, MessagesCanBeReplaced) {
  const std::string original = ErrorMessages().DeviceNotOpened;
  ErrorMessages().DeviceNotOpened = "Port geschlossen.";
  try {
    RaiseDeviceError(DeviceError::DeviceNotOpened);
    ADD_FAILURE() << "no exception";
  } catch (const EDeviceError& e) {
    EXPECT_STREQ(e.what(), "Port geschlossen.");
    EXPECT_EQ(e.ErrorCode(), 1);
  }
  ErrorMessages().DeviceNotOpened = original;
}

TEST(DeviceError, EveryCodeHasItsOwnMessageAndEightAndNineNone) {
  const int codes[] = {1, 2, 3, 4, 5, 6, 7, 10, 11};
  ASSERT_EQ(std::size(kDeviceErrors), std::size(codes));
  for (std::size_t i = 0; i < std::size(codes); ++i) {
    EXPECT_EQ(static_cast<int>(kDeviceErrors[i].code), codes[i]);
    for (std::size_t j = 0; j < i; ++j)
      EXPECT_NE(kDeviceErrors[i].message, kDeviceErrors[j].message) << codes[i];
  }
  EXPECT_EQ(ErrorMessage(DeviceError::ReadLocked),
            "Device locked. Cannot perform read operations.");
  EXPECT_EQ(ErrorMessage(DeviceError::UpdateTimeoutsFailed), "Unable to update Timeouts.");
  EXPECT_EQ(ErrorMessage(static_cast<DeviceError>(8)), "");
}

TEST(SystemText, TrailingBlanksControlsAndFullStopsAreTrimmed) {
  EXPECT_EQ(TrimSystemText("The device is not ready.\r\n"), "The device is not ready");
  EXPECT_EQ(TrimSystemText("Access denied. . \t"), "Access denied");
  EXPECT_EQ(TrimSystemText("...\n"), "");
  EXPECT_EQ(TrimSystemText("v1.2 ok"), "v1.2 ok");
  EXPECT_EQ(TrimSystemText(""), "");
}

TEST(SystemText, LongFormEndsInColonBlankParenthesisWithoutText) {
  EXPECT_EQ(FormatDeviceErrorMessage("Unable to read from port.", 5, "Input/output error.\r\n"),
            "Unable to read from port. (Win32 error 5: Input/output error)");
  EXPECT_EQ(FormatDeviceErrorMessage("Unable to read from port.", 999999, ""),
            "Unable to read from port. (Win32 error 999999: )");
  EXPECT_EQ(FormatDeviceErrorMessage("x", -3, "y"), "x (Win32 error -3: y)");
}

TEST(SystemText, RaiseLastDeviceErrorUsesTheThreadsLastError) {
#ifdef _WIN32
  SetLastError(5);
#else
  errno = EIO;
#endif
  const int expected = LastSystemError();
  try {
    RaiseLastDeviceError(ErrorMessages().ReadFailed, 10);
    FAIL() << "no exception";
  } catch (const EDeviceError& e) {
    EXPECT_EQ(e.ErrorCode(), 10);
    const std::string text = TrimSystemText(SystemErrorText(expected));
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(e.Message(), "Unable to read from port. (Win32 error " + std::to_string(expected) +
                               ": " + text + ")");
  }
}

}  // namespace
