#include "monitor/monitor_state.h"

#include "transport/tcp_client.h"

MonitorState::MonitorState(std::size_t received_text_limit) : ReceivedText(received_text_limit) {}

MonitorState::~MonitorState() = default;
