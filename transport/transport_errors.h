#pragma once

#include <cstdint>
#include <string>

#include "runtime/exception.h"

// Every error the transport raises. All derive from EIdException, which
// derives from the general Exception, so the monitor's handlers take them.

DECLARE_ERROR_CLASS(EIdException, Exception);

DECLARE_ERROR_CLASS(EIdSilentException, EIdException);
DECLARE_FIXED_ERROR_CLASS(EIdConnClosedGracefully, EIdSilentException,
                          "Connection Closed Gracefully.");

DECLARE_ERROR_CLASS(EIdTCPConnectionError, EIdException);
DECLARE_FIXED_ERROR_CLASS(EIdNotEnoughDataInBuffer, EIdTCPConnectionError,
                          "Not enough data in buffer.");
DECLARE_FIXED_ERROR_CLASS(EIdNoDataToRead, EIdTCPConnectionError, "No data to read.");
DECLARE_FIXED_ERROR_CLASS(EIdNotConnected, EIdTCPConnectionError, "Not Connected");
DECLARE_ERROR_CLASS(EIdFileNotFound, EIdTCPConnectionError);

DECLARE_FIXED_ERROR_CLASS(EIdAlreadyConnected, EIdException, "Already connected.");
DECLARE_FIXED_ERROR_CLASS(EIdReadTimeout, EIdException, "Read Timeout");
DECLARE_FIXED_ERROR_CLASS(EIdReadLnMaxLineLengthExceeded, EIdException,
                          "Max line length exceeded.");

DECLARE_FIXED_ERROR_CLASS(EIdConnectTimeout, EIdException, "Connect timed out.");
DECLARE_ERROR_CLASS(EIdConnectException, EIdException);
DECLARE_FIXED_ERROR_CLASS(EIdClosedSocket, EIdException, "Disconnected.");
DECLARE_ERROR_CLASS(EIdSocketHandleError, EIdException);
DECLARE_FIXED_ERROR_CLASS(EIdCouldNotBindSocket, EIdSocketHandleError,
                          "Could not bind socket. Address and port are already in use.");
DECLARE_ERROR_CLASS(EIdCanNotBindPortInRange, EIdSocketHandleError);
DECLARE_ERROR_CLASS(EIdInvalidPortRange, EIdSocketHandleError);

DECLARE_FIXED_ERROR_CLASS(EIdInvalidSocket, EIdException, "Cannot allocate socket.");
DECLARE_ERROR_CLASS(EIdInvalidServiceName, EIdException);
DECLARE_ERROR_CLASS(EIdStackError, EIdException);
DECLARE_FIXED_ERROR_CLASS(EIdStackInitializationFailed, EIdStackError,
                          "Winsock Initialization Error.");
DECLARE_FIXED_ERROR_CLASS(EIdStackSetSizeExceeded, EIdStackError, "Set Size Exceeded.");

/// A checked sockets-library call failed; `ErrorCode()` is the Windows Sockets
/// number and the message "Socket Error # %d\r\n%s".
class EIdSocketError : public EIdException {
 public:
  EIdSocketError(int error_code, std::string message)
      : EIdException(std::move(message)), error_code_(error_code) {}
  int ErrorCode() const { return error_code_; }
  const char* ClassName() const override { return "EIdSocketError"; }

 private:
  int error_code_;
};

/// The sockets library could not be loaded, or one of its functions was called
/// while it is not loaded. The message is `BaseText()`, and when `SystemCode()`
/// is not 0, ": " and the operating system's text for that code.
class EIdWS2StubError : public EIdException {
 public:
  EIdWS2StubError(std::string base_text, std::int32_t system_code);
  std::int32_t SystemCode() const { return system_code_; }
  const std::string& SystemText() const { return system_text_; }
  const std::string& BaseText() const { return base_text_; }
  const char* ClassName() const override { return "EIdWS2StubError"; }

 private:
  EIdWS2StubError(std::string base_text, std::int32_t system_code, std::string system_text);

  std::int32_t system_code_;
  std::string system_text_;
  std::string base_text_;
};

/// A command/response reply outside the allowed codes; the message is the
/// reply's text and `ReplyErrorCode()` its numeric code.
class EIdProtocolReplyError : public EIdException {
 public:
  EIdProtocolReplyError(int reply_code, std::string message)
      : EIdException(std::move(message)), reply_code_(reply_code) {}
  int ReplyErrorCode() const { return reply_code_; }
  const char* ClassName() const override { return "EIdProtocolReplyError"; }

 private:
  int reply_code_;
};
