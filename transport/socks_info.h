#pragma once

#include <cstdint>
#include <string>

#include "transport/transport_component.h"

enum class TSocksAuthentication { saNoAuthentication, saUsernamePassword };
enum class TSocksVersion { svNoSocks, svSocks4, svSocks4A, svSocks5 };

/// Proxy settings of a socket I/O handler. Only the direct connection
/// (svNoSocks) is implemented; the proxy versions only redirect the target.
class TIdSocksInfo : public TIdComponent {
 public:
  using TIdComponent::TIdComponent;

  void Assign(const TIdSocksInfo& source) {
    Authentication = source.Authentication;
    Host = source.Host;
    Password = source.Password;
    Port = source.Port;
    Username = source.Username;
    Version = source.Version;
  }

  TSocksAuthentication Authentication = TSocksAuthentication::saNoAuthentication;
  std::string Host;
  std::string Password;
  std::int32_t Port = 1080;
  std::string Username;
  TSocksVersion Version = TSocksVersion::svNoSocks;
};
