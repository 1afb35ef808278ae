#include "TlsFtpServers.h"

#include "SocketCompat.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#ifndef _WIN32
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;
#endif

namespace vantari::test {

namespace fs = std::filesystem;

namespace {

// pyftpdlib with pyOpenSSL; reports each data connection's TLS state to the event log.
constexpr const char *kPyServerScript = R"PY(
import json, logging, os, socket, sys
from OpenSSL import SSL
from OpenSSL._util import lib
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, TLS_FTPHandler, TLS_DTPHandler
from pyftpdlib.servers import FTPServer

cfg = json.load(open(sys.argv[1]))
logging.basicConfig(level=logging.ERROR)
logging.getLogger("pyftpdlib").setLevel(logging.ERROR)
events = open(cfg["events"], "a", buffering=1)
authorizer = DummyAuthorizer()
authorizer.add_user(cfg["user"], cfg["password"], cfg["home"], perm="elradfmwMT")

stuck = []  # connections the server stopped serving (kept so they stay open)

class DTP(TLS_DTPHandler):
    stalled = False

    def __init__(self, sock, cmd_channel):
        if not cfg["stall_data_tls"]:
            return super().__init__(sock, cmd_channel)
        # Takes the connection and then neither answers the client's handshake nor sends.
        self.stalled = True
        prot, cmd_channel._prot = cmd_channel._prot, False
        super().__init__(sock, cmd_channel)
        cmd_channel._prot = prot
        stuck.append(self)
        self.del_channel()

    def push(self, data):
        if not self.stalled:
            super().push(data)

    def push_with_producer(self, producer):
        if not self.stalled:
            super().push_with_producer(producer)

    def close_when_done(self):
        if not self.stalled:
            super().close_when_done()

    def handle_ssl_established(self):
        reused = lib.SSL_session_reused(self.socket._ssl) == 1
        events.write("data tls version=%s reused=%d\n"
                     % (self.socket.get_protocol_version_name(), int(reused)))
        if cfg["require_reuse"] and not reused:
            self.cmd_channel.respond("522 SSL connection failed: session reuse required")
            self.close()

    def handle_read_event(self):
        # With stall_data_reading, nothing is read once the handshake is done: the client's
        # writes find no room.
        if cfg["stall_data_reading"] and self._ssl_established and not self.stalled:
            self.stalled = True
            stuck.append(self)
            self.del_channel()
            return
        super().handle_read_event()

    def recv(self, size):
        data = super().recv(size)
        if not data and self.receive:
            got = bool(self.socket.get_shutdown() & SSL.RECEIVED_SHUTDOWN)
            events.write("data end close_notify=%d\n" % int(got))
        return data

intruders = []  # connections made from 127.0.0.2 to the client's PORT address

def intrude(arg):
    # Before the server's own connection: another local address tries the client's port first.
    try:
        fields = arg.split(",")
        intruder = socket.socket()
        intruder.bind(("127.0.0.2", 0))
        intruder.connect((".".join(fields[:4]), int(fields[4]) * 256 + int(fields[5])))
        intruders.append(intruder)
        events.write("intruder connected\n")
    except (OSError, ValueError, IndexError) as e:
        events.write("intruder failed %s\n" % e)

def report_intruders():
    for intruder in list(intruders):
        try:
            gone = intruder.recv(1, socket.MSG_DONTWAIT) == b""
        except BlockingIOError:
            gone = False
        except OSError:
            gone = True
        if gone:
            events.write("intruder refused\n")
            intruders.remove(intruder)
            intruder.close()

class Handler(TLS_FTPHandler if cfg["tls"] else FTPHandler):
    def pre_process_command(self, line, cmd, arg):
        events.write("cmd %s\n" % cmd)
        report_intruders()
        if cmd == "PORT" and cfg["intruder"]:
            intrude(arg)
        if cmd in cfg["refuse"]:
            self.respond("502 Command not implemented.")
            return
        if cmd in cfg["hang"]:
            # Busy elsewhere for good (as a server stuck in its own connect): reads nothing more.
            stuck.append(self)
            self.del_channel()
            return
        return super().pre_process_command(line, cmd, arg)

handler = Handler
if cfg["tls"]:
    handler.certfile = cfg["cert"]
    handler.keyfile = cfg["key"]
    handler.dtp_handler = DTP
    context = SSL.Context(SSL.TLS_METHOD)
    context.use_certificate_chain_file(cfg["cert"])
    context.use_privatekey_file(cfg["key"])
    context.set_options(SSL.OP_NO_COMPRESSION)
    context.set_min_proto_version(cfg["min"])
    if cfg["max"]:
        context.set_max_proto_version(cfg["max"])
    handler.ssl_context = context
handler.authorizer = authorizer
handler.auth_failed_timeout = 0.05
handler.permit_foreign_addresses = False
if cfg["pasv_low"]:
    handler.passive_ports = list(range(cfg["pasv_low"], cfg["pasv_high"] + 1))

server = FTPServer(("127.0.0.1", cfg["port"]), handler)
with open(cfg["portfile"] + ".tmp", "w") as f:
    f.write(str(server.socket.getsockname()[1]))
os.rename(cfg["portfile"] + ".tmp", cfg["portfile"])
server.serve_forever()
)PY";

std::string ReadAll(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteAll(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out)
    throw std::runtime_error("cannot write " + path);
}

std::string Trim(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  return text;
}

// "sha256 Fingerprint=AB:CD:..." from the openssl command.
std::string FingerprintOf(const std::string &certFile, const std::string &folder) {
  const std::string out = folder + "/fingerprint.txt";
  if (RunCommand({"openssl", "x509", "-noout", "-fingerprint", "-sha256", "-in", certFile}, out) !=
      0)
    throw std::runtime_error("openssl x509 failed: " + ReadAll(out));
  const std::string text = Trim(ReadAll(out));
  return text.substr(text.find('=') + 1);
}

int CountLines(const std::string &text, const std::string &needle) {
  int count = 0;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    count += line.find(needle) != std::string::npos ? 1 : 0;
  return count;
}

} // namespace

