#pragma once

// The transport component base: status notifications with fixed texts, work
// brackets with work notifications, and the tie between component lifetimes
// and the process-wide socket stack.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "runtime/component.h"

enum class TIdStatus {
  hsResolving,
  hsConnecting,
  hsConnected,
  hsDisconnecting,
  hsDisconnected,
  hsStatusText,
  ftpTransfer,
  ftpReady,
  ftpAborted,
};

enum class TWorkMode { wmRead, wmWrite };

class TIdComponent;

using TNotifyEvent = std::function<void(TComponent* sender)>;
using TIdStatusEvent =
    std::function<void(TComponent* sender, TIdStatus status, const std::string& text)>;
using TWorkBeginEvent =
    std::function<void(TComponent* sender, TWorkMode mode, std::int32_t work_count_max)>;
using TWorkEvent = std::function<void(TComponent* sender, TWorkMode mode, std::int32_t count)>;
using TWorkEndEvent = std::function<void(TComponent* sender, TWorkMode mode)>;

/// The format text of a status; "%s" stands for the first argument.
const char* StatusText(TIdStatus status);

/// Root of all transport components.
class TIdBaseComponent : public TComponent {
 public:
  using TComponent::TComponent;
};

/// A transport component. Constructing one counts it in and, for the first
/// one, creates the socket stack (which may raise: the component then does
/// not exist); destroying one destroys what it owns first and then counts it
/// out, freeing the stack with the last one.
class TIdComponent : public TIdBaseComponent {
 public:
  explicit TIdComponent(TComponent* owner);
  ~TIdComponent() override;

  TIdStatusEvent OnStatus;
  TWorkEvent OnWork;
  TWorkBeginEvent OnWorkBegin;
  TWorkEndEvent OnWorkEnd;

  virtual void StartWork(TWorkMode mode, std::int32_t maximum);
  virtual void ReportWork(TWorkMode mode, std::int32_t count);
  virtual void FinishWork(TWorkMode mode);

  /// Delivers the status text to OnStatus; formats nothing when no handler
  /// is assigned. An empty argument list formats like one empty argument.
  void ReportStatus(TIdStatus status, const std::vector<std::string>& arguments = {});

 private:
  struct WorkState {
    std::int32_t count = 0;
    std::int32_t maximum = 0;
    std::int32_t level = 0;
  };
  WorkState& Work(TWorkMode mode) { return work_[static_cast<int>(mode)]; }

  WorkState work_[2];
};
