#include "transport/transport_errors.h"

#include "transport/sockets_binding_system.h"

EIdWS2StubError::EIdWS2StubError(std::string base_text, std::int32_t system_code)
    : EIdWS2StubError(
          std::move(base_text), system_code,
          system_code == 0 ? std::string() : sockets_binding::SystemCodeText(system_code)) {}

EIdWS2StubError::EIdWS2StubError(std::string base_text, std::int32_t system_code,
                                 std::string system_text)
    : EIdException(system_code == 0 ? base_text : base_text + ": " + system_text),
      system_code_(system_code),
      system_text_(std::move(system_text)),
      base_text_(std::move(base_text)) {}
