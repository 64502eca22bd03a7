#include "transport/transport_component.h"

#include "transport/process_stack.h"

const char* StatusText(TIdStatus status) {
  switch (status) {
    case TIdStatus::hsResolving:
      return "Resolving hostname %s.";
    case TIdStatus::hsConnecting:
      return "Connecting to %s.";
    case TIdStatus::hsConnected:
      return "Connected.";
    case TIdStatus::hsDisconnecting:
      return "Disconnecting.";
    case TIdStatus::hsDisconnected:
      return "Disconnected.";
    default:
      return "%s";
  }
}

TIdComponent::TIdComponent(TComponent* owner) : TIdBaseComponent(owner) {
  RegisterTransportComponent();
}

TIdComponent::~TIdComponent() {
  // Owned components are counted out before their owner, so the last one out
  // is really the last transport component alive.
  DestroyComponents();
  UnregisterTransportComponent();
}

void TIdComponent::StartWork(TWorkMode mode, std::int32_t maximum) {
  WorkState& work = Work(mode);
  if (++work.level == 1) {
    work.maximum = maximum;
    work.count = 0;
    if (OnWorkBegin) OnWorkBegin(this, mode, maximum);
  }
}

void TIdComponent::ReportWork(TWorkMode mode, std::int32_t count) {
  WorkState& work = Work(mode);
  if (work.level < 1) return;
  // The count wraps like the 32-bit counter it is rather than overflow.
  work.count = static_cast<std::int32_t>(static_cast<std::uint32_t>(work.count) +
                                         static_cast<std::uint32_t>(count));
  if (OnWork) OnWork(this, mode, work.count);
}

void TIdComponent::FinishWork(TWorkMode mode) {
  WorkState& work = Work(mode);
  if (work.level == 1 && OnWorkEnd) OnWorkEnd(this, mode);
  --work.level;
}

void TIdComponent::ReportStatus(TIdStatus status, const std::vector<std::string>& arguments) {
  if (!OnStatus) return;
  std::string format = StatusText(status);
  std::string argument = arguments.empty() ? std::string() : arguments.front();
  std::string text;
  std::size_t placeholder = format.find("%s");
  if (placeholder == std::string::npos) {
    text = format;
  } else {
    text = format.substr(0, placeholder) + argument + format.substr(placeholder + 2);
  }
  OnStatus(this, status, text);
}
