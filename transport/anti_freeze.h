#pragma once

#include <cstdint>

#include "transport/transport_component.h"

/// The process-wide give-time hook: while one is registered and active,
/// blocking transport calls on the main thread hand time to ProcessEvents.
/// Constructing one registers it (replacing an earlier one); destroying any
/// anti-freeze clears the registration.
class TIdAntiFreezeBase : public TIdBaseComponent {
 public:
  explicit TIdAntiFreezeBase(TComponent* owner);
  ~TIdAntiFreezeBase() override;

  bool Active = true;
  bool ApplicationHasPriority = true;
  std::int32_t IdleTimeOut = 250;
  bool OnlyWhenIdle = true;

  virtual void ProcessEvents() = 0;

  /// True when an anti-freeze is registered and active and the caller runs on
  /// the process's main thread.
  static bool AntiFreezeInUse();
  static void GiveTime(bool idle, bool override_idle);
  /// The registered anti-freeze, or null.
  static TIdAntiFreezeBase* Registered();
};
