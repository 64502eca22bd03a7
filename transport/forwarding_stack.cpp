#include "transport/forwarding_stack.h"

#include <utility>

#include "transport/process_stack.h"

ForwardingStack::ForwardingStack() : target_(DefaultSocketStackClass()()) {}

ForwardingStack::ForwardingStack(std::unique_ptr<TIdStack> target) : target_(std::move(target)) {}

void ForwardingStack::FillLocalAddressList() { target_->FillLocalAddressList(); }

std::string ForwardingStack::FirstLocalAddress() { return target_->FirstLocalAddress(); }

const std::vector<std::string>& ForwardingStack::LocalAddressList() {
  return target_->LocalAddressList();
}

ws::Socket ForwardingStack::SockAccept(ws::Socket s, std::string* peer_ip, int* peer_port) {
  return target_->SockAccept(s, peer_ip, peer_port);
}

int ForwardingStack::SockBind(ws::Socket s, int family, const std::string& ip, int port) {
  return target_->SockBind(s, family, ip, port);
}

int ForwardingStack::SockClose(ws::Socket s) { return target_->SockClose(s); }

int ForwardingStack::SockConnect(ws::Socket s, int family, const std::string& ip, int port) {
  return target_->SockConnect(s, family, ip, port);
}

std::string ForwardingStack::SockLookupHost(const std::string& host) {
  return target_->SockLookupHost(host);
}

std::string ForwardingStack::SockHostName() { return target_->SockHostName(); }

std::string ForwardingStack::SockLookupAddress(const std::string& ip) {
  return target_->SockLookupAddress(ip);
}

int ForwardingStack::SockServicePort(const std::string& service) {
  return target_->SockServicePort(service);
}

std::vector<std::string> ForwardingStack::SockPortServices(int port) {
  return target_->SockPortServices(port);
}

std::uint16_t ForwardingStack::SockHostToNet16(std::uint16_t value) {
  return target_->SockHostToNet16(value);
}

int ForwardingStack::SockListen(ws::Socket s, int backlog) {
  return target_->SockListen(s, backlog);
}

std::uint16_t ForwardingStack::SockNetToHost16(std::uint16_t value) {
  return target_->SockNetToHost16(value);
}

std::uint32_t ForwardingStack::SockHostToNet32(std::uint32_t value) {
  return target_->SockHostToNet32(value);
}

std::uint32_t ForwardingStack::SockNetToHost32(std::uint32_t value) {
  return target_->SockNetToHost32(value);
}

int ForwardingStack::SockReceive(ws::Socket s, void* buffer, int length, int flags) {
  return target_->SockReceive(s, buffer, length, flags);
}

int ForwardingStack::SockReceiveFrom(ws::Socket s, void* buffer, int length, int flags,
                                     std::string* sender_ip, int* sender_port) {
  return target_->SockReceiveFrom(s, buffer, length, flags, sender_ip, sender_port);
}

int ForwardingStack::SockSelect(TIdSocketList* read, TIdSocketList* write, TIdSocketList* error,
                                int timeout_ms) {
  return target_->SockSelect(read, write, error, timeout_ms);
}

int ForwardingStack::SockSend(ws::Socket s, const void* buffer, int length, int flags) {
  return target_->SockSend(s, buffer, length, flags);
}

int ForwardingStack::SockSendTo(ws::Socket s, const void* buffer, int length, int flags,
                                const std::string& ip, int port) {
  return target_->SockSendTo(s, buffer, length, flags, ip, port);
}

int ForwardingStack::SockSetOption(ws::Socket s, int level, int option, const void* value,
                                   int length) {
  return target_->SockSetOption(s, level, option, value, length);
}

ws::Socket ForwardingStack::SockCreate(int family, int type, int protocol) {
  return target_->SockCreate(family, type, protocol);
}

int ForwardingStack::SockShutdown(ws::Socket s, int how) { return target_->SockShutdown(s, how); }

std::string ForwardingStack::SocketErrorText(int code) { return target_->SocketErrorText(code); }

int ForwardingStack::SockLastError() { return target_->SockLastError(); }

void ForwardingStack::SockPeerName(ws::Socket s, int* family, int* port, std::string* ip) {
  target_->SockPeerName(s, family, port, ip);
}

void ForwardingStack::SockLocalName(ws::Socket s, int* family, int* port, std::string* ip) {
  target_->SockLocalName(s, family, port, ip);
}

int ForwardingStack::SockGetOption(ws::Socket s, int level, int option, void* value, int* length) {
  return target_->SockGetOption(s, level, option, value, length);
}

std::string ForwardingStack::FormatAddressText(const TIdIPv4Bytes& bytes) {
  return target_->FormatAddressText(bytes);
}

TIdIPv4Bytes ForwardingStack::ParseAddressText(const std::string& text) {
  return target_->ParseAddressText(text);
}
