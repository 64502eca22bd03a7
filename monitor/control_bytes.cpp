#include "monitor/control_bytes.h"

namespace {

constexpr unsigned char kBel = 0x07, kBs = 0x08, kTab = 0x09, kLf = 0x0A, kCr = 0x0D;
constexpr unsigned char kDel = 0x7F;

bool IsControl(unsigned char byte) { return byte < 0x20 || byte == kDel; }

}  // namespace

bool TerminalActsOn(unsigned char byte) {
  return IsControl(byte) && byte != kBel && byte != kBs && byte != kTab && byte != kLf &&
         byte != kCr;
}

bool JournalTakesAsBinary(unsigned char byte) {
  return IsControl(byte) && byte != kTab && byte != kLf;
}

void CaretNotation(unsigned char byte, char out[kCaretNotationSize]) {
  out[0] = '^';
  out[1] = static_cast<char>(byte ^ 0x40);
}
