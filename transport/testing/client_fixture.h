#pragma once

// The fixture of the client and connection tests: a client over the stack
// that fails chosen calls, with every notification it sends written down.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "transport/process_stack.h"
#include "transport/tcp_client.h"
#include "transport/testing/fault_injecting_stack.h"
#include "transport/testing/loopback_peer.h"

namespace testing_support {

/// A client with every status text and notification it sends in `events_`,
/// in order. The fault plan is empty at the start and cleared at the end.
class ClientFixture : public ::testing::Test {
 protected:
  ScopedStackClass stack_class_{&StackClassOf<FaultInjectingStack>};

  void SetUp() override {
    StackFaultPlan::Get().Clear();
    client_ = std::make_unique<TIdTCPClient>();
    client_->OnStatus = [this](TComponent*, TIdStatus, const std::string& text) {
      events_.push_back(text);
    };
    client_->OnDisconnected = [this](TComponent*) { events_.push_back("OnDisconnected"); };
    client_->OnConnected = [this](TComponent*) { events_.push_back("OnConnected"); };
  }
  void TearDown() override {
    client_.reset();
    StackFaultPlan::Get().Clear();
  }

  void ConnectTo(int port, int timeout_ms = 50000) {
    client_->SetHost("127.0.0.1");
    client_->SetPort(port);
    client_->OpenConnection(timeout_ms);
  }

  std::unique_ptr<TIdTCPClient> client_;
  std::vector<std::string> events_;
};

/// A peer that sends `bytes`, then closes.
inline LoopbackPeer::Serve SendAndClose(std::string bytes) {
  return [bytes](int fd) { WriteAll(fd, bytes); };
}

}  // namespace testing_support
