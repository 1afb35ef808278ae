#include "WorkflowConfig.h"

namespace vantari {

TWorkflowConfig TWorkflowConfig::BuiltIn() {
  TWorkflowConfig config;
  config.FtpHost = VANTARI_FTP_HOST;
  config.FtpPort = VANTARI_FTP_PORT;
  config.PingTarget = VANTARI_PING_TARGET;
  return config;
}

} // namespace vantari
