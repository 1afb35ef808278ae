#include "HostUI.h"

namespace vantari {

namespace {
TSilentHostUI silentHost;
THostUI *currentHost = &silentHost;
} // namespace

THostUI &HostUI() {
  return *currentHost;
}

void SetHostUI(THostUI *host) {
  currentHost = host ? host : &silentHost;
}

} // namespace vantari
