#include "serial/messages.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <system_error>

namespace vyo::commsg {
namespace {

std::string OsText(int err) {
  if (err == 0) return "erro desconhecido";
  return std::generic_category().message(err);
}

// The program holding the port's lock, as "vyotool-cli (pid 1234)", from
// the kernel's list of file locks; empty when nobody holds one we can see.
std::string LockHolder(const std::string& path) {
  struct stat st{};
  if (stat(path.c_str(), &st) != 0) return {};
  char key[64];
  std::snprintf(key, sizeof key, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    // "1: FLOCK  ADVISORY  WRITE 1234 00:1a:7 0 EOF"; waiters carry "->".
    std::istringstream in(line);
    std::string id, kind, mode, access, pid, where;
    if (!(in >> id >> kind >> mode >> access >> pid >> where) || kind != "FLOCK" || where != key) continue;
    std::string name;
    std::ifstream comm("/proc/" + pid + "/comm");
    std::getline(comm, name);
    return (name.empty() ? "" : name + " ") + "(pid " + pid + ")";
  }
  return {};
}

// The group that may open the port, when its permissions say so; the
// serial ports of a Debian system belong to "dialout".
std::string PortGroup(const std::string& path) {
  struct stat st{};
  if (stat(path.c_str(), &st) == 0 && st.st_gid != 0 && (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP)) {
    if (const group* g = getgrgid(st.st_gid)) return g->gr_name;
  }
  return "dialout";
}

}  // namespace

EComPort NoPortChosen() {
  return EComPort(kComErrOpen, ENOENT, "Nenhuma porta foi escolhida; escolha a porta do aparelho na lista.");
}

EComPort OpenFailed(const std::string& path, int err) {
  std::string text;
  switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      text = "A porta " + path + " não existe; verifique se o aparelho está conectado "
             "e escolha a porta de novo na lista.";
      break;
    case EACCES:
    case EPERM: {
      const std::string group = PortGroup(path);
      text = "Sem permissão para abrir a porta " + path + "; adicione seu usuário ao grupo " + group +
             " (sudo usermod -aG " + group + " $USER) e entre de novo na sessão.";
      break;
    }
    case EBUSY:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EAGAIN: {
      const std::string holder = LockHolder(path);
      if (!holder.empty())
        text = "A porta " + path + " está ocupada: o programa " + holder +
               " está com ela aberta; feche-o e tente de novo.";
      else
        text = "A porta " + path + " está ocupada: outro programa está com ela aberta (por "
               "exemplo um gerenciador de modem testando portas novas); feche-o e tente de novo.";
      break;
    }
    case EIO:
      text = "A porta " + path + " não responde; o aparelho foi desconectado? Reconecte o cabo USB "
             "e escolha a porta de novo na lista.";
      break;
    case ENOTTY:
      text = path + " não é uma porta serial; escolha a porta do aparelho na lista.";
      break;
    default:
      text = "Não foi possível abrir a porta " + path + ": " + OsText(err) + ".";
      break;
  }
  return EComPort(kComErrOpen, err, text);
}

EComPort NotOpen() {
  return EComPort(kComErrNotOpen, 0, "A porta serial não está aberta; conecte-se primeiro.");
}

EComPort InvalidParam(const std::string& what) {
  return EComPort(kComErrInvalidParam, EINVAL, "Parâmetro inválido para a porta serial: " + what + ".");
}

EComPort SettingsFailed(const std::string& path, int err) {
  return EComPort(kComErrSettings, err,
                  "A porta " + path + " recusou a configuração da linha serial: " + OsText(err) + ".");
}

EComPort RateRefused(const std::string& path, unsigned wanted, unsigned got, int err) {
  std::string text = "A porta " + path + " não aceitou a velocidade de " + std::to_string(wanted) + " bps";
  if (err != 0)
    text += " (" + OsText(err) + ")";
  else
    text += " (ficou em " + std::to_string(got) + " bps)";
  text += "; o adaptador ou o driver não suporta esta velocidade.";
  return EComPort(kComErrBaudRate, err, text);
}

EComPort WriteFailed(const std::string& path, int err) {
  if (err == EIO)
    return EComPort(kComErrWrite, err,
                    "Falha ao enviar pela porta " + path + ": a conexão com o aparelho foi perdida.");
  return EComPort(kComErrWrite, err, "Falha ao enviar pela porta " + path + ": " + OsText(err) + ".");
}

EComPort WriteTimedOut(const std::string& path, int written, int count) {
  return EComPort(kComErrWriteTimeout, ETIMEDOUT,
                  "Tempo esgotado ao enviar pela porta " + path + ": só " + std::to_string(written) +
                      " de " + std::to_string(count) + " bytes foram enviados; o aparelho parou de receber.");
}

EComPort ReadFailed(const std::string& path, int err) {
  return EComPort(kComErrRead, err, "Falha ao ler da porta " + path + ": " + OsText(err) + ".");
}

EComPort PurgeFailed(const std::string& path, int err) {
  return EComPort(kComErrPurge, err, "Falha ao limpar os buffers da porta " + path + ": " + OsText(err) + ".");
}

EComPort ThreadFailed(const std::string& path, int err) {
  return EComPort(kComErrThread, err,
                  "Não foi possível acompanhar os eventos da porta " + path + ": " + OsText(err) + ".");
}

EComPort EnumFailed(const std::string& dir, int err) {
  return EComPort(kComErrEnum, err,
                  "Não foi possível listar as portas seriais (" + dir + "): " + OsText(err) + ".");
}

std::string ConnectionLost(LostCause cause, const std::string& path, int err) {
  switch (cause) {
    case LostCause::kHangUp:
    case LostCause::kEndOfData:
      return "O aparelho foi desconectado da porta " + path + ".";
    case LostCause::kError:
      return "A porta " + path + " indicou um erro; a conexão foi encerrada.";
    case LostCause::kIoError:
      return "Falha de comunicação na porta " + path + " (" + OsText(err) + "); a conexão foi encerrada.";
    case LostCause::kWaitFailed:
      return "Falha ao aguardar eventos da porta " + path + " (" + OsText(err) + "); a conexão foi encerrada.";
  }
  return "A conexão com a porta " + path + " foi encerrada.";
}

}  // namespace vyo::commsg