#ifndef _WIN32
int RunCommand(const std::vector<std::string> &argv, const std::string &logFile) {
  std::vector<char *> args;
  for (const std::string &arg : argv)
    args.push_back(const_cast<char *>(arg.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logFile.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0)
    return 127;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

#endif

// RSA: Wine's SChannel turns down now and then an ECDSA signature that is shorter than usual, so
// a fresh ECDSA key would fail a test by chance.
const char *const kKeyType = "rsa:2048";

TTestCertificate TTestCertificate::SelfSigned(const std::string &folder, const std::string &name) {
  TTestCertificate result{folder + "/" + name + ".crt", folder + "/" + name + ".key", {}};
  const std::string log = folder + "/" + name + "-openssl.log";
  if (RunCommand({"openssl", "req", "-x509", "-newkey", kKeyType, "-nodes", "-keyout",
                  result.KeyFile, "-out", result.CertFile, "-days", "30", "-subj", "/CN=127.0.0.1",
                  "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost"},
                 log) != 0)
    throw std::runtime_error("openssl req failed: " + ReadAll(log));
  result.Fingerprint = FingerprintOf(result.CertFile, folder);
  return result;
}

TTestCertificate TTestCertificate::SignedByTestRoot(const std::string &folder,
                                                    std::string &CAFile) {
  CAFile = folder + "/root.crt";
  const std::string rootKey = folder + "/root.key";
  TTestCertificate result{folder + "/leaf.crt", folder + "/leaf.key", {}};
  const std::string request = folder + "/leaf.csr";
  const std::string extensions = folder + "/leaf.ext";
  const std::string log = folder + "/ca.log";
  WriteAll(extensions, "subjectAltName=IP:127.0.0.1,DNS:localhost\n"
                       "basicConstraints=CA:FALSE\n");
  const bool made =
      RunCommand({"openssl", "req", "-x509", "-newkey", kKeyType, "-nodes", "-keyout", rootKey,
                  "-out", CAFile, "-days", "30", "-subj", "/CN=Vantari Test Root", "-addext",
                  "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign"},
                 log) == 0 &&
      RunCommand({"openssl", "req", "-new", "-newkey", kKeyType, "-nodes", "-keyout",
                  result.KeyFile, "-out", request, "-subj", "/CN=localhost"},
                 log) == 0 &&
      RunCommand({"openssl", "x509", "-req", "-in", request, "-CA", CAFile, "-CAkey", rootKey,
                  "-CAcreateserial", "-days", "30", "-extfile", extensions, "-out",
                  result.CertFile},
                 log) == 0;
  if (!made)
    throw std::runtime_error("openssl failed: " + ReadAll(log));
  result.Fingerprint = FingerprintOf(result.CertFile, folder);
  return result;
}

TTempFolder::TTempFolder() : FPath(MakeTempFolder("/tmp/vantari-tls-")) {}

TTempFolder::~TTempFolder() {
  std::error_code ignored;
  fs::remove_all(FPath, ignored);
}

#ifndef _WIN32
std::string MakeTempFolder(const std::string &prefix) {
  std::string pattern = prefix + "XXXXXX";
  if (!::mkdtemp(pattern.data()))
    throw std::runtime_error("mkdtemp: " + std::string(std::strerror(errno)));
  return pattern;
}

void TServerProcess::Start(const std::vector<std::string> &argv, const std::string &logFile) {
  Stop();
  int lifeline[2];
  if (::pipe2(lifeline, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe: " + std::string(std::strerror(errno)));
  // The guard reads the lifeline; when the test process ends it kills its own group.
  std::vector<std::string> guarded{"/bin/sh", "-c",
                                   "exec 3<&0; \"$@\" </dev/null & cat <&3 >/dev/null; "
                                   "kill -KILL 0",
                                   "guard"};
  guarded.insert(guarded.end(), argv.begin(), argv.end());
  std::vector<char *> args;
  for (const std::string &arg : guarded)
    args.push_back(const_cast<char *>(arg.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, lifeline[0], STDIN_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logFile.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  const int rc = ::posix_spawn(&FPid, args[0], &actions, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(lifeline[0]);
  if (rc != 0) {
    ::close(lifeline[1]);
    FPid = -1;
    throw std::runtime_error("cannot start " + argv.front() + ": " + std::strerror(rc));
  }
  FLifeline = lifeline[1];
}

void TServerProcess::Stop() {
  if (FLifeline >= 0)
    ::close(FLifeline);
  FLifeline = -1;
  if (FPid <= 0)
    return;
  ::kill(-FPid, SIGKILL);
  int status = 0;
  while (::waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
  }
  FPid = -1;
}

#endif

int FreeLoopbackPort() {
  const int fd = sockets::Socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  sockets::Close(fd);
  if (port == 0)
    throw std::runtime_error("no free port on 127.0.0.1");
  return port;
}

bool WaitForListener(int port, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    const int fd = sockets::Socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool up = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    sockets::Close(fd);
    if (up)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

TPyTlsFtpServer::TPyTlsFtpServer(TTlsFtpServerOptions options) : FOptions(std::move(options)) {
  const std::string root = FRoot.Path();
  FHome = root + "/home";
  fs::create_directory(FHome);
  if (FOptions.CertFile.empty()) {
    FCertificate = TTestCertificate::SelfSigned(root, "server");
  } else {
    FCertificate = {FOptions.CertFile, FOptions.KeyFile, FingerprintOf(FOptions.CertFile, root)};
  }
  std::ostringstream config;
  auto quoted = [](const std::string &text) { return "\"" + text + "\""; };
  auto verbs = [&quoted](const std::vector<std::string> &list) {
    std::string json = "[";
    for (const std::string &verb : list)
      json += (json.size() > 1 ? ", " : "") + quoted(verb);
    return json + "]";
  };
  config << "{\"user\": " << quoted(FOptions.User)
         << ", \"password\": " << quoted(FOptions.Password) << ", \"home\": " << quoted(FHome)
         << ", \"cert\": " << quoted(FCertificate.CertFile)
         << ", \"key\": " << quoted(FCertificate.KeyFile)
         << ", \"events\": " << quoted(root + "/events.log")
         << ", \"portfile\": " << quoted(root + "/port")
         << ", \"tls\": " << (FOptions.OfferTls ? "true" : "false")
         << ", \"require_reuse\": " << (FOptions.RequireReuse ? "true" : "false")
         << ", \"min\": " << FOptions.MinVersion << ", \"max\": " << FOptions.MaxVersion
         << ", \"port\": " << FOptions.Port << ", \"refuse\": " << verbs(FOptions.RefuseCommands)
         << ", \"hang\": " << verbs(FOptions.HangOnCommands)
         << ", \"stall_data_tls\": " << (FOptions.StallDataTls ? "true" : "false")
         << ", \"stall_data_reading\": " << (FOptions.StallDataReading ? "true" : "false")
         << ", \"intruder\": " << (FOptions.Intruder ? "true" : "false")
         << ", \"pasv_low\": " << FOptions.PassivePortLow
         << ", \"pasv_high\": " << FOptions.PassivePortHigh << "}";
  WriteAll(root + "/config.json", config.str());
  WriteAll(root + "/server.py", kPyServerScript);
  WriteAll(root + "/events.log", "");
  FProcess.Start({"/usr/bin/python3", root + "/server.py", root + "/config.json"},
                 root + "/server.log");
  for (int i = 0; i < 750 && FPort == 0; ++i) {
    const std::string port = ReadAll(root + "/port");
    if (!port.empty())
      FPort = std::atoi(port.c_str());
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (FPort <= 0)
    throw std::runtime_error("TLS FTP server did not start: " + ServerLog());
}

std::vector<std::string> TPyTlsFtpServer::Events() const {
  std::vector<std::string> lines;
  std::istringstream in(ReadAll(FRoot.Path() + "/events.log"));
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

std::vector<std::string> TPyTlsFtpServer::Commands() const {
  std::vector<std::string> verbs;
  for (const std::string &event : Events()) {
    if (event.starts_with("cmd "))
      verbs.push_back(event.substr(4));
  }
  return verbs;
}

int TPyTlsFtpServer::ResumedDataConnections() const {
  int count = 0;
  for (const std::string &event : Events())
    count += event.starts_with("data tls ") && event.ends_with(" reused=1");
  return count;
}

int TPyTlsFtpServer::UploadsEndedByCloseNotify() const {
  int count = 0;
  for (const std::string &event : Events())
    count += event == "data end close_notify=1";
  return count;
}

std::string TPyTlsFtpServer::ServerLog() const {
  return ReadAll(FRoot.Path() + "/server.log");
}

#ifndef _WIN32
std::string TVsftpdServer::SkipReason() {
  if (::geteuid() != 0)
    return "vsftpd runs only as root (it changes to the ftp user and chroots)";
  return {}; // as root it must run: the build packages bring it and its user ftp
}

#endif

TVsftpdServer::TVsftpdServer(const std::string &certFile, const std::string &keyFile, bool tls) {
  const std::string root = FRoot.Path();
  // vsftpd refuses a login folder its user may write to: the files live one folder down.
  const std::string anon = root + "/anon";
  const std::string empty = root + "/empty";
  FPub = anon + "/pub";
  fs::create_directories(FPub);
  fs::create_directory(empty);
  fs::permissions(root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
  if (RunCommand({"chown", "ftp", FPub}) != 0)
    throw std::runtime_error("chown ftp failed (no ftp user?)");
  if (tls && certFile.empty()) {
    FCertificate = TTestCertificate::SelfSigned(root, "server");
  } else if (tls) {
    FCertificate = {certFile, keyFile, FingerprintOf(certFile, root)};
  }
  for (int attempt = 0; attempt < 3 && FPort == 0; ++attempt) {
    const int port = FreeLoopbackPort();
    // Passive data connections from a range of their own (vsftpd tries others in it when one
    // is taken).
    const int pasvLow = std::min(FreeLoopbackPort(), 65535 - 99);
    std::ostringstream config;
    config << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" << port
           << "\nbackground=NO\nanonymous_enable=YES\nlocal_enable=NO\nno_anon_password=NO\n"
           << "anon_root=" << anon << "\nwrite_enable=YES\nanon_upload_enable=YES\n"
           << "anon_mkdir_write_enable=YES\nanon_other_write_enable=YES\nanon_umask=022\n"
           << "secure_chroot_dir=" << empty << "\nseccomp_sandbox=NO\n";
    if (tls)
      config << "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\n"
             << "force_anon_data_ssl=YES\nrequire_ssl_reuse=YES\nstrict_ssl_read_eof=YES\n"
             // The built-in cipher list is one that OpenSSL 3 no longer offers for TLS 1.2.
             << "ssl_ciphers=HIGH\n"
             << "rsa_cert_file=" << FCertificate.CertFile
             << "\nrsa_private_key_file=" << FCertificate.KeyFile << "\ndebug_ssl=YES\n";
    config << "vsftpd_log_file=" << root << "/vsftpd.log\nxferlog_enable=YES\n"
           << "log_ftp_protocol=YES\ndual_log_enable=NO\nsyslog_enable=NO\n"
           << "pasv_enable=YES\npasv_address=127.0.0.1\npasv_min_port=" << pasvLow
           << "\npasv_max_port=" << pasvLow + 99 << "\nport_enable=YES\n"
           << "connect_from_port_20=NO\nidle_session_timeout=120\ndata_connection_timeout=60\n";
    WriteAll(root + "/vsftpd.conf", config.str());
    FProcess.Start({"/usr/sbin/vsftpd", root + "/vsftpd.conf"}, root + "/stdout.log");
    if (WaitForListener(port, 5000))
      FPort = port;
    else
      FProcess.Stop();
  }
  if (FPort == 0)
    throw std::runtime_error("vsftpd did not start: " + ReadAll(root + "/stdout.log"));
}

std::string TVsftpdServer::Log() const {
  return ReadAll(FRoot.Path() + "/vsftpd.log");
}

// Every TLS handshake is logged with whether it resumed a session; only data connections
// can, so with require_ssl_reuse each successful one counts here.
int TVsftpdServer::ResumedDataConnections() const {
  return CountLines(Log(), ", reused,");
}

int TVsftpdServer::FreshTlsConnections() const {
  return CountLines(Log(), ", not reused,");
}

} // namespace vantari::test
