#include "WorkflowConfig.h"

#include "TlsTrust.h"

namespace vantari {

TWorkflowConfig TWorkflowConfig::BuiltIn() {
  TWorkflowConfig config;
  config.FtpHost = VANTARI_FTP_HOST;
  config.FtpPort = VANTARI_FTP_PORT;
  config.PingTarget = VANTARI_PING_TARGET;
  config.TlsPolicy = TlsPolicyOf(VANTARI_TLS_POLICY);
  return config;
}

} // namespace vantari
